#pragma once

#include <cstdarg>
#include <string>

namespace mc::edid {

// Every report line ends in CR LF, as the console's edit controls show it.
inline constexpr const char* kLineEnd = "\r\n";

// Appends printf-style text. The report formats are printf formats, and
// keeping them so keeps every blank and every quirk of the wording visible.
[[gnu::format(printf, 2, 3)]] void appendFormat(std::string& out, const char* format, ...);
[[gnu::format(printf, 2, 0)]] void appendFormatV(std::string& out, const char* format, std::va_list args);

} // namespace mc::edid
