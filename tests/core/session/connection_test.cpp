#include "session/connection.h"
#include "session/reply_dispatch.h"
#include "support/edid_capture_fakes.h"
#include "support/fake_connection_view.h"
#include "support/pty_peer.h"
#include "support/recording_sink.h"
#include "support/recording_target.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::FakeView;
using test::PtyPeer;

constexpr auto kArrival = 5s;
// The status query every port a search opens is sent.
constexpr std::string_view kProbeLine = "\r\nGET STA\r\n";

class ConnectionTest : public ::testing::Test {
protected:
    // A close ends the unfinished line in reply dispatch, as the session wires it.
    ConnectionTest() { connection_.setReplyDispatch(&replies_); }
    void SetUp() override { ports_.exportToEnvironment(); }

    std::unique_ptr<PtyPeer> peerAt(int comPort) {
        auto peer = PtyPeer::create();
        EXPECT_TRUE(peer && peer->linkAs(ports_.path(), comPort));
        return peer;
    }

    // Hands what the channel has delivered to the connection, as the window
    // thread does, until `done` holds or the time is up.
    template <class Done> bool pumpUntil(Done done, std::chrono::milliseconds timeout = kArrival) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (const auto& r : sink_.take()) {
                if (connection_.admitReceivedByte(r.linkNumber, channel_.portError())) {
                    replies_.receive(r.byte);
                }
            }
            // A failure comes after the bytes read before it.
            for (const auto& f : sink_.takeFailures()) {
                connection_.linkFailed(f.linkNumber, f.reason);
            }
            if (done()) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(2ms);
        }
    }

    void expectClosed(const char* buttonText = kTurnOnPortText) {
        EXPECT_FALSE(state_.portOpen);
        EXPECT_EQ(view_.portIcon, false);
        EXPECT_EQ(view_.buttonText, buttonText);
    }

    void expectOpenOn(int comPort) {
        EXPECT_TRUE(state_.portOpen);
        EXPECT_EQ(view_.portIcon, true);
        EXPECT_EQ(view_.buttonText, kClosePortText);
        EXPECT_EQ(channel_.state(), LinkChannel::State::Running);
        EXPECT_EQ(channel_.linkNumber(), comPort);
    }

    test::PortDirectory ports_;
    ConsoleState state_;
    FakeView view_;
    test::RecordingSink sink_;
    LinkChannel channel_;
    Connection connection_{state_, channel_, sink_, view_};

    // The reply path as the console window wires it: a line that confirms a
    // search reaches the connection.
    test::RecordingTarget target_;
    test::MemoryEdidFiles files_;
    ReplyDispatch replies_{state_, ReplyViews{{target_}, target_, target_, target_, target_, connection_}, files_};
};

// The figures the operator's manual gives: a searched port answers within
// half a second (the first) or 400 ms (each next one); a selection pauses 200 ms.
TEST(ConnectionFigures, searchWaits500And400MsAndASelectionPauses200Ms) {
    EXPECT_EQ(kFirstProbeWait, 500ms);
    EXPECT_EQ(kNextProbeWait, 400ms);
    EXPECT_EQ(kSelectionPause, 200ms);
}

TEST_F(ConnectionTest, portButtonOnAnAbsentPortSaysSoAndStaysClosed) {
    connection_.portButtonClicked();
    EXPECT_EQ(view_.messages, std::vector<std::string>{kPortUnavailableMessage});
    expectClosed();
    EXPECT_FALSE(channel_.isOpen());
}

TEST_F(ConnectionTest, aComLinkToAPlainFileIsRefusedLikeAnAbsentPort) {
    std::ofstream(ports_.portPath(1)) << "not a line";
    connection_.portButtonClicked();
    EXPECT_EQ(view_.messages, std::vector<std::string>{kPortUnavailableMessage});
    expectClosed();
    EXPECT_FALSE(channel_.isOpen());
    std::ifstream file(ports_.portPath(1));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "not a line"); // nothing written
}

TEST_F(ConnectionTest, portButtonTogglesBetweenOpenAndClosed) {
    auto peer = peerAt(1);
    connection_.portButtonClicked();
    expectOpenOn(1);
    EXPECT_TRUE(view_.messages.empty());

    connection_.portButtonClicked();
    expectClosed();
    EXPECT_FALSE(channel_.isOpen());

    connection_.portButtonClicked();
    expectOpenOn(1);
}

