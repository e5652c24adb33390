#pragma once

// What every platform's TCP backend does alike: the name resolution on a
// helper thread, trying each address within the bound, the messages, and
// handing the received bytes on one at a time. A platform adds its sockets
// and its waits (tcp_backend_posix.cpp, tcp_backend_win32.cpp).
#include "link/tcp_backend.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct addrinfo;

namespace mc {

// Silence for good: the first keepalive probe after this many idle seconds,
// then one every interval; the connection fails after the count unanswered.
inline constexpr int kTcpKeepIdleSeconds = 5;
inline constexpr int kTcpKeepIntervalSeconds = 2;
inline constexpr int kTcpKeepCount = 3;
// Sent bytes left unacknowledged this long also fail the connection.
inline constexpr unsigned kTcpUserTimeoutMs = 10000;

// Bytes taken from the socket per receive; handed on one at a time.
inline constexpr std::size_t kTcpReceiveChunk = 4096;

// One name resolution on a thread of its own: getaddrinfo cannot be
// interrupted, so the worker waits for the platform's done signal at most
// until its deadline and a stop, then leaves the job to finish and free
// itself.
class ResolveJob {
public:
    ResolveJob() = default;
    virtual ~ResolveJob();
    ResolveJob(const ResolveJob&) = delete;
    ResolveJob& operator=(const ResolveJob&) = delete;

    // Helper thread, once its results are stored.
    virtual void signalDone() = 0;

    std::mutex lock; // the results, written by the helper, read by the worker
    int result = 0;
    int savedErrno = 0;
    addrinfo* found = nullptr;
};

class TcpBackendBase : public LinkBackend {
public:
    TcpBackendBase(const TcpBackendBase&) = delete;
    TcpBackendBase& operator=(const TcpBackendBase&) = delete;

    bool connect() final;
    // The serial line's settings mean nothing on a socket.
    bool configure(const LineSettings& /*line*/) final { return true; }
    long queuedBytes() final;
    LinkRead readByte(std::uint8_t& byte) final;
    // Discards what has come in and is unread, as the serial line's input
    // flush does. An end of file or a reset stays pending for the next wait.
    void purgeInput() final;
    // A socket has no unsent output to take back.
    void purgeAll() final { purgeInput(); }
    [[nodiscard]] std::string failure() const final { return failure_; }

protected:
    TcpBackendBase(TcpLinkAddress address, std::chrono::milliseconds connectTimeout, TcpConnectedFlag connected);
    ~TcpBackendBase() override = default;

    // How one of the worker's bounded waits ended.
    enum class Waited {
        Done,
        Stopped, // a stop request came first
        TimedOut,
        Failed, // the system's error code says why
    };
    // What receiveSome returns when nothing is there now.
    static constexpr long kNothingYet = -2;

    // A resolve job with its done signal; nullptr when none can be had.
    virtual std::unique_ptr<ResolveJob> makeResolveJob(int& error) = 0;
    // Waits for the job's signal, a stop or the deadline.
    virtual Waited waitResolved(ResolveJob& job, Clock::time_point deadline, int& error) = 0;
    // The words for a getaddrinfo result that is not 0.
    [[nodiscard]] virtual std::string resolveErrorText(int result, int savedErrno) const = 0;
    // Connects a new socket to `address` by the deadline. Only Done keeps it.
    virtual Waited connectTo(const addrinfo& address, Clock::time_point deadline, int& error) = 0;
    // Commands go out at once; a peer gone silent is noticed by keepalive.
    virtual void tune() = 0;
    // Takes up to `size` bytes without waiting: the count, 0 once the peer
    // closed its end, kNothingYet, or -1 with the failure recorded.
    virtual long receiveSome(char* into, std::size_t size) = 0;
    // Bytes the socket holds; -1 with the failure recorded.
    virtual long socketQueued() = 0;
    [[nodiscard]] virtual std::string errorText(int error) const = 0;
    // A socket is connected (and not yet closed).
    [[nodiscard]] virtual bool hasConnection() const = 0;

    // Records "<call>: <the system's words for error>".
    void failedWith(const std::string& call, int error) { failure_ = call + ": " + errorText(error); }
    void recordFailure(std::string text) { failure_ = std::move(text); }
    // Forgets the received bytes not yet read (the socket closes).
    void dropReceived();
    // "host:port", "[v6]:port": how messages name the peer.
    [[nodiscard]] const std::string& peerName() const { return name_; }

private:
    std::shared_ptr<ResolveJob> resolve(Clock::time_point deadline);

    TcpLinkAddress address_;
    std::string name_;
    std::chrono::milliseconds connectTimeout_;
    TcpConnectedFlag connected_;
    std::string received_; // taken from the socket, read up to receivedAt_
    std::size_t receivedAt_ = 0;
    std::string failure_;
};

} // namespace mc
