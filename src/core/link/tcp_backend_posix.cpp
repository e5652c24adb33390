// TCP backend: non-blocking sockets, poll() and eventfds (Linux).
#ifndef _WIN32

#include "link/posix_wakeups.h"
#include "link/tcp_link.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mc {

namespace {

// The resolve job's done signal: an eventfd the worker polls.
class PosixResolveJob final : public ResolveJob {
public:
    PosixResolveJob() : done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~PosixResolveJob() override { closeFd(done); }
    PosixResolveJob(const PosixResolveJob&) = delete;
    PosixResolveJob& operator=(const PosixResolveJob&) = delete;

    void signalDone() override { signalEventFd(done); }

    int done;
};

class TcpBackend final : public TcpBackendBase {
public:
    TcpBackend(TcpLinkAddress address, std::chrono::milliseconds connectTimeout, TcpConnectedFlag connected)
        : TcpBackendBase(std::move(address), connectTimeout, std::move(connected)) {}
    ~TcpBackend() override { close(); }
    TcpBackend(const TcpBackend&) = delete;
    TcpBackend& operator=(const TcpBackend&) = delete;

    bool open() override {
        if (!wakeups_.create()) {
            failedWith("eventfd", errno);
            return false;
        }
        return true;
    }

    void close() override {
        closeFd(fd_);
        dropReceived();
    }

    void wakeForStop() override { wakeups_.wakeForStop(); }
    void wakeForWrite() override { wakeups_.wakeForWrite(); }
    void takeWriteWake() override { wakeups_.takeWriteWake(); }

    LinkWake wait(bool watchLine) override {
        const LinkWake wake = wakeups_.wait(fd_, watchLine);
        if (wake == LinkWake::Failed) {
            failedWith("poll", errno);
        }
        return wake;
    }

    LinkWrite write(std::string_view bytes, Clock::time_point deadline) override {
        if (fd_ < 0) {
            return LinkWrite::Failed; // the connect failed: its reason stands
        }
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                failedWith("write " + peerName(), errno);
                return LinkWrite::Failed;
            }
            switch (wakeups_.waitWritable(fd_, deadline)) {
            case PosixWakeups::Writable::Ready:
            case PosixWakeups::Writable::HungUp: // the next send names the error
                continue;
            case PosixWakeups::Writable::Stopped:
                return LinkWrite::Stopped;
            case PosixWakeups::Writable::TimedOut:
                recordFailure("write " + peerName() + ": timed out (the peer takes no data)");
                return LinkWrite::Failed;
            case PosixWakeups::Writable::Failed:
                failedWith("write " + peerName(), errno);
                return LinkWrite::Failed;
            }
        }
        return LinkWrite::Written;
    }

protected:
    std::unique_ptr<ResolveJob> makeResolveJob(int& error) override {
        auto job = std::make_unique<PosixResolveJob>();
        if (job->done < 0) {
            error = errno;
            return nullptr;
        }
        return job;
    }

    Waited waitResolved(ResolveJob& job, Clock::time_point deadline, int& error) override {
        const int done = static_cast<PosixResolveJob&>(job).done;
        std::array<pollfd, 2> fds{{{wakeups_.stopFd(), POLLIN, 0}, {done, POLLIN, 0}}};
        return pollUntil(fds, deadline, error);
    }

    [[nodiscard]] std::string resolveErrorText(int result, int savedErrno) const override {
        return result == EAI_SYSTEM ? std::strerror(savedErrno) : ::gai_strerror(result);
    }

    Waited connectTo(const addrinfo& address, Clock::time_point deadline, int& error) override {
        fd_ = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
        if (fd_ < 0) {
            error = errno;
            return Waited::Failed;
        }
        Waited end = Waited::Done;
        if (::connect(fd_, address.ai_addr, address.ai_addrlen) != 0) {
            if (errno == EINPROGRESS) {
                end = waitConnected(deadline, error);
            } else {
                error = errno;
                end = Waited::Failed;
            }
        }
        if (end != Waited::Done) {
            closeFd(fd_);
        }
        return end;
    }

    void tune() override {
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &kTcpKeepIdleSeconds, sizeof kTcpKeepIdleSeconds);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &kTcpKeepIntervalSeconds, sizeof kTcpKeepIntervalSeconds);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &kTcpKeepCount, sizeof kTcpKeepCount);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_USER_TIMEOUT, &kTcpUserTimeoutMs, sizeof kTcpUserTimeoutMs);
    }

    long receiveSome(char* into, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::recv(fd_, into, size, MSG_DONTWAIT);
            if (n >= 0) {
                return static_cast<long>(n);
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return kNothingYet;
            }
            if (errno != EINTR) {
                failedWith("read " + peerName(), errno);
                return -1;
            }
        }
    }

    long socketQueued() override {
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) != 0) {
            failedWith("queue status " + peerName(), errno);
            return -1;
        }
        return queued;
    }

    [[nodiscard]] std::string errorText(int error) const override { return std::strerror(error); }
    [[nodiscard]] bool hasConnection() const override { return fd_ >= 0; }

private:
    // The first descriptor is the stop wake-up, the second what is waited for.
    static Waited pollUntil(std::array<pollfd, 2>& fds, Clock::time_point deadline, int& error) {
        for (;;) {
            const int ready = ::poll(fds.data(), fds.size(), remainingMs(deadline));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                error = errno;
                return Waited::Failed;
            }
            if (fds[0].revents != 0) {
                return Waited::Stopped;
            }
            return ready == 0 ? Waited::TimedOut : Waited::Done;
        }
    }

    // After a connect in progress: its outcome within the deadline.
    Waited waitConnected(Clock::time_point deadline, int& error) const {
        std::array<pollfd, 2> fds{{{wakeups_.stopFd(), POLLIN, 0}, {fd_, POLLOUT, 0}}};
        const Waited end = pollUntil(fds, deadline, error);
        if (end != Waited::Done) {
            return end;
        }
        socklen_t size = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            error = errno;
        }
        return error == 0 ? Waited::Done : Waited::Failed;
    }

    int fd_ = -1;
    PosixWakeups wakeups_;
};

} // namespace

std::unique_ptr<LinkBackend> makeTcpBackend(const TcpLinkAddress& address, std::chrono::milliseconds connectTimeout,
                                            const TcpConnectedFlag& connected) {
    return std::make_unique<TcpBackend>(address, connectTimeout, connected);
}

} // namespace mc

#endif
