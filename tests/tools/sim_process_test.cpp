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
