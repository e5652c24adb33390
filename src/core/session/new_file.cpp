#include "session/new_file.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc {
namespace {

#ifdef _WIN32

using Handle = HANDLE;
const Handle kNoHandle = INVALID_HANDLE_VALUE;

// The link itself is opened, never its target; CREATE_NEW fails on any entry.
Handle openForWriting(const std::filesystem::path& path, NewFileMode mode) {
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    Handle file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kFlags, nullptr);
    if (file != kNoHandle || mode == NewFileMode::CreateNew || ::GetLastError() != ERROR_FILE_EXISTS) {
        return file;
    }
    file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, kFlags, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file != kNoHandle &&
        (!::GetFileInformationByHandle(file, &info) ||
         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
         ::GetFileType(file) != FILE_TYPE_DISK)) {
        ::CloseHandle(file);
        return kNoHandle;
    }
    return file;
}

bool writeAll(Handle file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool closeFile(Handle file) {
    return ::CloseHandle(file) != 0;
}

#else

using Handle = int;
constexpr Handle kNoHandle = -1;

// O_NOFOLLOW refuses a link as the last part of the name, O_EXCL any entry;
// O_NONBLOCK keeps a FIFO without a reader from holding the open.
Handle openForWriting(const std::filesystem::path& path, NewFileMode mode) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    constexpr mode_t kPermissions = 0666; // less the umask, as for any new file
    Handle fd = ::open(path.c_str(), kFlags | O_EXCL, kPermissions);
    if (fd >= 0 || mode == NewFileMode::CreateNew || errno != EEXIST) {
        return fd;
    }
    fd = ::open(path.c_str(), kFlags, kPermissions);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return kNoHandle;
    }
    return fd;
}

bool writeAll(Handle fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool closeFile(Handle fd) {
    return ::close(fd) == 0;
}

#endif

} // namespace

NewFileResult writeNewFile(const std::filesystem::path& path, std::string_view bytes, NewFileMode mode) {
    const Handle file = openForWriting(path, mode);
    if (file == kNoHandle) {
        return NewFileResult::CannotCreate;
    }
    const bool written = writeAll(file, bytes);
    if (closeFile(file) && written) {
        return NewFileResult::Written;
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    return NewFileResult::WriteFailed;
}

bool nameIsTaken(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found;
}

} // namespace mc
