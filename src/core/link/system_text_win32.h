#pragma once

#include <string>

namespace mc {

// Windows: the system's text for an error code (GetLastError(),
// WSAGetLastError()), without its trailing line break and full stop;
// "error N" when the system has none. The DWORD is spelled out so that this
// header needs no <windows.h>.
[[nodiscard]] std::string systemText(unsigned long code);

} // namespace mc
