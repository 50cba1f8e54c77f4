// Recursive directory removal.
#include "sysutil/dirtree.h"

#include "install/wininit.h"
#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"
#include "sysutil/leftover.h"
#include "toolkit/toolkit.h"

#include <cstdio>
#include <cstring>

namespace {

const std::size_t kPathChars = MAX_PATH;

[[noreturn]] void failRemoval(const char* firstPiece) {
    DWORD error = GetLastError();
    joinMessage(firstPiece, "system before re-running program.");
    FailSetup(Setup.MessageBuffer, error);
}

// True for "", "\", "C:", "C:\" and the like: no directory below a drive.
bool namesDriveRoot(LPCSTR directory) {
    std::size_t len = std::strlen(directory);
    while (len > 0 && (directory[len - 1] == '\\' || directory[len - 1] == '/')) --len;
    return len == 0 || (len == 2 && directory[1] == ':');
}

}  // namespace

void clearReadOnly(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
    attributes &= ~(DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    SetFileAttributesA(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

BOOL deleteAtNextStart(LPCSTR path, LPCSTR reason) {
    if (!Setup.IsWindows95) {
        if (MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            NoteRestartNeeded();
            noteLeft(path, reason);
            return TRUE;
        }
        DWORD error = GetLastError();
        ShowSetupMessage("Deinstall", "Couldn't delete \"%s\" (error = %d)", path, (int)error);
        CHAR reason[64];
        std::snprintf(reason, sizeof reason, "could not be deleted (error = %d)", (int)error);
        noteLeft(path, reason);
        return FALSE;
    }

    // Windows 95 carries out wininit.ini before long names are available:
    // the line must name the file by its short name.
    CHAR shortPath[kWininitTextChars];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath) {
        DWORD error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        if (length == 0)
            ShowSetupMessage("Deinstall", "Couldn't get the short name of \"%s\" (error = %d)", path, (int)error);
        else
            ShowSetupMessage("Deinstall", "Couldn't schedule \"%s\" for deletion: its short name is longer than %d characters",
                             path, (int)(kWininitTextChars - 1));
        noteLeft(path, length == 0 ? "could not be deleted, no short name for wininit.ini"
                                   : "could not be deleted, short name too long for wininit.ini");
        return FALSE;
    }
    if (!ScheduleWininitRename("nul", shortPath)) {
        ShowSetupMessage("Deinstall", "Couldn't schedule \"%s\" for deletion at the next start", path);
        noteLeft(path, "could not be deleted, not scheduled in wininit.ini");
        return FALSE;
    }
    noteLeft(path, reason);
    return TRUE;
}

DWORD removeDirTree(LPCSTR directory, int depth) {
    // The root of a removal is a directory below a drive, never a whole
    // drive: removing "C:" would take everything on it.
    if (directory == nullptr || (depth == 0 && namesDriveRoot(directory))) return STS_FAILED;
    if (depth > kMaxDirTreeDepth) failRemoval("File deletion failure - recursion overflow.  Please restart ");
    const std::size_t dirLen = std::strlen(directory);
    if (dirLen + 5 > kPathChars) failRemoval("File deletion failure - path too long.  Please restart ");

    const bool endsInSeparator = dirLen > 0 && directory[dirLen - 1] == '\\';
    CHAR pattern[kPathChars];
    std::snprintf(pattern, sizeof pattern, endsInSeparator ? "%s*.*" : "%s\\*.*", directory);
    // Where "*.*" begins: each entry's name is written there.
    const std::size_t namePos = dirLen + (endsInSeparator ? 0 : 1);

    WIN32_FIND_DATAA found;
    ScopedFind search(FindFirstFileA(pattern, &found));
    if (search) {
        do {
            const CHAR* name = found.cFileName;
            const std::size_t nameLen = ::strnlen(name, sizeof found.cFileName);
            if (name[0] == '.') {
                // "." and ".." are the directory itself and its parent; other
                // names with a leading dot are left alone, and keep their
                // directory.
                bool self = nameLen == 1 || (nameLen == 2 && name[1] == '.');
                if (!self && namePos + nameLen + 1 <= kPathChars) {
                    std::memcpy(pattern + namePos, name, nameLen + 1);
                    noteLeft(pattern, "name begins with a dot, not removed");
                }
                continue;
            }
            if (nameLen + namePos + 1 > kPathChars) {
                CHAR what[kPathChars + 8];
                std::snprintf(what, sizeof what, "%s%s%s", directory, endsInSeparator ? "" : "\\", name);
                noteLeft(what, "path too long, not removed");
                continue;
            }

            std::memcpy(pattern + namePos, name, nameLen);
            pattern[namePos + nameLen] = '\0';

            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeDirTree(pattern, depth + 1);
                continue;
            }

            CHAR file[kPathChars];
            std::snprintf(file, sizeof file, endsInSeparator ? "%s%s" : "%s\\%s", directory, name);
            if (TkFileExists(file, 0)) {
                // A read-only file would fail now and at the next start alike.
                clearReadOnly(file);
                TkRemoveFile(file, 0);
                if (TkFileExists(file, 0)) deleteAtNextStart(file, "in use, deleted at the next start");
            }
        } while (FindNextFileA(search.get(), &found));
        search.reset();
    }

    if (TkDirExists(directory)) {
        clearReadOnly(directory);
        if (!RemoveDirectoryA(directory)) deleteAtNextStart(directory, "not empty now, deleted at the next start");
    }
    return STS_DONE;
}
