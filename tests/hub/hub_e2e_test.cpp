// matrix-hub as a program between the emulator and text clients: what the
// clients see, how the hub rides out a switcher that goes away, and how it
// bounds clients that misbehave.
#include "link/commands.h"
#include "support/hub_process.h"
#include "support/pty_peer.h"
#include "support/switcher_process.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <thread>
#include <unistd.h>

namespace mc::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWait = 5s;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string route(int output, int input) {
    return std::string(routingCommand(output, input)->bytes());
}

class HubE2e : public ::testing::Test {
protected:
    std::unique_ptr<SwitcherProcess> startSwitcher(std::vector<std::string> extra = {}) {
        SwitcherProcess::Options options;
        options.portDirectory = ports_.path();
        options.comPort = 1;
        options.extra = std::move(extra);
        auto sim = std::make_unique<SwitcherProcess>(std::move(options));
        EXPECT_TRUE(sim->ready()) << sim->startupOutput();
        return sim;
    }

    std::unique_ptr<HubProcess> startHub(int pollSeconds = 10, std::vector<std::string> extra = {}) {
        HubProcess::Options options;
        options.link = ports_.portPath(1);
        options.directory = ports_.path();
        options.pollSeconds = pollSeconds;
        options.extra = std::move(extra);
        auto hub = std::make_unique<HubProcess>(std::move(options));
        EXPECT_TRUE(hub->ready()) << hub->startupOutput();
        // The hub asks for the status once the link is up.
        EXPECT_TRUE(hub->waitForLog("state is fresh", kWait)) << hub->log();
        return hub;
    }

    PortDirectory ports_;
};

TEST_F(HubE2e, twoClientsSeeEachOthersChangesAndTheSwitcherGetsWholeLines) {
    auto sim = startSwitcher();
    auto hub = startHub();
    TextClient a(hub->textPort());
    TextClient b(hub->textPort());
    ASSERT_TRUE(a.connected() && b.connected());
    ASSERT_TRUE(hub->waitForLog("(2 of 16)", kWait));

    // Half a line from A, a whole command from B, then the rest of A's.
    const std::string fromA = route(3, 5);
    ASSERT_TRUE(a.send(fromA.substr(0, 8)));
    ASSERT_TRUE(b.send(std::string(audioCommand(4, AudioState::Mute)->bytes())));
    EXPECT_NE(a.receiveUntil("OUT4 EXA DIS\r\n", kWait).find("OUT4 EXA DIS\r\n"), std::string::npos);
    ASSERT_TRUE(a.send(fromA.substr(8)));
    EXPECT_NE(b.receiveUntil("OUT3 VS IN5\r\n", kWait).find("OUT4 EXA DIS\r\nOUT3 VS IN5\r\n"), std::string::npos);
    EXPECT_NE(a.receiveUntil("OUT3 VS IN5\r\n", kWait).find("OUT3 VS IN5\r\n"), std::string::npos);

    const auto lines = sim->receivedLines();
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0], std::string(probeCommand().bytes()));
    EXPECT_EQ(lines[1], std::string(audioCommand(4, AudioState::Mute)->bytes()));
    EXPECT_EQ(lines[2], fromA);

    // B's status request is answered to B alone; A hears nothing of it.
    ASSERT_TRUE(b.send(std::string(probeCommand().bytes())));
    EXPECT_NE(b.receiveUntil("OUT16 EXA EN\r\n", kWait).find("OUT3 VS IN5\r\n"), std::string::npos);
    EXPECT_EQ(a.receiveFor(300ms), "");
}