TEST_F(ConnectionTest, comSelectionOpensAtOnceWhenClosedAndHoldsTheNewPortWhenOpen) {
    auto com3 = peerAt(3);
    auto com4 = peerAt(4);
    connection_.comSelectionChanged(2);
    expectOpenOn(3);
    EXPECT_EQ(state_.comPort, 3);
    EXPECT_EQ(view_.pauses, std::vector<std::chrono::milliseconds>{200ms});

    connection_.comSelectionChanged(3);
    expectClosed();
    EXPECT_EQ(channel_.state(), LinkChannel::State::OpenIdle); // held, not read
    EXPECT_EQ(channel_.linkNumber(), 4);
    EXPECT_EQ(view_.pauses.size(), 1U);

    connection_.portButtonClicked();
    expectOpenOn(4);
    ASSERT_TRUE(com4->write("x"));
    EXPECT_TRUE(sink_.waitForBytes(1, kArrival));
    EXPECT_EQ(sink_.received().front().linkNumber, 4);

    // A selection that cannot be opened closes whatever was open.
    connection_.comSelectionChanged(9);
    EXPECT_EQ(view_.messages, std::vector<std::string>{kPortUnavailableMessage});
    expectClosed();
    EXPECT_FALSE(channel_.isOpen());
    EXPECT_EQ(state_.comPort, 10);
}

// A port error left over from an earlier port must not close the next one:
// selecting a port and starting a search both clear the flag first.
TEST_F(ConnectionTest, comSelectionAndSearchClearTheErrorFlag) {
    auto com1 = peerAt(1);
    auto com2 = peerAt(2);
    for (const bool search : {false, true}) {
        SCOPED_TRACE(search ? "search" : "selection");
        // An open that cannot configure the line leaves the flag set.
        state_.line.baudRate = 12345;
        connection_.portButtonClicked();
        ASSERT_TRUE(channel_.portError());
        state_.line = LineSettings{};

        if (search) {
            connection_.searchMachineClicked();
            EXPECT_EQ(com1->read(kProbeLine.size(), kArrival), kProbeLine);
        } else {
            connection_.comSelectionChanged(1);
            EXPECT_EQ(channel_.linkNumber(), 2);
        }
        EXPECT_FALSE(channel_.portError());
        channel_.closeLink();
        state_ = ConsoleState{};
    }
}

// While a search runs no command goes out, even if a port was open before.
TEST_F(ConnectionTest, searchClearsThePortOpenFlag) {
    auto com1 = peerAt(1);
    connection_.portButtonClicked();
    expectOpenOn(1);
    connection_.searchMachineClicked();
    EXPECT_FALSE(state_.portOpen);
    EXPECT_TRUE(state_.searchInProgress);
    EXPECT_EQ(view_.buttonText, kTurnOnPortText);
}

TEST_F(ConnectionTest, searchProbesEachPortThatOpensUntilOneAnswers) {
    // COM1, COM3, COM4 and COM6 do not exist; COM2 and COM5 stay silent.
    auto com2 = peerAt(2);
    auto com5 = peerAt(5);
    auto com7 = peerAt(7);
    state_.comPort = 9;

    connection_.searchMachineClicked();
    EXPECT_TRUE(state_.searchInProgress);
    EXPECT_FALSE(state_.portOpen);
    EXPECT_EQ(view_.statusText, kSearchingStatusText);
    EXPECT_EQ(channel_.linkNumber(), 2);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], 500ms); // the first port waits longer
    EXPECT_EQ(com2->read(kProbeLine.size(), kArrival), kProbeLine);

    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_EQ(channel_.linkNumber(), 5);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], 400ms);
    EXPECT_EQ(com5->read(kProbeLine.size(), kArrival), kProbeLine);

    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_EQ(channel_.linkNumber(), 7);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], 400ms);
    EXPECT_EQ(com7->read(kProbeLine.size(), kArrival), kProbeLine);
    EXPECT_FALSE(view_.selectedItem);

    // Any line confirms the switcher; the one ahead of the reply will do.
    ASSERT_TRUE(com7->write("\r\nOUT1 VS IN1\r\n"));
    ASSERT_TRUE(pumpUntil([&] { return !state_.searchInProgress; }));
    expectOpenOn(7);
    EXPECT_EQ(view_.selectedItem, 6);
    EXPECT_EQ(view_.statusText, kClearedStatusText);
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::Search));
    EXPECT_EQ(connection_.savedComPort(), 9);
    EXPECT_TRUE(view_.messages.empty());
    // Nothing else was sent to the silent ports.
    EXPECT_EQ(com2->readAll(20ms, 100ms), "");
}

