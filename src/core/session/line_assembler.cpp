#include "session/line_assembler.h"

#include <utility>

namespace mc {

std::optional<std::string> LineAssembler::append(char byte) {
    if (buffer_.size() < kReplyLineLimit) {
        buffer_.push_back(byte);
    } else {
        overflowed_ = true;
    }
    if (byte != kLineFeed) {
        return std::nullopt;
    }
    std::string line = std::move(buffer_);
    buffer_.clear();
    if (overflowed_) {
        overflowed_ = false;
        ++discardedLines_;
        return std::nullopt;
    }
    return line;
}

void LineAssembler::reset() {
    buffer_.clear();
    overflowed_ = false;
}

} // namespace mc
