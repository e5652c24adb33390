#pragma once

#include "edid/edid_decoder.h"

#include <array>
#include <cstdint>
#include <string>

namespace mc {

// Line settings of the switcher's control port. They have no control of their
// own in the console and stay fixed for the whole run.
struct LineSettings {
    int baudRate = 57600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    // EV_RXCHAR | EV_RXFLAG: one notification per received byte.
    std::uint32_t eventMask = 3;
    int writeBufferSize = 1024;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 99;
inline constexpr std::size_t kEdidImageSize = 256;

using EdidImage = std::array<std::uint8_t, kEdidImageSize>;

// The console window's shared state that is not a widget: what the port
// controls, the reply parser and the EDID read-back work on.
struct ConsoleState {
    bool portOpen = false;
    bool searchInProgress = false;
    bool edidToFile = false;
    std::string edidFileName;
    EdidImage receivedEdid{};
    std::string replyLine;
    // The last EDID read back or loaded, decoded; the EDID page sums it up.
    EdidReports edidReports;
    int comPort = kFirstComPort;
    LineSettings line;

    static bool isValidComPort(int n) { return n >= kFirstComPort && n <= kLastComPort; }
};

// The COM selector's item for COMn ("COM1" to "COM99").
std::string comPortItemText(int comPort);

} // namespace mc
