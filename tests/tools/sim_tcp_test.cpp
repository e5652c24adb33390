// The emulator program on TCP, driven the way network clients drive it: over
// loopback connections, alone and next to a console on its serial line.
#include "sim/reply_lines.h"
#include "sim/serial_service.h"
#include "sim/tcp_server.h"
#include "support/pty_peer.h"
#include "tools/sim_process.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace mc::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kProbe = "\r\nGET STA\r\n";
constexpr std::string_view kRoute = "\r\nSET OUT2  VS IN7 \r\n"; // 21 bytes
// Long enough for a reply that is coming to arrive on loopback.
constexpr auto kQuiet = 300ms;

std::string statusOf(const SwitcherState& state) {
    std::string all;
    for (const auto& line : statusReplies(state)) {
        all += line;
    }
    return all;
}

// Everything that arrives on fd within kQuiet.
std::string whatArrives(int fd) {
    return readUntil(fd, "\x01never\x02", nullptr, kQuiet);
}

// A socket closed so that the far end sees a reset, not an orderly end.
void resetConnection(int fd) {
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

class SimTcp : public ::testing::Test {
protected:
    // Starts the emulator on --listen 127.0.0.1:0 with extra arguments; port_
    // is what it printed.
    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--listen", "127.0.0.1:0", "--log", log_};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<SimProcess>(args);
        port_ = sim_->tcpPort();
        ASSERT_GT(port_, 0);
    }

    [[nodiscard]] int connectClient() const { return connectLoopback(port_); }

    test::PortDirectory scratch_;
    std::string log_ = scratch_.path() + "/sim.log";
    std::unique_ptr<SimProcess> sim_;
    int port_ = 0;
};

TEST_F(SimTcp, eachClientGetsExactlyItsOwnRepliesFromOneSharedSwitcher) {
    start();
    Fd a(connectClient());
    Fd b(connectClient());
    ASSERT_GE(a.get(), 0);
    ASSERT_GE(b.get(), 0);

    // A's command arrives in two parts with B's whole command between them:
    // every client has its own line framing.
    ASSERT_TRUE(writeAll(a.get(), "\r\nSET OUT2  VS"));
    ASSERT_TRUE(writeAll(b.get(), "SET OUT5  VS IN9 \r\n"));
    EXPECT_EQ(readUntil(b.get(), "\r\n"), "OUT5 VS IN9\r\n");
    ASSERT_TRUE(writeAll(a.get(), " IN7 \r\n"));
    EXPECT_EQ(readUntil(a.get(), "\r\n"), "OUT2 VS IN7\r\n");

    // A route set by one client shows in the other's status.
    SwitcherState expected;
    expected.route(2, 7);
    expected.route(5, 9);
    ASSERT_TRUE(writeAll(b.get(), kProbe));
    EXPECT_EQ(readUntil(b.get(), "OUT16 EXA EN\r\n"), statusOf(expected));
    EXPECT_EQ(whatArrives(a.get()), "") << "B's status went to A as well";
    EXPECT_EQ(whatArrives(b.get()), "");

    const std::string log = fileText(log_);
    EXPECT_NE(log.find("info client " + localEndpoint(a.get()) + " connected\n"), std::string::npos) << log;
    EXPECT_NE(log.find("info client " + localEndpoint(b.get()) + " connected\n"), std::string::npos) << log;
    EXPECT_NE(log.find(R"(rx "\r\nSET OUT2  VS IN7 \r\n")"), std::string::npos) << log;

    const std::string bEnd = localEndpoint(b.get());
    ::close(b.release());
    ::close(a.release());
    sim_->signal(SIGTERM);
    EXPECT_EQ(sim_->exitStatus(), 0);
    EXPECT_NE(fileText(log_).find("info client " + bEnd + " disconnected: it closed the connection\n"),
              std::string::npos);
}

TEST_F(SimTcp, aClientLeavingMidLineOrByResetLeavesTheOthersUntouched) {
    start();
    Fd stays(connectClient());
    Fd leaves(connectClient());
    Fd resets(connectClient());
    ASSERT_TRUE(writeAll(stays.get(), "SET OUT4  V"));
    ASSERT_TRUE(writeAll(leaves.get(), "\r\nSET OUT3  VS IN"));
    ASSERT_TRUE(writeAll(resets.get(), "SET OUT6  VS IN"));
    const std::string leftEnd = localEndpoint(leaves.get());
    std::this_thread::sleep_for(100ms); // the partial lines are in before the ends
    ::close(leaves.release());
    resetConnection(resets.release());

    // The client that stays completes its own line and sees no trace of the
    // others' unfinished commands.
    ASSERT_TRUE(writeAll(stays.get(), "S IN11\r\n"));
    EXPECT_EQ(readUntil(stays.get(), "\r\n"), "OUT4 VS IN11\r\n");
    SwitcherState expected;
    expected.route(4, 11);
    ASSERT_TRUE(writeAll(stays.get(), kProbe));
    EXPECT_EQ(readUntil(stays.get(), "OUT16 EXA EN\r\n"), statusOf(expected));

    // A newcomer starts with a clean line.
    Fd later(connectClient());
    ASSERT_TRUE(writeAll(later.get(), " IN8 \r\nSET OUT3  VS IN8 \r\n"));
    EXPECT_EQ(readUntil(later.get(), "OUT3 VS IN8\r\n"), "ERROR\r\nOUT3 VS IN8\r\n");

    EXPECT_NE(fileText(log_).find("info client " + leftEnd +
                                  " disconnected: it closed the connection mid-line (17 bytes of it dropped)\n"),
              std::string::npos)
        << fileText(log_);
}