TEST_F(HubE2e, aFrontPanelChangeReachesEveryClientWithinThePollInterval) {
    const std::string panel = ports_.path() + "/panel";
    auto sim = startSwitcher({"--control", panel});
    auto hub = startHub(1);
    TextClient a(hub->textPort());
    TextClient b(hub->textPort());
    ASSERT_TRUE(hub->waitForLog("(2 of 16)", kWait));
    // Polls that find nothing new send the clients nothing.
    EXPECT_EQ(a.receiveFor(1200ms), "");

    const int fd = ::open(panel.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string change = "route 6 11\naudio 6 mute\n";
    ASSERT_EQ(::write(fd, change.data(), change.size()), static_cast<ssize_t>(change.size()));
    ::close(fd);
    const auto start = Clock::now();
    const std::string seenByA = a.receiveUntil("OUT6 EXA DIS\r\n", kWait);
    EXPECT_LT(Clock::now() - start, 1500ms);
    EXPECT_EQ(seenByA, "OUT6 VS IN11\r\nOUT6 EXA DIS\r\n");
    EXPECT_EQ(b.receiveUntil("OUT6 EXA DIS\r\n", kWait), seenByA);
}

TEST_F(HubE2e, theSwitcherGoneAndBackOnTheSamePathIsReopenedWithinTwoSecondsAndClientsStay) {
    auto sim = startSwitcher();
    auto hub = startHub(1);
    TextClient a(hub->textPort());
    ASSERT_TRUE(a.connected());
    ASSERT_TRUE(a.send(route(2, 7)));
    ASSERT_NE(a.receiveUntil("OUT2 VS IN7\r\n", kWait).find("OUT2 VS IN7"), std::string::npos);

    ASSERT_EQ(sim->stop(), 0);
    ASSERT_TRUE(hub->waitForLog("state is stale", kWait)) << hub->log();
    ASSERT_TRUE(hub->waitForLog("link down", kWait));
    // Long enough for the retries to back off past their first waits.
    std::this_thread::sleep_for(2500ms);
    // A command while it is down is not sent, and the client stays.
    ASSERT_TRUE(a.send(route(2, 8)));
    ASSERT_TRUE(hub->waitForLog("the link is down", kWait));

    sim = startSwitcher();
    const auto back = Clock::now();
    ASSERT_TRUE(hub->waitForLog("link up", 2s, 2)) << hub->log();
    EXPECT_LT(Clock::now() - back, 2s);
    ASSERT_TRUE(hub->waitForLog("state is fresh", kWait, 2)) << hub->log();
    // The new switcher starts with output 2 on input 2: the poll tells the
    // client, which is still connected and is served as before.
    EXPECT_NE(a.receiveUntil("OUT2 VS IN2\r\n", kWait).find("OUT2 VS IN2\r\n"), std::string::npos);
    ASSERT_TRUE(a.send(route(2, 9)));
    EXPECT_NE(a.receiveUntil("OUT2 VS IN9\r\n", kWait).find("OUT2 VS IN9\r\n"), std::string::npos);
    const std::string log = hub->log();
    EXPECT_LT(log.find("state is stale"), log.rfind("state is fresh"));
    EXPECT_EQ(log.find("dropped"), std::string::npos) << log;
}

TEST_F(HubE2e, aClientThatNeverReadsIsDroppedWhileTheOthersKeepTheirPace) {
    auto sim = startSwitcher();
    auto hub = startHub();
    TextClient stalled(hub->textPort(), 4096);
    TextClient busy(hub->textPort());
    ASSERT_TRUE(stalled.connected() && busy.connected());
    ASSERT_TRUE(hub->waitForLog("(2 of 16)", kWait));

    // Every command flips output 3, so each reply goes to both clients.
    constexpr int kBatch = 200;
    auto slowest = Clock::duration::zero();
    bool dropped = false;
    for (int batch = 0; batch < 60 && !dropped; ++batch) {
        std::string commands;
        for (int i = 0; i < kBatch; ++i) {
            commands += route(3, 5 + i % 2);
        }
        const auto start = Clock::now();
        ASSERT_TRUE(busy.send(commands));
        const std::string last = "OUT3 VS IN" + std::to_string(5 + (kBatch - 1) % 2) + "\r\n";
        std::string got;
        for (int line = 0; line < kBatch; ++line) {
            const std::string more = busy.receiveUntil("\n", kWait);
            ASSERT_FALSE(more.empty()) << "batch " << batch << " line " << line;
            got += more;
            if (std::count(got.begin(), got.end(), '\n') >= kBatch) {
                break;
            }
        }
        slowest = std::max(slowest, Clock::now() - start);
        dropped = hub->log().find("dropped: it stopped reading") != std::string::npos;
    }
    ASSERT_TRUE(dropped) << hub->log();
    EXPECT_TRUE(stalled.waitForClose(kWait));
    // 200 commands through the hub and the emulator: the stalled client
    // never held the busy one up.
    EXPECT_LT(slowest, 2s);
    ASSERT_TRUE(busy.send(route(3, 9)));
    EXPECT_NE(busy.receiveUntil("OUT3 VS IN9\r\n", kWait).find("OUT3 VS IN9"), std::string::npos);
}

TEST_F(HubE2e, theClientBeyondTheLimitGetsARefusalLineAndIsClosed) {
    auto sim = startSwitcher();
    auto hub = startHub();
    std::vector<std::unique_ptr<TextClient>> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<TextClient>(hub->textPort()));
        ASSERT_TRUE(clients.back()->connected());
    }
    ASSERT_TRUE(hub->waitForLog("(16 of 16)", kWait));
    TextClient extra(hub->textPort());
    std::string said;
    ASSERT_TRUE(extra.waitForClose(kWait, &said));
    EXPECT_EQ(said, "matrix-hub: refused, 16 clients are connected already\r\n");
    EXPECT_TRUE(hub->waitForLog("clients are connected already (--max-clients)", kWait));
    // The sixteen are still served; one leaving makes room.
    ASSERT_TRUE(clients[15]->send(route(1, 3)));
    EXPECT_NE(clients[0]->receiveUntil("OUT1 VS IN3\r\n", kWait).find("OUT1 VS IN3"), std::string::npos);
    clients.pop_back();
    ASSERT_TRUE(hub->waitForLog("it closed the connection", kWait));
    TextClient again(hub->textPort());
    ASSERT_TRUE(again.send(route(1, 4)));
    EXPECT_NE(again.receiveUntil("OUT1 VS IN4\r\n", kWait).find("OUT1 VS IN4"), std::string::npos);
}

