// The emulator program itself, driven the way a console drives it: through
// the comN link in a port directory, on a raw line.
#include "sim/reply_lines.h"
#include "support/pty_peer.h"
#include "tools/sim_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mc::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kTimeout = kProcessTimeout;

constexpr std::string_view kProbe = "\r\nGET STA\r\n";

TEST(SimProcess, answersTheProbeLogsItExactlyServesTheNextOpenAndUnlinksOnSigterm) {
    test::PortDirectory ports;
    const std::string log = ports.path() + "/sim.log";
    SimProcess sim({"--ports", ports.path(), "--com", "4", "--log", log});
    ASSERT_EQ(sim.firstLine(), "ready " + ports.portPath(4));

    const int fd = openLikeConsole(ports.portPath(4));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, kProbe.data(), kProbe.size()), static_cast<ssize_t>(kProbe.size()));
    EXPECT_EQ(readUntil(fd, "OUT16 EXA EN\r\n"), fullStatus());
    ::close(fd);

    // The log holds the probe's exact bytes, leading CR LF included.
    const std::regex probeRecord(R"((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} rx "\\r\\nGET STA\\r\\n"\n)");
    EXPECT_TRUE(std::regex_search(fileText(log), probeRecord)) << fileText(log).substr(0, 300);

    // A console that closed the port and opens it again is served as before.
    const int again = openLikeConsole(ports.portPath(4));
    ASSERT_GE(again, 0);
    const std::string_view route = "\r\nSET OUT2  VS IN7 \r\n";
    ASSERT_EQ(::write(again, route.data(), route.size()), static_cast<ssize_t>(route.size()));
    EXPECT_EQ(readUntil(again, "\r\n"), "OUT2 VS IN7\r\n");
    ::close(again);

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports.portPath(4))));
}

TEST(SimProcess, sigintAlsoRemovesTheLinkEvenWithNoConsoleEverAttached) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "12", "--log", ports.path() + "/sim.log"});
    ASSERT_EQ(sim.firstLine(), "ready " + ports.portPath(12));
    EXPECT_TRUE(std::filesystem::is_symlink(ports.portPath(12)));
    sim.signal(SIGINT);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports.portPath(12))));
}

TEST(SimProcess, hangupModeAnswersThenDropsTheLineAndEnds) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "2", "--hangup-after", "11", "--log", ports.path() + "/sim.log"});
    ASSERT_EQ(sim.firstLine(), "ready " + ports.portPath(2));
    const int fd = openLikeConsole(ports.portPath(2));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, kProbe.data(), kProbe.size()), static_cast<ssize_t>(kProbe.size()));
    bool hungUp = false;
    EXPECT_EQ(readUntil(fd, "never comes", &hungUp), fullStatus());
    EXPECT_TRUE(hungUp);
    ::close(fd);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports.portPath(2))));
}

// A console that stops reading fills the line; every reply then waits for
// room. A stop request must still end the program at once, not after each
// pending reply has used up its wait.
TEST(SimProcess, sigtermEndsItAtOnceWhileRepliesAreBackedUp) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "3", "--log", ports.path() + "/sim.log"});
    ASSERT_EQ(sim.firstLine(), "ready " + ports.portPath(3));
    const int fd = openLikeConsole(ports.portPath(3));
    ASSERT_GE(fd, 0);
    // Far more status replies than the pseudo-terminal holds, none read.
    std::string probes;
    constexpr int kProbes = 400;
    for (int i = 0; i < kProbes; ++i) {
        probes += kProbe;
    }
    ASSERT_GT(fullStatus().size() * kProbes, std::size_t{256} * 1024);
    ASSERT_EQ(::write(fd, probes.data(), probes.size()), static_cast<ssize_t>(probes.size()));
    std::this_thread::sleep_for(500ms);

    sim.signal(SIGTERM);
    const auto signalled = Clock::now();
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_LT(Clock::now() - signalled, 1s);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports.portPath(3))));
    ::close(fd);
}

