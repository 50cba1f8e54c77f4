// vrdpsmon.dll: the port monitor of the Varden network printing package, as
// far as a spooler needs it to load the monitor and keep its ports.
//
// The spooler loads the module named by the value "Driver" under
// HKLM\System\CurrentControlSet\Control\Print\Monitors\<name> and asks one
// of the initialisation entries for the table of port functions:
//   InitializePrintMonitor(root)   NT 4.0 and later, MONITOREX
//   InitializeMonitorEx(root, m)   NT 3.5x, MONITOR filled in place
// `root` is that key's path below HKEY_LOCAL_MACHINE. The monitor keeps its
// ports as subkeys of <root>\Ports, where the setup program looks for them.
//
// Ports are listed (EnumPorts levels 1 and 2), added by name (AddPortEx
// level 1), configured (nothing to set) and deleted. Opening a port works,
// but the monitor does not print: StartDocPort fails with
// ERROR_NOT_SUPPORTED, so a job sent to one of its ports stays in the queue
// with an error instead of vanishing.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// Longest port name kept; longer names are refused with ERROR_INVALID_PARAMETER.
const DWORD kPortNameChars = 64;
const wchar_t kDescription[] = L"Varden Network Port";

CRITICAL_SECTION lock;
wchar_t portsKeyPath[512];  // <root>\Ports below HKEY_LOCAL_MACHINE
bool initialized = false;

struct Port {
    DWORD magic;
    wchar_t name[kPortNameChars + 1];
};
const DWORD kPortMagic = 0x56524450;  // "VRDP"

// Copies the registry root given by the spooler and appends \Ports; false
// when it does not fit.
bool rememberRoot(LPCWSTR root) {
    if (!root) return false;
    size_t len = wcslen(root);
    const wchar_t suffix[] = L"\\Ports";
    if (len + wcslen(suffix) + 1 > sizeof portsKeyPath / sizeof portsKeyPath[0]) return false;
    wcscpy(portsKeyPath, root);
    wcscat(portsKeyPath, suffix);
    return true;
}

bool validPortName(LPCWSTR name) {
    if (!name || !name[0]) return false;
    size_t len = wcslen(name);
    if (len > kPortNameChars) return false;
    // Registry key names cannot hold a backslash; a port name with a comma
    // would break the comma-separated port list of a printer.
    return wcspbrk(name, L"\\,") == nullptr;
}

LONG openPorts(REGSAM access, HKEY* key) {
    if (access & KEY_CREATE_SUB_KEY)
        return RegCreateKeyExW(HKEY_LOCAL_MACHINE, portsKeyPath, 0, nullptr, 0, access, nullptr, key, nullptr);
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, portsKeyPath, 0, access, key);
}

