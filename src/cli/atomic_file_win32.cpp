#include "atomic_file.h"
#include "link/system_text_win32.h"

#include <cstdio>
#include <filesystem>
#include <random>

// std::min and std::max stay usable.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace mc::ctl {

// Windows has no link(): a rename that does not replace (MoveFileEx without
// MOVEFILE_REPLACE_EXISTING) refuses an existing target just as well.
AtomicFile::AtomicFile(std::string path) : path_(std::move(path)), handle_(INVALID_HANDLE_VALUE) {
}

AtomicFile::~AtomicFile() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle_);
    }
    if (!temp_.empty()) {
        ::DeleteFileW(temp_.c_str());
    }
}

bool AtomicFile::create(std::string& error) {
    const std::filesystem::path target(path_);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    // Hidden as on POSIX: a dot, the file's name, a random suffix.
    std::string hidden(1, '.');
    hidden.append(target.filename().string());
    std::random_device entropy;
    DWORD code = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS); ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
        const std::wstring name = (folder / (hidden + suffix)).wstring();
        handle_ = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE) {
            temp_ = name;
            return true;
        }
        code = ::GetLastError();
    }
    error = "cannot write a file in " + folder.string() + ": " + systemText(code);
    return false;
}

bool AtomicFile::commit(std::span<const std::uint8_t> bytes, bool replace, std::string& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(handle_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0) {
            error = "cannot write " + path_ + ": " + systemText(::GetLastError());
            return false;
        }
        done += written;
    }
    const bool flushed = ::FlushFileBuffers(handle_) != 0;
    const DWORD flushCode = ::GetLastError();
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!flushed) {
        error = "cannot write " + path_ + ": " + systemText(flushCode);
        return false;
    }
    const std::wstring final = std::filesystem::path(path_).wstring();
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(temp_.c_str(), final.c_str(), flags)) {
        const DWORD code = ::GetLastError();
        error = !replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
                    ? path_ + " appeared meanwhile; kept it (give --force to overwrite)"
                    : "cannot write " + path_ + ": " + systemText(code);
        return false;
    }
    temp_.clear();
    return true;
}

} // namespace mc::ctl
