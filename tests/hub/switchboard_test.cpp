#include "link/commands.h"
#include "switchboard.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace mc::hub {
namespace {

using namespace std::chrono_literals;

// Records what the switchboard writes; the link can be made to refuse.
class RecordingWires final : public SwitchboardWires {
public:
    bool writeToLink(std::string_view bytes) override {
        if (refuseLink) {
            return false;
        }
        link.emplace_back(bytes);
        return true;
    }
    void writeToClient(ClientId client, std::string_view bytes) override { clients[client] += bytes; }

    std::string takeClient(ClientId client) { return std::exchange(clients[client], {}); }

    std::vector<std::string> link;
    std::map<ClientId, std::string> clients;
    bool refuseLink = false;
};

// The input (1..16) the state model holds for an output.
std::optional<int> inputOf(const Switchboard& board, int output) {
    const auto& route = board.state().route(output);
    return route && route->value ? std::optional<int>(*route->value + 1) : std::nullopt;
}

std::string route(int output, int input) {
    return std::string(routingCommand(output, input)->bytes());
}

// The switcher's whole status answer, every output on input 1 and audio on.
std::string statusAnswer() {
    std::string lines;
    for (int port = 1; port <= 16; ++port) {
        lines += "OUT" + std::to_string(port) + " VS IN1\r\n";
    }
    for (int port = 1; port <= 16; ++port) {
        lines += "IN" + std::to_string(port) + " EDID " + std::to_string(port - 1) + "\r\n";
    }
    lines += "HIP 192.168.000.100\r\nNMK 255.255.255.000\r\nRIP 192.168.000.001\r\nTIP 5000\r\n";
    lines += "MAC 00:1A:2B:3C:4D:5E\r\nDHCP 0\r\n";
    for (int port = 1; port <= 16; ++port) {
        lines += "OUT" + std::to_string(port) + " EXA EN\r\n";
    }
    return lines;
}

class SwitchboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        board.addClient(kA, "client A");
        board.addClient(kB, "client B");
    }

    // The link comes up and the switcher answers the status request.
    void bringUp() {
        board.linkUp(now);
        ASSERT_EQ(wires.link.size(), 1U);
        EXPECT_EQ(wires.link[0], probeCommand().bytes());
        answer(statusAnswer());
        wires.link.clear();
        wires.clients.clear();
    }

    void answer(std::string_view lines) { board.linkBytes(lines, now); }

    static constexpr ClientId kA = 1;
    static constexpr ClientId kB = 2;
    RecordingWires wires;
    Switchboard board{wires};
    SteadyClock::time_point now = SteadyClock::now();
};

TEST_F(SwitchboardTest, aRouteChangeReachesEveryClientAndAConfirmationOfNothingNewOnlyTheAsker) {
    bringUp();
    board.clientBytes(kA, route(3, 5), now);
    ASSERT_EQ(wires.link, std::vector<std::string>{route(3, 5)});
    answer("OUT3 VS IN5\r\n");
    EXPECT_EQ(wires.takeClient(kA), "OUT3 VS IN5\r\n");
    EXPECT_EQ(wires.takeClient(kB), "OUT3 VS IN5\r\n");

    // The same route again changes nothing: only B, who asked, hears back.
    board.clientBytes(kB, route(3, 5), now);
    answer("OUT3 VS IN5\r\n");
    EXPECT_EQ(wires.takeClient(kA), "");
    EXPECT_EQ(wires.takeClient(kB), "OUT3 VS IN5\r\n");
    EXPECT_EQ(inputOf(board, 3), 5);
}

TEST_F(SwitchboardTest, pollsReachClientsOnlyWithWhatChanged) {
    bringUp();
    board.poll(now);
    ASSERT_EQ(wires.link.size(), 1U);
    // A second poll while the first is unanswered is not sent.
    board.poll(now);
    EXPECT_EQ(wires.link.size(), 1U);
    std::string status = statusAnswer();
    // Someone at the front panel put input 9 on output 7.
    status.replace(status.find("OUT7 VS IN1"), 11, "OUT7 VS IN9");
    answer(status);
    EXPECT_EQ(wires.takeClient(kA), "OUT7 VS IN9\r\n");
    EXPECT_EQ(wires.takeClient(kB), "OUT7 VS IN9\r\n");
    board.poll(now);
    EXPECT_EQ(wires.link.size(), 2U);
}

TEST_F(SwitchboardTest, aClientsStatusRequestIsAnsweredWholeToItAlone) {
    bringUp();
    board.clientBytes(kA, "\r\nGET STA\r\n", now);
    ASSERT_EQ(wires.link, std::vector<std::string>{"\r\nGET STA\r\n"});
    answer(statusAnswer());
    EXPECT_EQ(wires.takeClient(kA), statusAnswer());
    EXPECT_EQ(wires.takeClient(kB), "");
}

