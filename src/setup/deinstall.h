// The removal of the package (InstallType 4).
#pragma once

#include <windows.h>

// Runs the whole removal up to and including its closing pages. Returns 0
// when WinMain goes on with its end steps, 1 when the printers could not be
// listed: WinMain then returns 1 at once, with no closing page and no end
// step. Fatal failures end setup from inside.
int DeinstallFlow(void);

// Why `root` may not be removed as the installation directory, or null when
// it may: an empty path, one that is not a full path on a drive (a
// relative or network path), a drive root, "." or ".." parts, characters
// no file name holds, a path too long to remove, or the Windows, system or
// printer-driver directory or a directory above one of them.
LPCSTR refuseRemovalRoot(LPCSTR root);
