// POSIX backend of the serial channel: termios, poll() and eventfds (Linux).
#ifndef _WIN32

#include "link/com_port_name.h"
#include "link/serial_channel.h"
#include "link/termios_line.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace mc {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void signal(int eventFd) {
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Consumes one count of a semaphore eventfd; false when it had none.
bool consumeOne(int eventFd) {
    std::uint64_t value = 0;
    ssize_t n = 0;
    do {
        n = ::read(eventFd, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    return n == sizeof value;
}

void drainEventFd(int eventFd) {
    while (consumeOne(eventFd)) {
    }
}

// Bytes received and not yet handed over.
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

} // namespace

class SerialChannel::Impl {
public:
    Impl() = default;
    ~Impl() {
        closePort();
        for (int fd : {stopFd_, writeFd_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool openPort(ByteSink& owner, int comPort, const LineSettings& line) {
        stopWorker();
        const std::lock_guard lock(portLock_);
        closeDeviceLocked();
        pending_.close();
        if (!createEvents()) {
            return false; // without its wake-up events the channel could not run a worker
        }
        drainEventFd(writeFd_);
        owner_ = &owner;
        comPort_.store(comPort);
        line_ = line;

        const std::optional<std::string> path = comPortDevicePath(comPort);
        if (!path) {
            return false;
        }
        const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        // TIOCEXCL keeps other users out, but not root; the advisory lock
        // keeps out every opener that asks for it, this program included.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        pending_.open(line.writeBufferSize);
        state_.store(State::OpenIdle);
        configureLocked();
        purgeLocked();
        return true;
    }

    bool startPortWorker() {
        if (state_.load() != State::OpenIdle) {
            return false;
        }
        drainEventFd(stopFd_);
        {
            // Purged here rather than on the new thread, so that every byte
            // arriving after this call returns is kept.
            const std::lock_guard lock(portLock_);
            purgeLocked();
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
            signal(writeFd_);
        }
        return result;
    }

    void closePort() {
        stopWorker();
        pending_.close();
        if (writeFd_ >= 0) {
            drainEventFd(writeFd_);
        }
        const std::lock_guard lock(portLock_);
        closeDeviceLocked();
    }

    [[nodiscard]] bool portError() const { return portError_.load(); }
    void clearPortError() { portError_.store(false); }
    [[nodiscard]] State state() const { return state_.load(); }
    [[nodiscard]] int comPort() const { return comPort_.load(); }

private:
    bool createEvents() {
        if (stopFd_ < 0) {
            stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        }
        if (writeFd_ < 0) {
            // One count per pending command.
            writeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
        }
        return stopFd_ >= 0 && writeFd_ >= 0;
    }

    void reportPortError() { portError_.store(true); }

    void configureLocked() {
        // Exclusive use against other (non-root) openers.
        if (::ioctl(fd_, TIOCEXCL) != 0) {
            reportPortError();
        }
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) {
            reportPortError();
            return;
        }
        if (!applyLineSettings(tio, line_) || ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
            reportPortError();
            return;
        }
        // RTS on. Pseudo-terminals have no modem lines and refuse this.
        const int rts = TIOCM_RTS;
        if (::ioctl(fd_, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
            reportPortError();
        }
    }

    // Discards unread input and unsent output (at open and worker start).
    void purgeLocked() const {
        if (fd_ >= 0) {
            ::tcflush(fd_, TCIOFLUSH);
        }
    }

    // Before every write: replies not read by now are discarded. Output is
    // kept: write() returns once the bytes are queued, and discarding the
    // queue would cut off the end of the previous command on the wire.
    void purgeInputLocked() const { ::tcflush(fd_, TCIFLUSH); }

    void closeDeviceLocked() {
        if (fd_ >= 0) {
            ::close(fd_); // also releases the advisory lock
            fd_ = -1;
        }
        state_.store(State::Closed);
    }

    void stopWorker() {
        if (!worker_.joinable()) {
            return;
        }
        state_.store(State::Stopping);
        stopSource_.request_stop(); // releases a hand-over waiting for room
        signal(stopFd_);
        worker_.join();
        state_.store(fd_ >= 0 ? State::OpenIdle : State::Closed);
    }

    enum class ReadResult { Byte, Empty, Failed };

    ReadResult readOne(std::uint8_t& byte) {
        const std::lock_guard lock(portLock_);
        for (;;) {
            const ssize_t n = ::read(fd_, &byte, 1);
            if (n == 1) {
                return ReadResult::Byte;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                return ReadResult::Empty;
            }
            // 0 or EIO: the far end hung up.
            return ReadResult::Failed;
        }
    }

    // Bytes waiting in the receive queue; -1 when the port cannot tell.
    int queuedBytes() {
        const std::lock_guard lock(portLock_);
        int queued = 0;
        return ::ioctl(fd_, FIONREAD, &queued) == 0 ? queued : -1;
    }

    void handOver(Burst& burst, const std::stop_token& stop) {
        if (!burst.empty()) {
            owner_->receiveBytes(burst.bytes(), comPort_.load(), stop);
            burst.clear();
        }
    }

    // Reads the receive queue one byte per read while bytes are queued, and
    // hands them over in bursts. `hungUp` tells that poll() reported a hang-up
    // or error. False when the port failed: the error flag is set and one byte
    // has been handed over as notice.
    bool drain(bool hungUp, const std::stop_token& stop) {
        Burst burst;
        bool readAny = false;
        int known = 0; // bytes FIONREAD reported and not yet read
        while (!stop.stop_requested()) {
            if (known == 0) {
                known = queuedBytes();
                if (known < 0) {
                    return fail(burst, stop);
                }
                if (known == 0 && readAny) {
                    break;
                }
                // Woken with nothing queued: one read tells a hang-up from a
                // byte that has just come in or a spurious wake.
            }
            std::uint8_t byte = 0;
            const ReadResult result = readOne(byte);
            if (result == ReadResult::Failed) {
                return fail(burst, stop);
            }
            if (result == ReadResult::Empty) {
                if (hungUp && !readAny) {
                    return fail(burst, stop);
                }
                break;
            }
            readAny = true;
            lastByte_ = byte;
            burst.push(byte);
            if (known > 0) {
                --known;
            }
            if (burst.full()) {
                handOver(burst, stop);
            }
        }
        handOver(burst, stop);
        return true;
    }

    bool fail(Burst& burst, const std::stop_token& stop) {
        handOver(burst, stop);
        reportPortError();
        // The owner learns of the failure at its next byte: hand over what the
        // read buffer last held.
        const std::uint8_t notice = lastByte_;
        owner_->receiveBytes({&notice, 1}, comPort_.load(), stop);
        return false;
    }

    // Writes one pending command: purge the input, then every byte within
    // kWriteTimeout.
    void writeOne() {
        if (!consumeOne(writeFd_)) {
            return;
        }
        const std::optional<std::string> command = pending_.pop();
        if (!command) {
            return;
        }
        const std::lock_guard lock(portLock_);
        purgeInputLocked();
        std::string_view rest = *command;
        const auto deadline = Clock::now() + kWriteTimeout;
        while (!rest.empty()) {
            const ssize_t n = ::write(fd_, rest.data(), rest.size());
            if (n > 0) {
                rest.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                reportPortError();
                return;
            }
            std::array<pollfd, 2> fds{{{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}}};
            const int wait = remainingMs(deadline);
            const int ready = wait > 0 ? ::poll(fds.data(), fds.size(), wait) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (fds[1].revents != 0) {
                return; // closing: the rest of the command goes with the port
            }
            if (ready <= 0 || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                reportPortError();
                return;
            }
        }
    }

    void run(const std::stop_token& stop) {
        // A port asked for no received-byte events is not read at all.
        bool watchPort = (line_.eventMask & kEventReceivedChar) != 0;
        // Wait list in priority order: stop, port, write.
        std::array<pollfd, 3> fds{{{stopFd_, POLLIN, 0}, {-1, POLLIN, 0}, {writeFd_, POLLIN, 0}}};
        while (!stop.stop_requested()) {
            fds[1].fd = watchPort ? fd_ : -1; // a negative fd is not watched
            for (pollfd& p : fds) {
                p.revents = 0;
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                reportPortError();
                return;
            }
            if (fds[0].revents != 0) {
                return;
            }
            if (fds[1].revents != 0) {
                const bool hungUp = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
                // After a failure the port is no longer watched, so a hung-up
                // line cannot keep waking the worker; stop and writes still can.
                watchPort = drain(hungUp, stop);
                continue;
            }
            if (fds[2].revents != 0) {
                writeOne();
            }
        }
    }

    std::mutex portLock_; // guards fd_ during configuration, reads and writes
    int fd_ = -1;
    int stopFd_ = -1;
    int writeFd_ = -1;
    std::thread worker_;
    std::stop_source stopSource_{std::nostopstate};
    std::atomic<State> state_{State::Closed};
    std::atomic<bool> portError_{false};
    std::atomic<int> comPort_{0};
    ByteSink* owner_ = nullptr;
    LineSettings line_;
    PendingCommands pending_;
    std::uint8_t lastByte_ = 0; // port worker only
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
