#include "site/site_file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace mc::site_io {
namespace {

std::string osReason(int error) {
    return std::generic_category().message(error);
}

// Closes a descriptor when it leaves scope, unless released.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    [[nodiscard]] int get() const { return fd_; }
    // Closes now and says whether the close succeeded (a deferred write
    // error can show up only here).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// ".site.json.3f9a0c1e5b7d2a46.tmp" beside "site.json": hidden, and never a
// name the program reads.
std::filesystem::path temporaryName(const std::filesystem::path& target) {
    return target.parent_path() / ("." + target.filename().string() + "." + randomSuffix() + ".tmp");
}

// Creates a new file under a fresh name beside target: never an existing
// entry (O_EXCL), never through a link (O_NOFOLLOW).
int createTemporary(const std::filesystem::path& target, std::filesystem::path& name) {
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        name = temporaryName(target);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Writes bytes into a new temporary file beside target, flushed to the disk,
// with the permissions (and, for root, the owner) of original when given.
std::optional<std::string> writeTemporary(const std::filesystem::path& target, std::string_view bytes,
                                          const struct stat* original, std::filesystem::path& name) {
    Descriptor fd(createTemporary(target, name));
    if (fd.get() < 0) {
        return "cannot create a temporary file in " + target.parent_path().string() + ": " + osReason(errno);
    }
    if (original != nullptr) {
        // The new version keeps who may read it; a failure here is not worth
        // refusing the save for.
        (void)::fchmod(fd.get(), original->st_mode & 07777);
        if (::geteuid() == 0) {
            (void)::fchown(fd.get(), original->st_uid, original->st_gid);
        }
    }
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0 || !fd.close()) {
        const int error = errno;
        ::unlink(name.c_str());
        return "cannot write " + name.string() + ": " + osReason(error);
    }
    return std::nullopt;
}

// Copies file into a new temporary file beside backup (for file systems
// without hard links).
std::optional<std::string> copyForBackup(const std::filesystem::path& file, const std::filesystem::path& backup,
                                         std::filesystem::path& name) {
    FileRead read = readRegularFile(file, static_cast<std::size_t>(-1) / 2);
    if (read.result != FileRead::Result::Read) {
        return "cannot read " + file.string() + " for the backup: " + read.reason;
    }
    return writeTemporary(backup, read.bytes, nullptr, name);
}

// Keeps the current file as backup: a second name for it (or a copy), then
// renamed over the old backup, so the backup too is always whole.
std::optional<std::string> keepBackup(const std::filesystem::path& file, const std::filesystem::path& backup) {
    std::filesystem::path name;
    constexpr int kAttempts = 16;
    int linked = -1;
    for (int attempt = 0; attempt < kAttempts && linked != 0; ++attempt) {
        name = temporaryName(backup);
        linked = ::link(file.c_str(), name.c_str());
        if (linked != 0 && errno != EEXIST) {
            break;
        }
    }
    if (linked != 0) {
        if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP && errno != EOPNOTSUPP) {
            return "cannot keep " + file.string() + " as " + backup.string() + ": " + osReason(errno);
        }
        if (auto failed = copyForBackup(file, backup, name)) {
            return failed;
        }
    }
    if (::rename(name.c_str(), backup.c_str()) != 0) {
        const int error = errno;
        ::unlink(name.c_str());
        return "cannot keep " + file.string() + " as " + backup.string() + ": " + osReason(error);
    }
    return std::nullopt;
}

// Makes the renames in folder durable. File systems that cannot flush a
// folder say EINVAL; their renames are as durable as they get.
std::optional<std::string> flushFolder(const std::filesystem::path& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || (::fsync(fd.get()) != 0 && errno != EINVAL)) {
        return "cannot flush the folder " + folder.string() + ": " + osReason(errno);
    }
    return std::nullopt;
}

} // namespace

FileRead readRegularFile(const std::filesystem::path& file, std::size_t maxBytes) {
    FileRead out;
    // O_NONBLOCK: a FIFO without a writer must not hold the open.
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        out.result = errno == ENOENT ? FileRead::Result::Missing : FileRead::Result::Failed;
        out.reason = osReason(errno);
        return out;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        out.reason = osReason(errno);
        return out;
    }
    if (!S_ISREG(info.st_mode)) {
        out.reason = S_ISDIR(info.st_mode) ? osReason(EISDIR) : "not a regular file";
        return out;
    }
    const auto tooLarge = [&] { out.reason = "larger than " + std::to_string(maxBytes) + " bytes"; };
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        tooLarge();
        return out;
    }
    char buffer[16384];
    while (true) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            out.reason = osReason(errno);
            return out;
        }
        if (n == 0) {
            break;
        }
        out.bytes.append(buffer, static_cast<std::size_t>(n));
        if (out.bytes.size() > maxBytes) {
            tooLarge();
            out.bytes.clear();
            return out;
        }
    }
    out.result = FileRead::Result::Read;
    return out;
}

std::optional<std::string> replaceFile(const std::filesystem::path& file, std::string_view bytes,
                                       const std::filesystem::path& backup) {
    struct stat info {};
    const bool exists = ::lstat(file.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        return osReason(errno);
    }
    if (exists && S_ISLNK(info.st_mode)) {
        return "it is a symbolic link (replace the link by the file it points to, or name that file)";
    }
    if (exists && !S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? osReason(EISDIR) : "not a regular file";
    }
    const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
    if (!exists) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) {
            return "cannot create the folder " + folder.string() + ": " + error.message();
        }
    }
    std::filesystem::path temporary;
    if (auto failed = writeTemporary(folder / file.filename(), bytes, exists ? &info : nullptr, temporary)) {
        return failed;
    }
    if (exists) {
        if (auto failed = keepBackup(file, backup)) {
            ::unlink(temporary.c_str());
            return failed;
        }
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return "cannot rename " + temporary.string() + " to " + file.string() + ": " + osReason(error);
    }
    return flushFolder(folder);
}

} // namespace mc::site_io
