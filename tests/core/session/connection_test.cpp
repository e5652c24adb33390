#include "session/connection.h"
#include "session/reply_dispatch.h"
#include "support/edid_capture_fakes.h"
#include "support/pty_peer.h"
#include "support/recording_sink.h"
#include "support/recording_target.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;

constexpr auto kArrival = 5s;

// Records what the connection shows; timers tick only when the test says so.
class FakeView : public ConnectionView {
public:
    void showPortIcon(bool open) override { portIcon = open; }
    void setPortButtonText(std::string_view text) override { buttonText = text; }
    void setStatusText(std::string_view text) override { statusText = text; }
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    void selectComItem(int index) override { selectedItem = index; }
    void startConsoleTimer(ConsoleTimer timer, std::chrono::milliseconds period) override {
        running[timer] = period;
        started.emplace_back(timer, period);
    }
    void stopConsoleTimer(ConsoleTimer timer) override { running.erase(timer); }
    void pauseWindowThread(std::chrono::milliseconds duration) override { pauses.push_back(duration); }

    [[nodiscard]] bool isRunning(ConsoleTimer timer) const { return running.count(timer) != 0; }

    std::optional<bool> portIcon;
    std::string buttonText = kTurnOnPortText;
    std::string statusText;
    std::vector<std::string> messages;
    std::optional<int> selectedItem;
    std::map<ConsoleTimer, std::chrono::milliseconds> running;
    std::vector<std::pair<ConsoleTimer, std::chrono::milliseconds>> started;
    std::vector<std::chrono::milliseconds> pauses;
};

class ConnectionTest : public ::testing::Test {
protected:
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
                if (connection_.admitReceivedByte(r.comPort, channel_.portError())) {
                    replies_.receive(r.byte);
                }
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
        EXPECT_EQ(channel_.state(), SerialChannel::State::Running);
        EXPECT_EQ(channel_.comPort(), comPort);
    }

    test::PortDirectory ports_;
    ConsoleState state_;
    FakeView view_;
    test::RecordingSink sink_;
    SerialChannel channel_;
    Connection connection_{state_, channel_, sink_, view_};

    // The reply path as the console window wires it: a line that confirms a
    // search reaches the connection.
    struct SearchConfirmingTarget : test::RecordingTarget {
        explicit SearchConfirmingTarget(Connection& c) : connection(c) {}
        void confirmSearch(int) override { connection.confirmSearch(); }
        Connection& connection;
    } target_{connection_};
    test::MemoryEdidFiles files_;
    ReplyDispatch replies_{state_, target_, files_};
};

TEST_F(ConnectionTest, portButtonOnAnAbsentPortSaysSoAndStaysClosed) {
    connection_.portButtonClicked();
    EXPECT_EQ(view_.messages, std::vector<std::string>{kPortUnavailableMessage});
    expectClosed();
    EXPECT_FALSE(channel_.isOpen());
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
    EXPECT_EQ(view_.pauses, std::vector<std::chrono::milliseconds>{kSelectionPause});

    connection_.comSelectionChanged(3);
    expectClosed();
    EXPECT_EQ(channel_.state(), SerialChannel::State::OpenIdle); // held, not read
    EXPECT_EQ(channel_.comPort(), 4);
    EXPECT_EQ(view_.pauses.size(), 1U);

    connection_.portButtonClicked();
    expectOpenOn(4);
    ASSERT_TRUE(com4->write("x"));
    EXPECT_TRUE(sink_.waitForBytes(1, kArrival));
    EXPECT_EQ(sink_.received().front().comPort, 4);

    // A selection that cannot be opened closes whatever was open.
    connection_.comSelectionChanged(9);
    EXPECT_EQ(view_.messages, std::vector<std::string>{kPortUnavailableMessage});
    expectClosed();
    EXPECT_FALSE(channel_.isOpen());
    EXPECT_EQ(state_.comPort, 10);
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
    EXPECT_EQ(channel_.comPort(), 2);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], kFirstProbeWait);
    EXPECT_EQ(com2->read(kProbeLine.size(), kArrival), kProbeLine);

    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_EQ(channel_.comPort(), 5);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], kNextProbeWait);
    EXPECT_EQ(com5->read(kProbeLine.size(), kArrival), kProbeLine);

    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_EQ(channel_.comPort(), 7);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], kNextProbeWait);
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
    EXPECT_EQ(channel_.comPort(), 3);
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
    ASSERT_EQ(channel_.comPort(), 2);

    pumpUntil([] { return false; }, 50ms);
    EXPECT_TRUE(state_.searchInProgress);
    EXPECT_FALSE(state_.portOpen);
    EXPECT_TRUE(state_.replyLine.empty());

    ASSERT_TRUE(com2->write("\n"));
    EXPECT_TRUE(pumpUntil([&] { return state_.portOpen; }));
    EXPECT_EQ(view_.selectedItem, 1);
}

