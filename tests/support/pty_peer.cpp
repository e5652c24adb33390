#include "support/pty_peer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace mc::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads what is there within waitMs into out; false when the line is gone.
bool readSome(int fd, int waitMs, std::string& out, std::size_t limit) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready <= 0) {
        return ready == 0;
    }
    char buffer[4096];
    const std::size_t want = std::min(sizeof buffer, limit - out.size());
    const ssize_t n = ::read(fd, buffer, want);
    if (n <= 0) {
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    out.append(buffer, static_cast<std::size_t>(n));
    return true;
}

} // namespace

std::unique_ptr<PtyPeer> PtyPeer::create() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return nullptr;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return nullptr;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        termios raw{};
        if (::tcgetattr(slave, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(slave, TCSANOW, &raw);
        }
        ::close(slave);
    }
    return std::unique_ptr<PtyPeer>(new PtyPeer(master, name));
}

PtyPeer::PtyPeer(int master, std::string slavePath) : master_(master), slavePath_(std::move(slavePath)) {
}

PtyPeer::~PtyPeer() {
    hangUp();
}

bool PtyPeer::linkAs(const std::string& dir, int comPort) const {
    const std::filesystem::path link = std::filesystem::path(dir) / ("com" + std::to_string(comPort));
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(slavePath_, link, ec);
    return !ec;
}

bool PtyPeer::write(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string PtyPeer::read(std::size_t count, std::chrono::milliseconds timeout) const {
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count && master_ >= 0) {
        const int wait = remainingMs(deadline);
        if (wait == 0 || !readSome(master_, wait, out, count)) {
            break;
        }
    }
    return out;
}

std::string PtyPeer::readAll(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const {
    std::string out;
    constexpr std::size_t kLimit = 1 << 20;
    const auto deadline = Clock::now() + timeout;
    while (master_ >= 0 && out.size() < kLimit) {
        const std::size_t before = out.size();
        const int wait = std::min(remainingMs(deadline), static_cast<int>(quiet.count()));
        if (wait == 0 || !readSome(master_, wait, out, kLimit) || out.size() == before) {
            break;
        }
    }
    return out;
}

void PtyPeer::hangUp() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

PortDirectory::PortDirectory() {
    char pattern[] = "/tmp/mc-ports-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made ? made : "";
}

PortDirectory::~PortDirectory() {
    std::error_code ec;
    if (!path_.empty()) {
        std::filesystem::remove_all(path_, ec);
    }
}

std::string PortDirectory::portPath(int comPort) const {
    return path_ + "/com" + std::to_string(comPort);
}

void PortDirectory::exportToEnvironment() const {
    ::setenv("MATRIX_CONSOLE_PORTS", path_.c_str(), 1);
}

} // namespace mc::test
