// Win32 serial backend: overlapped I/O on a COM device.
#ifdef _WIN32

#include "link/com_port_name.h"
#include "link/link_backend.h"
#include "link/win32_system.h"

#include <array>
#include <cstdio>
#include <windows.h>

namespace mc {

namespace {

// Every timeout of the port, in milliseconds.
constexpr DWORD kPortTimeoutMs = static_cast<DWORD>(std::chrono::milliseconds(1000).count());
// Port events the worker waits for: each received byte, and the event
// character (which the console takes no notice of beyond reading).
constexpr DWORD kReceiveEvents = EV_RXCHAR | EV_RXFLAG;
constexpr char kEventChar = 'q';
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Before every write only the input is purged: a completed write may still
// sit in the driver's output buffer, and clearing that would cut off the end
// of the previous command.
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
// Device names and the settings text are limited to 49 characters.
constexpr std::size_t kTextLimit = 50;

class Win32SerialBackend : public LinkBackend {
public:
    Win32SerialBackend(std::string deviceName, int comPort)
        : deviceName_(std::move(deviceName)), portName_(comPortName(comPort)) {}
    ~Win32SerialBackend() override {
        close();
        for (HANDLE event : {stopEvent_, portEvent_, writeEvent_, readEvent_, writeDoneEvent_}) {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
    }
    Win32SerialBackend(const Win32SerialBackend&) = delete;
    Win32SerialBackend& operator=(const Win32SerialBackend&) = delete;

    bool open() override {
        for (HANDLE* event : {&stopEvent_, &portEvent_, &writeEvent_, &readEvent_, &writeDoneEvent_}) {
            *event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (*event == nullptr) {
                return failed("CreateEvent"); // without its events no worker could run
            }
        }
        eventWait_.hEvent = portEvent_;
        // Not shared: a second opener gets "access denied".
        port_ = ::CreateFileA(deviceName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
        if (port_ == INVALID_HANDLE_VALUE) {
            refusal_ = ::GetLastError() == ERROR_ACCESS_DENIED ? PortRefusal::InUse : PortRefusal::None;
            return failed("open");
        }
        return true;
    }

    bool configure(const LineSettings& line) override {
        COMMTIMEOUTS timeouts{kPortTimeoutMs, kPortTimeoutMs, kPortTimeoutMs, kPortTimeoutMs, kPortTimeoutMs};
        if (!::SetCommTimeouts(port_, &timeouts)) {
            return failed("configure (timeouts)");
        }
        if (!::SetCommMask(port_, line.readReceived ? kReceiveEvents : 0)) {
            return failed("configure (event mask)");
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(port_, &dcb)) {
            return failed("configure");
        }
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.EvtChar = kEventChar;
        std::array<char, kTextLimit> settings{};
        std::snprintf(settings.data(), settings.size(), "baud=%d parity=%c data=%d stop=%d", line.baudRate, line.parity,
                      line.dataBits, line.stopBits);
        if (!::BuildCommDCBA(settings.data(), &dcb) || !::SetCommState(port_, &dcb)) {
            return failed("configure (line settings)");
        }
        return true;
    }

    void close() override {
        if (port_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(port_);
            port_ = INVALID_HANDLE_VALUE;
        }
    }

    void purgeInput() override { ::PurgeComm(port_, kPurgeInput); }
    void purgeAll() override { ::PurgeComm(port_, kPurgeAll); }
    [[nodiscard]] std::string failure() const override { return failure_; }
    [[nodiscard]] PortRefusal refusal() const override { return refusal_; }

    void wakeForStop() override { ::SetEvent(stopEvent_); }
    void wakeForWrite() override { ::SetEvent(writeEvent_); }
    void takeWriteWake() override { ::ResetEvent(writeEvent_); }

    LinkWake wait(bool watchLine) override {
        if (watchLine && !waitPending_) {
            if (::WaitCommEvent(port_, &events_, &eventWait_)) {
                ::SetEvent(portEvent_); // completed at once: handled in priority order below
            } else {
                const DWORD error = ::GetLastError();
                if (error == ERROR_IO_PENDING) {
                    waitPending_ = true;
                } else if (error != ERROR_INVALID_PARAMETER) {
                    failed("wait for port events");
                    return LinkWake::HungUp;
                }
            }
        }
        switch (waitForWorkerWake(stopEvent_, watchLine ? portEvent_ : nullptr, writeEvent_)) {
        case WorkerWake::Stop:
            return LinkWake::Stop;
        case WorkerWake::Write:
            return LinkWake::Write;
        case WorkerWake::Failed:
            failed("wait");
            return LinkWake::Failed;
        case WorkerWake::Line:
            break;
        }
        ::ResetEvent(portEvent_);
        if (waitPending_) {
            waitPending_ = false;
            DWORD unused = 0;
            // A purge before a write may abort the wait (Wine does): the
            // drain then finds what there is. Any other failure is the line's,
            // and the drain tells a hang-up from bytes still queued.
            if (!::GetOverlappedResult(port_, &eventWait_, &unused, FALSE) &&
                ::GetLastError() != ERROR_OPERATION_ABORTED) {
                failed("wait for port events");
                return LinkWake::HungUp;
            }
        }
        return LinkWake::Readable;
    }

    void endWait() override {
        if (!waitPending_) {
            return;
        }
        // Clearing the mask ends a pending event wait (Wine's CancelIo does
        // not); the overlapped structure must outlive the wait.
        ::SetCommMask(port_, 0);
        ::CancelIo(port_);
        DWORD unused = 0;
        ::GetOverlappedResult(port_, &eventWait_, &unused, TRUE);
        waitPending_ = false;
    }

    long queuedBytes() override {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(port_, &errors, &status)) {
            failed("queue status");
            return -1;
        }
        return static_cast<long>(status.cbInQue);
    }

    LinkRead readByte(std::uint8_t& byte) override {
        // A read of an empty queue would wait out the read timeouts.
        const long queued = queuedBytes();
        if (queued < 0) {
            return LinkRead::Failed;
        }
        if (queued == 0) {
            return LinkRead::Empty;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_;
        DWORD count = 0;
        if (!::ReadFile(port_, &byte, 1, &count, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(port_, &overlapped, &count, TRUE)) {
                failed("read");
                return LinkRead::Failed;
            }
        }
        return count == 1 ? LinkRead::Byte : LinkRead::Empty;
    }

    // Bounded by the port's write timeouts rather than by `deadline`.
    LinkWrite write(std::string_view bytes, Clock::time_point /*deadline*/) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeDoneEvent_;
        DWORD written = 0;
        const auto size = static_cast<DWORD>(bytes.size());
        if (!::WriteFile(port_, bytes.data(), size, &written, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(port_, &overlapped, &written, TRUE)) {
                failed("write");
                return LinkWrite::Failed;
            }
        }
        if (written != size) {
            failure_ = "write: timed out";
            return LinkWrite::Failed;
        }
        return LinkWrite::Written;
    }

private:
    // Records "<call> COMn: <system reason>" for the last error; false, for
    // the caller to return.
    bool failed(const char* call) {
        const DWORD code = ::GetLastError();
        failure_ = std::string(call) + " " + portName_ + ": " + systemText(code);
        return false;
    }

    std::string deviceName_;
    std::string portName_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE stopEvent_ = nullptr;
    HANDLE portEvent_ = nullptr; // the event wait's completion
    HANDLE writeEvent_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE writeDoneEvent_ = nullptr;
    OVERLAPPED eventWait_{};
    DWORD events_ = 0;
    bool waitPending_ = false;
    std::string failure_;
    PortRefusal refusal_ = PortRefusal::None;
};

} // namespace

std::unique_ptr<LinkBackend> makeSerialBackend(int comPort) {
    std::optional<std::string> name = comPortDevicePath(comPort);
    if (!name || name->size() >= kTextLimit) {
        return nullptr;
    }
    return std::make_unique<Win32SerialBackend>(std::move(*name), comPort);
}

} // namespace mc

#endif
