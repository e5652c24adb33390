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
    std::string buffer;
    LineAssembler assembler(buffer);
    EXPECT_EQ(feed(assembler, "\r\nOUT3 VS IN5\r\nOUT4"), (std::vector<std::string>{"\r\n", "OUT3 VS IN5\r\n"}));
    EXPECT_EQ(buffer, "OUT4");
}

TEST(LineAssembler, bufferIsEmptyWhileTheLineIsHandedOut) {
    std::string buffer;
    LineAssembler assembler(buffer);
    feed(assembler, "OUT3");
    const auto line = assembler.append('\n');
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "OUT3\n");
    EXPECT_TRUE(buffer.empty());
}

// The buffer belongs to the console window and outlives a port close.
TEST(LineAssembler, unfinishedLineIsJoinedToLaterBytes) {
    std::string buffer;
    {
        LineAssembler first(buffer);
        feed(first, "OUT3 VS");
    }
    LineAssembler second(buffer);
    EXPECT_EQ(feed(second, " IN5\r\n"), std::vector<std::string>{"OUT3 VS IN5\r\n"});
}

TEST(LineAssembler, lineOfExactlyTheLimitIsHandled) {
    std::string buffer;
    LineAssembler assembler(buffer);
    const std::string line = std::string(kReplyLineLimit - 1, 'x') + "\n";
    EXPECT_EQ(feed(assembler, line), std::vector<std::string>{line});
    EXPECT_EQ(assembler.discardedLines(), 0U);
}

// The figure itself, as the README states it: 4,096 bytes with the LF.
TEST(LineAssembler, aLineOf4096BytesWithItsLfIsHandedOutAndOneByteMoreIsDiscarded) {
    std::string buffer;
    LineAssembler assembler(buffer);
    const std::string longest = std::string(4095, 'x') + "\n";
    EXPECT_EQ(feed(assembler, longest), std::vector<std::string>{longest});
    EXPECT_TRUE(feed(assembler, std::string(4096, 'x') + "\n").empty());
    EXPECT_EQ(assembler.discardedLines(), 1U);
}

TEST(LineAssembler, overLongLineIsDiscardedWholeAndTheNextLineIsIntact) {
    for (const std::size_t length : {kReplyLineLimit, kReplyLineLimit + 1, 5 * kReplyLineLimit}) {
        std::string buffer;
        LineAssembler assembler(buffer);
        const std::string longLine = std::string(length, 'x') + "\n";
        EXPECT_TRUE(feed(assembler, longLine).empty()) << length;
        EXPECT_LE(buffer.capacity(), 2 * kReplyLineLimit) << "buffer grew past its bound";
        EXPECT_EQ(assembler.discardedLines(), 1U);
        EXPECT_EQ(feed(assembler, "OUT3 VS IN5\r\n"), std::vector<std::string>{"OUT3 VS IN5\r\n"}) << length;
    }
}

TEST(LineAssembler, lineThatLostBytesIsDiscardedAtItsLf) {
    std::string buffer;
    LineAssembler assembler(buffer);
    feed(assembler, "OUT3 V");
    assembler.discardCurrentLine();
    EXPECT_TRUE(feed(assembler, "S IN5\r\n").empty());
    EXPECT_EQ(assembler.discardedLines(), 1U);
    EXPECT_EQ(feed(assembler, "\r\n"), std::vector<std::string>{"\r\n"});
}

} // namespace
} // namespace mc
