#include "session/traffic_file.h"

#include "session/log_hook.h"
#include "session/traffic_format.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace mc {

std::unique_ptr<TrafficFile> TrafficFile::open(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TrafficFile>(new TrafficFile(file, path));
}

TrafficFile::TrafficFile(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {
    thread_ = std::thread([this] { run(); });
}

TrafficFile::~TrafficFile() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
    std::fclose(file_);
}

void TrafficFile::write(const TrafficRow& row) {
    std::string line = formatTrafficRow(row) + "\n";
    {
        const std::lock_guard lock(mutex_);
        if (queue_.size() >= kQueueLimit) {
            ++dropped_;
            ++droppedUnreported_;
            return;
        }
        queue_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void TrafficFile::flush() {
    std::unique_lock lock(mutex_);
    written_.wait(lock, [this] { return queue_.empty() && inFlight_ == 0; });
}

std::size_t TrafficFile::droppedRows() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

std::string TrafficFile::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

void TrafficFile::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return; // stopping, and everything written
        }
        std::deque<std::string> batch;
        batch.swap(queue_);
        std::string note;
        if (droppedUnreported_ > 0) {
            // Appended piece by piece: "(" + std::string&& trips GCC 12's
            // -Wrestrict at -O3 (a false alarm, fatal in the MinGW build).
            note = "(";
            note += std::to_string(droppedUnreported_);
            note += " rows not written: the file could not keep up)\n";
            droppedUnreported_ = 0;
        }
        inFlight_ = batch.size();
        lock.unlock();

        bool ok = true;
        for (const std::string& line : batch) {
            ok = ok && std::fwrite(line.data(), 1, line.size(), file_) == line.size();
        }
        ok = ok && (note.empty() || std::fwrite(note.data(), 1, note.size(), file_) == note.size());
        // Flushed per batch: a crash or a pulled cable loses at most the last batch.
        ok = ok && std::fflush(file_) == 0;
        const std::string reason = ok ? std::string() : std::strerror(errno);

        lock.lock();
        inFlight_ = 0;
        if (!ok && failure_.empty()) {
            failure_ = reason;
            lock.unlock();
            logMessage(LogLevel::Error, "traffic log", "cannot write " + path_ + ": " + reason);
            lock.lock();
        }
        written_.notify_all();
    }
}

} // namespace mc
