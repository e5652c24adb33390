#pragma once

#include "edid/edid_decoder.h"
#include "edid/edid_image.h"
#include "link/com_port_name.h"
#include "link/line_settings.h"
#include "link/ports.h"

#include <string>

namespace mc {

// What several parts of a session share: whether the port is open (every
// sender tests it), whether a search waits (the connection and the reply
// parser), the COM port chosen (the connection and the selector) and the line
// settings.
struct ConsoleState {
    bool portOpen = false;
    bool searchInProgress = false;
    int comPort = kFirstComPort;
    LineSettings line;
};

} // namespace mc
