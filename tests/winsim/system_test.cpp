// Conformance tests of version, environment, directories, time and heap.
#include "winsim/core/machine.h"
#include "winsim/system/state.h"
#include "sim.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

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

TEST_F(System, VersionWordOfTheImage) {
    EXPECT_EQ(GetVersion(), 0x04213303u);
    winsim::machine().os = {winsim::Platform::Win95, 4, 0, 950, "x86"};
    EXPECT_EQ(GetVersion(), 0xC3B60004u);
}

TEST_F(System, ExpandEnvironmentStringsReturnsCharactersNeeded) {
    const char* src = "%SystemRoot%\\system32;%processor_architecture%;%SYSTEMDRIVE%;%NoSuch%;50%;%%";
    const std::string want = "C:\\WINNT35\\system32;alpha;C:;%NoSuch%;50%;%%";
    char buf[128];
    std::memset(buf, 'G', sizeof buf);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ExpandEnvironmentStringsA(src, buf, sizeof buf), (DWORD)want.size() + 1);
    EXPECT_STREQ(buf, want.c_str());
    EXPECT_EQ(buf[want.size() + 1], 'G');
    EXPECT_EQ(ExpandEnvironmentStringsA(src, nullptr, 0), (DWORD)want.size() + 1);

    // Exactly the size needed fits; one less reports the size needed and
    // writes no further than the buffer.
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(ExpandEnvironmentStringsA(src, buf, (DWORD)want.size() + 1), (DWORD)want.size() + 1);
    EXPECT_STREQ(buf, want.c_str());
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(ExpandEnvironmentStringsA(src, buf, 10), (DWORD)want.size() + 1);
    EXPECT_EQ(std::string(buf, 10), want.substr(0, 9) + '\0');
    EXPECT_EQ(buf[10], 'G');
    EXPECT_EQ(ExpandEnvironmentStringsA("", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "");
}

TEST_F(System, DirectoryQueriesFollowTheBufferProtocol) {
    char buf[64];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 19u);
    EXPECT_STREQ(buf, "C:\\WINNT35\\system32");
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(GetSystemDirectoryA(buf, 19), 20u);  // no room for the NUL: size needed, untouched
    EXPECT_EQ(buf[0], 'G');
    EXPECT_EQ(GetWindowsDirectoryA(buf, 11), 10u);
    EXPECT_STREQ(buf, "C:\\WINNT35");
    EXPECT_EQ(GetWindowsDirectoryA(nullptr, 0), 11u);
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buf, buf), 3u);
    EXPECT_STREQ(buf, "C:\\");
}

TEST_F(System, SetCurrentDirectoryNeedsAnExistingDirectory) {
    fs::create_directories(root / "C" / "Dist" / "Disk1");
    std::ofstream(root / "C" / "Dist" / "file.txt") << "x";
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\dist"));
    char buf[64];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buf, buf), 7u);
    EXPECT_STREQ(buf, "C:\\Dist");
    ASSERT_TRUE(SetCurrentDirectoryA("disk1\\"));
    GetCurrentDirectoryA(sizeof buf, buf);
    EXPECT_STREQ(buf, "C:\\Dist\\Disk1");
    EXPECT_FAILS(SetCurrentDirectoryA("C:\\Dist\\missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS(SetCurrentDirectoryA("C:\\Dist\\file.txt"), ERROR_DIRECTORY);
    EXPECT_FAILS(SetCurrentDirectoryA("C:\\nope\\deeper"), ERROR_PATH_NOT_FOUND);
    GetCurrentDirectoryA(sizeof buf, buf);
    EXPECT_STREQ(buf, "C:\\Dist\\Disk1");
}

TEST_F(System, ErrorModeReturnsThePreviousMode) {
    EXPECT_EQ(SetErrorMode(SEM_FAILCRITICALERRORS), 0u);
    EXPECT_EQ(SetErrorMode(0), (UINT)SEM_FAILCRITICALERRORS);
}

TEST_F(System, VirtualClock) {
    DWORD t0 = GetTickCount();
    Sleep(1500);
    EXPECT_EQ(GetTickCount() - t0, 1500u);
    SYSTEMTIME st;
    std::memset(&st, 0xCC, sizeof st);
    winsim::machine().tickMs = 0;
    GetLocalTime(&st);  // 1996-05-02 08:00:00, a Thursday
    EXPECT_EQ(st.wYear, 1996);
    EXPECT_EQ(st.wMonth, 5);
    EXPECT_EQ(st.wDay, 2);
    EXPECT_EQ(st.wDayOfWeek, 4);
    EXPECT_EQ(st.wHour, 8);
    EXPECT_EQ(st.wMinute, 0);
    Sleep(((16 * 60 + 1) * 60 + 2) * 1000 + 3);  // to the next day, 00:01:02.003
    GetLocalTime(&st);
    EXPECT_EQ(st.wDay, 3);
    EXPECT_EQ(st.wDayOfWeek, 5);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wMinute, 1);
    EXPECT_EQ(st.wSecond, 2);
    EXPECT_EQ(st.wMilliseconds, 3);
    winsim::machine().bootEpochMs = 951782400000;  // 2000-02-29 00:00:00 (leap day)
    winsim::machine().tickMs = 0;
    GetLocalTime(&st);
    EXPECT_EQ(st.wYear, 2000);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wDayOfWeek, 2);
}

TEST_F(System, HeapAllocationAndFree) {
    char* p = (char*)LocalAlloc(LPTR, 64);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
    EXPECT_EQ(LocalFree(p), nullptr);
    int notABlock;
    EXPECT_LASTERROR(LocalFree(&notABlock), (HLOCAL)&notABlock, ERROR_INVALID_HANDLE);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    HGLOBAL g = GlobalAlloc(GPTR, 16);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(((char*)g)[15], 0);
    EXPECT_EQ(GlobalFree(g), nullptr);
    winsim::machine().faults.push_back({"LocalAlloc", 2, 1, ERROR_NOT_ENOUGH_MEMORY, ""}  /* the 2nd call of this machine */);
    EXPECT_LASTERROR(LocalAlloc(LPTR, 8), nullptr, ERROR_NOT_ENOUGH_MEMORY);
}

}  // namespace
