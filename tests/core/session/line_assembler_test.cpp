#include "session/line_assembler.h"

#include <gtest/gtest.h>
#include <vector>

namespace mc {
namespace {

std::vector<std::string> feed(LineAssembler& assembler, std::string_view bytes) {
    std::vector<std::string> lines;
    for (const char byte : bytes) {
        if (auto line = assembler.append(byte)) {
            lines.push_back(std::move(*line));
        }
    }
    return lines;
}

TEST(LineAssembler, aLineIsEverythingUpToAndIncludingLf) {
    LineAssembler assembler;
    EXPECT_EQ(feed(assembler, "\r\nOUT3 VS IN5\r\nOUT4"), (std::vector<std::string>{"\r\n", "OUT3 VS IN5\r\n"}));
    EXPECT_EQ(assembler.pending(), "OUT4");
}

TEST(LineAssembler, bufferIsEmptyWhileTheLineIsHandedOut) {
    LineAssembler assembler;
    feed(assembler, "OUT3");
    const auto line = assembler.append('\n');
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "OUT3\n");
    EXPECT_TRUE(assembler.pending().empty());
}

// The unfinished line waits for the bytes of later bursts; a reset ends it
// together with the mark of an over-long line.
TEST(LineAssembler, unfinishedLineIsJoinedToLaterBytesUntilAReset) {
    LineAssembler assembler;
    feed(assembler, "OUT3 VS");
    EXPECT_EQ(feed(assembler, " IN5\r\n"), std::vector<std::string>{"OUT3 VS IN5\r\n"});

    feed(assembler, std::string(kReplyLineLimit + 1, 'x'));
    assembler.reset();
    EXPECT_TRUE(assembler.pending().empty());
    EXPECT_EQ(feed(assembler, "OUT4 VS IN1\r\n"), std::vector<std::string>{"OUT4 VS IN1\r\n"});
    EXPECT_EQ(assembler.discardedLines(), 0U);
}

TEST(LineAssembler, lineOfExactlyTheLimitIsHandled) {
    LineAssembler assembler;
    const std::string line = std::string(kReplyLineLimit - 1, 'x') + "\n";
    EXPECT_EQ(feed(assembler, line), std::vector<std::string>{line});
    EXPECT_EQ(assembler.discardedLines(), 0U);
}

// The figure itself, as the README states it: 4,096 bytes with the LF.
TEST(LineAssembler, aLineOf4096BytesWithItsLfIsHandedOutAndOneByteMoreIsDiscarded) {
    LineAssembler assembler;
    const std::string longest = std::string(4095, 'x') + "\n";
    EXPECT_EQ(feed(assembler, longest), std::vector<std::string>{longest});
    EXPECT_TRUE(feed(assembler, std::string(4096, 'x') + "\n").empty());
    EXPECT_EQ(assembler.discardedLines(), 1U);
}

TEST(LineAssembler, overLongLineIsDiscardedWholeAndTheNextLineIsIntact) {
    for (const std::size_t length : {kReplyLineLimit, kReplyLineLimit + 1, 5 * kReplyLineLimit}) {
        LineAssembler assembler;
        const std::string longLine = std::string(length, 'x') + "\n";
        EXPECT_TRUE(feed(assembler, longLine).empty()) << length;
        EXPECT_LE(assembler.pending().capacity(), 2 * kReplyLineLimit) << "buffer grew past its bound";
        EXPECT_EQ(assembler.discardedLines(), 1U);
        EXPECT_EQ(feed(assembler, "OUT3 VS IN5\r\n"), std::vector<std::string>{"OUT3 VS IN5\r\n"}) << length;
    }
}

TEST(LineAssembler, lineThatLostBytesIsDiscardedAtItsLf) {
    LineAssembler assembler;
    feed(assembler, "OUT3 V");
    assembler.discardCurrentLine();
    EXPECT_TRUE(feed(assembler, "S IN5\r\n").empty());
    EXPECT_EQ(assembler.discardedLines(), 1U);
    EXPECT_EQ(feed(assembler, "\r\n"), std::vector<std::string>{"\r\n"});
}

} // namespace
} // namespace mc
