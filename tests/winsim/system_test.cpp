// The system calls: version, environment, directories, time, heap, injected
// faults and handles, modules, and the character and code-page functions.
#include "../../windows/gate/gate.h"
#include "winsim/core/handles.h"
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

// NT 3.51's word is the conformance cases' matter; the top two bits of 95's are not.
TEST_F(System, VersionWordOfTheImageAndErrorMode) {
    winsim::machine().os = {winsim::Platform::Win95, 4, 0, 950, "x86"};
    EXPECT_EQ(GetVersion(), 0xC3B60004u);
    EXPECT_EQ(SetErrorMode(SEM_FAILCRITICALERRORS), 0u);
    EXPECT_EQ(SetErrorMode(0), (UINT)SEM_FAILCRITICALERRORS);
}

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

TEST_F(System, DirectoryQueriesFollowTheBufferProtocol) {
    auto system = [](char* buf, DWORD size) { return GetSystemDirectoryA(buf, size); };
    EXPECT_EQ(answered(system, 19), "20 ");  // no room for the NUL: the size needed, untouched
    EXPECT_EQ(answered(system, 20), std::string("19 C:\\WINNT35\\system32") + '\0');
    EXPECT_EQ(answered([](char* buf, DWORD size) { return GetWindowsDirectoryA(buf, size); }, 11),
              std::string("10 C:\\WINNT35") + '\0');
    EXPECT_EQ(GetWindowsDirectoryA(nullptr, 0), 11u);
    EXPECT_EQ(answered([](char* buf, DWORD size) { return GetCurrentDirectoryA(size, buf); }, 64),
              std::string("3 C:\\") + '\0');
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

TEST_F(System, HeapAllocationAndFree) {
    char* p = (char*)LocalAlloc(LPTR, 64);
    HGLOBAL g = GlobalAlloc(GPTR, 16);
    ASSERT_TRUE(p && g);
    EXPECT_EQ(std::string(p, 64) + std::string((char*)g, 16), std::string(80, '\0'));
    EXPECT_EQ(LocalFree(p), nullptr);
    EXPECT_EQ(GlobalFree(g), nullptr);
    int notABlock;
    EXPECT_LASTERROR(LocalFree(&notABlock), (HLOCAL)&notABlock, ERROR_INVALID_HANDLE);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    winsim::machine().faults.push_back({"LocalAlloc", 2, 1, ERROR_NOT_ENOUGH_MEMORY, ""});  // the 2nd call of this machine
    EXPECT_LASTERROR(LocalAlloc(LPTR, 8), nullptr, ERROR_NOT_ENOUGH_MEMORY);
}

// --- Injected faults, kernel handles and modules.

TEST(Core, FaultsFireOnTheNthCallForTheirTimesAndTargetAndHandlesCloseOnce) {
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
    struct Obj : winsim::KernelObject {};
    HANDLE h = winsim::addHandle(std::make_shared<Obj>());
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
}

using Modules = sim::MachineTest;

TEST_F(Modules, NamesAreCaseInsensitiveWithOrWithoutExtensionAndCounted) {
    HMODULE a = LoadLibraryA("ADVAPI32.DLL"), v = LoadLibraryA("VERSION.DLL"), k = LoadLibraryA("KERNEL32.DLL");
    ASSERT_TRUE(a && v && k);
    EXPECT_EQ(std::vector<HMODULE>({LoadLibraryA("advapi32"), LoadLibraryA("C:\\WINNT35\\system32\\AdvApi32.Dll"), LoadLibraryA("version")}),
              std::vector<HMODULE>({a, a, v}));
    EXPECT_NE(LoadLibraryA("winspool.drv"), nullptr);
    EXPECT_LASTERROR(LoadLibraryA("winspool"), nullptr, ERROR_MOD_NOT_FOUND);  // ".DLL" is added: no WINSPOOL.DLL
    m().faults.push_back({"LoadLibraryA", m().callCounts["LoadLibraryA"] + 1, 1, ERROR_DLL_INIT_FAILED, "ADVAPI32.DLL"});
    EXPECT_LASTERROR(LoadLibraryA("advapi32"), nullptr, ERROR_DLL_INIT_FAILED);
    EXPECT_EQ(LoadLibraryA("advapi32"), a);
    // Loaded twice, freed twice: unloaded; the kernel never is.
    EXPECT_TRUE(FreeLibrary(v) && FreeLibrary(v));
    EXPECT_FAILS(FreeLibrary(v), ERROR_MOD_NOT_FOUND);
    EXPECT_LASTERROR(GetProcAddress(v, "VerInstallFileA"), nullptr, ERROR_MOD_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(k) && FreeLibrary(k));
    EXPECT_NE(GetProcAddress(k, "Sleep"), nullptr);
}

TEST_F(Modules, ExportsAreTheSimulatedFunctions) {
    const struct {
        const char *module, *name;
        FARPROC function;
    } exports[] = {
        {"kernel32", "GetVersion", (FARPROC)&GetVersion},
        {"USER32.DLL", "wsprintfA", (FARPROC)&wsprintfA},
        {"ADVAPI32.DLL", "RegOpenKeyA", (FARPROC)&RegOpenKeyA},
        {"ADVAPI32.DLL", "RegQueryInfoKeyA", (FARPROC)&RegQueryInfoKeyA},
        {"ADVAPI32.DLL", "OpenSCManagerA", (FARPROC)&OpenSCManagerA},
        {"ADVAPI32.DLL", "AdjustTokenPrivileges", (FARPROC)&AdjustTokenPrivileges},
        {"WINSPOOL.DRV", "AddMonitorA", (FARPROC)&AddMonitorA},
        {"VERSION.DLL", "VerInstallFileA", (FARPROC)&VerInstallFileA},
    };
    for (auto& e : exports) EXPECT_EQ(GetProcAddress(LoadLibraryA(e.module), e.name), e.function) << e.name;
    HMODULE k = LoadLibraryA("kernel32");
    auto getVersion = (DWORD(WINAPI*)(void))GetProcAddress(k, "GetVersion");
    EXPECT_EQ(getVersion(), GetVersion());
    EXPECT_LASTERROR(GetProcAddress(k, "getversion"), nullptr, ERROR_PROC_NOT_FOUND);  // names are case-sensitive
    EXPECT_LASTERROR(GetProcAddress(k, (LPCSTR)(ULONG_PTR)5), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_LASTERROR(GetProcAddress(LoadLibraryA("ADVAPI32.DLL"), "GetVersion"), nullptr, ERROR_PROC_NOT_FOUND);
}

TEST_F(Modules, ImageDeclaresModulesAndExportsMissing) {
    auto declare = [&](const char* json) { winsim::loadSystem(nlohmann::json::parse(json), m()); };
    declare(R"({"modules": {"advapi32.dll": {"missing_exports": ["RegOpenKeyExA", "GetVersion"]},
                            "VERSION": {"missing": true}}})");
    EXPECT_LASTERROR(LoadLibraryA("version.dll"), nullptr, ERROR_MOD_NOT_FOUND);
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
        {f(wsprintfA(buf, "%S", u"a\u03C0\u4E00")), "ap?"},  // wide text by best fit
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
