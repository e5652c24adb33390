#include "site/site_file_io.h"

#include <algorithm>
#include <windows.h>

namespace mc::site_io {
namespace {

std::string osReason(DWORD error) {
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

// Closes a handle when it leaves scope, unless closed before.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid()) {
            ::CloseHandle(handle_);
        }
    }
    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

std::filesystem::path temporaryName(const std::filesystem::path& target) {
    return target.parent_path() / ("." + target.filename().string() + "." + randomSuffix() + ".tmp");
}

// Writes bytes into a new file under a fresh name beside target, flushed to
// the disk.
std::optional<std::string> writeTemporary(const std::filesystem::path& target, std::string_view bytes,
                                          std::filesystem::path& name) {
    constexpr int kAttempts = 16;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kAttempts && created == INVALID_HANDLE_VALUE; ++attempt) {
        name = temporaryName(target);
        // CREATE_NEW: never an existing entry, a link included.
        created = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    Handle file(created);
    if (!file.valid()) {
        return "cannot create a temporary file in " + target.parent_path().string() + ": " + osReason(::GetLastError());
    }
    bool written = true;
    while (written && !bytes.empty()) {
        DWORD count = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 20));
        written = ::WriteFile(file.get(), bytes.data(), chunk, &count, nullptr) != 0 && count > 0;
        bytes.remove_prefix(count);
    }
    if (!written || !::FlushFileBuffers(file.get()) || !file.close()) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(name.c_str());
        return "cannot write " + name.string() + ": " + osReason(error);
    }
    return std::nullopt;
}

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

} // namespace

FileRead readRegularFile(const std::filesystem::path& file, std::size_t maxBytes) {
    FileRead out;
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        out.result = missing ? FileRead::Result::Missing : FileRead::Result::Failed;
        out.reason = osReason(error);
        return out;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        out.reason = "is a directory";
        return out;
    }
    Handle handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        out.reason = osReason(::GetLastError());
        return out;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(handle.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(handle.get(), &size)) {
        out.reason = "not a regular file";
        return out;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        out.reason = "larger than " + std::to_string(maxBytes) + " bytes";
        return out;
    }
    out.bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < out.bytes.size()) {
        DWORD count = 0;
        if (!::ReadFile(handle.get(), out.bytes.data() + done, static_cast<DWORD>(out.bytes.size() - done), &count,
                        nullptr)) {
            out.reason = osReason(::GetLastError());
            out.bytes.clear();
            return out;
        }
        if (count == 0) {
            break;
        }
        done += count;
    }
    out.bytes.resize(done);
    out.result = FileRead::Result::Read;
    return out;
}

std::optional<std::string> replaceFile(const std::filesystem::path& file, std::string_view bytes,
                                       const std::filesystem::path& backup) {
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND) {
        return osReason(::GetLastError());
    }
    if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return "it is a symbolic link (replace the link by the file it points to, or name that file)";
    }
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "is a directory";
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
    if (auto failed = writeTemporary(folder / file.filename(), bytes, temporary)) {
        return failed;
    }
    if (exists) {
        // A copy, flushed, then moved over the old backup: the backup too is
        // always whole.
        FileRead current = readRegularFile(file, static_cast<std::size_t>(-1) / 2);
        std::filesystem::path copy;
        std::optional<std::string> failed;
        if (current.result != FileRead::Result::Read) {
            failed = "cannot read " + file.string() + " for the backup: " + current.reason;
        } else if (!(failed = writeTemporary(backup, current.bytes, copy)) &&
                   !::MoveFileExW(copy.c_str(), backup.c_str(), kReplace)) {
            failed = "cannot keep " + file.string() + " as " + backup.string() + ": " + osReason(::GetLastError());
            ::DeleteFileW(copy.c_str());
        }
        if (failed) {
            ::DeleteFileW(temporary.c_str());
            return failed;
        }
    }
    if (!::MoveFileExW(temporary.c_str(), file.c_str(), kReplace)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        return "cannot rename " + temporary.string() + " to " + file.string() + ": " + osReason(error);
    }
    return std::nullopt;
}

} // namespace mc::site_io