TEST_F(ConnectionTest, hangUpClosesThePortAtTheNextByteAndRelabelsTheButton) {
    auto peer = peerAt(1);
    connection_.portButtonClicked();
    expectOpenOn(1);
    peer->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return view_.isRunning(ConsoleTimer::ErrorClose); }));
    EXPECT_EQ(view_.running[ConsoleTimer::ErrorClose], kErrorClosePeriod);
    EXPECT_TRUE(state_.portOpen); // not until the timer

    connection_.timerFired(ConsoleTimer::ErrorClose);
    expectClosed(kOpenPortText);
    EXPECT_FALSE(channel_.isOpen());
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::ErrorClose));

    // A tick without the flag only stops the timer.
    channel_.clearPortError();
    view_.buttonText = kClosePortText;
    connection_.timerFired(ConsoleTimer::ErrorClose);
    EXPECT_EQ(view_.buttonText, kClosePortText);
}

// A hang-up in the middle of an EDID read: the half line must not be
// completed by whatever a later connection sends, or a corrupted EDID would
// be saved and reported as saved.
TEST_F(ConnectionTest, hangUpDuringAnEdidReadEndsTheReadAndDropsTheHalfLine) {
    auto peer = peerAt(1);
    connection_.portButtonClicked();
    state_.edidFileName = "Matrix_EDID_out1_%02d.bin";
    state_.edidToFile = true;
    ASSERT_TRUE(peer->write("OUT1 EDID DATA 00 ff ff"));
    ASSERT_TRUE(pumpUntil([&] { return state_.replyLine.size() == 23; }));
    peer->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return view_.isRunning(ConsoleTimer::ErrorClose); }));
    connection_.timerFired(ConsoleTimer::ErrorClose);
    expectClosed(kOpenPortText);

    EXPECT_FALSE(state_.edidToFile);
    EXPECT_TRUE(state_.replyLine.empty());
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
    state_.edidToFile = true;
    ASSERT_TRUE(com1->write("OUT1 EDID DATA 00"));
    ASSERT_TRUE(pumpUntil([&] { return !state_.replyLine.empty(); }));
    connection_.portButtonClicked();
    EXPECT_FALSE(state_.edidToFile);
    EXPECT_TRUE(state_.replyLine.empty());

    // Read ordered with the port closed: nothing went out, nothing will come.
    state_.edidToFile = true;
    connection_.searchMachineClicked();
    EXPECT_FALSE(state_.edidToFile);
    ASSERT_EQ(com1->read(kProbeLine.size(), kArrival), kProbeLine);
    ASSERT_TRUE(com1->write("\r\n"));
    EXPECT_TRUE(pumpUntil([&] { return state_.portOpen; }));
}

TEST_F(ConnectionTest, errorDuringASearchEndsItAtTheNextTickWithThePortStillOpen) {
    auto com1 = peerAt(1);
    auto com2 = peerAt(2);
    connection_.searchMachineClicked();
    com1->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return channel_.portError(); }));
    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_FALSE(state_.searchInProgress);
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::Search));
    EXPECT_EQ(channel_.comPort(), 1);
    EXPECT_TRUE(channel_.isOpen());
    EXPECT_EQ(com2->readAll(20ms, 100ms), "");
}

TEST_F(ConnectionTest, replyDispatchDropsBytesOfOtherPortsAndStartsTimer5OnAnError) {
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
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::ErrorClose));

    // An open that cannot configure the line leaves the port open with the flag set.
    state_.line.baudRate = 12345;
    connection_.portButtonClicked();
    connection_.portButtonClicked();
    ASSERT_TRUE(channel_.portError());
    // A byte that came in before the flag went up is still handled.
    EXPECT_TRUE(connection_.admitReceivedByte(1, false));
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::ErrorClose));
    EXPECT_FALSE(connection_.admitReceivedByte(1, true));
    EXPECT_TRUE(view_.isRunning(ConsoleTimer::ErrorClose));

    // Further bytes do not restart it, so a steady stream cannot hold off the close.
    EXPECT_FALSE(connection_.admitReceivedByte(1, true));
    auto timer5Starts = [&] {
        return std::count_if(view_.started.begin(), view_.started.end(),
                             [](const auto& s) { return s.first == ConsoleTimer::ErrorClose; });
    };
    EXPECT_EQ(timer5Starts(), 1);
    connection_.timerFired(ConsoleTimer::ErrorClose);
    EXPECT_FALSE(channel_.isOpen());
    // After the close, the next error starts it afresh.
    state_.line.baudRate = 12345;
    connection_.portButtonClicked();
    ASSERT_TRUE(channel_.portError());
    EXPECT_FALSE(connection_.admitReceivedByte(1, true));
    EXPECT_EQ(timer5Starts(), 2);
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
