// The emulator program itself, driven the way a console drives it: through
// the comN link in a port directory, on a raw line.
#include "sim/reply_lines.h"
#include "support/pty_peer.h"

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

// Generous: the machine running the tests may be busy.
constexpr auto kTimeout = 10s;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads from fd until `until` has arrived, the line ends or time runs out.
// eof is set when the other side hung up.
std::string readUntil(int fd, std::string_view until, bool* eof = nullptr) {
    std::string got;
    const auto deadline = Clock::now() + kTimeout;
    while (got.find(until) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (eof != nullptr) {
                *eof = true;
            }
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2];
        if (::pipe(out) != 0) {
            return;
        }
        std::vector<std::string> all{MC_SIM_EXECUTABLE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        argv.reserve(all.size() + 1);
        for (auto& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
    }

    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) {
            ::close(stdout_);
        }
    }

    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The first line the program prints, without its LF.
    std::string firstLine() {
        std::string line = readUntil(stdout_, "\n");
        if (const auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
        }
        return line;
    }

    void signal(int number) const { ::kill(pid_, number); }

    // The exit status, or nullopt when the program did not end in time.
    std::optional<int> exitStatus() {
        const auto deadline = Clock::now() + kTimeout;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

// Opens a comN link the way the console does: raw, no controlling terminal.
int openLikeConsole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    return fd;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string fullStatus() {
    std::string all;
    for (const auto& line : statusReplies(SwitcherState())) {
        all += line;
    }
    return all;
}

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
