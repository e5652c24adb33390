// TCP backend: non-blocking sockets, poll() and eventfds (Linux).
#ifndef _WIN32

#include "link/posix_wakeups.h"
#include "link/tcp_backend.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace mc {

namespace {

// Silence for good: the first keepalive probe after this many idle seconds,
// then one every interval; the connection fails after the count unanswered.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 2;
constexpr int kKeepCount = 3;
// Sent bytes left unacknowledged this long also fail the connection.
constexpr unsigned kUserTimeoutMs = 10000;

// Bytes taken from the socket per receive; handed on one at a time.
constexpr std::size_t kReceiveChunk = 4096;

std::string seconds(std::chrono::milliseconds bound) {
    const auto ms = bound.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// One name resolution on a thread of its own: getaddrinfo cannot be
// interrupted, so the worker waits for `done` at most until its deadline and
// a stop, then leaves the job to finish and free itself.
struct ResolveJob {
    ResolveJob() : done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~ResolveJob() {
        if (found != nullptr) {
            ::freeaddrinfo(found);
        }
        closeFd(done);
    }
    ResolveJob(const ResolveJob&) = delete;
    ResolveJob& operator=(const ResolveJob&) = delete;

    int done;
    std::mutex lock; // the results, written by the helper, read by the worker
    int result = 0;
    int savedErrno = 0;
    addrinfo* found = nullptr;
};

class TcpBackend : public LinkBackend {
public:
    TcpBackend(TcpLinkAddress address, std::chrono::milliseconds connectTimeout, TcpConnectedFlag connected)
        : address_(std::move(address)), name_(formatLinkAddress(address_)), connectTimeout_(connectTimeout),
          connected_(std::move(connected)) {}
    ~TcpBackend() override { close(); }
    TcpBackend(const TcpBackend&) = delete;
    TcpBackend& operator=(const TcpBackend&) = delete;

    bool open() override {
        if (!wakeups_.create()) {
            failed("eventfd");
            return false;
        }
        return true;
    }

    bool connect() override {
        const auto deadline = Clock::now() + connectTimeout_;
        const std::shared_ptr<ResolveJob> job = resolve(deadline);
        if (!job) {
            return false;
        }
        int lastError = 0;
        for (const addrinfo* a = job->found; a != nullptr; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            lastError = connectOne(fd, *a, deadline);
            if (lastError == 0) {
                fd_ = fd;
                break;
            }
            ::close(fd);
            if (lastError == ETIMEDOUT || lastError == ECANCELED) {
                break; // the time is spent for every further address too
            }
        }
        if (fd_ < 0) {
            if (lastError == ETIMEDOUT) {
                failure_ = "connect " + name_ + ": timed out after " + seconds(connectTimeout_);
            } else if (lastError == ECANCELED) {
                failure_ = "connect " + name_ + ": ended by the close";
            } else {
                failure_ = "connect " + name_ + ": " + std::strerror(lastError);
            }
            return false;
        }
        tune();
        if (connected_) {
            connected_->store(true);
        }
        return true;
    }

    // The serial line's settings mean nothing on a socket.
    bool configure(const LineSettings& /*line*/) override { return true; }

    void close() override {
        closeFd(fd_);
        received_.clear();
        receivedAt_ = 0;
    }

    void wakeForStop() override { wakeups_.wakeForStop(); }
    void wakeForWrite() override { wakeups_.wakeForWrite(); }
    void takeWriteWake() override { wakeups_.takeWriteWake(); }

    LinkWake wait(bool watchLine) override {
        const LinkWake wake = wakeups_.wait(fd_, watchLine);
        if (wake == LinkWake::Failed) {
            failed("poll");
        }
        return wake;
    }

    long queuedBytes() override {
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) != 0) {
            failed("queue status " + name_);
            return -1;
        }
        return static_cast<long>(received_.size() - receivedAt_) + queued;
    }

    LinkRead readByte(std::uint8_t& byte) override {
        if (receivedAt_ == received_.size()) {
            received_.resize(kReceiveChunk);
            receivedAt_ = 0;
            const ssize_t n = receive(received_.data(), received_.size());
            received_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            if (n == 0) {
                failure_ = "read " + name_ + ": the peer closed the connection";
                return LinkRead::Failed;
            }
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return LinkRead::Empty;
                }
                failed("read " + name_);
                return LinkRead::Failed;
            }
        }
        byte = static_cast<std::uint8_t>(received_[receivedAt_++]);
        return LinkRead::Byte;
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
                failed("write " + name_);
                return LinkWrite::Failed;
            }
            switch (wakeups_.waitWritable(fd_, deadline)) {
            case PosixWakeups::Writable::Ready:
            case PosixWakeups::Writable::HungUp: // the next send names the error
                continue;
            case PosixWakeups::Writable::Stopped:
                return LinkWrite::Stopped;
            case PosixWakeups::Writable::TimedOut:
                failure_ = "write " + name_ + ": timed out (the peer takes no data)";
                return LinkWrite::Failed;
            case PosixWakeups::Writable::Failed:
                failed("write " + name_);
                return LinkWrite::Failed;
            }
        }
        return LinkWrite::Written;
    }

    // Discards what has come in and is unread, as the serial line's input
    // flush does. An end of file or a reset stays pending for the next wait.
    void purgeInput() override {
        received_.clear();
        receivedAt_ = 0;
        if (fd_ < 0) {
            return;
        }
        std::array<char, kReceiveChunk> discard{};
        int queued = 0;
        while (::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0) {
            if (::recv(fd_, discard.data(), discard.size(), MSG_DONTWAIT) <= 0) {
                break;
            }
        }
    }
    // A socket has no unsent output to take back.
    void purgeAll() override { purgeInput(); }

    [[nodiscard]] std::string failure() const override { return failure_; }

