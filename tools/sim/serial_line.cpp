#include "sim/serial_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace mc::sim {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool makeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, B57600);
    ::cfsetospeed(&settings, B57600);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

std::unique_ptr<SerialLine> SerialLine::createPseudoTerminal(const std::string& linkPath, std::string& error) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = systemError("cannot create a pseudo-terminal");
        return nullptr;
    }
    std::array<char, 128> slave{};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, slave.data(), slave.size()) != 0) {
        error = systemError("cannot unlock the pseudo-terminal");
        ::close(master);
        return nullptr;
    }
    const int slaveFd = ::open(slave.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const bool raw = slaveFd >= 0 && makeRaw(slaveFd);
    if (!raw) {
        error = systemError(std::string("cannot set ") + slave.data() + " raw");
    }
    if (slaveFd >= 0) {
        ::close(slaveFd);
    }
    if (!raw || !setNonBlocking(master)) {
        if (raw) {
            error = systemError("cannot make the pseudo-terminal non-blocking");
        }
        ::close(master);
        return nullptr;
    }
    if (::symlink(slave.data(), linkPath.c_str()) != 0) {
        error = errno == EEXIST ? linkPath + " exists already (another emulator, or left over: remove it)"
                                : systemError("cannot link " + linkPath);
        ::close(master);
        return nullptr;
    }
    return std::unique_ptr<SerialLine>(new SerialLine(master, linkPath, slave.data()));
}

std::unique_ptr<SerialLine> SerialLine::openDevice(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot open " + path);
        return nullptr;
    }
    if (::isatty(fd) == 0 || ::ioctl(fd, TIOCEXCL) != 0 || !makeRaw(fd)) {
        error = systemError("cannot set up " + path + " as a serial line");
        ::close(fd);
        return nullptr;
    }
    ::tcflush(fd, TCIOFLUSH);
    return std::unique_ptr<SerialLine>(new SerialLine(fd, path, {}));
}

SerialLine::SerialLine(int fd, std::string path, std::string slavePath)
    : fd_(fd), path_(std::move(path)), slavePath_(std::move(slavePath)) {
}

SerialLine::~SerialLine() {
    close();
}

void SerialLine::waitUntilTaken(std::chrono::milliseconds limit, const Pause& pause) const {
    if (fd_ < 0) {
        return;
    }
    if (!isPseudoTerminal()) {
        // tcdrain could wait for ever on a line held by flow control; the
        // device's output queue is watched instead, as long as limit allows.
        constexpr auto kDeviceStep = std::chrono::milliseconds(10);
        const auto start = std::chrono::steady_clock::now();
        int unsent = 0;
        while (::ioctl(fd_, TIOCOUTQ, &unsent) == 0 && unsent > 0 && std::chrono::steady_clock::now() - start < limit &&
               pause(kDeviceStep)) {
        }
        return;
    }
    // The master side cannot tell what the slave has not read yet; a second
    // descriptor of the slave can, once the kernel has moved the bytes into
    // the slave's queue (that happens a little after the write, possibly in
    // parts). So: done when the queue, once seen filled, has stayed empty for
    // a moment, or has stayed empty for a while from the start. If the
    // console holds the slave exclusively, just give it time.
    constexpr auto kStep = std::chrono::milliseconds(5);
    constexpr auto kSettle = std::chrono::milliseconds(20);
    constexpr auto kQuiet = std::chrono::milliseconds(100);
    constexpr auto kBlindWait = std::chrono::milliseconds(300);
    const int slave = ::open(slavePath_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        pause(std::min(limit, kBlindWait));
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> lastFilled;
    for (auto now = start; now - start < limit; now = std::chrono::steady_clock::now()) {
        int unread = 0;
        if (::ioctl(slave, FIONREAD, &unread) != 0) {
            break;
        }
        if (unread > 0) {
            lastFilled = now;
        } else if (lastFilled ? now - *lastFilled >= kSettle : now - start >= kQuiet) {
            break;
        }
        if (!pause(kStep)) {
            break;
        }
    }
    ::close(slave);
}

void SerialLine::close() {
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
    if (isPseudoTerminal()) {
        std::array<char, 256> target{};
        const ssize_t length = ::readlink(path_.c_str(), target.data(), target.size() - 1);
        if (length > 0 && std::string_view(target.data(), static_cast<std::size_t>(length)) == slavePath_) {
            ::unlink(path_.c_str());
        }
    }
}

} // namespace mc::sim
