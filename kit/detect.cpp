// Detection: files, directories, path syntax and drives.
#include "internal.h"

#include <setupkit.h>

namespace kit {

namespace {

// Characters Windows never allows in a file or directory name.
bool badNameChar(char c) {
    return (unsigned char)c < 32 || c == '<' || c == '>' || c == '|' || c == '"' || c == '*' || c == '?';
}

// Path syntax: a drive path (X: or X:\...), a UNC path (\\server\share...)
// or a relative path; no forbidden character, a colon only after the drive
// letter, shorter than MAX_PATH.
bool validPathSyntax(std::string_view p, bool mustBeFull) {
    if (p.empty() || p.size() >= MAX_PATH) return false;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (badNameChar(p[i])) return false;
        if (p[i] == ':' && i != 1) return false;
    }
    bool drive = p.size() >= 2 && p[1] == ':' && ((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z');
    if (p.size() >= 2 && p[1] == ':' && !drive) return false;
    bool unc = p.size() > 2 && p[0] == '\\' && p[1] == '\\' && p[2] != '\\';
    if (mustBeFull && !drive && !unc) return false;
    if (drive && p.size() > 2 && p[2] != '\\' && p[2] != '/' && mustBeFull) return false;
    // No empty name between separators (other than the UNC prefix).
    for (std::size_t i = unc ? 2 : 1; i < p.size(); ++i)
        if ((p[i] == '\\' || p[i] == '/') && (p[i - 1] == '\\' || p[i - 1] == '/')) return false;
    return true;
}

bool driveRoot(INT n, char root[4]) {
    if (n < 1 || n > 26) return false;
    root[0] = (char)('A' + n - 1);
    root[1] = ':';
    root[2] = '\\';
    root[3] = 0;
    return true;
}

bool driveFree(INT n, std::uint64_t& bytes) {
    char root[4];
    if (!driveRoot(n, root)) return false;
    DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
    if (!GetDiskFreeSpaceA(root, &spc, &bps, &freeClusters, &total)) return false;
    bytes = (std::uint64_t)spc * bps * freeClusters;
    return true;
}

bool hardDrive(INT n) {
    char root[4];
    if (!driveRoot(n, root)) return false;
    return GetDriveTypeA(root) == DRIVE_FIXED;
}

}  // namespace

}  // namespace kit

using namespace kit;

extern "C" {

// mode 0: the file exists; 1: it can be read; 2: written; 3: both.
BOOL WINAPI FDoesFileExist(LPCSTR file, INT mode) {
    if (!file || !*file) return FALSE;
    DWORD a = GetFileAttributesA(file);
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return FALSE;
    if (mode <= 0) return TRUE;
    DWORD access = (mode & 1 ? GENERIC_READ : 0) | (mode & 2 ? GENERIC_WRITE : 0);
    HANDLE h = CreateFileA(file, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(h);
    return TRUE;
}

BOOL WINAPI FDirExists(LPCSTR dir) {
    if (!dir || !*dir) return FALSE;
    std::string p(dir);
    while (p.size() > 3 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    return isDirectory(p) ? TRUE : FALSE;
}

BOOL WINAPI FValidPath(LPCSTR path) { return path && validPathSyntax(path, false) ? TRUE : FALSE; }

BOOL WINAPI FValidDir(LPCSTR dir) { return dir && validPathSyntax(dir, true) ? TRUE : FALSE; }

BOOL WINAPI FIsValidDrive(INT n) {
    std::uint64_t b;
    return driveFree(n, b) ? TRUE : FALSE;
}

LONG WINAPI LcbFreeDrive(INT n) {
    std::uint64_t b = 0;
    if (!driveFree(n, b)) return 0;
    return b > 0x7fffffffull ? (LONG)0x7fffffff : (LONG)b;
}

// The local hard drives as "C:" items, in drive order.
BOOL WINAPI FGetLocalHardDrivesList(LPCSTR list) {
    if (!list || !*list) return FALSE;
    auto& items = symbols().get(list);
    items.clear();
    for (INT n = 1; n <= 26; ++n)
        if (hardDrive(n)) items.push_back(std::string(1, (char)('A' + n - 1)) + ":");
    return TRUE;
}

}  // extern "C"
