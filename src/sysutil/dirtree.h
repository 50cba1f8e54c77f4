// Recursive directory removal with deferred deletion of what is in use.
#pragma once

#include <windows.h>

// Deepest nesting level below the root of a removal.
constexpr int kMaxDirTreeDepth = 10;

// Removes `directory` (with or without a trailing backslash) and everything
// in it; `depth` is 0 for the root of the removal. Names beginning with a dot
// are left alone. A file or directory that cannot be deleted now is
// scheduled for deletion at the next start of Windows (MoveFileEx on NT, the
// wininit.ini "rename" section on Windows 95). Returns STS_DONE; a depth
// above 10 or a path too long for the 260-character buffers ends setup.
DWORD removeDirTree(LPCSTR directory, int depth);
