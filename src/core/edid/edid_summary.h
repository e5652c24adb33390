#pragma once

#include "edid/edid_decoder.h"

#include <string>

namespace mc {

// The EDID summary the EDID management page and matrix-edid show: at most
// seven whole lines copied out of the reports, in this order: manufacturer,
// maximum pixel clock, 3D support, preferred timing, first other detailed
// timing, first audio format and its channel count.
std::string fillEdidSummary(const EdidReports& reports);

} // namespace mc
