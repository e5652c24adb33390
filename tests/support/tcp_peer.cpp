#include "support/tcp_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mc::test {
namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket listening on a free loopback port; -1 on failure.
int listenOnLoopback(int backlog, std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool readable(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

} // namespace

TcpPeer::TcpPeer() {
    listenFd_ = listenOnLoopback(4, port_);
}

TcpPeer::~TcpPeer() {
    closeClient();
    stopListening();
}

bool TcpPeer::accept(std::chrono::milliseconds timeout) {
    if (!readable(listenFd_, timeout)) {
        return false;
    }
    closeClient();
    clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    return clientFd_ >= 0;
}

bool TcpPeer::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(clientFd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string TcpPeer::receive(std::size_t count, std::chrono::milliseconds timeout) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readable(clientFd_, left)) {
            break;
        }
        char chunk[512];
        const ssize_t n = ::recv(clientFd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    return out;
}

void TcpPeer::closeClient(bool reset) {
    if (clientFd_ < 0) {
        return;
    }
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(clientFd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(clientFd_);
    clientFd_ = -1;
}

void TcpPeer::stopListening() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

FullBacklogListener::FullBacklogListener() {
    listenFd_ = listenOnLoopback(0, port_);
    if (listenFd_ < 0) {
        return;
    }
    // Linux takes backlog + 1 connections into the accept queue, and lets a
    // few more wait half-open: fill until a connect no longer completes.
    const sockaddr_in address = loopback(port_);
    for (int i = 0; i < 16 && !ready_; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return;
        }
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            continue;
        }
        if (errno != EINPROGRESS) {
            return;
        }
        pollfd p{fd, POLLOUT, 0};
        ready_ = ::poll(&p, 1, 200) == 0; // this one hangs: so will the link's
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (int fd : fillers_) {
        ::close(fd);
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

std::uint16_t closedLoopbackPort() {
    std::uint16_t port = 0;
    const int fd = listenOnLoopback(1, port);
    if (fd >= 0) {
        ::close(fd);
    }
    return port;
}

} // namespace mc::test
