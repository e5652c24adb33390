#pragma once

#include "edid/edid_image.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mc {

// An image from the first bytes given: a shorter input leaves the rest at
// 0xFF, bytes beyond 256 are ignored.
EdidImage edidImageFromBytes(std::span<const std::uint8_t> bytes);

// An image from the first 256 bytes of a regular file (the rest 0xFF when
// shorter). Nothing when the file cannot be opened or read, or is no regular
// file: a FIFO, a device or a directory is refused without waiting on it.
// `reason`, when given, then says why ("a FIFO, not a regular file").
std::optional<EdidImage> readEdidFile(const std::string& path, std::string* reason = nullptr);

// The first `limit` bytes of a regular file (all of a shorter one), refused
// and explained as readEdidFile does.
std::optional<std::vector<std::uint8_t>> readRegularFile(const std::string& path, std::size_t limit,
                                                         std::string* reason = nullptr);

// What a directory entry of this type is, for a message: "a directory",
// "a FIFO", "a character device", "a symbolic link", ...
std::string fileTypeText(std::filesystem::file_type type);

} // namespace mc
