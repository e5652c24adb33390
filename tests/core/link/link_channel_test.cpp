#include "link/link_channel.h"
#include "link/termios_line.h"
#include "support/pty_peer.h"
#include "support/recording_sink.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;
using test::RecordingSink;

// Generous: the machine running the tests may be loaded.
constexpr auto kArrival = 5s;

class LinkChannelTest : public ::testing::Test {
protected:
    void SetUp() override { ports_.exportToEnvironment(); }

    std::unique_ptr<PtyPeer> peerAt(int comPort) {
        auto peer = PtyPeer::create();
        EXPECT_TRUE(peer);
        EXPECT_TRUE(peer && peer->linkAs(ports_.path(), comPort));
        return peer;
    }

    bool openAndStart(int comPort, const LineSettings& line = {}) {
        return channel_.openLink(sink_, comPort, line) && channel_.startPortWorker();
    }

    // Runs closeLink on another thread; false if it has not returned in time.
    bool closeReturnsWithin(std::chrono::milliseconds limit) {
        auto closing = std::async(std::launch::async, [this] { channel_.closeLink(); });
        if (closing.wait_for(limit) == std::future_status::ready) {
            return true;
        }
        sink_.release(); // let it finish so the test can end
        closing.wait();
        return false;
    }

    test::PortDirectory ports_;
    RecordingSink sink_;
    LinkChannel channel_; // destroyed before the sink it delivers to
};

