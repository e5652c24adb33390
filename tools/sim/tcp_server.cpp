#include "sim/tcp_server.h"

#include "sim/reply_backlog.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mc::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;
// After the system refused to hand over a connection (descriptors or memory
// exhausted), the listener stays readable; this pause keeps it from spinning.
constexpr std::chrono::milliseconds kAcceptPause{100};
constexpr int kListenBacklog = 32;
constexpr int kClientSendBuffer = 64 * 1024;

// "127.0.0.1:40312" or "[::1]:40312".
std::string endpointText(const sockaddr* address, socklen_t length) {
    std::array<char, NI_MAXHOST> host{};
    std::array<char, NI_MAXSERV> port{};
    if (::getnameinfo(address, length, host.data(), host.size(), port.data(), port.size(),
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "(unknown peer)";
    }
    const std::string hostText = host.data();
    return (hostText.find(':') != std::string::npos ? "[" + hostText + "]" : hostText) + ":" + port.data();
}

std::string systemError() {
    return std::strerror(errno);
}

} // namespace

struct TcpServer::Client {
    Client(int fd, std::string peer, SessionOptions options, SwitcherState& state)
        : fd(fd), peer(std::move(peer)), session(options, &state) {}
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    int fd;
    std::string peer;
    Session session;
    ReplyBacklog backlog;   // replies the socket has not taken yet
    bool hangingUp = false; // no more commands: flush, shut, close
    bool writeShut = false;
    Clock::time_point hangupDeadline;
};

std::unique_ptr<TcpServer> TcpServer::open(const ListenAddress& address, SessionOptions options, SwitcherState& state,
                                           Hooks hooks, std::string& error) {
    const std::string host = bindHost(address);
    const std::string port = std::to_string(address.port);
    const std::string given = (address.isIpv6() ? "[" + host + "]" : host) + ":" + port;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int result = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); result != 0) {
        error = "cannot listen on " + given + ": " + ::gai_strerror(result);
        return nullptr;
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
    const int on = 1;
    // A restart on a fixed port must not wait for the last run's connections
    // to leave TIME_WAIT.
    const bool bound = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                       ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, kListenBacklog) == 0;
    ::freeaddrinfo(found);
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (!bound || ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
        error = "cannot listen on " + given + ": " + systemError();
        if (fd >= 0) {
            ::close(fd);
        }
        return nullptr;
    }
    return std::unique_ptr<TcpServer>(new TcpServer(fd, endpointText(reinterpret_cast<sockaddr*>(&local), localLength),
                                                    options, state, std::move(hooks)));
}

TcpServer::TcpServer(int fd, std::string address, SessionOptions options, SwitcherState& state, Hooks hooks)
    : fd_(fd), address_(std::move(address)), options_(options), state_(state), hooks_(std::move(hooks)) {
}

TcpServer::~TcpServer() {
    clients_.clear();
    ::close(fd_);
}

void TcpServer::addPollFds(std::vector<pollfd>& fds, Clock::time_point now) const {
    fds.push_back({now >= acceptPausedUntil_ ? fd_ : -1, POLLIN, 0});
    for (const auto& client : clients_) {
        short events = 0;
        // A client over its backlog limit is not read: it gets no new
        // replies until it takes the ones held. A hanging-up client is read
        // only to discard input and see it close.
        if (client->hangingUp || !client->backlog.full()) {
            events |= POLLIN;
        }
        if (!client->backlog.empty()) {
            events |= POLLOUT;
        }
        fds.push_back({client->fd, events, 0});
    }
}

std::optional<TcpServer::Clock::time_point> TcpServer::nextDeadline() const {
    std::optional<Clock::time_point> next;
    const auto consider = [&next](Clock::time_point when) {
        if (!next || when < *next) {
            next = when;
        }
    };
    if (acceptPausedUntil_ > Clock::time_point{}) {
        consider(acceptPausedUntil_);
    }
    for (const auto& client : clients_) {
        if (client->hangingUp) {
            consider(client->hangupDeadline);
        } else if (!client->backlog.empty()) {
            consider(client->backlog.lastProgress() + kStalledClientLimit);
        }
    }
    return next;
}

