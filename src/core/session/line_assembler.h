#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mc {

// The longest reply line kept, LF included. The longest line the switcher
// sends is the EDID data line (prefix, "EDID ", "DATA " and 256 bytes as
// "xx ", under 800 bytes); this leaves ample room.
inline constexpr std::size_t kReplyLineLimit = 4096;

inline constexpr char kLineFeed = '\n';

// A received line ends at its first NUL for every reader of it: the parser,
// the EDID read-back and the traffic marks never look past one.
[[nodiscard]] constexpr std::string_view replyText(std::string_view line) {
    return line.substr(0, line.find('\0'));
}

// Collects received bytes into lines. A line is everything since the previous
// LF, the LF included; it is moved out of the buffer when its LF arrives, so
// the buffer is already empty while the line is handled.
//
// Over-long lines: bytes past kReplyLineLimit are dropped and the line is
// marked; when its LF arrives the whole line is discarded (never handed out,
// counted in discardedLines()), because a cut line could be misread as a
// shorter reply. The same happens to a line from which bytes were lost
// upstream (discardCurrentLine()).
//
// The unfinished line outlives a burst, so it is joined to the bytes received
// later; reset() ends it together with its mark when the link closes, so
// nothing of one connection reaches into the next.
class LineAssembler {
public:
    // Appends one byte; returns the complete line when the byte is LF.
    std::optional<std::string> append(char byte);

    // The line now being collected has lost bytes: discard it at its LF.
    void discardCurrentLine() { overflowed_ = true; }
    // Drops the unfinished line and its mark.
    void reset();

    // The bytes of the unfinished line.
    [[nodiscard]] const std::string& pending() const { return buffer_; }
    [[nodiscard]] std::size_t discardedLines() const { return discardedLines_; }

private:
    std::string buffer_;
    bool overflowed_ = false;
    std::size_t discardedLines_ = 0;
};

} // namespace mc
