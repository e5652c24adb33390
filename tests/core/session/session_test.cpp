// The core session with no window at all: bytes in, page views called,
// commands out, over fake lines.
#include "link/commands.h"
#include "session/session.h"
#include "support/edid_capture_fakes.h"
#include "support/fake_connection_view.h"
#include "support/fake_line.h"
#include "support/recording_sink.h"
#include "support/recording_target.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace mc {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;
constexpr auto kArrival = 5s;

class SessionTest : public testing::Test {
protected:
    SessionTest() {
        session_.showRepliesOn(PageViews{{target_}, target_, target_, target_});
        line_ = &lines_.add(1);
    }

    // What the port worker received, handed to the session in its bursts.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kArrival;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            for (const auto& r : sink_.take()) {
                const std::uint8_t byte = r.byte;
                session_.receive({&byte, 1}, r.linkNumber, session_.channel().portError());
            }
            for (const auto& f : sink_.takeFailures()) {
                session_.linkFailed(f.linkNumber, f.reason);
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    void receive(std::string_view bytes, int link = 1) {
        session_.receive({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, link, false);
    }

    test::FakeLines lines_;
    test::FakeLine* line_ = nullptr;
    test::RecordingSink sink_;
    test::FakeView view_;
    test::RecordingTarget target_;
    test::MemoryEdidFiles files_;
    Session session_{sink_, view_, files_, lines_.factory()};
};

TEST_F(SessionTest, bytesInReachThePagesAndTheStateModelAndCommandsGoOut) {
    session_.connection().portButtonClicked();
    ASSERT_TRUE(session_.state().portOpen);

    // A burst that ends inside a line: the rest comes with the next one.
    receive("\r\nOUT3 VS IN5\r\nOUT16 EXA D");
    receive("IS\r\n");
    EXPECT_EQ(target_.calls,
              (Calls{"setOutputSelection(3,4)", "redrawRouting", "setAudioState(16,mute)", "redrawAudio"}));
    ASSERT_TRUE(session_.switcher().route(3));
    EXPECT_EQ(session_.switcher().route(3)->value, 4);
    EXPECT_EQ(session_.switcher().audio(16)->value, AudioState::Mute);

    // Bytes of another link (one closed meanwhile) reach nothing.
    target_.calls.clear();
    receive("OUT4 VS IN1\r\n", 2);
    EXPECT_TRUE(target_.calls.empty());

    const TextCommand command = *routingCommand(2, 7);
    EXPECT_TRUE(session_.send(command));
    EXPECT_TRUE(line_->waitWritten(command.size(), kArrival));
    EXPECT_EQ(line_->written(), command.bytes());
}

TEST_F(SessionTest, theSwitchersAnswersOverTheLineFillTheStateAndACloseMakesThemStale) {
    line_->answerEachWrite("\r\nOUT1 VS IN2\r\nTIP 5000\r\n");
    session_.connection().portButtonClicked();
    ASSERT_TRUE(session_.send(probeCommand()));
    ASSERT_TRUE(pumpUntil([&] { return session_.switcher().tcpPort().has_value(); }));
    EXPECT_EQ(session_.switcher().route(1)->value, 1);
    EXPECT_FALSE(session_.switcher().route(1)->stale);
    EXPECT_EQ(target_.calls.front(), "setOutputSelection(1,1)");

    session_.connection().portButtonClicked(); // closes
    EXPECT_FALSE(session_.state().portOpen);
    EXPECT_TRUE(session_.switcher().route(1)->stale);
    EXPECT_TRUE(session_.switcher().tcpPort()->stale);
    // Closed: the command is dropped, not queued for the next connection.
    EXPECT_FALSE(session_.send(probeCommand()));
}

// The unfinished line of one connection never reaches into the next: neither
// its bytes nor the mark of an over-long line.
TEST_F(SessionTest, aCloseEndsTheUnfinishedLineAndItsMark) {
    session_.connection().portButtonClicked();
    receive(std::string(kReplyLineLimit + 10, 'x'));
    session_.connection().portButtonClicked(); // closes
    session_.connection().portButtonClicked(); // opens again
    ASSERT_TRUE(session_.state().portOpen);
    EXPECT_TRUE(session_.replies()->pendingLine().empty());
    receive("OUT3 VS IN5\r\n");
    EXPECT_EQ(target_.calls, (Calls{"setOutputSelection(3,4)", "redrawRouting"}));
}

// A failed line is told by one call after the bytes read before it: those
// still count, the port closes at once, and a failure told for a link closed
// and opened again since leaves the new one alone.
TEST_F(SessionTest, aLinkFailureClosesThePortAfterTheBytesReadBeforeIt) {
    session_.connection().portButtonClicked();
    line_->feed("\r\nOUT3 VS IN5\r\n");
    ASSERT_TRUE(pumpUntil([&] { return !target_.calls.empty(); }));
    line_->failFarEnd();
    ASSERT_TRUE(pumpUntil([&] { return !session_.state().portOpen; }));
    EXPECT_EQ(view_.buttonText, kOpenPortText);
    EXPECT_EQ(view_.portIcon, false);
    EXPECT_FALSE(session_.channel().isOpen());
    EXPECT_TRUE(view_.messages.empty()); // a serial port error shows no message box
    EXPECT_EQ(session_.switcher().route(3)->value, 4);
    EXPECT_TRUE(session_.switcher().route(3)->stale);

    line_->restoreFarEnd();
    session_.connection().portButtonClicked();
    ASSERT_TRUE(session_.state().portOpen);
    session_.linkFailed(1, "told late");
    EXPECT_TRUE(session_.state().portOpen);
    EXPECT_EQ(view_.buttonText, kClosePortText);
}

} // namespace
} // namespace mc
