// Character, comparison, formatting and code-page tests (code page 1252).
#include "sim.h"

#include <cstring>

namespace {

TEST(Strings, CaseLengthAndCopy) {
    char s[] = "abc xyz \xE0\xE9\xEE\xF5\xFC\xFE \xFF\x9A\x9C\x9E \xF7\xDF\xB5 123";
    const std::string lower = s;
    EXPECT_EQ(CharUpperA(s), s);
    EXPECT_EQ(std::string(s), "ABC XYZ \xC0\xC9\xCE\xD5\xDC\xDE \x9F\x8A\x8C\x8E \xF7\xDF\xB5 123");
    EXPECT_EQ(CharLowerA(s), s);
    EXPECT_EQ(std::string(s), lower);
    // A single character carried in the pointer value.
    EXPECT_EQ(std::vector<ULONG_PTR>({(ULONG_PTR)CharUpperA((LPSTR)(ULONG_PTR)'q'), (ULONG_PTR)CharUpperA((LPSTR)(ULONG_PTR)0xE7),
                                      (ULONG_PTR)CharLowerA((LPSTR)(ULONG_PTR)'Q')}),
              std::vector<ULONG_PTR>({'Q', 0xC7, 'q'}));
    char b[] = "abcdef";
    EXPECT_EQ(CharUpperBuffA(b, 3), 3u);
    EXPECT_STREQ(b, "ABCdef");
    const char* t = "ab";
    EXPECT_EQ(CharNextA(t), t + 1);
    EXPECT_EQ(CharNextA(t + 2), t + 2);
    EXPECT_EQ(lstrlenA(nullptr) + lstrlenA("setup"), 5);
    char buf[8];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(lstrcpyA(buf, "abc"), buf);
    EXPECT_EQ(std::string(buf, 5), std::string("abc\0G", 5));
    EXPECT_EQ(lstrcpyA(buf, nullptr), nullptr);
}

TEST(Strings, ComparisonsOrderAsWordSort) {
    struct Case {
        const char* a;
        const char* b;
        int cmp;
        int cmpi;
    } cases[] = {
        {"abc", "abc", 0, 0},
        {"abc", "ABC", -1, 0},       // lower case first, equal ignoring case
        {"abc", "abd", -1, -1},
        {"ABD", "abc", 1, 1},        // letters compare before case
        {"b", "A", 1, 1},
        {"a", "ab", -1, -1},
        {"file10", "file9", -1, -1}, // not numeric
        {"1abc", "abc", -1, -1},     // digits before letters
        {"_x", "ax", -1, -1},        // punctuation before letters
        {"coop", "co-op", -1, -1},   // the hyphen only breaks ties
        {"co-op", "cop", -1, -1},
        {"e", "\xE9", -1, -1},       // plain letter before the accented one
        {"\xE9", "f", -1, -1},       // accented letter sorts with its base letter
        {"", "a", -1, -1},
        {nullptr, "a", -1, -1},
        {nullptr, nullptr, 0, 0},
    };
    for (auto& c : cases) {
        EXPECT_EQ(lstrcmpA(c.a, c.b), c.cmp) << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
        EXPECT_EQ(lstrcmpA(c.b, c.a), -c.cmp);
        EXPECT_EQ(lstrcmpiA(c.a, c.b), c.cmpi) << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
        EXPECT_EQ(lstrcmpiA(c.b, c.a), -c.cmpi);
    }
}

TEST(Strings, WsprintfFormatsAndStopsAt1024Bytes) {
    struct Case {
        std::string got;
        const char* want;
    };
    char buf[1100];
    auto f = [&](int n) {
        EXPECT_EQ(n, (int)std::strlen(buf));
        return std::string(buf);
    };
    Case cases[] = {
        {f(wsprintfA(buf, "%d|%i|%u", -42, 7, 4000000000u)), "-42|7|4000000000"},
        {f(wsprintfA(buf, "%ld|%lu|%lx|%lX", (LONG)-1, (DWORD)3000000000u, (DWORD)0xBEEF, (DWORD)0xBEEF)),
         "-1|3000000000|beef|BEEF"},
        {f(wsprintfA(buf, "%hd", 70000)), "4464"},
        {f(wsprintfA(buf, "[%5d][%-5d][%05d][%-05d]", 42, 42, -42, 42)), "[   42][42   ][-0042][42   ]"},
        {f(wsprintfA(buf, "%#x %#X %08lx", 255, 255, (DWORD)0xABC)), "0xff 0XFF 00000abc"},
        {f(wsprintfA(buf, "[%s][%.3s][%6s][%-6s]", "text", "abcdef", "ab", "ab")), "[text][abc][    ab][ab    ]"},
        {f(wsprintfA(buf, "%c%c %% %s", 'o', 'k', (const char*)nullptr)), "ok % (null)"},
        {f(wsprintfA(buf, "Install -- AddMonitor failed, error = %d", 1722)),
         "Install -- AddMonitor failed, error = 1722"},
    };
    for (auto& c : cases) EXPECT_EQ(c.got, c.want);
    // At most 1024 bytes with the NUL.
    std::string big(2000, 'x');
    auto capped = [&](const char* format, auto arg) {
        std::memset(buf, 'G', sizeof buf);
        int n = wsprintfA(buf, format, arg);
        return std::to_string(n) + std::string(buf + 1022, 3);
    };
    EXPECT_EQ(capped("%s", big.c_str()), std::string("1023x\0G", 7));
    EXPECT_EQ(capped("%2000d", 5), std::string("1023 \0G", 7));
}

TEST(Strings, OemToCharUsesCodePage437) {
    const unsigned char oem[] = {'A', 0x80, 0x82, 0x84, 0x94, 0x9B, 0x9C, 0xA4, 0xE1, 0xF8, 0xFD,
                                 0xC4, 0xB3, 0xDA, 0xCD, 0xBA, 0xE0, 0xE3, 0xFF, 0};
    const unsigned char ansi[] = {'A', 0xC7, 0xE9, 0xE4, 0xF6, 0xA2, 0xA3, 0xF1, 0xDF, 0xB0, 0xB2,
                                  '-', 0xA6, '+',  '-',  0xA6, 'a',  'p',  0xA0, 0};
    char out[sizeof oem + 1];
    std::memset(out, 'G', sizeof out);
    EXPECT_TRUE(OemToCharA((LPCSTR)oem, out));
    for (std::size_t i = 0; i < sizeof oem; ++i) EXPECT_EQ((unsigned char)out[i], ansi[i]) << "byte " << i;
    EXPECT_EQ(out[sizeof oem], 'G');
    char inPlace[] = "\x82t\x82";
    EXPECT_TRUE(OemToCharA(inPlace, inPlace));
    EXPECT_STREQ(inPlace, "\xE9t\xE9");
}

TEST(Strings, MultiByteToWideCharAndBackWithCodePage1252) {
    const char* src = "a\x80\x81\x8A\x9F\xE9";
    const std::u16string want = {u'a', 0x20AC, 0x0081, 0x0160, 0x0178, 0x00E9, 0, 0xFFFF};
    WCHAR out[10];
    for (UINT cp : {(UINT)CP_ACP, 1252u}) {
        std::fill(std::begin(out), std::end(out), (WCHAR)0xFFFF);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, src, -1, out, 10), 7);
        EXPECT_EQ(std::u16string((const char16_t*)out, 8), want);
    }
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0), 7);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, src, 3, nullptr, 0), 3);
    std::fill(std::begin(out), std::end(out), (WCHAR)0xFFFF);
    EXPECT_LASTERROR(MultiByteToWideChar(CP_ACP, 0, src, -1, out, 3), 0, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(out[3], (WCHAR)0xFFFF);
    EXPECT_LASTERROR(MultiByteToWideChar(CP_ACP, 0, src, 0, out, 10), 0, ERROR_INVALID_PARAMETER);
    EXPECT_LASTERROR(MultiByteToWideChar(932, 0, src, -1, out, 10), 0, ERROR_INVALID_PARAMETER);
    // Back: what the code page lacks becomes the default character.
    const WCHAR wide[] = {u'a', 0x20AC, 0x0153, 0x00FC, 0x0100, 0x4E00, 0}, plain[] = {u'o', u'k', 0};
    char narrow[10];
    std::memset(narrow, 'G', sizeof narrow);
    BOOL used = 0xdead, unused = 0xdead;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, &used), 7);
    EXPECT_EQ(std::string(narrow, 8), std::string("a\x80\x9C\xFC??\0G", 8));
    EXPECT_EQ(WideCharToMultiByte(1252, 0, plain, -1, narrow, sizeof narrow, "#", &unused), 3);
    EXPECT_EQ(std::to_string(used) + std::to_string(unused), "10");
    EXPECT_EQ(WideCharToMultiByte(1252, 0, wide, 6, narrow, sizeof narrow, "#", nullptr), 6);
    EXPECT_EQ(std::string(narrow, 6), "a\x80\x9C\xFC##");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 7);
    std::memset(narrow, 'G', sizeof narrow);
    EXPECT_LASTERROR(WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, 2, nullptr, nullptr), 0, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(narrow[2], 'G');
}

}  // namespace
