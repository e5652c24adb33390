// The connection logic over fake lines: no pseudo-terminal, no sleeps; each
// case takes a few milliseconds.
#include "link/commands.h"
#include "session/connection.h"
#include "session/traffic_format.h"
#include "session/traffic_log.h"
#include "support/fake_connection_view.h"
#include "support/fake_line.h"
#include "support/recording_sink.h"

#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::FakeLine;
using test::FakeView;

constexpr auto kArrival = 5s;
// The status query every port a search opens is sent.
constexpr std::string_view kProbeLine = "\r\nGET STA\r\n";

struct LogEntry {
    LogLevel level;
    std::string source;
    std::string text;
};

class ConnectionFakeLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        setLogSink([this](LogLevel level, std::string_view source, std::string_view text) {
            const std::lock_guard lock(logMutex_);
            log_.push_back({level, std::string(source), std::string(text)});
        });
    }
    void TearDown() override { setLogSink({}); }

    // Hands what the channel has delivered to the connection, as the window
    // thread does, until `done` holds. A complete line while a search waits
    // confirms it, as reply dispatch does.
    template <class Done> bool pumpUntil(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + kArrival;
        for (;;) {
            for (const auto& r : sink_.take()) {
                if (connection_.admitReceivedByte(r.linkNumber, channel_.portError()) && r.byte == '\n' &&
                    state_.searchInProgress) {
                    connection_.confirmSearch();
                }
            }
            for (const auto& f : sink_.takeFailures()) {
                connection_.linkFailed(f.linkNumber, f.reason);
            }
            if (done()) {
                return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || !sink_.waitForNews(left)) {
                return done();
            }
        }
    }

    std::vector<LogEntry> logged() {
        const std::lock_guard lock(logMutex_);
        return log_;
    }
    bool logged(LogLevel level, const std::string& text) {
        for (const LogEntry& e : logged()) {
            if (e.level == level && e.source == "connection" && e.text == text) {
                return true;
            }
        }
        return false;
    }

    void expectOpenOn(int comPort) {
        EXPECT_TRUE(state_.portOpen);
        EXPECT_EQ(view_.portIcon, true);
        EXPECT_EQ(view_.buttonText, kClosePortText);
        EXPECT_EQ(channel_.state(), LinkChannel::State::Running);
        EXPECT_EQ(channel_.linkNumber(), comPort);
    }

    std::mutex logMutex_;
    std::vector<LogEntry> log_;
    test::FakeLines lines_;
    ConsoleState state_;
    FakeView view_;
    test::RecordingSink sink_;
    LinkChannel channel_{lines_.factory()};
    Connection connection_{state_, channel_, sink_, view_};
};

TEST_F(ConnectionFakeLineTest, farEndFailureClosesThePortAsSoonAsItIsToldAndLogsWhy) {
    FakeLine& line = lines_.add(1);
    connection_.portButtonClicked();
    expectOpenOn(1);

    line.failFarEnd();
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    EXPECT_TRUE(state_.portOpen); // until the window thread is told
    ASSERT_EQ(sink_.failures().size(), 1U);
    EXPECT_EQ(sink_.failures()[0].reason, "read: Input/output error");
    EXPECT_TRUE(sink_.received().empty()); // told by the call, not by a byte
    ASSERT_TRUE(pumpUntil([&] { return !state_.portOpen; }));

    EXPECT_EQ(view_.portIcon, false);
    EXPECT_EQ(view_.buttonText, kOpenPortText);
    EXPECT_TRUE(view_.running.empty());
    EXPECT_FALSE(channel_.isOpen());
    EXPECT_FALSE(line.isOpen());
    EXPECT_TRUE(view_.messages.empty()); // a port error shows no message box
    EXPECT_TRUE(logged(LogLevel::Error, "COM1 failed, closing the port: read: Input/output error"));

    // Once the far end is back, the port button opens it again, with the
    // flag cleared.
    line.restoreFarEnd();
    connection_.portButtonClicked();
    expectOpenOn(1);
    EXPECT_FALSE(channel_.portError());
}

TEST_F(ConnectionFakeLineTest, searchOverThreeLinesSettlesOnTheOneThatAnswers) {
    FakeLine& first = lines_.add(1);
    FakeLine& second = lines_.add(2);
    FakeLine& third = lines_.add(3);
    third.answerEachWrite("\r\nSTA OK\r\n");
    state_.comPort = 9;

    connection_.searchMachineClicked();
    EXPECT_EQ(view_.statusText, kSearchingStatusText);
    EXPECT_EQ(view_.running[ConsoleTimer::Search], kFirstProbeWait);
    ASSERT_TRUE(first.waitWritten(kProbeLine.size(), kArrival));
    EXPECT_EQ(first.written(), kProbeLine);

    connection_.timerFired(ConsoleTimer::Search); // COM1 stayed silent
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(view_.running[ConsoleTimer::Search], kNextProbeWait);
    ASSERT_TRUE(second.waitWritten(kProbeLine.size(), kArrival));

    connection_.timerFired(ConsoleTimer::Search); // so did COM2
    EXPECT_FALSE(second.isOpen());
    ASSERT_TRUE(pumpUntil([&] { return !state_.searchInProgress; }));

    expectOpenOn(3);
    EXPECT_EQ(third.written(), kProbeLine);
    EXPECT_EQ(view_.selectedItem, 2);
    EXPECT_EQ(view_.statusText, kClearedStatusText);
    EXPECT_FALSE(view_.isRunning(ConsoleTimer::Search));
    EXPECT_TRUE(view_.messages.empty());
    EXPECT_EQ(connection_.savedComPort(), 9);
    // Every line was purged at open and at worker start, and before the probe.
    EXPECT_EQ(first.journal(), (std::vector<std::string>{"open", "configure", "purge all", "purge all", "purge input",
                                                         "write " + std::string(kProbeLine), "close"}));
}

