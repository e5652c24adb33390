#pragma once

#include <cstdarg>
#include <string>

namespace mc::edid {

// Every report line ends in CR LF, as the console's edit controls show it.
inline constexpr const char* kLineEnd = "\r\n";

// The format checks' dialect: MinGW's "printf" is the Microsoft one, which
// knows no %zu, while the C++ runtime formats with the C99 one there too.
#if defined(__MINGW32__)
#define MC_PRINTF_FORMAT gnu_printf
#else
#define MC_PRINTF_FORMAT printf
#endif

// Appends printf-style text. The report formats are printf formats, so every
// blank and every word of a report line stays visible in one place.
[[gnu::format(MC_PRINTF_FORMAT, 2, 3)]] void appendFormat(std::string& out, const char* format, ...);
[[gnu::format(MC_PRINTF_FORMAT, 2, 0)]] void appendFormatV(std::string& out, const char* format, std::va_list args);

} // namespace mc::edid
