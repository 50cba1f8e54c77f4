// Code page tables and the conversion functions MultiByteToWideChar,
// WideCharToMultiByte and OemToCharA.
#include "winsim/system/codepages.h"

#include "winsim/core/machine.h"

#include <cstring>
#include <string>

namespace winsim {

namespace {

// Code page 1252, bytes 0x80-0x9F (the five bytes without a character map
// to the C1 control of the same value, as Windows does).
const char16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Code page 437, bytes 0x80-0xFF (0x00-0x7F are ASCII: the glyph forms of
// the control range are not used without MB_USEGLYPHCHARS).
const char16_t k437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Best-fit substitutes Windows uses for 1252 where the character itself is
// missing: the characters of code page 437 that 1252 lacks (line drawing,
// Greek, mathematical signs), so that OemToCharA agrees with the two-step
// conversion through Unicode.
struct BestFit {
    char16_t u;
    unsigned char c;
};
const BestFit kBestFit[] = {
    {0x0393, 'G'},  {0x0398, 'T'},  {0x03A3, 'S'},  {0x03A6, 'F'},  {0x03A9, 'O'},  {0x03B1, 'a'},
    {0x03B4, 'd'},  {0x03B5, 'e'},  {0x03C0, 'p'},  {0x03C3, 's'},  {0x03C4, 't'},  {0x03C6, 'f'},
    {0x207F, 'n'},  {0x20A7, 'P'},  {0x2219, 0xB7}, {0x221A, 'v'},  {0x221E, '8'},  {0x2229, 'n'},
    {0x2248, '~'},  {0x2261, '='},  {0x2264, '='},  {0x2265, '='},  {0x2310, 0xAC}, {0x2320, '('},
    {0x2321, ')'},  {0x2500, '-'},  {0x2502, 0xA6}, {0x250C, '+'},  {0x2510, '+'},  {0x2514, '+'},
    {0x2518, '+'},  {0x251C, '+'},  {0x2524, 0xA6}, {0x252C, '-'},  {0x2534, '-'},  {0x253C, '+'},
    {0x2550, '-'},  {0x2551, 0xA6}, {0x2552, '+'},  {0x2553, '+'},  {0x2554, '+'},  {0x2555, '+'},
    {0x2556, '+'},  {0x2557, '+'},  {0x2558, '+'},  {0x2559, '+'},  {0x255A, '+'},  {0x255B, '+'},
    {0x255C, '+'},  {0x255D, '+'},  {0x255E, 0xA6}, {0x255F, 0xA6}, {0x2560, 0xA6}, {0x2561, 0xA6},
    {0x2562, 0xA6}, {0x2563, 0xA6}, {0x2564, '-'},  {0x2565, '-'},  {0x2566, '-'},  {0x2567, '-'},
    {0x2568, '-'},  {0x2569, '-'},  {0x256A, '+'},  {0x256B, '+'},  {0x256C, '+'},  {0x2580, 0xAF},
    {0x2584, '_'},  {0x2588, 0xA6}, {0x258C, 0xA6}, {0x2590, 0xA6}, {0x2591, 0xA6}, {0x2592, 0xA6},
    {0x2593, 0xA6}, {0x25A0, 0xA6},
};

bool supportedCodePage(UINT cp, bool& oem) {
    oem = cp == CP_OEMCP || cp == 437;
    return cp == CP_ACP || cp == 1252 || oem || cp == 3 /* CP_THREAD_ACP */;
}

}  // namespace

char16_t cp1252ToUnicode(unsigned char c) { return (c >= 0x80 && c < 0xA0) ? k1252High[c - 0x80] : c; }
char16_t cp437ToUnicode(unsigned char c) { return c >= 0x80 ? k437High[c - 0x80] : c; }

int unicodeToCp1252(char16_t u, bool bestFit) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
    for (int i = 0; i < 32; ++i)
        if (k1252High[i] == u) return 0x80 + i;
    if (bestFit)
        for (const BestFit& b : kBestFit)
            if (b.u == u) return b.c;
    return -1;
}

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    switch (c) {
        case 0x9A: return 0x8A;  // s caron
        case 0x9C: return 0x8C;  // oe
        case 0x9E: return 0x8E;  // z caron
        case 0xFF: return 0x9F;  // y diaeresis
        default: return c;
    }
}

unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    switch (c) {
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8E: return 0x9E;
        case 0x9F: return 0xFF;
        default: return c;
    }
}

}  // namespace winsim

using namespace winsim;

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (DWORD e = injectedFault("MultiByteToWideChar")) return SetLastError(e), 0;
    bool oem;
    if (!supportedCodePage(CodePage, oem)) return SetLastError(ERROR_INVALID_PARAMETER), 0;
    if (dwFlags & ~(DWORD)(MB_PRECOMPOSED | 0x2 /* MB_COMPOSITE */ | 0x4 /* MB_USEGLYPHCHARS */ | MB_ERR_INVALID_CHARS))
        return SetLastError(ERROR_INVALID_FLAGS), 0;
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar && !lpWideCharStr))
        return SetLastError(ERROR_INVALID_PARAMETER), 0;
    std::size_t len = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : (std::size_t)cbMultiByte;
    if (cchWideChar == 0) return (int)len;
    std::size_t n = len <= (std::size_t)cchWideChar ? len : (std::size_t)cchWideChar;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)lpMultiByteStr[i];
        lpWideCharStr[i] = oem ? cp437ToUnicode(c) : cp1252ToUnicode(c);
    }
    if (n < len) return SetLastError(ERROR_INSUFFICIENT_BUFFER), 0;
    return (int)len;
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    if (DWORD e = injectedFault("WideCharToMultiByte")) return SetLastError(e), 0;
    bool oem;
    if (!supportedCodePage(CodePage, oem) || oem) return SetLastError(ERROR_INVALID_PARAMETER), 0;
    if (dwFlags & ~(DWORD)(WC_COMPOSITECHECK | WC_DEFAULTCHAR | 0x10 /* WC_DISCARDNS */ | 0x20 /* WC_SEPCHARS */ |
                           WC_NO_BEST_FIT_CHARS))
        return SetLastError(ERROR_INVALID_FLAGS), 0;
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte && !lpMultiByteStr))
        return SetLastError(ERROR_INVALID_PARAMETER), 0;
    std::size_t len = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[len]) ++len;
        ++len;
    } else {
        len = (std::size_t)cchWideChar;
    }
    bool bestFit = !(dwFlags & WC_NO_BEST_FIT_CHARS);
    char def = lpDefaultChar ? *lpDefaultChar : '?';
    bool usedDefault = false;
    std::size_t written = 0;
    for (std::size_t i = 0; i < len; ++i) {
        int c = unicodeToCp1252(lpWideCharStr[i], bestFit);
        if (c < 0) {
            c = (unsigned char)def;
            usedDefault = true;
        }
        if (cbMultiByte) {
            if (written == (std::size_t)cbMultiByte) return SetLastError(ERROR_INSUFFICIENT_BUFFER), 0;
            lpMultiByteStr[written] = (char)c;
        }
        ++written;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault;
    return (int)written;
}

BOOL WINAPI OemToCharA(LPCSTR pSrc, LPSTR pDst) {
    if (!pSrc || !pDst) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    for (std::size_t i = 0;; ++i) {
        unsigned char c = (unsigned char)pSrc[i];
        int a = unicodeToCp1252(cp437ToUnicode(c), true);
        pDst[i] = (char)(a < 0 ? '?' : a);
        if (!c) break;
    }
    return TRUE;
}

}  // extern "C"
