#include "sim/command_framer.h"

namespace mc::sim {

namespace {

constexpr char kLf = '\n';
constexpr char kCr = '\r';

} // namespace

std::vector<ReceivedLine> CommandFramer::feed(std::string_view bytes) {
    std::vector<ReceivedLine> lines;
    for (const char byte : bytes) {
        if (byte == kLf) {
            completeLine(lines);
            continue;
        }
        if (discarding_) {
            ++discarded_;
            continue;
        }
        current_ += byte;
        if (current_.size() > kMaxLineLength) {
            discarding_ = true;
            discarded_ = current_.size();
            current_.resize(kOverlongHeadLength);
        }
    }
    return lines;
}

void CommandFramer::completeLine(std::vector<ReceivedLine>& lines) {
    if (discarding_) {
        ReceivedLine line;
        line.raw = std::move(current_);
        line.overlong = true;
        line.receivedBytes = framing_.size() + discarded_ + 1;
        lines.push_back(std::move(line));
        framing_.clear();
        current_.clear();
        discarding_ = false;
        discarded_ = 0;
        return;
    }
    std::string_view text = current_;
    if (!text.empty() && text.back() == kCr) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        framing_ += current_;
        framing_ += kLf;
        current_.clear();
        if (framing_.size() > kMaxLineLength) {
            ReceivedLine line;
            line.raw = std::move(framing_);
            line.receivedBytes = line.raw.size();
            lines.push_back(std::move(line));
            framing_.clear();
        }
        return;
    }
    ReceivedLine line;
    line.text = std::string(text);
    line.raw = std::move(framing_);
    line.raw += current_;
    line.raw += kLf;
    line.receivedBytes = line.raw.size();
    lines.push_back(std::move(line));
    framing_.clear();
    current_.clear();
}

} // namespace mc::sim
