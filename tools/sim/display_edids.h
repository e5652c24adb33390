#pragma once

#include "sim/edid_image.h"

#include <span>
#include <string_view>

namespace mc::sim {

// A real display's EDID, embedded into the program at build time from
// tools/data/ (the program needs no data files at run time).
struct DisplayEdid {
    std::string_view name; // file name without ".bin"
    EdidImage image;
};

// Every embedded display EDID, in the order the build lists them.
[[nodiscard]] std::span<const DisplayEdid> displayEdids();

// The embedded EDID of that name; throws std::out_of_range when the build
// embedded none.
[[nodiscard]] const EdidImage& displayEdid(std::string_view name);

} // namespace mc::sim
