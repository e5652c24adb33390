#pragma once

#include "link/link_channel.h"

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace mc {

// Carries received bytes from the port worker to the window thread.
//
// Thread rule: the worker never calls into the window thread and never waits
// for it, except for room in a bounded queue, and that wait ends when the
// channel asks its worker to stop. So the window thread may close or reopen
// the port at any time without pumping events, and no hand-over can deadlock.
//
// Contract: every byte is handled on the window thread, in arrival order, in
// runs of bytes from one link with one port error flag (a session's receive()). The worker appends each burst to the
// queue and wakes the window thread once; while the queue is full the worker waits, so it never runs more than the
// queue ahead. Only one delivery is posted at a time, and it stays marked as posted until it has emptied the queue: so
// a handler that opens a nested event loop (a modal message box) is never re-entered, and bytes arriving meanwhile wait
// in the queue and follow in order once it returns.
//
// Port error: the window thread gets to a byte only after the worker has
// queued it, by which time the worker may have met a failure and raised the
// channel's port error flag. So the flag is read on the worker as each burst
// comes in and travels with its bytes: bytes read before a failure are
// handled as such, not dropped as if they had come after it.
class ByteHandover : public QObject, public ByteSink {
    Q_OBJECT
public:
    using ByteHandler = std::function<void(std::uint8_t byte, int linkNumber)>;
    // portErrorAtReceipt: what the port error probe said as the byte came in.
    using FlaggedByteHandler = std::function<void(std::uint8_t byte, int linkNumber, bool portErrorAtReceipt)>;
    // The bytes of one run, with their link number and the flag.
    using BurstHandler =
        std::function<void(std::span<const std::uint8_t> bytes, int linkNumber, bool portErrorAtReceipt)>;
    // Called on the port worker at each burst.
    using PortErrorProbe = std::function<bool()>;

    static constexpr std::size_t kDefaultCapacity = std::size_t{64} * 1024;

    // Lives on the window thread; the handler runs there.
    explicit ByteHandover(ByteHandler handler, std::size_t capacity = kDefaultCapacity, QObject* parent = nullptr);
    ByteHandover(FlaggedByteHandler handler, PortErrorProbe portError, std::size_t capacity = kDefaultCapacity,
                 QObject* parent = nullptr);
    ByteHandover(BurstHandler handler, PortErrorProbe portError, std::size_t capacity = kDefaultCapacity,
                 QObject* parent = nullptr);
    ~ByteHandover() override;
    ByteHandover(const ByteHandover&) = delete;
    ByteHandover& operator=(const ByteHandover&) = delete;

    // Port worker thread.
    void receiveBytes(std::span<const std::uint8_t> bytes, int linkNumber, std::stop_token stop) override;

    // Window thread, when the owner goes away: drops what waits, takes no more
    // and releases a worker waiting for room.
    void cancel();

    [[nodiscard]] std::size_t capacity() const { return ring_.size(); }
    [[nodiscard]] std::size_t pendingCount() const;
    // Bytes given up because their port was closing while the queue was full,
    // or because the hand-over was cancelled.
    [[nodiscard]] std::size_t droppedCount() const;

private:
    struct Received {
        std::uint8_t byte;
        int linkNumber;
        bool portError;
    };

    void deliver();

    BurstHandler handler_;
    PortErrorProbe portError_;
    mutable std::mutex mutex_;
    std::condition_variable_any roomFreed_;
    std::vector<Received> ring_; // fixed capacity
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::size_t dropped_ = 0;
    bool deliveryPosted_ = false;
    bool cancelled_ = false;
};

} // namespace mc
