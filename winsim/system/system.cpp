// Version, environment, directories, error mode, virtual time and the
// local/global heap of the simulated machine.
#include "winsim/files/paths.h"
#include "winsim/system/state.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace winsim {

namespace {

// Copies `text` into (buf, size) with the protocol of GetSystemDirectory:
// on success the length without the NUL; when the buffer is too small the
// size needed including the NUL, buffer untouched.
UINT copyOut(const std::string& text, LPSTR buf, UINT size) {
    if (!buf || size <= text.size()) return (UINT)text.size() + 1;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return (UINT)text.size();
}

// Heap blocks handed out by LocalAlloc/GlobalAlloc (process memory, so it
// outlives the machine installed when the block was allocated).
std::set<void*>& heapBlocks() {
    static std::set<void*> blocks;
    return blocks;
}

HANDLE heapAlloc(const char* call, UINT flags, SIZE_T bytes) {
    if (DWORD e = injectedFault(call)) {
        SetLastError(e);
        return nullptr;
    }
    // Moveable blocks are handed out as fixed ones: nothing here locks them.
    void* p = (flags & LMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    heapBlocks().insert(p);
    return p;
}

HANDLE heapFree(const char* call, HANDLE h) {
    if (DWORD e = injectedFault(call)) {
        SetLastError(e);
        return h;
    }
    if (!h) return nullptr;
    auto it = heapBlocks().find(h);
    if (it == heapBlocks().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return h;
    }
    heapBlocks().erase(it);
    std::free(h);
    return nullptr;
}

void civilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = (unsigned)(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t yy = (std::int64_t)yoe + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = (int)(yy + (m <= 2));
}

}  // namespace

// Expands %NAME% references with the machine's environment (names
// case-insensitive); unknown names and a lone '%' stay as written.
std::string expandEnvironment(const Machine& m, std::string_view src) {
    std::string out;
    std::size_t i = 0;
    while (i < src.size()) {
        char c = src[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        std::size_t close = src.find('%', i + 1);
        if (close == std::string_view::npos) {
            out.append(src.substr(i));
            break;
        }
        std::string_view name = src.substr(i + 1, close - i - 1);
        auto it = name.empty() ? m.environment.end() : m.environment.find(name);
        if (it != m.environment.end()) {
            out += it->second;
        } else {
            out.append(src.substr(i, close - i + 1));
        }
        i = close + 1;
    }
    return out;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

DWORD WINAPI GetVersion(void) { return machine().os.versionWord(); }

// Returns the characters needed including the NUL (the documented count;
// NT 4 is known to report the Unicode byte count instead). A buffer too
// small receives as much as fits, NUL-terminated, as NT's expansion fills
// what it can; the return value then exceeds nSize.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    if (DWORD e = injectedFault("ExpandEnvironmentStringsA", lpSrc ? lpSrc : "")) {
        SetLastError(e);
        return 0;
    }
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string out = expandEnvironment(machine(), lpSrc);
    DWORD needed = (DWORD)out.size() + 1;
    if (lpDst && nSize) {
        std::size_t n = needed <= nSize ? out.size() : nSize - 1;
        std::memcpy(lpDst, out.data(), n);
        lpDst[n] = '\0';
    }
    return needed;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (DWORD e = injectedFault("GetSystemDirectoryA")) return SetLastError(e), 0;
    return copyOut(machine().systemDir, lpBuffer, uSize);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (DWORD e = injectedFault("GetWindowsDirectoryA")) return SetLastError(e), 0;
    return copyOut(machine().windowsDir, lpBuffer, uSize);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    if (DWORD e = injectedFault("GetCurrentDirectoryA")) return SetLastError(e), 0;
    return copyOut(machine().currentDir, lpBuffer, nBufferLength);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    if (DWORD e = injectedFault("SetCurrentDirectoryA", lpPathName ? lpPathName : "")) return SetLastError(e), FALSE;
    if (!lpPathName) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, lpPathName, p)) return SetLastError(e), FALSE;
    if (!p.exists) return SetLastError(ERROR_FILE_NOT_FOUND), FALSE;
    if (!p.isDir) return SetLastError(ERROR_DIRECTORY), FALSE;
    m.currentDir = p.winPath;
    return TRUE;
}

UINT WINAPI SetErrorMode(UINT uMode) {
    SystemState& s = *machine().system;
    UINT old = s.errorMode;
    s.errorMode = uMode;
    return old;
}

void WINAPI Sleep(DWORD dwMilliseconds) { advance(dwMilliseconds); }

DWORD WINAPI GetTickCount(void) { return (DWORD)now(); }

// The clock's local wall time: boot time plus ticks, as stored (no host
// time zone applies).
void WINAPI GetLocalTime(LPSYSTEMTIME st) {
    if (!st) return;
    Machine& m = machine();
    std::int64_t ms = m.bootEpochMs + (std::int64_t)m.tickMs;
    std::int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
    std::int64_t rest = ms - days * 86400000;
    int y;
    unsigned mo, d;
    civilFromDays(days, y, mo, d);
    st->wYear = (WORD)y;
    st->wMonth = (WORD)mo;
    st->wDay = (WORD)d;
    st->wDayOfWeek = (WORD)(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
    st->wHour = (WORD)(rest / 3600000);
    st->wMinute = (WORD)(rest / 60000 % 60);
    st->wSecond = (WORD)(rest / 1000 % 60);
    st->wMilliseconds = (WORD)(rest % 1000);
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) { return heapAlloc("LocalAlloc", uFlags, uBytes); }
HLOCAL WINAPI LocalFree(HLOCAL hMem) { return heapFree("LocalFree", hMem); }
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) { return heapAlloc("GlobalAlloc", uFlags, dwBytes); }
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) { return heapFree("GlobalFree", hMem); }

}  // extern "C"
