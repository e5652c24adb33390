#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace mc {

// An EDID image: the base block followed by one extension block. Only this
// much is ever read back from the switcher or loaded from a file.
inline constexpr std::size_t kEdidImageBytes = 256;
inline constexpr std::uint8_t kEdidFillByte = 0xFF;

using EdidImage = std::array<std::uint8_t, kEdidImageBytes>;
using EdidImageView = std::span<const std::uint8_t, kEdidImageBytes>;

namespace edid {

// Byte positions in the image.
inline constexpr std::size_t kDigitalInputByte = 20;
inline constexpr std::size_t kExtensionCountByte = 126;
inline constexpr std::size_t kExtensionStart = 128;
inline constexpr std::size_t kExtensionTagByte = 128;
inline constexpr std::size_t kTimingOffsetByte = 130;
inline constexpr std::size_t kDeviceSupportByte = 131;
inline constexpr std::size_t kFirstDataBlock = 132;
inline constexpr std::uint8_t kCeaExtensionTag = 2;

// True when `count` bytes from `pos` on all lie inside the image.
constexpr bool inImage(std::size_t pos, std::size_t count = 1) {
    return pos < kEdidImageBytes && count <= kEdidImageBytes - pos;
}

// The extension block is decoded only when the count is non-zero and the
// block carries the CEA-861 tag; the count's value is not looked at further.
inline bool hasCeaExtension(EdidImageView image) {
    return image[kExtensionCountByte] != 0 && image[kExtensionTagByte] == kCeaExtensionTag;
}

// Byte 130: where the extension's 18-byte timing descriptors start, counted
// from the start of the extension block.
inline std::size_t timingOffset(EdidImageView image) {
    return image[kTimingOffsetByte];
}

} // namespace edid
} // namespace mc
