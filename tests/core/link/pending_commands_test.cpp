#include "link/pending_commands.h"

#include <gtest/gtest.h>
#include <string>

namespace mc {
namespace {

TEST(PendingCommands, refusesWhatCannotBeWrittenWhole) {
    struct Case {
        const char* name;
        int bufferSize;
        std::size_t length;
        SendResult result;
    };
    const Case cases[] = {
        {"fits exactly", 16, 16, SendResult::Queued},
        {"one byte over", 16, 17, SendResult::TooLong},
        {"empty", 16, 0, SendResult::Empty},
        {"no buffer", 0, 1, SendResult::NoWriteBuffer},
        {"negative size", -5, 1, SendResult::NoWriteBuffer},
        {"console size", 1024, 1024, SendResult::Queued},
        {"console size over", 1024, 1025, SendResult::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PendingCommands pending;
        pending.open(c.bufferSize);
        EXPECT_EQ(pending.push(std::string(c.length, 'x')), c.result);
        EXPECT_EQ(pending.size(), c.result == SendResult::Queued ? 1U : 0U);
    }
}

TEST(PendingCommands, keepsOrderUpToItsLimitAndClosingDropsAll) {
    PendingCommands pending;
    EXPECT_EQ(pending.push("early"), SendResult::NoWriteBuffer);
    pending.open(1024);
    for (std::size_t i = 0; i < kPendingCommandLimit; ++i) {
        ASSERT_EQ(pending.push("cmd" + std::to_string(i)), SendResult::Queued);
    }
    EXPECT_EQ(pending.push("one too many"), SendResult::QueueFull);
    EXPECT_EQ(pending.pop(), "cmd0");
    EXPECT_EQ(pending.push("after room"), SendResult::Queued);
    for (std::size_t i = 1; i < kPendingCommandLimit; ++i) {
        ASSERT_EQ(pending.pop(), "cmd" + std::to_string(i));
    }
    EXPECT_EQ(pending.pop(), "after room");
    EXPECT_EQ(pending.pop(), std::nullopt);

    pending.push("left over");
    pending.close();
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(pending.push("x"), SendResult::NoWriteBuffer);
    // Reopening starts empty.
    pending.open(8);
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(pending.push("12345678"), SendResult::Queued);
}

} // namespace
} // namespace mc
