#pragma once

#ifdef _WIN32

#include <string>

namespace mc {

// The system's words for an error code (GetLastError, WSAGetLastError),
// without the trailing line break and full stop; "error N" when it has none.
[[nodiscard]] std::string systemText(unsigned long code);

// What ended a port worker's wait, in priority order.
enum class WorkerWake { Stop, Line, Write, Failed };
// Waits without time limit for the events of a stop, the line (when `line`
// is not null) and a write; when several are set, the first of these wins.
// Failed leaves the reason in GetLastError.
[[nodiscard]] WorkerWake waitForWorkerWake(void* stop, void* line, void* write);

// Winsock, started at the first call for the whole process: 0, or the error
// WSAStartup gave. Any thread. Never cleaned up: a name resolution left to
// finish on its helper thread may still use it when the program ends.
[[nodiscard]] int startWinsock();

} // namespace mc

#endif
