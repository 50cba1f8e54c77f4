// The registry functions of ADVAPI32 over the machine's registry store.
//
// Results follow NT 3.5x unless the machine is Windows 95, where:
//  - RegDeleteKeyA deletes a key together with its subkeys (NT refuses a key
//    that has subkeys with ERROR_ACCESS_DENIED);
//  - the registry has no security: the access mask of a handle is not
//    checked (declared refusals from the image still apply);
//  - opening a key that already has an open handle returns that same handle
//    with its reference count raised (KB Q137202); RegCloseKey lowers it;
//  - a leading backslash in a subkey name is accepted (NT: ERROR_BAD_PATHNAME);
//  - an invalid key handle gives ERROR_BADKEY (NT: ERROR_INVALID_HANDLE).
// Errors are returned as the LONG result; the last error is left alone.
// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes; the first use of
// it creates that key when the machine lacks it (every real machine has it).
// Creating or deleting a subkey needs no right on the parent handle (NT opens
// the subkey relative to it); setting, deleting, querying and enumerating
// need KEY_SET_VALUE, KEY_QUERY_VALUE or KEY_ENUMERATE_SUB_KEYS on the handle.
// HKEY_PERFORMANCE_DATA answers RegQueryValueExA (through the processes
// family) and RegCloseKey; other calls on it fail with ERROR_INVALID_HANDLE.
// Every function first asks injectedFault() with its own name and the full
// path of the key it works on (HKEY_LOCAL_MACHINE\...).
#include "winsim/processes/perfdata.h"
#include "winsim/registry/state.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace winsim {
namespace {

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr std::uint32_t kClassesRoot = 0x80000000u, kCurrentUser = 0x80000001u, kLocalMachine = 0x80000002u,
                        kUsers = 0x80000003u, kPerformanceData = 0x80000004u, kLastPredefined = 0x80000006u;

RegistryState& reg() { return *machine().registry; }
bool win95() { return machine().os.platform == Platform::Win95; }
LONG badHandle() { return win95() ? ERROR_BADKEY : ERROR_INVALID_HANDLE; }

bool predefined(HKEY h, std::uint32_t& which) {
    // Only the low 32 bits name a predefined key (they are sign-extended LONGs).
    std::uint32_t low = (std::uint32_t)(std::uintptr_t)h;
    if (low < kClassesRoot || low > kLastPredefined) return false;
    if ((std::uintptr_t)h > 0xffffffffu && ((std::uintptr_t)h >> 32) != 0xffffffffu) return false;
    which = low;
    return true;
}

bool isPerfData(HKEY h) {
    std::uint32_t w;
    return predefined(h, w) && w == kPerformanceData;
}

bool isStringType(DWORD t) { return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ; }

// The key behind an open or predefined handle. HKEY_CLASSES_ROOT is
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, created when missing.
LONG resolve(HKEY h, RegKey*& key, REGSAM& access) {
    RegistryState& r = reg();
    std::uint32_t which;
    if (predefined(h, which)) {
        access = KEY_ALL_ACCESS;
        switch (which) {
        case kLocalMachine: key = r.localMachine.get(); return ERROR_SUCCESS;
        case kCurrentUser: key = r.currentUser.get(); return ERROR_SUCCESS;
        case kUsers: key = r.users.get(); return ERROR_SUCCESS;
        case kClassesRoot: {
            std::uint64_t now = registryNow(machine());
            key = r.localMachine->addChild("SOFTWARE", now)->addChild("Classes", now);
            return ERROR_SUCCESS;
        }
        default: return badHandle();
        }
    }
    auto it = r.handles.find((std::uintptr_t)h);
    if (it == r.handles.end()) return badHandle();
    if (it->second.key->deleted) return ERROR_KEY_DELETED;
    key = it->second.key.get();
    access = it->second.access;
    return ERROR_SUCCESS;
}

// Checks that a handle with `access` may do what needs `right`; `write`
// also consults the image's declared refusals.
LONG allowed(RegKey* key, REGSAM access, REGSAM right, bool write) {
    if (!win95() && !(access & right)) return ERROR_ACCESS_DENIED;
    RegistryState& r = reg();
    if (!r.deny.empty()) {
        const RegDenyRule* d = r.denied(*key);
        if (d && (write || d->all)) return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

// The rights an open asks for, with generic rights mapped to key rights;
// fails when a declared refusal covers the key.
LONG grant(RegKey* key, REGSAM sam, REGSAM& granted) {
    REGSAM want = sam & (KEY_ALL_ACCESS | STANDARD_RIGHTS_ALL);
    if (sam & GENERIC_READ) want |= KEY_READ;
    if (sam & GENERIC_WRITE) want |= KEY_WRITE;
    if (sam & GENERIC_EXECUTE) want |= KEY_EXECUTE;
    if (sam & GENERIC_ALL) want |= KEY_ALL_ACCESS;
    RegistryState& r = reg();
    const RegDenyRule* d = r.deny.empty() ? nullptr : r.denied(*key);
    if (d && (d->all || (want & kWriteRights))) return ERROR_ACCESS_DENIED;
    if (sam & MAXIMUM_ALLOWED) want |= d ? KEY_READ : KEY_ALL_ACCESS;
    granted = want;
    return ERROR_SUCCESS;
}

HKEY newHandle(RegKey* key, REGSAM access) {
    RegistryState& r = reg();
    if (win95()) {
        auto it = r.sharedHandles.find(key);
        if (it != r.sharedHandles.end()) {
            auto h = r.handles.find(it->second);
            if (h != r.handles.end()) {
                ++h->second.refs;
                return (HKEY)it->second;
            }
        }
    }
    std::uintptr_t h = r.nextHandle;
    r.nextHandle += 4;
    r.handles.emplace(h, RegistryState::Open{key->shared_from_this(), access, 1});
    if (win95()) r.sharedHandles[key] = h;
    return (HKEY)h;
}

bool nextPart(std::string_view& rest, std::string_view& part) {
    while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
    if (rest.empty()) return false;
    std::size_t cut = rest.find('\\');
    part = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut);
    return true;
}

LONG checkLeadingBackslash(LPCSTR sub) {
    if (sub && sub[0] == '\\' && !win95()) return ERROR_BAD_PATHNAME;
    return ERROR_SUCCESS;
}

// Walks `sub` below `base` without creating anything.
LONG walk(RegKey* base, LPCSTR sub, RegKey*& out) {
    if (LONG e = checkLeadingBackslash(sub)) return e;
    RegKey* k = base;
    std::string_view rest = sub ? std::string_view(sub) : std::string_view();
    std::string_view part;
    while (nextPart(rest, part)) {
        k = k->child(part);
        if (!k) return ERROR_FILE_NOT_FOUND;
    }
    out = k;
    return ERROR_SUCCESS;
}

// Asks for a declared fault of `call` on the key `h`\`sub`. The target path
// is only built when faults are declared.
LONG fault(const char* call, HKEY h, LPCSTR sub = nullptr) {
    Machine& m = machine();
    if (m.faults.empty()) return (LONG)injectedFault(call);
    std::string target;
    std::uint32_t which;
    if (predefined(h, which)) {
        switch (which) {
        case kLocalMachine: target = "HKEY_LOCAL_MACHINE"; break;
        case kCurrentUser: target = "HKEY_CURRENT_USER"; break;
        case kUsers: target = "HKEY_USERS"; break;
        case kClassesRoot: target = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"; break;
        case kPerformanceData: target = "HKEY_PERFORMANCE_DATA"; break;
        default: break;
        }
    } else {
        auto it = m.registry->handles.find((std::uintptr_t)h);
        if (it != m.registry->handles.end() && !it->second.key->deleted) target = it->second.key->path();
    }
    std::string_view rest = sub ? std::string_view(sub) : std::string_view();
    std::string_view part;
    while (nextPart(rest, part)) {
        target += '\\';
        target += part;
    }
    return (LONG)injectedFault(call, target);
}

// Copies a value's data under the RegQueryValueEx buffer protocol. A string
// stored without its terminating NUL gets one when the buffer has room
// (the reported size stays that of the data).
// The size passed in is read before anything is written and the size is
// written last, so a caller may give one variable for the type and the size.
// `room` is the size the caller passed in, read before any out-parameter
// was written.
LONG copyData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD cb, DWORD room) {
    DWORD size = (DWORD)v.data.size();
    LONG result = ERROR_SUCCESS;
    if (data) {
        if (room < size) {
            result = ERROR_MORE_DATA;
        } else {
            if (size) std::memcpy(data, v.data.data(), size);
            if (isStringType(v.type) && size < room && (size == 0 || data[size - 1] != 0)) data[size] = 0;
        }
    }
    if (type) *type = v.type;
    if (cb) *cb = size;
    return result;
}

LONG copyData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD cb) {
    return copyData(v, type, data, cb, cb ? *cb : 0);
}

