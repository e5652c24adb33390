#include "sim/log_format.h"

#include <cstdio>
#include <ctime>

namespace mc::sim {

std::string escapeBytes(std::string_view bytes) {
    constexpr char kHex[] = "0123456789abcdef";
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
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (byte >= 0x20 && byte < 0x7f) {
                out += c;
            } else {
                out += "\\x";
                out += kHex[byte >> 4];
                out += kHex[byte & 0x0fU];
            }
        }
    }
    return out;
}

std::string formatTimestamp(std::chrono::system_clock::time_point when) {
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis < 0 ? millis + 1000 : millis));
    return text;
}

std::string logRecord(std::chrono::system_clock::time_point when, std::string_view kind, std::string_view detail,
                      bool quoted) {
    std::string record = formatTimestamp(when);
    record += ' ';
    record += kind;
    record += ' ';
    if (quoted) {
        record += '"';
        record += escapeBytes(detail);
        record += '"';
    } else {
        record += detail;
    }
    record += '\n';
    return record;
}

} // namespace mc::sim
