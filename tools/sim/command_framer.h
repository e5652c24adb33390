#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mc::sim {

// Longest line kept; the longest command the console sends is 791 bytes.
inline constexpr std::size_t kMaxLineLength = 4096;
// How much of an overlong line is kept for the log.
inline constexpr std::size_t kOverlongHeadLength = 64;

// One received line.
struct ReceivedLine {
    // Every byte received for it, framing included: the empty CR LF lines
    // before it (the console's leading CR LF) belong to the line that
    // follows them, and the line's own CR LF ends it. For the probe this is
    // exactly "\r\nGET STA\r\n". For an overlong line: its first
    // kOverlongHeadLength bytes.
    std::string raw;
    // The command text: the line without its LF and without one CR before
    // that LF. Empty for an overlong line.
    std::string text;
    // Overlong: longer than kMaxLineLength before its LF, so discarded.
    bool overlong = false;
    std::size_t receivedBytes = 0; // all bytes of the line, framing included
};

// Splits received bytes into lines at LF. Memory stays bounded whatever
// arrives: a line longer than kMaxLineLength is dropped up to its LF and
// reported as overlong, and a run of empty lines longer than that is handed
// out as a line with empty text.
class CommandFramer {
public:
    [[nodiscard]] std::vector<ReceivedLine> feed(std::string_view bytes);

    // Bytes held for a line not yet complete (never more than kMaxLineLength
    // plus the pending empty lines, themselves bounded the same way).
    [[nodiscard]] std::size_t pendingBytes() const { return framing_.size() + current_.size(); }

private:
    void completeLine(std::vector<ReceivedLine>& lines);

    std::string framing_; // empty lines waiting for the next line
    std::string current_; // the current line so far, without its LF
    bool discarding_ = false;
    std::size_t discarded_ = 0;
};

} // namespace mc::sim