LONG openKey(HKEY hKey, LPCSTR sub, REGSAM sam, PHKEY result) {
    RegKey* base;
    REGSAM baseAccess;
    if (LONG e = resolve(hKey, base, baseAccess)) return e;
    RegKey* k;
    if (LONG e = walk(base, sub, k)) {
        *result = nullptr;
        return e;
    }
    REGSAM granted;
    if (LONG e = grant(k, sam, granted)) {
        *result = nullptr;
        return e;
    }
    *result = newHandle(k, granted);
    return ERROR_SUCCESS;
}

LONG createKey(HKEY hKey, LPCSTR sub, LPCSTR cls, REGSAM sam, PHKEY result, LPDWORD disposition,
               DWORD options = 0) {
    RegistryState& r = reg();
    RegKey* k;
    REGSAM baseAccess;
    if (LONG e = resolve(hKey, k, baseAccess)) return e;
    if (LONG e = checkLeadingBackslash(sub)) {
        *result = nullptr;
        return e;
    }
    // Creating needs no right on the parent handle (NT opens the new key
    // relative to it); a declared refusal of the new key's place does count.
    std::uint64_t now = registryNow(machine());
    std::string path = r.deny.empty() ? std::string() : k->path();
    std::string_view rest = sub ? std::string_view(sub) : std::string_view();
    std::string_view part;
    bool created = false;
    while (nextPart(rest, part)) {
        RegKey* c = k->child(part);
        if (!r.deny.empty()) {
            path += '\\';
            path += part;
        }
        if (!c) {
            if (!r.deny.empty() && r.deniedPath(path)) {
                *result = nullptr;
                return ERROR_ACCESS_DENIED;
            }
            // NT: below a volatile key only volatile keys; Windows 95 has
            // no volatile keys and ignores the option.
            bool makeVolatile = !win95() && (options & REG_OPTION_VOLATILE);
            if (k->isVolatile && !makeVolatile && !win95()) {
                *result = nullptr;
                return ERROR_CHILD_MUST_BE_VOLATILE;
            }
            c = k->addChild(part, now);
            c->isVolatile = makeVolatile;
            created = true;
            if (rest.find_first_not_of('\\') == std::string_view::npos && cls) c->className = cls;
        } else {
            created = false;
        }
        k = c;
    }
    REGSAM granted;
    if (LONG e = grant(k, sam, granted)) {
        *result = nullptr;
        return e;
    }
    *result = newHandle(k, granted);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG setValue(RegKey* k, LPCSTR name, DWORD type, const BYTE* data, DWORD cb) {
    if (!data && cb) return ERROR_NOACCESS;
    std::vector<BYTE> bytes(data, data + cb);
    // NT converts strings through Unicode: a size that leaves out only the
    // terminating NUL still stores it (the caller's string ends there).
    if (!win95() && isStringType(type) && cb && data[cb - 1] != 0 && data[cb] == 0) bytes.push_back(0);
    k->setValue(name ? name : "", type, std::move(bytes));
    k->lastWrite = registryNow(machine());
    return ERROR_SUCCESS;
}

void toFileTime(std::uint64_t t, PFILETIME ft) {
    ft->dwLowDateTime = (DWORD)(t & 0xffffffffu);
    ft->dwHighDateTime = (DWORD)(t >> 32);
}

}  // namespace
}  // namespace winsim

