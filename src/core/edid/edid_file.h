#pragma once

#include "edid/edid_image.h"

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
// `reason`, when given, then says why.
std::optional<EdidImage> readEdidFile(const std::string& path, std::string* reason = nullptr);

// The first `maxBytes` bytes of a regular file as they are (fewer when the
// file is shorter), refused as readEdidFile refuses. The EDID check takes
// these: it needs to see a short or overlong file.
std::optional<std::vector<std::uint8_t>> readEdidFileBytes(const std::string& path, std::size_t maxBytes,
                                                           std::string* reason = nullptr);

} // namespace mc
