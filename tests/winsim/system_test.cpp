// Conformance tests of version, environment, directories, time and heap.
#include "winsim/system/state.h"
#include "sim.h"

#include <cstring>

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
    EXPECT_EQ(answered(current, 64), std::string("13 C:\\Dist\\Disk1") + '\0');
}

TEST_F(System, VirtualClock) {
    // The local time as year-month-day weekday hours:minutes:seconds.milliseconds.
    auto now = [] {
        SYSTEMTIME st;
        std::memset(&st, 0xCC, sizeof st);
        GetLocalTime(&st);
        char text[40];
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

}  // namespace
