// Print monitor detection: which module the platform uses and whether any
// monitor key names it.
#include "printsys/fixture.h"
#include "printsys/printsys.h"

namespace {

using namespace fixture;

const char kMonitors[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

std::string mon(const std::string& sub) { return std::string(kMonitors) + "\\" + sub; }

TEST(MonitorDetection, ModuleOfThePlatformNamedByAnyKey) {
    struct Key {
        const char *key, *value, *data;  // value nullptr: the key has no value
    };
    const struct {
        bool windows95;
        std::vector<Key> keys;
        bool found;
        const char* what;
    } cases[] = {
        {false, {}, false, "empty monitors key"},
        {false, {{"Local Port", "Driver", "localmon.dll"}, {"Varden Network Port", "Driver", "vrdpsmon.dll"}}, true,
         "own key"},
        {false, {{"Earlier Name", "driver", "VRDPSMON.DLL"}, {"Zeta", "driver", "zeta.dll"}}, true, "capitals"},
        // 17 bytes with the NUL: longer than what is read.
        {false, {{"A", "driver", "c:\\vrdpsmon.dll"}, {"B", "driver", "vrdpsmon.dll.oldx"}, {"C", nullptr, ""}},
         false, "a path, a longer value, no value"},
        {false, {{"A", "driver", "vrdpsmw4.dll"}}, false, "the Windows 95 module on NT"},
        {true, {{"A", "driver", "vrdpsmon.dll"}}, false, "the NT module on Windows 95"},
        {true, {{"A", "driver", "vrdpsmon.dll"}, {"B", "driver", "vrdpsmw4.dll"}}, true, "own module on Windows 95"},
    };
    for (const auto& c : cases) {
        bareMachine("mon", c.windows95);
        for (const auto& k : c.keys) {
            if (k.value) setSz(HKEY_LOCAL_MACHINE, mon(k.key), k.value, k.data);
            else makeKey(HKEY_LOCAL_MACHINE, mon(k.key));
        }
        // As the callers run it: the key opened for all access, the module
        // name from getMonitorDllName.
        HKEY monitors = createKey(HKEY_LOCAL_MACHINE, kMonitors);
        LPCSTR dll = nullptr;
        EXPECT_EQ(getMonitorDllName(&dll), (DWORD)STS_DONE);
        EXPECT_STREQ(dll, c.windows95 ? "vrdpsmw4.dll" : "vrdpsmon.dll");
        EXPECT_EQ(isVrdpsmonInstalled(monitors, dll) != FALSE, c.found) << c.what;
        RegCloseKey(monitors);
    }
    // Sixteen bytes without a terminator: read whole, compared as text of
    // sixteen characters, and so not the module.
    setValue(HKEY_LOCAL_MACHINE, mon("A"), "driver", REG_BINARY, "vrdpsmon.dllxxxx", 16);
    HKEY monitors = createKey(HKEY_LOCAL_MACHINE, kMonitors);
    EXPECT_FALSE(monitorUsesDriver(monitors, "A", "vrdpsmon.dll"));
    EXPECT_FALSE(monitorUsesDriver(monitors, "Missing", "vrdpsmon.dll"));
    RegCloseKey(monitors);
}

TEST(MonitorDetectionDeath, UnreadableMonitorsKeyEndsSetup) {
    auto& m = bareMachine("mon-fail");
    makeKey(HKEY_LOCAL_MACHINE, kMonitors);
    EXPECT_ENDS_SETUP(failNext(m, "RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED);
                      isVrdpsmonInstalled(createKey(HKEY_LOCAL_MACHINE, kMonitors), "vrdpsmon.dll"),
                      "isVrdpsmonInstalled -- Couldn't get subkey info, Error = 5");
}

}  // namespace
