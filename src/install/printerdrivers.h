// One PostScript printer driver per key of "PPD Files".
#pragma once

#include <windows.h>
#include <winspool.h>

// Capacity of the driver-name and PPD-file buffers the record points at.
#define DRIVER_NAME_SIZE 64
#define PPD_NAME_SIZE 64

// Fills the fixed fields of the driver record for the platform: environment
// (Windows 95 "Windows 4.0"; NT 3.1x by processor; NT 3.5x null), driver and
// configuration modules, and points pName and pDataFile at the caller's
// buffers of DRIVER_NAME_SIZE and PPD_NAME_SIZE characters. cVersion is left
// as setupForPPDInstall set it.
void FillDriverRecord(DRIVER_INFO_2A* record, LPSTR nameBuffer, LPSTR ppdBuffer);

// Adds one driver per key of "PPD Files" (the key is the driver name, field
// 1 the PPD file): Windows 95 maps long names through Win95DriverNameMap and
// adds a second "/Net" driver for the models of Win95NetDriverNameMap. An old
// driver of the name is deleted first; one that is in use is replaced
// through ReplaceInstalledDriver after the pass. Any other refusal is shown
// ("AddPrinterDriver (%s)failed", caption "Install") and the next key
// follows. On NT 3.5x the PPD files are deleted from DriverDir once the
// spooler has its copies. record must come from FillDriverRecord.
void InstallPrinterDrivers(DRIVER_INFO_2A* record);
