#ifdef _WIN32

#include "link/win32_system.h"

#include <array>
#include <winsock2.h> // holds windows.h, and must come before it

namespace mc {

std::string systemText(unsigned long code) {
    std::array<char, 256> text{};
    const DWORD size = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text.data(),
                                        static_cast<DWORD>(text.size()), nullptr);
    std::string out(text.data(), size);
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "error " + std::to_string(code) : out;
}

WorkerWake waitForWorkerWake(void* stop, void* line, void* write) {
    const std::array<HANDLE, 3> waitList =
        line != nullptr ? std::array<HANDLE, 3>{stop, line, write} : std::array<HANDLE, 3>{stop, write, nullptr};
    const DWORD count = line != nullptr ? 3 : 2;
    // The lowest signalled index is the one reported.
    const DWORD which = ::WaitForMultipleObjects(count, waitList.data(), FALSE, INFINITE);
    if (which >= WAIT_OBJECT_0 + count) {
        return WorkerWake::Failed;
    }
    const HANDLE woken = waitList[which - WAIT_OBJECT_0];
    return woken == stop ? WorkerWake::Stop : woken == write ? WorkerWake::Write : WorkerWake::Line;
}

int startWinsock() {
    // Initialised once, by whichever thread comes first; the others wait.
    static const int result = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

} // namespace mc

#endif
