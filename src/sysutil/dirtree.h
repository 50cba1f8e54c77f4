// Recursive directory removal with deferred deletion of what is in use.
#pragma once

#include <windows.h>

// Deepest nesting level below the root of a removal.
constexpr int kMaxDirTreeDepth = 10;
// Characters of a wininit.ini line's key or value, terminator included.
constexpr DWORD kWininitTextChars = 256;

// Removes `directory` (with or without a trailing backslash) and everything
// in it; `depth` is 0 for the root of the removal. Names beginning with a dot
// are left alone. A read-only file or directory loses that attribute before
// it is deleted. A file or directory that cannot be deleted now is
// scheduled for deletion at the next start of Windows (deleteAtNextStart).
// Returns STS_DONE; STS_FAILED without touching anything when the path is
// empty or names a drive root at depth 0. A depth above 10 or a path too
// long for the 260-character buffers ends setup.
DWORD removeDirTree(LPCSTR directory, int depth);

// Schedules the deletion of the existing file or directory `path` at the
// next start of Windows: MoveFileEx on NT; on Windows 95 a "nul" line of
// wininit.ini written with the short (8.3) name, which is all the start-up
// processing there understands. Notes the path as left, with `reason`. A path that cannot be scheduled (no short name, a short name too
// long for a wininit.ini line, MoveFileEx refused) is reported in a message
// box and noted as left. TRUE when scheduled.
BOOL deleteAtNextStart(LPCSTR path, LPCSTR reason);

// Clears the read-only attribute of `path` when it is set, so that it can be
// deleted. Nothing happens to a missing path.
void clearReadOnly(LPCSTR path);
