#pragma once

#include "edid/edid_check.h"
#include "json.h"

namespace mc::ctl {

// The findings of an EDID check as the JSON documents carry them: an array
// of {"severity": "error" | "warning", "offset": byte, "text": ...}.
Json edidFindingsJson(const EdidFindings& findings);

} // namespace mc::ctl
