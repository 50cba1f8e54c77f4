// Character and string functions of code page 1252, and wsprintf.
#include "winsim/core/machine.h"
#include "winsim/system/codepages.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace winsim {

namespace {

// Sort keys for lstrcmp/lstrcmpi, an approximation of Windows' word sort:
//  1. letters compare by base letter ignoring accents and case, after
//     digits, which come after punctuation and symbols; the hyphen and the
//     apostrophe are ignored at this level (so "coop" and "co-op" sort
//     together);
//  2. then accents (the plain letter first);
//  3. then case, lower case first (lstrcmp only);
//  4. then the ignored characters: the string without them first, then by
//     byte value.
struct SortChar {
    int primary;
    int accent;
    int upperCase;
};

// Base letter and accent number of the accented letters of 1252.
void decompose(unsigned char c, unsigned char& base, int& accent) {
    static const char* const kBase =
        // 0xC0-0xDF
        "AAAAAAACEEEEIIIIDNOOOOO\0OUUUUYTs"
        // 0xE0-0xFF
        "aaaaaaaceeeeiiiidnooooo\0ouuuuyty";
    accent = 0;
    base = c;
    if (c >= 0xC0) {
        unsigned char b = (unsigned char)kBase[c - 0xC0];
        if (b) {
            base = b;
            accent = 1 + (c & 0x1F) % 8;
        }
        return;
    }
    switch (c) {
        case 0x8A: base = 'S', accent = 9; break;
        case 0x9A: base = 's', accent = 9; break;
        case 0x8E: base = 'Z', accent = 9; break;
        case 0x9E: base = 'z', accent = 9; break;
        case 0x8C: base = 'O', accent = 10; break;
        case 0x9C: base = 'o', accent = 10; break;
        case 0x9F: base = 'Y', accent = 11; break;
        case 0x83: base = 'f', accent = 12; break;
        default: break;
    }
}

bool ignorable(unsigned char c) { return c == '-' || c == '\''; }

SortChar sortChar(unsigned char c) {
    unsigned char base;
    int accent;
    decompose(c, base, accent);
    SortChar s{0, accent, 0};
    if ((base >= 'a' && base <= 'z') || (base >= 'A' && base <= 'Z')) {
        s.upperCase = base <= 'Z';
        s.primary = 2000 + (std::toupper(base) - 'A') * 4 + (c == 0xDE || c == 0xFE ? 3 : 0);
    } else if (base >= '0' && base <= '9') {
        s.primary = 1000 + (base - '0');
    } else {
        s.primary = c;
    }
    return s;
}

int sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int compareStrings(const char* a, const char* b, bool ignoreCase) {
    if (!a || !b) return a ? 1 : b ? -1 : 0;
    std::vector<SortChar> ka, kb;
    for (const char* p = a; *p; ++p)
        if (!ignorable((unsigned char)*p)) ka.push_back(sortChar((unsigned char)*p));
    for (const char* p = b; *p; ++p)
        if (!ignorable((unsigned char)*p)) kb.push_back(sortChar((unsigned char)*p));
    std::size_t n = ka.size() < kb.size() ? ka.size() : kb.size();
    for (std::size_t i = 0; i < n; ++i)
        if (ka[i].primary != kb[i].primary) return sign(ka[i].primary - kb[i].primary);
    if (ka.size() != kb.size()) return ka.size() < kb.size() ? -1 : 1;
    for (std::size_t i = 0; i < n; ++i)
        if (ka[i].accent != kb[i].accent) return sign(ka[i].accent - kb[i].accent);
    if (!ignoreCase)
        for (std::size_t i = 0; i < n; ++i)
            if (ka[i].upperCase != kb[i].upperCase) return sign(ka[i].upperCase - kb[i].upperCase);
    std::size_t la = std::strlen(a), lb = std::strlen(b);
    if (la != lb) return la < lb ? -1 : 1;
    if (ignoreCase) {
        for (std::size_t i = 0; i < la; ++i) {
            unsigned char x = upper1252((unsigned char)a[i]), y = upper1252((unsigned char)b[i]);
            if (x != y) return x < y ? -1 : 1;
        }
        return 0;
    }
    return sign(std::strcmp(a, b));
}

// wsprintf: the Windows subset (no floating point, no '*' widths); the
// output is limited to 1024 bytes including the terminating NUL.
constexpr std::size_t kWsprintfMax = 1024;

struct Out {
    char* buf;
    std::size_t len = 0;
    void put(char c) {
        if (len < kWsprintfMax - 1) buf[len++] = c;
    }
    void put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) put(s[i]);
    }
    void pad(char c, long n) {
        for (; n > 0; --n) put(c);
    }
};

