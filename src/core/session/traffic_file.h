#pragma once

#include "session/traffic.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mc {

// How big the --log file grows before it is rotated into FILE.1.
inline constexpr std::uint64_t kTrafficFileRotateBytes = 10ULL * 1024 * 1024;

struct TrafficFileLimits {
    // At this size the file is renamed to FILE.1 (replacing the one before)
    // and a new FILE is started, so the log never takes more than twice this.
    std::uint64_t rotateAt = kTrafficFileRotateBytes;
    // Rows and bytes waiting for the writer; beyond either, rows are dropped
    // and counted.
    std::size_t queueRows = 10000;
    std::size_t queueBytes = std::size_t{8} * 1024 * 1024;
    // The longest the destructor waits for the writer to finish; then it
    // leaves it behind rather than hold up the program's exit.
    std::chrono::milliseconds finishWait{2000};
};

// Appends traffic rows to a text file, one a line, UTF-8, for unattended
// diagnosis, each led by its date and time with the offset from UTC. The caller's thread only queues a formatted line;
// a thread of the writer's own does the file I/O, so a slow disk never holds the window thread. When the queue is full,
// rows are counted and a note in the file says how many were lost. The file rotates at a size, and when it is moved or
// removed (logrotate), a new one is started at the path.
class TrafficFile {
public:
    // Opens `path` for appending. Only a regular file (or a new one) is
    // taken, checked without waiting: a FIFO, a device or a directory is
    // refused. nullptr, and the reason in `error`, when it cannot be opened.
    static std::unique_ptr<TrafficFile> open(const std::string& path, std::string& error,
                                             TrafficFileLimits limits = {});

    // Writes what is queued and closes the file, waiting at most
    // limits.finishWait for it.
    ~TrafficFile();
    TrafficFile(const TrafficFile&) = delete;
    TrafficFile& operator=(const TrafficFile&) = delete;

    void write(const TrafficRow& row);
    // Returns once every line queued so far is in the file (or failed).
    void flush();

    [[nodiscard]] std::size_t droppedRows() const;
    // The first write failure with its reason; empty while none.
    [[nodiscard]] std::string failure() const;

private:
    struct Shared;
    explicit TrafficFile(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared_; // also held by the writer thread
};

} // namespace mc
