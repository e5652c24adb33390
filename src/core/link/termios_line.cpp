#ifndef _WIN32

#include "link/termios_line.h"

#include "link/link_backend.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace mc {

namespace {

constexpr std::array<std::pair<int, speed_t>, 18> kSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
}};

bool applyDataBits(termios& tio, int dataBits) {
    tcflag_t size = 0;
    switch (dataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return false;
    }
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | size;
    return true;
}

bool applyParity(termios& tio, char parity) {
    switch (parity) {
    case 'N':
    case 'n':
        tio.c_cflag &= ~(PARENB | PARODD);
        return true;
    case 'E':
    case 'e':
        tio.c_cflag = (tio.c_cflag | PARENB) & ~PARODD;
        return true;
    case 'O':
    case 'o':
        tio.c_cflag |= PARENB | PARODD;
        return true;
    default:
        // Mark and space parity have no portable termios form.
        return false;
    }
}

bool applyStopBits(termios& tio, int stopBits) {
    if (stopBits == 1) {
        tio.c_cflag &= ~CSTOPB;
        return true;
    }
    if (stopBits == 2) {
        tio.c_cflag |= CSTOPB;
        return true;
    }
    return false;
}

} // namespace

std::string serialOpenFailure(const std::string& path, int error) {
    std::string text = "open " + path + ": " + std::strerror(error);
    if (error == EACCES) {
        text += ' ';
        text += kSerialPermissionHint;
    }
    return text;
}

PortRefusal serialOpenRefusal(int error) {
    if (error == EBUSY) {
        return PortRefusal::InUse;
    }
    if (error == EACCES || error == EPERM) {
        return PortRefusal::PermissionDenied;
    }
    return PortRefusal::None;
}

speed_t termiosSpeed(int baudRate) {
    for (const auto& [baud, speed] : kSpeeds) {
        if (baud == baudRate) {
            return speed;
        }
    }
    return B0;
}

bool applyLineSettings(termios& tio, const LineSettings& line) {
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CRTSCTS;
    // Reads never block: the worker reads only what FIONREAD reports.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    bool ok = applyDataBits(tio, line.dataBits);
    ok = applyParity(tio, line.parity) && ok;
    ok = applyStopBits(tio, line.stopBits) && ok;
    const speed_t speed = termiosSpeed(line.baudRate);
    if (speed == B0 || ::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
        ok = false;
    }
    return ok;
}

} // namespace mc

#endif
