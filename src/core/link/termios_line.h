#pragma once

#ifndef _WIN32

#include "link/line_settings.h"
#include "link/link_backend.h"

#include <string>
#include <termios.h>

namespace mc {

// Puts a terminal into raw mode with the given line settings: no echo, no
// translation, receiver on, modem lines ignored. False when a setting has no
// termios equivalent (the terminal is then left raw at its old speed).
bool applyLineSettings(termios& tio, const LineSettings& line);

// Why a serial device could not be opened: "open <path>: <system reason>",
// with the dialout hint when permission was denied.
std::string serialOpenFailure(const std::string& path, int error);
// Whether that open failed on a device that is there but held (EBUSY: another
// user's program holds it exclusively) or forbidden.
PortRefusal serialOpenRefusal(int error);

// The termios speed constant for a baud rate; B0 when there is none.
speed_t termiosSpeed(int baudRate);

} // namespace mc

#endif
