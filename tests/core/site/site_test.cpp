#include "site/site.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

Site::NamesUpdate inputNames(std::map<int, std::optional<std::string>> inputs) {
    return Site::NamesUpdate{std::move(inputs), {}};
}

Site roomWithNames() {
    Site site;
    const SiteUpdate update = site.updateNames({{{1, "Document camera"}, {5, "Lectern PC"}}, {{3, "Projector"}}});
    EXPECT_TRUE(update.ok());
    return site;
}

TEST(SiteNames, aMergeSetsAndRemovesOnlyWhatItNames) {
    Site site = roomWithNames();
    const SiteUpdate update = site.updateNames({{{1, std::nullopt}, {7, "Laptop"}}, {}});
    ASSERT_TRUE(update.ok());
    EXPECT_TRUE(update.changed);
    EXPECT_EQ(site.inputName(1), std::nullopt);
    EXPECT_EQ(site.inputName(5), "Lectern PC");
    EXPECT_EQ(site.inputName(7), "Laptop");
    EXPECT_EQ(site.outputName(3), "Projector");

    EXPECT_FALSE(site.updateNames(inputNames({{7, "Laptop"}, {2, std::nullopt}})).changed);
}

TEST(SiteNames, aRefusedMergeChangesNothing) {
    Site site = roomWithNames();
    const Site before = site;
    // The first entry is fine, the second is not: neither is applied.
    const SiteUpdate update = site.updateNames(inputNames({{2, "Camera"}, {17, "Far"}}));
    ASSERT_FALSE(update.ok());
    EXPECT_EQ(update.error->code, SiteErrorCode::BadPort);
    EXPECT_EQ(site, before);
}

TEST(SiteNames, badNamesAreRefusedWithTheReason) {
    Site site;
    const struct {
        std::string name;
        std::string reason;
    } cases[] = {
        {"", "empty"},
        {std::string(41, 'x'), "longer than 40"},
        {"Bad\nName", "control character"},
        {"Tab\tName", "control character"},
        {"C1\xC2\x85name", "control character"},
        {" Padded", "blank"},
        {"Padded ", "blank"},
        {"\xFF\xFE", "not valid UTF-8"},
        {"\xC0\xAF", "not valid UTF-8"},     // an overlong '/'
        {"\xED\xA0\x80", "not valid UTF-8"}, // a lone surrogate
        {"12", "digits only"},
        {"007", "digits only"},
    };
    for (const auto& c : cases) {
        const SiteUpdate update = site.updateNames(inputNames({{4, c.name}}));
        ASSERT_FALSE(update.ok()) << c.name;
        EXPECT_EQ(update.error->code, SiteErrorCode::BadName) << c.name;
        EXPECT_NE(update.error->message.find(c.reason), std::string::npos) << update.error->message;
        EXPECT_NE(update.error->message.find("input 4"), std::string::npos) << update.error->message;
    }
    EXPECT_TRUE(site.inputNames().empty());
}

TEST(SiteNames, fortyCharactersOfAnyScriptFit) {
    Site site;
    std::string umlauts;
    for (int i = 0; i < 40; ++i) {
        umlauts += "\xC3\xBC"; // two bytes, one character
    }
    EXPECT_TRUE(site.updateNames(inputNames({{1, umlauts}, {2, "Room 2"}})).ok());
    EXPECT_FALSE(site.updateNames(inputNames({{3, umlauts + "\xC3\xBC"}})).ok());
}

TEST(SiteNames, twoInputsCannotShareANameInAnyCase) {
    Site site = roomWithNames();
    const SiteUpdate update = site.updateNames(inputNames({{9, "LECTERN pc"}}));
    ASSERT_FALSE(update.ok());
    EXPECT_EQ(update.error->code, SiteErrorCode::DuplicateName);
    // An input and an output may share one: they are resolved separately.
    EXPECT_TRUE(site.updateNames({{}, {{9, "Lectern PC"}}}).ok());
    // Swapping two names in one merge is fine: only the result must be unique.
    EXPECT_TRUE(site.updateNames(inputNames({{1, "Lectern PC"}, {5, "Document camera"}})).ok());
    EXPECT_EQ(site.inputName(1), "Lectern PC");
}

TEST(SiteResolve, aNumberOrANameInAnyCaseGivesTheInput) {
    const Site site = roomWithNames();
    EXPECT_EQ(site.resolveInput("5").port, 5);
    EXPECT_EQ(site.resolveInput("16").port, 16);
    EXPECT_EQ(site.resolveInput("05").port, 5);
    EXPECT_EQ(site.resolveInput("Lectern PC").port, 5);
    EXPECT_EQ(site.resolveInput("lectern pc").port, 5);
    EXPECT_EQ(site.resolveInput("  document CAMERA ").port, 1);
    EXPECT_EQ(site.resolveOutput("projector").port, 3);
}

