#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mc::sim {

// The switcher stores and serves EDIDs as a base block plus one extension.
inline constexpr std::size_t kEdidSize = 256;
inline constexpr std::size_t kEdidBlockSize = 128;

using EdidImage = std::array<std::uint8_t, kEdidSize>;

// Length of the bytes as hexadecimal text: two digits per byte, one blank
// between bytes.
inline constexpr std::size_t kEdidHexLength = kEdidSize * 3 - 1;

// Sets the last byte of the block at blockOffset so the block sums to 0 mod 256.
void fixBlockChecksum(EdidImage& image, std::size_t blockOffset);
[[nodiscard]] bool blockChecksumValid(const EdidImage& image, std::size_t blockOffset);

// "00 ff ff ..." in lower case, as the switcher sends EDID data.
[[nodiscard]] std::string toHexText(const EdidImage& image);

// Reads exactly 256 bytes written as two hexadecimal digits each (either
// case), separated by single blanks; nullopt for anything else.
[[nodiscard]] std::optional<EdidImage> parseHexText(std::string_view text);

} // namespace mc::sim
