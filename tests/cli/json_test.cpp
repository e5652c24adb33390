// matrix-ctl's JSON writer: whatever bytes a reply line holds, the document
// stays valid JSON and reads back to the same bytes (as code points).
#include "cli/json_schema.h"
#include "json.h"

#include <gtest/gtest.h>

namespace mc::ctl {
namespace {

TEST(JsonWriter, writesMembersInOrderAndNullForNothing) {
    Json doc = Json::object();
    doc.set("b", 2).set("a", Json()).set("list", Json::array().push(true).push("x"));
    doc.set("b", 3); // replaced in place
    EXPECT_EQ(doc.dump(), R"({"b":3,"a":null,"list":[true,"x"]})");
}

TEST(JsonWriter, escapesEveryByteAStringCannotHoldAsItIs) {
    std::string garbage;
    for (int byte = 0; byte < 256; ++byte) {
        garbage.push_back(static_cast<char>(byte));
    }
    Json doc = Json::object();
    doc.set("line", garbage);
    const std::string text = doc.dump();
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << "raw byte " << static_cast<int>(byte);
    }
    std::string error;
    const auto parsed = mc::test::parseJson(text, &error);
    ASSERT_TRUE(parsed) << error;
    const std::string back = parsed->find("line")->string;
    // Below 0x80 the bytes come back as they were; above, as UTF-8 of U+0080..U+00FF.
    EXPECT_EQ(back.substr(0, 128), garbage.substr(0, 128));
    EXPECT_EQ(back.size(), 128U + 2U * 128U);
}

TEST(JsonWriter, writesEachByteExactlyAsScriptsHaveAlwaysReadIt) {
    // The documents are compared byte for byte by scripts: the five short
    // escapes, and \u00XX (lower-case hex) for every other control byte, DEL
    // and every byte above it, in strings and in member names alike.
    std::string every;
    std::string expected = "{\"";
    for (int byte = 0; byte < 256; ++byte) {
        every.push_back(static_cast<char>(byte));
    }
    std::string escaped;
    for (int byte = 0; byte < 256; ++byte) {
        static constexpr std::string_view kHex = "0123456789abcdef";
        switch (byte) {
        case '"':
            escaped += "\\\"";
            break;
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default:
            if (byte < 0x20 || byte >= 0x7F) {
                escaped += std::string("\\u00") + kHex[byte >> 4] + kHex[byte & 0xF];
            } else {
                escaped.push_back(static_cast<char>(byte));
            }
        }
    }
    expected += escaped + "\":\"" + escaped + "\",\"n\":-7,\"t\":false,\"e\":{},\"l\":[]}";
    Json doc = Json::object();
    doc.set(every, every).set("n", -7).set("t", false).set("e", Json::object()).set("l", Json::array());
    EXPECT_EQ(doc.dump(), expected);
}

TEST(JsonReader, refusesWhatIsNotOneValue) {
    for (const char* bad : {"", "{", "{\"a\":1,}", "[1 2]", "{\"a\":1}{}", "\"\x01\"", "{\"a\":1,\"a\":2}", "tru"}) {
        EXPECT_FALSE(mc::test::parseJson(bad)) << bad;
    }
}

TEST(JsonSchemaCheck, findsWrongTypesMissingAndExtraMembers) {
    const auto schema = mc::test::parseJson(R"({"type":"object","required":["n"],"additionalProperties":false,
        "properties":{"n":{"type":"integer","minimum":1,"maximum":16},"s":{"enum":["on","mute"]}}})");
    ASSERT_TRUE(schema);
    auto problems = [&](const char* text) { return mc::test::validateJson(*mc::test::parseJson(text), *schema); };
    EXPECT_TRUE(problems(R"({"n":16,"s":"on"})").empty());
    EXPECT_EQ(problems(R"({"n":17})").size(), 1U);
    EXPECT_EQ(problems(R"({"n":1.5})").size(), 1U);
    EXPECT_EQ(problems(R"({"s":"loud"})").size(), 2U);
    EXPECT_EQ(problems(R"({"n":1,"x":0})").size(), 1U);
}

} // namespace
} // namespace mc::ctl
