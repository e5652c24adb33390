#pragma once

// The ranges the switcher and the console's port selector are built for,
// defined once: every page, command builder and parser takes them from here.
namespace mc {

// Switcher ports: inputs and outputs alike are numbered 1 to 16.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;
inline constexpr int kPortCount = kLastPort - kFirstPort + 1;

// A reply's port number 0 stands for every port at once.
inline constexpr int kAllPorts = 0;

[[nodiscard]] constexpr bool isValidPort(int port) {
    return port >= kFirstPort && port <= kLastPort;
}

// COM ports the console can select: COM1 to COM99.
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 99;

[[nodiscard]] constexpr bool isValidComPort(int n) {
    return n >= kFirstComPort && n <= kLastComPort;
}

} // namespace mc
