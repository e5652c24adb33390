#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace mc {

// Most commands that may wait for the port worker. The console sends a few
// short commands per click; more than this pending means the line is stuck,
// and further sends are refused rather than queued without limit.
inline constexpr std::size_t kPendingCommandLimit = 64;

// Why a send was or was not taken.
enum class SendResult {
    Queued,
    NoWriteBuffer, // no port open: the write buffer exists only from open to close
    TooLong,       // longer than the write buffer; refused whole, never cut
    Empty,
    QueueFull,
};

// Why a send was refused, for diagnostics ("queued" for a taken one).
[[nodiscard]] const char* sendResultText(SendResult result);

// Commands handed to the channel and not yet written, oldest first. The window
// thread copies each command in whole; the port worker takes them one at a
// time in order. So no command is torn by a later send or lost while a write
// is in progress. Thread-safe.
class PendingCommands {
public:
    // Accepts commands of at most writeBufferSize bytes from now on; drops
    // anything still pending. A size of 0 or less accepts nothing.
    void open(int writeBufferSize);
    // Drops what is pending and refuses further commands.
    void close();

    SendResult push(std::string_view bytes);
    std::optional<std::string> pop();

    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] bool isOpen() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::string> queue_;
    std::size_t writeBufferSize_ = 0;
    bool open_ = false;
};

} // namespace mc
