#include "session/traffic_log.h"

#include <algorithm>
#include <utility>

namespace mc {

TrafficLog::TrafficLog(std::size_t capacity, Clock clock)
    : capacity_(capacity == 0 ? 1 : capacity), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return std::chrono::system_clock::now(); };
    }
}

TrafficRow TrafficLog::makeRow(TrafficDirection direction, std::string link, std::string bytes,
                               TrafficMark mark) const {
    return TrafficRow{clock_(), direction, std::move(link), std::move(bytes), std::move(mark)};
}

void TrafficLog::append(TrafficRow row) {
    if (listener_) {
        listener_(row);
    }
    if (ring_.size() < capacity_) {
        // Grows to the capacity once, then only ever overwrites.
        if (ring_.size() == ring_.capacity()) {
            ring_.reserve(std::min(capacity_, std::max<std::size_t>(64, ring_.size() * 2)));
        }
        ring_.push_back(std::move(row));
        ++size_;
    } else {
        ring_[head_] = std::move(row);
        head_ = (head_ + 1) % capacity_;
    }
    ++nextSerial_;
}

void TrafficLog::clear() {
    // The ring keeps its room: a cleared log fills again without allocating.
    ring_.clear();
    head_ = 0;
    size_ = 0;
    dropPending();
}

const TrafficRow& TrafficLog::row(std::size_t i) const {
    return ring_[(head_ + i) % ring_.size()];
}

const TrafficRow* TrafficLog::rowBySerial(std::uint64_t serial) const {
    if (serial < firstSerial() || serial >= nextSerial_) {
        return nullptr;
    }
    return &row(static_cast<std::size_t>(serial - firstSerial()));
}

void TrafficLog::dropPending() {
    hasPending_ = false;
    pending_.bytes.clear();
    pendingDropped_ = 0;
    ++pendingVersion_;
}

void TrafficLog::linkEvent(std::string_view link, LinkEvent event, std::string_view detail) {
    if (event == LinkEvent::Opened || event == LinkEvent::Probing) {
        link_ = link;
    }
    if (hasPending_ && (event == LinkEvent::Closed || event == LinkEvent::PortError)) {
        // Bytes without a line end stay in the reply buffer, but the file and
        // the history get them now: a switcher that never ends its lines
        // shows there too.
        TrafficRow cut = pending_;
        cut.mark = {TrafficMarkKind::Ignored, "no line end yet"};
        dropPending();
        append(std::move(cut));
    }
    append(makeRow(TrafficDirection::Event, std::string(link), std::string(detail),
                   {TrafficMarkKind::Event, linkEventName(event)}));
}

void TrafficLog::commandSent(std::string_view link, std::string_view bytes) {
    append(makeRow(TrafficDirection::Sent, std::string(link), std::string(bytes), {}));
}

void TrafficLog::partialByteReceived(char byte) {
    if (!hasPending_) {
        pending_ = makeRow(TrafficDirection::Pending, link_, {}, {});
        hasPending_ = true;
    }
    ++pendingVersion_;
    if (pending_.bytes.size() < kPendingRowLimit) {
        pending_.bytes += byte;
    } else {
        ++pendingDropped_;
        pending_.mark = {TrafficMarkKind::None, std::to_string(pendingDropped_) + " more bytes not shown"};
    }
    if (byte == '\n') {
        // An LF that ends no line: the line was too long and the reply
        // buffer discarded it.
        TrafficRow discarded = std::move(pending_);
        discarded.direction = TrafficDirection::Received;
        discarded.mark = {TrafficMarkKind::Ignored, "discarded: over-long line"};
        dropPending();
        append(std::move(discarded));
    }
}

void TrafficLog::lineReceived(std::string_view line, const TrafficMark& mark) {
    dropPending();
    append(makeRow(TrafficDirection::Received, link_, std::string(line), mark));
}

} // namespace mc
