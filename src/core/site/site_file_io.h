#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The two file operations the site file needs, one implementation per
// platform (site_file_posix.cpp, site_file_win32.cpp). Reasons are the
// operating system's words for what failed.
namespace mc::site_io {

struct FileRead {
    enum class Result { Read, Missing, Failed };
    Result result = Result::Failed;
    std::string bytes;
    std::string reason;
};

// Reads a regular file of at most maxBytes whole; a missing file is Missing,
// anything else that stops it (a directory, a device, a FIFO, permissions,
// more than maxBytes) is Failed with the reason.
[[nodiscard]] FileRead readRegularFile(const std::filesystem::path& file, std::size_t maxBytes);

// Replaces file with bytes atomically, keeping the file it replaces as
// backup (when there was one). nullopt when done, else the reason.
[[nodiscard]] std::optional<std::string> replaceFile(const std::filesystem::path& file, std::string_view bytes,
                                                     const std::filesystem::path& backup);

// A fresh random text for the names of temporary files ("3f9a0c1e"), so two
// savers in one folder never pick the same name.
[[nodiscard]] std::string randomSuffix();

} // namespace mc::site_io
