// GetShortPathNameA and SetFileAttributesA over the simulated machine.
#include "winsim/files/paths.h"
#include "winsim/files/shortnames.h"

#include <windows.h>

#include <cstring>

using namespace winsim;

namespace {

BOOL fail(DWORD e) {
    SetLastError(e);
    return FALSE;
}

}  // namespace

extern "C" {

// The path with every component below the drive replaced by its short
// alias; components that are valid 8.3 names stay as they are on the disk.
// The path must exist. Returns the length without the terminator when it
// fits `cchBuffer`, else the size needed with it (the buffer untouched).
DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (DWORD e = injectedFault("GetShortPathNameA", lpszLongPath ? lpszLongPath : "")) return fail(e), 0;
    if (!lpszLongPath) return fail(ERROR_INVALID_PARAMETER), 0;
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, lpszLongPath, p)) return fail(e), 0;
    if (!p.exists) return fail(ERROR_FILE_NOT_FOUND), 0;
    auto d = m.drives.find(p.drive);
    if (d == m.drives.end()) return fail(ERROR_PATH_NOT_FOUND), 0;
    std::string out = std::string(1, p.drive) + ":";
    std::string dirWin = out + "\\";
    std::filesystem::path host = d->second.host;
    for (std::size_t i = 0; i < p.parts.size(); ++i) {
        out += "\\" + shortAliasOf(m, host, dirWin, p.parts[i]);
        host /= p.parts[i];
        dirWin = (i == 0 ? dirWin : dirWin + "\\") + p.parts[i];
    }
    if (p.parts.empty()) out += "\\";
    if (out.size() >= cchBuffer || !lpszShortPath) return (DWORD)out.size() + 1;
    std::memcpy(lpszShortPath, out.c_str(), out.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)out.size();
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (DWORD e = injectedFault("SetFileAttributesA", lpFileName ? lpFileName : "")) return fail(e);
    if (!lpFileName) return fail(ERROR_PATH_NOT_FOUND);
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, lpFileName, p)) return fail(e);
    if (!p.exists) return fail(ERROR_FILE_NOT_FOUND);
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY;
    DWORD a = dwFileAttributes & settable;
    // NORMAL counts only alone; a directory keeps its own bit.
    if (a & ~(DWORD)FILE_ATTRIBUTE_NORMAL) a &= ~(DWORD)FILE_ATTRIBUTE_NORMAL;
    if (p.isDir) a &= ~(DWORD)FILE_ATTRIBUTE_NORMAL;
    FileMeta& f = metaFor(m, p.winPath);
    if (p.isDir && a == 0)
        f.attributes.reset();
    else
        f.attributes = a;
    pruneMeta(m, p.winPath);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // extern "C"
