#include "session/traffic_file.h"

#include "session/log_hook.h"
#include "session/traffic_format.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc {

namespace {

// Which file a descriptor holds, to notice the path now names another (or none).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct OpenedFile {
    std::FILE* file = nullptr;
    FileIdentity identity;
    std::uint64_t size = 0;
};

#ifndef _WIN32
const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a plain file";
}
#endif

// Opens path for appending, creating it; a regular file only. Nothing here
// waits: a FIFO is refused before it is opened (an open for writing would
// wait for a reader), and the open itself does not wait either, in case the
// path changed in between.
OpenedFile openRegular(const std::string& path, std::string& error) {
    OpenedFile opened;
#ifdef _WIN32
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = "not a regular file";
        return opened;
    }
    opened.file = std::fopen(path.c_str(), "ab");
    if (opened.file == nullptr) {
        error = std::strerror(errno);
        return opened;
    }
    const auto size = std::filesystem::file_size(path, ec);
    opened.size = ec ? 0 : size;
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = std::string("not a regular file: it is ") + kindOf(info.st_mode);
        return opened;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return opened;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return opened;
    }
    opened.file = ::fdopen(fd, "ab");
    if (opened.file == nullptr) {
        error = std::strerror(errno);
        ::close(fd);
        return opened;
    }
    opened.identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    opened.size = static_cast<std::uint64_t>(info.st_size);
#endif
    return opened;
}

// Whether path still names the open file (false once it was moved or
// removed), and its size now (a truncation shows here).
bool stillAtPath(const std::string& path, [[maybe_unused]] const OpenedFile& opened, std::uint64_t& size) {
#ifdef _WIN32
    // An open file cannot be moved or removed here; its size is all that changes.
    std::error_code ec;
    const auto now = std::filesystem::file_size(path, ec);
    size = ec ? size : now;
    return !ec;
#else
    struct stat atPath {};
    struct stat held {};
    if (::stat(path.c_str(), &atPath) != 0 || ::fstat(::fileno(opened.file), &held) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(held.st_size);
    return FileIdentity{static_cast<std::uint64_t>(atPath.st_dev), static_cast<std::uint64_t>(atPath.st_ino)} ==
           opened.identity;
#endif
}

} // namespace

struct TrafficFile::Shared {
    Shared(OpenedFile opened, std::string path, TrafficFileLimits limits)
        : current(opened), path(std::move(path)), limits(limits) {}

    void run();
    // The writer thread's own: the open file, its path and size.
    bool follow(std::string& reason);
    bool writeLine(const std::string& line, std::string& reason);
    bool rotate(std::string& reason);
    bool reopen(std::string& reason);
    void close();

    OpenedFile current;
    const std::string path;
    const TrafficFileLimits limits;
    bool rotationRefused = false;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable written;
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    std::size_t inFlight = 0;
    std::size_t dropped = 0;
    std::size_t droppedUnreported = 0;
    std::string failure;
    bool stopping = false;
    bool finished = false;
    std::thread thread;
};

std::unique_ptr<TrafficFile> TrafficFile::open(const std::string& path, std::string& error, TrafficFileLimits limits) {
    const OpenedFile opened = openRegular(path, error);
    if (opened.file == nullptr) {
        return nullptr;
    }
    auto shared = std::make_shared<Shared>(opened, path, limits);
    shared->thread = std::thread([shared] { shared->run(); });
    return std::unique_ptr<TrafficFile>(new TrafficFile(std::move(shared)));
}

TrafficFile::TrafficFile(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
}

TrafficFile::~TrafficFile() {
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_one();
    const bool finished =
        shared_->written.wait_for(lock, shared_->limits.finishWait, [this] { return shared_->finished; });
    const std::size_t left = shared_->queue.size() + shared_->inFlight;
    lock.unlock();
    if (finished) {
        shared_->thread.join();
        return;
    }
    // Its file does not take the rows; the thread ends (and frees what it
    // shares) once the write it is stuck in returns.
    shared_->thread.detach();
    logMessage(LogLevel::Warning, "traffic log",
               "gave up waiting for " + shared_->path + " to take the last " + std::to_string(left) + " rows");
}

