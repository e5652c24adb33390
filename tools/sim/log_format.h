#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace mc::sim {

// The emulator's log has one record per line of text:
//   <local time, ISO 8601 with milliseconds> <kind> <detail>
// kinds: "rx" (a received line, raw bytes quoted), "tx" (one reply line, or
// one burst of noise, quoted), "overlong" (a received line too long to
// keep: byte count, then its first bytes quoted), "info" (plain text: the
// line is ready, the line is dropped, the program stops).
//   2026-12-07T21:00:00.123 rx "\r\nGET STA\r\n"

// Bytes as a C-like string literal without ambiguity: printable ASCII as is,
// except '"' and '\' escaped with '\'; CR, LF and TAB as \r, \n and \t; every
// other byte as \x and two lower-case hex digits.
[[nodiscard]] std::string escapeBytes(std::string_view bytes);

// "2026-12-07T21:00:00.123", local time.
[[nodiscard]] std::string formatTimestamp(std::chrono::system_clock::time_point when);

// A whole record, ending in a line feed. quoted: detail is escaped and
// quoted; otherwise it is written as it stands.
[[nodiscard]] std::string logRecord(std::chrono::system_clock::time_point when, std::string_view kind,
                                    std::string_view detail, bool quoted);

} // namespace mc::sim
