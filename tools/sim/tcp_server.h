#pragma once

#include "sim/line_hooks.h"
#include "sim/listen_address.h"
#include "sim/session.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <vector>

namespace mc::sim {

// Clients served at once; one more is closed as soon as it is taken.
inline constexpr std::size_t kMaxTcpClients = 16;
// A client that takes none of its held replies for this long is dropped: it
// has stopped reading.
inline constexpr std::chrono::milliseconds kStalledClientLimit{3000};
// Hangup mode: longest wait for a client to take its last replies and close
// its end before its connection is closed anyway.
inline constexpr std::chrono::milliseconds kTcpHangupGrace{2000};

// The switcher on TCP (POSIX): a listening socket and its clients, each with
// its own session (line framing, byte count for hangup mode) on one shared
// switcher state. Every descriptor is non-blocking and nothing here waits:
// the caller polls the descriptors addPollFds gives, with its own stop
// signal handling, until nextDeadline, and hands the results to handle.
class TcpServer {
public:
    using Clock = std::chrono::steady_clock;

    using Hooks = LineHooks;

    static std::unique_ptr<TcpServer> open(const ListenAddress& address, SessionOptions options, SwitcherState& state,
                                           Hooks hooks, std::string& error);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Where it listens, numeric, the port as bound: "127.0.0.1:40312",
    // "[::1]:40312".
    [[nodiscard]] const std::string& address() const { return address_; }

    // Appends one pollfd for the listener, then one per client, in the order
    // handle expects them (a descriptor not to be watched now is -1).
    void addPollFds(std::vector<pollfd>& fds, Clock::time_point now) const;
    // Takes what the poll reported for exactly the fds the last addPollFds
    // gave; also runs out the bounded waits that have expired.
    void handle(std::span<const pollfd> fds, Clock::time_point now);
    // When handle must run again even if nothing arrives.
    [[nodiscard]] std::optional<Clock::time_point> nextDeadline() const;

    // A client was hung up in hangup mode and its connection is closed.
    [[nodiscard]] bool hungUp() const { return hungUp_; }
    [[nodiscard]] std::size_t clientCount() const { return clients_.size(); }

private:
    struct Client;

    TcpServer(int fd, std::string address, SessionOptions options, SwitcherState& state, Hooks hooks);
    void acceptClients(Clock::time_point now);
    void readFrom(Client& client, Clock::time_point now);
    void flush(Client& client, Clock::time_point now);
    void drop(Client& client, const std::string& reason);

    int fd_;
    std::string address_;
    SessionOptions options_;
    SwitcherState& state_;
    Hooks hooks_;
    std::vector<std::unique_ptr<Client>> clients_;
    Clock::time_point acceptPausedUntil_{};
    bool hungUp_ = false;
};

} // namespace mc::sim