std::chrono::nanoseconds processCpuTime() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// A second descriptor on the slave side, to look at its queue and settings.
class SlaveProbe {
public:
    explicit SlaveProbe(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~SlaveProbe() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlaveProbe(const SlaveProbe&) = delete;
    SlaveProbe& operator=(const SlaveProbe&) = delete;

    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] int queued() const {
        int n = -1;
        ::ioctl(fd_, FIONREAD, &n);
        return n;
    }
    [[nodiscard]] bool waitQueued(int count, std::chrono::milliseconds timeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (queued() < count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

private:
    int fd_;
};

TEST_F(LinkChannelTest, openingAPortThatDoesNotResolveFailsAndLeavesTheErrorFlagAlone) {
    for (int n : {0, 5, 100}) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(channel_.openLink(sink_, n, LineSettings{}));
        EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
        EXPECT_FALSE(channel_.portError());
        EXPECT_FALSE(channel_.startPortWorker());
    }

    // A flag already set stays set.
    auto peer = peerAt(1);
    ASSERT_TRUE(openAndStart(1));
    peer->hangUp();
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    ASSERT_TRUE(channel_.portError());
    EXPECT_FALSE(channel_.openLink(sink_, 5, LineSettings{}));
    EXPECT_TRUE(channel_.portError());
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
}

TEST_F(LinkChannelTest, opensRaw8N1At57600AndStartsTheWorkerOnlyOnceOnAnOpenPort) {
    auto peer = peerAt(2);
    const SlaveProbe probe(peer->slavePath());
    ASSERT_GE(probe.fd(), 0);
    ASSERT_TRUE(channel_.openLink(sink_, 2, LineSettings{}));
    EXPECT_FALSE(channel_.portError());
    EXPECT_EQ(channel_.state(), LinkChannel::State::OpenIdle);
    EXPECT_EQ(channel_.linkNumber(), 2);

    termios tio{};
    ASSERT_EQ(::tcgetattr(probe.fd(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0U);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0U);

    EXPECT_TRUE(channel_.startPortWorker());
    EXPECT_EQ(channel_.state(), LinkChannel::State::Running);
    EXPECT_FALSE(channel_.startPortWorker());
    channel_.closeLink();
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
    channel_.closeLink(); // closing twice is harmless
}

TEST_F(LinkChannelTest, bytesArriveInOrderAndEachHandOverEndsBeforeTheNextRead) {
    auto peer = peerAt(3);
    ASSERT_TRUE(openAndStart(3));
    sink_.hold();
    ASSERT_TRUE(peer->write("A"));
    ASSERT_TRUE(sink_.waitForHandOversStarted(1, kArrival));
    ASSERT_TRUE(peer->write("BCD"));
    std::this_thread::sleep_for(100ms);
    // The worker is still inside the first hand-over: nothing more is read.
    EXPECT_EQ(sink_.handOversStarted(), 1U);
    EXPECT_EQ(sink_.handOversFinished(), 0U);

    sink_.release();
    ASSERT_TRUE(sink_.waitForBytes(4, kArrival));
    EXPECT_EQ(sink_.text(), "ABCD");
    EXPECT_EQ(sink_.burstSizes().front(), 1U);
    for (const RecordingSink::Received& r : sink_.received()) {
        EXPECT_EQ(r.linkNumber, 3);
    }
}

TEST_F(LinkChannelTest, everyByteValueArrivesUnchangedInBoundedBursts) {
    auto peer = peerAt(4);
    ASSERT_TRUE(openAndStart(4));
    std::string sent;
    for (int round = 0; round < 40; ++round) {
        for (int value = 0; value < 256; ++value) {
            sent.push_back(static_cast<char>(round % 2 == 0 ? value : 255 - value));
        }
    }
    ASSERT_TRUE(peer->write(sent));
    ASSERT_TRUE(sink_.waitForBytes(sent.size(), kArrival));
    EXPECT_EQ(sink_.text(), sent);
    for (std::size_t burst : sink_.burstSizes()) {
        EXPECT_GE(burst, 1U);
        EXPECT_LE(burst, kReceiveBurstLimit);
    }
}

TEST_F(LinkChannelTest, commandSentBeforeTheWorkerStartsIsWrittenOnceItStarts) {
    auto peer = peerAt(5);
    ASSERT_TRUE(channel_.openLink(sink_, 5, LineSettings{}));
    EXPECT_EQ(channel_.sendTextCommand("\r\nGET STA\r\n"), SendResult::Queued);
    EXPECT_EQ(peer->readAll(50ms, 200ms), "");
    ASSERT_TRUE(channel_.startPortWorker());
    EXPECT_EQ(peer->read(11, kArrival), "\r\nGET STA\r\n");
}

TEST_F(LinkChannelTest, unreadReceivedBytesArePurgedBeforeAWrite) {
    auto peer = peerAt(6);
    const SlaveProbe probe(peer->slavePath());
    ASSERT_GE(probe.fd(), 0);
    // Told not to read, the worker leaves the input alone.
    LineSettings line;
    line.readReceived = false;
    ASSERT_TRUE(openAndStart(6, line));
    ASSERT_TRUE(peer->write("STALE"));
    ASSERT_TRUE(probe.waitQueued(5, kArrival));

    ASSERT_EQ(channel_.sendTextCommand("CMD\r\n"), SendResult::Queued);
    EXPECT_EQ(peer->read(5, kArrival), "CMD\r\n");
    EXPECT_EQ(probe.queued(), 0);
    EXPECT_EQ(sink_.handOversStarted(), 0U);
}

TEST_F(LinkChannelTest, farEndHangingUpSetsTheErrorFlagNotifiesOnceAndDoesNotSpin) {
    auto peer = peerAt(7);
    ASSERT_TRUE(openAndStart(7));
    ASSERT_TRUE(peer->write("xy"));
    ASSERT_TRUE(sink_.waitForBytes(2, kArrival));
    EXPECT_FALSE(channel_.portError());

    peer->hangUp();
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    EXPECT_TRUE(channel_.portError());
    EXPECT_EQ(sink_.text(), "xy");

    const auto cpuBefore = processCpuTime();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(processCpuTime() - cpuBefore, 100ms) << "the worker keeps waking on the hung-up line";
    EXPECT_EQ(sink_.handOversStarted(), 1U);
    EXPECT_EQ(sink_.failures().size(), 1U);

    // Writes still fail quietly into the flag, and the port still closes.
    EXPECT_EQ(channel_.sendTextCommand("x"), SendResult::Queued);
    EXPECT_TRUE(closeReturnsWithin(kArrival));
    EXPECT_TRUE(channel_.portError()); // cleared only by the console
    channel_.clearPortError();
    EXPECT_FALSE(channel_.portError());
}

TEST_F(LinkChannelTest, closeWhileTheWorkerIsBlockedInAHandOverReturns) {
    auto peer = peerAt(8);
    ASSERT_TRUE(openAndStart(8));
    sink_.hold();
    ASSERT_TRUE(peer->write("busy"));
    ASSERT_TRUE(sink_.waitForHandOversStarted(1, kArrival));
    EXPECT_TRUE(closeReturnsWithin(kArrival));
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);

    // The same goes for a reopen.
    auto peer2 = peerAt(9);
    ASSERT_TRUE(openAndStart(9));
    ASSERT_TRUE(peer2->write("more"));
    ASSERT_TRUE(sink_.waitForHandOversStarted(2, kArrival));
    auto reopening = std::async(std::launch::async, [this] { return channel_.openLink(sink_, 9, LineSettings{}); });
    ASSERT_EQ(reopening.wait_for(kArrival), std::future_status::ready);
    EXPECT_TRUE(reopening.get());
    ASSERT_TRUE(channel_.startPortWorker());
    ASSERT_TRUE(peer2->write("!"));
    ASSERT_TRUE(sink_.waitForHandOversStarted(3, kArrival));
    EXPECT_TRUE(closeReturnsWithin(kArrival));
}

TEST_F(LinkChannelTest, destroyingTheChannelReleasesAWorkerBlockedInAHandOver) {
    auto peer = peerAt(10);
    RecordingSink sink;
    sink.hold();
    auto channel = std::make_unique<LinkChannel>();
    ASSERT_TRUE(channel->openLink(sink, 10, LineSettings{}));
    ASSERT_TRUE(channel->startPortWorker());
    ASSERT_TRUE(peer->write("held"));
    ASSERT_TRUE(sink.waitForHandOversStarted(1, kArrival));
    auto destroying = std::async(std::launch::async, [&channel] { channel.reset(); });
    const bool returned = destroying.wait_for(kArrival) == std::future_status::ready;
    if (!returned) {
        sink.release();
    }
    destroying.wait();
    EXPECT_TRUE(returned);
}

TEST_F(LinkChannelTest, openWhileRunningReplacesThePortAndFreesTheOldOne) {
    auto first = peerAt(11);
    auto second = peerAt(12);
    ASSERT_TRUE(openAndStart(11));
    ASSERT_TRUE(first->write("a"));
    ASSERT_TRUE(sink_.waitForBytes(1, kArrival));

    ASSERT_TRUE(channel_.openLink(sink_, 12, LineSettings{}));
    EXPECT_EQ(channel_.state(), LinkChannel::State::OpenIdle);
    EXPECT_EQ(channel_.linkNumber(), 12);
    ASSERT_TRUE(first->write("old"));
    ASSERT_TRUE(channel_.startPortWorker());
    ASSERT_TRUE(second->write("b"));
    ASSERT_TRUE(sink_.waitForBytes(2, kArrival));
    EXPECT_EQ(sink_.text(), "ab");
    EXPECT_EQ(sink_.received().back().linkNumber, 12);

    // COM11 is free again for another opener.
    RecordingSink otherSink;
    LinkChannel other;
    EXPECT_TRUE(other.openLink(otherSink, 11, LineSettings{}));
}

TEST_F(LinkChannelTest, aSecondOpenOfAPortAlreadyHeldFails) {
    auto peer = peerAt(13);
    ASSERT_TRUE(channel_.openLink(sink_, 13, LineSettings{}));
    RecordingSink otherSink;
    LinkChannel other;
    EXPECT_FALSE(other.openLink(otherSink, 13, LineSettings{}));
    EXPECT_FALSE(other.portError());
    EXPECT_EQ(other.state(), LinkChannel::State::Closed);

    channel_.closeLink();
    EXPECT_TRUE(other.openLink(otherSink, 13, LineSettings{}));
}

TEST_F(LinkChannelTest, manyQuickSendsAreNeitherTornNorLost) {
    auto peer = peerAt(14);
    ASSERT_TRUE(openAndStart(14));
    std::string expected;
    for (std::size_t i = 0; i < kPendingCommandLimit; ++i) {
        const std::string command = "\r\nSET OUT" + std::to_string(i) + "  VS IN" + std::to_string(i % 16) + " \r\n";
        ASSERT_EQ(channel_.sendTextCommand(command), SendResult::Queued) << i;
        expected += command;
    }
    EXPECT_EQ(peer->read(expected.size(), kArrival), expected);
    EXPECT_FALSE(channel_.portError());
}

TEST_F(LinkChannelTest, sendsWithoutAPortOrLongerThanTheBufferAreRefused) {
    EXPECT_EQ(channel_.sendTextCommand("x"), SendResult::NoWriteBuffer);
    auto peer = peerAt(15);
    LineSettings line;
    line.writeBufferSize = 8;
    ASSERT_TRUE(openAndStart(15, line));
    EXPECT_EQ(channel_.sendTextCommand("123456789"), SendResult::TooLong);
    EXPECT_EQ(channel_.sendTextCommand(""), SendResult::Empty);
    EXPECT_EQ(channel_.sendTextCommand("12345678"), SendResult::Queued);
    EXPECT_EQ(peer->readAll(100ms, kArrival), "12345678");
    channel_.closeLink();
    EXPECT_EQ(channel_.sendTextCommand("x"), SendResult::NoWriteBuffer);
}

TEST_F(LinkChannelTest, aConfigurationFailureSetsTheErrorFlagButTheOpenSucceeds) {
    auto peer = peerAt(16);
    LineSettings oddSpeed;
    oddSpeed.baudRate = 12345;
    EXPECT_TRUE(channel_.openLink(sink_, 16, oddSpeed));
    EXPECT_TRUE(channel_.portError());
    EXPECT_EQ(channel_.state(), LinkChannel::State::OpenIdle);
    EXPECT_EQ(channel_.lastFailure(), "configure " + ports_.portPath(16) + ": line settings without a termios form");
    channel_.closeLink();
}

TEST_F(LinkChannelTest, somethingThatIsNotATerminalIsRefusedLikeAnAbsentPort) {
    // A plain file would take every write and never answer.
    std::ofstream(ports_.portPath(17)) << "plain file";
    EXPECT_FALSE(channel_.openLink(sink_, 17, LineSettings{}));
    EXPECT_FALSE(channel_.portError());
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
    EXPECT_EQ(channel_.lastFailure(), "open " + ports_.portPath(17) + ": not a terminal");
    std::ifstream file(ports_.portPath(17));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "plain file");
}

