#include "link/com_port_name.h"
#include "support/pty_peer.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace mc {
namespace {

struct NameCase {
    int n;
    const char* posix;
    const char* win32;
};

// nullptr: COMn names no device.
constexpr NameCase kCases[] = {
    {0, nullptr, nullptr},
    {-3, nullptr, nullptr},
    {1, "/dev/ttyS0", "COM1"},
    {9, "/dev/ttyS8", "COM9"},
    {10, "/dev/ttyS9", R"(\\.\COM10)"},
    {32, "/dev/ttyS31", R"(\\.\COM32)"},
    {33, "/dev/ttyUSB0", R"(\\.\COM33)"},
    {64, "/dev/ttyUSB31", R"(\\.\COM64)"},
    {65, "/dev/ttyACM0", R"(\\.\COM65)"},
    {96, "/dev/ttyACM31", R"(\\.\COM96)"},
    {97, nullptr, R"(\\.\COM97)"},
    {99, nullptr, R"(\\.\COM99)"},
    {100, nullptr, nullptr},
};

std::optional<std::string> expected(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

TEST(ComPortName, mapsEveryRangeAndItsEdges) {
    for (const NameCase& c : kCases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(posixComPortDevicePath(c.n, std::nullopt), expected(c.posix));
        EXPECT_EQ(win32ComPortDeviceName(c.n), expected(c.win32));
    }
}

TEST(ComPortName, portDirectoryNamesEveryPortAndNothingElse) {
    const std::optional<std::string> dir = "/tmp/ports";
    EXPECT_EQ(posixComPortDevicePath(1, dir), "/tmp/ports/com1");
    EXPECT_EQ(posixComPortDevicePath(97, dir), "/tmp/ports/com97");
    EXPECT_EQ(posixComPortDevicePath(99, dir), "/tmp/ports/com99");
    EXPECT_EQ(posixComPortDevicePath(0, dir), std::nullopt);
    EXPECT_EQ(posixComPortDevicePath(100, dir), std::nullopt);
}

#ifndef _WIN32
TEST(ComPortName, environmentDirectoryIsUsedOnlyWhenItIsADirectory) {
    const test::PortDirectory ports;
    ports.exportToEnvironment();
    EXPECT_EQ(comPortDevicePath(5), ports.path() + "/com5");

    // A variable naming no directory falls back to the devices.
    ::setenv(kPortDirectoryVariable, (ports.path() + "/missing").c_str(), 1);
    EXPECT_EQ(comPortDevicePath(5), "/dev/ttyS4");
    ::unsetenv(kPortDirectoryVariable);
    EXPECT_EQ(comPortDevicePath(40), "/dev/ttyUSB7");
}
#endif

} // namespace
} // namespace mc
