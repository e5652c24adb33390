#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mc {

// What went over the line, one row per sent command, received line or link
// event: the traffic monitor, `matrix-console --log` and `matrix-ctl monitor`
// all show these rows in the same text form.

// The history the console keeps: older rows fall off.
inline constexpr std::size_t kTrafficRowLimit = 10000;
// The most bytes a pending (not yet LF-terminated) row keeps; the reply line
// buffer holds no more either.
inline constexpr std::size_t kPendingRowLimit = 4096;

enum class TrafficDirection { Sent, Received, Pending, Event };

enum class TrafficMarkKind {
    None,    // sent commands, pending bytes
    ActedOn, // the reply parser changed something; the text says what
    Ignored, // the reply parser does not act on the line
    Error,   // the switcher refused a command ("ERROR")
    Event,   // a link event; the text names it
};

struct TrafficMark {
    TrafficMarkKind kind = TrafficMarkKind::None;
    std::string text;
    friend bool operator==(const TrafficMark&, const TrafficMark&) = default;
};

struct TrafficRow {
    std::chrono::system_clock::time_point time;
    TrafficDirection direction = TrafficDirection::Event;
    std::string link;  // "COM3" or "host:port"
    std::string bytes; // as on the wire; for an event, its detail (a failure's reason)
    TrafficMark mark;
};

// "sent", "received", "pending", "event".
[[nodiscard]] const char* trafficDirectionName(TrafficDirection direction);

// hh:mm:ss.mmm in local time.
[[nodiscard]] std::string formatTrafficTime(std::chrono::system_clock::time_point time);

// The bytes with every control character visible: \r, \n, \t, \\ for a
// backslash, and \xNN for any other byte outside printable ASCII.
[[nodiscard]] std::string visibleBytes(std::string_view bytes);

// One row as one text line, without a line end:
// "12:04:31.207  received  COM3  OUT3 VS IN5\r\n  [output 3 -> input 5]".
[[nodiscard]] std::string formatTrafficRow(const TrafficRow& row);

// 16 bytes a line: offset, hex pairs, and the printable characters.
[[nodiscard]] std::string hexDump(std::string_view bytes);

// What the reply parser does with a complete line: the same decoding it acts
// on, in words. While an EDID read waits, only an EDID data line counts.
[[nodiscard]] TrafficMark markReplyLine(std::string_view line, bool edidReadPending = false);

// Link events the connection reports.
enum class LinkEvent { Opened, Closed, PortError, OpenFailed, Probing };
[[nodiscard]] const char* linkEventName(LinkEvent event);

// Fed by the connection and the reply dispatch, on the window thread only.
// Nothing calls it while none is attached, so the line pays nothing for an
// unopened monitor.
class TrafficObserver {
public:
    virtual ~TrafficObserver() = default;
    // `detail`: a failure's reason, or empty.
    virtual void linkEvent(std::string_view link, LinkEvent event, std::string_view detail) = 0;
    // Bytes handed to the link (commands and the search probe).
    virtual void commandSent(std::string_view link, std::string_view bytes) = 0;
    // A received byte that does not complete a line.
    virtual void partialByteReceived(char byte) = 0;
    // A complete line (LF included) with what the parser does with it.
    virtual void lineReceived(std::string_view line, const TrafficMark& mark) = 0;
};

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
