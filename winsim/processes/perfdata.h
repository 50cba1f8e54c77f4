// HKEY_PERFORMANCE_DATA: the registry family hands queries of that key here.
#pragma once

#include <windows.h>

namespace winsim {

// Answers RegQueryValueExA(HKEY_PERFORMANCE_DATA, valueName, ...) with the
// Win32 result and buffer protocol of that call.
LONG queryPerformanceData(LPCSTR valueName, LPDWORD type, LPBYTE data, LPDWORD cbData);

}  // namespace winsim
