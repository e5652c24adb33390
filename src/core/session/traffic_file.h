#pragma once

#include "session/traffic.h"

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace mc {

// Appends traffic rows to a text file, one a line, UTF-8, for unattended
// diagnosis. The caller's thread only queues a formatted line; a thread of
// the writer's own does the file I/O, so a slow disk never holds the window
// thread. When the queue is full, rows are counted and a note in the file
// says how many were lost.
class TrafficFile {
public:
    static constexpr std::size_t kQueueLimit = 10000;

    // Opens `path` for appending; nullptr, and the OS reason in `error`, when
    // it cannot.
    static std::unique_ptr<TrafficFile> open(const std::string& path, std::string& error);

    // Writes what is queued and closes the file.
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
    TrafficFile(std::FILE* file, std::string path);
    void run();

    std::FILE* file_;
    std::string path_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<std::string> queue_;
    std::size_t inFlight_ = 0;
    std::size_t dropped_ = 0;
    std::size_t droppedUnreported_ = 0;
    std::string failure_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace mc
