#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mc::hub {

// Frames one text client's bytes into whole command lines, so that a line is
// forwarded to the switcher only once complete and never mixed with another
// client's. Blank lines (the console sends CR LF before each command) stay in
// front of the command that follows, so the switcher gets the client's exact
// bytes. Memory stays bounded: a line longer than the link takes is not kept.
class ClientLineFramer {
public:
    struct Line {
        enum Kind {
            Command,  // bytes: the blank lines before it and the line, LF included
            Overlong, // longer than a command may be; bytes: its first bytes
            Binary,   // held a byte no command has; bytes: its first bytes
        };
        Kind kind = Command;
        std::string bytes;
        std::size_t length = 0; // of the whole line, kept bytes or not
    };

    explicit ClientLineFramer(std::size_t lineLimit);

    // Appends received bytes; complete lines go to `lines` in order.
    void append(std::string_view bytes, std::vector<Line>& lines);

    // Bytes of an unfinished line (dropped when the client goes).
    [[nodiscard]] std::size_t pendingBytes() const { return length_; }

private:
    void finishLine(std::vector<Line>& lines);

    std::size_t lineLimit_;
    std::string blankLines_;
    std::string line_;
    std::size_t length_ = 0;
    bool binary_ = false;
};

} // namespace mc::hub
