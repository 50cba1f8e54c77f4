#include "winsim/core/handles.h"
#include "winsim/core/machine.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::filesystem::path tempDir(const char* name) {
    auto p = std::filesystem::temp_directory_path() / ("winsim-core-" + std::string(name));
    std::filesystem::remove_all(p);
    return p;
}

TEST(Core, VersionWordPacksMajorMinorBuild) {
    winsim::OsInfo nt;
    nt.major = 3;
    nt.minor = 51;
    nt.build = 1057;
    EXPECT_EQ(nt.versionWord(), 0x04213303u);
    winsim::OsInfo w95;
    w95.platform = winsim::Platform::Win95;
    w95.major = 4;
    w95.minor = 0;
    w95.build = 950;
    EXPECT_EQ(w95.versionWord(), 0xC3B60004u);
}

TEST(Core, FaultFiresOnNthCallForItsTimes) {
    auto& m = winsim::install(winsim::makeBareMachine({}, tempDir("fault")));
    m.faults.push_back({"Probe", 2, 2, ERROR_DISK_FULL, ""});
    EXPECT_EQ(winsim::injectedFault("Probe"), 0u);
    EXPECT_EQ(winsim::injectedFault("Probe"), (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(winsim::injectedFault("Probe"), (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(winsim::injectedFault("Probe"), 0u);
    EXPECT_EQ(winsim::injectedFault("Other"), 0u);
}

TEST(Core, FaultLimitedToTarget) {
    auto& m = winsim::install(winsim::makeBareMachine({}, tempDir("target")));
    m.faults.push_back({"Open", 1, 0, ERROR_ACCESS_DENIED, "Spooler"});
    EXPECT_EQ(winsim::injectedFault("Open", "Other"), 0u);
    EXPECT_EQ(winsim::injectedFault("Open", "SPOOLER"), (DWORD)ERROR_ACCESS_DENIED);
}

TEST(Core, CloseHandleOnUnknownHandleFails) {
    winsim::install(winsim::makeBareMachine({}, tempDir("handles")));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle((HANDLE)0x1234));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    struct Obj : winsim::KernelObject {};
    HANDLE h = winsim::addHandle(std::make_shared<Obj>());
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
}

}  // namespace
