// Registry tree operations over open keys of the local machine.
#include "sysutil/regtree.h"

#include "printsys/printsys.h"
#include "setup/setup.h"
#include "sysutil/guards.h"

#include <cstdlib>
#include <cstring>

namespace {

// The class name is not used, but the query is given room for one.
const DWORD kClassChars = 1024;

// Creates or opens `name` under `parent` the way every key here is made.
LONG createKey(HKEY parent, LPCSTR name, PHKEY result, LPDWORD disposition) {
    CHAR emptyClass[1] = {'\0'};
    return RegCreateKeyExA(parent, name, 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, result,
                           disposition);
}

// The registry returns its error rather than setting the last error; the
// callers that report a failed query format GetLastError(), so the code is
// made the last error here.
DWORD resultOf(LONG rc) {
    if (rc == ERROR_SUCCESS) return STS_DONE;
    SetLastError(static_cast<DWORD>(rc));
    return STS_FAILED;
}

}  // namespace

DWORD querySubkeyInfo(HKEY key, LPDWORD count, LPDWORD longestName) {
    CHAR className[kClassChars];
    DWORD classChars = kClassChars;
    LONG rc = RegQueryInfoKeyA(key, className, &classChars, nullptr, count, longestName, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
    return resultOf(rc);
}

DWORD queryValueInfo(HKEY key, LPDWORD count, LPDWORD longestName, LPDWORD largestData) {
    CHAR className[kClassChars];
    DWORD classChars = kClassChars;
    LONG rc = RegQueryInfoKeyA(key, className, &classChars, nullptr, nullptr, nullptr, nullptr, count, longestName,
                               largestData, nullptr, nullptr);
    return resultOf(rc);
}

DWORD copyRegValues(HKEY source, HKEY destination) {
    DWORD count = 0, longestName = 0, largestData = 0;
    if (!stsSucceeded(queryValueInfo(source, &count, &longestName, &largestData)) || count == 0) return STS_DONE;

    const DWORD nameChars = longestName + 1;
    const DWORD dataBytes = largestData + 1;
    CBlock<CHAR> name(static_cast<CHAR*>(std::calloc(nameChars, 1)));
    CBlock<BYTE> data(static_cast<BYTE*>(std::calloc(dataBytes, 1)));
    if (!name || !data) return STS_FAILED;

    bool failed = false;
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameLen = nameChars;
        DWORD dataLen = dataBytes;
        DWORD type = 0;
        if (RegEnumValueA(source, i, name.get(), &nameLen, nullptr, &type, data.get(), &dataLen) != ERROR_SUCCESS) {
            failed = true;
            continue;
        }
        // The destination's own value always wins.
        if (RegQueryValueExA(destination, name.get(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) continue;
        if (RegSetValueExA(destination, name.get(), 0, type, data.get(), dataLen) != ERROR_SUCCESS) failed = true;
    }
    return failed ? STS_FAILED : STS_DONE;
}

DWORD copyRegTree(HKEY source, HKEY destination) {
    bool failed = false;
    DWORD count = 0, longest = 0;
    if (stsSucceeded(querySubkeyInfo(source, &count, &longest)) && count > 0) {
        const DWORD nameChars = longest + 1;
        CBlock<CHAR> name(static_cast<CHAR*>(std::calloc(nameChars, 1)));
        if (!name) return STS_FAILED;
        for (DWORD i = 0; i < count; ++i) {
            DWORD nameLen = nameChars;
            if (RegEnumKeyExA(source, i, name.get(), &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                failed = true;
                continue;
            }
            ScopedKey from;
            if (RegOpenKeyExA(source, name.get(), 0, KEY_READ, from.put()) != ERROR_SUCCESS) {
                failed = true;
                continue;
            }
            ScopedKey to;
            DWORD disposition = 0;
            if (createKey(destination, name.get(), to.put(), &disposition) != ERROR_SUCCESS) {
                failed = true;
                continue;
            }
            if (!stsSucceeded(copyRegTree(from.get(), to.get()))) failed = true;
            to.reset();
            from.reset();
        }
    }
    if (!stsSucceeded(copyRegValues(source, destination))) failed = true;
    return failed ? STS_FAILED : STS_DONE;
}

DWORD deleteRegTree(HKEY parent, LPCSTR name) {
    // No name would open the parent itself and delete everything under it.
    if (name == nullptr || name[0] == '\0') return STS_FAILED;
    ScopedKey key;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return STS_FAILED;

    DWORD count = 0, longest = 0;
    if (stsSucceeded(querySubkeyInfo(key.get(), &count, &longest)) && count > 0) {
        const DWORD nameChars = longest + 1;
        CBlock<CHAR> child(static_cast<CHAR*>(std::calloc(nameChars, 1)));
        if (child) {
            // From the highest index down: deleting a key re-indexes only
            // the keys after it, which have been dealt with already.
            for (DWORD i = count; i > 0; --i) {
                DWORD childLen = nameChars;
                if (RegEnumKeyExA(key.get(), i - 1, child.get(), &childLen, nullptr, nullptr, nullptr, nullptr) !=
                    ERROR_SUCCESS)
                    continue;
                deleteRegTree(key.get(), child.get());
            }
        }
    }

    key.reset();
    return RegDeleteKeyA(parent, name) == ERROR_SUCCESS ? STS_DONE : STS_FAILED;
}

DWORD dropAllPrivileges(void) {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return STS_FAILED;
    AdjustTokenPrivileges(token.get(), TRUE, nullptr, 0, nullptr, nullptr);
    return STS_DONE;
}

DWORD FixReg(LPCSTR monitorsPath, LPCSTR monitorName) {
    ScopedKey monitors;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, monitorsPath, 0, KEY_ALL_ACCESS, monitors.put()) != ERROR_SUCCESS)
        return STS_FAILED;

    LPCSTR dllName = nullptr;
    getMonitorDllName(&dllName);

    ScopedKey own;
    DWORD disposition = 0;
    if (createKey(monitors.get(), monitorName, own.put(), &disposition) != ERROR_SUCCESS) return STS_FAILED;

    if (disposition == REG_CREATED_NEW_KEY) {
        if (RegSetValueExA(own.get(), "driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(dllName),
                           static_cast<DWORD>(std::strlen(dllName) + 1)) != ERROR_SUCCESS) {
            dropAllPrivileges();
            return STS_FAILED;
        }
    }

    DWORD count = 0, longest = 0;
    if (!stsSucceeded(querySubkeyInfo(monitors.get(), &count, &longest))) {
        dropAllPrivileges();
        return STS_FAILED;
    }

    const DWORD nameChars = longest + 1;
    CBlock<CHAR> name(static_cast<CHAR*>(std::calloc(nameChars, 1)));
    if (!name) {
        dropAllPrivileges();
        return STS_FAILED;
    }

    // Each of the keys present now is examined once, in enumeration order.
    // A deleted key's successors move down one index, so the index stays
    // where it is after a deletion.
    DWORD index = 0;
    for (DWORD examined = 0; examined < count; ++examined) {
        DWORD nameLen = nameChars;
        if (RegEnumKeyExA(monitors.get(), index, name.get(), &nameLen, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            ++index;
            continue;
        }
        if (lstrcmpiA(name.get(), monitorName) == 0) {
            ++index;
            continue;
        }
        ScopedKey other;
        if (RegOpenKeyExA(monitors.get(), name.get(), 0, KEY_READ, other.put()) != ERROR_SUCCESS) {
            ++index;
            continue;
        }
        if (!readDriverValueMatches(other.get(), dllName)) {
            ++index;
            continue;
        }
        DWORD copied = copyRegTree(other.get(), own.get());
        other.reset();
        if (stsSucceeded(copied) && stsSucceeded(deleteRegTree(monitors.get(), name.get()))) continue;
        ++index;
    }

    name.reset();
    dropAllPrivileges();
    return STS_DONE;
}
