#include "link/com_port_name.h"

#include "link/ports.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace mc {

namespace {

// Consecutive COM numbers map onto numbered POSIX device families.
struct DeviceRange {
    int firstCom;
    int count;
    const char* prefix;
};

constexpr std::array<DeviceRange, 3> kPosixRanges{{
    {1, 32, "/dev/ttyS"},
    {33, 32, "/dev/ttyUSB"},
    {65, 32, "/dev/ttyACM"},
}};

#ifndef _WIN32
// The port directory from the environment, if it names a directory.
std::optional<std::string> portDirectoryFromEnvironment() {
    const char* dir = std::getenv(kPortDirectoryVariable);
    if (dir == nullptr || *dir == '\0') {
        return std::nullopt;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        return std::nullopt;
    }
    return std::string(dir);
}
#endif

} // namespace

std::optional<std::string> posixComPortDevicePath(int n, const std::optional<std::string>& portDirectory) {
    if (!isValidComPort(n)) {
        return std::nullopt;
    }
    if (portDirectory) {
        return *portDirectory + "/com" + std::to_string(n);
    }
    for (const DeviceRange& range : kPosixRanges) {
        if (n >= range.firstCom && n < range.firstCom + range.count) {
            return range.prefix + std::to_string(n - range.firstCom);
        }
    }
    return std::nullopt;
}

std::string comPortName(int n) {
    return "COM" + std::to_string(n);
}

std::optional<std::string> win32ComPortDeviceName(int n) {
    if (!isValidComPort(n)) {
        return std::nullopt;
    }
    // COM10 and above exist only in the device namespace.
    return n < 10 ? comPortName(n) : std::string(R"(\\.\)") + comPortName(n);
}

std::optional<std::string> comPortDevicePath(int n) {
#ifdef _WIN32
    return win32ComPortDeviceName(n);
#else
    return posixComPortDevicePath(n, portDirectoryFromEnvironment());
#endif
}

} // namespace mc
