// The system calls: environment, current directory, time, injected faults and
// handles, declared modules, wsprintf, and that every declared function exists.
#include "../../windows/gate/gate.h"
#include "winsim/image/image.h"
#include "winsim/system/state.h"
#include "sim.h"

#include <winspool.h>
#include <winsvc.h>
#include <winver.h>

#include <cstring>
#include <thread>

#pragma GCC diagnostic ignored "-Wcast-function-type"

namespace fs = std::filesystem;

namespace {

class System : public sim::MachineTest {
protected:
    void SetUp() override {
        winsim::OsInfo alpha;
        alpha.arch = "alpha";
        make(alpha);
    }
};

// "n text": what a call of the buffer protocol returned, and what it wrote
// into a buffer of `size` bytes filled with 'G', up to the first 'G' left.
template <class Call>
std::string answered(Call call, DWORD size) {
    char buf[128];
    std::memset(buf, 'G', sizeof buf);
    DWORD n = call(buf, size);
    return std::to_string(n) + " " + std::string(buf, std::find(buf, buf + sizeof buf, 'G'));
}

TEST_F(System, ExpandEnvironmentStringsReturnsCharactersNeeded) {
    const char* src = "%SystemRoot%\\system32;%processor_architecture%;%SYSTEMDRIVE%;%NoSuch%;50%;%%";
    const std::string want = "C:\\WINNT35\\system32;alpha;C:;%NoSuch%;50%;%%";
    const std::string n = std::to_string(want.size() + 1);
    auto expand = [&](char* buf, DWORD size) { return ExpandEnvironmentStringsA(src, buf, size); };
    SetLastError(sim::kSentinel);
    EXPECT_EQ(answered(expand, 128), n + " " + want + '\0');
    EXPECT_EQ(ExpandEnvironmentStringsA(src, nullptr, 0), want.size() + 1);
    EXPECT_LASTERROR(ExpandEnvironmentStringsA(nullptr, nullptr, 0), 0u, ERROR_INVALID_PARAMETER);
    // Exactly the size needed fits; one less reports the size needed and
    // writes no further than the buffer.
    EXPECT_EQ(answered(expand, want.size() + 1), n + " " + want + '\0');
    EXPECT_EQ(answered(expand, 10), n + " " + want.substr(0, 9) + '\0');
    EXPECT_EQ(answered([](char* buf, DWORD size) { return ExpandEnvironmentStringsA("", buf, size); }, 128),
              std::string("1 ") + '\0');
    // A name is found by itself where longer names begin with it.
    m().environment = {{"X", "1"}, {"X!", "2"}, {"X!!", "3"}};
    EXPECT_EQ(answered([](char* buf, DWORD size) { return ExpandEnvironmentStringsA("%X%", buf, size); }, 16),
              std::string("2 1") + '\0');
}

TEST_F(System, SetCurrentDirectoryNeedsAnExistingDirectory) {
    fs::create_directories(c / "Dist" / "Disk1");
    hostFile("Dist/file.txt");
    auto current = [](char* buf, DWORD size) { return GetCurrentDirectoryA(size, buf); };
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\dist"));
    EXPECT_EQ(answered(current, 64), std::string("7 C:\\Dist") + '\0');
    ASSERT_TRUE(SetCurrentDirectoryA("disk1\\"));
    EXPECT_FAILS(SetCurrentDirectoryA("C:\\Dist\\missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS(SetCurrentDirectoryA("C:\\Dist\\file.txt"), ERROR_DIRECTORY);
    EXPECT_FAILS(SetCurrentDirectoryA("C:\\nope\\deeper"), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(SetCurrentDirectoryA(nullptr));  // no directory named
    EXPECT_EQ(answered(current, 64), std::string("13 C:\\Dist\\Disk1") + '\0');
    // A path without a drive letter is on the drive of the current directory.
    m().drives['D'] = winsim::Drive{'D', root / "D", 1 << 20, 1 << 20};
    common::writeText(root / "D" / "Top" / "x.txt", "d");
    ASSERT_TRUE(SetCurrentDirectoryA("d:\\top"));
    for (const char* path : {"\\Top\\x.txt", "x.txt"}) EXPECT_EQ(GetFileAttributesA(path), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("C:x.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(System, VirtualClock) {
    // The local time as year-month-day weekday hours:minutes:seconds.milliseconds.
    auto now = [] {
        SYSTEMTIME st;
        std::memset(&st, 0xCC, sizeof st);
        GetLocalTime(&st);
        char text[64];
        std::snprintf(text, sizeof text, "%d-%d-%d %d %d:%d:%d.%d", st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour,
                      st.wMinute, st.wSecond, st.wMilliseconds);
        return std::string(text);
    };
    DWORD t0 = GetTickCount();
    Sleep(1500);
    EXPECT_EQ(GetTickCount() - t0, 1500u);
    winsim::machine().tickMs = 0;
    std::string seen = now() + ", ";  // a Thursday
    Sleep(((16 * 60 + 1) * 60 + 2) * 1000 + 3);  // to the next day, 00:01:02.003
    seen += now() + ", ";
    winsim::machine().bootEpochMs = 951782400000;  // 2000-02-29 00:00:00 (leap day)
    winsim::machine().tickMs = 0;
    EXPECT_EQ(seen + now(), "1996-5-2 4 8:0:0.0, 1996-5-3 5 0:1:2.3, 2000-2-29 2 0:0:0.0");
}

// --- Injected faults and modules.

TEST(Core, FaultsFireOnTheNthCallForTheirTimesAndTarget) {
    auto& m = sim::fresh();
    m.faults.push_back({"Probe", 2, 2, ERROR_DISK_FULL, ""});
    m.faults.push_back({"Open", 1, 0, ERROR_ACCESS_DENIED, "Spooler"});
    EXPECT_EQ(std::vector<DWORD>({winsim::injectedFault("Probe"), winsim::injectedFault("Probe"), winsim::injectedFault("Probe"),
                                  winsim::injectedFault("Probe"), winsim::injectedFault("Other"), winsim::injectedFault("Open", "Other"),
                                  winsim::injectedFault("Open", "SPOOLER")}),
              std::vector<DWORD>({0, ERROR_DISK_FULL, ERROR_DISK_FULL, 0, 0, 0, ERROR_ACCESS_DENIED}));
    DWORD first = sim::kSentinel;
    std::thread([&] { first = GetLastError(); }).join();
    EXPECT_EQ(first, 0u) << "a thread starts with no last error";
    EXPECT_FAILS(CloseHandle((HANDLE)0x1234), ERROR_INVALID_HANDLE);
}

using Modules = sim::MachineTest;

TEST_F(Modules, ImageDeclaresModulesAndExportsMissing) {
    auto declare = [&](const char* json) { winsim::loadSystem(nlohmann::json::parse(json), m()); };
    declare(R"({"modules": {"advapi32.dll": {"missing_exports": ["RegOpenKeyExA", "GetVersion"]},
                            "VERSION": {"missing": true}}})");
    EXPECT_LASTERROR(LoadLibraryA("version.dll"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_LASTERROR(FreeLibrary((HMODULE)0x1234), FALSE, ERROR_MOD_NOT_FOUND);
    HMODULE a = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(a, nullptr);
    EXPECT_LASTERROR(GetProcAddress(a, "RegOpenKeyExA"), nullptr, ERROR_PROC_NOT_FOUND);
    nlohmann::json out;
    winsim::saveSystem(out, m());
    EXPECT_EQ(out, nlohmann::json::parse(R"({"modules": {"ADVAPI32.DLL": {"missing_exports": ["GetVersion", "RegOpenKeyExA"]},
                                                          "VERSION.DLL": {"missing": true}}})"));
    EXPECT_THROW(declare(R"({"modules": {"X.DLL": {"missing_exports": "RegOpenKeyA"}}})"), winsim::ImageError);
}

// --- Character, comparison, formatting and code-page tests (code page 1252).

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
        {f(wsprintfA(buf, "[%s][%.3s][%6s][%-6s][%.5s]", "text", "abcdef", "ab", "ab", "ab")),
         "[text][abc][    ab][ab    ][ab]"},
        {f(wsprintfA(buf, "%c%c %% %s", 'o', 'k', (const char*)nullptr)), "ok % (null)"},
        {f(wsprintfA(buf, "%S", u"a\u03C0\u4E00")), "ap?"},  // wide text by best fit
        {f(wsprintfA(buf, "[%.5d][%.3u][%.4x][%k]", 42, 7u, 42)), "[00042][007][002a][k]"},  // digits at least; a letter of its own
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

// lstrcmp orders as a word sort: by base letter, then accent, then case (lower
// first); punctuation before digits before letters; the hyphen and the
// apostrophe only break ties, and then by byte value.
TEST(Strings, ComparisonsOrderAsWordSort) {
    struct Case {
        const char* a;
        const char* b;
        int cmp;
        int cmpi;
    } cases[] = {
        {"abc", "abc", 0, 0},      {"abc", "ABC", -1, 0},         {"ABD", "abc", 1, 1},
        {"a", "ab", -1, -1},       {"file10", "file9", -1, -1},   {"_", "1", -1, -1},
        {"9", "a", -1, -1},        {"coop", "co-op", -1, -1},     {"co'op", "cop", -1, -1},
        {"a'b", "a-b", -1, -1},    {"e", "\xE9", -1, -1},         {"\xE9", "f", -1, -1},
        {"tb", "\xFE" "a", -1, -1}, {"\xFE", "u", -1, -1},        {"\xFE", "\xDE", -1, 0},
        {nullptr, "a", -1, -1},    {nullptr, nullptr, 0, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " vs " + (c.b ? c.b : "(null)"));
        EXPECT_EQ(lstrcmpA(c.a, c.b), c.cmp);
        EXPECT_EQ(lstrcmpA(c.b, c.a), -c.cmp);
        EXPECT_EQ(lstrcmpiA(c.a, c.b), c.cmpi);
        EXPECT_EQ(lstrcmpiA(c.b, c.a), -c.cmpi);
    }
    char s[] = "ab\xE9\xFE\xFF\x9A\xF7";
    const std::string upper = CharUpperA(s);
    EXPECT_EQ(upper + "|" + CharLowerA(s), "AB\xC9\xDE\x9F\x8A\xF7|ab\xE9\xFE\xFF\x9A\xF7");
    EXPECT_EQ(CharUpperBuffA(s, 2) + CharUpperBuffA(nullptr, 5), 2u);
    EXPECT_EQ((ULONG_PTR)CharUpperA((LPSTR)(ULONG_PTR)0xE7), 0xC7u);  // a character in the pointer
}

TEST(Strings, CodePage1252BothWaysAndRefusedArguments) {
    const char* src = "a\x80\x81\x8A\x9F\xE9";
    WCHAR out[10];
    for (UINT cp : {(UINT)CP_ACP, 1252u}) {
        std::fill(std::begin(out), std::end(out), (WCHAR)0xFFFF);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, src, -1, out, 10), 7);
        EXPECT_EQ(std::u16string((const char16_t*)out, 8),
                  std::u16string({u'a', 0x20AC, 0x81, 0x160, 0x178, 0xE9, 0, 0xFFFF}));
    }
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, src, -1, nullptr, 0), 7);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, src, 3, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "", -1, out, 1), 1);
    EXPECT_EQ(out[0], 0);
    // What 1252 lacks becomes the default character.
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
    // Each refused call returns 0 with its error, and a buffer too small is
    // not written past.
    std::memset(narrow, 'G', sizeof narrow);
    std::fill(std::begin(out), std::end(out), (WCHAR)0xFFFF);
    struct Refused {
        int got;
        DWORD error;
    };
    auto call = [](int r) { return Refused{r, GetLastError()}; };
    auto m2w = [&](UINT cp, DWORD flags, const char* s, int n, WCHAR* o, int size) {
        SetLastError(sim::kSentinel);
        return call(MultiByteToWideChar(cp, flags, s, n, o, size));
    };
    auto w2m = [&](UINT cp, DWORD flags, const WCHAR* s, int n, char* o, int size) {
        SetLastError(sim::kSentinel);
        return call(WideCharToMultiByte(cp, flags, s, n, o, size, nullptr, nullptr));
    };
    winsim::machine().faults.push_back({"WideCharToMultiByte", winsim::machine().callCounts["WideCharToMultiByte"] + 1, 1, ERROR_OUTOFMEMORY, ""});
    const std::pair<Refused, DWORD> refused[] = {
        {w2m(CP_ACP, 0, wide, -1, narrow, 10), ERROR_OUTOFMEMORY},
        {m2w(CP_ACP, 0, src, -1, out, 3), ERROR_INSUFFICIENT_BUFFER},
        {m2w(CP_ACP, 0, src, 0, out, 10), ERROR_INVALID_PARAMETER},
        {m2w(CP_ACP, 0, src, -2, out, 10), ERROR_INVALID_PARAMETER},
        {m2w(CP_ACP, 0, src, -1, out, -1), ERROR_INVALID_PARAMETER},
        {m2w(CP_ACP, 0, src, -1, nullptr, 10), ERROR_INVALID_PARAMETER},
        {m2w(CP_ACP, 0, nullptr, -1, out, 10), ERROR_INVALID_PARAMETER},
        {m2w(932, 0, src, -1, out, 10), ERROR_INVALID_PARAMETER},
        {m2w(CP_ACP, 0x100, src, -1, out, 10), ERROR_INVALID_FLAGS},
        {w2m(CP_ACP, 0, wide, -1, narrow, 2), ERROR_INSUFFICIENT_BUFFER},
        {w2m(CP_ACP, 0, wide, 0, narrow, 10), ERROR_INVALID_PARAMETER},
        {w2m(CP_ACP, 0, wide, -2, narrow, 10), ERROR_INVALID_PARAMETER},
        {w2m(CP_ACP, 0, wide, -1, narrow, -1), ERROR_INVALID_PARAMETER},
        {w2m(CP_ACP, 0, wide, -1, nullptr, 10), ERROR_INVALID_PARAMETER},
        {w2m(CP_ACP, 0, nullptr, -1, narrow, 10), ERROR_INVALID_PARAMETER},
        {w2m(437, 0, wide, -1, narrow, 10), ERROR_INVALID_PARAMETER},
        {w2m(CP_ACP, 0x100, wide, -1, narrow, 10), ERROR_INVALID_FLAGS},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(refused[i].first.got, 0) << "call " << i;
        EXPECT_EQ(refused[i].first.error, refused[i].second) << "call " << i;
    }
    EXPECT_EQ(std::to_string(out[3]) + narrow[2], "65535G");
}

// --- Every Win32 function the program uses is declared with the signature of
// the real headers (checked at compile time by gate.h, which the Windows build
// compiles against the real headers too) and implemented (the table below only
// links when every one exists).

#define SIG(name, result, params) reinterpret_cast<const void*>(&name),
#define SIG_LATER(name, result, params)
const void* const kEveryFunction[] = {
#include "../../windows/gate/signatures.inc"
};
#undef SIG
#undef SIG_LATER

TEST(Declarations, EveryDeclaredFunctionIsImplemented) {
    for (const void* f : kEveryFunction) EXPECT_NE(f, nullptr);
}

}  // namespace
