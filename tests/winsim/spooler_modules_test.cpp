// The monitor modules the spooler holds loaded: deleting, renaming, the
// spooler stopping and starting, Windows restarting, AddMonitor again.
#include "spooler_fixture.h"

#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"

#include <winsvc.h>

namespace {

using namespace spooltest;

const std::string kMonitor = std::string(winsim::kPrintKey) + "\\Monitors\\Varden Network Port";

class MonitorModules : public SpoolerTest {
protected:
    BOOL addMonitor(const char* module, const char* env = nullptr) {
        MONITOR_INFO_2A info{(LPSTR) "Varden Network Port", (LPSTR)env, (LPSTR)module};
        return AddMonitorA(nullptr, 2, (LPBYTE)&info);
    }
    // Stops or starts the "Spooler" service through the service manager.
    void spooler(bool run) {
        SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE s = OpenServiceA(scm, "Spooler", SERVICE_ALL_ACCESS);
        ASSERT_NE(s, nullptr);
        SERVICE_STATUS st{};
        EXPECT_TRUE(run ? StartServiceA(s, 0, nullptr) : ControlService(s, SERVICE_CONTROL_STOP, &st)) << GetLastError();
        CloseServiceHandle(s);
        CloseServiceHandle(scm);
    }
    // The last error of deleting the file, 0 when it went.
    DWORD deleteError(const std::string& path) {
        SetLastError(sim::kSentinel);
        return DeleteFileA(path.c_str()) ? 0 : GetLastError();
    }
    std::string sys(const char* file) { return winsim::machine().systemDir + "\\" + file; }
};

TEST_F(MonitorModules, NtSpoolerHoldsTheModuleWhileItRuns) {
    build(nt351());
    putFile(sys("vrdpsmon.dll"));
    ASSERT_TRUE(addMonitor("vrdpsmon.dll")) << GetLastError();
    std::string dll = sys("vrdpsmon.dll"), old = sys("vrdpsmon.old");
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
    // Renamed, the module stays loaded under its new name.
    ASSERT_TRUE(MoveFileExA(dll.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    EXPECT_EQ(deleteError(old), (DWORD)ERROR_ACCESS_DENIED);
    // Another program's module is not the spooler's to unload.
    putFile(sys("other.dll"));
    winsim::FileMeta& other = winsim::machine().files->meta[sys("other.dll")];
    other.inUse = winsim::InUse::Loaded;
    other.loadedBy = "other.exe";
    spooler(false);
    EXPECT_EQ(deleteError(old), 0u);
    EXPECT_EQ(deleteError(sys("other.dll")), (DWORD)ERROR_ACCESS_DENIED);
    // Started again, the spooler loads what the registry names.
    putFile(dll);
    spooler(true);
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(MonitorModules, RemovedFromTheRegistryButStillLoaded) {
    const struct {
        winsim::OsInfo os;
        const char *module, *env;
        DWORD again;  // AddMonitor while the monitor is still loaded
    } rows[] = {
        {nt351(), "vrdpsmon.dll", nullptr, ERROR_PRINT_MONITOR_ALREADY_INSTALLED},
        {win95(), "vrdpsmw4.dll", "Windows 4.0", ERROR_ALREADY_EXISTS},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.module);
        build(r.os);
        putFile(sys(r.module));
        ASSERT_TRUE(addMonitor(r.module, r.env)) << GetLastError();
        ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMonitor.c_str()), ERROR_SUCCESS);
        EXPECT_FAILS(addMonitor(r.module, r.env), r.again);
        // Windows restarts: the key is gone, so nothing holds the module.
        winsim::rebootMachine(winsim::machine());
        EXPECT_EQ(deleteError(sys(r.module)), 0u);
        putFile(sys(r.module));
        EXPECT_TRUE(addMonitor(r.module, r.env)) << GetLastError();
    }
}

TEST_F(MonitorModules, Windows95HoldsModulesUntilTheNextStart) {
    build(win95());
    std::string dll = sys("vrdpsmw4.dll");
    putFile(dll);
    ASSERT_TRUE(addMonitor("vrdpsmw4.dll", "Windows 4.0"));
    EXPECT_EQ(regString(kMonitor, "Driver"), "vrdpsmw4.dll");
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
    // Windows 95 does not rename a file in use either.
    EXPECT_FAILS(MoveFileA(dll.c_str(), sys("vrdpsmw4.old").c_str()), ERROR_ACCESS_DENIED);
    // After a restart the registered monitor is loaded again.
    winsim::rebootMachine(winsim::machine());
    EXPECT_EQ(deleteError(dll), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(winsim::machine().spooler->loadedMonitors.count("varden network port"), 1u);
}

// After a load the spooler still holds the module: stopping it lets go.
TEST_F(MonitorModules, ImageKeepsWhatIsLoadedAndByWhom) {
    build(nt351());
    putFile(sys("vrdpsmon.dll"));
    ASSERT_TRUE(addMonitor("vrdpsmon.dll"));
    nlohmann::json spool, files;
    auto& m = winsim::machine();
    winsim::saveSpooler(spool, m);
    winsim::saveFile(files, m);
    EXPECT_EQ(spool["loaded_monitors"], nlohmann::json({{"Varden Network Port", "vrdpsmon.dll"}}));
    EXPECT_EQ(files["C:\\WINNT35\\system32\\vrdpsmon.dll"], nlohmann::json({{"in_use", "loaded"}, {"loaded_by", "spooler"}}));
    winsim::loadSpooler(spool, m);
    winsim::loadFile(files, m);
    spooler(false);
    EXPECT_TRUE(m.spooler->loadedMonitors.empty());
    EXPECT_EQ(deleteError(sys("vrdpsmon.dll")), 0u);
    EXPECT_THROW(winsim::loadFile(nlohmann::json::parse(R"({"C:\\x.dll": {"loaded_by": "spooler"}})"), m),
                 winsim::ImageError);
}

}  // namespace
