// Deferred rename through wininit.ini (Windows 95).
#include "install/wininit.h"

#include "setup/setup.h"
#include "sysutil/guards.h"
#include "toolkit/toolkit.h"

#include <cstdio>
#include <cstring>

namespace {

const UINT kWindowsDirChars = 254;
const int kIniPathChars = MAX_PATH;
const std::size_t kLineTextChars = 256;

// Copies `text` into `out`; false when it does not fit.
bool copyText(CHAR (&out)[kLineTextChars], LPCSTR text) {
    std::size_t len = std::strlen(text);
    if (len >= kLineTextChars) return false;
    std::memcpy(out, text, len + 1);
    return true;
}

}  // namespace

int ScheduleWininitRename(LPCSTR key, LPCSTR value) {
    if (key == nullptr || value == nullptr || key[0] == '\0' || value[0] == '\0') return 0;

    // A text that does not fit is refused rather than cut: a shortened path
    // would name another file.
    CHAR keyText[kLineTextChars];
    CHAR valueText[kLineTextChars];
    if (!copyText(keyText, key) || !copyText(valueText, value)) return 0;

    if (!Setup.IsWindows95) return 0;

    CHAR windowsDir[kWindowsDirChars];
    UINT len = GetWindowsDirectoryA(windowsDir, kWindowsDirChars);
    if (len > kWindowsDirChars || len == 0) FailSetup("Windows path string too small");

    CHAR iniPath[kIniPathChars];
    int n = std::snprintf(iniPath, sizeof iniPath, "%s\\wininit.ini", windowsDir);
    if (n < 0 || n >= kIniPathChars) FailSetup("Windows path string too small");

    if (!TkFileExists(iniPath, 3)) {
        ScopedHandle file(CreateFileA(iniPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    TkCreateSysIniKeyValue(iniPath, "rename", keyText, valueText, 1);
    NoteRestartNeeded();
    return 1;
}
