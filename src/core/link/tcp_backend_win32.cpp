// TCP backend: Winsock sockets whose network events set a Win32 event
// (WSAEventSelect), waited on beside the stop and write events.
#ifdef _WIN32

#include "link/tcp_link.h"
#include "link/win32_system.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
// winsock2.h first (it holds windows.h), then what builds on it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

namespace mc {

namespace {

// The keepalive options of ws2ipdef.h (Windows 10 1709 and later); MinGW's
// headers lack them. TCP_MAXRT bounds retransmission in whole seconds.
constexpr int kTcpKeepIdleOption = 3; // TCP_KEEPALIVE (the idle time)
constexpr int kTcpMaxRetransmitOption = 5;
constexpr int kTcpKeepCountOption = 16;
constexpr int kTcpKeepIntervalOption = 17;

// The socket events the worker waits for; FD_CONNECT only while connecting.
constexpr long kSocketEvents = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE;

DWORD remainingMs(LinkBackend::Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - LinkBackend::Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

HANDLE newEvent() {
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// The resolve job's done signal: an event the worker waits on.
class Win32ResolveJob final : public ResolveJob {
public:
    Win32ResolveJob() : done(newEvent()) {}
    ~Win32ResolveJob() override {
        if (done != nullptr) {
            ::CloseHandle(done);
        }
    }
    Win32ResolveJob(const Win32ResolveJob&) = delete;
    Win32ResolveJob& operator=(const Win32ResolveJob&) = delete;

    void signalDone() override { ::SetEvent(done); }

    HANDLE done;
};

class Win32TcpBackend final : public TcpBackendBase {
public:
    Win32TcpBackend(TcpLinkAddress address, std::chrono::milliseconds connectTimeout, TcpConnectedFlag connected)
        : TcpBackendBase(std::move(address), connectTimeout, std::move(connected)) {}
    ~Win32TcpBackend() override {
        close();
        for (HANDLE event : {stopEvent_, writeEvent_, socketEvent_}) {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
    }
    Win32TcpBackend(const Win32TcpBackend&) = delete;
    Win32TcpBackend& operator=(const Win32TcpBackend&) = delete;

    bool open() override {
        if (const int error = startWinsock(); error != 0) {
            failedWith("WSAStartup", error);
            return false;
        }
        for (HANDLE* event : {&stopEvent_, &writeEvent_, &socketEvent_}) {
            *event = newEvent();
            if (*event == nullptr) {
                failedWith("CreateEvent", static_cast<int>(::GetLastError()));
                return false; // without its events no worker could run
            }
        }
        return true;
    }

    void close() override {
        if (socket_ != INVALID_SOCKET) {
            ::closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
        seen_ = 0;
        closeError_.reset();
        dropReceived();
    }

    void wakeForStop() override { ::SetEvent(stopEvent_); }
    void wakeForWrite() override { ::SetEvent(writeEvent_); }
    void takeWriteWake() override { ::ResetEvent(writeEvent_); }

    LinkWake wait(bool watchLine) override {
        for (;;) {
            // Events taken from the socket by an earlier wait and not yet
            // acted on come first; the end of the stream stays readable, as
            // it does for poll().
            if (watchLine && (closeError_ || (seen_ & FD_READ) != 0)) {
                if (::WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) {
                    return LinkWake::Stop;
                }
                seen_ &= ~FD_READ;
                return closeError_ ? LinkWake::HungUp : LinkWake::Readable;
            }
            switch (waitForWorkerWake(stopEvent_, watchLine ? socketEvent_ : nullptr, writeEvent_)) {
            case WorkerWake::Stop:
                return LinkWake::Stop;
            case WorkerWake::Write:
                return LinkWake::Write;
            case WorkerWake::Failed:
                failedWith("wait", static_cast<int>(::GetLastError()));
                return LinkWake::Failed;
            case WorkerWake::Line:
                break;
            }
            if (!takeSocketEvents()) {
                return LinkWake::Failed;
            }
        }
    }

    LinkWrite write(std::string_view bytes, Clock::time_point deadline) override {
        if (socket_ == INVALID_SOCKET) {
            return LinkWrite::Failed; // the connect failed: its reason stands
        }
        while (!bytes.empty()) {
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1U << 20U));
            const int n = ::send(socket_, bytes.data(), chunk, 0);
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            const int error = ::WSAGetLastError();
            if (n == 0 || error != WSAEWOULDBLOCK) {
                failedWith("write " + peerName(), error);
                return LinkWrite::Failed;
            }
            // FD_WRITE comes once the socket takes more after a send that
            // would have blocked; a close or reset lets the next send say so.
            seen_ &= ~FD_WRITE;
            while ((seen_ & FD_WRITE) == 0 && !closeError_) {
                int waitError = 0;
                switch (waitSocket(deadline, waitError)) {
                case Waited::Done:
                    break;
                case Waited::Stopped:
                    return LinkWrite::Stopped;
                case Waited::TimedOut:
                    recordFailure("write " + peerName() + ": timed out (the peer takes no data)");
                    return LinkWrite::Failed;
                case Waited::Failed:
                    failedWith("write " + peerName(), waitError);
                    return LinkWrite::Failed;
                }
            }
        }
        return LinkWrite::Written;
    }

protected:
    std::unique_ptr<ResolveJob> makeResolveJob(int& error) override {
        auto job = std::make_unique<Win32ResolveJob>();
        if (job->done == nullptr) {
            error = static_cast<int>(::GetLastError());
            return nullptr;
        }
        return job;
    }

    Waited waitResolved(ResolveJob& job, Clock::time_point deadline, int& error) override {
        const std::array<HANDLE, 2> waitList{stopEvent_, static_cast<Win32ResolveJob&>(job).done};
        return waitFor(waitList, deadline, error);
    }

    // getaddrinfo gives Winsock error codes, with words of their own.
    [[nodiscard]] std::string resolveErrorText(int result, int /*savedErrno*/) const override {
        return errorText(result);
    }

    Waited connectTo(const addrinfo& address, Clock::time_point deadline, int& error) override {
        socket_ = ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (socket_ == INVALID_SOCKET) {
            error = ::WSAGetLastError();
            return Waited::Failed;
        }
        ::ResetEvent(socketEvent_);
        seen_ = 0;
        Waited end = Waited::Done;
        // Makes the socket non-blocking, too.
        if (::WSAEventSelect(socket_, socketEvent_, kSocketEvents) != 0) {
            error = ::WSAGetLastError();
            end = Waited::Failed;
        } else if (::connect(socket_, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
            error = ::WSAGetLastError();
            end = error == WSAEWOULDBLOCK ? waitConnected(deadline, error) : Waited::Failed;
        }
        if (end != Waited::Done) {
            ::closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
        return end;
    }

    // The same figures as on Linux. Windows before 10 1709 has no per-socket
    // probe count: it takes idle time and interval only, and probes ten times.
    void tune() override {
        const BOOL one = TRUE;
        setOption(IPPROTO_TCP, TCP_NODELAY, one);
        setOption(SOL_SOCKET, SO_KEEPALIVE, one);
        const DWORD idle = kTcpKeepIdleSeconds;
        const DWORD interval = kTcpKeepIntervalSeconds;
        const DWORD probes = kTcpKeepCount;
        if (!setOption(IPPROTO_TCP, kTcpKeepIdleOption, idle) ||
            !setOption(IPPROTO_TCP, kTcpKeepIntervalOption, interval) ||
            !setOption(IPPROTO_TCP, kTcpKeepCountOption, probes)) {
            tcp_keepalive values{1, idle * 1000, interval * 1000};
            DWORD unused = 0;
            ::WSAIoctl(socket_, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &unused, nullptr, nullptr);
        }
        const DWORD retransmitSeconds = (kTcpUserTimeoutMs + 999) / 1000;
        setOption(IPPROTO_TCP, kTcpMaxRetransmitOption, retransmitSeconds);
    }

    long receiveSome(char* into, std::size_t size) override {
        const int n = ::recv(socket_, into, static_cast<int>(size), 0);
        if (n > 0) {
            return n;
        }
        const int error = n == 0 ? closeError_.value_or(0) : ::WSAGetLastError();
        if (n < 0 && error == WSAEWOULDBLOCK) {
            return kNothingYet;
        }
        if (error == 0) {
            return 0;
        }
        // A reset the close event told of, though the socket now reads as
        // an orderly end.
        failedWith("read " + peerName(), error);
        return -1;
    }

    long socketQueued() override {
        u_long queued = 0;
        if (::ioctlsocket(socket_, FIONREAD, &queued) != 0) {
            failedWith("queue status " + peerName(), ::WSAGetLastError());
            return -1;
        }
        return static_cast<long>(queued);
    }

    [[nodiscard]] std::string errorText(int error) const override {
        return systemText(static_cast<unsigned long>(error));
    }
    [[nodiscard]] bool hasConnection() const override { return socket_ != INVALID_SOCKET; }

private:
    template <typename T> bool setOption(int level, int option, const T& value) {
        return ::setsockopt(socket_, level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
    }

    // Waits for the first of stop and the other handle, by the deadline.
    static Waited waitFor(const std::array<HANDLE, 2>& waitList, Clock::time_point deadline, int& error) {
        const DWORD which = ::WaitForMultipleObjects(2, waitList.data(), FALSE, remainingMs(deadline));
        switch (which) {
        case WAIT_OBJECT_0:
            return Waited::Stopped;
        case WAIT_OBJECT_0 + 1:
            return Waited::Done;
        case WAIT_TIMEOUT:
            return Waited::TimedOut;
        default:
            error = static_cast<int>(::GetLastError());
            return Waited::Failed;
        }
    }

    // Waits for socket events, a stop or the deadline; Done once some came
    // (kept in seen_ and closeError_).
    Waited waitSocket(Clock::time_point deadline, int& error) {
        const Waited end = waitFor({stopEvent_, socketEvent_}, deadline, error);
        if (end == Waited::Done && !takeSocketEvents()) {
            error = ::WSAGetLastError();
            return Waited::Failed;
        }
        return end;
    }

    // Moves the socket's recorded events into seen_ (a close with its error
    // into closeError_) and resets the event. False when that fails.
    bool takeSocketEvents() {
        WSANETWORKEVENTS events{};
        if (::WSAEnumNetworkEvents(socket_, socketEvent_, &events) != 0) {
            failedWith("wait " + peerName(), ::WSAGetLastError());
            return false;
        }
        seen_ |= events.lNetworkEvents;
        if ((events.lNetworkEvents & FD_CONNECT) != 0) {
            connectError_ = events.iErrorCode[FD_CONNECT_BIT];
        }
        if ((events.lNetworkEvents & FD_CLOSE) != 0) {
            closeError_ = events.iErrorCode[FD_CLOSE_BIT];
        }
        return true;
    }

    // After a connect in progress: its outcome within the deadline.
    Waited waitConnected(Clock::time_point deadline, int& error) {
        while ((seen_ & FD_CONNECT) == 0) {
            const Waited end = waitSocket(deadline, error);
            if (end != Waited::Done) {
                return end;
            }
        }
        seen_ &= ~FD_CONNECT;
        error = connectError_;
        return error == 0 ? Waited::Done : Waited::Failed;
    }

    SOCKET socket_ = INVALID_SOCKET;
    HANDLE stopEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    HANDLE socketEvent_ = nullptr; // set by the socket's network events
    long seen_ = 0;                // network events taken from the socket, not yet acted on
    int connectError_ = 0;
    std::optional<int> closeError_; // set once the peer closed (0) or reset
};

} // namespace

std::unique_ptr<LinkBackend> makeTcpBackend(const TcpLinkAddress& address, std::chrono::milliseconds connectTimeout,
                                            const TcpConnectedFlag& connected) {
    return std::make_unique<Win32TcpBackend>(address, connectTimeout, connected);
}

} // namespace mc

#endif
