// The system calls: environment, current directory, time, injected faults and
// handles, declared modules, wsprintf, and that every declared function exists.
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
