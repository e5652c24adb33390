#include "support/switcher_process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mc::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A busy machine may take a while to start a program.
constexpr auto kStartTimeout = 10s;
constexpr auto kPollStep = 10ms;
// Enough for the "ready" line and a diagnostic; the rest is not read.
constexpr std::size_t kStartupOutputLimit = 4096;
constexpr std::string_view kReadyPrefix = "ready ";

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::optional<std::string> unescapeLogBytes(const std::string& escaped) {
    std::string out;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= escaped.size()) {
            return std::nullopt;
        }
        switch (escaped[i]) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '"':
        case '\\':
            out += escaped[i];
            break;
        case 'x': {
            if (i + 2 >= escaped.size()) {
                return std::nullopt;
            }
            const int high = hexValue(escaped[i + 1]);
            const int low = hexValue(escaped[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::vector<SwitcherLogRecord> parseSwitcherLog(const std::string& text) {
    std::vector<SwitcherLogRecord> records;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // <timestamp> <kind> <detail>
        const std::size_t kindStart = line.find(' ');
        if (kindStart == std::string::npos) {
            continue;
        }
        const std::size_t kindEnd = line.find(' ', kindStart + 1);
        if (kindEnd == std::string::npos) {
            continue;
        }
        SwitcherLogRecord record{line.substr(kindStart + 1, kindEnd - kindStart - 1), line.substr(kindEnd + 1)};
        const bool quoted = record.detail.size() >= 2 && record.detail.front() == '"' && record.detail.back() == '"';
        if (quoted && (record.kind == "rx" || record.kind == "tx")) {
            const auto bytes = unescapeLogBytes(record.detail.substr(1, record.detail.size() - 2));
            if (!bytes) {
                continue;
            }
            record.detail = *bytes;
        }
        records.push_back(std::move(record));
    }
    return records;
}

SwitcherProcess::SwitcherProcess(Options options) : options_(std::move(options)) {
    const std::string com = std::to_string(options_.comPort);
    if (options_.logFile.empty()) {
        // One file per process: the log is appended to, and a later emulator
        // on the same port must not show its predecessor's records.
        static std::atomic<int> started{0};
        options_.logFile = options_.portDirectory + "/sim" + com + "-" + std::to_string(++started) + ".log";
    }
    std::vector<std::string> args{executablePath(), "--ports", options_.portDirectory, "--com", com, "--log",
                                  options_.logFile, "--mode",  options_.mode};
    if (options_.hangupAfter) {
        args.insert(args.end(), {"--hangup-after", std::to_string(*options_.hangupAfter)});
    }
    if (!options_.listen.empty()) {
        args.insert(args.end(), {"--listen", options_.listen});
    }
    args.insert(args.end(), options_.extra.begin(), options_.extra.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
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

    // The first line is "ready <link>" once the link can be opened.
    const std::string expected = std::string(kReadyPrefix) + options_.portDirectory + "/com" + com;
    const auto deadline = Clock::now() + kStartTimeout;
    // With --listen a second line follows: "ready tcp HOST:PORT".
    const auto linesWanted = options_.listen.empty() ? 1 : 2;
    while (std::count(startupOutput_.begin(), startupOutput_.end(), '\n') < linesWanted &&
           startupOutput_.size() < kStartupOutputLimit) {
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
    ready_ = startupOutput_.substr(0, startupOutput_.find('\n')) == expected;
    if (!options_.listen.empty()) {
        const std::size_t first = startupOutput_.find('\n');
        const std::string second = startupOutput_.substr(first + 1, startupOutput_.find('\n', first + 1) - first - 1);
        const std::size_t colon = second.rfind(':');
        if (second.starts_with("ready tcp ") && colon != std::string::npos) {
            tcpPort_ = static_cast<std::uint16_t>(std::strtoul(second.c_str() + colon + 1, nullptr, 10));
        }
        ready_ = ready_ && tcpPort_ != 0;
    }
}

SwitcherProcess::~SwitcherProcess() {
    if (pid_ > 0) {
        stop();
    }
    if (stdout_ >= 0) {
        ::close(stdout_);
    }
}

std::string SwitcherProcess::executablePath() {
    const char* dir = std::getenv("MC_BUILD_DIR");
    return std::string(dir != nullptr ? dir : MC_DEFAULT_BUILD_DIR) + "/tools/matrix-switcher-sim";
}

std::vector<SwitcherLogRecord> SwitcherProcess::log() const {
    return parseSwitcherLog(fileText(options_.logFile));
}

std::vector<std::string> SwitcherProcess::linesOfKind(const char* kind) const {
    std::vector<std::string> lines;
    for (auto& record : log()) {
        if (record.kind == kind) {
            lines.push_back(std::move(record.detail));
        }
    }
    return lines;
}

std::vector<std::string> SwitcherProcess::receivedLines() const {
    return linesOfKind("rx");
}

std::vector<std::string> SwitcherProcess::sentLines() const {
    return linesOfKind("tx");
}

bool SwitcherProcess::waitForReceivedLines(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (receivedLines().size() < count) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

std::optional<int> SwitcherProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            pid_ = -1;
            if (done < 0) {
                return std::nullopt;
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

std::optional<int> SwitcherProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    ::kill(pid_, SIGTERM);
    if (auto status = waitForExit(timeout)) {
        return status;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    return std::nullopt;
}

} // namespace mc::test
