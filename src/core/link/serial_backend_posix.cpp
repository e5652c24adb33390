// POSIX serial backend: termios, poll() and eventfds (Linux).
#ifndef _WIN32

#include "link/com_port_name.h"
#include "link/link_backend.h"
#include "link/termios_line.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace mc {

namespace {

int remainingMs(LinkBackend::Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - LinkBackend::Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void signal(int eventFd) {
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drainEventFd(int eventFd) {
    std::uint64_t value = 0;
    while (::read(eventFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

class TermiosBackend : public LinkBackend {
public:
    explicit TermiosBackend(std::string path) : path_(std::move(path)) {}
    ~TermiosBackend() override {
        close();
        closeFd(stopFd_);
        closeFd(writeFd_);
    }
    TermiosBackend(const TermiosBackend&) = delete;
    TermiosBackend& operator=(const TermiosBackend&) = delete;

    bool open() override {
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        writeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ < 0 || writeFd_ < 0) {
            return failed("eventfd", nullptr); // without its wake-ups no worker could run
        }
        const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            failure_ = serialOpenFailure(path_, errno);
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

    void wakeForStop() override { signal(stopFd_); }
    void wakeForWrite() override { signal(writeFd_); }
    void takeWriteWake() override { drainEventFd(writeFd_); }

    LinkWake wait(bool watchLine) override {
        // In priority order: stop, line, write. A negative fd is not watched.
        std::array<pollfd, 3> fds{{{stopFd_, POLLIN, 0}, {watchLine ? fd_ : -1, POLLIN, 0}, {writeFd_, POLLIN, 0}}};
        for (;;) {
            if (::poll(fds.data(), fds.size(), -1) >= 0) {
                break;
            }
            if (errno != EINTR) {
                failed("poll", nullptr);
                return LinkWake::Failed;
            }
        }
        if (fds[0].revents != 0) {
            return LinkWake::Stop;
        }
        if (fds[1].revents != 0) {
            return (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? LinkWake::HungUp : LinkWake::Readable;
        }
        return LinkWake::Write;
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
            std::array<pollfd, 2> fds{{{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}}};
            const int wait = remainingMs(deadline);
            const int ready = wait > 0 ? ::poll(fds.data(), fds.size(), wait) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (fds[1].revents != 0) {
                return LinkWrite::Stopped;
            }
            if (ready == 0) {
                failure_ = "write: timed out";
                return LinkWrite::Failed;
            }
            if (ready < 0 || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                if (ready < 0) {
                    failed("write", nullptr);
                } else {
                    failure_ = "write: the line hung up";
                }
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
    int stopFd_ = -1;
    int writeFd_ = -1;
    std::string failure_;
};

} // namespace

std::unique_ptr<LinkBackend> makeSerialBackend(int comPort) {
    std::optional<std::string> path = comPortDevicePath(comPort);
    if (!path) {
        return nullptr;
    }
    return std::make_unique<TermiosBackend>(std::move(*path));
}

} // namespace mc

#endif
