// The operating system's PostScript driver modules in the printer-driver
// directory: found there, copied up from the spooler's version
// subdirectory, or fetched from the Windows distribution.
#pragma once

#include <windows.h>

// Each variant makes sure the platform's modules stand in Setup.DriverDir
// and sets *version to the driver version that goes with them. Status
// STS_DONE or STS_FAILED (tested with stsSucceeded).
//
// Windows 95: pscript.drv; *version = 1. Always STS_DONE.
DWORD setupForPPDInstallWin95(DWORD* version);
// NT 3.1x: pscript.dll and pscrptui.dll; *version = 1. Always STS_DONE.
DWORD setupForPPDInstallNT31(DWORD* version);
// NT 3.5x: when the two modules are not in DriverDir, the first plain
// subdirectory (attributes exactly FILE_ATTRIBUTE_DIRECTORY, name not
// starting with ".") holding both is copied up and *version becomes the
// subdirectory's number. STS_FAILED when a copy fails (other than 183), the
// subdirectory's name is not a number, or a path does not fit its buffer.
// Without such a subdirectory the modules are fetched (CopyPSDriverFiles)
// and *version = 1.
DWORD setupForPPDInstallNT35(DWORD* version);

// Fetches the platform's modules from the Windows distribution into
// DriverDir: asks for the distribution path (page 102 / 1100, offered from
// the registry), fetches, and on failure shows page 103 / 1300 and asks
// again, until the required files are there. A distribution-path key or
// value that cannot be read ends setup.
void CopyPSDriverFiles(void);

// VerInstallFile of fileName from sourceDir into destDir. 1 on success; 0
// with the last error set from the result: VIF_OUTOFSPACE 112,
// VIF_ACCESSVIOLATION 998, VIF_OUTOFMEMORY 8, VIF_CANNOTREADSRC 2, any other
// non-zero result (combinations and warnings too) 266.
int InstallDriverFile(LPCSTR fileName, LPCSTR sourceDir, LPCSTR destDir);