private:
    void failed(const std::string& call) {
        const int error = errno;
        failure_ = call + ": " + std::strerror(error);
    }

    ssize_t receive(char* into, std::size_t size) const {
        for (;;) {
            const ssize_t n = ::recv(fd_, into, size, MSG_DONTWAIT);
            if (n >= 0 || errno != EINTR) {
                return n;
            }
        }
    }

    // Resolves the host on a helper thread; nullptr, with the reason, when
    // the name has no address, the deadline passes or a stop comes first.
    std::shared_ptr<ResolveJob> resolve(Clock::time_point deadline) {
        auto job = std::make_shared<ResolveJob>();
        if (job->done < 0) {
            failed("resolve " + address_.host + " (eventfd)");
            return nullptr;
        }
        try {
            std::thread([job, host = address_.host, service = std::to_string(address_.port)] {
                addrinfo hints{};
                hints.ai_family = AF_UNSPEC;
                hints.ai_socktype = SOCK_STREAM;
                hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
                addrinfo* found = nullptr;
                const int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
                const int savedErrno = errno;
                {
                    const std::lock_guard lock(job->lock);
                    job->result = result;
                    job->savedErrno = savedErrno;
                    job->found = found;
                }
                signalEventFd(job->done);
            }).detach();
        } catch (const std::system_error& e) {
            failure_ = "resolve " + address_.host + ": " + e.what();
            return nullptr;
        }
        std::array<pollfd, 2> fds{{{wakeups_.stopFd(), POLLIN, 0}, {job->done, POLLIN, 0}}};
        for (;;) {
            const int ready = ::poll(fds.data(), fds.size(), remainingMs(deadline));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                failed("resolve " + address_.host + " (poll)");
                return nullptr;
            }
            if (fds[0].revents != 0) {
                failure_ = "resolve " + address_.host + ": ended by the close";
                return nullptr;
            }
            if (ready == 0) {
                failure_ = "resolve " + address_.host + ": timed out after " + seconds(connectTimeout_);
                return nullptr;
            }
            break;
        }
        const std::lock_guard lock(job->lock); // the helper's results are there, and it is done with them
        if (job->result != 0) {
            failure_ = "resolve " + address_.host + ": " +
                       (job->result == EAI_SYSTEM ? std::strerror(job->savedErrno) : ::gai_strerror(job->result));
            return nullptr;
        }
        return job;
    }

    // Connects one socket within the deadline: 0, the errno of the failure,
    // or ECANCELED when a stop came first.
    [[nodiscard]] int connectOne(int fd, const addrinfo& address, Clock::time_point deadline) const {
        if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
            return 0;
        }
        if (errno != EINPROGRESS) {
            return errno;
        }
        std::array<pollfd, 2> fds{{{fd, POLLOUT, 0}, {wakeups_.stopFd(), POLLIN, 0}}};
        for (;;) {
            const int ready = ::poll(fds.data(), fds.size(), remainingMs(deadline));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready < 0) {
                return errno;
            }
            if (fds[1].revents != 0) {
                return ECANCELED;
            }
            if (ready == 0) {
                return ETIMEDOUT;
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                return errno;
            }
            return error;
        }
    }

    // Commands go out at once; a peer gone silent is noticed by keepalive.
    void tune() const {
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof kKeepIntervalSeconds);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
        ::setsockopt(fd_, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
    }

    TcpLinkAddress address_;
    std::string name_;
    std::chrono::milliseconds connectTimeout_;
    TcpConnectedFlag connected_;
    int fd_ = -1;
    PosixWakeups wakeups_;
    std::string received_; // taken from the socket, read up to receivedAt_
    std::size_t receivedAt_ = 0;
    std::string failure_;
};

} // namespace

std::unique_ptr<LinkBackend> makeTcpBackend(const TcpLinkAddress& address, std::chrono::milliseconds connectTimeout,
                                            const TcpConnectedFlag& connected) {
    return std::make_unique<TcpBackend>(address, connectTimeout, connected);
}

} // namespace mc

#endif
