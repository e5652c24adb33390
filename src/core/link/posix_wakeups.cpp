#ifndef _WIN32

#include "link/posix_wakeups.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace mc {

void signalEventFd(int eventFd) {
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

namespace {

void drainEventFd(int eventFd) {
    std::uint64_t value = 0;
    while (::read(eventFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

} // namespace

int remainingMs(LinkBackend::Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - LinkBackend::Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

PosixWakeups::~PosixWakeups() {
    closeFd(stopFd_);
    closeFd(writeFd_);
}

bool PosixWakeups::create() {
    closeFd(stopFd_);
    closeFd(writeFd_);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    writeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return stopFd_ >= 0 && writeFd_ >= 0;
}

void PosixWakeups::wakeForStop() const {
    signalEventFd(stopFd_);
}

void PosixWakeups::wakeForWrite() const {
    signalEventFd(writeFd_);
}

void PosixWakeups::takeWriteWake() const {
    drainEventFd(writeFd_);
}

LinkWake PosixWakeups::wait(int fd, bool watchLine) const {
    // In priority order: stop, line, write. A negative fd is not watched.
    std::array<pollfd, 3> fds{{{stopFd_, POLLIN, 0}, {watchLine ? fd : -1, POLLIN, 0}, {writeFd_, POLLIN, 0}}};
    while (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno != EINTR) {
            return LinkWake::Failed;
        }
    }
    if (fds[0].revents != 0) {
        return LinkWake::Stop;
    }
    if (fds[1].revents != 0) {
        return (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? LinkWake::HungUp : LinkWake::Readable;
    }
    return LinkWake::Write;
}

PosixWakeups::Writable PosixWakeups::waitWritable(int fd, LinkBackend::Clock::time_point deadline) const {
    std::array<pollfd, 2> fds{{{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}}};
    const int wait = remainingMs(deadline);
    const int ready = wait > 0 ? ::poll(fds.data(), fds.size(), wait) : 0;
    if (ready < 0 && errno == EINTR) {
        return Writable::Ready;
    }
    if (fds[1].revents != 0) {
        return Writable::Stopped;
    }
    if (ready == 0) {
        return Writable::TimedOut;
    }
    if (ready < 0) {
        return Writable::Failed;
    }
    return (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? Writable::HungUp : Writable::Ready;
}

} // namespace mc

#endif
