#include "tcp_link.h"

#include "link/link_address.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mc::ctl {
namespace {

// Waits are cut into slices this long so an interrupt ends them soon.
constexpr int kWaitSliceMs = 50;
// A write that cannot go out within this long counts as failed, as on the line.
constexpr auto kWriteTimeout = std::chrono::milliseconds(1000);

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, kWaitSliceMs));
}

// Connects one socket to one address within the deadline; the errno of the
// failure, 0 on success.
int connectOne(int fd, const addrinfo& address, Clock::time_point deadline) {
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS) {
        return errno;
    }
    while (true) {
        pollfd p{fd, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return ETIMEDOUT;
        }
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kWaitSliceMs)));
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
        if (interruptRequested()) {
            return EINTR;
        }
        if (ready > 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                return errno;
            }
            return error;
        }
    }
}

} // namespace

TcpLink::~TcpLink() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TcpLink::open(const std::string& host, std::uint16_t port, std::chrono::milliseconds connectTimeout) {
    name_ = formatLinkAddress(TcpLinkAddress{host, port});
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) {
        error_ = name_ + ": cannot resolve the host: " +
                 (resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved));
        return false;
    }
    const auto deadline = Clock::now() + connectTimeout;
    int lastError = 0;
    for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        lastError = connectOne(fd, *a, deadline);
        if (lastError == 0) {
            fd_ = fd;
        } else {
            ::close(fd);
            if (lastError == ETIMEDOUT || lastError == EINTR) {
                break; // the time is spent for every further address too
            }
        }
    }
    ::freeaddrinfo(found);
    if (fd_ < 0) {
        if (lastError == ETIMEDOUT) {
            error_ = name_ + ": no connection within " + std::to_string(connectTimeout.count()) + " ms";
        } else if (lastError == EINTR) {
            error_ = name_ + ": interrupted while connecting";
        } else {
            error_ = name_ + ": " + std::strerror(lastError);
        }
        return false;
    }
    // Commands are short lines: send each at once.
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

bool TcpLink::send(std::string_view bytes) {
    if (fd_ < 0 || closed_) {
        error_ = name_ + ": the connection is closed";
        return false;
    }
    const auto deadline = Clock::now() + kWriteTimeout;
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error_ = name_ + ": cannot send: " + std::strerror(errno);
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (Clock::now() >= deadline || ::poll(&p, 1, msUntil(deadline)) < 0) {
            if (errno == EINTR && Clock::now() < deadline) {
                continue;
            }
            error_ = name_ + ": the peer takes no data";
            return false;
        }
    }
    return true;
}

LineLink::Wait TcpLink::nextLine(std::string& line, Clock::time_point deadline) {
    while (true) {
        while (pendingAt_ < pending_.size()) {
            if (auto complete = assembler_.append(pending_[pendingAt_++])) {
                line = std::move(*complete);
                return Wait::Line;
            }
        }
        if (interruptRequested()) {
            return Wait::Interrupted;
        }
        if (closed_) {
            return Wait::HungUp;
        }
        if (Clock::now() >= deadline) {
            return Wait::Timeout;
        }
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, msUntil(deadline));
        if (ready <= 0) {
            continue; // time, an interrupt or EINTR: the loop's tests decide
        }
        std::array<char, 4096> chunk{};
        const ssize_t n = ::recv(fd_, chunk.data(), chunk.size(), 0);
        if (n > 0) {
            pending_.assign(chunk.data(), static_cast<std::size_t>(n));
            pendingAt_ = 0;
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        closed_ = true;
        error_ = n == 0 ? name_ + ": the peer closed the connection" : name_ + ": " + std::strerror(errno);
        return Wait::HungUp;
    }
}

} // namespace mc::ctl
