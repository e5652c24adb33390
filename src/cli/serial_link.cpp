#include "serial_link.h"

#include "link/com_port_name.h"
#include "link/link_address.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace mc::ctl {
namespace {

std::atomic<bool> interrupted{false};

// A worker held back by a full queue looks for a stop this often.
constexpr auto kFullQueueSlice = std::chrono::milliseconds(50);

// The queues a reader may be waiting on, for an interrupt to wake.
std::mutex queuesMutex;
std::vector<ByteQueue*> liveQueues;

} // namespace

void requestInterrupt() {
    interrupted.store(true);
    const std::lock_guard lock(queuesMutex);
    for (ByteQueue* queue : liveQueues) {
        queue->wake();
    }
}

bool interruptRequested() {
    return interrupted.load();
}

ByteQueue::ByteQueue(const LinkChannel& channel) : channel_(channel) {
    const std::lock_guard lock(queuesMutex);
    liveQueues.push_back(this);
}

ByteQueue::~ByteQueue() {
    const std::lock_guard lock(queuesMutex);
    liveQueues.erase(std::remove(liveQueues.begin(), liveQueues.end(), this), liveQueues.end());
}

void ByteQueue::wake() {
    // Under the queue's lock: a reader between its test and its wait cannot
    // miss the notice.
    const std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void ByteQueue::receiveBytes(std::span<const std::uint8_t> bytes, int /*linkNumber*/, std::stop_token stop) {
    // A failed write raises the flag without ending the worker: what comes
    // after it counts as the failure.
    const bool failed = channel_.portError();
    std::unique_lock lock(mutex_);
    while (bytes_.size() + bytes.size() > kLimit && !stop.stop_requested()) {
        changed_.wait_for(lock, kFullQueueSlice);
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

void ByteQueue::linkFailed(int /*linkNumber*/, std::string /*reason*/, std::stop_token /*stop*/) {
    // The reason stays the channel's lastFailure(), which the caller reports.
    const std::lock_guard lock(mutex_);
    failed_ = true;
    changed_.notify_all();
}

std::string ByteQueue::take(Clock::time_point deadline, bool& failed) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return !bytes_.empty() || failed_ || interruptRequested(); });
    failed = failed_;
    std::string out;
    out.swap(bytes_);
    changed_.notify_all();
    return out;
}

SerialLink::SerialLink() : channel_(std::make_unique<LinkChannel>()), queue_(std::make_unique<ByteQueue>(*channel_)) {
}

SerialLink::~SerialLink() {
    close();
}

bool SerialLink::open(int comPort) {
    name_ = comPortName(comPort);
    network_ = false;
    if (!channel_->openLink(*queue_, comPort, LineSettings{})) {
        error_ = name_ + ": " + channel_->lastFailure();
        return false;
    }
    return startOpened();
}

#ifndef _WIN32
bool SerialLink::openDevice(const std::string& path) {
    name_ = path;
    network_ = false;
    if (!channel_->openLink(*queue_, kDevicePathLinkNumber, makeSerialDeviceBackend(path), LineSettings{})) {
        error_ = channel_->lastFailure(); // "open PATH: reason"
        return false;
    }
    return startOpened();
}
#endif

bool SerialLink::startOpened() {
    if (channel_->portError()) {
        error_ = name() + ": the port opened but cannot be set to 57600 baud 8N1";
        channel_->closeLink();
        return false;
    }
    if (!channel_->startPortWorker()) {
        error_ = name() + ": the port's reader cannot be started";
        channel_->closeLink();
        return false;
    }
    return true;
}

bool SerialLink::openNetwork(const TcpLinkAddress& address, std::chrono::milliseconds bound) {
    name_ = formatLinkAddress(address);
    network_ = true;
    const auto connected = std::make_shared<std::atomic<bool>>(false);
    if (!channel_->openLink(*queue_, kNetworkLinkNumber, makeTcpBackend(address, bound, connected), LineSettings{}) ||
        !channel_->startPortWorker()) {
        error_ = name_ + ": " + channel_->lastFailure();
        channel_->closeLink();
        return false;
    }
    // The worker gives up by itself at the bound; the margin only covers a
    // loaded machine.
    const auto deadline = Clock::now() + bound + std::chrono::seconds(1);
    while (!connected->load() && !channel_->portError()) {
        if (interruptRequested() || Clock::now() >= deadline) {
            error_ = name_ + (interruptRequested() ? ": interrupted while connecting" : ": no connection in time");
            channel_->closeLink();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!connected->load()) {
        error_ = channel_->lastFailure();
        channel_->closeLink();
        return false;
    }
    return true;
}

void SerialLink::close() {
    channel_->closeLink();
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
        // After a failure, what came before it is still read first.
        const bool lineFailed = channel_->portError();
        if (!lineFailed && Clock::now() >= deadline) {
            return Wait::Timeout;
        }
        bool failed = false;
        pending_ = queue_->take(lineFailed ? Clock::now() : deadline, failed);
        pendingAt_ = 0;
        if ((failed || lineFailed) && pending_.empty()) {
            error_ =
                network_ ? channel_->lastFailure() : name() + ": the line failed (the switcher or its cable hung up)";
            return Wait::HungUp;
        }
    }
}

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
