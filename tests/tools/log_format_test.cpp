#include "sim/log_format.h"

#include <gtest/gtest.h>
#include <regex>

namespace mc::sim {
namespace {

TEST(LogFormat, escapingIsUnambiguous) {
    const std::pair<std::string, std::string> cases[] = {
        {"\r\nGET STA\r\n", R"(\r\nGET STA\r\n)"},
        {"SET OUT1  VS IN1 ", "SET OUT1  VS IN1 "},
        {"a\"b\\c", R"(a\"b\\c)"},
        {"\\x41", R"(\\x41)"}, // a literal backslash-x stays apart from an escaped byte
        {std::string("\0\x01\x7f\x80\xff\t", 6), R"(\x00\x01\x7f\x80\xff\t)"},
        {"", ""},
    };
    for (const auto& [raw, escaped] : cases) {
        EXPECT_EQ(escapeBytes(raw), escaped);
    }
}

TEST(LogFormat, recordsCarryAMillisecondTimestampKindAndDetail) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'800'000'000'123LL));
    const std::string rx = logRecord(when, "rx", "\r\nGET STA\r\n", true);
    EXPECT_TRUE(std::regex_match(rx, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.123 rx "\\r\\nGET STA\\r\\n"\n)")))
        << rx;
    const std::string info = logRecord(when, "info", "ready /tmp/x/com1", false);
    EXPECT_TRUE(info.ends_with(".123 info ready /tmp/x/com1\n")) << info;
    EXPECT_EQ(formatTimestamp(when).size(), 23U);
}

} // namespace
} // namespace mc::sim
