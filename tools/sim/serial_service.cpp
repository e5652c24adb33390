#include "sim/serial_service.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace mc::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;
// Without a watch for the next open (inotify refused), a line no console
// holds is looked at again after this pause.
constexpr std::chrono::milliseconds kIdlePause{100};

} // namespace

SerialService::SerialService(SerialLine& line, Session& session, LineHooks hooks)
    : line_(line), session_(session), hooks_(std::move(hooks)) {
    if (!line_.isPseudoTerminal()) {
        return;
    }
    // Watched for as long as the program runs, so an open that comes between
    // the hang-up and the wait for the next one is not missed.
    openWatch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (openWatch_ >= 0 && ::inotify_add_watch(openWatch_, line_.slavePath().c_str(), IN_OPEN) < 0) {
        ::close(openWatch_);
        openWatch_ = -1;
    }
    if (openWatch_ < 0) {
        hooks_.info("cannot watch " + line_.slavePath() + " for a console opening it (" + std::strerror(errno) +
                    "): looking every " + std::to_string(kIdlePause.count()) + " ms instead");
    }
}

SerialService::~SerialService() {
    if (openWatch_ >= 0) {
        ::close(openWatch_);
    }
}

void SerialService::addPollFds(std::vector<pollfd>& fds, Clock::time_point now) const {
    short events = 0;
    int fd = -1;
    if (!waitingForOpen_ && now >= idleUntil_) {
        fd = line_.fd();
        // Over its backlog the line's input waits: it gets no new replies
        // until it takes the ones held. After a hang-up nothing is read.
        if (!hangingUp_ && !backlog_.full()) {
            events |= POLLIN;
        }
        if (!backlog_.empty()) {
            events |= POLLOUT;
        }
    }
    fds.push_back({fd, events, 0});
    fds.push_back({waitingForOpen_ ? openWatch_ : -1, POLLIN, 0});
}

std::optional<SerialService::Clock::time_point> SerialService::nextDeadline() const {
    if (hangingUp_) {
        return hangupDeadline_;
    }
    if (idleUntil_ > Clock::time_point{}) {
        return idleUntil_;
    }
    if (!backlog_.empty() && !waitingForOpen_) {
        return backlog_.lastProgress() + kSerialStallLimit;
    }
    return std::nullopt;
}

std::optional<int> SerialService::handle(std::span<const pollfd> fds, Clock::time_point now,
                                         const SerialLine::Pause& pause) {
    if (fds.size() < 2) {
        return std::nullopt;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        // Someone opened the slave side (possibly just now, possibly earlier
        // while a console held it): look at the line again.
        alignas(inotify_event) std::array<char, 4096> events{};
        while (::read(openWatch_, events.data(), events.size()) > 0) {
        }
        waitingForOpen_ = false;
    }
    if (now >= idleUntil_) {
        idleUntil_ = {};
    }
    const short revents = fds[0].revents;
    if ((revents & POLLIN) != 0 && (fds[0].events & POLLIN) != 0) {
        if (const auto status = readLine(now)) {
            return status;
        }
    } else if ((revents & (POLLHUP | POLLERR)) != 0) {
        if (!line_.isPseudoTerminal()) {
            hooks_.info("device " + line_.path() + " failed: hung up");
            return 1;
        }
        consoleGone();
    }
    if ((revents & POLLOUT) != 0 && !waitingForOpen_) {
        flush(now);
    }
    if (hangingUp_) {
        if (waitingForOpen_ || backlog_.empty() || now >= hangupDeadline_) {
            return finishHangup(now, pause);
        }
    } else if (!backlog_.empty() && now - backlog_.lastProgress() >= kSerialStallLimit) {
        hooks_.info(std::to_string(backlog_.clear()) + " bytes of replies dropped: the line took none for " +
                    std::to_string(kSerialStallLimit.count()) + " ms");
    }
    return std::nullopt;
}

std::optional<int> SerialService::readLine(Clock::time_point now) {
    std::array<char, kReadChunk> buffer{};
    const ssize_t n = ::read(line_.fd(), buffer.data(), buffer.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return std::nullopt;
    }
    if (n <= 0) {
        if (!line_.isPseudoTerminal()) {
            hooks_.info("device " + line_.path() + " failed: " + (n < 0 ? std::strerror(errno) : "closed"));
            return 1;
        }
        consoleGone();
        return std::nullopt;
    }
    consoleAttached_ = true;
    const SessionOutput out = session_.receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    for (const Exchange& exchange : out.exchanges) {
        hooks_.exchange(exchange);
        backlog_.add(exchange.reply, now);
    }
    // Each reply goes out as soon as it is made, as far as the line takes it.
    flush(now);
    if (out.hangUp) {
        hangingUp_ = true;
        hangupDeadline_ = now + kSerialHangupGrace;
    }
    return std::nullopt;
}

void SerialService::flush(Clock::time_point now) {
    while (!backlog_.empty()) {
        const std::string_view pending = backlog_.pending();
        const ssize_t n = ::write(line_.fd(), pending.data(), pending.size());
        if (n > 0) {
            backlog_.taken(static_cast<std::size_t>(n), now);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            // The console went away under the write; its read side says so next.
            hooks_.info(std::to_string(backlog_.clear()) + " bytes of replies dropped: " + std::strerror(errno));
        }
        return;
    }
}

void SerialService::consoleGone() {
    if (consoleAttached_) {
        hooks_.info("console closed the line");
        consoleAttached_ = false;
    }
    if (const std::size_t dropped = backlog_.clear(); dropped > 0) {
        hooks_.info(std::to_string(dropped) + " bytes of replies dropped: nobody holds the line");
    }
    if (openWatch_ >= 0) {
        waitingForOpen_ = true;
    } else {
        idleUntil_ = Clock::now() + kIdlePause;
    }
}

int SerialService::finishHangup(Clock::time_point now, const SerialLine::Pause& pause) {
    if (!waitingForOpen_ && backlog_.empty() && now < hangupDeadline_) {
        line_.waitUntilTaken(std::chrono::ceil<std::chrono::milliseconds>(hangupDeadline_ - now), pause);
    }
    hooks_.info("hanging up after " + std::to_string(session_.receivedBytes()) + " bytes");
    return 0;
}

} // namespace mc::sim
