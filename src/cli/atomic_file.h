#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace mc::ctl {

// A file written whole or not at all: the bytes go to a temporary file in the
// same folder, which then takes the final name. Without --force an existing
// file is never replaced, not even one that appears meanwhile. Defined once
// per platform (atomic_file_posix.cpp, atomic_file_win32.cpp).
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    // Removes the temporary file when commit() did not succeed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Made before anything is sent, so a folder that cannot be written in is
    // found out first. False with the reason in `error`.
    bool create(std::string& error);

    // Writes the bytes, flushes them to the disk and gives the file its final
    // name; without `replace` an existing file is kept and this fails.
    bool commit(std::span<const std::uint8_t> bytes, bool replace, std::string& error);

private:
    std::string path_;
#ifdef _WIN32
    std::wstring temp_;
    void* handle_; // a HANDLE; INVALID_HANDLE_VALUE while none is open
#else
    std::string temp_;
    int fd_ = -1;
#endif
};

} // namespace mc::ctl
