#pragma once

#include "edid/edid_image.h"
#include "session/traffic.h"

#include <string_view>

namespace mc {

// What the reply parser does with a complete line: the same decoding it acts
// on, in words. While an EDID read waits, only an EDID data line counts.
[[nodiscard]] TrafficMark markReplyLine(std::string_view line, bool edidReadPending = false);

// The EDID data line that ends a read-back, scanned over `image` as the
// EDID capture scans it: "EDID data read back", with what the EDID check
// finds in the result (a Fault mark then).
[[nodiscard]] TrafficMark markEdidReadBack(std::string_view line, EdidImage image);

} // namespace mc
