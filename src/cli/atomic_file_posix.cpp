#include "atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mc::ctl {

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
}

AtomicFile::~AtomicFile() {
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool AtomicFile::create(std::string& error) {
    const std::filesystem::path target(path_);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) {
        error = "cannot write a file in " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    temp_ = name;
    return true;
}

bool AtomicFile::commit(std::span<const std::uint8_t> bytes, bool replace, std::string& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        fd_ = -1;
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    fd_ = -1;
    ::chmod(temp_.c_str(), 0644);
    if (replace) {
        if (::rename(temp_.c_str(), path_.c_str()) != 0) {
            error = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
    } else if (::link(temp_.c_str(), path_.c_str()) != 0) {
        error = errno == EEXIST ? path_ + " appeared meanwhile; kept it (give --force to overwrite)"
                                : "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    } else {
        ::unlink(temp_.c_str());
    }
    temp_.clear();
    return true;
}

} // namespace mc::ctl