TEST_F(SwitchboardTest, edidDataGoesToTheAskerAndTwoReadsNeverOverlap) {
    bringUp();
    const std::string readA(readOutputEdidCommand(2)->bytes());
    const std::string readB(readInputEdidCommand(4, 3)->bytes());
    board.clientBytes(kA, readA, now);
    board.clientBytes(kB, readB, now);
    board.clientBytes(kB, route(1, 2), now);
    // B's read waits for A's answer; B's route keeps its place behind it.
    EXPECT_EQ(wires.link, std::vector<std::string>{readA});
    answer("OUT2 EDID DATA 00 ff ff ff\r\n");
    EXPECT_EQ(wires.takeClient(kA), "OUT2 EDID DATA 00 ff ff ff\r\n");
    EXPECT_EQ(wires.takeClient(kB), "");
    EXPECT_EQ(wires.link, (std::vector<std::string>{readA, readB, route(1, 2)}));
    answer("IN4 EDID 03 DATA 00 ff\r\nOUT1 VS IN2\r\n");
    EXPECT_EQ(wires.takeClient(kA), "OUT1 VS IN2\r\n");
    EXPECT_EQ(wires.takeClient(kB), "IN4 EDID 03 DATA 00 ff\r\nOUT1 VS IN2\r\n");
}

TEST_F(SwitchboardTest, anUnansweredEdidReadReleasesTheNextAfterTheAnswerTimeout) {
    bringUp();
    const std::string read(readOutputEdidCommand(2)->bytes());
    board.clientBytes(kA, read, now);
    board.clientBytes(kB, read, now);
    EXPECT_EQ(wires.link.size(), 1U);
    ASSERT_TRUE(board.nextDeadline());
    EXPECT_EQ(*board.nextDeadline(), now + kAnswerTimeout);
    board.expire(now + kAnswerTimeout - 1ms);
    EXPECT_EQ(wires.link.size(), 1U);
    board.expire(now + kAnswerTimeout);
    EXPECT_EQ(wires.link.size(), 2U);
}

TEST_F(SwitchboardTest, anErrorGoesToTheClientWhoseCommandItRefused) {
    bringUp();
    board.clientBytes(kA, "\r\nHELLO\r\n", now);
    board.clientBytes(kB, route(2, 2), now);
    answer("ERROR\r\nOUT2 VS IN2\r\n");
    EXPECT_EQ(wires.takeClient(kA), "ERROR\r\nOUT2 VS IN2\r\n");
    EXPECT_EQ(wires.takeClient(kB), "OUT2 VS IN2\r\n");
}

TEST_F(SwitchboardTest, aRouteToALockedOutputIsRefusedAndTheAskerGetsTheCurrentRoute) {
    bringUp();
    Site site;
    ASSERT_TRUE(site.setLocked(3, true).ok());
    board.useSite(&site);
    board.clientBytes(kA, route(3, 5), now);
    EXPECT_TRUE(wires.link.empty());
    EXPECT_EQ(wires.takeClient(kA), "OUT3 VS IN1\r\n");
    EXPECT_EQ(wires.takeClient(kB), "");
    // A route for every output at once would move the locked one too.
    board.clientBytes(kB, "\r\nSET OUT0  VS IN5 \r\n", now);
    EXPECT_TRUE(wires.link.empty());
    EXPECT_EQ(wires.takeClient(kB), "OUT3 VS IN1\r\n");
    // Other outputs, and the locked output's audio, still go through.
    board.clientBytes(kA, route(4, 5), now);
    board.clientBytes(kA, std::string(audioCommand(3, AudioState::Mute)->bytes()), now);
    EXPECT_EQ(wires.link.size(), 2U);
}

TEST_F(SwitchboardTest, commandLinesAreForwardedWholeAndNeverMixedAcrossClients) {
    bringUp();
    const std::string a = route(3, 5);
    const std::string b = route(4, 6);
    board.clientBytes(kA, a.substr(0, 9), now);
    board.clientBytes(kB, b.substr(0, 5), now);
    EXPECT_TRUE(wires.link.empty());
    board.clientBytes(kB, b.substr(5), now);
    board.clientBytes(kA, a.substr(9), now);
    EXPECT_EQ(wires.link, (std::vector<std::string>{b, a}));
}

TEST_F(SwitchboardTest, overLongAndBinaryLinesAreDroppedAndTheNextLineStillGoes) {
    bringUp();
    board.clientBytes(kA, std::string(5000, 'A') + "\r\n", now);
    board.clientBytes(kA, std::string("SET OUT3 \x01\xff VS IN5\r\n", 20), now);
    EXPECT_TRUE(wires.link.empty());
    board.clientBytes(kA, route(3, 5), now);
    EXPECT_EQ(wires.link, std::vector<std::string>{route(3, 5)});
}

