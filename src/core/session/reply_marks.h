#pragma once

#include "session/traffic.h"

#include <string_view>

namespace mc {

// What the reply parser does with a complete line: the same decoding it acts
// on, in words. While an EDID read waits, only an EDID data line counts.
[[nodiscard]] TrafficMark markReplyLine(std::string_view line, bool edidReadPending = false);

} // namespace mc
