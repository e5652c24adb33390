#pragma once

#include "link/ports.h"

#include <optional>
#include <string>

namespace mc {

// The operator's name of COM port n: "COM1" to "COM99", as the selector, the
// messages, the log and the traffic rows show it.
[[nodiscard]] std::string comPortName(int n);

// Environment variable naming a directory of port links: COMn is then
// "$MATRIX_CONSOLE_PORTS/comN" and no other device is probed.
inline constexpr char kPortDirectoryVariable[] = "MATRIX_CONSOLE_PORTS";

// The device to open for COMn on this platform; nullopt when COMn names no
// device (n outside 1..99, or beyond the POSIX device ranges).
std::optional<std::string> comPortDevicePath(int n);

// The two rules behind comPortDevicePath, usable on any platform.
// POSIX: with a port directory "dir/comN"; else COM1-32 /dev/ttyS0-31,
// COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31, COM97-99 none.
std::optional<std::string> posixComPortDevicePath(int n, const std::optional<std::string>& portDirectory);
// Win32: "COMn" below 10, the device-namespace form "\\.\COMn" from 10.
std::optional<std::string> win32ComPortDeviceName(int n);

} // namespace mc
