#pragma once

#ifdef _WIN32

#include <string>

namespace mc {

// The system's words for an error code (GetLastError, WSAGetLastError),
// without the trailing line break and full stop; "error N" when it has none.
[[nodiscard]] std::string systemText(unsigned long code);

// Winsock, started at the first call for the whole process: 0, or the error
// WSAStartup gave. Any thread. Never cleaned up: a name resolution left to
// finish on its helper thread may still use it when the program ends.
[[nodiscard]] int startWinsock();

} // namespace mc

#endif
