// The Win32 serial channel end to end, against the emulator on a COM port.
// Run by scripts/test.d/15-wine under Wine, where the COM ports are links to
// the emulators' pseudo-terminals; the environment names them:
//   MC_WIN_COM           COMn of an emulator answering normally
//   MC_WIN_HANGUP_COM    COMn of an emulator in hangup mode (--hangup-after 11)
//   MC_WIN_ABSENT_COM    COMn with no device behind it
//   MC_WIN_STATUS_REPLY  file with the emulator's reply to the status command,
//                        as it sent it to a native reader
//   MC_WIN_TCP           HOST:PORT where the MC_WIN_COM emulator takes TCP
//                        connections too
// Only the channel's public calls are used, so the test holds for any backend.
#include "link/commands.h"
#include "link/link_address.h"
#include "link/link_channel.h"
#include "link/tcp_backend.h"
#include "support/recording_sink.h"
#include "support/under_wine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <windows.h>

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;

constexpr std::string_view kStatusCommand = "\r\nGET STA\r\n";
constexpr auto kReplyWait = 5s;

int comFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : 0;
}

std::string statusReply() {
    const char* path = std::getenv("MC_WIN_STATUS_REPLY");
    if (path == nullptr) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Time this process has run on any processor, its port worker included.
std::chrono::microseconds processCpuTime() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32U) | t.dwLowDateTime;
    };
    return std::chrono::microseconds((ticks(kernel) + ticks(user)) / 10);
}

