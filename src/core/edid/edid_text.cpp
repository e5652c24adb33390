#include "edid/edid_text.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace mc::edid {

void appendFormat(std::string& out, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    appendFormatV(out, format, args);
    va_end(args);
}

void appendFormatV(std::string& out, const char* format, std::va_list args) {
    // Report lines are short; the buffer fits every one of them, and a longer
    // result is formatted a second time straight into the string.
    std::array<char, 128> buffer{};
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    if (length > 0) {
        const auto size = static_cast<std::size_t>(length);
        if (size < buffer.size()) {
            out.append(buffer.data(), size);
        } else {
            const std::size_t at = out.size();
            out.resize(at + size + 1);
            std::vsnprintf(out.data() + at, size + 1, format, again);
            out.resize(at + size);
        }
    }
    va_end(again);
}

} // namespace mc::edid