using namespace winsim;

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (LONG e = fault("RegOpenKeyExA", hKey, lpSubKey)) return e;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    return openKey(hKey, lpSubKey, samDesired, phkResult);
}

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (LONG e = fault("RegOpenKeyA", hKey, lpSubKey)) return e;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    if (!lpSubKey || !*lpSubKey) {
        // No subkey: the caller gets its own handle back (Windows 95 counts
        // one more reference on it).
        if (win95()) {
            auto it = reg().handles.find((std::uintptr_t)hKey);
            if (it != reg().handles.end()) ++it->second.refs;
        }
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return openKey(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (LONG e = fault("RegCreateKeyExA", hKey, lpSubKey)) return e;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    return createKey(hKey, lpSubKey, lpClass, samDesired, phkResult, lpdwDisposition, dwOptions);
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (LONG e = fault("RegCreateKeyA", hKey, lpSubKey)) return e;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    return createKey(hKey, lpSubKey, nullptr, MAXIMUM_ALLOWED, phkResult, nullptr);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (LONG e = fault("RegCloseKey", hKey)) return e;
    std::uint32_t which;
    if (predefined(hKey, which)) return ERROR_SUCCESS;
    RegistryState& r = reg();
    auto it = r.handles.find((std::uintptr_t)hKey);
    if (it == r.handles.end()) return badHandle();
    if (--it->second.refs > 0) return ERROR_SUCCESS;
    auto shared = r.sharedHandles.find(it->second.key.get());
    if (shared != r.sharedHandles.end() && shared->second == it->first) r.sharedHandles.erase(shared);
    r.handles.erase(it);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
    if (LONG e = fault("RegQueryValueExA", hKey)) return e;
    if (isPerfData(hKey)) return queryPerformanceData(lpValueName, lpType, lpData, lpcbData);
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_QUERY_VALUE, false)) return e;
    const RegValue* v = k->findValue(lpValueName ? lpValueName : "");
    if (!v) {
        if (!lpData && lpcbData) *lpcbData = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    return copyData(*v, lpType, lpData, lpcbData);
}