TEST_F(ConnectionFakeLineTest, searchPastTheLastLineLogsAbsentPortsQuietlyAndSaysNoDevice) {
    lines_.add(2);
    connection_.searchMachineClicked();
    EXPECT_EQ(channel_.linkNumber(), 2);
    EXPECT_TRUE(logged(LogLevel::Debug, "COM1 cannot be opened: COM1 names no device here"));
    connection_.timerFired(ConsoleTimer::Search);
    EXPECT_EQ(view_.messages, std::vector<std::string>{kNoDeviceMessage});
    EXPECT_EQ(state_.comPort, 1); // the saved port
    for (const LogEntry& e : logged()) {
        EXPECT_EQ(e.level, LogLevel::Debug) << e.text;
    }
}

TEST_F(ConnectionFakeLineTest, closeDuringAHandOverReturnsAndItsBytesAreDropped) {
    FakeLine& line = lines_.add(1);
    connection_.portButtonClicked();
    expectOpenOn(1);
    sink_.hold();
    line.feed("\r\nOUT1 VS IN1\r\n");
    ASSERT_TRUE(sink_.waitForHandOversStarted(1, kArrival));

    connection_.portButtonClicked(); // the worker is inside the hand-over
    EXPECT_FALSE(state_.portOpen);
    EXPECT_EQ(view_.buttonText, kTurnOnPortText);
    EXPECT_EQ(channel_.state(), LinkChannel::State::Closed);
    EXPECT_FALSE(line.isOpen());
    // What the hand-over still passed on belongs to a closed port.
    for (const auto& r : sink_.take()) {
        EXPECT_FALSE(connection_.admitReceivedByte(r.linkNumber, channel_.portError()));
    }

    sink_.release();
    connection_.portButtonClicked();
    expectOpenOn(1);
    line.feed("x");
    ASSERT_TRUE(sink_.waitForBytes(1, kArrival));
    EXPECT_EQ(sink_.text(), "x");
}

TEST_F(ConnectionFakeLineTest, aPortHeldElsewhereShowsTheMessageAndLogsTheReason) {
    lines_.add(1).refuseOpens();
    connection_.portButtonClicked();
    EXPECT_EQ(view_.messages, std::vector<std::string>{kPortUnavailableMessage});
    EXPECT_FALSE(state_.portOpen);
    EXPECT_TRUE(logged(LogLevel::Warning, "COM1 cannot be opened: open fake line: in use by another program"));

    connection_.comSelectionChanged(4);
    EXPECT_EQ(view_.messages.size(), 2U);
    EXPECT_TRUE(logged(LogLevel::Warning, "COM5 cannot be opened: COM5 names no device here"));
}

TEST_F(ConnectionFakeLineTest, aSendRefusedOnAnOpenPortIsLoggedWithItsReasonNotTakenAsAClosedPort) {
    // A write buffer too small for any routing command: the channel refuses it
    // although the port is open.
    state_.line.writeBufferSize = 8;
    lines_.add(1);
    connection_.portButtonClicked();
    expectOpenOn(1);

    const auto command = routingCommand(3, 5);
    ASSERT_TRUE(command);
    EXPECT_FALSE(connection_.send(*command));
    EXPECT_TRUE(
        logged(LogLevel::Warning, "command not sent (longer than the write buffer): " + std::string(command->bytes())));
    EXPECT_TRUE(view_.messages.empty());

    // A closed port refuses without a word: the pages say so themselves.
    connection_.portButtonClicked();
    {
        const std::lock_guard lock(logMutex_);
        log_.clear();
    }
    EXPECT_FALSE(connection_.send(*command));
    EXPECT_TRUE(logged().empty());
}

// What the traffic monitor sees of the connection: opens, commands (the
// probe included), a refused open with its reason, the port error and closes,
// each on the link it concerns. The search's absent ports make no rows.
TEST_F(ConnectionFakeLineTest, trafficObserverSeesCommandsAndLinkEventsInOrder) {
    TrafficLog traffic;
    connection_.setTrafficObserver(&traffic);
    FakeLine& line = lines_.add(2);
    lines_.add(3).refuseOpens();

    connection_.searchMachineClicked(); // COM1 absent, COM2 opens and is probed
    // Answered once the probe is out: the purge before its write would
    // discard an earlier answer.
    ASSERT_TRUE(line.waitWritten(kProbeLine.size(), kArrival));
    line.feed("\r\nSTA OK\r\n");
    ASSERT_TRUE(pumpUntil([&] { return !state_.searchInProgress; }));
    ASSERT_TRUE(connection_.send(*TextCommand::fromBytes("\r\nSET OUT1  VS IN2 \r\n")));
    connection_.comSelectionChanged(2); // COM3: held elsewhere
    connection_.portButtonClicked();    // nothing open: tries COM3 again
    connection_.setTrafficObserver(nullptr);
    connection_.portButtonClicked();

    std::vector<std::string> rows;
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        const TrafficRow& row = traffic.row(i);
        rows.push_back(std::string(trafficDirectionName(row.direction)) + " " + row.link + " " + row.mark.text + " " +
                       visibleBytes(row.bytes));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "event COM2 opened ",
                        "event COM2 search probing ",
                        "sent COM2  \\r\\nGET STA\\r\\n",
                        "sent COM2  \\r\\nSET OUT1  VS IN2 \\r\\n",
                        "event COM2 closed ",
                        "event COM3 open failed open fake line: in use by another program",
                        "event COM3 open failed open fake line: in use by another program",
                    }));
}

} // namespace
} // namespace mc
