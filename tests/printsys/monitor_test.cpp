// Print monitor detection: which module the platform uses and whether any
// monitor key names it.
#include "printsys/fixture.h"
#include "printsys/printsys.h"

#include <gtest/gtest.h>

namespace {

using namespace fixture;

const char kMonitors[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

std::string mon(const std::string& sub) { return std::string(kMonitors) + "\\" + sub; }

// Runs the detection as its callers do: monitors key opened with
// KEY_ALL_ACCESS, module name from getMonitorDllName.
bool detect() {
    HKEY monitors = createKey(HKEY_LOCAL_MACHINE, kMonitors);
    LPCSTR dll = nullptr;
    EXPECT_EQ(getMonitorDllName(&dll), (DWORD)STS_DONE);
    BOOL found = isVrdpsmonInstalled(monitors, dll);
    RegCloseKey(monitors);
    return found != FALSE;
}

TEST(MonitorDetection, ModuleNameFollowsPlatform) {
    LPCSTR dll = nullptr;
    bareMachine("mon-nt");
    EXPECT_EQ(getMonitorDllName(&dll), (DWORD)STS_DONE);
    EXPECT_STREQ(dll, "vrdpsmon.dll");
    bareMachine("mon-95", true);
    EXPECT_EQ(getMonitorDllName(&dll), (DWORD)STS_DONE);
    EXPECT_STREQ(dll, "vrdpsmw4.dll");
}

TEST(MonitorDetection, EmptyMonitorsKeyIsNotInstalled) {
    bareMachine("mon-empty");
    EXPECT_FALSE(detect());
}

TEST(MonitorDetection, OwnKeyNamingModuleIsInstalled) {
    bareMachine("mon-own");
    setSz(HKEY_LOCAL_MACHINE, mon("Local Port"), "Driver", "localmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Varden Network Port"), "Driver", "vrdpsmon.dll");
    EXPECT_TRUE(detect());
}

TEST(MonitorDetection, OtherKeyWithCapitalsIsInstalled) {
    bareMachine("mon-caps");
    setSz(HKEY_LOCAL_MACHINE, mon("Earlier Name"), "driver", "VRDPSMON.DLL");
    setSz(HKEY_LOCAL_MACHINE, mon("Zeta"), "driver", "zeta.dll");
    EXPECT_TRUE(detect());
}

TEST(MonitorDetection, PathOrLongValueDoesNotMatch) {
    bareMachine("mon-path");
    setSz(HKEY_LOCAL_MACHINE, mon("A"), "driver", "c:\\vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("B"), "driver", "vrdpsmon.dll.oldx");  // 17 bytes with NUL
    makeKey(HKEY_LOCAL_MACHINE, mon("C"));                               // no value at all
    EXPECT_FALSE(detect());
}

TEST(MonitorDetection, OtherPlatformsModuleDoesNotCount) {
    bareMachine("mon-cross-nt");
    setSz(HKEY_LOCAL_MACHINE, mon("A"), "driver", "vrdpsmw4.dll");
    EXPECT_FALSE(detect());
    bareMachine("mon-cross-95", true);
    setSz(HKEY_LOCAL_MACHINE, mon("A"), "driver", "vrdpsmon.dll");
    EXPECT_FALSE(detect());
    setSz(HKEY_LOCAL_MACHINE, mon("B"), "driver", "vrdpsmw4.dll");
    EXPECT_TRUE(detect());
}

TEST(MonitorDetection, UnterminatedSixteenByteValueStaysInsideBuffer) {
    bareMachine("mon-unterminated");
    // Sixteen bytes without a terminator: read whole, compared as text of
    // sixteen characters, and so not the module.
    HKEY k = createKey(HKEY_LOCAL_MACHINE, mon("A"));
    ASSERT_EQ(RegSetValueExA(k, "driver", 0, REG_BINARY, reinterpret_cast<const BYTE*>("vrdpsmon.dllxxxx"), 16),
              ERROR_SUCCESS);
    RegCloseKey(k);
    HKEY monitors = createKey(HKEY_LOCAL_MACHINE, kMonitors);
    EXPECT_FALSE(monitorUsesDriver(monitors, "A", "vrdpsmon.dll"));
    EXPECT_FALSE(monitorUsesDriver(monitors, "Missing", "vrdpsmon.dll"));
    RegCloseKey(monitors);
}

TEST(MonitorDetectionDeath, UnreadableMonitorsKeyEndsSetup) {
    auto& m = bareMachine("mon-fail");
    makeKey(HKEY_LOCAL_MACHINE, kMonitors);
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            failNext(m, "RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED);
            HKEY monitors = createKey(HKEY_LOCAL_MACHINE, kMonitors);
            isVrdpsmonInstalled(monitors, "vrdpsmon.dll");
        },
        ::testing::ExitedWithCode(0), "isVrdpsmonInstalled -- Couldn't get subkey info, Error = 5");
}

}  // namespace
