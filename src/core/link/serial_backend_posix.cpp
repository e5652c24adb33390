// POSIX serial backend: termios, waiting through the POSIX wake-ups (Linux).
#ifndef _WIN32

#include "link/com_port_name.h"
#include "link/link_backend.h"
#include "link/posix_wakeups.h"
#include "link/termios_line.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace mc {

namespace {

class TermiosBackend : public LinkBackend {
public:
    explicit TermiosBackend(std::string path) : path_(std::move(path)) {}
    ~TermiosBackend() override { close(); }
    TermiosBackend(const TermiosBackend&) = delete;
    TermiosBackend& operator=(const TermiosBackend&) = delete;

    bool open() override {
        if (!wakeups_.create()) {
            return failed("eventfd", nullptr); // without its wake-ups no worker could run
        }
        const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            failure_ = serialOpenFailure(path_, error);
            refusal_ = serialOpenRefusal(error);
            return false;
        }
        // A link to a plain file or another non-terminal would take writes
        // and never answer: refused like an absent port.
        if (::isatty(fd) == 0) {
            ::close(fd);
            failure_ = "open " + path_ + ": not a terminal";
            return false;
        }
        // TIOCEXCL keeps other users out, but not root; the advisory lock
        // keeps out every opener that asks for it, this program included.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                failure_ = "open " + path_ + ": in use by another program";
                refusal_ = PortRefusal::InUse;
            } else {
                failed("lock");
            }
            ::close(fd);
            return false;
        }
        fd_ = fd;
        return true;
    }

    bool configure(const LineSettings& line) override {
        // Exclusive use against other (non-root) openers.
        bool ok = ::ioctl(fd_, TIOCEXCL) == 0 || failed("configure", " (exclusive use)");
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) {
            return failed("configure");
        }
        if (!applyLineSettings(tio, line)) {
            failure_ = "configure " + path_ + ": line settings without a termios form";
            return false;
        }
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
            return failed("configure");
        }
        // RTS on. Pseudo-terminals have no modem lines and refuse this.
        const int rts = TIOCM_RTS;
        if (::ioctl(fd_, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
            ok = failed("configure", " (RTS)");
        }
        return ok;
    }

    void close() override {
        closeFd(fd_); // also releases the advisory lock
    }

    void wakeForStop() override { wakeups_.wakeForStop(); }
    void wakeForWrite() override { wakeups_.wakeForWrite(); }
    void takeWriteWake() override { wakeups_.takeWriteWake(); }

    LinkWake wait(bool watchLine) override {
        const LinkWake wake = wakeups_.wait(fd_, watchLine);
        if (wake == LinkWake::Failed) {
            failed("poll", nullptr);
        }
        return wake;
    }

    long queuedBytes() override {
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) != 0) {
            failed("queue status", nullptr);
            return -1;
        }
        return queued;
    }

    LinkRead readByte(std::uint8_t& byte) override {
        for (;;) {
            const ssize_t n = ::read(fd_, &byte, 1);
            if (n == 1) {
                return LinkRead::Byte;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                return LinkRead::Empty;
            }
            // 0 or EIO: the far end hung up.
            if (n == 0) {
                failure_ = "read: end of file (the far end hung up)";
            } else {
                failed("read", nullptr);
            }
            return LinkRead::Failed;
        }
    }

    LinkWrite write(std::string_view bytes, Clock::time_point deadline) override {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                failed("write", nullptr);
                return LinkWrite::Failed;
            }
            switch (wakeups_.waitWritable(fd_, deadline)) {
            case PosixWakeups::Writable::Ready:
                continue;
            case PosixWakeups::Writable::Stopped:
                return LinkWrite::Stopped;
            case PosixWakeups::Writable::TimedOut:
                failure_ = "write: timed out";
                return LinkWrite::Failed;
            case PosixWakeups::Writable::HungUp:
                failure_ = "write: the line hung up";
                return LinkWrite::Failed;
            case PosixWakeups::Writable::Failed:
                failed("write", nullptr);
                return LinkWrite::Failed;
            }
        }
        return LinkWrite::Written;
    }

    // Output is kept: write() returns once the bytes are queued, and
    // discarding the queue would cut off the end of the previous command.
    void purgeInput() override { ::tcflush(fd_, TCIFLUSH); }
    void purgeAll() override { ::tcflush(fd_, TCIOFLUSH); }

    [[nodiscard]] std::string failure() const override { return failure_; }
    [[nodiscard]] PortRefusal refusal() const override { return refusal_; }

private:
    // Records "<call> <device><detail>: <system reason>" from errno (no
    // device for a null detail); false, for the caller to return.
    bool failed(const char* call, const char* detail = "") {
        const int error = errno;
        failure_ = call;
        if (detail != nullptr) {
            failure_ += ' ';
            failure_ += path_;
            failure_ += detail;
        }
        failure_ += ": ";
        failure_ += std::strerror(error);
        return false;
    }

    std::string path_;
    int fd_ = -1;
    PosixWakeups wakeups_;
    std::string failure_;
    PortRefusal refusal_ = PortRefusal::None;
};

} // namespace

std::unique_ptr<LinkBackend> makeSerialBackend(int comPort) {
    std::optional<std::string> path = comPortDevicePath(comPort);
    if (!path) {
        return nullptr;
    }
    return std::make_unique<TermiosBackend>(std::move(*path));
}

std::unique_ptr<LinkBackend> makeSerialDeviceBackend(std::string devicePath) {
    if (devicePath.empty()) {
        return nullptr;
    }
    return std::make_unique<TermiosBackend>(std::move(devicePath));
}

} // namespace mc

#endif