// How often the program went to sleep so far: every wait in the poll loop
// that did not find its descriptors ready counts one.
long sleepsSoFar(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

// While no console holds the pseudo-terminal, its master reports a hang-up
// at every poll; the emulator must wait for the next open, not look again
// and again.
TEST(SimProcess, waitsForTheNextOpenWithoutWakingUp) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "9", "--log", ports.path() + "/sim.log"});
    ASSERT_EQ(sim.firstLine(), "ready " + ports.portPath(9));
    const auto idleWakeups = [&sim] {
        std::this_thread::sleep_for(200ms);
        const long before = sleepsSoFar(sim.pid());
        std::this_thread::sleep_for(1s);
        return sleepsSoFar(sim.pid()) - before;
    };
    EXPECT_LE(idleWakeups(), 3) << "before any console opened the line";

    for (int round = 0; round < 2; ++round) {
        const int fd = openLikeConsole(ports.portPath(9));
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(writeAll(fd, kProbe));
        EXPECT_EQ(readUntil(fd, "OUT16 EXA EN\r\n"), fullStatus());
        ::close(fd);
        EXPECT_LE(idleWakeups(), 3) << "after console " << round << " closed the line";
    }
    EXPECT_NE(fileText(ports.path() + "/sim.log").find(" info console closed the line\n"), std::string::npos);
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
}

// Reads exactly count bytes from fd unless timeout passes first.
std::string readCount(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count && Clock::now() < deadline) {
        got += readUntil(fd, "\x01never\x02", nullptr, 50ms);
    }
    return got;
}

// Its log on standard error, a pipe nobody reads: the log fills the pipe and
// must then neither hold up a client nor keep a stop request waiting. What
// it had to drop is counted once the log is read again.
TEST(SimProcess, aLogNobodyReadsHoldsUpNeitherTheClientsNorTheStop) {
    SimProcess sim({"--listen", "127.0.0.1:0"}, SimPipes{.errors = true});
    const int port = sim.tcpPort();
    ASSERT_GT(port, 0);
    const int busy = connectLoopback(port);
    ASSERT_GE(busy, 0);
    // About 3 KB of log per probe: far more than the pipe holds.
    constexpr int kProbes = 300;
    for (int i = 0; i < kProbes; ++i) {
        ASSERT_TRUE(writeAll(busy, kProbe));
    }
    EXPECT_EQ(readCount(busy, fullStatus().size() * kProbes, 3s).size(), fullStatus().size() * kProbes);

    const int second = connectLoopback(port);
    ASSERT_GE(second, 0);
    const auto asked = Clock::now();
    ASSERT_TRUE(writeAll(second, kProbe));
    EXPECT_EQ(readUntil(second, "OUT16 EXA EN\r\n", nullptr, 2s), fullStatus());
    EXPECT_LT(Clock::now() - asked, 500ms);

    // Read now, the log says how much is missing.
    const std::string logged = readUntil(sim.errorsFd(), "dropped: the log took none of them in time\n", nullptr, 2s);
    EXPECT_NE(logged.find(" log records dropped: the log took none of them in time\n"), std::string::npos)
        << logged.size() << " bytes read";
    ::close(busy);
    ::close(second);

    // Filled again, and stopped while full.
    const int third = connectLoopback(port);
    for (int i = 0; i < kProbes; ++i) {
        ASSERT_TRUE(writeAll(third, kProbe));
    }
    readCount(third, fullStatus().size() * kProbes, 3s);
    sim.signal(SIGTERM);
    const auto signalled = Clock::now();
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_LT(Clock::now() - signalled, 1s);
    ::close(third);
}

// A bench test runs it on a real serial device; a pseudo-terminal's slave
// side stands in for one here.
TEST(SimProcess, servesADeviceGivenByItsPath) {
    auto cable = test::PtyPeer::create();
    ASSERT_TRUE(cable);
    test::PortDirectory scratch;
    SimProcess sim({"--device", cable->slavePath(), "--log", scratch.path() + "/sim.log"});
    ASSERT_EQ(sim.firstLine(), "ready " + cable->slavePath());
    ASSERT_TRUE(cable->write(kProbe));
    EXPECT_EQ(cable->read(fullStatus().size(), kTimeout), fullStatus());
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST(SimProcess, refusesToReplaceAnExistingPortEntry) {
    test::PortDirectory ports;
    { std::ofstream(ports.portPath(5)) << "someone else's"; }
    SimProcess sim({"--ports", ports.path(), "--com", "5"});
    EXPECT_EQ(sim.firstLine(), "");
    EXPECT_EQ(sim.exitStatus(), 1);
    EXPECT_EQ(fileText(ports.portPath(5)), "someone else's");
}

} // namespace
} // namespace mc::sim