int formatW(char* buffer, const char* fmt, va_list args) {
    Out out{buffer};
    if (!fmt) {
        buffer[0] = '\0';
        return 0;
    }
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%') {
            out.put(*p);
            continue;
        }
        ++p;
        if (*p == '%') {
            out.put('%');
            continue;
        }
        bool left = false, prefix = false, zero = false;
        for (;; ++p) {
            if (*p == '-')
                left = true;
            else if (*p == '#')
                prefix = true;
            else if (*p == '0')
                zero = true;
            else
                break;
        }
        long width = 0, precision = -1;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        if (width > (long)kWsprintfMax) width = kWsprintfMax;
        if (*p == '.') {
            ++p;
            precision = 0;
            while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
            if (precision > (long)kWsprintfMax) precision = kWsprintfMax;
        }
        bool isShort = false;
        if (*p == 'l' || *p == 'L')
            ++p;  // long is 32 bits, as int
        else if (*p == 'h')
            isShort = true, ++p;
        char type = *p;
        if (!type) break;
        std::string text;
        std::string signText;
        bool numeric = false;
        switch (type) {
            case 'c': text.assign(1, (char)va_arg(args, int)); break;
            case 'C': {
                int c = unicodeToCp1252((char16_t)va_arg(args, int), true);
                text.assign(1, (char)(c < 0 ? '?' : c));
                break;
            }
            case 's': {
                const char* s = va_arg(args, const char*);
                if (!s) s = "(null)";
                std::size_t n = std::strlen(s);
                if (precision >= 0 && (std::size_t)precision < n) n = (std::size_t)precision;
                text.assign(s, n);
                break;
            }
            case 'S': {
                const char16_t* s = va_arg(args, const char16_t*);
                if (!s) s = u"(null)";
                for (; *s && (precision < 0 || (long)text.size() < precision); ++s) {
                    int c = unicodeToCp1252(*s, true);
                    text += (char)(c < 0 ? '?' : c);
                }
                break;
            }
            case 'd':
            case 'i': {
                long long v = va_arg(args, int);
                if (isShort) v = (short)v;
                numeric = true;
                if (v < 0) signText = "-", v = -v;
                text = std::to_string(v);
                break;
            }
            case 'u': {
                unsigned long long v = va_arg(args, unsigned);
                if (isShort) v = (unsigned short)v;
                numeric = true;
                text = std::to_string(v);
                break;
            }
            case 'x':
            case 'X': {
                unsigned v = va_arg(args, unsigned);
                if (isShort) v = (unsigned short)v;
                numeric = true;
                const char* digits = type == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
                do {
                    text.insert(text.begin(), digits[v & 15]);
                    v >>= 4;
                } while (v);
                if (prefix) signText = type == 'x' ? "0x" : "0X";
                break;
            }
            default:
                // An unknown conversion prints its letter.
                text.assign(1, type);
                break;
        }
        if (numeric && precision >= 0 && (long)text.size() < precision)
            text.insert(0, (std::size_t)precision - text.size(), '0');
        long fill = width - (long)(text.size() + signText.size());
        if (left) {
            out.put(signText.data(), signText.size());
            out.put(text.data(), text.size());
            out.pad(' ', fill);
        } else if (zero && numeric) {
            out.put(signText.data(), signText.size());
            out.pad('0', fill);
            out.put(text.data(), text.size());
        } else {
            out.pad(zero ? '0' : ' ', fill);
            out.put(signText.data(), signText.size());
            out.put(text.data(), text.size());
        }
    }
    buffer[out.len] = '\0';
    return (int)out.len;
}

}  // namespace

}  // namespace winsim

using namespace winsim;

extern "C" {

// A pointer whose upper bits are zero carries one character in its low
// byte: that character is converted and returned the same way.
LPSTR WINAPI CharUpperA(LPSTR lpsz) {
    if (((ULONG_PTR)lpsz >> 16) == 0) return (LPSTR)(ULONG_PTR)upper1252((unsigned char)(ULONG_PTR)lpsz);
    for (char* p = lpsz; *p; ++p) *p = (char)upper1252((unsigned char)*p);
    return lpsz;
}

LPSTR WINAPI CharLowerA(LPSTR lpsz) {
    if (((ULONG_PTR)lpsz >> 16) == 0) return (LPSTR)(ULONG_PTR)lower1252((unsigned char)(ULONG_PTR)lpsz);
    for (char* p = lpsz; *p; ++p) *p = (char)lower1252((unsigned char)*p);
    return lpsz;
}

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (!lpsz) return 0;
    for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = (char)upper1252((unsigned char)lpsz[i]);
    return cchLength;
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
    if (!lpsz) return nullptr;
    return (LPSTR)(*lpsz ? lpsz + 1 : lpsz);
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return compareStrings(a, b, false); }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return compareStrings(a, b, true); }
int WINAPI lstrlenA(LPCSTR s) { return s ? (int)std::strlen(s) : 0; }

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    std::memmove(dst, src, std::strlen(src) + 1);
    return dst;
}

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist) {
    if (!lpOut) return 0;
    va_list copy;
    va_copy(copy, arglist);
    int n = formatW(lpOut, lpFmt, copy);
    va_end(copy);
    return n;
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    va_list args;
    va_start(args, lpFmt);
    int n = wvsprintfA(lpOut, lpFmt, args);
    va_end(args);
    return n;
}

}  // extern "C"
