#include "sim/command_framer.h"

#include <gtest/gtest.h>

namespace mc::sim {
namespace {

std::vector<ReceivedLine> feedAll(CommandFramer& framer, std::string_view bytes, bool byteByByte) {
    if (!byteByByte) {
        return framer.feed(bytes);
    }
    std::vector<ReceivedLine> lines;
    for (const char c : bytes) {
        for (auto& line : framer.feed(std::string_view(&c, 1))) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

struct FramingCase {
    std::string_view name;
    std::string_view bytes;
    std::vector<std::pair<std::string, std::string>> lines; // raw, text
};

// The console's framings: a leading CR LF on most commands, one CR LF before
// a whole block of network lines, none before an upload. However the bytes
// are split on arrival, the same lines come out.
TEST(CommandFramer, framingEmptyLinesJoinTheLineAfterThem) {
    const FramingCase cases[] = {
        {"probe", "\r\nGET STA\r\n", {{"\r\nGET STA\r\n", "GET STA"}}},
        {"route keeps its trailing blank",
         "\r\nSET OUT1  VS IN1 \r\n",
         {{"\r\nSET OUT1  VS IN1 \r\n", "SET OUT1  VS IN1 "}}},
        {"network block",
         "\r\nSET DHCP 1\r\nSET TIP 5000\r\n",
         {{"\r\nSET DHCP 1\r\n", "SET DHCP 1"}, {"SET TIP 5000\r\n", "SET TIP 5000"}}},
        {"no leading framing", "SET IN1 EDID U1\r\n", {{"SET IN1 EDID U1\r\n", "SET IN1 EDID U1"}}},
        {"two commands back to back",
         "\r\nGET STA\r\n\r\nGET STA\r\n",
         {{"\r\nGET STA\r\n", "GET STA"}, {"\r\nGET STA\r\n", "GET STA"}}},
        {"bare LF ends a line too", "GET STA\n", {{"GET STA\n", "GET STA"}}},
        {"only one CR is framing", "GET STA\r\r\n", {{"GET STA\r\r\n", "GET STA\r"}}},
        {"framing alone is no line", "\r\n\r\n\n", {}},
    };
    for (const bool byteByByte : {false, true}) {
        for (const auto& c : cases) {
            CommandFramer framer;
            const auto lines = feedAll(framer, c.bytes, byteByByte);
            ASSERT_EQ(lines.size(), c.lines.size()) << c.name;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                EXPECT_EQ(lines[i].raw, c.lines[i].first) << c.name;
                EXPECT_EQ(lines[i].text, c.lines[i].second) << c.name;
                EXPECT_EQ(lines[i].receivedBytes, c.lines[i].first.size()) << c.name;
                EXPECT_FALSE(lines[i].overlong) << c.name;
            }
        }
    }
}

TEST(CommandFramer, anUnfinishedLineWaitsForItsLineFeed) {
    CommandFramer framer;
    EXPECT_TRUE(framer.feed("\r\nGET S").empty());
    const auto lines = framer.feed("TA\r\n");
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].raw, "\r\nGET STA\r\n");
    EXPECT_EQ(framer.pendingBytes(), 0U);
}

TEST(CommandFramer, overlongLinesAreDroppedWithinBoundAndTheNextLineIsIntact) {
    CommandFramer framer;
    const std::string flood(3 * kMaxLineLength, 'x');
    for (std::size_t i = 0; i < flood.size(); i += 1000) {
        EXPECT_TRUE(framer.feed(std::string_view(flood).substr(i, 1000)).empty());
        EXPECT_LE(framer.pendingBytes(), kMaxLineLength);
    }
    const auto lines = framer.feed("\r\nGET STA\r\n");
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_TRUE(lines[0].overlong);
    EXPECT_EQ(lines[0].receivedBytes, flood.size() + 2);
    EXPECT_EQ(lines[0].raw, std::string(kOverlongHeadLength, 'x'));
    EXPECT_EQ(lines[0].text, "");
    EXPECT_FALSE(lines[1].overlong);
    EXPECT_EQ(lines[1].raw, "GET STA\r\n");
}

TEST(CommandFramer, aLineOfExactlyTheLimitIsKept) {
    CommandFramer framer;
    const std::string longest(kMaxLineLength, 'y');
    const auto lines = framer.feed(longest + "\n");
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_FALSE(lines[0].overlong);
    EXPECT_EQ(lines[0].text, longest);
    const auto over = framer.feed(longest + "y\n");
    ASSERT_EQ(over.size(), 1U);
    EXPECT_TRUE(over[0].overlong);
}

TEST(CommandFramer, endlessFramingStaysBounded) {
    CommandFramer framer;
    std::size_t handedOut = 0;
    for (int i = 0; i < 10000; ++i) {
        for (const auto& line : framer.feed("\r\n")) {
            EXPECT_EQ(line.text, "");
            handedOut += line.receivedBytes;
        }
        ASSERT_LE(framer.pendingBytes(), kMaxLineLength + 2);
    }
    EXPECT_EQ(handedOut + framer.pendingBytes(), 20000U);
}

} // namespace
} // namespace mc::sim
