// The install sequence: what one installation does to the machine once the
// copy list is queued.
#pragma once

#include <windows.h>

#define MONITOR_NAME "Varden Network Port"
#define MONITORS_KEY_PATH "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors"
#define PROGRAM_GROUP "Varden Network Printers"

// Detects an installed monitor (sets Setup.MonitorInstalled), makes sure
// the PostScript driver modules are in DriverDir, moves an installed monitor
// module aside (stopping the spooler on NT 3.5x), copies the copy list,
// registers the monitor (AddMonitor, or FixReg on an upgrade), starts the
// spooler again, adds the printer drivers, moves printers off obsolete
// driver names and rebuilds the Program Manager group. Everything it cannot
// survive ends setup; a fatal error while it has the spooler stopped first
// tries once to start the spooler and its dependents again.
void Install(void);