TEST_F(LinkChannelTest, failuresKeepTheCallAndTheSystemsReason) {
    EXPECT_FALSE(channel_.openLink(sink_, 18, LineSettings{}));
    EXPECT_EQ(channel_.lastFailure(), "open " + ports_.portPath(18) + ": No such file or directory");

    auto peer = peerAt(19);
    ASSERT_TRUE(channel_.openLink(sink_, 19, LineSettings{}));
    LinkChannel other;
    RecordingSink otherSink;
    EXPECT_FALSE(other.openLink(otherSink, 19, LineSettings{}));
    EXPECT_EQ(other.lastFailure(), "open " + ports_.portPath(19) + ": in use by another program");
    EXPECT_EQ(other.lastRefusal(), PortRefusal::InUse);
    EXPECT_FALSE(other.openLink(otherSink, 18, LineSettings{}));
    EXPECT_EQ(other.lastRefusal(), PortRefusal::None) << "an absent port is no refusal";

    ASSERT_TRUE(channel_.startPortWorker());
    peer->hangUp();
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    EXPECT_TRUE(channel_.portError());
    // The queue status or the read tells it, depending on the kernel.
    const std::string reason = channel_.lastFailure();
    EXPECT_TRUE(reason == "queue status: Input/output error" || reason == "read: Input/output error") << reason;
}

TEST(SerialOpenFailure, aDeniedSerialDeviceEndsWithTheDialoutHint) {
    EXPECT_EQ(serialOpenFailure("/dev/ttyUSB0", EACCES),
              std::string("open /dev/ttyUSB0: Permission denied ") + kSerialPermissionHint);
    EXPECT_EQ(serialOpenFailure("/dev/ttyS4", ENOENT), "open /dev/ttyS4: No such file or directory");
}

TEST(SerialOpenFailure, aHeldOrForbiddenDeviceIsARefusalAnAbsentOneIsNot) {
    EXPECT_EQ(serialOpenRefusal(EBUSY), PortRefusal::InUse);
    EXPECT_EQ(serialOpenRefusal(EACCES), PortRefusal::PermissionDenied);
    EXPECT_EQ(serialOpenRefusal(EPERM), PortRefusal::PermissionDenied);
    for (const int absent : {ENOENT, ENXIO, ENODEV, EIO}) {
        EXPECT_EQ(serialOpenRefusal(absent), PortRefusal::None) << absent;
    }
}

} // namespace
} // namespace mc
