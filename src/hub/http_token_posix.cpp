#ifndef _WIN32
#include "http_token.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mc::hub {
namespace {

std::string systemReason() {
    return std::strerror(errno);
}

} // namespace

std::filesystem::path defaultTokenPath() {
    // systemd names the service's state directory (StateDirectory=).
    const char* state = std::getenv("STATE_DIRECTORY");
    if (state != nullptr && state[0] == '/') {
        return std::filesystem::path(std::string(state).substr(0, std::string(state).find(':'))) / kTokenFileName;
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "matrix-hub" / kTokenFileName;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config" / "matrix-hub" / kTokenFileName;
    }
    return {};
}

std::variant<std::string, std::string> loadOrCreateToken(const std::filesystem::path& file) {
    using Result = std::variant<std::string, std::string>;
    const std::string name = file.string();
    const auto failed = [&](const std::string& what) {
        return Result(std::in_place_index<1>, tokenFileError(file, what));
    };
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        const int created = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (created < 0) {
            return failed("cannot create it: " + systemReason());
        }
        const std::string token = freshToken() + "\n";
        const bool written =
            ::write(created, token.data(), token.size()) == static_cast<ssize_t>(token.size()) && ::fsync(created) == 0;
        const std::string reason = systemReason();
        ::close(created);
        if (!written) {
            ::unlink(name.c_str());
            return failed("cannot write it: " + reason);
        }
        return Result(std::in_place_index<0>, token.substr(0, kTokenLength));
    }
    if (fd < 0) {
        return failed("cannot open it: " + systemReason());
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return failed("it is not a regular file");
    }
    if ((info.st_mode & 0077U) != 0) {
        ::close(fd);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777U));
        return failed(std::string("others may read it (mode ") + mode +
                      "); make it readable by its owner only (chmod 600)");
    }
    char buffer[kTokenFileLimit];
    const ssize_t size = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    auto token = tokenInText(std::string(buffer, size > 0 ? static_cast<std::size_t>(size) : 0));
    if (!token) {
        return failed(std::string(kNoTokenInFile));
    }
    return Result(std::in_place_index<0>, *token);
}

} // namespace mc::hub

#endif
