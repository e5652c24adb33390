#pragma once

#include "link/link_channel.h"

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
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
// runs of bytes from one link with one port error flag (a session's receive()),
// and a link's connect and failure reach their handlers in their place among
// them. The
// worker appends each burst to the queue and wakes the window thread once;
// while the queue is full the worker waits, so it never runs more than the
// queue ahead. Only one delivery is posted at a time, and it stays marked as
// posted until it has emptied the queue: so a handler that opens a nested event
// loop (a modal message box) is never re-entered, and bytes arriving meanwhile
// wait in the queue and follow in order once it returns. This is the only guard
// against re-entry on the receiving side: the session relies on it.
//
// A delivery runs for at most kDeliverySlice and then posts its own
// continuation behind whatever else waits (timers, clicks, repaints): a worker
// that keeps refilling the queue cannot hold the window thread.
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
    // The link failed after the bytes handed over before it; `reason` says why.
    using FailureHandler = std::function<void(int linkNumber, const std::string& reason)>;
    using ConnectedHandler = std::function<void(int linkNumber)>;

    static constexpr std::size_t kDefaultCapacity = std::size_t{64} * 1024;
    // Longest one delivery keeps the window thread before it yields.
    static constexpr std::chrono::milliseconds kDeliverySlice{5};

    // Lives on the window thread; the handler runs there.
    explicit ByteHandover(ByteHandler handler, std::size_t capacity = kDefaultCapacity, QObject* parent = nullptr);
    ByteHandover(FlaggedByteHandler handler, PortErrorProbe portError, std::size_t capacity = kDefaultCapacity,
                 QObject* parent = nullptr);
    ByteHandover(BurstHandler handler, PortErrorProbe portError, std::size_t capacity = kDefaultCapacity,
                 QObject* parent = nullptr);
    ~ByteHandover() override;
    ByteHandover(const ByteHandover&) = delete;
    ByteHandover& operator=(const ByteHandover&) = delete;

    // Where link failures and connects go; without a handler they are
    // dropped. Window thread, before the first link opens.
    void onLinkFailed(FailureHandler handler) { failureHandler_ = std::move(handler); }
    void onLinkConnected(ConnectedHandler handler) { connectedHandler_ = std::move(handler); }

    // Port worker thread.
    void receiveBytes(std::span<const std::uint8_t> bytes, int linkNumber, std::stop_token stop) override;
    void linkFailed(int linkNumber, std::string reason, std::stop_token stop) override;
    void linkConnected(int linkNumber, const std::stop_token& stop) override;

    // Window thread, when the owner goes away: drops what waits, takes no more
    // and releases a worker waiting for room.
    void cancel();

    [[nodiscard]] std::size_t capacity() const { return ring_.size(); }
    [[nodiscard]] std::size_t pendingCount() const;
    // Bytes given up because their port was closing while the queue was full,
    // or because the hand-over was cancelled.
    [[nodiscard]] std::size_t droppedCount() const;

private:
    enum class Kind : std::uint8_t { Byte, Connected, Failed };
    // One received byte, or the place of a link event among them.
    struct Received {
        std::uint8_t byte;
        int linkNumber;
        bool portError;
        Kind kind;
    };

    // Waits for room for one entry; false when the port is closing or the
    // owner is gone. Called with `lock` held.
    bool waitForRoom(std::unique_lock<std::mutex>& lock, const std::stop_token& stop);
    // A link event; `reason` goes with a failure.
    void queueEvent(Received event, std::string reason, const std::stop_token& stop);
    // Called with `lock` held, after entries were queued.
    void postDelivery(std::unique_lock<std::mutex>& lock);
    void deliver();
    void handleRuns(std::span<const Received> batch, std::deque<std::string>& reasons);

    BurstHandler handler_;
    PortErrorProbe portError_;
    FailureHandler failureHandler_;
    ConnectedHandler connectedHandler_;
    mutable std::mutex mutex_;
    std::condition_variable_any roomFreed_;
    std::vector<Received> ring_; // fixed capacity
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::deque<std::string> failureReasons_; // one per failure entry queued
    std::size_t dropped_ = 0;
    bool deliveryPosted_ = false;
    bool cancelled_ = false;
};

} // namespace mc
