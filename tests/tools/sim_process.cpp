#include "tools/sim_process.h"

#include "sim/reply_lines.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mc::sim {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

std::string readUntil(int fd, std::string_view until, bool* eof, std::chrono::milliseconds timeout) {
    std::string got;
    const auto deadline = Clock::now() + timeout;
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

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        const ssize_t written = n < 0 && errno == ENOTSOCK ? ::write(fd, bytes.data(), bytes.size()) : n;
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

SimProcess::SimProcess(const std::vector<std::string>& args, SimPipes pipes) {
    int out[2];
    int in[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || (pipes.input && ::pipe2(in, O_CLOEXEC) != 0) ||
        (pipes.errors && ::pipe2(err, O_CLOEXEC) != 0)) {
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
    if (pipes.input) {
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    }
    if (pipes.errors) {
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
    if (pipes.input) {
        ::close(in[0]);
        stdin_ = in[1];
    }
    if (pipes.errors) {
        ::close(err[1]);
        stderr_ = err[0];
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {stdout_, stdin_, stderr_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool SimProcess::writeInput(std::string_view bytes) const {
    return stdin_ >= 0 && writeAll(stdin_, bytes);
}

void SimProcess::closeInput() {
    if (stdin_ >= 0) {
        ::close(stdin_);
        stdin_ = -1;
    }
}

std::string SimProcess::nextLine() {
    if (pending_.find('\n') == std::string::npos) {
        pending_ += readUntil(stdout_, "\n");
    }
    const auto end = pending_.find('\n');
    if (end == std::string::npos) {
        return {};
    }
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return line;
}

int SimProcess::tcpPort() {
    static const std::regex ready(R"(ready tcp 127\.0\.0\.1:(\d{1,5}))");
    std::smatch match;
    const std::string line = nextLine();
    return std::regex_match(line, match, ready) ? std::stoi(match[1]) : 0;
}

void SimProcess::signal(int number) const {
    ::kill(pid_, number);
}

std::optional<int> SimProcess::exitStatus() {
    const auto deadline = Clock::now() + kProcessTimeout;
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

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

int connectLoopback(int port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return -1;
}

std::string localEndpoint(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
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

} // namespace mc::sim
