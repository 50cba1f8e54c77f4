// The monitor modules the spooler holds loaded: deleting, renaming, the
// spooler stopping and starting, Windows restarting, AddMonitor again.
#include "spooler_fixture.h"

#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"

#include <winsvc.h>

namespace {

using namespace spooltest;

class MonitorModules : public SpoolerTest {
protected:
    void SetUp() override {}
    void TearDown() override {
        winsim::install(std::make_unique<winsim::Machine>());
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    BOOL addMonitor(const char* name, const char* module, const char* env = nullptr) {
        MONITOR_INFO_2A info{(LPSTR)name, (LPSTR)env, (LPSTR)module};
        return AddMonitorA(nullptr, 2, (LPBYTE)&info);
    }
    // Stops or starts the "Spooler" service through the service manager.
    void spooler(bool run) {
        SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE s = OpenServiceA(scm, "Spooler", SERVICE_ALL_ACCESS);
        ASSERT_NE(s, nullptr);
        SERVICE_STATUS st{};
        if (run)
            EXPECT_TRUE(StartServiceA(s, 0, nullptr)) << GetLastError();
        else
            EXPECT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &st)) << GetLastError();
        CloseServiceHandle(s);
        CloseServiceHandle(scm);
    }
    DWORD deleteError(const std::string& path) {
        SetLastError(0xdeadbeef);
        return DeleteFileA(path.c_str()) ? 0 : GetLastError();
    }
    void dropMonitorKey(const char* name) {
        std::string key = std::string(winsim::kPrintKey) + "\\Monitors\\" + name;
        ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_SUCCESS);
    }
    std::string sys() { return winsim::machine().systemDir; }
};

TEST_F(MonitorModules, NtSpoolerHoldsTheModuleWhileItRuns) {
    build(nt351());
    putFile(sys() + "\\vrdpsmon.dll");
    ASSERT_TRUE(addMonitor("Varden Network Port", "vrdpsmon.dll")) << GetLastError();
    std::string dll = sys() + "\\vrdpsmon.dll", old = sys() + "\\vrdpsmon.old";
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
    // Renamed, the module stays loaded under its new name.
    ASSERT_TRUE(MoveFileExA(dll.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    EXPECT_EQ(deleteError(old), (DWORD)ERROR_ACCESS_DENIED);
    spooler(false);
    EXPECT_EQ(deleteError(old), 0u);
    // Started again, the spooler loads what the registry names.
    putFile(dll);
    spooler(true);
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(MonitorModules, RemovedFromTheRegistryButStillLoaded) {
    struct Case {
        const char* name;
        winsim::OsInfo os;
        const char* env;
        DWORD again;  // AddMonitor while the monitor is still loaded
    };
    const Case cases[] = {
        {"NT 3.51", nt351(), nullptr, ERROR_PRINT_MONITOR_ALREADY_INSTALLED},
        {"Windows 95", win95(), "Windows 4.0", ERROR_ALREADY_EXISTS},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        build(k.os);
        const char* module = k.os.platform == winsim::Platform::Win95 ? "vrdpsmw4.dll" : "vrdpsmon.dll";
        putFile(sys() + "\\" + module);
        ASSERT_TRUE(addMonitor("Varden Network Port", module, k.env)) << GetLastError();
        dropMonitorKey("Varden Network Port");
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(addMonitor("Varden Network Port", module, k.env));
        EXPECT_EQ(GetLastError(), k.again);
        // Windows restarts: the key is gone, so nothing holds the module.
        winsim::rebootMachine(winsim::machine());
        EXPECT_EQ(deleteError(sys() + "\\" + module), 0u);
        putFile(sys() + "\\" + module);
        EXPECT_TRUE(addMonitor("Varden Network Port", module, k.env)) << GetLastError();
        TearDown();
    }
}

TEST_F(MonitorModules, Windows95HoldsModulesUntilTheNextStart) {
    build(win95());
    putFile(sys() + "\\vrdpsmw4.dll");
    ASSERT_TRUE(addMonitor("Varden Network Port", "vrdpsmw4.dll", "Windows 4.0"));
    std::string value;
    {
        HKEY k = nullptr;
        std::string key = std::string(winsim::kPrintKey) + "\\Monitors\\Varden Network Port";
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
        char buf[64];
        DWORD size = sizeof buf, type = 0;
        ASSERT_EQ(RegQueryValueExA(k, "Driver", nullptr, &type, (LPBYTE)buf, &size), ERROR_SUCCESS);
        RegCloseKey(k);
        value = buf;
    }
    EXPECT_EQ(value, "vrdpsmw4.dll");
    std::string dll = sys() + "\\vrdpsmw4.dll";
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
    // Windows 95 does not rename a file in use either.
    EXPECT_FAILS(MoveFileA(dll.c_str(), (sys() + "\\vrdpsmw4.old").c_str()), ERROR_ACCESS_DENIED);
    // After a restart the registered monitor is loaded again.
    winsim::rebootMachine(winsim::machine());
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(winsim::machine().spooler->loadedMonitors.count("varden network port"), 1u);
}

TEST_F(MonitorModules, ImageKeepsWhatIsLoadedAndByWhom) {
    build(nt351());
    putFile(sys() + "\\vrdpsmon.dll");
    ASSERT_TRUE(addMonitor("Varden Network Port", "vrdpsmon.dll"));
    nlohmann::json spool, files;
    winsim::saveSpooler(spool, winsim::machine());
    winsim::saveFile(files, winsim::machine());
    EXPECT_EQ(spool["loaded_monitors"], nlohmann::json({{"Varden Network Port", "vrdpsmon.dll"}}));
    EXPECT_EQ(files["C:\\WINNT35\\system32\\vrdpsmon.dll"], nlohmann::json({{"in_use", "loaded"}, {"loaded_by", "spooler"}}));
    winsim::loadSpooler(spool, winsim::machine());
    winsim::loadFile(files, winsim::machine());
    spooler(false);
    EXPECT_TRUE(winsim::machine().spooler->loadedMonitors.empty());
    EXPECT_EQ(deleteError(sys() + "\\vrdpsmon.dll"), 0u);
    EXPECT_THROW(winsim::loadFile(nlohmann::json::parse(R"({"C:\\x.dll": {"loaded_by": "spooler"}})"), winsim::machine()),
                 winsim::ImageError);
    EXPECT_THROW(winsim::loadSpooler(nlohmann::json::parse(R"({"loaded_monitors": {"X": 1}})"), winsim::machine()),
                 winsim::ImageError);
}

}  // namespace
