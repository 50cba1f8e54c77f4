// PostScript driver modules for the printer drivers of the package.
#include "install/driverfiles.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winver.h>

#include "install/extract95.h"
#include "install/paths.h"
#include "pages/pages.h"
#include "setup/setup.h"
#include "sysutil/guards.h"

#ifndef ERROR_CANNOT_COPY
#define ERROR_CANNOT_COPY 266L
#endif

namespace {

// Size of the buffer the distribution path is read into.
const DWORD kDistributionPathBytes = 520;

BOOL bothNtModulesIn(LPCSTR dir)
{
    return FileInDirFound(dir, "pscript.dll") && FileInDirFound(dir, "pscrptui.dll");
}

// Copies DriverDir\sub\name up to DriverDir\name. FALSE when a path does not
// fit or the copy fails with an error other than ERROR_ALREADY_EXISTS.
BOOL copyUp(LPCSTR sub, LPCSTR name)
{
    char subDir[PATH_BUFFER_SIZE];
    char from[PATH_BUFFER_SIZE];
    char to[PATH_BUFFER_SIZE];
    if (!JoinPath(subDir, sizeof subDir, Setup.DriverDir, sub) || !JoinPath(from, sizeof from, subDir, name) ||
        !JoinPath(to, sizeof to, Setup.DriverDir, name))
        return FALSE;
    if (CopyFileA(from, to, FALSE))
        return TRUE;
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

// Reads the distribution path the registry records into path (520 bytes).
void readDistributionPath(LPSTR path)
{
    LPCSTR keyPath = Setup.IsWindows95 ? "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup" : "SYSTEM\\Setup";
    LPCSTR valueName = Setup.IsWindows95 ? "SourcePath" : "WinntPath";
    ScopedKey key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, key.put());
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        FailSetup("CopyPSDriverFiles -- Couldn't open dist. path key, Error = %d", (int)error);
    }
    DWORD type = 0;
    DWORD size = kDistributionPathBytes;
    error = RegQueryValueExA(key.get(), valueName, NULL, &type, (LPBYTE)path, &size);
    key.reset();
    if (error != ERROR_SUCCESS || type != REG_SZ) {
        // A value of another type reads as success: report the type mismatch.
        if (error == ERROR_SUCCESS)
            error = ERROR_INVALID_DATA;
        SetLastError((DWORD)error);
        FailSetup("CopyPSDriverFiles -- Couldn't read dist. path, Error = %d", (int)error);
    }
    // A value stored without its terminator still ends inside the buffer.
    if (size >= kDistributionPathBytes)
        size = kDistributionPathBytes - 1;
    path[size] = '\0';
}

}  // namespace

DWORD setupForPPDInstallWin95(DWORD* version)
{
    *version = 1;
    if (!FileInDirFound(Setup.DriverDir, "pscript.drv"))
        CopyPSDriverFiles();
    return STS_DONE;
}

DWORD setupForPPDInstallNT31(DWORD* version)
{
    *version = 1;
    if (!bothNtModulesIn(Setup.DriverDir))
        CopyPSDriverFiles();
    return STS_DONE;
}

DWORD setupForPPDInstallNT35(DWORD* version)
{
    if (bothNtModulesIn(Setup.DriverDir)) {
        *version = 1;
        return STS_DONE;
    }

    // The NT 3.5x spooler keeps the modules in a numbered subdirectory.
    char pattern[PATH_BUFFER_SIZE];
    char found[MAX_PATH];
    found[0] = '\0';
    if (!JoinPath(pattern, sizeof pattern, Setup.DriverDir, "*"))
        return STS_FAILED;
    WIN32_FIND_DATAA entry;
    ScopedFind search(FindFirstFileA(pattern, &entry));
    if (search) {
        do {
            if (entry.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY || entry.cFileName[0] == '.')
                continue;
            char subDir[PATH_BUFFER_SIZE];
            if (!JoinPath(subDir, sizeof subDir, Setup.DriverDir, entry.cFileName))
                continue;
            if (bothNtModulesIn(subDir)) {
                snprintf(found, sizeof found, "%s", entry.cFileName);
                break;
            }
        } while (FindNextFileA(search.get(), &entry));
        search.reset();
    }

    if (found[0] == '\0') {
        CopyPSDriverFiles();
        *version = 1;
        return STS_DONE;
    }
    if (!copyUp(found, "pscript.dll") || !copyUp(found, "pscrptui.dll"))
        return STS_FAILED;
    *version = (DWORD)atoi(found);
    if (*version != 0 || strcmp(found, "0") == 0)
        return STS_DONE;
    SetLastError(ERROR_INVALID_NAME);
    return STS_FAILED;
}

void CopyPSDriverFiles(void)
{
    char path[kDistributionPathBytes];
    readDistributionPath(path);

    for (;;) {
        int ok = 1;
        DistributionPathPage(path);
        if (Setup.IsWindows95) {
            ok = ExtractWin95DriverFiles("pscript.drv", path, Setup.DriverDir);
        } else {
            ok = InstallDriverFile("pscript.dll", path, Setup.DriverDir);
            if (ok)
                ok = InstallDriverFile("pscrptui.dll", path, Setup.DriverDir);
        }
        // The help file is optional: its result does not count.
        if (Setup.IsNT31)
            InstallDriverFile("pscript.hlp", path, Setup.DriverDir);
        if (ok)
            return;
        DriverFilesFailedPage();
    }
}

int InstallDriverFile(LPCSTR fileName, LPCSTR sourceDir, LPCSTR destDir)
{
    // VerInstallFile takes writable texts: hand it copies.
    char name[MAX_PATH];
    char source[PATH_BUFFER_SIZE];
    char dest[PATH_BUFFER_SIZE];
    char current[1] = {'\0'};
    char temporary[MAX_PATH];
    if (lstrlenA(fileName) >= (int)sizeof name || lstrlenA(sourceDir) >= (int)sizeof source ||
        lstrlenA(destDir) >= (int)sizeof dest) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    lstrcpyA(name, fileName);
    lstrcpyA(source, sourceDir);
    lstrcpyA(dest, destDir);
    temporary[0] = '\0';
    UINT temporaryLength = sizeof temporary;

    DWORD result = VerInstallFileA(0, name, name, source, dest, current, temporary, &temporaryLength);
    if (result == 0)
        return 1;
    DWORD error;
    switch (result) {
    case VIF_OUTOFSPACE: error = ERROR_DISK_FULL; break;
    case VIF_ACCESSVIOLATION: error = ERROR_NOACCESS; break;
    case VIF_OUTOFMEMORY: error = ERROR_NOT_ENOUGH_MEMORY; break;
    case VIF_CANNOTREADSRC: error = ERROR_FILE_NOT_FOUND; break;
    default: error = ERROR_CANNOT_COPY; break;
    }
    SetLastError(error);
    return 0;
}
