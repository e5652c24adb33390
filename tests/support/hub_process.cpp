#include "support/hub_process.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace mc::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kStartTimeout = 10s;
constexpr std::string_view kReadyPrefix = "ready text 127.0.0.1:";

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::optional<int> reap(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(5ms);
    }
}

} // namespace

HubProcess::HubProcess(Options options) : options_(std::move(options)) {
    static std::atomic<int> started{0};
    logFile_ = options_.directory + "/hub-" + std::to_string(++started) + ".log";
    const std::string site = options_.site.empty() ? options_.directory + "/site.json" : options_.site;
    std::vector<std::string> args{executablePath(), "--link", options_.link, "--text", options_.textListen};
    args.insert(args.end(), {"--poll", std::to_string(options_.pollSeconds), "--log-level", "debug", "--site", site});
    args.insert(args.end(), options_.extra.begin(), options_.extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        startupOutput_ = "no pipe";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        startupOutput_ = "cannot start " + args[0];
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
    if (pid_ < 0) {
        return;
    }
    const auto deadline = Clock::now() + kStartTimeout;
    while (startupOutput_.find('\n') == std::string::npos) {
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        startupOutput_.append(buffer, static_cast<std::size_t>(n));
    }
    if (startupOutput_.starts_with(kReadyPrefix)) {
        textPort_ = static_cast<std::uint16_t>(std::strtoul(startupOutput_.c_str() + kReadyPrefix.size(), nullptr, 10));
    }
    if (textPort_ == 0) {
        startupOutput_ += log();
    }
}

HubProcess::~HubProcess() {
    if (pid_ > 0) {
        stop(SIGTERM, 5s);
    }
    if (stdout_ >= 0) {
        ::close(stdout_);
    }
}

std::string HubProcess::executablePath() {
    const char* dir = std::getenv("MC_BUILD_DIR");
    return std::string(dir != nullptr ? dir : MC_DEFAULT_BUILD_DIR) + "/src/hub/matrix-hub";
}

std::string HubProcess::log() const {
    std::ifstream in(logFile_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HubProcess::waitForLog(std::string_view text, std::chrono::milliseconds timeout, std::size_t count) const {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const std::string all = log();
        std::size_t found = 0;
        for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) {
            ++found;
        }
        if (found >= count) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

std::optional<int> HubProcess::stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    ::kill(pid_, signal);
    auto status = reap(pid_, timeout);
    if (!status) {
        ::kill(pid_, SIGKILL);
        reap(pid_, 5s);
    }
    pid_ = -1;
    return status;
}

TextClient::TextClient(std::uint16_t port, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

TextClient::~TextClient() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TextClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string TextClient::receiveUntil(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pending_.find(text) == std::string::npos) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    return std::exchange(pending_, {});
}

std::string TextClient::receiveFor(std::chrono::milliseconds time) {
    return receiveUntil(std::string(1, '\0') + "never", time);
}

bool TextClient::waitForClose(std::chrono::milliseconds timeout, std::string* received) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, msLeft(deadline)) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (received != nullptr) {
                *received = std::exchange(pending_, {});
            }
            return true;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace mc::test
