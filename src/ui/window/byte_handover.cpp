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

void ByteHandover::receiveBytes(std::span<const std::uint8_t> bytes, int linkNumber, std::stop_token stop) {
    const bool portError = portError_ && portError_();
    std::unique_lock lock(mutex_);
    while (!bytes.empty()) {
        const bool hasRoom = roomFreed_.wait(lock, stop, [this] { return cancelled_ || size_ < ring_.size(); });
        if (!hasRoom || cancelled_) {
            // The port is closing (or the owner is gone) and there is no room.
            dropped_ += bytes.size();
            return;
        }
        const std::size_t count = std::min(bytes.size(), ring_.size() - size_);
        for (std::size_t i = 0; i < count; ++i) {
            ring_[(head_ + size_ + i) % ring_.size()] = Received{bytes[i], linkNumber, portError};
        }
        size_ += count;
        bytes = bytes.subspan(count);
        // One wake-up until the window thread has emptied the queue; it is
        // posted before any wait for room, so the queue always drains.
        if (!std::exchange(deliveryPosted_, true)) {
            lock.unlock();
            QMetaObject::invokeMethod(this, &ByteHandover::deliver, Qt::QueuedConnection);
            lock.lock();
        }
    }
}

void ByteHandover::deliver() {
    std::array<Received, kDeliveryBatch> batch{};
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
            for (std::size_t i = 0; i < count; ++i) {
                batch[i] = ring_[(head_ + i) % ring_.size()];
            }
            head_ = (head_ + count) % ring_.size();
            size_ -= count;
        }
        roomFreed_.notify_all();
        // Runs of one link and one flag go over in one call.
        std::array<std::uint8_t, kDeliveryBatch> bytes{};
        for (std::size_t start = 0; start < count && !cancelled_;) {
            std::size_t end = start;
            while (end < count && batch[end].linkNumber == batch[start].linkNumber &&
                   batch[end].portError == batch[start].portError) {
                bytes[end - start] = batch[end].byte;
                ++end;
            }
            handler_(std::span<const std::uint8_t>(bytes.data(), end - start), batch[start].linkNumber,
                     batch[start].portError);
            start = end;
        }
    }
}

void ByteHandover::cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        dropped_ += size_;
        size_ = 0;
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
