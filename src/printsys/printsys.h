// Print-system services: the spooler service and its dependents, detection
// of the installed print monitor, termination of Print Manager, the monitor's
// ports and the removal of printers that use them.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

#include <cstddef>

// ---------------------------------------------------------------------------
// Spooler service control
// ---------------------------------------------------------------------------

// The active dependents of the spooler as stopSpooler found them: a 32-bit
// count followed by the records EnumDependentServicesA wrote, followed by the
// strings those records address. The records start at the first offset after
// the count that suits their pointers (4 on a 32-bit build, 8 on a 64-bit
// one). The block lives until the process ends.
struct DependentServiceList {
    DWORD Count;
    ENUM_SERVICE_STATUSA Services[1];
};
// Bytes in front of the records.
constexpr std::size_t kDependentRecordsOffset = offsetof(DependentServiceList, Services);

// Asks the named service to stop and waits while it reports progress (a
// growing check point with a non-zero wait hint), at most 5000 ms per pass.
// STS_DONE once the stop request was accepted, whatever state it reached.
DWORD stopNamedService(SC_HANDLE manager, LPCSTR serviceName);
// Stops every active dependent of "Spooler" (in the order the manager lists
// them), then the spooler itself, waiting its full wait hint per pass; then
// pauses 3000 ms and ends every Print Manager process. Stores the dependents
// (or null when there are none) in *list. STS_DONE only when the spooler
// reached SERVICE_STOPPED. A failing dependents query ends setup.
DWORD stopSpooler(DependentServiceList** list);
// Asks the named service to start; does not wait for it.
DWORD startNamedService(SC_HANDLE manager, LPCSTR serviceName);
// Starts "Spooler", then the dependents in *list from the last to the first,
// and pauses 3000 ms. list may be null or hold null. STS_FAILED (and no
// dependent started) when the spooler's start was refused.
DWORD startSpooler(DependentServiceList** list);
// True when the spooler is running or start-pending; false on any failure.
BOOL isSpoolerRunning(void);

// ---------------------------------------------------------------------------
// Print monitor detection
// ---------------------------------------------------------------------------

// The monitor module of the running platform ("vrdpsmw4.dll" on Windows 95,
// "vrdpsmon.dll" on NT). Always STS_DONE.
DWORD getMonitorDllName(LPCSTR* name);
// Bytes of a monitor key's "driver" value that are read; a longer value
// counts as naming another module.
constexpr DWORD kDriverValueBytes = 16;
// True when the open key's "driver" value, lower-cased, is exactly dllName.
BOOL readDriverValueMatches(HKEY key, LPCSTR dllName);
// True when the subkey's "driver" value, lower-cased, is exactly dllName
// (lower case). A value of 16 bytes or more never matches.
BOOL monitorUsesDriver(HKEY monitors, LPCSTR subkey, LPCSTR dllName);
// True when any subkey of the monitors key uses dllName. A monitors key
// whose information cannot be read ends setup.
BOOL isVrdpsmonInstalled(HKEY monitors, LPCSTR dllName);

// ---------------------------------------------------------------------------
// Print Manager termination (process walk over the performance data)
// ---------------------------------------------------------------------------

// One process as the walk hands it to its callback.
struct ProcessRecord {
    DWORD ThreadCount;
    LONG BasePriority;
    DWORD ProcessId;
    CHAR Name[MAX_PATH];  // ANSI, NUL-terminated; the callback may change it
};
// Nonzero to go on with the walk, 0 to end it.
typedef DWORD (*ProcessCallback)(ProcessRecord* record, LPVOID context);

// The walk's lookup state; each thread has its own.
struct PerfWalkContext {
    LONG IdProcessIndex;
    LONG ThreadCountIndex;
    LONG PriorityBaseIndex;
    DWORD ProcessObjectIndex;
    LPSTR ProcessObjectIndexText;  // LocalAlloc, owned by the walk
    HKEY PerfKey;                  // HKEY_PERFORMANCE_DATA or a remote handle
};
// The calling thread's lookup state.
PerfWalkContext* perfWalkContext(void);

// Terminates every process named PRINTMAN (any case) with exit code 1067.
// A walk that fails ends setup ("Unable to stop Print Manager ...").
DWORD killPrintManager(void);
DWORD KillPrintManagerCallback(ProcessRecord* record, LPVOID context);
// Calls `callback` for each process (or only the one with id `filter` when
// it is not 0). Nonzero when the walk ran; 0 when the performance data is
// missing, cannot be interpreted, or an instance has none of the counters.
DWORD enumProcesses(LPCSTR machine, DWORD filter, ProcessCallback callback, LPVOID context);
// Looks the counter and object indexes up; nonzero when all were found.
BOOL initPerfIndexes(LPCSTR machine);
// The Perflib "Counters" table (GlobalAlloc, caller frees), or null.
LPSTR readCounterNames(LPCSTR machine);
// A LocalAlloc copy of the index text that precedes `name`, or null.
LPSTR findCounterIndexText(LPCSTR table, LPCSTR name);
// The index of `name` as a number, or -1.
LONG findCounterIndex(LPCSTR table, LPCSTR name);
// The number formed by the leading decimal digits of `text`.
DWORD parseIndex(LPCSTR text);
// The performance data block for the object index text `valueName`
// (LocalAlloc, caller frees), or null.
LPBYTE queryPerfData(LPCSTR machine, LPCSTR valueName);

// ---------------------------------------------------------------------------
// Ports and printer removal
// ---------------------------------------------------------------------------

// The monitor's port names: *list receives one block holding *count pointers
// followed by *count slots, slot i holding the name of Ports subkey i, a
// comma and a NUL. The caller frees the block with free(). A monitor key
// without a Ports key has no port: *list null, *count 0. Every failure
// ends setup.
DWORD getMonitorPortNames(LPSTR** list, DWORD* count);
// Detaches `printer` from the port named by `entry` (the name followed by
// one comma): a printer with that port alone is paused, purged and deleted
// and its port string emptied; a printer with more ports loses that port and
// keeps printing. Problems are shown in message boxes.
void RemovePrinter(PRINTER_INFO_2A* printer, LPCSTR entry);
