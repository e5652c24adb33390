// The emulator program's front panel: changes made at the switcher itself,
// through a control FIFO or standard input, reach the state every line shares
// and are announced to none of them.
#include "sim/reply_lines.h"
#include "support/pty_peer.h"
#include "tools/sim_process.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mc::sim {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kProbe = "\r\nGET STA\r\n";
constexpr auto kQuiet = 300ms;

std::string statusOf(const SwitcherState& state) {
    std::string all;
    for (const auto& line : statusReplies(state)) {
        all += line;
    }
    return all;
}

std::string whatArrives(int fd) {
    return readUntil(fd, "\x01never\x02", nullptr, kQuiet);
}

// One writer's visit to the FIFO: open, write, close, as `echo ... > FIFO` does.
bool writeFifo(const std::string& path, std::string_view lines) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && writeAll(fd, lines);
    if (fd >= 0) {
        ::close(fd);
    }
    return written;
}

TEST(SimControl, fifoChangesRoutesAudioAndUnansweredOutputsWithoutARepliedLine) {
    test::PortDirectory scratch;
    const std::string fifo = scratch.path() + "/panel";
    const std::string log = scratch.path() + "/sim.log";
    SimProcess sim({"--listen", "127.0.0.1:0", "--control", fifo, "--log", log});
    const int port = sim.tcpPort();
    ASSERT_GT(port, 0);
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600U);

    const int client = connectLoopback(port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(writeFifo(fifo, "route 3 5\naudio 7 mute\n# a comment\n\nreboot now\n"));
    EXPECT_EQ(whatArrives(client), "") << "a front-panel change is not announced";
    SwitcherState expected;
    expected.route(3, 5);
    expected.setAudioOn(7, false);
    ASSERT_TRUE(writeAll(client, kProbe));
    EXPECT_EQ(readUntil(client, "OUT16 EXA EN\r\n"), statusOf(expected));

    // Writers come and go; a route command to the marked output is lost
    // while the others are answered.
    ASSERT_TRUE(writeFifo(fifo, "unanswered 4\n"));
    ASSERT_TRUE(writeAll(client, "SET OUT4  VS IN2 \r\nSET OUT5  VS IN2 \r\n"));
    EXPECT_EQ(whatArrives(client), "OUT5 VS IN2\r\n");
    expected.route(5, 2);
    ASSERT_TRUE(writeAll(client, kProbe));
    EXPECT_EQ(readUntil(client, "OUT16 EXA EN\r\n"), statusOf(expected));
    ASSERT_TRUE(writeFifo(fifo, "answered 4\n"));
    ASSERT_TRUE(writeAll(client, "SET OUT4  VS IN2 \r\n"));
    EXPECT_EQ(readUntil(client, "\r\n"), "OUT4 VS IN2\r\n");
    ::close(client);

    const std::string text = fileText(log);
    EXPECT_NE(text.find(" info front panel: OUT3 VS IN5\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" info front panel: OUT7 EXA DIS\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" info front panel: route commands to OUT4 go unanswered\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" info control line \"reboot now\" refused: "), std::string::npos) << text;

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(fifo))) << "the FIFO it made is removed";
}

TEST(SimControl, standardInputDrivesTheSerialLinesSwitcherAndItsEndStopsNothing) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "8", "--control", "-", "--unanswered-output", "6", "--log",
                    ports.path() + "/sim.log"},
                   SimPipes{.input = true});
    ASSERT_EQ(sim.firstLine(), "ready " + ports.portPath(8));
    const int console = openLikeConsole(ports.portPath(8));
    ASSERT_GE(console, 0);

    ASSERT_TRUE(writeAll(console, "\r\nSET OUT6  VS IN1 \r\n"));
    EXPECT_EQ(whatArrives(console), "") << "output 6 was marked at start";
    ASSERT_TRUE(sim.writeInput("route 2 9\r\naudio 16 off"));
    sim.closeInput(); // the last line counts without its line feed
    EXPECT_EQ(whatArrives(console), "");
    SwitcherState expected;
    expected.route(2, 9);
    expected.setAudioOn(16, false);
    ASSERT_TRUE(writeAll(console, kProbe));
    EXPECT_EQ(readUntil(console, "OUT16 EXA DIS\r\n"), statusOf(expected));
    ::close(console);

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST(SimControl, aControlPathHoldingSomethingElseIsRefusedAndLeftAlone) {
    test::PortDirectory scratch;
    const std::string path = scratch.path() + "/notes";
    { std::ofstream(path) << "someone's notes"; }
    SimProcess sim({"--listen", "127.0.0.1:0", "--control", path}, SimPipes{.errors = true});
    EXPECT_EQ(sim.nextLine(), "");
    EXPECT_EQ(sim.exitStatus(), 1);
    EXPECT_EQ(fileText(path), "someone's notes");
    EXPECT_NE(readUntil(sim.errorsFd(), "\n").find(path + " exists and is not a FIFO"), std::string::npos);
}

} // namespace
} // namespace mc::sim