TEST_F(ConnectionTest, searchWithOnlySilentPortsRestoresTheSavedPortAndSaysSo) {
    auto com2 = peerAt(2);
    auto com3 = peerAt(3);
    state_.comPort = 42;
    connection_.searchMachineClicked();
    EXPECT_EQ(com2->read(kProbeLine.size(), kArrival), kProbeLine);
    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_EQ(channel_.linkNumber(), 3);
    EXPECT_EQ(com3->read(kProbeLine.size(), kArrival), kProbeLine);
    connection_.timerFired(ConsoleTimer::Search);

    EXPECT_EQ(view_.messages, std::vector<std::string>{kNoDeviceMessage});
    EXPECT_EQ(state_.comPort, 42);
    EXPECT_FALSE(state_.searchInProgress);
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::Search));
    EXPECT_EQ(view_.statusText, kClearedStatusText);
    EXPECT_FALSE(view_.selectedItem); // the selector is left as it was
    EXPECT_FALSE(channel_.isOpen());
    expectClosed();
}

TEST_F(ConnectionTest, searchWithNoOpenablePortSaysSoAtOnceAndSettlesOnCom1) {
    state_.comPort = 7;
    connection_.searchMachineClicked();
    EXPECT_EQ(view_.messages, std::vector<std::string>{kNoDeviceMessage});
    EXPECT_EQ(state_.comPort, 1);
    EXPECT_TRUE(view_.started.empty());
    EXPECT_FALSE(state_.searchInProgress);
    EXPECT_EQ(view_.statusText, kClearedStatusText);
}

TEST_F(ConnectionTest, lateAnswerFromAPortTheSearchHasLeftDoesNotConfirmTheNext) {
    auto com1 = peerAt(1);
    auto com2 = peerAt(2);
    connection_.searchMachineClicked();
    ASSERT_EQ(com1->read(kProbeLine.size(), kArrival), kProbeLine);
    ASSERT_TRUE(com1->write("LATE\r\n"));
    ASSERT_TRUE(sink_.waitForBytes(6, kArrival)); // queued, not yet handled
    connection_.timerFired(ConsoleTimer::Search);
    ASSERT_EQ(channel_.linkNumber(), 2);

    pumpUntil([] { return false; }, 50ms);
    EXPECT_TRUE(state_.searchInProgress);
    EXPECT_FALSE(state_.portOpen);
    EXPECT_TRUE(replies_.pendingLine().empty());

    ASSERT_TRUE(com2->write("\n"));
    EXPECT_TRUE(pumpUntil([&] { return state_.portOpen; }));
    EXPECT_EQ(view_.selectedItem, 1);
}

TEST_F(ConnectionTest, hangUpClosesThePortAsItIsToldAndRelabelsTheButton) {
    auto peer = peerAt(1);
    connection_.portButtonClicked();
    expectOpenOn(1);
    peer->hangUp();
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    EXPECT_TRUE(state_.portOpen); // not until the window thread is told
    ASSERT_TRUE(pumpUntil([&] { return !state_.portOpen; }, 0ms));
    expectClosed(kOpenPortText);
    EXPECT_FALSE(channel_.isOpen());
    EXPECT_TRUE(view_.running.empty());

    // A failure told late, for a link closed since, changes nothing.
    view_.buttonText = kClosePortText;
    connection_.linkFailed(1, "late");
    EXPECT_EQ(view_.buttonText, kClosePortText);
}

// A hang-up in the middle of an EDID read: the half line must not be
// completed by whatever a later connection sends, or a corrupted EDID would
// be saved and reported as saved.
TEST_F(ConnectionTest, hangUpDuringAnEdidReadEndsTheReadAndDropsTheHalfLine) {
    auto peer = peerAt(1);
    connection_.portButtonClicked();
    replies_.expectEdid(test::outputReadBack());
    ASSERT_TRUE(peer->write("OUT1 EDID DATA 00 ff ff"));
    ASSERT_TRUE(pumpUntil([&] { return replies_.pendingLine().size() == 23; }));
    peer->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return !state_.portOpen; }));
    expectClosed(kOpenPortText);

    EXPECT_FALSE(replies_.edidReadBack());
    EXPECT_TRUE(replies_.pendingLine().empty());
    for (const char byte : std::string_view(" ff ff ff 00 4c 2d\r\n")) {
        replies_.receive(static_cast<std::uint8_t>(byte));
    }
    EXPECT_TRUE(files_.saved.empty());
    EXPECT_TRUE(target_.calls.empty());
}

