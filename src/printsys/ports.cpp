// The monitor's ports as listed in the registry, and the removal of a
// printer from one of them.
#include "printsys/printsys.h"

#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kPortsKey[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port\\Ports";
const DWORD kJobBufferBytes = 64;

[[noreturn]] void failPorts(const char* firstPiece, DWORD error) {
    joinMessage(firstPiece, "system before re-running program.");
    FailSetup(Setup.MessageBuffer, error);
}

// Removes `port` as a whole element of the comma-separated list `ports`, in
// place. `portsWithComma` is the list with a comma appended and `entry` the
// port with its comma. A list without that element is left as it is.
void removePortFromList(LPSTR ports, LPCSTR portsWithComma, LPCSTR port, LPCSTR entry) {
    const std::size_t portLen = std::strlen(port);
    CHAR* start = nullptr;
    if (std::strncmp(portsWithComma, entry, std::strlen(entry)) == 0) {
        start = ports;
    } else {
        for (CHAR* p = std::strchr(ports, ','); p != nullptr; p = std::strchr(p + 1, ',')) {
            if (std::strncmp(p + 1, port, portLen) == 0 && (p[1 + portLen] == ',' || p[1 + portLen] == '\0')) {
                start = p;
                break;
            }
        }
    }
    if (start == nullptr) return;
    // The element and one comma (before or after it) go; the rest moves
    // down with its terminator.
    std::size_t remove = portLen + 1;
    std::size_t rest = std::strlen(start);
    if (remove > rest) remove = rest;
    std::memmove(start, start + remove, rest - remove + 1);
}

// True when the printer holds at least one job; the level-1 record with its
// strings must fit the fixed 64-byte buffer for the query to succeed.
bool hasJob(HANDLE printer) {
    alignas(8) BYTE jobs[kJobBufferBytes];
    DWORD needed = 0;
    DWORD returned = 0;
    return EnumJobsA(printer, 0, 1, 1, jobs, kJobBufferBytes, &needed, &returned) && returned >= 1;
}

}  // namespace

DWORD getMonitorPortNames(LPSTR** list, DWORD* count) {
    ScopedKey ports;
    *count = 0;
    *list = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_ALL_ACCESS, ports.put());
    // The monitor keeps its ports itself and may never have made the key:
    // no key is no port, not a damaged registry.
    if (rc == ERROR_FILE_NOT_FOUND) return STS_DONE;
    if (rc != ERROR_SUCCESS)
        failPorts("Unable to access Ports subkey in Registry, error = %d.  Please restart ", static_cast<DWORD>(rc));

    *count = 0;
    *list = nullptr;
    CHAR className[256];
    DWORD classChars = sizeof className;
    DWORD n = 0;
    DWORD longest = 0;
    rc = RegQueryInfoKeyA(ports.get(), className, &classChars, nullptr, &n, &longest, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS)
        failPorts("Invalid Ports subkey found in Registry, error = %d.  Please restart ", static_cast<DWORD>(rc));

    // N pointers of the build's width, then N slots of the longest name plus
    // a comma and a NUL.
    const std::size_t slotBytes = static_cast<std::size_t>(longest) + 2;
    const std::size_t pointerBytes = sizeof(LPSTR) * n;
    LPSTR* block = static_cast<LPSTR*>(std::calloc(1, pointerBytes + slotBytes * n + 1));
    if (block == nullptr) failPorts("Unable to access Ports subkey names, error = %d.  Please restart ", ERROR_NOT_ENOUGH_MEMORY);
    CHAR* slots = reinterpret_cast<CHAR*>(block) + pointerBytes;

    for (DWORD i = 0; i < n; ++i) {
        block[i] = slots + slotBytes * i;
        DWORD capacity = longest + 1;
        rc = RegEnumKeyExA(ports.get(), i, block[i], &capacity, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            std::free(block);
            failPorts("Unable to access Ports subkey names, error = %d.  Please restart ", static_cast<DWORD>(rc));
        }
        std::size_t len = std::strlen(block[i]);
        block[i][len] = ',';
        block[i][len + 1] = '\0';
    }

    *list = block;
    *count = n;
    return STS_DONE;
}

void RemovePrinter(PRINTER_INFO_2A* printer, LPCSTR entry) {
    const std::size_t entryLen = std::strlen(entry);
    if (entryLen == 0 || printer == nullptr || printer->pPortName == nullptr) return;
    const std::size_t portsLen = std::strlen(printer->pPortName);

    CBlock<CHAR> port(static_cast<CHAR*>(std::calloc(entryLen, 1)));
    CBlock<CHAR> portsWithComma(static_cast<CHAR*>(std::calloc(portsLen + 2, 1)));
    if (!port || !portsWithComma) return;
    std::memcpy(port.get(), entry, entryLen - 1);
    std::memcpy(portsWithComma.get(), printer->pPortName, portsLen);
    portsWithComma.get()[portsLen] = ',';

    HANDLE handle = nullptr;
    PRINTER_DEFAULTSA defaults;
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;
    if (!OpenPrinterA(printer->pPrinterName, &handle, &defaults)) return;

    // Leaves the printer's security as it is when the record is stored.
    printer->pSecurityDescriptor = nullptr;
    if (!SetPrinterA(handle, 2, reinterpret_cast<LPBYTE>(printer), PRINTER_CONTROL_PAUSE))
        ShowSetupMessage("Remove Printer", "Couldn't pause printer %s (Error = %d)", printer->pPrinterName,
                         GetLastError());

    if (lstrcmpA(printer->pPortName, port.get()) == 0) {
        // The monitor's port is the printer's only one: the printer goes.
        if (hasJob(handle)) {
            if (!SetJobA(handle, 0, 0, nullptr, JOB_CONTROL_RESTART))
                ShowSetupMessage("Remove Printer", "Couldn't restart job 0 on printer %s (Error = %d)",
                                 printer->pPrinterName, GetLastError());
            if (!SetJobA(handle, 0, 0, nullptr, JOB_CONTROL_CANCEL))
                ShowSetupMessage("Remove Printer", "Couldn't cancel job 0 on printer %s (Error = %d)",
                                 printer->pPrinterName, GetLastError());
        }
        if (!SetPrinterA(handle, 2, reinterpret_cast<LPBYTE>(printer), PRINTER_CONTROL_PURGE))
            ShowSetupMessage("Remove Printer", "Couldn't purge printer %s (Error = %d)", printer->pPrinterName,
                             GetLastError());
        if (!DeletePrinter(handle)) {
            ShowSetupMessage("Remove Printer", "Couldn't delete printer %s (Error = %d)", printer->pPrinterName,
                             GetLastError());
            ClosePrinter(handle);
            return;
        }
        printer->pPortName[0] = '\0';
    } else {
        // The printer keeps printing on its other ports.
        if (hasJob(handle)) SetJobA(handle, 0, 0, nullptr, JOB_CONTROL_RESTART);
        removePortFromList(printer->pPortName, portsWithComma.get(), port.get(), entry);
        SetPrinterA(handle, 2, reinterpret_cast<LPBYTE>(printer), 0);
        SetPrinterA(handle, 2, reinterpret_cast<LPBYTE>(printer), PRINTER_CONTROL_RESUME);
    }

    if (!ClosePrinter(handle)) ShowSetupMessage("RemovePrinter", "Couldn't close printer handle (error = %d)", GetLastError());
}
