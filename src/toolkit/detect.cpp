// The detection part of the toolkit access layer: drives, files and
// directories.
#include "toolkit/toolkit.h"

#include "setup/setup.h"

// Drive number of a path's first character: upper-cased, minus 64 (A = 1).
// Characters that are no letters give numbers outside 1..26, which the
// toolkit answers for itself.
static INT DriveNumber(CHAR first)
{
    CharUpperBuffA(&first, 1);
    return (INT)(BYTE)first - 64;
}

BOOL TkIsValidDrive(LPSTR path)
{
    CharUpperBuffA(path, 1);
    return FIsValidDrive(DriveNumber(path[0]));
}

LONG TkDriveFreeBytes(LPCSTR path)
{
    return LcbFreeDrive(DriveNumber(path[0]));
}

void TkListLocalHardDrives(LPCSTR list)
{
    if (!FGetLocalHardDrivesList(list))
        ShowToolkitError(TK_ERROR_FAILED);
}

BOOL TkFileExists(LPCSTR path, INT mode)
{
    if (!FValidPath(path))
        return FALSE;
    return FDoesFileExist(path, mode);
}

BOOL TkDirExists(LPCSTR path)
{
    return FDirExists(path);
}
