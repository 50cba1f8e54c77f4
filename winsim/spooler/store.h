// Registry store of the spooler: the monitor, port, printer and driver
// records, read and written through the Win32 registry functions. Every
// function returns ERROR_SUCCESS or the registry's error.
#pragma once

#include "winsim/spooler/state.h"

#include <string>
#include <vector>

namespace winsim::spool {

// Environments the machine's spooler knows, with their directory names.
struct Environment {
    const char* name;
    const char* dir;  // subdirectory of ...\spool\DRIVERS on NT
};
// The canonical spelling of a known environment (letter case ignored), or
// null when this platform does not know it.
const Environment* findEnvironment(std::string_view name);

// One printer's record; ERROR_FILE_NOT_FOUND when there is no such printer.
DWORD readPrinter(const std::string& name, SpoolPrinter& out);
DWORD deletePrinterKey(const std::string& name);

// Where a port is registered.
struct PortRef {
    std::string monitor;
    std::string port;
    bool localValue = false;  // one of NT's local ports (a value, not a key)
};
DWORD findPort(const std::string& port, PortRef& out, bool& found);
DWORD deletePort(const PortRef& ref);
// Every printer's name with its port list (only the "Port" value is read).
DWORD printerPortLists(std::vector<std::pair<std::string, std::string>>& out);

DWORD readDriver(const std::string& environment, const std::string& name, SpoolDriver& out, bool& found);
DWORD deleteDriverKey(const std::string& environment, const std::string& name);

// True when the monitor key exists.
DWORD monitorExists(const std::string& name, bool& exists);
DWORD writeMonitorKey(const std::string& name, const std::string& module);

// Splits a comma-separated port list into its elements (blanks around an
// element dropped, empty elements skipped).
std::vector<std::string> splitPorts(std::string_view list);

}  // namespace winsim::spool