TEST_F(SimTcp, clientsBeyondTheLimitAreClosedAtOnceAndAFreedPlaceIsTakenAgain) {
    start();
    std::vector<std::unique_ptr<Fd>> clients;
    for (std::size_t i = 0; i < kMaxTcpClients; ++i) {
        clients.push_back(std::make_unique<Fd>(connectClient()));
        ASSERT_GE(clients.back()->get(), 0);
    }
    // Every one of them is served (and so taken) before the next one comes.
    for (const auto& client : clients) {
        ASSERT_TRUE(writeAll(client->get(), kRoute));
        ASSERT_EQ(readUntil(client->get(), "\r\n"), "OUT2 VS IN7\r\n");
    }
    Fd extra(connectClient());
    ASSERT_GE(extra.get(), 0);
    const std::string extraEnd = localEndpoint(extra.get());
    bool closed = false;
    EXPECT_EQ(readUntil(extra.get(), "never", &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_NE(fileText(log_).find("info client " + extraEnd + " refused: 16 clients connected already\n"),
              std::string::npos);

    clients.pop_back();
    std::string reply;
    for (int attempt = 0; attempt < 50 && reply.empty(); ++attempt) {
        Fd again(connectClient());
        writeAll(again.get(), kRoute);
        reply = readUntil(again.get(), "\r\n");
    }
    EXPECT_EQ(reply, "OUT2 VS IN7\r\n");
}

TEST_F(SimTcp, silentModeAnswersNoClientButEveryCommandStillCounts) {
    start({"--mode", "silent"});
    Fd a(connectClient());
    Fd b(connectClient());
    ASSERT_TRUE(writeAll(a.get(), kRoute));
    ASSERT_TRUE(writeAll(b.get(), kProbe));
    EXPECT_EQ(whatArrives(a.get()), "");
    EXPECT_EQ(whatArrives(b.get()), "");
    const std::string log = fileText(log_);
    EXPECT_NE(log.find(R"(rx "\r\nSET OUT2  VS IN7 \r\n")"), std::string::npos) << log;
    EXPECT_NE(log.find(R"(rx "\r\nGET STA\r\n")"), std::string::npos) << log;
    EXPECT_EQ(log.find(" tx "), std::string::npos) << log;
}

TEST_F(SimTcp, garbageModeAnswersEachLineWithNoiseWithoutALineFeed) {
    start({"--mode", "garbage"});
    Fd a(connectClient());
    ASSERT_TRUE(writeAll(a.get(), kRoute));
    const std::string first = whatArrives(a.get());
    EXPECT_GE(first.size(), kGarbageMinLength);
    EXPECT_LE(first.size(), kGarbageMaxLength);
    EXPECT_EQ(first.find('\n'), std::string::npos);
    ASSERT_TRUE(writeAll(a.get(), std::string(kProbe) + std::string(kProbe)));
    const std::string two = whatArrives(a.get());
    EXPECT_GE(two.size(), 2 * kGarbageMinLength);
    EXPECT_LE(two.size(), 2 * kGarbageMaxLength);
    EXPECT_EQ(two.find('\n'), std::string::npos);
}

TEST_F(SimTcp, hangupModeWithoutASerialLineAnswersClosesThatClientAndEnds) {
    start({"--hangup-after", "32"});
    Fd other(connectClient());
    Fd a(connectClient());
    // One byte beyond the limit is never looked at.
    ASSERT_TRUE(writeAll(a.get(), std::string(kRoute) + std::string(kProbe) + "X"));
    bool hungUp = false;
    const std::string got = readUntil(a.get(), "never comes", &hungUp);
    EXPECT_EQ(got, "OUT2 VS IN7\r\n" + statusOf([] {
                       SwitcherState s;
                       s.route(2, 7);
                       return s;
                   }()));
    EXPECT_TRUE(hungUp);
    // It waits for the client to close its end too (as the console does on
    // a hang-up), so nothing in flight is lost to a reset.
    const std::string aEnd = localEndpoint(a.get());
    ::close(a.release());
    const auto closed = Clock::now();
    EXPECT_EQ(sim_->exitStatus(), 0);
    EXPECT_LT(Clock::now() - closed, kTcpHangupGrace);
    const std::string log = fileText(log_);
    EXPECT_NE(log.find("info hanging up on client " + aEnd + " after 32 bytes\n"), std::string::npos) << log;
    EXPECT_NE(log.find("info client " + aEnd + " disconnected: hung up\n"), std::string::npos) << log;
    bool otherClosed = false;
    readUntil(other.get(), "never", &otherClosed);
    EXPECT_TRUE(otherClosed);
}

// Far more status replies than the kernel holds for a client with a small
// receive buffer.
std::string manyProbes() {
    std::string probes;
    for (int i = 0; i < 3000; ++i) {
        probes += kProbe;
    }
    return probes;
}

constexpr int kSmallReceiveBuffer = 4096;

TEST_F(SimTcp, aClientThatStopsReadingIsDroppedWithoutHoldingUpTheOthers) {
    start();
    Fd stalls(connectLoopback(port_, kSmallReceiveBuffer));
    Fd reads(connectClient());
    const std::string stallsEnd = localEndpoint(stalls.get());
    const auto stalledFrom = Clock::now(); // it never takes anything after this
    ASSERT_TRUE(writeAll(stalls.get(), manyProbes()));
    std::this_thread::sleep_for(300ms);

    const auto asked = Clock::now();
    ASSERT_TRUE(writeAll(reads.get(), kRoute));
    EXPECT_EQ(readUntil(reads.get(), "\r\n"), "OUT2 VS IN7\r\n");
    EXPECT_LT(Clock::now() - asked, 1s);

    // Dropped once it has taken nothing for the stall limit; its end sees
    // the connection go without reading what is still queued for it.
    pollfd p{stalls.get(), POLLRDHUP, 0};
    ASSERT_EQ(::poll(&p, 1, static_cast<int>((kStalledClientLimit + kProcessTimeout).count())), 1);
    EXPECT_NE(p.revents & (POLLHUP | POLLERR | POLLRDHUP), 0);
    EXPECT_GE(Clock::now() - stalledFrom, kStalledClientLimit);
    const std::string log = fileText(log_);
    EXPECT_NE(log.find("info client " + stallsEnd + " disconnected: it took none of "), std::string::npos) << log;

    ASSERT_TRUE(writeAll(reads.get(), kProbe));
    EXPECT_EQ(readUntil(reads.get(), "OUT16 EXA EN\r\n").size(), fullStatus().size());
}

TEST_F(SimTcp, sigtermEndsItAtOnceWhileAClientIsBackedUp) {
    start();
    Fd stalls(connectLoopback(port_, kSmallReceiveBuffer));
    const std::string probes = manyProbes();
    ASSERT_TRUE(writeAll(stalls.get(), probes));
    std::this_thread::sleep_for(500ms);
    sim_->signal(SIGTERM);
    const auto signalled = Clock::now();
    EXPECT_EQ(sim_->exitStatus(), 0);
    EXPECT_LT(Clock::now() - signalled, 1s);
}

TEST_F(SimTcp, sharesOneSwitcherWithTheSerialLineAndHangsUpClientsOnTheirOwnCounts) {
    test::PortDirectory ports;
    SimProcess sim(
        {"--ports", ports.path(), "--com", "6", "--listen", "127.0.0.1:0", "--hangup-after", "21", "--log", log_});
    ASSERT_EQ(sim.nextLine(), "ready " + ports.portPath(6));
    const int port = sim.tcpPort();
    ASSERT_GT(port, 0);

    Fd client(connectLoopback(port));
    ASSERT_TRUE(writeAll(client.get(), "\r\nSET OUT9  VS IN3 \r\n"));
    bool hungUp = false;
    EXPECT_EQ(readUntil(client.get(), "never", &hungUp), "OUT9 VS IN3\r\n");
    EXPECT_TRUE(hungUp) << "hung up after its own 21 bytes";

    // The console on the serial line still runs, sees the client's route
    // and gets nothing of its replies.
    Fd console(openLikeConsole(ports.portPath(6)));
    ASSERT_GE(console.get(), 0);
    ASSERT_TRUE(writeAll(console.get(), "SET OUT1  VS IN5 \r\n"));
    EXPECT_EQ(readUntil(console.get(), "\r\n"), "OUT1 VS IN5\r\n");

    // A second client counts its own bytes from zero, and its route shows
    // on the serial line.
    Fd second(connectLoopback(port));
    ASSERT_TRUE(writeAll(second.get(), "\r\nSET OUT1  VS IN2 \r\n"));
    hungUp = false;
    EXPECT_EQ(readUntil(second.get(), "never", &hungUp), "OUT1 VS IN2\r\n");
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(whatArrives(console.get()), "");
    ::close(second.release());

    // A TCP hang-up does not end a run with a serial line.
    Fd third(connectLoopback(port));
    ASSERT_TRUE(writeAll(third.get(), kRoute));
    EXPECT_EQ(readUntil(third.get(), "\r\n"), "OUT2 VS IN7\r\n");
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST_F(SimTcp, serialConsoleAndClientSeeEachOthersChanges) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "7", "--listen", "127.0.0.1:0", "--log", log_});
    ASSERT_EQ(sim.nextLine(), "ready " + ports.portPath(7));
    const int port = sim.tcpPort();
    ASSERT_GT(port, 0);
    Fd console(openLikeConsole(ports.portPath(7)));
    Fd client(connectLoopback(port));
    ASSERT_GE(console.get(), 0);
    ASSERT_GE(client.get(), 0);

    ASSERT_TRUE(writeAll(console.get(), "\r\nSET OUT3  VS IN12\r\n"));
    EXPECT_EQ(readUntil(console.get(), "\r\n"), "OUT3 VS IN12\r\n");
    ASSERT_TRUE(writeAll(client.get(), "SET OUT7  EXA DIS\r\n"));
    EXPECT_EQ(readUntil(client.get(), "\r\n"), "OUT7 EXA DIS\r\n");

    SwitcherState expected;
    expected.route(3, 12);
    expected.setAudioOn(7, false);
    ASSERT_TRUE(writeAll(client.get(), kProbe));
    EXPECT_EQ(readUntil(client.get(), "OUT16 EXA EN\r\n"), statusOf(expected));
    ASSERT_TRUE(writeAll(console.get(), kProbe));
    EXPECT_EQ(readUntil(console.get(), "OUT16 EXA EN\r\n"), statusOf(expected));
    EXPECT_EQ(whatArrives(client.get()), "");

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports.portPath(7))));
}

