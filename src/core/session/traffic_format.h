#pragma once

#include "session/traffic.h"

#include <chrono>
#include <ctime>
#include <string>
#include <string_view>

// The text form of traffic rows, the same in the monitor, the --log file and
// `matrix-ctl monitor`.
namespace mc {

// A moment in local time, to the millisecond.
struct LocalTime {
    std::tm calendar;
    int milliseconds;
};
[[nodiscard]] LocalTime localTime(std::chrono::system_clock::time_point time);

// hh:mm:ss.mmm in local time.
[[nodiscard]] std::string formatTrafficTime(std::chrono::system_clock::time_point time);

// ISO 8601 in local time with milliseconds and the offset from UTC:
// "2026-12-08T10:04:31.207+01:00". A file outlives the day it was written.
[[nodiscard]] std::string formatTrafficTimestamp(std::chrono::system_clock::time_point time);

// How a row's time is shown: the time of day (the monitor, matrix-ctl), or
// the date and time with the offset (the --log file).
enum class TrafficTimeForm { TimeOfDay, Timestamp };

// The bytes with every control character visible: \r, \n, \t, \\ for a
// backslash, and \xNN for any other byte outside printable ASCII.
[[nodiscard]] std::string visibleBytes(std::string_view bytes);

// One row as one text line, without a line end:
// "12:04:31.207  received  COM3  OUT3 VS IN5\r\n  [output 3 -> input 5]".
[[nodiscard]] std::string formatTrafficRow(const TrafficRow& row,
                                           TrafficTimeForm timeForm = TrafficTimeForm::TimeOfDay);

// 16 bytes a line: offset, hex pairs, and the printable characters.
[[nodiscard]] std::string hexDump(std::string_view bytes);

} // namespace mc