void TcpServer::handle(std::span<const pollfd> fds, Clock::time_point now) {
    // Clients change only here, so fds still lines up with them.
    const std::size_t polled = std::min(clients_.size(), fds.empty() ? 0 : fds.size() - 1);
    for (std::size_t i = 0; i < polled; ++i) {
        Client& client = *clients_[i];
        const short revents = fds[i + 1].revents;
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && (fds[i + 1].events & POLLIN) != 0) {
            readFrom(client, now);
        }
        if (client.fd >= 0 && (!client.backlog.empty() || (revents & (POLLHUP | POLLERR)) != 0)) {
            flush(client, now);
        }
        if (client.fd < 0) {
            continue;
        }
        if (client.hangingUp) {
            if (client.backlog.empty() && !client.writeShut) {
                // The replies so far, then the end of the stream: the client
                // sees the hang-up after everything already answered.
                ::shutdown(client.fd, SHUT_WR);
                client.writeShut = true;
            }
            if (now >= client.hangupDeadline) {
                drop(client, "hung up");
            }
        } else if (!client.backlog.empty() && now - client.backlog.lastProgress() >= kStalledClientLimit) {
            drop(client, "it took none of " + std::to_string(client.backlog.size()) + " bytes of replies for " +
                             std::to_string(kStalledClientLimit.count()) + " ms");
        }
    }
    std::erase_if(clients_, [](const auto& client) { return client->fd < 0; });
    if (!fds.empty() && (fds[0].revents & POLLIN) != 0) {
        acceptClients(now);
    }
    if (now >= acceptPausedUntil_) {
        acceptPausedUntil_ = {};
    }
}

void TcpServer::acceptClients(Clock::time_point now) {
    // Bounded per round, so a flood of connects cannot starve the clients.
    for (std::size_t round = 0; round <= kMaxTcpClients; ++round) {
        sockaddr_storage peerAddress{};
        socklen_t length = sizeof peerAddress;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peerAddress), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                hooks_.info("cannot take a connection on " + address_ + ": " + systemError());
                acceptPausedUntil_ = now + kAcceptPause;
            }
            return;
        }
        const std::string peer = endpointText(reinterpret_cast<sockaddr*>(&peerAddress), length);
        // Logged before the close: whoever sees the connection go finds the
        // reason in the log already.
        if (clients_.size() >= kMaxTcpClients) {
            hooks_.info("client " + peer + " refused: " + std::to_string(kMaxTcpClients) +
                        " clients connected already");
            ::close(fd);
            continue;
        }
        // Each reply goes out as soon as it is made, as on the serial line.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // A fixed send buffer: what the kernel holds for a client that stops
        // reading stays bounded too, and such a client is noticed soon.
        const int sendBuffer = kClientSendBuffer;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        clients_.push_back(std::make_unique<Client>(fd, peer, options_, state_));
        hooks_.info("client " + peer + " connected");
    }
}

void TcpServer::readFrom(Client& client, Clock::time_point now) {
    std::array<char, kReadChunk> buffer{};
    const ssize_t n = ::read(client.fd, buffer.data(), buffer.size());
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            drop(client, systemError());
        }
        return;
    }
    if (n == 0) {
        const std::size_t pending = client.session.pendingBytes();
        drop(client, client.hangingUp ? "hung up"
                     : pending > 0
                         ? "it closed the connection mid-line (" + std::to_string(pending) + " bytes of it dropped)"
                         : "it closed the connection");
        return;
    }
    if (client.hangingUp) {
        return; // after the hang-up nothing is looked at
    }
    const SessionOutput out = client.session.receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    for (const Exchange& exchange : out.exchanges) {
        hooks_.exchange(exchange);
        client.backlog.add(exchange.reply, now);
    }
    if (out.hangUp) {
        hooks_.info("hanging up on client " + client.peer + " after " + std::to_string(client.session.receivedBytes()) +
                    " bytes");
        client.hangingUp = true;
        client.hangupDeadline = now + kTcpHangupGrace;
    }
}

void TcpServer::flush(Client& client, Clock::time_point now) {
    while (!client.backlog.empty()) {
        const std::string_view pending = client.backlog.pending();
        const ssize_t n = ::send(client.fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            client.backlog.taken(static_cast<std::size_t>(n), now);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            drop(client, client.hangingUp ? "hung up" : systemError());
        }
        return;
    }
}

void TcpServer::drop(Client& client, const std::string& reason) {
    if (client.fd < 0) {
        return;
    }
    hooks_.info("client " + client.peer + " disconnected: " + reason); // before the peer can see it
    ::close(client.fd);
    client.fd = -1;
    if (client.hangingUp) {
        hungUp_ = true;
    }
}

} // namespace mc::sim
