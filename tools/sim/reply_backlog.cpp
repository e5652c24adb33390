#include "sim/reply_backlog.h"

namespace mc::sim {

void ReplyBacklog::add(std::string_view replies, Clock::time_point now) {
    if (replies.empty()) {
        return;
    }
    // A line that took everything so far is not stalled by new replies.
    if (bytes_.empty()) {
        lastProgress_ = now;
    }
    bytes_ += replies;
}

void ReplyBacklog::taken(std::size_t count, Clock::time_point now) {
    bytes_.erase(0, count);
    if (count > 0) {
        lastProgress_ = now;
    }
}

std::size_t ReplyBacklog::clear() {
    const std::size_t dropped = bytes_.size();
    bytes_.clear();
    return dropped;
}

} // namespace mc::sim
