// The port worker's rules over a fake line: purges, the failure told with its reason,
// bursts. The pseudo-terminal tests beside this one prove the same on a real
// terminal.
#include "link/link_channel.h"
#include "support/fake_line.h"
#include "support/recording_sink.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::FakeLine;
using test::RecordingSink;
using Journal = std::vector<std::string>;

constexpr auto kArrival = 5s;

class LinkChannelFakeLineTest : public ::testing::Test {
protected:
    test::FakeLines lines_;
    FakeLine& line_ = lines_.add(1);
    RecordingSink sink_;
    LinkChannel channel_{lines_.factory()}; // destroyed before the sink and lines
};

TEST_F(LinkChannelFakeLineTest, bytesWaitingAtOpenAndBeforeTheWorkerStartsAreDiscarded) {
    line_.feed("OLD");
    ASSERT_TRUE(channel_.openLink(sink_, 1, LineSettings{}));
    EXPECT_EQ(line_.journal(), (Journal{"open", "configure", "purge all"}));
    EXPECT_EQ(line_.queued(), 0U) << "no purge at open";

    line_.feed("EARLY");
    ASSERT_TRUE(channel_.startPortWorker());
    EXPECT_EQ(line_.journal(), (Journal{"open", "configure", "purge all", "purge all"}));
    line_.feed("LIVE");
    ASSERT_TRUE(sink_.waitForBytes(4, kArrival));
    EXPECT_EQ(sink_.text(), "LIVE") << "no purge at worker start";
}

TEST_F(LinkChannelFakeLineTest, everyWriteIsPrecededByAPurgeOfTheInput) {
    LineSettings line;
    line.readReceived = false; // so unread bytes stay for the purge to meet
    ASSERT_TRUE(channel_.openLink(sink_, 1, line));
    ASSERT_TRUE(channel_.startPortWorker());
    line_.feed("STALE");
    ASSERT_EQ(channel_.sendTextCommand("A\r\n"), SendResult::Queued);
    ASSERT_EQ(channel_.sendTextCommand("B\r\n"), SendResult::Queued);
    ASSERT_TRUE(line_.waitWritten(6, kArrival));
    EXPECT_EQ(line_.queued(), 0U);
    const Journal journal = line_.journal();
    const Journal tail(journal.end() - 4, journal.end());
    EXPECT_EQ(tail, (Journal{"purge input", "write A\r\n", "purge input", "write B\r\n"}));
    EXPECT_EQ(sink_.handOversStarted(), 0U);
}

TEST_F(LinkChannelFakeLineTest, aFarEndFailureHandsOverTheRestThenTellsTheFailureOnceWithItsReason) {
    ASSERT_TRUE(channel_.openLink(sink_, 1, LineSettings{}));
    ASSERT_TRUE(channel_.startPortWorker());
    line_.feed("ab");
    ASSERT_TRUE(sink_.waitForBytes(2, kArrival));
    EXPECT_TRUE(channel_.lastFailure().empty());

    line_.feed("c");
    line_.failFarEnd();
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    EXPECT_TRUE(channel_.portError());
    EXPECT_EQ(sink_.text(), "abc"); // no byte stands for the failure
    ASSERT_EQ(sink_.failures().size(), 1U);
    EXPECT_EQ(sink_.failures()[0].linkNumber, 1);
    EXPECT_EQ(sink_.failures()[0].reason, "read: Input/output error");
    EXPECT_EQ(sink_.failures()[0].bytesBefore, 3U);
    EXPECT_EQ(channel_.lastFailure(), "read: Input/output error");

    // The line is no longer watched: more bytes are not read.
    line_.feed("zz");
    ASSERT_EQ(channel_.sendTextCommand("x"), SendResult::Queued);
    channel_.closeLink();
    EXPECT_EQ(sink_.text(), "abc");
    EXPECT_EQ(sink_.failures().size(), 1U);
    EXPECT_FALSE(line_.isOpen());
    EXPECT_EQ(line_.journal().back(), "close");
}

