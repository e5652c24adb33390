#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mc {

// How bad a finding is. An error: the EDID is malformed (header, checksum,
// block count, a length or offset that makes a reader misplace bytes, a
// field value the EDID rules do not allow). A warning: legal, or ignored by
// readers, but likely wrong (reserved bits, padding, an unknown tag).
enum class EdidSeverity : std::uint8_t { warning, error };

struct EdidFinding {
    EdidSeverity severity = EdidSeverity::error;
    // Byte position from the start of the EDID (block 1 starts at 128).
    std::size_t offset = 0;
    std::string text;

    friend bool operator==(const EdidFinding&, const EdidFinding&) = default;
};

using EdidFindings = std::vector<EdidFinding>;

inline constexpr std::size_t kEdidBlockBytes = 128;
// The base block and at most 255 extensions: more can never be counted.
inline constexpr std::size_t kMaxEdidBytes = kEdidBlockBytes * 256;

// Checks an EDID as it is: `bytes` are all the bytes there are (a whole file
// or a read-back), not an image filled up to 256 bytes. Blocks after the
// ones the extension count names are not part of the EDID; whole blocks of
// 0xFF or 0x00 there are fill and pass without a word. Nothing outside
// `bytes` is read, and only the first kMaxEdidBytes are looked at. The
// findings come ordered by offset.
EdidFindings checkEdid(std::span<const std::uint8_t> bytes);

bool hasEdidErrors(const EdidFindings& findings);
bool hasEdidWarnings(const EdidFindings& findings);

// "error" or "warning".
std::string_view edidSeverityName(EdidSeverity severity);

// "error at byte 255: checksum of block 1 is 0x3C, should be 0x3D".
std::string formatEdidFinding(const EdidFinding& finding);

// One line for a traffic mark or a log record: the findings' texts, errors
// first, joined by "; ", the first three only and the count of the rest
// ("... (2 more)"). Empty when there are none.
std::string summariseEdidFindings(const EdidFindings& findings);

} // namespace mc
