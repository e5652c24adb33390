#include "session/traffic_format.h"

#include <cstdio>
#include <ctime>

namespace mc {

LocalTime localTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    if (ms < 0) {
        ms += 1000;
    }
    LocalTime local{};
#ifdef _WIN32
    localtime_s(&local.calendar, &seconds);
#else
    localtime_r(&seconds, &local.calendar);
#endif
    local.milliseconds = static_cast<int>(ms);
    return local;
}

std::string formatTrafficTime(std::chrono::system_clock::time_point time) {
    const LocalTime local = localTime(time);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.calendar.tm_hour, local.calendar.tm_min,
                  local.calendar.tm_sec, local.milliseconds);
    return text;
}

namespace {

// The zone's offset from UTC, in seconds, at the moment `local` shows.
long offsetFromUtc(std::chrono::system_clock::time_point time, const LocalTime& local) {
#ifdef _WIN32
    // The local fields read as if they were UTC, less the real instant.
    std::tm copy = local.calendar;
    return static_cast<long>(_mkgmtime(&copy) - std::chrono::system_clock::to_time_t(time));
#else
    static_cast<void>(time);
    return local.calendar.tm_gmtoff;
#endif
}

} // namespace

std::string formatTrafficTimestamp(std::chrono::system_clock::time_point time) {
    const LocalTime local = localTime(time);
    const long offsetSeconds = offsetFromUtc(time, local);
    const long offsetMinutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.calendar.tm_year + 1900,
                  local.calendar.tm_mon + 1, local.calendar.tm_mday, local.calendar.tm_hour, local.calendar.tm_min,
                  local.calendar.tm_sec, local.milliseconds, offsetSeconds < 0 ? '-' : '+', offsetMinutes / 60,
                  offsetMinutes % 60);
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

std::string formatTrafficRow(const TrafficRow& row, TrafficTimeForm timeForm) {
    char direction[12];
    std::snprintf(direction, sizeof direction, "%-8s", trafficDirectionName(row.direction));
    const std::string time =
        timeForm == TrafficTimeForm::Timestamp ? formatTrafficTimestamp(row.time) : formatTrafficTime(row.time);
    std::string out = time + "  " + direction + "  " + (row.link.empty() ? "-" : row.link) + "  ";
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

} // namespace mc