TEST_F(SwitchboardTest, whileTheLinkIsDownNothingIsSentAndTheStateIsStaleUntilTheStatusComesAgain) {
    bringUp();
    EXPECT_TRUE(board.isFresh(board.state().route(1)));
    board.linkDown("read: Input/output error");
    EXPECT_FALSE(board.isFresh(board.state().route(1)));
    EXPECT_EQ(inputOf(board, 1), 1); // kept, but stale
    board.clientBytes(kA, route(3, 5), now);
    board.poll(now);
    EXPECT_TRUE(wires.link.empty());

    board.linkUp(now);
    EXPECT_EQ(wires.link, std::vector<std::string>{std::string(probeCommand().bytes())});
    EXPECT_FALSE(board.isFresh(board.state().route(1)));
    board.linkBytes(statusAnswer(), now);
    EXPECT_TRUE(board.isFresh(board.state().route(1)));
    // Nothing changed while it was down: the clients hear nothing.
    EXPECT_EQ(wires.takeClient(kA), "");
}

TEST_F(SwitchboardTest, aHalfLineFromBeforeALinkFailureIsNotJoinedToTheNextConnection) {
    bringUp();
    answer("OUT3 VS");
    board.linkDown("hang-up");
    board.linkUp(now);
    board.clientBytes(kA, route(4, 6), now);
    answer(" IN9\r\n");
    answer("OUT4 VS IN6\r\n");
    EXPECT_EQ(inputOf(board, 3), 1);
    EXPECT_EQ(inputOf(board, 4), 6);
}

TEST_F(SwitchboardTest, aSilentSwitcherHoldsBackCommandsBeyondTheOnesInFlightInOrder) {
    bringUp();
    for (int i = 0; i < 40; ++i) {
        board.clientBytes(kA, route(1 + i % 16, 2), now);
    }
    EXPECT_EQ(wires.link.size(), kCommandsInFlight);
    board.expire(now + kAnswerTimeout);
    EXPECT_EQ(wires.link.size(), 40U);
    EXPECT_EQ(wires.link.back(), route(1 + 39 % 16, 2));
}

// What a command for the hub itself got back: the answering line, or the
// failure.
struct Outcome {
    bool done = false;
    std::optional<std::string> line;
    std::string failure;
};

Switchboard::CommandDone recordInto(Outcome& outcome) {
    return [&outcome](const std::optional<std::string>& line, std::string_view failure) {
        outcome = Outcome{true, line, std::string(failure)};
    };
}

TEST_F(SwitchboardTest, aPollWaitsBehindAnUnansweredRouteSoItsStatusLinesAreNotTakenForTheAnswer) {
    bringUp();
    Outcome routed;
    board.command(route(1, 5), recordInto(routed), now);
    board.poll(now);
    // The status answer would start with "OUT1 VS IN1": not asked for yet.
    EXPECT_EQ(wires.link, std::vector<std::string>{route(1, 5)});
    board.expire(now + kAnswerTimeout);
    ASSERT_TRUE(routed.done);
    EXPECT_FALSE(routed.line);
    EXPECT_EQ(routed.failure, kNoConfirmation);
    ASSERT_EQ(wires.link.size(), 2U);
    EXPECT_EQ(wires.link[1], probeCommand().bytes());

    // A command asked for while the status is answered keeps its place behind
    // it: the status lines about its output are the status's, not its answer.
    Outcome audio;
    board.command(std::string(audioCommand(16, AudioState::Mute)->bytes()), recordInto(audio), now);
    answer(statusAnswer());
    EXPECT_FALSE(audio.done);
    answer("OUT16 EXA DIS\r\n");
    ASSERT_TRUE(audio.done);
    EXPECT_EQ(audio.line, "OUT16 EXA DIS\r\n");
}

TEST_F(SwitchboardTest, aCommandPassedOverByALaterAnswerTakesNoLaterLineAsItsOwn) {
    bringUp();
    Outcome first;
    Outcome other;
    Outcome again;
    board.command(route(2, 5), recordInto(first), now);
    board.command(route(3, 4), recordInto(other), now);
    // The switcher answers in order: output 3's answer means output 2's
    // first command got none.
    answer("OUT3 VS IN4\r\n");
    EXPECT_TRUE(other.done);
    board.command(route(2, 6), recordInto(again), now);
    answer("OUT2 VS IN6\r\n");
    ASSERT_TRUE(again.done);
    EXPECT_EQ(again.line, "OUT2 VS IN6\r\n");
    EXPECT_FALSE(first.done);
    board.expire(now + kAnswerTimeout);
    ASSERT_TRUE(first.done);
    EXPECT_FALSE(first.line);
}

