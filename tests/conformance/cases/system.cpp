// System cases: the version word, directories, environment strings and
// the process token.
#include "conformance/conformance.h"

using conformance::isWin95;

CASE(system, version_word) {
    DWORD v = GetVersion();
    if (isWin95()) {
        CHECK_EQ(v & 0xFF, 4);
        CHECK_EQ((v >> 8) & 0xFF, 0);
    } else {
        CHECK_EQ(v & 0xFF, 3);
        CHECK_EQ((v >> 8) & 0xFF, 51);
        CHECK_EQ(v >> 16, 1057);
    }
}

CASE(system, windows_95_build_in_version_word) {
    // Windows 95 puts its build (950) in the high word under the top bits.
    if (!isWin95()) return;
    CHECK_EQ((GetVersion() >> 16) & 0x3FFF, 950);
}

CASE(system, directory_lengths_and_expansion) {
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    CHECK_EQ(n, lstrlenA(dir));
    CHECK_TRUE(n >= 3 && dir[1] == ':');
    char tiny[2];
    UINT needed = GetSystemDirectoryA(tiny, sizeof tiny);
    char sys[MAX_PATH];
    UINT got = GetSystemDirectoryA(sys, sizeof sys);
    CHECK_EQ(needed, got + 1);  // too small: the size with its NUL
    char out[MAX_PATH];  // a variable that is not set stays as written
    SetLastError(0xdeadbeef);
    CHECK_EQ(ExpandEnvironmentStringsA("x%NO_SUCH_CONF_VAR%y", out, sizeof out), lstrlenA("x%NO_SUCH_CONF_VAR%y") + 1);
    CHECK_STR(out, "x%NO_SUCH_CONF_VAR%y");
}

CASE(system, token_refusals) {
    if (isWin95()) return;  // no tokens on Windows 95
    HANDLE token = nullptr;
    CHECK_FAILS(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token), FALSE, ERROR_NO_TOKEN);  // not impersonating
    LUID luid;
    CHECK_FAILS(LookupPrivilegeValueA(nullptr, "SeNoSuchConformancePrivilege", &luid), FALSE, ERROR_NO_SUCH_PRIVILEGE);
}

// The size query of the token's groups; adjusting privileges sets the last error even on success.
CASE(system, token_groups_and_privileges) {
    if (isWin95()) return;
    HANDLE token = nullptr;
    CHECK_EQ(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token), TRUE);
    if (!token) return;
    DWORD needed = 0;
    CHECK_FAILS(GetTokenInformation(token, TokenGroups, nullptr, 0, &needed), FALSE, ERROR_INSUFFICIENT_BUFFER);
    CHECK_TRUE(needed >= sizeof(TOKEN_GROUPS));
    TOKEN_PRIVILEGES p = {};
    p.PrivilegeCount = 1;
    p.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    CHECK_EQ(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &p.Privileges[0].Luid), TRUE);
    SetLastError(0xdeadbeef);
    CHECK_EQ(AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr), TRUE);
    CHECK_ERROR(ERROR_SUCCESS);
    CloseHandle(token);
}

CASE(system, missing_library_and_export) {
    // Windows 9x has its own code for a missing library.
    CHECK_FAILS(LoadLibraryA("vconfnone.dll"), nullptr, isWin95() ? ERROR_DLL_NOT_FOUND : ERROR_MOD_NOT_FOUND);
    HMODULE k = LoadLibraryA("kernel32.dll");
    CHECK_TRUE(k != nullptr);
    if (!k) return;
    CHECK_FAILS(GetProcAddress(k, "NoSuchConformanceExport"), nullptr, ERROR_PROC_NOT_FOUND);
    FreeLibrary(k);
}
