#include "window/byte_handover.h"

#include <algorithm>
#include <array>
#include <utility>

namespace mc {

namespace {

// Bytes taken from the queue per lock on the window thread.
constexpr std::size_t kDeliveryBatch = 256;

} // namespace

ByteHandover::ByteHandover(ByteHandler handler, std::size_t capacity, QObject* parent)
    : ByteHandover([handler = std::move(handler)](std::uint8_t byte, int linkNumber,
                                                  bool /*portErrorAtReceipt*/) { handler(byte, linkNumber); },
                   PortErrorProbe(), capacity, parent) {
}

ByteHandover::ByteHandover(FlaggedByteHandler handler, PortErrorProbe portError, std::size_t capacity, QObject* parent)
    : ByteHandover(BurstHandler([handler = std::move(handler)](std::span<const std::uint8_t> bytes, int linkNumber,
                                                               bool portErrorAtReceipt) {
                       for (const std::uint8_t byte : bytes) {
                           handler(byte, linkNumber, portErrorAtReceipt);
                       }
                   }),
                   std::move(portError), capacity, parent) {
}

ByteHandover::ByteHandover(BurstHandler handler, PortErrorProbe portError, std::size_t capacity, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), portError_(std::move(portError)),
      ring_(std::max<std::size_t>(capacity, 1)) {
}

ByteHandover::~ByteHandover() {
    cancel();
}

bool ByteHandover::waitForRoom(std::unique_lock<std::mutex>& lock, const std::stop_token& stop) {
    const bool hasRoom = roomFreed_.wait(lock, stop, [this] { return cancelled_ || size_ < ring_.size(); });
    return hasRoom && !cancelled_;
}

void ByteHandover::postDelivery(std::unique_lock<std::mutex>& lock) {
    // One wake-up until the window thread has emptied the queue; it is posted
    // before any wait for room, so the queue always drains.
    if (!std::exchange(deliveryPosted_, true)) {
        lock.unlock();
        QMetaObject::invokeMethod(this, &ByteHandover::deliver, Qt::QueuedConnection);
        lock.lock();
    }
}

void ByteHandover::receiveBytes(std::span<const std::uint8_t> bytes, int linkNumber, std::stop_token stop) {
    const bool portError = portError_ && portError_();
    std::unique_lock lock(mutex_);
    while (!bytes.empty()) {
        if (!waitForRoom(lock, stop)) {
            // The port is closing (or the owner is gone) and there is no room.
            dropped_ += bytes.size();
            return;
        }
        const std::size_t count = std::min(bytes.size(), ring_.size() - size_);
        for (std::size_t i = 0; i < count; ++i) {
            ring_[(head_ + size_ + i) % ring_.size()] = Received{bytes[i], linkNumber, portError, Kind::Byte};
        }
        size_ += count;
        bytes = bytes.subspan(count);
        postDelivery(lock);
    }
}

void ByteHandover::queueEvent(Received event, std::string reason, const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    if (!waitForRoom(lock, stop)) {
        return; // the port is closing anyway
    }
    ring_[(head_ + size_) % ring_.size()] = event;
    ++size_;
    if (event.kind == Kind::Failed) {
        failureReasons_.push_back(std::move(reason));
    }
    postDelivery(lock);
}

void ByteHandover::linkFailed(int linkNumber, std::string reason, std::stop_token stop) {
    queueEvent(Received{0, linkNumber, true, Kind::Failed}, std::move(reason), stop);
}

void ByteHandover::linkConnected(int linkNumber, const std::stop_token& stop) {
    queueEvent(Received{0, linkNumber, false, Kind::Connected}, {}, stop);
}

void ByteHandover::deliver() {
    const auto sliceEnd = std::chrono::steady_clock::now() + kDeliverySlice;
    std::array<Received, kDeliveryBatch> batch{};
    std::deque<std::string> reasons;
    for (;;) {
        std::size_t count = 0;
        {
            const std::lock_guard lock(mutex_);
            count = std::min(size_, batch.size());
            if (count == 0 || cancelled_) {
                // From here on the next burst posts a new delivery.
                deliveryPosted_ = false;
                return;
            }
            if (std::chrono::steady_clock::now() >= sliceEnd) {
                // Still marked as posted: the continuation goes behind the
                // events that wait, and the order of the bytes is kept.
                QMetaObject::invokeMethod(this, &ByteHandover::deliver, Qt::QueuedConnection);
                return;
            }
            for (std::size_t i = 0; i < count; ++i) {
                batch[i] = ring_[(head_ + i) % ring_.size()];
                if (batch[i].kind == Kind::Failed) {
                    reasons.push_back(std::move(failureReasons_.front()));
                    failureReasons_.pop_front();
                }
            }
            head_ = (head_ + count) % ring_.size();
            size_ -= count;
        }
        roomFreed_.notify_all();
        handleRuns(std::span<const Received>(batch.data(), count), reasons);
    }
}

void ByteHandover::handleRuns(std::span<const Received> batch, std::deque<std::string>& reasons) {
    // Runs of one link and one flag go over in one call.
    std::array<std::uint8_t, kDeliveryBatch> bytes{};
    for (std::size_t start = 0; start < batch.size() && !cancelled_;) {
        if (batch[start].kind == Kind::Failed) {
            std::string reason = std::move(reasons.front());
            reasons.pop_front();
            if (failureHandler_) {
                failureHandler_(batch[start].linkNumber, reason);
            }
            ++start;
            continue;
        }
        if (batch[start].kind == Kind::Connected) {
            if (connectedHandler_) {
                connectedHandler_(batch[start].linkNumber);
            }
            ++start;
            continue;
        }
        std::size_t end = start;
        while (end < batch.size() && batch[end].kind == Kind::Byte &&
               batch[end].linkNumber == batch[start].linkNumber && batch[end].portError == batch[start].portError) {
            bytes[end - start] = batch[end].byte;
            ++end;
        }
        handler_(std::span<const std::uint8_t>(bytes.data(), end - start), batch[start].linkNumber,
                 batch[start].portError);
        start = end;
    }
    reasons.clear();
}

void ByteHandover::cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        for (std::size_t i = 0; i < size_; ++i) {
            dropped_ += ring_[(head_ + i) % ring_.size()].kind == Kind::Byte ? 1 : 0;
        }
        size_ = 0;
        failureReasons_.clear();
    }
    roomFreed_.notify_all();
}

std::size_t ByteHandover::pendingCount() const {
    const std::lock_guard lock(mutex_);
    return size_;
}

std::size_t ByteHandover::droppedCount() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

} // namespace mc
