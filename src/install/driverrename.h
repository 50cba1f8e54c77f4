// Printers whose driver reference must change while the printers stay: off
// the driver names of earlier releases, and around the replacement of a
// driver that is in use.
#pragma once

#include <windows.h>
#include <winspool.h>

// Moves every local printer whose driver name equals (case-sensitively) an
// old name of ObsoleteDriverNameMap to the current name, then deletes the
// old driver in record->pEnvironment (refused while a printer still uses
// it). Spooler failures are passed over; nothing is reported.
void RenameObsoleteDrivers(DRIVER_INFO_2A* record);

// Re-adds driverName with the data file ppdFile while the printers that use
// it are parked, paused, on the driver of the first printer that uses
// another one. Afterwards every parked printer is resumed: on driverName
// again when it could be added, otherwise on the parking driver; a driver
// that cannot be added is reported ("AddPrinterDriver (%s)failed", caption
// "Install"). Nothing changes when no printer uses another driver, or the
// printer list cannot be had. record->pName and pDataFile are the same on
// return as before.
void ReplaceInstalledDriver(LPCSTR ppdFile, LPCSTR driverName, DRIVER_INFO_2A* record);
