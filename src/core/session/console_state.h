#pragma once

#include "edid/edid_decoder.h"
#include "edid/edid_image.h"
#include "link/com_port_name.h"
#include "link/line_settings.h"
#include "link/ports.h"

#include <string>

namespace mc {

// The console window's shared state that is not a widget: what the port
// controls, the reply parser and the EDID read-back work on.
struct ConsoleState {
    bool portOpen = false;
    bool searchInProgress = false;
    bool edidToFile = false;
    std::string edidFileName;
    EdidImage receivedEdid{};
    // The last EDID read back or loaded, decoded; the EDID page sums it up.
    EdidReports edidReports;
    int comPort = kFirstComPort;
    // The hidden word typed as the TCP port has unlocked the MAC address; it
    // stays unlocked for the rest of the run.
    bool macUnlocked = false;
    LineSettings line;

    // At a close of the port or a new search: ends a pending EDID read (reply
    // dispatch drops the unfinished line with it).
    void endReadBack();
};

// The COM selector's item for COMn ("COM1" to "COM99").
std::string comPortItemText(int comPort);

} // namespace mc
