#pragma once

#include "edid/edid_image.h"

#include <optional>
#include <span>
#include <string>

namespace mc {

// An image from the first bytes given: a shorter input leaves the rest at
// 0xFF, bytes beyond 256 are ignored.
EdidImage edidImageFromBytes(std::span<const std::uint8_t> bytes);

// An image from the first 256 bytes of a regular file (the rest 0xFF when
// shorter). Nothing when the file cannot be opened or read, or is no regular
// file: a FIFO, a device or a directory is refused without waiting on it.
// `reason`, when given, then says why.
std::optional<EdidImage> readEdidFile(const std::string& path, std::string* reason = nullptr);

} // namespace mc