LONG WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData) {
    if (LONG e = fault("RegQueryValueA", hKey, lpSubKey)) return e;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (lpSubKey && *lpSubKey) {
        RegKey* sub;
        if (LONG e = walk(k, lpSubKey, sub)) return e;
        REGSAM granted;
        if (LONG e = grant(sub, KEY_QUERY_VALUE, granted)) return e;
        k = sub;
        access = granted;
    }
    if (LONG e = allowed(k, access, KEY_QUERY_VALUE, false)) return e;
    DWORD cb = lpcbData && *lpcbData > 0 ? (DWORD)*lpcbData : 0;
    LONG e;
    if (const RegValue* v = k->findValue("")) {
        e = copyData(*v, nullptr, (LPBYTE)lpData, lpcbData ? &cb : nullptr);
    } else {
        // A key without a default value reads as the empty string.
        RegValue empty{"", REG_SZ, {0}};
        e = copyData(empty, nullptr, (LPBYTE)lpData, lpcbData ? &cb : nullptr);
    }
    if (lpcbData) *lpcbData = (LONG)cb;
    return e;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (LONG e = fault("RegSetValueExA", hKey)) return e;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_SET_VALUE, true)) return e;
    return setValue(k, lpValueName, dwType, lpData, cbData);
}

LONG WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD) {
    if (LONG e = fault("RegSetValueA", hKey, lpSubKey)) return e;
    if (dwType != REG_SZ || !lpData) return ERROR_INVALID_PARAMETER;
    DWORD cb = (DWORD)std::strlen(lpData) + 1;  // the size argument is ignored
    if (lpSubKey && *lpSubKey) {
        HKEY sub;
        if (LONG e = createKey(hKey, lpSubKey, nullptr, KEY_SET_VALUE, &sub, nullptr)) return e;
        RegKey* k;
        REGSAM access;
        LONG e = resolve(sub, k, access);
        if (!e) e = allowed(k, access, KEY_SET_VALUE, true);
        if (!e) e = setValue(k, nullptr, REG_SZ, (const BYTE*)lpData, cb);
        RegCloseKey(sub);
        return e;
    }
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_SET_VALUE, true)) return e;
    return setValue(k, nullptr, REG_SZ, (const BYTE*)lpData, cb);
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (LONG e = fault("RegEnumKeyExA", hKey)) return e;
    if (lpReserved || !lpName || !lpcchName || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_ENUMERATE_SUB_KEYS, false)) return e;
    RegKey* c = k->subkeyAt(dwIndex);
    if (!c) return ERROR_NO_MORE_ITEMS;
    if (c->name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
    if (lpClass && c->className.size() + 1 > *lpcchClass) return ERROR_MORE_DATA;
    std::memcpy(lpName, c->name.c_str(), c->name.size() + 1);
    *lpcchName = (DWORD)c->name.size();
    if (lpClass) std::memcpy(lpClass, c->className.c_str(), c->className.size() + 1);
    if (lpcchClass) *lpcchClass = (DWORD)c->className.size();
    if (lpftLastWriteTime) toFileTime(c->lastWrite, lpftLastWriteTime);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    if (LONG e = fault("RegEnumKeyA", hKey)) return e;
    if (!lpName) return ERROR_INVALID_PARAMETER;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_ENUMERATE_SUB_KEYS, false)) return e;
    RegKey* c = k->subkeyAt(dwIndex);
    if (!c) return ERROR_NO_MORE_ITEMS;
    if (c->name.size() + 1 > cchName) return ERROR_MORE_DATA;
    std::memcpy(lpName, c->name.c_str(), c->name.size() + 1);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (LONG e = fault("RegEnumValueA", hKey)) return e;
    if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_QUERY_VALUE, false)) return e;
    if (dwIndex >= k->values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& v = k->values[dwIndex];
    // Both sizes are read before anything is written: a caller may give one
    // variable for several of the out-parameters. The name length, then the
    // type, then the data size are written.
    const DWORD nameRoom = *lpcchValueName;
    const DWORD dataRoom = lpcbData ? *lpcbData : 0;
    const bool nameFits = v.name.size() + 1 <= nameRoom;
    const bool dataFits = !lpData || dataRoom >= v.data.size();
    if (!nameFits || !dataFits) {
        // Nothing is copied and the name length stays as passed; the type
        // and the size of the data are reported.
        if (lpType) *lpType = v.type;
        if (lpcbData) *lpcbData = (DWORD)v.data.size();
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
    *lpcchValueName = (DWORD)v.name.size();
    return copyData(v, lpType, lpData, lpcbData, dataRoom);
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                             LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
    if (LONG e = fault("RegQueryInfoKeyA", hKey)) return e;
    if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_QUERY_VALUE, false)) return e;
    LONG result = ERROR_SUCCESS;
    if (lpcchClass) {
        // A buffer of n characters too small for the class gets its first
        // n-1 and a NUL, and the count says n-1; a buffer of none is left
        // alone and the count says 0. Without a buffer, only the length.
        const DWORD room = *lpcchClass;
        DWORD count = (DWORD)k->className.size();
        if (lpClass && room == 0) {
            count = 0;
        } else if (lpClass && count + 1 > room) {
            count = room - 1;
            std::memcpy(lpClass, k->className.data(), count);
            lpClass[count] = '\0';
            result = ERROR_MORE_DATA;
        } else if (lpClass) {
            std::memcpy(lpClass, k->className.c_str(), count + 1);
        }
        *lpcchClass = count;
    }
    DWORD maxSub = 0, maxClass = 0, maxName = 0, maxData = 0;
    if (lpcbMaxSubKeyLen || lpcbMaxClassLen) {
        for (const auto& [n, c] : k->subkeys) {
            maxSub = std::max(maxSub, (DWORD)c->name.size());
            maxClass = std::max(maxClass, (DWORD)c->className.size());
        }
    }
    for (const RegValue& v : k->values) {
        maxName = std::max(maxName, (DWORD)v.name.size());
        // NT keeps strings in Unicode and reports that size even here.
        DWORD size = (DWORD)v.data.size();
        if (!win95() && isStringType(v.type)) size *= 2;
        maxData = std::max(maxData, size);
    }
    if (lpcSubKeys) *lpcSubKeys = (DWORD)k->subkeys.size();
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSub;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = maxClass;
    if (lpcValues) *lpcValues = (DWORD)k->values.size();
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) toFileTime(k->lastWrite, lpftLastWriteTime);
    return result;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (LONG e = fault("RegDeleteKeyA", hKey, lpSubKey)) return e;
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    RegKey* base;
    REGSAM access;
    if (LONG e = resolve(hKey, base, access)) return e;
    RegKey* k;
    if (LONG e = walk(base, lpSubKey, k)) return e;
    std::uint32_t which;
    // Roots (and HKEY_CLASSES_ROOT itself) cannot be deleted.
    if (!k->parent || (k == base && predefined(hKey, which))) return ERROR_ACCESS_DENIED;
    RegistryState& r = reg();
    if (!r.deny.empty()) {
        std::string path = k->path();
        if (r.deniedPath(path)) return ERROR_ACCESS_DENIED;
        if (r.anyRuleWithin(path) && !k->subkeys.empty()) return ERROR_ACCESS_DENIED;
    }
    // NT refuses a key that still has subkeys; Windows 95 deletes the tree.
    if (!win95() && !k->subkeys.empty()) return ERROR_ACCESS_DENIED;
    RegKey* parent = k->parent;
    parent->removeChild(k->name);
    parent->lastWrite = registryNow(machine());
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (LONG e = fault("RegDeleteValueA", hKey)) return e;
    RegKey* k;
    REGSAM access;
    if (LONG e = resolve(hKey, k, access)) return e;
    if (LONG e = allowed(k, access, KEY_SET_VALUE, true)) return e;
    if (!k->deleteValue(lpValueName ? lpValueName : "")) return ERROR_FILE_NOT_FOUND;
    k->lastWrite = registryNow(machine());
    return ERROR_SUCCESS;
}

LONG WINAPI RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    if (LONG e = fault("RegConnectRegistryA", hKey)) return e;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    if (lpMachineName && *lpMachineName) {
        std::string_view name(lpMachineName);
        if (name.substr(0, 2) == "\\\\") name.remove_prefix(2);
        if (!iequals(name, machine().computerName)) return ERROR_BAD_NETPATH;
    }
    // The local registry: the predefined key itself.
    std::uint32_t which;
    if (!predefined(hKey, which)) return badHandle();
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

}  // extern "C"
