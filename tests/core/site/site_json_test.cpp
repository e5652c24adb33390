#include "site/site_json.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

TEST(SiteJsonNames, aMergeDocumentRemovesWithNullAndKeepsWhatItDoesNotName) {
    Site site;
    ASSERT_TRUE(site.updateNames({{{5, "Lectern PC"}, {6, "Laptop"}}, {{3, "Projector"}}}).ok());
    const NamesFromJson read =
        namesUpdateFromJson(SiteJson::parse(R"({"inputs": {"5": null, "7": "Camera"}, "outputs": {}})"));
    ASSERT_FALSE(read.problem) << read.problem->message;
    ASSERT_TRUE(site.updateNames(read.update).ok());
    EXPECT_EQ(namesToJson(site).dump(), R"({"inputs":{"6":"Laptop","7":"Camera"},"outputs":{"3":"Projector"}})");
}

TEST(SiteJsonNames, aMalformedMergeNamesWhereItIsWrong) {
    const struct {
        const char* text;
        const char* pointer;
        const char* what;
    } cases[] = {
        {R"(["5"])", "", "expected an object"},
        {R"({"inputs": {"5": 5}})", "/inputs/5", "expected a name or null"},
        {R"({"inputs": {"x": "A"}})", "/inputs/x", "not an input number"},
        {R"({"outputs": []})", "/outputs", "expected an object"},
        {R"({"names": {}})", "/names", "unknown field"},
    };
    for (const auto& c : cases) {
        const NamesFromJson read = namesUpdateFromJson(SiteJson::parse(c.text));
        ASSERT_TRUE(read.problem) << c.text;
        EXPECT_EQ(read.problem->pointer, c.pointer) << c.text;
        EXPECT_NE(read.problem->message.find(c.what), std::string::npos) << read.problem->message;
    }
}

TEST(SiteJsonPresets, routesReadFromARequestBodyAndWriteBackTheSame) {
    const SiteJson routes =
        SiteJson::parse(R"([{"output": 4, "input": 2}, {"output": 3, "input": 5, "audio": "mute"}])");
    const RoutesFromJson read = presetRoutesFromJson(routes, "/routes");
    ASSERT_FALSE(read.problem) << read.problem->message;
    Site site;
    ASSERT_TRUE(site.savePreset(Preset{"Lecture", read.routes}).ok());
    EXPECT_EQ(presetsToJson(site).dump(), R"([{"name":"Lecture","routes":[{"output":3,"input":5,"audio":"mute"},)"
                                          R"({"output":4,"input":2}]}])");

    const RoutesFromJson bad = presetRoutesFromJson(SiteJson::parse(R"([{"output": 4, "input": "PC"}])"), "/routes");
    ASSERT_TRUE(bad.problem);
    EXPECT_EQ(bad.problem->pointer, "/routes/0/input");
}

TEST(SiteJsonRecall, theReportCarriesEachOutputsResultAndReason) {
    const RecallPlan plan{"Room",
                          {{1, 2, std::nullopt, RecallAction::Send, true, false},
                           {2, 2, std::nullopt, RecallAction::Skipped, false, false},
                           {3, 4, std::nullopt, RecallAction::Send, true, false}}};
    RecallReport report = RecallReport::start(plan);
    report.confirm(1);
    EXPECT_EQ(recallReportToJson(report).dump(),
              R"({"preset":"Room","outputs":[{"output":1,"input":2,"result":"applied","sent":true},)"
              R"({"output":2,"input":2,"result":"skipped","sent":false,"reason":"locked"},)"
              R"({"output":3,"input":4,"result":"failed","sent":true,"reason":"no confirmation"}]})");
}

TEST(SiteJsonAudio, theAudioWordsReadBack) {
    for (const AudioState state : {AudioState::On, AudioState::Mute}) {
        EXPECT_EQ(audioStateFromName(audioStateName(state)), state);
    }
    EXPECT_EQ(audioStateFromName("ON"), std::nullopt);
    EXPECT_EQ(audioStateFromName("off"), std::nullopt);
}

} // namespace
} // namespace mc
