// Recursive directory removal.
#include "sysutil/dirtree.h"

#include "install/wininit.h"
#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"
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

// Schedules `path` for deletion at the next start of Windows.
void deleteAtRestart(LPCSTR path) {
    if (Setup.IsWindows95)
        ScheduleWininitRename("nul", path);
    else
        MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

DWORD removeDirTree(LPCSTR directory, int depth) {
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
            if (name[0] == '.') continue;
            const std::size_t nameLen = ::strnlen(name, sizeof found.cFileName);
            if (nameLen + namePos + 1 > kPathChars) continue;

            std::memcpy(pattern + namePos, name, nameLen);
            pattern[namePos + nameLen] = '\0';

            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeDirTree(pattern, depth + 1);
                continue;
            }

            CHAR file[kPathChars];
            std::snprintf(file, sizeof file, endsInSeparator ? "%s%s" : "%s\\%s", directory, name);
            if (TkFileExists(file, 0)) {
                TkRemoveFile(file, 0);
                if (TkFileExists(file, 0)) deleteAtRestart(file);
            }
        } while (FindNextFileA(search.get(), &found));
        search.reset();
    }

    if (TkDirExists(directory) && !RemoveDirectoryA(directory)) deleteAtRestart(directory);
    return STS_DONE;
}
