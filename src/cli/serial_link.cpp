#include "serial_link.h"

#include "link/com_port_name.h"
#include "link/link_address.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc::ctl {
namespace {

std::atomic<bool> interrupted{false};

// Waits are cut into slices this long so an interrupt ends them soon.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

} // namespace

void requestInterrupt() {
    interrupted.store(true);
}

bool interruptRequested() {
    return interrupted.load();
}

void ByteQueue::receiveBytes(std::span<const std::uint8_t> bytes, int /*comPort*/, std::stop_token stop) {
    // The channel raises its error flag before it hands over the byte that
    // tells of the failure.
    const bool failed = channel_.portError();
    std::unique_lock lock(mutex_);
    while (bytes_.size() + bytes.size() > kLimit && !stop.stop_requested()) {
        changed_.wait_for(lock, kWaitSlice);
    }
    if (stop.stop_requested()) {
        return;
    }
    if (failed) {
        failed_ = true;
    } else {
        bytes_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    changed_.notify_all();
}

std::string ByteQueue::take(Clock::time_point deadline, bool& failed) {
    std::unique_lock lock(mutex_);
    while (bytes_.empty() && !failed_ && !interruptRequested()) {
        const auto now = Clock::now();
        if (now >= deadline) {
            break;
        }
        changed_.wait_until(lock, std::min(deadline, now + kWaitSlice));
    }
    failed = failed_;
    std::string out;
    out.swap(bytes_);
    changed_.notify_all();
    return out;
}

SerialLink::SerialLink() : channel_(std::make_unique<SerialChannel>()), queue_(std::make_unique<ByteQueue>(*channel_)) {
}

SerialLink::~SerialLink() {
    close();
}

bool SerialLink::open(int comPort) {
    comPort_ = comPort;
    if (!channel_->openPort(*queue_, comPort, LineSettings{})) {
        error_ = diagnoseOpenFailure(comPort);
        return false;
    }
    if (channel_->portError()) {
        error_ = name() + ": the port opened but cannot be set to 57600 baud 8N1";
        channel_->closePort();
        return false;
    }
    if (!channel_->startPortWorker()) {
        error_ = name() + ": the port's reader cannot be started";
        channel_->closePort();
        return false;
    }
    return true;
}

void SerialLink::close() {
    channel_->closePort();
}

bool SerialLink::send(std::string_view bytes) {
    switch (channel_->sendTextCommand(bytes)) {
    case SendResult::Queued:
        return true;
    case SendResult::NoWriteBuffer:
        error_ = name() + ": the port is not open";
        return false;
    case SendResult::TooLong:
        error_ = name() + ": the command is longer than the write buffer";
        return false;
    case SendResult::Empty:
        error_ = name() + ": empty command";
        return false;
    case SendResult::QueueFull:
        error_ = name() + ": too many commands waiting to be written";
        return false;
    }
    return false;
}

LineLink::Wait SerialLink::nextLine(std::string& line, Clock::time_point deadline) {
    while (true) {
        while (pendingAt_ < pending_.size()) {
            const char byte = pending_[pendingAt_++];
            if (auto complete = assembler_.append(byte)) {
                line = std::move(*complete);
                return Wait::Line;
            }
        }
        if (interruptRequested()) {
            return Wait::Interrupted;
        }
        if (channel_->portError()) {
            error_ = name() + ": the line failed (the switcher or its cable hung up)";
            return Wait::HungUp;
        }
        if (Clock::now() >= deadline) {
            return Wait::Timeout;
        }
        bool failed = false;
        pending_ = queue_->take(deadline, failed);
        pendingAt_ = 0;
        if (failed && pending_.empty()) {
            error_ = name() + ": the line failed (the switcher or its cable hung up)";
            return Wait::HungUp;
        }
    }
}

#ifndef _WIN32

std::string diagnoseOpenFailure(int comPort) {
    const std::string name = "COM" + std::to_string(comPort);
    const auto path = comPortDevicePath(comPort);
    if (!path) {
        return name + ": names no device on this system";
    }
    const std::string device = name + " (" + *path + ")";
    const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV) {
            return device + ": no such device";
        }
        if (error == EACCES || error == EPERM) {
            return device + ": permission denied; add your user to the dialout group, then log in again";
        }
        if (error == EBUSY) {
            return device + ": in use by another program";
        }
        return device + ": " + std::strerror(error);
    }
    // The channel holds its port with an advisory lock as well.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    if (locked) {
        return device + ": in use by another program";
    }
    return device + ": cannot be opened";
}

#else

std::string diagnoseOpenFailure(int comPort) {
    return "COM" + std::to_string(comPort) + ": not found, or in use by another program";
}

#endif

#ifndef _WIN32
namespace {
// Two names of one device: the same file, or the same character device.
bool sameDevice(const struct stat& a, const std::string& path) {
    struct stat b {};
    if (::stat(path.c_str(), &b) != 0) {
        return false;
    }
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) {
        return a.st_rdev == b.st_rdev;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
} // namespace

std::optional<int> comPortOfDevice(const std::string& path) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) {
        return std::nullopt;
    }
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        const auto candidate = comPortDevicePath(n);
        if (candidate && sameDevice(target, *candidate)) {
            return n;
        }
    }
    return std::nullopt;
}
#else
std::optional<int> comPortOfDevice(const std::string& /*path*/) {
    return std::nullopt;
}
#endif

} // namespace mc::ctl
