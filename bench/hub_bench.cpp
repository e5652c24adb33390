// Timing probes for matrix-hub, run by hand through scripts/bench-hub:
//
//   hub-bench roundtrip HOST:PORT COUNT
//       one text client: a route command, then its confirming reply, COUNT
//       times; prints the median and the 90th percentile in microseconds.
//   hub-bench fanout HUB CLIENTS COUNT
//       plays the switcher on a pseudo-terminal for the hub program HUB,
//       connects CLIENTS text clients and writes COUNT route replies that
//       change the state; prints the time from each reply's last byte leaving
//       the switcher's side to the last client receiving it (median, 90th
//       percentile, worst), and the hub's resident memory with the clients.
//   hub-bench idle PID SECONDS
//       the CPU time process PID uses over SECONDS, as a share of one core.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int connectTo(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

// Reads from fd until `buffer` holds a line feed; false at the end or after 5 s.
bool readLine(int fd, std::string& buffer) {
    const auto deadline = Clock::now() + 5s;
    while (buffer.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

void printPercentiles(const char* what, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))];
    };
    std::printf("%s: median %.1f us, 90%% %.1f us, worst %.1f us over %zu\n", what, at(0.5), at(0.9), micros.back(),
                micros.size());
}

std::string route(int output, int input) {
    char text[32];
    std::snprintf(text, sizeof text, "\r\nSET OUT%-2d VS IN%-2d\r\n", output, input);
    return text;
}

int roundTrip(const std::string& address, int count) {
    const auto colon = address.rfind(':');
    const int fd = connectTo(address.substr(0, colon), std::atoi(address.c_str() + colon + 1));
    std::vector<double> micros;
    std::string buffer;
    // A few first, so connection set-up is not timed.
    for (int i = -10; i < count; ++i) {
        const std::string command = route(3, 5 + (i & 1));
        const auto start = Clock::now();
        if (::write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) {
            return 1;
        }
        // The confirmation is the line naming output 3; a status line that a
        // hub's poll may interleave is not taken for it.
        while (true) {
            if (!readLine(fd, buffer)) {
                std::fprintf(stderr, "no reply\n");
                return 1;
            }
            const std::string line = buffer.substr(0, buffer.find('\n') + 1);
            buffer.erase(0, line.size());
            if (line.rfind("OUT3 VS", 0) == 0) {
                break;
            }
        }
        if (i >= 0) {
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    printPercentiles("round trip", micros);
    ::close(fd);
    return 0;
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

int fanOut(const std::string& hubProgram, int clients, int count) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    const std::string slave = ::ptsname(master);
    {
        // Raw on the far side too, so replies pass unchanged.
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios line{};
        ::tcgetattr(fd, &line);
        ::cfmakeraw(&line);
        ::tcsetattr(fd, TCSANOW, &line);
        ::close(fd);
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return 1;
    }
    std::vector<std::string> args{hubProgram,    "--link",        slave,
                                  "--text",      "127.0.0.1:0",   "--poll",
                                  "0",           "--max-clients", std::to_string(clients),
                                  "--log-level", "warning"};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t hub = -1;
    if (::posix_spawn(&hub, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        return 1;
    }
    ::close(out[1]);
    std::string ready;
    if (!readLine(out[0], ready)) {
        std::fprintf(stderr, "the hub printed no ready line\n");
        return 1;
    }
    const int port = std::atoi(ready.c_str() + ready.rfind(':') + 1);
    std::vector<int> fds;
    for (int i = 0; i < clients; ++i) {
        fds.push_back(connectTo("127.0.0.1", port));
    }
    // Its status request goes unanswered; the route lines below change the
    // state, so the hub passes each to every client.
    std::this_thread::sleep_for(500ms);
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) {
        const std::string reply = "OUT3 VS IN" + std::to_string(5 + (i & 1)) + "\r\n";
        if (::write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) {
            return 1;
        }
        const auto start = Clock::now();
        std::vector<std::string> buffers(fds.size());
        std::size_t done = 0;
        std::vector<bool> have(fds.size(), false);
        while (done < fds.size()) {
            std::vector<pollfd> polls;
            for (std::size_t c = 0; c < fds.size(); ++c) {
                polls.push_back({fds[c], static_cast<short>(have[c] ? 0 : POLLIN), 0});
            }
            if (::poll(polls.data(), polls.size(), 5000) <= 0) {
                std::fprintf(stderr, "a client got nothing within 5 s\n");
                return 1;
            }
            for (std::size_t c = 0; c < fds.size(); ++c) {
                if ((polls[c].revents & POLLIN) == 0) {
                    continue;
                }
                char chunk[256];
                const ssize_t n = ::read(fds[c], chunk, sizeof chunk);
                if (n <= 0) {
                    std::fprintf(stderr, "a client was dropped\n");
                    return 1;
                }
                buffers[c].append(chunk, static_cast<std::size_t>(n));
                if (buffers[c].find(reply) != std::string::npos) {
                    have[c] = true;
                    ++done;
                }
            }
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        std::this_thread::sleep_for(5ms);
    }
    char what[64];
    std::snprintf(what, sizeof what, "reply to the last of %d clients", clients);
    printPercentiles(what, micros);
    std::printf("hub resident memory with %d clients: %ld KiB\n", clients, residentKiB(hub));
    ::kill(hub, SIGTERM);
    ::waitpid(hub, nullptr, 0);
    return 0;
}

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name in parentheses; utime and stime are the
    // 14th and 15th of the line.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

int idle(pid_t pid, int seconds) {
    const double before = cpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = cpuSeconds(pid) - before;
    std::printf("CPU over %d s: %.2f s, %.3f %% of one core\n", seconds, used, 100.0 * used / seconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "roundtrip") {
        return roundTrip(args[1], std::atoi(args[2].c_str()));
    }
    if (args.size() == 4 && args[0] == "fanout") {
        return fanOut(args[1], std::atoi(args[2].c_str()), std::atoi(args[3].c_str()));
    }
    if (args.size() == 3 && args[0] == "idle") {
        return idle(static_cast<pid_t>(std::atoi(args[1].c_str())), std::atoi(args[2].c_str()));
    }
    std::fprintf(stderr, "usage: hub-bench roundtrip HOST:PORT COUNT | fanout HUB CLIENTS COUNT | idle PID SECONDS\n");
    return 2;
}
