// Registry tree operations: sizing queries, merging one tree into another
// without overwriting, deleting a whole tree, and FixReg, which folds every
// other monitor key naming our module into the monitor's own key.
#pragma once

#include <windows.h>

// Number of subkeys and the longest subkey name (characters, no NUL).
DWORD querySubkeyInfo(HKEY key, LPDWORD count, LPDWORD longestName);
// Number of values, the longest value name (characters, no NUL) and the
// largest value data (bytes).
DWORD queryValueInfo(HKEY key, LPDWORD count, LPDWORD longestName, LPDWORD largestData);
// Copies every value of `source` that `destination` lacks; existing values
// in the destination are kept. Goes on after a failure and reports it at the
// end (STS_FAILED).
DWORD copyRegValues(HKEY source, HKEY destination);
// Copies the whole tree under `source` into `destination` (subkeys first,
// then the key's own values), never overwriting a value. Goes on after a
// failure and reports it at the end.
DWORD copyRegTree(HKEY source, HKEY destination);
// Deletes the subkey `name` of `parent` with everything under it, deepest
// keys first and, on each level, the highest index first. STS_DONE when the
// subkey itself is gone; STS_FAILED, with nothing deleted, for a null or
// empty name.
DWORD deleteRegTree(HKEY parent, LPCSTR name);
// Disables every privilege of the process token.
DWORD dropAllPrivileges(void);
// Makes sure the monitor's key `monitorName` exists under the monitors key
// `monitorsPath` (HKEY_LOCAL_MACHINE); a new key gets "driver" = the
// platform's module. Every other monitor key naming that module is merged
// into it and deleted.
DWORD FixReg(LPCSTR monitorsPath, LPCSTR monitorName);
