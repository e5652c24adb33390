#include "client_lines.h"

namespace mc::hub {
namespace {

// Blank lines kept in front of a command: the console sends one CR LF; more
// are forwarded no further.
constexpr std::size_t kBlankLinesKept = 4;
// How much of a dropped line the log shows.
constexpr std::size_t kDroppedLineShown = 40;

// Command lines are printable ASCII; CR and tab may stand in them too.
bool isCommandByte(unsigned char byte) {
    return (byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\t';
}

bool isBlank(std::string_view line) {
    return line.find_first_not_of("\r\n") == std::string_view::npos;
}

} // namespace

ClientLineFramer::ClientLineFramer(std::size_t lineLimit) : lineLimit_(lineLimit) {
}

void ClientLineFramer::append(std::string_view bytes, std::vector<Line>& lines) {
    for (const char byte : bytes) {
        ++length_;
        if (byte != '\n' && !isCommandByte(static_cast<unsigned char>(byte))) {
            binary_ = true;
        }
        if (line_.size() < lineLimit_) {
            line_.push_back(byte);
        }
        if (byte == '\n') {
            finishLine(lines);
        }
    }
}

void ClientLineFramer::finishLine(std::vector<Line>& lines) {
    const bool overlong = length_ > lineLimit_ || blankLines_.size() + length_ > lineLimit_;
    if (binary_ || overlong) {
        line_.resize(std::min(line_.size(), kDroppedLineShown));
        lines.push_back({binary_ ? Line::Binary : Line::Overlong, std::move(line_), length_});
        blankLines_.clear();
    } else if (isBlank(line_)) {
        if (blankLines_.size() + line_.size() <= kBlankLinesKept * 2) {
            blankLines_ += line_;
        }
    } else {
        lines.push_back({Line::Command, blankLines_ + line_, length_});
        blankLines_.clear();
    }
    line_.clear();
    length_ = 0;
    binary_ = false;
}

} // namespace mc::hub
