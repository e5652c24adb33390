#pragma once

#include <cstdint>

namespace mc {

// Port events a channel owner can ask for (the Win32 EV_* bits).
inline constexpr std::uint32_t kEventReceivedChar = 0x0001;
inline constexpr std::uint32_t kEventFlagChar = 0x0002;

// Line settings of the switcher's control port. They have no control of their
// own in the console and stay fixed for the whole run.
struct LineSettings {
    int baudRate = 57600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    // EV_RXCHAR | EV_RXFLAG: one notification per received byte.
    std::uint32_t eventMask = kEventReceivedChar | kEventFlagChar;
    int writeBufferSize = 1024;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

} // namespace mc
