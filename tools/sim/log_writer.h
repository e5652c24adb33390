#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mc::sim {

// Log bytes held while the log does not take them (a pipe nobody reads, a
// stopped terminal). Beyond this, records are dropped and counted.
inline constexpr std::size_t kLogBacklogLimit = std::size_t{256} * 1024;

// The emulator's log (POSIX), written without ever waiting: the switcher is
// never held up by its log. Records are collected and written out at each
// flush (the caller flushes once per exchange and before each wait), so a
// burst of reply lines costs one write, not one per record, and a file holds
// every record before the peer sees the reply (tests read it while the
// emulator runs). What the log
// does not take waits in a bounded backlog (pollFd says when to try again);
// what did not fit is counted, and the count is written once the log takes
// bytes again.
class LogWriter {
public:
    // Appends to path, or writes to standard error when path is empty
    // (through a descriptor of its own, so the waiting never reaches the
    // standard error others share). nullptr with the reason in error.
    static std::unique_ptr<LogWriter> open(const std::string& path, std::string& error);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Collects one record; written at the next flush, or now once a lot waits.
    void write(std::string_view kind, std::string_view detail, bool quoted);

    // The descriptor to poll for POLLOUT while records wait; -1 when none do.
    [[nodiscard]] int pollFd() const;
    // Writes what the log takes now.
    void flush();

    [[nodiscard]] std::uint64_t droppedRecords() const { return dropped_; }

private:
    LogWriter(int fd, bool ownsFd, bool probeFirst);
    void append(std::string_view record);
    bool writeSome();

    int fd_;
    bool ownsFd_;
    // A descriptor shared with others, left blocking: written only in
    // pieces small enough to go at once when a zero-time poll says so.
    bool probeFirst_;
    std::string backlog_;
    std::uint64_t dropped_ = 0;
    std::uint64_t droppedReported_ = 0;
};

} // namespace mc::sim
