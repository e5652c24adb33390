#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mc::test {

// A socket of this platform: a descriptor, or a Winsock SOCKET.
#ifdef _WIN32
using PeerSocket = std::uintptr_t;
#else
using PeerSocket = int;
#endif
// No socket: -1, or Winsock's INVALID_SOCKET (all bits set).
inline constexpr PeerSocket kNoPeerSocket = static_cast<PeerSocket>(-1);

// A loopback TCP listener for link tests: accepts one client at a time and
// talks to it with plain blocking calls bounded by timeouts.
class TcpPeer {
public:
    TcpPeer(); // listens on 127.0.0.1, on a free port
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    [[nodiscard]] bool listening() const;
    [[nodiscard]] std::uint16_t port() const { return port_; }

    // Waits for the link to connect; false when none came in time.
    bool accept(std::chrono::milliseconds timeout);
    bool send(const std::string& bytes);
    // Reads until `count` bytes have come or the time is up.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout);
    // Ends the connection: an orderly close, or a reset (SO_LINGER 0).
    void closeClient(bool reset = false);
    void stopListening();

private:
    PeerSocket listenFd_ = kNoPeerSocket;
    PeerSocket clientFd_ = kNoPeerSocket;
    std::uint16_t port_ = 0;
};

// A loopback listener that never accepts, with its backlog filled by
// connections nobody takes: a further connect never completes.
class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    [[nodiscard]] std::uint16_t port() const { return port_; }

private:
    PeerSocket listenFd_ = kNoPeerSocket;
    std::vector<PeerSocket> fillers_;
    std::uint16_t port_ = 0;
    bool ready_ = false;
};

// A loopback port nothing listens on (bound and closed again).
[[nodiscard]] std::uint16_t closedLoopbackPort();

} // namespace mc::test