TEST_F(HubE2e, overLongAndBinaryLinesAreDroppedWithALogLineAndTheClientStays) {
    auto sim = startSwitcher();
    auto hub = startHub();
    TextClient a(hub->textPort());
    ASSERT_TRUE(a.send(std::string(100000, 'X') + "\r\n"));
    ASSERT_TRUE(a.send(std::string("SET OUT1 \x00\x01 VS IN2\r\n", 20)));
    ASSERT_TRUE(a.send(route(1, 6)));
    EXPECT_NE(a.receiveUntil("OUT1 VS IN6\r\n", kWait).find("OUT1 VS IN6"), std::string::npos);
    EXPECT_TRUE(hub->waitForLog("dropped a line of 100002 bytes", kWait)) << hub->log();
    EXPECT_TRUE(hub->waitForLog("it holds bytes no command has", kWait)) << hub->log();
    EXPECT_EQ(sim->receivedLines().size(), 2U);
}

TEST_F(HubE2e, sigtermEndsTheHubWithinOneSecondWithClientsConnectedAndTheSiteFileIntact) {
    const std::string site = R"({"version": 1, "inputs": {"5": "Lectern PC"}, "locked": [2]})"
                             "\n";
    writeFile(ports_.path() + "/site.json", site);
    auto sim = startSwitcher();
    auto hub = startHub();
    TextClient a(hub->textPort());
    TextClient b(hub->textPort());
    ASSERT_TRUE(hub->waitForLog("(2 of 16)", kWait));
    const auto start = Clock::now();
    const auto status = hub->stop(SIGTERM, 1s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_TRUE(a.waitForClose(1s));
    EXPECT_EQ(readFile(ports_.path() + "/site.json"), site);
}

TEST_F(HubE2e, aRouteToALockedOutputIsRefusedAndTheClientsPageSnapsBack) {
    writeFile(ports_.path() + "/site.json", R"({"version": 1, "outputs": {"3": "Projector"}, "locked": [3]})"
                                            "\n");
    auto sim = startSwitcher();
    auto hub = startHub();
    TextClient a(hub->textPort());
    TextClient b(hub->textPort());
    ASSERT_TRUE(hub->waitForLog("(2 of 16)", kWait));
    ASSERT_TRUE(a.send(route(3, 5)));
    // The switcher shows output 3 on input 3 still: that is what comes back.
    EXPECT_EQ(a.receiveUntil("\n", kWait), "OUT3 VS IN3\r\n");
    EXPECT_TRUE(hub->waitForLog("output 3 (Projector) locked", kWait)) << hub->log();
    // The audio of a locked output, and other outputs, are not locked.
    ASSERT_TRUE(a.send(route(4, 5)));
    EXPECT_EQ(b.receiveUntil("\n", kWait), "OUT4 VS IN5\r\n");
    const auto lines = sim->receivedLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), route(3, 5)), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), route(4, 5)), 1);
}

TEST_F(HubE2e, aBrokenSiteFileStopsTheHubNamingTheLineAndColumnAndIsLeftAsItWas) {
    const std::string path = ports_.path() + "/site.json";
    const std::string broken = "{\n  \"version\": 1,\n  \"locked\": [3, 17]\n}\n";
    writeFile(path, broken);
    HubProcess::Options options;
    options.link = ports_.portPath(1);
    options.directory = ports_.path();
    HubProcess hub(std::move(options));
    EXPECT_FALSE(hub.ready());
    EXPECT_EQ(hub.stop(SIGTERM, kWait), 1);
    EXPECT_NE(hub.log().find(path + ":3:"), std::string::npos) << hub.log();
    EXPECT_EQ(readFile(path), broken);
}

TEST_F(HubE2e, aSwitcherThatIsNotThereAtStartIsWaitedFor) {
    HubProcess::Options options;
    options.link = ports_.portPath(1);
    options.directory = ports_.path();
    HubProcess hub(std::move(options));
    ASSERT_TRUE(hub.ready()) << hub.startupOutput();
    ASSERT_TRUE(hub.waitForLog("No such file or directory", kWait)) << hub.log();
    TextClient a(hub.textPort());
    ASSERT_TRUE(a.connected());
    auto sim = startSwitcher();
    ASSERT_TRUE(hub.waitForLog("state is fresh", 2s)) << hub.log();
    ASSERT_TRUE(a.send(route(5, 1)));
    EXPECT_NE(a.receiveUntil("OUT5 VS IN1\r\n", kWait).find("OUT5 VS IN1"), std::string::npos);
}

} // namespace
} // namespace mc::test
