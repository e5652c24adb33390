#include "session/traffic.h"

#include "session/edid_capture.h"
#include "session/reply_parser.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace mc {

namespace {

constexpr std::string_view kErrorReply = "ERROR";
// The port number a reply uses for all ports at once.
constexpr int kAllPorts = 0;
// The one output whose enhancement reply redraws the audio page.
constexpr int kEnhancementRedrawOutput = 8;

template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

TrafficMark acted(std::string text) {
    return {TrafficMarkKind::ActedOn, std::move(text)};
}

TrafficMark ignored() {
    return {TrafficMarkKind::Ignored, "ignored"};
}

std::string portText(const char* what, int port) {
    return port == kAllPorts ? std::string("all ") + what + "s" : std::string(what) + " " + std::to_string(port);
}

std::string dottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24U) + "." + std::to_string((address >> 16U) & 0xffU) + "." +
           std::to_string((address >> 8U) & 0xffU) + "." + std::to_string(address & 0xffU);
}

// The line up to its first NUL, as the parser reads it.
std::string_view parsedText(std::string_view line) {
    return line.substr(0, line.find('\0'));
}

TrafficMark describe(const Reply& reply, std::string_view line) {
    return std::visit(
        Overloaded{
            [&](const IgnoredReply&) {
                return parsedText(line).find(kErrorReply) != std::string_view::npos
                           ? TrafficMark{TrafficMarkKind::Error, std::string(kErrorReply)}
                           : ignored();
            },
            [](const RoutingReply& r) {
                if (!r.output) {
                    return acted("routing redrawn");
                }
                const std::string input = r.input ? "input " + std::to_string(*r.input + 1) : "no input";
                return acted(portText("output", *r.output) + " -> " + input);
            },
            [](const EdidChoiceReply& r) {
                if (!r.input) {
                    return ignored();
                }
                const std::string item = r.item ? "choice " + std::to_string(*r.item) : "no choice";
                return acted(portText("input", *r.input) + " EDID -> " + item);
            },
            // Values from the wire are shown with their control characters visible.
            [](const MacReply& r) { return acted("MAC -> " + visibleBytes(r.text)); },
            [](const AddressReply& r) {
                const char* what = r.kind == AddressReply::Host      ? "IP address"
                                   : r.kind == AddressReply::NetMask ? "net mask"
                                                                     : "router";
                return acted(std::string(what) + " -> " + dottedAddress(r.address));
            },
            [](const TcpPortReply& r) { return acted("TCP port -> " + visibleBytes(r.text)); },
            [](const DhcpReply& r) { return acted(std::string("DHCP -> ") + (r.on ? "on" : "off")); },
            [](const AudioReply& r) {
                if (!r.output) {
                    return ignored();
                }
                return acted(portText("output", *r.output) + " audio -> " +
                             (r.state == AudioState::On ? "on" : "mute"));
            },
            [](const ScalerReply& r) { return r.output == kAllPorts ? acted("audio page redrawn") : ignored(); },
            [](const EnhancementReply& r) {
                return r.output == kAllPorts || r.output == kEnhancementRedrawOutput ? acted("audio page redrawn")
                                                                                     : ignored();
            },
        },
        reply);
}

} // namespace

const char* trafficDirectionName(TrafficDirection direction) {
    switch (direction) {
    case TrafficDirection::Sent:
        return "sent";
    case TrafficDirection::Received:
        return "received";
    case TrafficDirection::Pending:
        return "pending";
    case TrafficDirection::Event:
        return "event";
    }
    return "?";
}

const char* linkEventName(LinkEvent event) {
    switch (event) {
    case LinkEvent::Opened:
        return "opened";
    case LinkEvent::Closed:
        return "closed";
    case LinkEvent::PortError:
        return "port error";
    case LinkEvent::OpenFailed:
        return "open failed";
    case LinkEvent::Probing:
        return "search probing";
    }
    return "?";
}

std::string formatTrafficTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    if (ms < 0) {
        ms += 1000;
    }
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return text;
}

std::string visibleBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (byte < 0x20 || byte >= 0x7f) {
                out += "\\x";
                out += kHex[byte >> 4U];
                out += kHex[byte & 0xfU];
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string formatTrafficRow(const TrafficRow& row) {
    char direction[12];
    std::snprintf(direction, sizeof direction, "%-8s", trafficDirectionName(row.direction));
    std::string out =
        formatTrafficTime(row.time) + "  " + direction + "  " + (row.link.empty() ? "-" : row.link) + "  ";
    if (row.direction == TrafficDirection::Event) {
        // The event's name leads; its detail (a reason) follows as text.
        out += row.mark.text;
        if (!row.bytes.empty()) {
            out += ": " + visibleBytes(row.bytes);
        }
        return out;
    }
    out += visibleBytes(row.bytes);
    if (!row.mark.text.empty()) {
        out += "  [" + row.mark.text + "]";
    }
    return out;
}

std::string hexDump(std::string_view bytes) {
    static constexpr std::size_t kPerLine = 16;
    std::string out;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPerLine) {
        char field[24];
        std::snprintf(field, sizeof field, "%04zx  ", offset);
        out += field;
        std::string text;
        for (std::size_t i = 0; i < kPerLine; ++i) {
            if (offset + i < bytes.size()) {
                const auto byte = static_cast<unsigned char>(bytes[offset + i]);
                std::snprintf(field, sizeof field, "%02x ", byte);
                out += field;
                text += byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
            } else {
                out += "   ";
            }
            if (i == kPerLine / 2 - 1) {
                out += ' ';
            }
        }
        out += " " + text + "\n";
    }
    return out;
}

TrafficMark markReplyLine(std::string_view line, bool edidReadPending) {
    if (edidReadPending) {
        // The EDID-to-file parser takes the first data line and drops the rest.
        return isEdidDataLine(line) ? acted("EDID data read back")
                                    : TrafficMark{TrafficMarkKind::Ignored, "ignored (EDID read pending)"};
    }
    return describe(decodeReply(line), line);
}

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
