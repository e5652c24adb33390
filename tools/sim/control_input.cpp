#include "sim/control_input.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mc::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;

} // namespace

std::unique_ptr<ControlInput> ControlInput::open(const std::string& path, std::string& error) {
    if (path == "-") {
        // Standard input stays blocking (its description may be shared with
        // a shell); it is read once per poll that found it readable.
        return std::unique_ptr<ControlInput>(new ControlInput(STDIN_FILENO, -1, {}));
    }
    std::string made;
    if (::mkfifo(path.c_str(), 0600) == 0) {
        made = path;
    } else if (errno != EEXIST) {
        error = "cannot make the control FIFO " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    // Opened without waiting for a writer; O_NONBLOCK on a FIFO that is
    // something else (a regular file, a device) is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        error = fd < 0 ? "cannot open the control FIFO " + path + ": " + std::strerror(errno)
                       : path + " exists and is not a FIFO";
        if (fd >= 0) {
            ::close(fd);
        }
        if (!made.empty()) {
            ::unlink(made.c_str());
        }
        return nullptr;
    }
    const int keepOpen = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return std::unique_ptr<ControlInput>(new ControlInput(fd, keepOpen, std::move(made)));
}

ControlInput::ControlInput(int fd, int keepOpen, std::string madePath)
    : fd_(fd), keepOpen_(keepOpen), madePath_(std::move(madePath)) {
}

ControlInput::~ControlInput() {
    if (fd_ > STDIN_FILENO) {
        ::close(fd_);
    }
    if (keepOpen_ >= 0) {
        ::close(keepOpen_);
    }
    if (!madePath_.empty()) {
        ::unlink(madePath_.c_str());
    }
}

std::vector<ReceivedLine> ControlInput::read() {
    if (fd_ < 0) {
        return {};
    }
    std::array<char, kReadChunk> buffer{};
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return {};
    }
    if (n <= 0) {
        // Standard input ended (or failed): the last line counts without its
        // line feed, then nothing more is read.
        if (fd_ > STDIN_FILENO) {
            ::close(fd_);
        }
        fd_ = -1;
        return lines_.feed("\n");
    }
    return lines_.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
}

} // namespace mc::sim