void TrafficFile::write(const TrafficRow& row) {
    // The file outlives the day: its rows carry the date and the zone's offset.
    std::string line = formatTrafficRow(row, TrafficTimeForm::Timestamp) + "\n";
    {
        const std::lock_guard lock(shared_->mutex);
        if (shared_->queue.size() >= shared_->limits.queueRows ||
            shared_->queuedBytes + line.size() > shared_->limits.queueBytes) {
            ++shared_->dropped;
            ++shared_->droppedUnreported;
            return;
        }
        shared_->queuedBytes += line.size();
        shared_->queue.push_back(std::move(line));
    }
    shared_->wake.notify_one();
}

void TrafficFile::flush() {
    std::unique_lock lock(shared_->mutex);
    shared_->written.wait(lock, [this] { return shared_->queue.empty() && shared_->inFlight == 0; });
}

std::size_t TrafficFile::droppedRows() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->dropped;
}

std::string TrafficFile::failure() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->failure;
}

void TrafficFile::Shared::run() {
    std::unique_lock lock(mutex);
    while (true) {
        wake.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty()) {
            break; // stopping, and everything written
        }
        std::deque<std::string> batch;
        batch.swap(queue);
        queuedBytes = 0;
        std::string note;
        if (droppedUnreported > 0) {
            // Appended piece by piece: "(" + std::string&& trips GCC 12's
            // -Wrestrict at -O3 (a false alarm, fatal in the MinGW build).
            note = "(";
            note += std::to_string(droppedUnreported);
            note += " rows not written: the file could not keep up)\n";
            droppedUnreported = 0;
        }
        inFlight = batch.size();
        lock.unlock();

        std::string reason;
        bool ok = follow(reason);
        for (const std::string& line : batch) {
            ok = ok && writeLine(line, reason);
        }
        ok = ok && (note.empty() || writeLine(note, reason));
        // Flushed per batch: a crash or a pulled cable loses at most the last batch.
        if (ok && std::fflush(current.file) != 0) {
            ok = false;
            reason = std::strerror(errno);
        }

        lock.lock();
        inFlight = 0;
        if (!ok && failure.empty()) {
            failure = reason;
            lock.unlock();
            logMessage(LogLevel::Error, "traffic log", "cannot write " + path + ": " + reason);
            lock.lock();
        }
        written.notify_all();
    }
    close();
    finished = true;
    written.notify_all();
}

// A file moved away (logrotate) or removed is left to whoever moved it; the
// rows go on in a new file at the path.
bool TrafficFile::Shared::follow(std::string& reason) {
    if (current.file != nullptr && stillAtPath(path, current, current.size)) {
        return true;
    }
    return reopen(reason);
}

bool TrafficFile::Shared::writeLine(const std::string& line, std::string& reason) {
    if (!rotationRefused && current.size > 0 && current.size + line.size() > limits.rotateAt && !rotate(reason)) {
        return false;
    }
    if (current.file == nullptr) {
        return false;
    }
    const std::size_t n = std::fwrite(line.data(), 1, line.size(), current.file);
    current.size += n;
    if (n != line.size()) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

// FILE becomes FILE.1 (the one before is replaced), and a new FILE starts.
bool TrafficFile::Shared::rotate(std::string& reason) {
    close(); // first: Windows renames no open file
    std::error_code ec;
    std::filesystem::rename(path, path + ".1", ec);
    if (ec) {
        // Appending on to the one file beats losing the rows; said once.
        rotationRefused = true;
        logMessage(LogLevel::Warning, "traffic log",
                   "cannot rotate " + path + " to " + path + ".1: " + ec.message() + "; it grows on");
    }
    return reopen(reason);
}

bool TrafficFile::Shared::reopen(std::string& reason) {
    close();
    std::string error;
    current = openRegular(path, error);
    if (current.file == nullptr) {
        reason = "cannot reopen it: " + error;
        return false;
    }
    return true;
}

void TrafficFile::Shared::close() {
    if (current.file != nullptr) {
        std::fclose(current.file);
        current.file = nullptr;
    }
}

} // namespace mc
