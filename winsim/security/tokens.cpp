// Access tokens, SIDs and privileges: OpenProcessToken, OpenThreadToken,
// GetTokenInformation, AllocateAndInitializeSid, EqualSid, FreeSid,
// LookupPrivilegeValueA, AdjustTokenPrivileges.
//
// Choices where Windows leaves room:
// - Windows 95 has no tokens: the token and privilege calls fail with
//   ERROR_CALL_NOT_IMPLEMENTED there; the SID helpers work on both.
// - Only the current process and thread (pseudo handles) have tokens; another
//   open process handle is refused with ERROR_ACCESS_DENIED.
// - OpenAsSelf does not change the result: the simulated user may always
//   open its own tokens.
// - AdjustTokenPrivileges looks at SE_PRIVILEGE_ENABLED only (NT 3.5x knows
//   no removal of privileges) and reports in PreviousState the privileges whose state
//   it actually changed, with their attributes before the change.
#include "winsim/core/handles.h"
#include "winsim/core/machine.h"
#include "winsim/security/state.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace winsim {
namespace {

std::size_t tokenObjects = 0;

struct TokenObject : KernelObject {
    TokenObject() { ++tokenObjects; }
    ~TokenObject() override { --tokenObjects; }
    std::shared_ptr<Token> token;
    DWORD access = 0;
    bool allows(DWORD want) const { return (access & want) == want; }
};

// Tokens grant whatever the owner asks for; MAXIMUM_ALLOWED gives all rights.
DWORD grantedAccess(DWORD desired) {
    if (desired & MAXIMUM_ALLOWED) desired |= TOKEN_ALL_ACCESS;
    return desired & ~(DWORD)MAXIMUM_ALLOWED;
}

std::set<const void*>& liveSids() {
    static std::set<const void*> s;
    return s;
}

bool validSid(const void* p) {
    if (!p) return false;
    const BYTE* b = static_cast<const BYTE*>(p);
    return b[0] == SID_REVISION && b[1] <= 15;
}

std::size_t sidLength(const void* p) { return 8u + 4u * static_cast<const BYTE*>(p)[1]; }

bool notOnWin95() {
    if (machine().os.isNT()) return true;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

// Opens a handle on `token` for `desired` access into *out.
BOOL openToken(std::shared_ptr<Token> token, DWORD desired, PHANDLE out) {
    auto obj = std::make_shared<TokenObject>();
    obj->token = std::move(token);
    obj->access = grantedAccess(desired);
    *out = addHandle(std::move(obj));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

std::size_t align(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

// Size of the TOKEN_GROUPS block for `groups`: the count, the array, then
// the SIDs packed behind it.
std::size_t groupsSize(const std::vector<TokenGroup>& groups) {
    std::size_t n = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    if (n < sizeof(TOKEN_GROUPS)) n = sizeof(TOKEN_GROUPS);
    n = align(n, sizeof(DWORD));
    for (const auto& g : groups) n += g.sid.size();
    return n;
}

// Writes the block sized by groupsSize into `buf` (suitably aligned).
void writeGroups(const std::vector<TokenGroup>& groups, BYTE* buf) {
    auto* tg = reinterpret_cast<TOKEN_GROUPS*>(buf);
    tg->GroupCount = (DWORD)groups.size();
    std::size_t at = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    if (at < sizeof(TOKEN_GROUPS)) at = sizeof(TOKEN_GROUPS);
    at = align(at, sizeof(DWORD));
    for (std::size_t i = 0; i < groups.size(); ++i) {
        std::memcpy(buf + at, groups[i].sid.data(), groups[i].sid.size());
        tg->Groups[i].Sid = buf + at;
        tg->Groups[i].Attributes = groups[i].attributes;
        at += groups[i].sid.size();
    }
}

std::size_t privilegesSize(std::size_t count) {
    std::size_t n = offsetof(TOKEN_PRIVILEGES, Privileges) + count * sizeof(LUID_AND_ATTRIBUTES);
    return n < sizeof(TOKEN_PRIVILEGES) ? sizeof(TOKEN_PRIVILEGES) : n;
}

void writePrivileges(const std::vector<TokenPrivilege>& privs, BYTE* buf) {
    auto* tp = reinterpret_cast<TOKEN_PRIVILEGES*>(buf);
    tp->PrivilegeCount = (DWORD)privs.size();
    for (std::size_t i = 0; i < privs.size(); ++i) {
        LUID_AND_ATTRIBUTES la;
        la.Luid = *privilegeLuid(privs[i].name);
        la.Attributes = privs[i].attributes;
        std::memcpy(&tp->Privileges[i], &la, sizeof la);
    }
}

std::size_t userSize(const Token& t) { return align(sizeof(TOKEN_USER), sizeof(DWORD)) + t.user.size(); }

void writeUser(const Token& t, BYTE* buf) {
    auto* tu = reinterpret_cast<TOKEN_USER*>(buf);
    std::size_t at = align(sizeof(TOKEN_USER), sizeof(DWORD));
    std::memcpy(buf + at, t.user.data(), t.user.size());
    tu->User.Sid = t.user.empty() ? nullptr : buf + at;
    tu->User.Attributes = 0;
}

}  // namespace

std::size_t allocatedSidCount() { return liveSids().size(); }
std::size_t openTokenCount() { return tokenObjects; }

}  // namespace winsim

using namespace winsim;

namespace winsim {
namespace {
// Only the current process and thread have tokens here: another open handle
// is refused, anything else is not a handle; the result pointer is required.
bool canOpenTokenOf(HANDLE given, HANDLE current, PHANDLE tokenHandle) {
    if (given != current) {
        SetLastError(findHandle(given) ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return false;
    }
    if (!tokenHandle) {
        SetLastError(ERROR_NOACCESS);
        return false;
    }
    return true;
}
}  // namespace
}  // namespace winsim

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (!notOnWin95()) return FALSE;
    if (DWORD e = injectedFault("OpenProcessToken")) {
        SetLastError(e);
        return FALSE;
    }
    if (!canOpenTokenOf(ProcessHandle, currentProcessHandle(), TokenHandle)) return FALSE;
    return openToken(machine().security->processToken(), DesiredAccess, TokenHandle);
}

BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf, PHANDLE TokenHandle) {
    if (!notOnWin95()) return FALSE;
    if (DWORD e = injectedFault("OpenThreadToken")) {
        SetLastError(e);
        return FALSE;
    }
    if (!canOpenTokenOf(ThreadHandle, currentThreadHandle(), TokenHandle)) return FALSE;
    auto token = machine().security->threadToken();
    if (!token) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    return openToken(std::move(token), DesiredAccess, TokenHandle);
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength, PDWORD ReturnLength) {
    if (!notOnWin95()) return FALSE;
    if (DWORD e = injectedFault("GetTokenInformation")) {
        SetLastError(e);
        return FALSE;
    }
    auto obj = findHandleAs<TokenObject>(TokenHandle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!obj->allows(TOKEN_QUERY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!ReturnLength) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const Token& t = *obj->token;
    std::size_t need;
    std::size_t alignment;
    switch (TokenInformationClass) {
        case TokenUser:
            need = userSize(t);
            alignment = alignof(TOKEN_USER);
            break;
        case TokenGroups:
            need = groupsSize(t.groups);
            alignment = alignof(TOKEN_GROUPS);
            break;
        case TokenPrivileges:
            need = privilegesSize(t.privileges.size());
            alignment = alignof(TOKEN_PRIVILEGES);
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    *ReturnLength = (DWORD)need;
    if (!TokenInformation || TokenInformationLength < need) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The block holds pointers: a misaligned buffer cannot take it.
    if (reinterpret_cast<std::uintptr_t>(TokenInformation) % alignment != 0) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    BYTE* buf = static_cast<BYTE*>(TokenInformation);
    switch (TokenInformationClass) {
        case TokenUser: writeUser(t, buf); break;
        case TokenGroups: writeGroups(t.groups, buf); break;
        default: writePrivileges(t.privileges, buf); break;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                                     DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4, DWORD nSubAuthority5,
                                     DWORD nSubAuthority6, DWORD nSubAuthority7, PSID* pSid) {
    if (DWORD e = injectedFault("AllocateAndInitializeSid")) {
        SetLastError(e);
        return FALSE;
    }
    if (nSubAuthorityCount > 8) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    if (!pIdentifierAuthority || !pSid) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const DWORD subs[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                           nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    std::size_t len = 8u + 4u * nSubAuthorityCount;
    BYTE* sid = static_cast<BYTE*>(std::calloc(1, len < sizeof(SID) ? sizeof(SID) : len));
    if (!sid) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    sid[0] = SID_REVISION;
    sid[1] = nSubAuthorityCount;
    std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
    std::memcpy(sid + 8, subs, 4u * nSubAuthorityCount);
    liveSids().insert(sid);
    *pSid = sid;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    if (!validSid(pSid1) || !validSid(pSid2)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    std::size_t n = sidLength(pSid1);
    return n == sidLength(pSid2) && std::memcmp(pSid1, pSid2, n) == 0;
}

// Returns null on success; a pointer that AllocateAndInitializeSid did not
// hand out (or that was freed already) is returned unchanged, as a failure.
PVOID WINAPI FreeSid(PSID pSid) {
    if (!pSid) return nullptr;
    auto& live = liveSids();
    auto it = live.find(pSid);
    if (it == live.end()) return pSid;
    live.erase(it);
    std::free(pSid);
    return nullptr;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (!notOnWin95()) return FALSE;
    if (DWORD e = injectedFault("LookupPrivilegeValueA")) {
        SetLastError(e);
        return FALSE;
    }
    if (lpSystemName && *lpSystemName) {
        std::string_view sys = lpSystemName;
        while (!sys.empty() && sys.front() == '\\') sys.remove_prefix(1);
        if (!iequals(sys, machine().computerName)) {
            SetLastError(RPC_S_SERVER_UNAVAILABLE);
            return FALSE;
        }
    }
    if (!lpName || !lpLuid) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    auto luid = privilegeLuid(lpName);
    if (!luid) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    *lpLuid = *luid;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
    if (!notOnWin95()) return FALSE;
    if (DWORD e = injectedFault("AdjustTokenPrivileges")) {
        SetLastError(e);
        return FALSE;
    }
    auto obj = findHandleAs<TokenObject>(TokenHandle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!obj->allows(TOKEN_ADJUST_PRIVILEGES) || (PreviousState && !obj->allows(TOKEN_QUERY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!DisableAllPrivileges && !NewState) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (PreviousState && !ReturnLength) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    Token& t = *obj->token;

    // Work out every change first: with too small a PreviousState buffer
    // nothing may change.
    struct Change {
        TokenPrivilege* privilege;
        DWORD newAttributes;
    };
    std::vector<Change> changes;
    bool notAll = false;
    if (DisableAllPrivileges) {
        for (auto& p : t.privileges)
            if (p.enabled()) changes.push_back({&p, p.attributes & ~(DWORD)SE_PRIVILEGE_ENABLED});
    } else {
        for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
            LUID_AND_ATTRIBUTES la;
            std::memcpy(&la, &NewState->Privileges[i], sizeof la);
            const char* name = privilegeName(la.Luid);
            TokenPrivilege* p = name ? t.findPrivilege(name) : nullptr;
            if (!p) {
                notAll = true;
                continue;
            }
            DWORD next = (p->attributes & ~(DWORD)SE_PRIVILEGE_ENABLED) | (la.Attributes & SE_PRIVILEGE_ENABLED);
            if (next != p->attributes) changes.push_back({p, next});
        }
    }

    if (PreviousState) {
        std::size_t need = privilegesSize(changes.size());
        *ReturnLength = (DWORD)need;
        if (BufferLength < need) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::vector<TokenPrivilege> before;
        for (const auto& c : changes) before.push_back(*c.privilege);
        writePrivileges(before, reinterpret_cast<BYTE*>(PreviousState));
    }

    for (const auto& c : changes) c.privilege->attributes = c.newAttributes;

    SetLastError(notAll ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
    return TRUE;
}

}  // extern "C"
