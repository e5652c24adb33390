#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace mc {

// What went over the line, one row per sent command, received line or link
// event: the traffic monitor, `matrix-console --log` and `matrix-ctl monitor`
// all show these rows in the same text form (traffic_format.h). The reply
// marks come from reply_marks.h, the console's history from traffic_log.h.

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

} // namespace mc
