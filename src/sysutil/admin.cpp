// Administrator check over the Win32 security interface.
#include "sysutil/admin.h"

#include <stddef.h>
#include <stdlib.h>

namespace {

// Closes a token handle on every path out of isUserAdmin.
struct TokenGuard {
    HANDLE h = NULL;
    ~TokenGuard() {
        if (h) CloseHandle(h);
    }
};

// Releases the group list on every path.
struct BlockGuard {
    void* p = NULL;
    ~BlockGuard() { free(p); }
};

// Releases the Administrators SID on every path.
struct SidGuard {
    PSID p = NULL;
    ~SidGuard() {
        if (p) FreeSid(p);
    }
};

// Opens the token the access checks of this thread use: the thread's own
// token when it impersonates, else the process token. FALSE on failure.
BOOL openEffectiveToken(HANDLE* token) {
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token)) return TRUE;
    if (GetLastError() != ERROR_NO_TOKEN) return FALSE;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token);
}

}  // namespace

BOOL isUserAdmin(void) {
    TokenGuard token;
    if (!openEffectiveToken(&token.h)) {
        token.h = NULL;
        return FALSE;
    }

    // First query: no buffer, must fail for want of space and give the size.
    DWORD size = 0;
    if (GetTokenInformation(token.h, TokenGroups, NULL, 0, &size)) return FALSE;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return FALSE;

    BlockGuard groups;
    groups.p = calloc(1, size);
    if (!groups.p) return FALSE;
    DWORD got = 0;
    if (!GetTokenInformation(token.h, TokenGroups, groups.p, size, &got)) return FALSE;

    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    SidGuard admins;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, &admins.p)) {
        admins.p = NULL;
        return FALSE;
    }

    // The first entry for Administrators decides; a deny-only entry has
    // SE_GROUP_ENABLED clear and so answers FALSE.
    const TOKEN_GROUPS* list = (const TOKEN_GROUPS*)groups.p;
    if (got > size || size < offsetof(TOKEN_GROUPS, Groups) ||
        list->GroupCount > (size - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES))
        return FALSE;  // a count the block cannot hold: do not walk past it
    for (DWORD i = 0; i < list->GroupCount; ++i) {
        if (EqualSid(list->Groups[i].Sid, admins.p))
            return (list->Groups[i].Attributes & SE_GROUP_ENABLED) != 0 ? TRUE : FALSE;
    }
    return FALSE;
}
