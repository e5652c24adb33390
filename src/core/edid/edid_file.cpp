#include "edid/edid_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <cstdio>
#include <memory>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc {
namespace {

std::string notRegular(std::filesystem::file_type type) {
    return fileTypeText(type) + ", not a regular file";
}

template <typename T> std::optional<T> fail(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
    return std::nullopt;
}

} // namespace

std::string fileTypeText(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
    case file_type::regular:
        return "a regular file";
    case file_type::directory:
        return "a directory";
    case file_type::symlink:
        return "a symbolic link";
    case file_type::block:
        return "a block device";
    case file_type::character:
        return "a character device";
    case file_type::fifo:
        return "a FIFO";
    case file_type::socket:
        return "a socket";
    case file_type::not_found:
        return "missing";
    default:
        return "of an unknown type";
    }
}

EdidImage edidImageFromBytes(std::span<const std::uint8_t> bytes) {
    EdidImage image;
    image.fill(kEdidFillByte);
    std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
    return image;
}

std::optional<EdidImage> readEdidFile(const std::string& path, std::string* reason) {
    const auto bytes = readRegularFile(path, kEdidImageBytes, reason);
    if (!bytes) {
        return std::nullopt;
    }
    return edidImageFromBytes(*bytes);
}

#ifdef _WIN32

std::optional<std::vector<std::uint8_t>> readRegularFile(const std::string& path, std::size_t limit,
                                                         std::string* reason) {
    using Bytes = std::vector<std::uint8_t>;
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (error) {
        return fail<Bytes>(reason, error.message());
    }
    if (type != std::filesystem::file_type::regular) {
        return fail<Bytes>(reason, notRegular(type));
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return fail<Bytes>(reason, std::strerror(errno));
    }
    Bytes bytes(limit);
    // A short read at the end of the file is fine; a read error is not.
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    if (std::ferror(file.get()) != 0) {
        return fail<Bytes>(reason, "read failed");
    }
    return bytes;
}

#else

std::optional<std::vector<std::uint8_t>> readRegularFile(const std::string& path, std::size_t limit,
                                                         std::string* reason) {
    using Bytes = std::vector<std::uint8_t>;
    // Opened without waiting (a FIFO would hold open() until a writer came),
    // then refused unless it is a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail<Bytes>(reason, std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } const closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return fail<Bytes>(reason, std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        std::error_code ignored;
        return fail<Bytes>(reason, notRegular(std::filesystem::status(path, ignored).type()));
    }
    Bytes bytes(limit);
    // A short file ends the reading early.
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail<Bytes>(reason, std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

#endif

} // namespace mc
