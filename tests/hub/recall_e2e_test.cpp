// A preset recall by the hub's own parts (the link owner and the switchboard,
// driven by a small loop in place of the hub's event loop) against the
// emulator on a pseudo-terminal: what each output's result says is what the
// switcher did.
#include "link/commands.h"
#include "link_owner.h"
#include "support/pty_peer.h"
#include "support/switcher_process.h"
#include "switchboard.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>

namespace mc::hub {
namespace {

using namespace std::chrono_literals;
using test::PortDirectory;
using test::SwitcherProcess;

// The event loop's part: work posted from the link's worker runs here, on
// the test's thread, and the switchboard's deadlines are kept.
class TestLoop {
public:
    void post(std::function<void()> work) {
        const std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
        ready_.notify_all();
    }

    // Runs posted work until `done` holds or the time is up.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, Switchboard& board) {
        const auto deadline = SteadyClock::now() + timeout;
        while (!done()) {
            if (SteadyClock::now() >= deadline) {
                return false;
            }
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                ready_.wait_for(lock, 10ms, [this] { return !work_.empty(); });
                if (!work_.empty()) {
                    work = std::move(work_.front());
                    work_.pop_front();
                }
            }
            if (work) {
                work();
            }
            board.expire(SteadyClock::now());
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> work_;
};

class LinkWires final : public SwitchboardWires {
public:
    bool writeToLink(std::string_view bytes) override {
        return link != nullptr && link->send(bytes) == SendResult::Queued;
    }
    void writeToClient(ClientId /*client*/, std::string_view /*bytes*/) override {}
    LinkOwner* link = nullptr;
};

std::optional<int> inputOf(const Switchboard& board, int output) {
    const auto& route = board.state().route(output);
    return route && route->value ? std::optional<int>(*route->value + 1) : std::nullopt;
}

std::string route(int output, int input) {
    return std::string(routingCommand(output, input)->bytes());
}

TEST(RecallE2e, aRecallWithALockedAndAnUnansweredOutputReportsEveryOutput) {
    PortDirectory ports;
    SwitcherProcess::Options simOptions;
    simOptions.portDirectory = ports.path();
    simOptions.extra = {"--unanswered-output", "4"};
    SwitcherProcess sim(std::move(simOptions));
    ASSERT_TRUE(sim.ready()) << sim.startupOutput();

    TestLoop loop;
    LinkWires wires;
    Switchboard board(wires);
    bool up = false;
    LinkOwner link(
        SerialLinkAddress{0, ports.portPath(1)}, [&](std::function<void()> work) { loop.post(std::move(work)); },
        LinkOwner::Events{[&] {
                              up = true;
                              board.linkUp(SteadyClock::now());
                          },
                          [&](std::string_view bytes) { board.linkBytes(bytes, SteadyClock::now()); },
                          [&](const std::string& reason) { ADD_FAILURE() << "link failed: " << reason; }});
    wires.link = &link;
    link.open();
    ASSERT_TRUE(loop.runUntil([&] { return up && board.isFresh(board.state().route(16)); }, 5s, board));

    Site site;
    ASSERT_TRUE(site.setLocked(1, true).ok());
    ASSERT_TRUE(site.savePreset(Preset{"Lecture", {{1, 3, {}}, {2, 2, {}}, {3, 6, {}}, {4, 7, {}}, {5, 8, {}}}}).ok());
    board.useSite(&site);
    const auto planned = site.planRecall("Lecture", board.currentRoutes());
    ASSERT_TRUE(planned.ok());
    std::optional<RecallReport> report;
    const auto start = SteadyClock::now();
    board.recall(
        planned.plan, [&](const RecallReport& done) { report = done; }, SteadyClock::now());
    ASSERT_TRUE(loop.runUntil([&] { return report.has_value(); }, 10s, board));
    // Output 4's silence costs one answer timeout, no more.
    EXPECT_GE(SteadyClock::now() - start, kAnswerTimeout);
    EXPECT_LT(SteadyClock::now() - start, kAnswerTimeout + 2s);

    ASSERT_EQ(report->outputs.size(), 5U);
    EXPECT_EQ(report->outputs[0].outcome, RecallOutcome::Skipped);
    EXPECT_EQ(report->outputs[1].outcome, RecallOutcome::Applied);
    EXPECT_FALSE(report->outputs[1].sent);
    EXPECT_EQ(report->outputs[2].outcome, RecallOutcome::Applied);
    EXPECT_EQ(report->outputs[3].outcome, RecallOutcome::Failed);
    EXPECT_EQ(report->outputs[3].reason, "no confirmation within 2 s");
    EXPECT_EQ(report->outputs[4].outcome, RecallOutcome::Applied);
    EXPECT_EQ(inputOf(board, 5), 8);
    // Only the routes that differ went out, one after another.
    EXPECT_EQ(sim.receivedLines(),
              (std::vector<std::string>{std::string(probeCommand().bytes()), route(3, 6), route(4, 7), route(5, 8)}));
    link.close();
}

} // namespace
} // namespace mc::hub
