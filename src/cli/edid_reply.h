#pragma once

#include "edid/edid_image.h"

#include <optional>
#include <string>
#include <string_view>

namespace mc::ctl {

// The port an EDID read asked for.
struct EdidReadPort {
    bool output = true; // OUTn, else INn
    int number = 0;     // 1..16
};

// The EDID data line of a read, checked before anything is saved: it names
// the port asked for ("OUT2 EDID DATA ..." or "IN3 EDID 02 DATA ..."), and
// after "DATA " carries whole 128-byte blocks as hex pairs, one blank apart:
// the base block, and the extension block when the base block announces one
// (its byte 126). The image holds them, the rest of its 256 bytes 0xFF.
struct EdidReply {
    EdidImage image{};
    std::string problem; // empty when the line is such a reply
};

[[nodiscard]] EdidReply checkEdidReply(std::string_view line, const EdidReadPort& port);

} // namespace mc::ctl
