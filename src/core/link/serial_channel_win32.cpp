// Win32 backend of the serial channel: overlapped I/O on a COM device.
#ifdef _WIN32

#include "link/com_port_name.h"
#include "link/serial_channel.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <windows.h>

namespace mc {

namespace {

// Every timeout of the port, in milliseconds.
constexpr DWORD kPortTimeoutMs = static_cast<DWORD>(kWriteTimeout.count());
// The event character; the console asks for no notice of it.
constexpr char kEventChar = 'q';
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Before every write only the input is purged: a completed write may still
// sit in the driver's output buffer, and clearing that would cut off the end
// of the previous command.
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
// Device names and the settings text are limited to 49 characters.
constexpr std::size_t kTextLimit = 50;

HANDLE makeManualResetEvent() {
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Resets an existing event or creates one; false when it cannot be had.
bool readyEvent(HANDLE& event) {
    if (event != nullptr) {
        return ::ResetEvent(event) != 0;
    }
    event = makeManualResetEvent();
    return event != nullptr;
}

class Burst {
public:
    void push(std::uint8_t byte) { bytes_[size_++] = byte; }
    [[nodiscard]] bool full() const { return size_ == bytes_.size(); }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }
    void clear() { size_ = 0; }

private:
    std::array<std::uint8_t, kReceiveBurstLimit> bytes_{};
    std::size_t size_ = 0;
};

// Holds a critical section for one scope.
class PortLockGuard {
public:
    explicit PortLockGuard(CRITICAL_SECTION& section) : section_(section) { ::EnterCriticalSection(&section_); }
    ~PortLockGuard() { ::LeaveCriticalSection(&section_); }
    PortLockGuard(const PortLockGuard&) = delete;
    PortLockGuard& operator=(const PortLockGuard&) = delete;

private:
    CRITICAL_SECTION& section_;
};

} // namespace

class SerialChannel::Impl {
public:
    Impl() = default;
    ~Impl() {
        closePort();
        for (HANDLE event : {stopEvent_, portEvent_, writeEvent_, readEvent_, writeDoneEvent_}) {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
        if (lockReady_) {
            ::DeleteCriticalSection(&portLock_);
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool openPort(ByteSink& owner, int comPort, const LineSettings& line) {
        stopWorker();
        if (!lockReady_) {
            ::InitializeCriticalSection(&portLock_);
            lockReady_ = true;
        }
        const PortLockGuard lock(portLock_);
        closeDeviceLocked();
        pending_.close();
        if (!(readyEvent(portEvent_) && readyEvent(writeEvent_) && readyEvent(stopEvent_) && readyEvent(readEvent_) &&
              readyEvent(writeDoneEvent_))) {
            return false; // without its events the channel could not run a worker
        }
        owner_ = &owner;
        comPort_.store(comPort);
        line_ = line;

        const std::optional<std::string> name = comPortDevicePath(comPort);
        if (!name || name->size() >= kTextLimit) {
            return false;
        }
        // Not shared: a second opener gets "access denied".
        const HANDLE port = ::CreateFileA(name->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED, nullptr);
        if (port == INVALID_HANDLE_VALUE) {
            return false;
        }
        port_ = port;
        pending_.open(line.writeBufferSize);
        state_.store(State::OpenIdle);
        configureLocked();
        ::PurgeComm(port_, kPurgeAll);
        return true;
    }

    bool startPortWorker() {
        if (state_.load() != State::OpenIdle) {
            return false;
        }
        ::ResetEvent(stopEvent_);
        {
            // Purged here rather than on the new thread, so that every byte
            // arriving after this call returns is kept.
            const PortLockGuard lock(portLock_);
            ::PurgeComm(port_, kPurgeAll);
        }
        stopSource_ = std::stop_source();
        try {
            worker_ = std::thread([this, stop = stopSource_.get_token()] { run(stop); });
        } catch (const std::system_error&) {
            return false;
        }
        state_.store(State::Running);
        return true;
    }

    SendResult sendTextCommand(std::string_view bytes) {
        const SendResult result = pending_.push(bytes);
        if (result == SendResult::Queued) {
            ::SetEvent(writeEvent_);
        }
        return result;
    }

    void closePort() {
        stopWorker();
        pending_.close();
        if (lockReady_) {
            const PortLockGuard lock(portLock_);
            closeDeviceLocked();
        }
    }

    [[nodiscard]] bool portError() const { return portError_.load(); }
    void clearPortError() { portError_.store(false); }
    [[nodiscard]] State state() const { return state_.load(); }
    [[nodiscard]] int comPort() const { return comPort_.load(); }

private:
    // The system's text for the error is not shown anywhere: the flag is the
    // only trace of a failed port call.
    void reportPortError() { portError_.store(true); }

    void configureLocked() {
        COMMTIMEOUTS timeouts{kPortTimeoutMs, kPortTimeoutMs, kPortTimeoutMs, kPortTimeoutMs, kPortTimeoutMs};
        if (!::SetCommTimeouts(port_, &timeouts)) {
            reportPortError();
            return;
        }
        if (!::SetCommMask(port_, line_.eventMask)) {
            reportPortError();
            return;
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(port_, &dcb)) {
            reportPortError();
            return;
        }
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.EvtChar = kEventChar;
        std::array<char, kTextLimit> settings{};
        std::snprintf(settings.data(), settings.size(), "baud=%d parity=%c data=%d stop=%d", line_.baudRate,
                      line_.parity, line_.dataBits, line_.stopBits);
        if (!::BuildCommDCBA(settings.data(), &dcb) || !::SetCommState(port_, &dcb)) {
            reportPortError();
        }
    }

    void closeDeviceLocked() {
        if (port_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(port_);
            port_ = INVALID_HANDLE_VALUE;
        }
        state_.store(State::Closed);
    }

    void stopWorker() {
        if (!worker_.joinable()) {
            return;
        }
        state_.store(State::Stopping);
        stopSource_.request_stop(); // releases a hand-over waiting for room
        ::SetEvent(stopEvent_);
        worker_.join();
        state_.store(port_ != INVALID_HANDLE_VALUE ? State::OpenIdle : State::Closed);
    }

    void handOver(Burst& burst, const std::stop_token& stop) {
        if (!burst.empty()) {
            owner_->receiveBytes(burst.bytes(), comPort_.load(), stop);
            burst.clear();
        }
    }

    // Bytes in the receive queue; -1 when the port cannot tell.
    long queuedBytes() {
        const PortLockGuard lock(portLock_);
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port_, &errors, &status)) {
            return -1;
        }
        return static_cast<long>(status.cbInQue);
    }

    // One byte per read; false when the read failed (error flag set).
    bool readOne(std::uint8_t& byte) {
        const PortLockGuard lock(portLock_);
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_;
        DWORD count = 0;
        if (!::ReadFile(port_, &readBuffer_, 1, &count, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(port_, &overlapped, &count, TRUE)) {
                reportPortError();
                return false;
            }
        }
        byte = readBuffer_;
        return count == 1;
    }

    // The line failed: set the flag and hand over what the read buffer last
    // held, once, so the owner learns of it at its next byte.
    void lineFailed(Burst& burst, const std::stop_token& stop) {
        reportPortError();
        handOver(burst, stop);
        burst.push(readBuffer_);
        handOver(burst, stop);
    }

    // False when the line failed; the worker then stops watching it.
    bool drain(const std::stop_token& stop) {
        Burst burst;
        while (!stop.stop_requested()) {
            const long queued = queuedBytes();
            if (queued < 0) {
                lineFailed(burst, stop);
                return false;
            }
            if (queued == 0) {
                break;
            }
            std::uint8_t byte = 0;
            if (!readOne(byte)) {
                if (portError()) {
                    lineFailed(burst, stop);
                }
                break;
            }
            burst.push(byte);
            if (burst.full()) {
                handOver(burst, stop);
            }
        }
        handOver(burst, stop);
        return true;
    }

    void writeOne() {
        // Reset before taking, so a send racing with the last take sets the
        // event again and is not missed.
        ::ResetEvent(writeEvent_);
        const std::optional<std::string> command = pending_.pop();
        if (!pending_.empty()) {
            ::SetEvent(writeEvent_);
        }
        if (!command) {
            return;
        }
        const PortLockGuard lock(portLock_);
        ::PurgeComm(port_, kPurgeInput);
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeDoneEvent_;
        DWORD written = 0;
        const auto size = static_cast<DWORD>(command->size());
        if (!::WriteFile(port_, command->data(), size, &written, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(port_, &overlapped, &written, TRUE)) {
                reportPortError();
                return;
            }
        }
        if (written != size) {
            reportPortError(); // timed out part way
        }
    }

    void run(const std::stop_token& stop) {
        // Wait list in priority order: the lowest signalled index wins.
        const std::array<HANDLE, 3> waitList{stopEvent_, portEvent_, writeEvent_};
        OVERLAPPED eventWait{};
        eventWait.hEvent = portEvent_;
        DWORD events = 0;
        bool waitPending = false;
        bool lineLost = false; // then only writes (which fail into the flag) and the stop remain
        for (;;) {
            if (!waitPending && !lineLost) {
                if (::WaitCommEvent(port_, &events, &eventWait)) {
                    ::SetEvent(portEvent_); // completed at once: handle it in priority order
                } else {
                    const DWORD error = ::GetLastError();
                    if (error == ERROR_IO_PENDING) {
                        waitPending = true;
                    } else if (error != ERROR_INVALID_PARAMETER) {
                        Burst burst;
                        lineFailed(burst, stop);
                        lineLost = true;
                    }
                }
            }
            const DWORD which =
                ::WaitForMultipleObjects(static_cast<DWORD>(waitList.size()), waitList.data(), FALSE, INFINITE);
            if (which == WAIT_OBJECT_0 + 1) {
                if (waitPending) {
                    DWORD unused = 0;
                    ::GetOverlappedResult(port_, &eventWait, &unused, FALSE);
                    waitPending = false;
                }
                ::ResetEvent(portEvent_);
                DWORD mask = 0;
                ::GetCommMask(port_, &mask);
                // Only received bytes are handed over; the console takes no
                // notice of the other port events.
                if ((mask & EV_RXCHAR) != 0 && !drain(stop)) {
                    lineLost = true;
                }
                continue;
            }
            if (which == WAIT_OBJECT_0 + 2) {
                writeOne();
                continue;
            }
            if (which != WAIT_OBJECT_0) {
                reportPortError();
            }
            break;
        }
        if (waitPending) {
            // The overlapped structure must outlive the wait it was given to.
            // Clearing the event mask ends the pending wait; CancelIo alone
            // does not end it on every driver.
            ::SetCommMask(port_, 0);
            ::CancelIo(port_);
            DWORD unused = 0;
            ::GetOverlappedResult(port_, &eventWait, &unused, TRUE);
        }
    }

    CRITICAL_SECTION portLock_{}; // guards port_ during configuration, reads and writes
    bool lockReady_ = false;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE stopEvent_ = nullptr;
    HANDLE portEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE writeDoneEvent_ = nullptr;
    std::thread worker_;
    std::stop_source stopSource_{std::nostopstate};
    std::atomic<State> state_{State::Closed};
    std::atomic<bool> portError_{false};
    std::atomic<int> comPort_{0};
    ByteSink* owner_ = nullptr;
    LineSettings line_;
    PendingCommands pending_;
    std::uint8_t readBuffer_ = 0; // port worker only
};

SerialChannel::SerialChannel() : impl_(std::make_unique<Impl>()) {
}
SerialChannel::~SerialChannel() = default;

bool SerialChannel::openPort(ByteSink& owner, int comPort, const LineSettings& line) {
    return impl_->openPort(owner, comPort, line);
}
bool SerialChannel::startPortWorker() {
    return impl_->startPortWorker();
}
SendResult SerialChannel::sendTextCommand(std::string_view bytes) {
    return impl_->sendTextCommand(bytes);
}
void SerialChannel::closePort() {
    impl_->closePort();
}
bool SerialChannel::portError() const {
    return impl_->portError();
}
void SerialChannel::clearPortError() {
    impl_->clearPortError();
}
SerialChannel::State SerialChannel::state() const {
    return impl_->state();
}
int SerialChannel::comPort() const {
    return impl_->comPort();
}

} // namespace mc

#endif