// A preset of the site, planned against what the switchboard holds.
RecallPlan plan(Site& site, const Switchboard& board, std::vector<PresetRoute> routes) {
    EXPECT_TRUE(site.savePreset(Preset{"Lecture", std::move(routes)}).ok());
    auto planned = site.planRecall("Lecture", board.currentRoutes());
    EXPECT_TRUE(planned.ok());
    return planned.plan;
}

TEST_F(SwitchboardTest, aRecallSendsWhatThePlanSaysOneCommandAtATimeAndReportsEachOutput) {
    bringUp();
    Site site;
    ASSERT_TRUE(site.setLocked(2, true).ok());
    board.useSite(&site);
    std::optional<RecallReport> report;
    board.recall(
        plan(site, board, {{1, 1, AudioState::On}, {2, 5, {}}, {3, 6, AudioState::Mute}, {4, 7, {}}, {5, 8, {}}}),
        [&](const RecallReport& done) { report = done; }, now);
    // Output 1 is so already, output 2 is locked: output 3's route goes first, alone.
    ASSERT_EQ(wires.link, std::vector<std::string>{route(3, 6)});
    answer("OUT3 VS IN6\r\n");
    // Then its audio, once the route is confirmed.
    ASSERT_EQ(wires.link.size(), 2U);
    EXPECT_EQ(wires.link[1], audioCommand(3, AudioState::Mute)->bytes());
    answer("OUT3 EXA DIS\r\n");
    ASSERT_EQ(wires.link.size(), 3U);
    EXPECT_EQ(wires.link[2], route(4, 7));
    // Output 4 never answers.
    board.expire(now + kAnswerTimeout);
    ASSERT_EQ(wires.link.size(), 4U);
    EXPECT_EQ(wires.link[3], route(5, 8));
    EXPECT_FALSE(report);
    // Output 5 is confirmed with another input.
    answer("OUT5 VS IN2\r\n");
    ASSERT_TRUE(report);
    ASSERT_EQ(report->outputs.size(), 5U);
    EXPECT_EQ(report->outputs[0].outcome, RecallOutcome::Applied);
    EXPECT_FALSE(report->outputs[0].sent);
    EXPECT_EQ(report->outputs[1].outcome, RecallOutcome::Skipped);
    EXPECT_EQ(report->outputs[2].outcome, RecallOutcome::Applied);
    EXPECT_TRUE(report->outputs[2].sent);
    EXPECT_EQ(report->outputs[3].outcome, RecallOutcome::Failed);
    EXPECT_EQ(report->outputs[3].reason, "no confirmation within 2 s");
    EXPECT_EQ(report->outputs[4].outcome, RecallOutcome::Failed);
    EXPECT_EQ(report->outputs[4].reason, "the switcher reported OUT5 VS IN2");
    // The changes reached every client as the switcher's own lines.
    EXPECT_EQ(wires.takeClient(kA), "OUT3 VS IN6\r\nOUT3 EXA DIS\r\nOUT5 VS IN2\r\n");
}

TEST_F(SwitchboardTest, staleRoutesArePlannedAsUnknownSoARecallSendsThem) {
    bringUp();
    board.linkDown("hang-up");
    board.linkUp(now);
    wires.link.clear();
    Site site;
    // Output 1 showed input 1 before the link went down; that is not live.
    const RecallPlan planned = plan(site, board, {{1, 1, {}}});
    ASSERT_EQ(planned.steps.size(), 1U);
    EXPECT_EQ(planned.steps[0].action, RecallAction::Send);
}

TEST_F(SwitchboardTest, aRecallWhileTheLinkIsDownFailsEveryRouteItWouldSend) {
    Site site;
    std::optional<RecallReport> report;
    board.recall(
        plan(site, board, {{1, 2, {}}, {2, 3, {}}}), [&](const RecallReport& done) { report = done; }, now);
    ASSERT_TRUE(report);
    for (const OutputRecallResult& result : report->outputs) {
        EXPECT_EQ(result.outcome, RecallOutcome::Failed);
        EXPECT_EQ(result.reason, "the link is down");
    }
    EXPECT_TRUE(wires.link.empty());
}

TEST_F(SwitchboardTest, aLinkLostDuringARecallFailsTheRestAndAGoneClientGetsNothingMore) {
    bringUp();
    Site site;
    std::optional<RecallReport> report;
    board.recall(
        plan(site, board, {{1, 2, {}}, {2, 3, {}}}), [&](const RecallReport& done) { report = done; }, now);
    board.clientBytes(kA, route(9, 9), now);
    board.removeClient(kA);
    board.linkDown("read: Input/output error");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->outputs[0].reason, "link down: read: Input/output error");
    EXPECT_EQ(report->outputs[1].reason, "the link is down");
    board.linkUp(now);
    answer("OUT9 VS IN9\r\n");
    EXPECT_FALSE(wires.clients.contains(kA) && !wires.clients[kA].empty());
}

} // namespace
} // namespace mc::hub
