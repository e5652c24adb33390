#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace mc::sim {

// Replies held for a line beyond what the line takes at once. Above this
// the line's input is not read until it catches up, so memory stays bounded
// (at most the replies to one more read are added).
inline constexpr std::size_t kReplyBacklogLimit = std::size_t{64} * 1024;

// Replies made for one line (the serial line, a TCP client) that it has not
// taken yet. Each line has its own, so one that stops reading holds up
// nobody else. No I/O here: the caller writes pending() when the line can
// take bytes and reports how many it took.
class ReplyBacklog {
public:
    using Clock = std::chrono::steady_clock;

    void add(std::string_view replies, Clock::time_point now);
    void taken(std::size_t count, Clock::time_point now);
    // Forgets everything held; returns how many bytes that was.
    std::size_t clear();

    [[nodiscard]] std::string_view pending() const { return bytes_; }
    [[nodiscard]] bool empty() const { return bytes_.empty(); }
    [[nodiscard]] std::size_t size() const { return bytes_.size(); }
    // Over the limit: read no more input for this line.
    [[nodiscard]] bool full() const { return bytes_.size() > kReplyBacklogLimit; }
    // When the line last took something, or the backlog began.
    [[nodiscard]] Clock::time_point lastProgress() const { return lastProgress_; }

private:
    std::string bytes_;
    Clock::time_point lastProgress_{};
};

} // namespace mc::sim
