#include "edid/edid_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc {
namespace {

constexpr const char* kNotRegularReason = "not a regular file";

std::nullopt_t fail(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
    return std::nullopt;
}

} // namespace

EdidImage edidImageFromBytes(std::span<const std::uint8_t> bytes) {
    EdidImage image;
    image.fill(kEdidFillByte);
    std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
    return image;
}

#ifdef _WIN32

std::optional<std::vector<std::uint8_t>> readEdidFileBytes(const std::string& path, std::size_t maxBytes,
                                                           std::string* reason) {
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (error) {
        return fail(reason, error.message());
    }
    if (type != std::filesystem::file_type::regular) {
        return fail(reason, kNotRegularReason);
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return fail(reason, std::strerror(errno));
    }
    std::vector<std::uint8_t> bytes(maxBytes);
    // A short read at the end of the file is fine; a read error is not.
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    if (std::ferror(file.get()) != 0) {
        return fail(reason, "read failed");
    }
    return bytes;
}

#else

std::optional<std::vector<std::uint8_t>> readEdidFileBytes(const std::string& path, std::size_t maxBytes,
                                                           std::string* reason) {
    // Opened without waiting (a FIFO would hold open() until a writer came),
    // then refused unless it is a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail(reason, std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } const closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return fail(reason, std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(reason, kNotRegularReason);
    }
    std::vector<std::uint8_t> bytes(maxBytes);
    // A short file ends the reading early.
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(reason, std::strerror(errno));
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

std::optional<EdidImage> readEdidFile(const std::string& path, std::string* reason) {
    const auto bytes = readEdidFileBytes(path, kEdidImageBytes, reason);
    if (!bytes) {
        return std::nullopt;
    }
    return edidImageFromBytes(*bytes);
}

} // namespace mc