// Closing the port ends a pending EDID read too, and so does a search: an
// EDID read the switcher never answered must not keep the search from
// seeing the switcher's answer.
TEST_F(ConnectionTest, closingThePortOrSearchingEndsAPendingEdidRead) {
    auto com1 = peerAt(1);
    connection_.portButtonClicked();
    replies_.expectEdid(test::outputReadBack());
    ASSERT_TRUE(com1->write("OUT1 EDID DATA 00"));
    ASSERT_TRUE(pumpUntil([&] { return !replies_.pendingLine().empty(); }));
    connection_.portButtonClicked();
    EXPECT_FALSE(replies_.edidReadBack());
    EXPECT_TRUE(replies_.pendingLine().empty());

    // Read ordered with the port closed: nothing went out, nothing will come.
    replies_.expectEdid(test::outputReadBack());
    connection_.searchMachineClicked();
    EXPECT_FALSE(replies_.edidReadBack());
    ASSERT_EQ(com1->read(kProbeLine.size(), kArrival), kProbeLine);
    ASSERT_TRUE(com1->write("\r\n"));
    EXPECT_TRUE(pumpUntil([&] { return state_.portOpen; }));
}

// The failure closes the port under test at once; the search ends at its
// next tick instead of trying the next port.
TEST_F(ConnectionTest, errorDuringASearchClosesThePortAndEndsTheSearchAtTheNextTick) {
    auto com1 = peerAt(1);
    auto com2 = peerAt(2);
    connection_.searchMachineClicked();
    com1->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return !channel_.isOpen(); }));
    EXPECT_EQ(view_.buttonText, kOpenPortText);
    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_FALSE(state_.searchInProgress);
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::Search));
    EXPECT_EQ(channel_.linkNumber(), 1);
    EXPECT_EQ(com2->readAll(20ms, 100ms), "");
}

TEST_F(ConnectionTest, replyDispatchDropsBytesOfOtherPortsAndClosesThePortAtAByteFlaggedWithAnError) {
    auto peer = peerAt(1);
    connection_.portButtonClicked();
    struct Case {
        int comPort;
        bool admitted;
    };
    for (const Case c : {Case{0, false}, Case{100, false}, Case{-1, false}, Case{2, false}, Case{1, true}}) {
        SCOPED_TRACE(c.comPort);
        EXPECT_EQ(connection_.admitReceivedByte(c.comPort, false), c.admitted);
    }
    EXPECT_TRUE(state_.portOpen);

    // An open that cannot configure the line leaves the port open with the flag set.
    state_.line.baudRate = 12345;
    connection_.portButtonClicked();
    connection_.portButtonClicked();
    ASSERT_TRUE(channel_.portError());
    // A byte that came in before the flag went up is still handled.
    EXPECT_TRUE(connection_.admitReceivedByte(1, false));
    EXPECT_TRUE(state_.portOpen);
    EXPECT_FALSE(connection_.admitReceivedByte(1, true));
    expectClosed(kOpenPortText);
    EXPECT_FALSE(channel_.isOpen());
    // The rest of the burst finds the port closed.
    view_.buttonText = kClosePortText;
    EXPECT_FALSE(connection_.admitReceivedByte(1, true));
    EXPECT_EQ(view_.buttonText, kClosePortText);
}

TEST_F(ConnectionTest, commandsGoOutOnlyWhileThePortOpenFlagIsSet) {
    auto com1 = peerAt(1);
    const auto command = *TextCommand::fromBytes("\r\nSET OUT3  VS IN5 \r\n");
    EXPECT_FALSE(connection_.send(command));

    // Searching: the port is open and read, but not "open" for senders.
    connection_.searchMachineClicked();
    ASSERT_EQ(com1->read(kProbeLine.size(), kArrival), kProbeLine);
    EXPECT_FALSE(connection_.send(command));
    EXPECT_EQ(com1->readAll(20ms, 100ms), "");

    ASSERT_TRUE(com1->write("OK\n"));
    ASSERT_TRUE(pumpUntil([&] { return state_.portOpen; }));
    EXPECT_TRUE(connection_.send(command));
    EXPECT_EQ(com1->read(command.size(), kArrival), command.bytes());
}

} // namespace
} // namespace mc