TEST_F(LinkChannelFakeLineTest, aPortHeldElsewhereOrAbsentFailsWithItsReasonAndLeavesTheFlagAlone) {
    line_.refuseOpens();
    EXPECT_FALSE(channel_.openLink(sink_, 1, LineSettings{}));
    EXPECT_EQ(channel_.lastFailure(), "open fake line: in use by another program");
    EXPECT_FALSE(channel_.openLink(sink_, 2, LineSettings{}));
    EXPECT_EQ(channel_.lastFailure(), "COM2 names no device here");
    EXPECT_FALSE(channel_.portError());
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
    EXPECT_EQ(channel_.linkNumber(), 2);
}

TEST_F(LinkChannelFakeLineTest, aLongReplyComesInBoundedBurstsInOrder) {
    ASSERT_TRUE(channel_.openLink(sink_, 1, LineSettings{}));
    std::string sent;
    for (int i = 0; i < 1000; ++i) {
        sent.push_back(static_cast<char>(i % 251));
    }
    ASSERT_TRUE(channel_.startPortWorker());
    line_.feed(sent);
    ASSERT_TRUE(sink_.waitForBytes(sent.size(), kArrival));
    EXPECT_EQ(sink_.text(), sent);
    for (std::size_t burst : sink_.burstSizes()) {
        EXPECT_LE(burst, kReceiveBurstLimit);
    }
    EXPECT_GE(sink_.burstSizes().size(), sent.size() / kReceiveBurstLimit);
}

TEST_F(LinkChannelFakeLineTest, aLinkThatCannotBeReachedFromTheWorkerIsAFailedLine) {
    line_.refuseConnects();
    ASSERT_TRUE(channel_.openLink(sink_, 1, LineSettings{}));
    ASSERT_EQ(channel_.sendTextCommand("GET\r\n"), SendResult::Queued);
    ASSERT_TRUE(channel_.startPortWorker());
    ASSERT_TRUE(sink_.waitForFailure(kArrival)); // told as after a hang-up
    EXPECT_TRUE(channel_.portError());
    EXPECT_EQ(channel_.lastFailure(), "connect fake line: Connection refused");
    EXPECT_EQ(sink_.failures()[0].reason, "connect fake line: Connection refused");
    line_.feed("late");
    channel_.closeLink();
    EXPECT_TRUE(sink_.received().empty());
    EXPECT_TRUE(sink_.takeConnects().empty()) << "never up";
}

TEST_F(LinkChannelFakeLineTest, closeEndsAConnectStillUnderWayWithoutAFailure) {
    line_.holdConnects();
    ASSERT_TRUE(channel_.openLink(sink_, 1, LineSettings{}));
    ASSERT_TRUE(channel_.startPortWorker());
    channel_.closeLink();
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
    EXPECT_FALSE(channel_.portError());
    EXPECT_EQ(sink_.handOversStarted(), 0U);
}

TEST_F(LinkChannelFakeLineTest, aLinkOpenedWithItsOwnBackendRunsTheSameWorker) {
    test::FakeLines other;
    FakeLine& far = other.add(7);
    ASSERT_TRUE(channel_.openLink(sink_, 42, other.factory()(7), LineSettings{}));
    EXPECT_EQ(channel_.linkNumber(), 42);
    ASSERT_TRUE(channel_.startPortWorker());
    far.answerEachWrite("OK\r\n");
    ASSERT_EQ(channel_.sendTextCommand("GET\r\n"), SendResult::Queued);
    ASSERT_TRUE(sink_.waitForBytes(4, kArrival));
    EXPECT_EQ(sink_.text(), "OK\r\n");
    EXPECT_EQ(sink_.received().front().linkNumber, 42);
    EXPECT_EQ(far.written(), "GET\r\n");
    EXPECT_FALSE(channel_.openLink(sink_, 43, nullptr, LineSettings{}));
}

} // namespace
} // namespace mc