TEST(SiteResolve, unknownNamesAndNumbersOutOfRangeAreErrors) {
    const Site site = roomWithNames();
    for (const char* text : {"0", "17", "99999999999999999999"}) {
        const auto resolved = site.resolveInput(text);
        ASSERT_FALSE(resolved.ok()) << text;
        EXPECT_EQ(resolved.error->code, SiteErrorCode::BadPort) << text;
    }
    for (const char* text : {"", "Lectern", "Lectern PC2", "-5", "Projector"}) {
        const auto resolved = site.resolveInput(text);
        ASSERT_FALSE(resolved.ok()) << text;
        EXPECT_EQ(resolved.error->code, SiteErrorCode::UnknownName) << text;
    }
}

TEST(SiteResolve, caseFoldingIsAsciiOnly) {
    Site site;
    ASSERT_TRUE(site.updateNames(inputNames({{2, "\xC3\x9C"
                                                 "bertragung"}}))
                    .ok()); // "Übertragung"
    EXPECT_EQ(site.resolveInput("\xC3\x9C"
                                "BERTRAGUNG")
                  .port,
              2);
    EXPECT_FALSE(site.resolveInput("\xC3\xBC"
                                   "bertragung")
                     .ok()); // "ü" is another letter here
}

Preset lecture() {
    return Preset{"Lecture", {{4, 2, std::nullopt}, {3, 5, AudioState::On}}};
}

TEST(SitePresets, savingSortsTheRoutesAndReplacesOneOfTheSameName) {
    Site site;
    ASSERT_TRUE(site.savePreset(lecture()).ok());
    ASSERT_TRUE(site.savePreset(Preset{"Break", {{1, 1, AudioState::Mute}}}).ok());
    ASSERT_EQ(site.presets().size(), 2U);
    EXPECT_EQ(site.presets()[0].routes[0].output, 3);
    EXPECT_EQ(site.presets()[0].routes[1].output, 4);

    const SiteUpdate replaced = site.savePreset(Preset{"LECTURE", {{6, 6, std::nullopt}}});
    ASSERT_TRUE(replaced.ok());
    EXPECT_TRUE(replaced.changed);
    ASSERT_EQ(site.presets().size(), 2U);
    EXPECT_EQ(site.presets()[0].name, "LECTURE"); // kept its place
    EXPECT_EQ(site.findPreset("lecture")->routes.size(), 1U);
    EXPECT_FALSE(site.savePreset(Preset{"LECTURE", {{6, 6, std::nullopt}}}).changed);
}

TEST(SitePresets, badPresetsAreRefused) {
    Site site;
    const struct {
        Preset preset;
        SiteErrorCode code;
    } cases[] = {
        {{"", {{1, 1, std::nullopt}}}, SiteErrorCode::BadName},
        {{"Empty", {}}, SiteErrorCode::BadPreset},
        {{"Twice", {{2, 1, std::nullopt}, {2, 3, std::nullopt}}}, SiteErrorCode::BadPreset},
        {{"Output 17", {{17, 1, std::nullopt}}}, SiteErrorCode::BadPort},
        {{"Input 0", {{1, 0, std::nullopt}}}, SiteErrorCode::BadPort},
    };
    for (const auto& c : cases) {
        const SiteUpdate update = site.savePreset(c.preset);
        ASSERT_FALSE(update.ok()) << c.preset.name;
        EXPECT_EQ(update.error->code, c.code) << c.preset.name << ": " << update.error->message;
    }
    EXPECT_TRUE(site.presets().empty());
}

TEST(SitePresets, theNumberOfPresetsIsBounded) {
    Site site;
    for (std::size_t i = 0; i < kMaxPresets; ++i) {
        ASSERT_TRUE(site.savePreset(Preset{"P" + std::to_string(i), {{1, 1, std::nullopt}}}).ok());
    }
    const SiteUpdate update = site.savePreset(Preset{"One more", {{1, 1, std::nullopt}}});
    ASSERT_FALSE(update.ok());
    EXPECT_EQ(update.error->code, SiteErrorCode::TooManyPresets);
    // Replacing one is still possible.
    EXPECT_TRUE(site.savePreset(Preset{"P0", {{2, 2, std::nullopt}}}).ok());
}

TEST(SitePresets, fromCurrentTakesEveryKnownRouteAndItsAudio) {
    Site site;
    SwitcherRoutes current;
    EXPECT_EQ(site.savePresetFromCurrent("Now", current).error->code, SiteErrorCode::BadPreset);

    current.at(1) = {3, AudioState::On};
    current.at(2) = {4, std::nullopt};
    current.at(16) = {16, AudioState::Mute};
    current.at(5) = {std::nullopt, AudioState::On}; // no route known: left out
    ASSERT_TRUE(site.savePresetFromCurrent("Now", current).ok());
    const std::vector<PresetRoute> expected{{1, 3, AudioState::On}, {2, 4, std::nullopt}, {16, 16, AudioState::Mute}};
    EXPECT_EQ(site.findPreset("Now")->routes, expected);

    ASSERT_TRUE(site.savePresetFromCurrent("Routes only", current, false).ok());
    for (const PresetRoute& route : site.findPreset("routes only")->routes) {
        EXPECT_EQ(route.audio, std::nullopt);
    }
}

