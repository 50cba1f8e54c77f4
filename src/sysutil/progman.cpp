// Program Manager commands over DDE, as a client only.
#include "sysutil/progman.h"

#include <cstdio>
#include <cstring>

DWORD ProgmanGroupInstance = 0;
DWORD ProgmanItemInstance = 0;

namespace {

const DWORD kTransactionTimeoutMs = 1000;

// Initialises `*instance` on its first use; false when that fails.
bool ensureInstance(DWORD* instance) {
    if (*instance != 0) return true;
    if (DdeInitializeA(instance, ProgmanDdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        *instance = 0;
        return false;
    }
    return true;
}

// Formats one command into `buffer`; false (nothing to send) when the name
// makes the command longer than the buffer.
bool formatCommand(CHAR (&buffer)[kProgmanCommandChars], const char* format, LPCSTR name) {
    int n = std::snprintf(buffer, sizeof buffer, format, name);
    return n >= 0 && n < kProgmanCommandChars;
}

}  // namespace

HDDEDATA CALLBACK ProgmanDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

BOOL sendProgmanCommand(DWORD instance, LPCSTR command) {
    HSZ progman = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    if (progman == nullptr) return FALSE;

    BOOL accepted = FALSE;
    HCONV conv = DdeConnect(instance, progman, progman, nullptr);
    if (conv != nullptr) {
        DWORD length = static_cast<DWORD>(std::strlen(command) + 1);
        HDDEDATA result = DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<LPSTR>(command)), length, conv,
                                               nullptr, CF_TEXT, XTYP_EXECUTE, kTransactionTimeoutMs, nullptr);
        accepted = result != nullptr;
        DdeDisconnect(conv);
    }
    DdeFreeStringHandle(instance, progman);
    return accepted;
}

BOOL deleteProgmanGroup(LPCSTR group) {
    if (!ensureInstance(&ProgmanGroupInstance)) return FALSE;
    CHAR command[kProgmanCommandChars];
    if (!formatCommand(command, "[DeleteGroup(\"%s\")]", group)) return FALSE;
    return sendProgmanCommand(ProgmanGroupInstance, command);
}

BOOL deleteProgmanItem(LPCSTR item, LPCSTR group) {
    if (!ensureInstance(&ProgmanItemInstance)) return FALSE;
    CHAR command[kProgmanCommandChars];
    if (!formatCommand(command, "[ShowGroup(\"%s\",2)]", group)) return FALSE;
    if (!sendProgmanCommand(ProgmanItemInstance, command)) return FALSE;
    if (!formatCommand(command, "[DeleteItem(\"%s\")]", item)) return FALSE;
    return sendProgmanCommand(ProgmanItemInstance, command);
}
