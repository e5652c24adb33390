#pragma once

#include "session/edid_reply.h"
#include "session/traffic.h"

#include <string_view>

namespace mc {

// What the reply parser does with a complete line: the same decoding it acts
// on, in words. While an EDID read waits, only an EDID data line counts.
[[nodiscard]] TrafficMark markReplyLine(std::string_view line, bool edidReadPending = false);

// The EDID data line that ends a read-back, as the EDID capture's check found
// it: "EDID data read back", with what the EDID check finds in the image (a
// Fault mark then), or why it is not saved (a Fault mark).
[[nodiscard]] TrafficMark markEdidReadBack(const EdidReply& checked);

} // namespace mc