TEST(SitePresets, deleteRemovesByNameInAnyCase) {
    Site site;
    ASSERT_TRUE(site.savePreset(lecture()).ok());
    EXPECT_EQ(site.deletePreset("Nothing").error->code, SiteErrorCode::NoSuchPreset);
    EXPECT_TRUE(site.deletePreset("lecture").changed);
    EXPECT_TRUE(site.presets().empty());
}

TEST(SiteLocks, lockAndUnlockSayWhetherTheyChangedAnything) {
    Site site;
    EXPECT_TRUE(site.setLocked(3, true).changed);
    EXPECT_FALSE(site.setLocked(3, true).changed);
    EXPECT_TRUE(site.isLocked(3));
    EXPECT_FALSE(site.isLocked(4));
    EXPECT_EQ(site.setLocked(0, true).error->code, SiteErrorCode::BadPort);
    EXPECT_TRUE(site.setLocked(3, false).changed);
    EXPECT_FALSE(site.setLocked(3, false).changed);
    EXPECT_TRUE(site.lockedOutputs().empty());
}

TEST(SiteRecall, thePlanSendsWhatDiffersAndSkipsLockedOutputs) {
    Site site;
    ASSERT_TRUE(site.savePreset(Preset{"Room",
                                       {{1, 1, std::nullopt},
                                        {2, 2, AudioState::On},
                                        {3, 3, AudioState::Mute},
                                        {4, 4, std::nullopt},
                                        {5, 5, std::nullopt},
                                        {6, 6, AudioState::On}}})
                    .ok());
    ASSERT_TRUE(site.setLocked(4, true).ok());
    SwitcherRoutes current;
    current.at(1) = {1, AudioState::Mute}; // same route, audio not in the preset
    current.at(2) = {2, AudioState::Mute}; // same route, audio differs
    current.at(3) = {7, AudioState::Mute}; // route differs
    current.at(4) = {9, AudioState::On};   // differs, but locked
    current.at(5) = {};                    // never reported: sent to be sure
    current.at(6) = {6, AudioState::On};   // exactly so

    const auto result = site.planRecall("room", current);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.plan.preset, "Room");
    const auto& steps = result.plan.steps;
    ASSERT_EQ(steps.size(), 6U);
    EXPECT_EQ(steps[0].action, RecallAction::Already);
    EXPECT_EQ(steps[1].action, RecallAction::Send);
    EXPECT_FALSE(steps[1].sendRoute);
    EXPECT_TRUE(steps[1].sendAudio);
    EXPECT_EQ(steps[2].action, RecallAction::Send);
    EXPECT_TRUE(steps[2].sendRoute);
    EXPECT_FALSE(steps[2].sendAudio);
    EXPECT_EQ(steps[3].action, RecallAction::Skipped);
    EXPECT_FALSE(steps[3].sendRoute || steps[3].sendAudio);
    EXPECT_EQ(steps[4].action, RecallAction::Send);
    EXPECT_TRUE(steps[4].sendRoute);
    EXPECT_EQ(steps[5].action, RecallAction::Already);

    EXPECT_EQ(site.planRecall("Other", current).error->code, SiteErrorCode::NoSuchPreset);
}

TEST(SiteRecall, theReportCountsOnlyConfirmedSendsAsApplied) {
    RecallPlan plan{"Room",
                    {{1, 1, std::nullopt, RecallAction::Already, false, false},
                     {2, 2, std::nullopt, RecallAction::Send, true, false},
                     {3, 3, std::nullopt, RecallAction::Skipped, false, false},
                     {4, 4, std::nullopt, RecallAction::Send, true, false},
                     {5, 5, std::nullopt, RecallAction::Send, true, false}}};
    RecallReport report = RecallReport::start(plan);
    report.confirm(2);
    report.confirm(3); // a locked output stays skipped whatever arrives
    report.fail(5, "the switcher routed input 6");
    ASSERT_EQ(report.outputs.size(), 5U);
    EXPECT_EQ(report.outputs[0].outcome, RecallOutcome::Applied);
    EXPECT_FALSE(report.outputs[0].sent);
    EXPECT_EQ(report.outputs[1].outcome, RecallOutcome::Applied);
    EXPECT_TRUE(report.outputs[1].sent);
    EXPECT_EQ(report.outputs[2].outcome, RecallOutcome::Skipped);
    EXPECT_EQ(report.outputs[2].reason, kLockedReason);
    EXPECT_EQ(report.outputs[3].outcome, RecallOutcome::Failed);
    EXPECT_EQ(report.outputs[3].reason, kNotConfirmedReason);
    EXPECT_EQ(report.outputs[4].outcome, RecallOutcome::Failed);
    EXPECT_EQ(report.outputs[4].reason, "the switcher routed input 6");
    EXPECT_FALSE(report.allApplied());
    EXPECT_EQ(recallOutcomeName(RecallOutcome::Skipped), "skipped");
}

} // namespace
} // namespace mc
