// The two records the package leaves in the registry of the local machine:
// the Files subkey of the print monitor's key (where the package went) and
// the version key (which release is installed, and since when).
#pragma once

#include <windows.h>

// Where the installation flow writes them, under HKEY_LOCAL_MACHINE.
#define FILES_KEY_PATH "System\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port\\Files"
#define VERSION_KEY_PATH "SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion"

// Creates or opens keyPath and sets "Mgmt Sess Key" = "mqtv42" and "Root" =
// root. Returns 1; a key that cannot be created or opened ends setup
// ("Unable to access Registry to set files subkey ..."). The value writes
// are not checked.
int SetFilesKeyInfo(LPCSTR keyPath, LPCSTR root);

// Creates or opens keyPath and sets the release's five texts and
// "Install Date" (local time, "DD-Mon-YYYY hh:mm:ss"). Returns 1; a key
// that cannot be created or opened ends setup ("Unable to access Registry
// to set version ..."). The value writes are not checked.
int SetVersionInfo(LPCSTR keyPath);

// Formats t as "%02d-%s-%4d %02d:%02d:%02d" (day, month abbreviation, year,
// hour, minute, second) into out (at least 32 bytes). A month outside 1..12
// gives "???" rather than reading outside the table.
void FormatInstallDate(const SYSTEMTIME& t, LPSTR out, int capacity);