// Runs closeLink and waits at most `limit`. A close that never returns leaves
// the channel unusable and the program unable to end, so it ends here, saying
// why.
void closeWithin(LinkChannel& channel, std::chrono::milliseconds limit, const char* what) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> closed = done->get_future();
    std::thread([&channel, done] {
        channel.closeLink();
        done->set_value();
    }).detach();
    if (closed.wait_for(limit) == std::future_status::timeout) {
        std::fprintf(stderr, "FAILED: closing the port (%s) did not return within %lld ms\n", what,
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
}

// Records when the channel first told of a failure, and whether its error
// flag was set by then: after a failed port call the flag comes first, then
// the call.
class FlagWatchingSink : public RecordingSink {
public:
    explicit FlagWatchingSink(const LinkChannel& channel) : channel_(channel) {}

    void linkFailed(int linkNumber, std::string reason, std::stop_token stop) override {
        {
            const std::lock_guard lock(mutex_);
            if (!flaggedHandOver_ && channel_.portError()) {
                flaggedHandOver_ = std::chrono::steady_clock::now();
            }
        }
        RecordingSink::linkFailed(linkNumber, std::move(reason), stop);
    }

    [[nodiscard]] std::optional<std::chrono::steady_clock::time_point> flaggedHandOver() const {
        const std::lock_guard lock(mutex_);
        return flaggedHandOver_;
    }

private:
    const LinkChannel& channel_;
    mutable std::mutex mutex_;
    std::optional<std::chrono::steady_clock::time_point> flaggedHandOver_;
};

class Win32ChannelTest : public testing::Test {
protected:
    void SetUp() override {
        com_ = comFromEnvironment("MC_WIN_COM");
        if (com_ == 0) {
            GTEST_SKIP() << "MC_WIN_COM is not set: run me from scripts/test.d/15-wine";
        }
        reply_ = statusReply();
        ASSERT_FALSE(reply_.empty()) << "MC_WIN_STATUS_REPLY names no reply";
    }

    int com_ = 0;
    std::string reply_;
};

// Status round trips one after the other on a running channel, each reply
// byte for byte and under `linkNumber`; prints the received rate `over` the
// link (a report only: Wine is slow on a pseudo-terminal), then closes.
void expectStatusRoundTrips(LinkChannel& channel, RecordingSink& sink, int linkNumber, const std::string& reply,
                            const char* over) {
    constexpr int kRoundTrips = 50;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        ASSERT_EQ(channel.sendTextCommand(kStatusCommand), SendResult::Queued);
        ASSERT_TRUE(sink.waitForBytes(reply.size(), kReplyWait)) << "round trip " << i << ": " << sink.text();
        std::string received;
        std::size_t otherPort = 0;
        for (const RecordingSink::Received& r : sink.take()) {
            received.push_back(static_cast<char>(r.byte));
            otherPort += r.linkNumber != linkNumber ? 1 : 0;
        }
        ASSERT_EQ(received, reply) << "round trip " << i;
        ASSERT_EQ(otherPort, 0U) << "bytes handed over with another link's number";
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const double bytesPerSecond = static_cast<double>(reply.size()) * kRoundTrips / took.count();
    std::printf("received over %s %zu bytes in %d round trips: %.0f bytes/s\n", over, reply.size() * kRoundTrips,
                kRoundTrips, bytesPerSecond);

    // Nothing more follows the last reply.
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(sink.text().empty()) << sink.text();
    EXPECT_FALSE(channel.portError()) << channel.lastFailure();
    closeWithin(channel, 2000ms, "after round trips");
    EXPECT_EQ(channel.state(), LinkChannel::State::Closed);
}

TEST_F(Win32ChannelTest, statusRoundTripIsByteForByte) {
    RecordingSink sink;
    LinkChannel channel;
    ASSERT_TRUE(channel.openLink(sink, com_, LineSettings{}));
    ASSERT_TRUE(channel.startPortWorker());
    EXPECT_EQ(channel.state(), LinkChannel::State::Running);
    expectStatusRoundTrips(channel, sink, com_, reply_, ("COM" + std::to_string(com_)).c_str());
}

// The same switcher on its TCP side: the same bytes as on the serial line.
TEST_F(Win32ChannelTest, statusRoundTripOverTcpIsByteForByte) {
    const char* tcp = std::getenv("MC_WIN_TCP");
    ASSERT_NE(tcp, nullptr) << "MC_WIN_TCP is not set";
    const LinkAddressResult parsed = parseLinkAddress(tcp);
    const auto* address = std::get_if<LinkAddress>(&parsed);
    ASSERT_TRUE(address != nullptr && std::holds_alternative<TcpLinkAddress>(*address)) << tcp;
    RecordingSink sink;
    LinkChannel channel;
    ASSERT_TRUE(
        channel.openLink(sink, kNetworkLinkNumber, makeTcpBackend(std::get<TcpLinkAddress>(*address)), LineSettings{}));
    ASSERT_TRUE(channel.startPortWorker());
    expectStatusRoundTrips(channel, sink, kNetworkLinkNumber, reply_, "TCP");
}

TEST_F(Win32ChannelTest, sixtyFourCommandsWaitForTheWorkerAndTheNextIsRefused) {
    RecordingSink sink;
    LinkChannel channel;
    ASSERT_TRUE(channel.openLink(sink, com_, LineSettings{}));
    // Routes each output to the input it already shows (the emulator's state
    // stays as the status reply has it), then asks for the status.
    for (std::size_t i = 0; i + 1 < kPendingCommandLimit; ++i) {
        const int port = static_cast<int>(i % 16) + 1;
        const std::optional<TextCommand> route = routingCommand(port, port);
        ASSERT_TRUE(route);
        ASSERT_EQ(channel.sendTextCommand(route->bytes()), SendResult::Queued) << i;
    }
    ASSERT_EQ(channel.sendTextCommand(kStatusCommand), SendResult::Queued);
    EXPECT_EQ(channel.sendTextCommand(kStatusCommand), SendResult::QueueFull);

    // Each write purges unread input first, so only the last reply is sure to
    // arrive whole: the queue has drained once it has.
    ASSERT_TRUE(channel.startPortWorker());
    const auto deadline = std::chrono::steady_clock::now() + 2 * kReplyWait;
    auto endsWithTheStatus = [&] {
        const std::string text = sink.text();
        return text.size() >= reply_.size() && text.compare(text.size() - reply_.size(), reply_.size(), reply_) == 0;
    };
    while (!endsWithTheStatus() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(endsWithTheStatus()) << sink.text();
    EXPECT_EQ(channel.sendTextCommand(kStatusCommand), SendResult::Queued);
    EXPECT_FALSE(channel.portError());
    closeWithin(channel, 2000ms, "after the queue drained");
}

TEST_F(Win32ChannelTest, anAbsentPortIsRefusedAndLeavesTheErrorFlagAlone) {
    const int absent = comFromEnvironment("MC_WIN_ABSENT_COM");
    ASSERT_NE(absent, 0) << "MC_WIN_ABSENT_COM is not set";
    RecordingSink sink;
    LinkChannel channel;
    EXPECT_FALSE(channel.openLink(sink, absent, LineSettings{}));
    EXPECT_EQ(channel.state(), LinkChannel::State::Closed);
    EXPECT_FALSE(channel.portError());
    EXPECT_FALSE(channel.startPortWorker());
    EXPECT_EQ(channel.sendTextCommand(kStatusCommand), SendResult::NoWriteBuffer);
}

TEST_F(Win32ChannelTest, aSecondOpenOfAPortAlreadyHeldFails) {
    if (test::runningUnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive opens (share mode 0) of a COM port";
    }
    RecordingSink sink;
    LinkChannel channel;
    ASSERT_TRUE(channel.openLink(sink, com_, LineSettings{}));
    RecordingSink otherSink;
    LinkChannel other;
    EXPECT_FALSE(other.openLink(otherSink, com_, LineSettings{}));
    EXPECT_EQ(other.state(), LinkChannel::State::Closed);
}

TEST_F(Win32ChannelTest, closingAnIdlePortReturnsPromptly) {
    RecordingSink sink;
    LinkChannel channel;
    ASSERT_TRUE(channel.openLink(sink, com_, LineSettings{}));
    ASSERT_TRUE(channel.startPortWorker());
    // The worker sits in its wait for a port event. A report, not a check:
    // on a pseudo-terminal Wine ends every such wait within milliseconds (it
    // has no modem lines to watch), so the worker waits again and again.
    const auto cpuBefore = processCpuTime();
    std::this_thread::sleep_for(1s);
    const auto cpu = processCpuTime() - cpuBefore;
    std::printf("processor time in an idle second: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(cpu).count()));
    const auto start = std::chrono::steady_clock::now();
    closeWithin(channel, 2000ms, "idle");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(channel.state(), LinkChannel::State::Closed);
    // The port is free again.
    EXPECT_TRUE(channel.openLink(sink, com_, LineSettings{}));
    closeWithin(channel, 2000ms, "reopened, worker never started");
}

TEST_F(Win32ChannelTest, farEndHangUpIsNoticedWithinASecondWithoutSpinning) {
    const int hangupCom = comFromEnvironment("MC_WIN_HANGUP_COM");
    ASSERT_NE(hangupCom, 0) << "MC_WIN_HANGUP_COM is not set";
    LinkChannel channel;
    FlagWatchingSink sink(channel);
    ASSERT_TRUE(channel.openLink(sink, hangupCom, LineSettings{}));
    ASSERT_TRUE(channel.startPortWorker());

    // The emulator answers this command, waits until its reply has been read
    // and then drops the line.
    ASSERT_EQ(channel.sendTextCommand(kStatusCommand), SendResult::Queued);
    ASSERT_TRUE(sink.waitForBytes(reply_.size(), kReplyWait)) << sink.text();
    const auto replied = std::chrono::steady_clock::now();
    EXPECT_EQ(sink.text().substr(0, reply_.size()), reply_);

    while (!sink.flaggedHandOver() && std::chrono::steady_clock::now() - replied < 2s) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(channel.portError()) << "the hang-up was not noticed";
    const auto flagged = sink.flaggedHandOver();
    EXPECT_TRUE(flagged) << "no failure was told with the error flag set: the owner never learns of it";
    if (flagged) {
        EXPECT_LT(*flagged - replied, 1s);
        std::printf(
            "hang-up noticed %lld ms after the last reply\n",
            static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(*flagged - replied).count()));
    }
    EXPECT_EQ(sink.received().size(), reply_.size()) << "no byte stands for the failure";
    EXPECT_EQ(sink.failures().size(), 1U) << "told once, after the reply";

    const auto cpuBefore = processCpuTime();
    std::this_thread::sleep_for(1s);
    const auto cpu = processCpuTime() - cpuBefore;
    std::printf("processor time in the second after the hang-up: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(cpu).count()));
    EXPECT_LT(cpu, 100ms) << "the worker keeps polling the hung-up line";
    EXPECT_EQ(sink.received().size(), reply_.size()) << "nothing more after the hang-up";
    EXPECT_EQ(sink.failures().size(), 1U) << "the hang-up is told once";

    closeWithin(channel, 2000ms, "after the hang-up");
    EXPECT_TRUE(channel.portError()); // cleared only by the console
}

} // namespace
} // namespace mc