bool portExists(LPCWSTR name) {
    HKEY ports = nullptr;
    if (openPorts(KEY_READ, &ports) != ERROR_SUCCESS) return false;
    HKEY port = nullptr;
    bool found = RegOpenKeyExW(ports, name, 0, KEY_READ, &port) == ERROR_SUCCESS;
    if (port) RegCloseKey(port);
    RegCloseKey(ports);
    return found;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Two passes over the port keys: the first sizes, the second fills the
// records from the front of the buffer and the strings from its end.
BOOL WINAPI enumPorts(LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (level != 1 && level != 2) return fail(ERROR_INVALID_LEVEL);
    if (!needed || !returned) return fail(ERROR_INVALID_PARAMETER);
    *needed = 0;
    *returned = 0;
    EnterCriticalSection(&lock);
    HKEY ports = nullptr;
    LONG rc = openPorts(KEY_READ, &ports);
    if (rc != ERROR_SUCCESS) {
        LeaveCriticalSection(&lock);
        return TRUE;  // no port yet
    }
    const DWORD recordSize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    wchar_t names[256][kPortNameChars + 1];
    DWORD count = 0;
    DWORD bytes = 0;
    for (DWORD i = 0; count < 256; ++i) {
        DWORD chars = kPortNameChars + 1;
        rc = RegEnumKeyExW(ports, i, names[count], &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;  // a name too long is not one of ours
        bytes += recordSize + (chars + 1) * sizeof(wchar_t);
        if (level == 2) bytes += 2 * (wcslen(kDescription) + 1) * sizeof(wchar_t);
        ++count;
    }
    RegCloseKey(ports);
    LeaveCriticalSection(&lock);
    *needed = bytes;
    if (bytes > size || (!buffer && bytes > 0)) return fail(ERROR_INSUFFICIENT_BUFFER);

    LPBYTE strings = buffer + size;
    auto put = [&](const wchar_t* text) {
        size_t n = (wcslen(text) + 1) * sizeof(wchar_t);
        strings -= n;
        memcpy(strings, text, n);
        return reinterpret_cast<LPWSTR>(strings);
    };
    for (DWORD i = 0; i < count; ++i) {
        if (level == 1) {
            auto* info = reinterpret_cast<PORT_INFO_1W*>(buffer) + i;
            info->pName = put(names[i]);
        } else {
            auto* info = reinterpret_cast<PORT_INFO_2W*>(buffer) + i;
            info->pPortName = put(names[i]);
            info->pMonitorName = put(kDescription);
            info->pDescription = put(kDescription);
            info->fPortType = PORT_TYPE_WRITE;
            info->Reserved = 0;
        }
    }
    *returned = count;
    return TRUE;
}

BOOL WINAPI openPort(LPWSTR name, PHANDLE handle) {
    if (!handle || !validPortName(name)) return fail(ERROR_INVALID_PARAMETER);
    if (!portExists(name)) return fail(ERROR_UNKNOWN_PORT);
    Port* port = static_cast<Port*>(calloc(1, sizeof(Port)));
    if (!port) return fail(ERROR_NOT_ENOUGH_MEMORY);
    port->magic = kPortMagic;
    wcscpy(port->name, name);
    *handle = port;
    return TRUE;
}

Port* portOf(HANDLE handle) {
    Port* port = static_cast<Port*>(handle);
    return port && port->magic == kPortMagic ? port : nullptr;
}

BOOL WINAPI startDocPort(HANDLE handle, LPWSTR, DWORD, DWORD, LPBYTE) {
    if (!portOf(handle)) return fail(ERROR_INVALID_HANDLE);
    return fail(ERROR_NOT_SUPPORTED);
}

BOOL WINAPI writePort(HANDLE handle, LPBYTE, DWORD, LPDWORD written) {
    if (written) *written = 0;
    if (!portOf(handle)) return fail(ERROR_INVALID_HANDLE);
    return fail(ERROR_NOT_SUPPORTED);
}

BOOL WINAPI readPort(HANDLE handle, LPBYTE, DWORD, LPDWORD read) {
    if (read) *read = 0;
    if (!portOf(handle)) return fail(ERROR_INVALID_HANDLE);
    return fail(ERROR_NOT_SUPPORTED);
}

BOOL WINAPI endDocPort(HANDLE handle) { return portOf(handle) ? TRUE : fail(ERROR_INVALID_HANDLE); }

BOOL WINAPI closePort(HANDLE handle) {
    Port* port = portOf(handle);
    if (!port) return fail(ERROR_INVALID_HANDLE);
    port->magic = 0;
    free(port);
    return TRUE;
}

// The interactive way of adding a port would ask for its name in a dialog;
// this monitor has no dialogs, so ports are added with AddPortEx.
BOOL WINAPI addPort(LPWSTR, HWND, LPWSTR) { return fail(ERROR_NOT_SUPPORTED); }

BOOL WINAPI addPortEx(LPWSTR, DWORD level, LPBYTE buffer, LPWSTR) {
    if (level != 1) return fail(ERROR_INVALID_LEVEL);
    if (!buffer) return fail(ERROR_INVALID_PARAMETER);
    LPCWSTR name = reinterpret_cast<PORT_INFO_1W*>(buffer)->pName;
    if (!validPortName(name)) return fail(ERROR_INVALID_PARAMETER);
    EnterCriticalSection(&lock);
    HKEY ports = nullptr;
    LONG rc = openPorts(KEY_READ | KEY_CREATE_SUB_KEY, &ports);
    HKEY port = nullptr;
    DWORD disposition = 0;
    if (rc == ERROR_SUCCESS)
        rc = RegCreateKeyExW(ports, name, 0, nullptr, 0, KEY_WRITE, nullptr, &port, &disposition);
    if (port) RegCloseKey(port);
    if (ports) RegCloseKey(ports);
    LeaveCriticalSection(&lock);
    if (rc != ERROR_SUCCESS) return fail(static_cast<DWORD>(rc));
    if (disposition == REG_OPENED_EXISTING_KEY) return fail(ERROR_ALREADY_EXISTS);
    return TRUE;
}

BOOL WINAPI configurePort(LPWSTR, HWND, LPWSTR name) {
    if (!validPortName(name)) return fail(ERROR_INVALID_PARAMETER);
    return portExists(name) ? TRUE : fail(ERROR_UNKNOWN_PORT);
}

BOOL WINAPI deletePort(LPWSTR, HWND, LPWSTR name) {
    if (!validPortName(name)) return fail(ERROR_INVALID_PARAMETER);
    EnterCriticalSection(&lock);
    HKEY ports = nullptr;
    LONG rc = openPorts(KEY_ALL_ACCESS, &ports);
    if (rc == ERROR_SUCCESS) {
        rc = RegDeleteKeyW(ports, name);
        RegCloseKey(ports);
    }
    LeaveCriticalSection(&lock);
    // An unknown port: the answer NT 3.51 and Windows 95 give for DeletePort.
    if (rc == ERROR_FILE_NOT_FOUND) return fail(ERROR_INVALID_PARAMETER);
    return rc == ERROR_SUCCESS ? TRUE : fail(static_cast<DWORD>(rc));
}

void fillTable(MONITOR* m) {
    memset(m, 0, sizeof *m);
    m->pfnEnumPorts = enumPorts;
    m->pfnOpenPort = openPort;
    m->pfnStartDocPort = startDocPort;
    m->pfnWritePort = writePort;
    m->pfnReadPort = readPort;
    m->pfnEndDocPort = endDocPort;
    m->pfnClosePort = closePort;
    m->pfnAddPort = addPort;
    m->pfnAddPortEx = addPortEx;
    m->pfnConfigurePort = configurePort;
    m->pfnDeletePort = deletePort;
}

MONITOREX table;

}  // namespace

extern "C" {

// NT 4.0 and later: the spooler keeps the returned table while the module
// stays loaded. NULL with the last error set when the root is unusable.
__declspec(dllexport) LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR registryRoot) {
    if (!initialized || !rememberRoot(registryRoot)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    table.dwMonitorSize = sizeof(MONITOR);
    fillTable(&table.Monitor);
    return &table;
}

// NT 3.5x: the table is written into the spooler's own structure.
__declspec(dllexport) BOOL WINAPI InitializeMonitorEx(LPWSTR registryRoot, LPMONITOR monitor) {
    if (!initialized || !monitor || !rememberRoot(registryRoot)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    fillTable(monitor);
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&lock);
        initialized = true;
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&lock);
        initialized = false;
    }
    return TRUE;
}

}  // extern "C"
