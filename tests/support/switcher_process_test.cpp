// The reading of the emulator's log by the e2e tests: if it got the bytes
// wrong, every check of "what the switcher received" would be wrong with it.
#include "support/switcher_process.h"

#include <gtest/gtest.h>

namespace mc::test {
namespace {

struct UnescapeCase {
    std::string escaped;
    std::optional<std::string> bytes;
};

TEST(SwitcherLog, unescapesEveryFormTheLogWrites) {
    const UnescapeCase cases[] = {
        {R"(\r\nGET STA\r\n)", std::string("\r\nGET STA\r\n")},
        {R"(a\"b\\c\td)", std::string("a\"b\\c\td")},
        {R"(\x00\x7f\xff)", std::string("\x00\x7f\xff", 3)},
        {R"(\x4)", std::nullopt},
        {R"(\xg0)", std::nullopt},
        {R"(\xAB)", std::nullopt}, // the log writes lower case only
        {R"(tail\)", std::nullopt},
        {R"(\q)", std::nullopt},
        {"", std::string()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unescapeLogBytes(c.escaped), c.bytes) << c.escaped;
    }
}

TEST(SwitcherLog, parsesRecordsAndUnquotesOnlyTheByteRecords) {
    const std::string text = "2026-12-07T21:00:00.100 info ready /tmp/ports/com1\n"
                             "2026-12-07T21:00:00.123 rx \"\\r\\nGET STA\\r\\n\"\n"
                             "garbage\n"
                             "2026-12-07T21:00:00.123 tx \"OUT1 VS IN1\\r\\n\"\n"
                             "2026-12-07T21:00:00.124 rx \"broken \\x\"\n"
                             "2026-12-07T21:00:05.001 overlong 5002 bytes, first \"xxxx\"\n";
    const auto records = parseSwitcherLog(text);
    ASSERT_EQ(records.size(), 4U);
    EXPECT_EQ(records[0].kind, "info");
    EXPECT_EQ(records[0].detail, "ready /tmp/ports/com1");
    EXPECT_EQ(records[1].kind, "rx");
    EXPECT_EQ(records[1].detail, "\r\nGET STA\r\n");
    EXPECT_EQ(records[2].kind, "tx");
    EXPECT_EQ(records[2].detail, "OUT1 VS IN1\r\n");
    EXPECT_EQ(records[3].kind, "overlong");
    EXPECT_EQ(records[3].detail, "5002 bytes, first \"xxxx\"");
}

} // namespace
} // namespace mc::test
