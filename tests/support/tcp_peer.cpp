#include "support/tcp_peer.h"

#ifdef _WIN32
#include "link/win32_system.h"

#include <winsock2.h> // holds windows.h, and must come before it
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace mc::test {
namespace {

// The few calls that differ between Winsock and POSIX sockets.
#ifdef _WIN32
constexpr int kNoSignal = 0;
// The test programs use Winsock through the core's one start-up.
PeerSocket newSocket() {
    return mc::startWinsock() == 0 ? ::socket(AF_INET, SOCK_STREAM, 0) : kNoPeerSocket;
}
PeerSocket acceptOne(PeerSocket listener) {
    return ::accept(listener, nullptr, nullptr);
}
void closeSocket(PeerSocket s) {
    ::closesocket(s);
}
int pollSockets(pollfd* fds, unsigned long count, int timeoutMs) {
    return ::WSAPoll(fds, count, timeoutMs);
}
// A non-blocking socket, for a connect that is left to hang.
PeerSocket nonBlockingSocket() {
    const PeerSocket s = newSocket();
    u_long on = 1;
    if (s != kNoPeerSocket) {
        ::ioctlsocket(s, FIONBIO, &on);
    }
    return s;
}
bool connectInProgress() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
#else
constexpr int kNoSignal = MSG_NOSIGNAL;
PeerSocket newSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
PeerSocket acceptOne(PeerSocket listener) {
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}
void closeSocket(PeerSocket s) {
    ::close(s);
}
int pollSockets(pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}
PeerSocket nonBlockingSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}
bool connectInProgress() {
    return errno == EINPROGRESS;
}
#endif

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket listening on a free loopback port; kNoPeerSocket on failure.
PeerSocket listenOnLoopback(int backlog, std::uint16_t& port) {
    const PeerSocket fd = newSocket();
    if (fd == kNoPeerSocket) {
        return kNoPeerSocket;
    }
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        closeSocket(fd);
        return kNoPeerSocket;
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool waitFor(PeerSocket fd, short events, std::chrono::milliseconds timeout) {
    pollfd p{};
    p.fd = fd;
    p.events = events;
    return pollSockets(&p, 1, static_cast<int>(timeout.count())) > 0;
}

} // namespace

TcpPeer::TcpPeer() {
    listenFd_ = listenOnLoopback(4, port_);
}

TcpPeer::~TcpPeer() {
    closeClient();
    stopListening();
}

bool TcpPeer::listening() const {
    return listenFd_ != kNoPeerSocket;
}

bool TcpPeer::accept(std::chrono::milliseconds timeout) {
    if (!waitFor(listenFd_, POLLIN, timeout)) {
        return false;
    }
    closeClient();
    clientFd_ = acceptOne(listenFd_);
    return clientFd_ != kNoPeerSocket;
}

bool TcpPeer::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(clientFd_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), kNoSignal);
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
        if (left.count() <= 0 || !waitFor(clientFd_, POLLIN, left)) {
            break;
        }
        char chunk[512];
        const auto n = ::recv(clientFd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    return out;
}

void TcpPeer::closeClient(bool reset) {
    if (clientFd_ == kNoPeerSocket) {
        return;
    }
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(clientFd_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    }
    closeSocket(clientFd_);
    clientFd_ = kNoPeerSocket;
}

void TcpPeer::stopListening() {
    if (listenFd_ != kNoPeerSocket) {
        closeSocket(listenFd_);
        listenFd_ = kNoPeerSocket;
    }
}

FullBacklogListener::FullBacklogListener() {
    listenFd_ = listenOnLoopback(0, port_);
    if (listenFd_ == kNoPeerSocket) {
        return;
    }
    // Linux takes backlog + 1 connections into the accept queue, and lets a
    // few more wait half-open: fill until a connect no longer completes.
    const sockaddr_in address = loopback(port_);
    for (int i = 0; i < 16 && !ready_; ++i) {
        const PeerSocket fd = nonBlockingSocket();
        if (fd == kNoPeerSocket) {
            return;
        }
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            continue;
        }
        if (!connectInProgress()) {
            return;
        }
        ready_ = !waitFor(fd, POLLOUT, std::chrono::milliseconds(200)); // this one hangs: so will the link's
    }
}

FullBacklogListener::~FullBacklogListener() {
    for (const PeerSocket fd : fillers_) {
        closeSocket(fd);
    }
    if (listenFd_ != kNoPeerSocket) {
        closeSocket(listenFd_);
    }
}

std::uint16_t closedLoopbackPort() {
    std::uint16_t port = 0;
    const PeerSocket fd = listenOnLoopback(1, port);
    if (fd != kNoPeerSocket) {
        closeSocket(fd);
    }
    return port;
}

} // namespace mc::test
