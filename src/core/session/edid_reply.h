#pragma once

#include "edid/edid_choices.h"
#include "edid/edid_image.h"

#include <optional>
#include <string>
#include <string_view>

namespace mc {

// The EDID data line of a read (matrix-ctl's and the console's read-back),
// checked before anything is saved: it names
// the port asked for ("OUT2 EDID DATA ..." or "IN3 EDID 02 DATA ..."), and
// after "DATA " carries whole 128-byte blocks as hex pairs, one blank apart:
// the base block, and the extension block when the base block announces one
// (its byte 126). The image holds them, the rest of its 256 bytes 0xFF.
struct EdidReply {
    EdidImage image{};
    std::string problem; // empty when the line is such a reply
};

// `line` ends at its line end; the console's lines also at their first NUL.
[[nodiscard]] EdidReply checkEdidReply(std::string_view line, const EdidPort& port);

} // namespace mc
