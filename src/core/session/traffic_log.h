#pragma once

#include "session/traffic.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mc {

// The bounded history: the last `capacity` rows in a ring, plus the pending
// row, updated in place as bytes of an unfinished line arrive. Memory stays
// flat: the ring never grows past its capacity and the pending row past
// kPendingRowLimit. Rows carry serial numbers so a view can tell what is new
// and what has fallen off.
class TrafficLog final : public TrafficObserver {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    // Sees every finished row once, as it is added (the --log file).
    using RowListener = std::function<void(const TrafficRow&)>;

    explicit TrafficLog(std::size_t capacity = kTrafficRowLimit, Clock clock = {});

    void setRowListener(RowListener listener) { listener_ = std::move(listener); }

    void linkEvent(std::string_view link, LinkEvent event, std::string_view detail) override;
    void commandSent(std::string_view link, std::string_view bytes) override;
    void partialByteReceived(char byte) override;
    void lineReceived(std::string_view line, const TrafficMark& mark) override;

    // Adds a finished row.
    void append(TrafficRow row);
    // The link received bytes come from, for a log attached while a link is
    // already open (no "opened" event tells it).
    void setCurrentLink(std::string_view link) { link_ = link; }
    // Forgets every row, the pending one too; serial numbers go on.
    void clear();

    [[nodiscard]] std::size_t capacity() const { return capacity_; }
    [[nodiscard]] std::size_t size() const { return size_; }
    // Serial number of the oldest kept row; rows are numbered from 0.
    [[nodiscard]] std::uint64_t firstSerial() const { return nextSerial_ - size_; }
    [[nodiscard]] std::uint64_t nextSerial() const { return nextSerial_; }
    // nullptr when that row has fallen off or does not exist yet.
    [[nodiscard]] const TrafficRow* rowBySerial(std::uint64_t serial) const;
    // i-th kept row, 0 the oldest.
    [[nodiscard]] const TrafficRow& row(std::size_t i) const;

    [[nodiscard]] bool hasPending() const { return hasPending_; }
    [[nodiscard]] const TrafficRow& pending() const { return pending_; }
    // Bytes of the pending line beyond kPendingRowLimit, not kept.
    [[nodiscard]] std::size_t pendingDropped() const { return pendingDropped_; }
    // Changes with every update of the pending row, so a view can redraw it.
    [[nodiscard]] std::uint64_t pendingVersion() const { return pendingVersion_; }
    // The ring's reserved room in rows: never more than capacity().
    [[nodiscard]] std::size_t ringAllocation() const { return ring_.capacity(); }

private:
    [[nodiscard]] TrafficRow makeRow(TrafficDirection direction, std::string link, std::string bytes,
                                     TrafficMark mark) const;
    void dropPending();

    std::size_t capacity_;
    Clock clock_;
    RowListener listener_;
    std::vector<TrafficRow> ring_;
    std::size_t head_ = 0; // index of the oldest row once the ring is full
    std::size_t size_ = 0;
    std::uint64_t nextSerial_ = 0;
    std::string link_; // the link the received bytes come from: the last one opened or probed
    TrafficRow pending_;
    bool hasPending_ = false;
    std::size_t pendingDropped_ = 0;
    std::uint64_t pendingVersion_ = 0;
};

} // namespace mc
