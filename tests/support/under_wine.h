#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace mc::test {

// True when a Windows test program runs under Wine rather than Windows: Wine's
// ntdll exports wine_get_version. Tests whose Windows behaviour Wine does not
// reproduce skip there, saying why.
inline bool runningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace mc::test
