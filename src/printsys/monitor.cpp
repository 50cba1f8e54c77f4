// Print monitor detection: the monitor module of the running platform and
// whether any installed monitor uses it.
#include "printsys/printsys.h"

#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/regtree.h"

#include <cstring>

DWORD getMonitorDllName(LPCSTR* name) {
    // Windows 95 sets the top bit of the version word.
    *name = (GetVersion() & 0x80000000u) ? "vrdpsmw4.dll" : "vrdpsmon.dll";
    return STS_DONE;
}

BOOL readDriverValueMatches(HKEY key, LPCSTR dllName) {
    // The value is read into 16 bytes; one more byte keeps a value stored
    // without its terminator from running past the buffer.
    CHAR driver[kDriverValueBytes + 1];
    std::memset(driver, 0, sizeof driver);
    DWORD size = kDriverValueBytes;
    DWORD type = 0;
    if (RegQueryValueExA(key, "driver", nullptr, &type, reinterpret_cast<LPBYTE>(driver), &size) != ERROR_SUCCESS)
        return FALSE;
    driver[kDriverValueBytes] = '\0';
    CharLowerA(driver);
    return lstrcmpA(driver, dllName) == 0;
}

BOOL monitorUsesDriver(HKEY monitors, LPCSTR subkey, LPCSTR dllName) {
    ScopedKey key;
    if (RegOpenKeyExA(monitors, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return FALSE;
    return readDriverValueMatches(key.get(), dllName);
}

BOOL isVrdpsmonInstalled(HKEY monitors, LPCSTR dllName) {
    DWORD count = 0;
    DWORD longest = 0;
    if (!stsSucceeded(querySubkeyInfo(monitors, &count, &longest)))
        FailSetup("isVrdpsmonInstalled -- Couldn't get subkey info, Error = %d", GetLastError());

    CBlock<CHAR> name(static_cast<CHAR*>(std::calloc(longest + 1, 1)));
    if (!name) return FALSE;

    BOOL found = FALSE;
    for (DWORD i = count; i > 0 && !found; --i) {
        DWORD capacity = longest + 1;
        if (RegEnumKeyExA(monitors, i - 1, name.get(), &capacity, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        found = monitorUsesDriver(monitors, name.get(), dllName);
    }
    return found;
}
