// State of the spooler family of the simulated machine.
//
// Monitors, ports, printers and printer drivers are kept where NT keeps
// them, in the registry under HKLM\SYSTEM\CurrentControlSet\Control\Print,
// and are read and written only through the Win32 registry functions:
//   Monitors\<name>             "Driver" = module name; subkey Ports\<port>
//   Printers\<name>             "Name", "Port" (comma-separated), "Printer Driver",
//                               "Status", "Attributes", "Priority", ...
//   Environments\<env>\Drivers\<name>
//                               "Driver", "Data File", "Configuration File", "Version"
// NT's local ports (LPT1:, COM1:, FILE:) are the values of
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports and belong to the
// "Local Port" monitor.
// What NT does not keep in the registry (queued jobs, printer security
// descriptors) lives here and in the "spooler" section of machine.json;
// open printer handles live here only.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct SpoolJob {
    DWORD id = 0;
    std::string document = "Untitled";
    std::string user = "Administrator";
    std::string machine;           // empty: this computer
    std::string datatype = "RAW";
    std::string statusText;        // JOB_INFO_1.pStatus, empty: none
    DWORD status = 0;              // JOB_STATUS_*
    DWORD priority = 1;
    DWORD totalPages = 1;
    DWORD pagesPrinted = 0;
    std::int64_t submittedMs = 0;  // UTC, ms since 1970
};

// One access-control entry of a printer's security descriptor.
struct SpoolAce {
    std::string sid;   // "S-1-5-32-544"
    BYTE type = 0;     // 0 allowed, 1 denied
    BYTE flags = 0;    // inheritance flags, kept as given
    DWORD mask = 0;
};

struct PrinterSecurity {
    std::string owner = "S-1-5-32-544";
    std::string group = "S-1-5-18";
    bool daclPresent = true;  // false: no DACL, everyone has full access
    std::vector<SpoolAce> dacl;
};

// What a printer carries besides its registry key.
struct PrinterExtra {
    std::vector<SpoolJob> jobs;  // in queue order
    PrinterSecurity security;
};

struct PrinterHandle {
    std::string printer;
    ACCESS_MASK granted = 0;
};

struct SpoolerState {
    // Keyed by printer name (letter case ignored).
    std::map<std::string, PrinterExtra, CaseLess> printers;
    DWORD nextJobId = 1;
    // The groups of the calling user, as SIDs, against which printer
    // security is checked. Stand-in until the security family exposes the
    // process token; an administrator by default.
    std::vector<std::string> callerSids = {"S-1-1-0", "S-1-5-32-544", "S-1-5-32-545", "S-1-5-4"};
    // The monitors the running spooler has loaded (name -> module file
    // name), whether or not their registry keys are still there: the
    // spooler reads the Monitors key when it starts and learns of new
    // monitors only through AddMonitor.
    std::map<std::string, std::string, CaseLess> loadedMonitors;

    // Run time only: printer handles are their own table, apart from the
    // kernel's handles.
    std::map<std::uintptr_t, PrinterHandle> handles;
    std::uintptr_t nextHandle = 0x10000000;
};

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadSpooler(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveSpooler(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show': monitors and their ports, printers
// with ports, driver, status and jobs, drivers per environment. The
// registry part is read from the current machine, so `m` must be it.
void showSpooler(std::ostream& out, const Machine& m);

// --- Monitor modules held by the spooler --------------------------------
// NT loads the monitors while the "Spooler" service runs; Windows 95 from
// its start to the next. A loaded module is a file in use (files family,
// in_use "loaded", loaded_by "spooler"): it cannot be deleted, but on NT it
// can be renamed, and it stays loaded under its new name.

// The spooler starts: every monitor of the registry whose module stands in
// the system directory is loaded. `m` must be the current machine.
void spoolerLoadMonitors(Machine& m);
// The spooler stops: every module it holds is let go.
void spoolerUnloadMonitors(Machine& m);
// AddMonitor: loads one monitor's module (a file in the system directory).
void spoolerLoadMonitor(Machine& m, const std::string& name, const std::string& module);
// Called by the service family when a service settles in a new state.
void spoolerServiceChanged(Machine& m, std::string_view service, DWORD state);

// --- Setting up and inspecting the spooler (tests, images, 'winsim show') --
// These write and read the registry of the current machine through the
// Win32 registry functions; they return ERROR_SUCCESS or a Win32 error.

// The registry key of the print system, under HKEY_LOCAL_MACHINE.
inline constexpr const char* kPrintKey = "SYSTEM\\CurrentControlSet\\Control\\Print";

struct SpoolMonitor {
    std::string name;
    std::string driver;              // module name
    std::vector<std::string> ports;  // registry order
};

struct SpoolPrinter {
    std::string name;
    std::string port;  // comma-separated list
    std::string driver;
    std::string shareName, comment, location, sepFile, parameters;
    std::string printProcessor = "WinPrint";
    std::string datatype = "RAW";
    DWORD attributes = 0, priority = 1, defaultPriority = 0, startTime = 0, untilTime = 0;
    DWORD status = 0;  // PRINTER_STATUS_*
};

struct SpoolDriver {
    std::string name;
    std::string driverPath, dataFile, configFile;  // file names as registered
    DWORD version = 0;
};

// Monitors with their ports (the "Local Port" monitor also gets NT's local ports).
DWORD spoolerMonitors(std::vector<SpoolMonitor>& out);
// Creates or replaces a monitor key with its "Driver" value and the given
// ports as subkeys of its Ports key.
DWORD defineMonitor(const std::string& name, const std::string& module, const std::vector<std::string>& ports);
// All printers, pending deletion included.
DWORD spoolerPrinters(std::vector<SpoolPrinter>& out);
// Creates or replaces a printer's key (no check of ports or driver).
DWORD definePrinter(const SpoolPrinter& p);
// Drivers of one environment ("Windows NT x86", ...).
DWORD spoolerDrivers(const std::string& environment, std::vector<SpoolDriver>& out);
DWORD defineDriver(const std::string& environment, const SpoolDriver& d);
// Queues a job on a printer; returns its id, 0 when there is no such printer.
DWORD addSpoolJob(const std::string& printer, SpoolJob job);
// The jobs queued on a printer (empty when none or no such printer).
std::vector<SpoolJob> spoolJobs(const std::string& printer);
// The printer-driver directory of an environment on this machine, or
// nullopt when the machine does not know the environment. An empty name
// is the machine's own environment.
std::optional<std::string> printerDriverDirectory(const std::string& environment);
// The machine's own environment name ("Windows NT x86", "Windows 4.0", ...).
std::string ownEnvironment();

}  // namespace winsim
