#include "sim/log_writer.h"

#include "sim/log_format.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace mc::sim {

namespace {

// Small enough that a pipe or terminal reported writable takes it whole.
constexpr std::size_t kProbedPiece = 512;
// Collected records beyond this are written without waiting for the flush
// before the next wait: big writes, and a backlog that stays below its limit
// while the log takes them.
constexpr std::size_t kWriteBatch = std::size_t{64} * 1024;

} // namespace

std::unique_ptr<LogWriter> LogWriter::open(const std::string& path, std::string& error) {
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (!path.empty()) {
        // A FIFO without a reader is refused here (ENXIO) rather than waited for.
        const int fd = ::open(path.c_str(), kFlags | O_CREAT, 0644);
        if (fd < 0) {
            error = "cannot open log " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        return std::unique_ptr<LogWriter>(new LogWriter(fd, true, false));
    }
    // A second open file description of standard error can be made
    // non-blocking without changing the one the shell (or a parent) holds.
    const int own = ::open("/proc/self/fd/2", kFlags);
    if (own >= 0) {
        return std::unique_ptr<LogWriter>(new LogWriter(own, true, false));
    }
    return std::unique_ptr<LogWriter>(new LogWriter(STDERR_FILENO, false, true));
}

LogWriter::LogWriter(int fd, bool ownsFd, bool probeFirst) : fd_(fd), ownsFd_(ownsFd), probeFirst_(probeFirst) {
}

LogWriter::~LogWriter() {
    flush();
    if (ownsFd_) {
        ::close(fd_);
    }
}

void LogWriter::write(std::string_view kind, std::string_view detail, bool quoted) {
    append(logRecord(std::chrono::system_clock::now(), kind, detail, quoted));
    if (backlog_.size() >= kWriteBatch) {
        flush();
    }
}

void LogWriter::append(std::string_view record) {
    if (backlog_.size() + record.size() > kLogBacklogLimit) {
        ++dropped_;
        return;
    }
    backlog_ += record;
}

int LogWriter::pollFd() const {
    return backlog_.empty() ? -1 : fd_;
}

void LogWriter::flush() {
    while (writeSome()) {
        if (backlog_.empty() && dropped_ > droppedReported_) {
            // Said once the log takes bytes again, so the gap shows where it is.
            const std::uint64_t missing = dropped_ - droppedReported_;
            droppedReported_ = dropped_;
            backlog_ =
                logRecord(std::chrono::system_clock::now(), "info",
                          std::to_string(missing) + " log records dropped: the log took none of them in time", false);
        }
    }
}

// One write of the backlog's head; false when nothing more goes now.
bool LogWriter::writeSome() {
    if (backlog_.empty()) {
        return false;
    }
    std::size_t length = backlog_.size();
    if (probeFirst_) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) {
            return false;
        }
        length = std::min(length, kProbedPiece);
    }
    const ssize_t n = ::write(fd_, backlog_.data(), length);
    if (n > 0) {
        backlog_.erase(0, static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && errno == EINTR) {
        return true;
    }
    if (n < 0 && errno != EAGAIN) {
        // The log is gone for good (a closed pipe, a full disk): what it
        // cannot take is dropped rather than held for ever.
        backlog_.clear();
        ++dropped_;
    }
    return false;
}

} // namespace mc::sim