// The serial line's replies wait in a backlog of their own: a console that
// stops reading holds up no client, and once it has taken nothing for the
// stall limit, its backlog is dropped and its input read again.
TEST_F(SimTcp, aSerialConsoleThatStopsReadingHoldsUpNoClient) {
    test::PortDirectory ports;
    SimProcess sim({"--ports", ports.path(), "--com", "5", "--listen", "127.0.0.1:0", "--log", log_});
    ASSERT_EQ(sim.nextLine(), "ready " + ports.portPath(5));
    const int port = sim.tcpPort();
    ASSERT_GT(port, 0);
    Fd console(openLikeConsole(ports.portPath(5)));
    ASSERT_GE(console.get(), 0);
    const auto stalledFrom = Clock::now();
    std::string probes;
    for (int i = 0; i < 400; ++i) {
        probes += kProbe;
    }
    ASSERT_TRUE(writeAll(console.get(), probes));
    std::this_thread::sleep_for(300ms);

    Fd client(connectLoopback(port));
    for (int i = 0; i < 3; ++i) {
        const auto asked = Clock::now();
        ASSERT_TRUE(writeAll(client.get(), kProbe));
        EXPECT_EQ(readUntil(client.get(), "OUT16 EXA EN\r\n", nullptr, 2s), fullStatus());
        EXPECT_LT(Clock::now() - asked, 200ms) << "probe " << i;
    }

    const std::string dropped = "bytes of replies dropped: the line took none for 2000 ms\n";
    const auto until = Clock::now() + kSerialStallLimit + kProcessTimeout;
    while (fileText(log_).find(dropped) == std::string::npos && Clock::now() < until) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_NE(fileText(log_).find(dropped), std::string::npos) << fileText(log_).substr(0, 500);
    EXPECT_GE(Clock::now() - stalledFrom, kSerialStallLimit);
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST_F(SimTcp, aPortInUseIsRefusedAndIpv6LoopbackIsServed) {
    start();
    SimProcess second({"--listen", "127.0.0.1:" + std::to_string(port_), "--log", log_});
    EXPECT_EQ(second.nextLine(), "");
    EXPECT_EQ(second.exitStatus(), 1);

    const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool haveIpv6 = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    if (!haveIpv6) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    SimProcess six({"--listen", "[::1]:0", "--log", log_});
    const std::string ready = six.nextLine();
    ASSERT_TRUE(ready.starts_with("ready tcp [::1]:")) << ready;
    loopback.sin6_port = htons(static_cast<std::uint16_t>(std::stoi(ready.substr(ready.rfind(':') + 1))));
    Fd client(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
    ASSERT_TRUE(writeAll(client.get(), kRoute));
    EXPECT_EQ(readUntil(client.get(), "\r\n"), "OUT2 VS IN7\r\n");
}

} // namespace
} // namespace mc::sim
