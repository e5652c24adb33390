#pragma once

#include "sim/edid_image.h"

#include <string_view>

namespace mc::sim {

// EDID source indices 0 to 29 name the switcher's built-in EDIDs.
inline constexpr int kBuiltinEdidCount = 30;

// The built-in EDID of a source index, derived from a real 1080p or 4K TV:
// the indices for 4K modes use the 4K set, the others the 1080p set. Each gets
// its own product code (0x0100 + index), serial number (index + 1), display
// name (builtinEdidName) and linear PCM channel count (2, 6 or 8 as the choice
// says 2CH, 5.1 or 7.1), with both block checksums recomputed. 3D, HDR and
// colour formats are those of the base set. Throws std::out_of_range for an
// index outside 0..29.
[[nodiscard]] EdidImage builtinEdid(int index);

// The display name written into a built-in EDID (at most 13 characters).
[[nodiscard]] std::string_view builtinEdidName(int index);

} // namespace mc::sim
