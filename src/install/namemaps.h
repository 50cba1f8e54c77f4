// The package's printer-model name tables: the driver names older releases
// used, and the shorter names the Windows 95 spooler needs.
#pragma once

#include <windows.h>

// One (key, driver name) pair of a model-name table. A table ends with a
// pair of null entries.
struct NameMapEntry {
    LPCSTR Key;   // model name as spelled in "PPD Files" (up to 40 characters)
    LPCSTR Name;  // driver name used for it (at most 31 characters)
};

// Windows 95 driver names of long model names (8 pairs).
extern const NameMapEntry Win95DriverNameMap[];
// The second, "/Net" driver that Windows 95 gets for some models (7 pairs).
extern const NameMapEntry Win95NetDriverNameMap[];

// Driver name of an earlier release and the current driver name of the same
// model. The table ends with a pair of empty texts.
#define OBSOLETE_NAME_SIZE 48  // old names are up to 47 characters
#define CURRENT_NAME_SIZE 38   // current names are up to 37 characters
struct ObsoleteDriverName {
    char Old[OBSOLETE_NAME_SIZE];
    char Current[CURRENT_NAME_SIZE];
};
extern const ObsoleteDriverName ObsoleteDriverNameMap[];

// The right-hand name of the first pair whose key equals name ignoring
// letter case, or null when no pair has it.
LPCSTR LookupNameMap(const NameMapEntry* table, LPCSTR name);
