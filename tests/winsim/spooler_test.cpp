// Tests of the spooler: monitors and their modules, ports, printer drivers,
// the printer-driver directory, the spooler service and the image section.
#include "spooler_fixture.h"

#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"
#include "winsim/image/newmachine.h"
#include "winsim/services/query.h"

#include <winsvc.h>

#include <cstring>
#include <functional>
#include <sstream>

namespace {

using namespace spooltest;

const std::string kMonitors = std::string(winsim::kPrintKey) + "\\Monitors\\";
const std::string kMonitor = kMonitors + "Varden Network Port";

class Spooler : public SpoolerTest {
protected:
    BOOL addMonitor(const char* module, const char* env = nullptr) {
        MONITOR_INFO_2A info{(LPSTR) "Varden Network Port", (LPSTR)env, (LPSTR)module};
        return AddMonitorA(nullptr, 2, (LPBYTE)&info);
    }
    // Stops or starts the "Spooler" service through the service manager.
    void spooler(bool run) {
        SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE s = OpenServiceA(scm, "Spooler", SERVICE_ALL_ACCESS);
        SERVICE_STATUS st{};
        EXPECT_TRUE(run ? StartServiceA(s, 0, nullptr) : ControlService(s, SERVICE_CONTROL_STOP, &st)) << GetLastError();
        CloseServiceHandle(s);
        CloseServiceHandle(scm);
    }
    // The last error of deleting the file from the system directory, 0 when it went.
    DWORD deleteError(const char* file) {
        SetLastError(sim::kSentinel);
        return DeleteFileA(sys(file).c_str()) ? 0 : GetLastError();
    }
    std::string sys(const char* file) { return winsim::machine().systemDir + "\\" + file; }
};

// --- AddMonitor and the modules the spooler holds loaded -------------------

TEST_F(Spooler, AddMonitorRegistersTheModule) {
    build(nt351());
    EXPECT_FAILS(addMonitor("vrdpsmon.dll"), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(regString(kMonitor, "Driver"), "<no key>") << "nothing registered after a failure";
    putFile(sys("vrdpsmon.dll"));
    EXPECT_FAILS(AddMonitorA(nullptr, 2, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(addMonitor("vrdpsmon.dll", "Windows 3.1"), ERROR_INVALID_ENVIRONMENT);
    // A declared fault wins, once.
    auto& m = winsim::machine();
    m.faults.push_back({"AddMonitorA", m.callCounts["AddMonitorA"] + 1, 1, ERROR_NOT_ENOUGH_MEMORY, "Varden Network Port"});
    EXPECT_FAILS(addMonitor("vrdpsmon.dll"), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_LASTERROR(addMonitor("vrdpsmon.dll"), TRUE, 0);  // success clears the last error
    EXPECT_EQ(regString(kMonitor, "Driver"), "vrdpsmon.dll");
    MONITOR_INFO_2A upper{(LPSTR) "VARDEN NETWORK PORT", nullptr, (LPSTR) "vrdpsmon.dll"};  // names ignore case
    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&upper), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    // The spooler holds the module; renamed, it stays loaded under its new name.
    EXPECT_EQ(deleteError("vrdpsmon.dll"), (DWORD)ERROR_ACCESS_DENIED);
    ASSERT_TRUE(MoveFileExA(sys("vrdpsmon.dll").c_str(), sys("vrdpsmon.old").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(deleteError("vrdpsmon.old"), (DWORD)ERROR_ACCESS_DENIED);
    // Another program's module is not the spooler's to unload.
    putFile(sys("other.dll"));
    winsim::FileMeta& other = winsim::machine().files->meta[sys("other.dll")];
    other.inUse = winsim::InUse::Loaded;
    other.loadedBy = "other.exe";
    spooler(false);
    EXPECT_EQ(deleteError("vrdpsmon.old"), 0u);
    EXPECT_EQ(deleteError("other.dll"), (DWORD)ERROR_ACCESS_DENIED);
    // Started again, the spooler loads what the registry names.
    putFile(sys("vrdpsmon.dll"));
    spooler(true);
    EXPECT_EQ(deleteError("vrdpsmon.dll"), (DWORD)ERROR_ACCESS_DENIED);
}

// Removed from the registry the module stays loaded until Windows restarts;
// Windows 95 does not rename a file in use either.
TEST_F(Spooler, MonitorRemovedFromTheRegistryButStillLoaded) {
    const struct {
        winsim::OsInfo os;
        const char *module, *env;
        DWORD again;  // AddMonitor while the monitor is loaded
    } rows[] = {
        {nt351(), "vrdpsmon.dll", nullptr, ERROR_PRINT_MONITOR_ALREADY_INSTALLED},
        {win95(), "vrdpsmw4.dll", "Windows 4.0", ERROR_ALREADY_EXISTS},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.module);
        build(r.os);
        putFile(sys(r.module));
        ASSERT_TRUE(addMonitor(r.module, r.env)) << GetLastError();
        EXPECT_EQ(regString(kMonitor, "Driver"), r.module);
        EXPECT_FAILS(addMonitor(r.module, r.env), r.again);
        // After a restart the registered monitor is loaded again.
        winsim::rebootMachine(winsim::machine());
        EXPECT_EQ(deleteError(r.module), (DWORD)ERROR_ACCESS_DENIED);
        if (r.env) EXPECT_FAILS(MoveFileA(sys(r.module).c_str(), sys("vrdpsmw4.old").c_str()), ERROR_ACCESS_DENIED);
        ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMonitor.c_str()), ERROR_SUCCESS);
        EXPECT_FAILS(addMonitor(r.module, r.env), r.again);
        // Windows restarts: the key is gone, so nothing holds the module.
        winsim::rebootMachine(winsim::machine());
        EXPECT_EQ(deleteError(r.module), 0u);
        putFile(sys(r.module));
        EXPECT_TRUE(addMonitor(r.module, r.env)) << GetLastError();
    }
}

// --- ports -----------------------------------------------------------------

// The monitors and their ports as the spooler lists them.
std::string monitors() {
    std::vector<winsim::SpoolMonitor> mons;
    EXPECT_EQ(winsim::spoolerMonitors(mons), 0u);
    std::string out;
    for (const auto& m : mons) {
        out += m.name + ":";
        for (const auto& p : m.ports) out += " " + p;
        out += "; ";
    }
    return out;
}

TEST_F(Spooler, DeletePortRemovesThePortFromItsMonitor) {
    build(nt351());
    standardSetup();
    auto& caller = winsim::machine().spooler->callerSids;
    const auto admin = caller;
    caller = {"S-1-1-0", "S-1-5-32-545"};  // not an administrator
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP2"), ERROR_ACCESS_DENIED);
    caller = admin;
    addPrinter("P1", "NP1");
    addPrinter("P2", "LPT1:,NP3");
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "np1"), ERROR_BUSY);  // a printer prints to it
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP3"), ERROR_BUSY);  // among others
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "np2"));
    EXPECT_EQ(regString(kMonitors + "Net Port\\Ports\\NP2", "") + " " + regString(kMonitors + "Net Port\\Ports\\NP3", ""),
              "<no key> <no value>");
    // NT's local ports are values of their own key.
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, "LPT2:", 0, REG_SZ, (const BYTE*)"", 1), ERROR_SUCCESS);
    EXPECT_EQ(monitors(), "Local Port: LPT1: LPT2:; Net Port: NP1 NP3; ");
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "LPT2:"));
    EXPECT_EQ(RegQueryValueExA(h, "LPT2:", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);
    // A fresh machine of every platform has the local ports.
    for (const char* os : {"nt351", "win95"}) {
        winsim::NewMachineOptions opt;
        opt.os = os;
        winsim::install(winsim::newMachine(opt, sim::testDir(os)));
        EXPECT_EQ(monitors(), "Local Port: COM1: COM2: FILE: LPT1: LPT2: LPT3:; ") << os;
    }
}

// --- printer drivers -------------------------------------------------------

TEST_F(Spooler, PrinterDriversNeedTheirFilesAndAKnownEnvironment) {
    build(nt351());
    standardSetup();
    auto info = [](const char* name, const char* env = nullptr, DWORD version = 1) {
        return DRIVER_INFO_2A{version, (LPSTR)name, (LPSTR)env, (LPSTR) "pscript.dll", (LPSTR) "model.ppd",
                              (LPSTR) "pscrptui.dll"};
    };
    auto putFiles = [&] {
        for (const char* f : {"pscript.dll", "pscrptui.dll", "model.ppd"}) putFile(driverDir + "\\" + f, f);
    };
    auto has = [&](const std::string& rel) { return fs::exists(hostPath(driverDir + "\\" + rel)); };
    auto di = info("Model A");
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di), ERROR_FILE_NOT_FOUND);
    // Version 0 (a machine upgraded from NT 3.1): copied into "0", so
    // deleting the originals loses nothing.
    putFiles();
    auto d0 = info("Model 0", nullptr, 0);
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&d0)) << GetLastError();
    for (const char* f : {"pscript.dll", "pscrptui.dll", "model.ppd"}) {
        ASSERT_TRUE(DeleteFileA((driverDir + "\\" + f).c_str())) << f;
        EXPECT_TRUE(has(std::string("0\\") + f)) << f;
    }
    EXPECT_FALSE(has("1"));
    putFiles();
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di));
    const std::string key = std::string(winsim::kPrintKey) + "\\Environments\\Windows NT x86\\Drivers\\Model A";
    EXPECT_EQ(regString(key, "Driver") + "|" + regString(key, "Data File") + "|" + regString(key, "Configuration File"),
              "pscript.dll|model.ppd|pscrptui.dll");
    // NT 3.51 keeps version-1 drivers in the subdirectory "1".
    EXPECT_TRUE(has("1\\model.ppd") && has("1\\pscript.dll"));
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di), ERROR_PRINTER_DRIVER_ALREADY_INSTALLED);
    // Deleting: refused while a printer uses it or for an unknown
    // environment; the files stay.
    addPrinter("P1", "NP1");
    EXPECT_FAILS(DeletePrinterDriverA(nullptr, nullptr, (LPSTR) "laser"), ERROR_PRINTER_DRIVER_IN_USE);
    EXPECT_FAILS(DeletePrinterDriverA(nullptr, (LPSTR) "Windows NT Itanium", (LPSTR) "Model A"),
                 ERROR_INVALID_ENVIRONMENT);
    EXPECT_TRUE(DeletePrinterDriverA(nullptr, (LPSTR) "Windows NT x86", (LPSTR) "model a"));
    std::vector<winsim::SpoolDriver> left;
    ASSERT_EQ(winsim::spoolerDrivers("Windows NT x86", left), 0u);
    EXPECT_EQ(left.size() == 2 ? left[0].name + "|" + left[1].name : "?", "Laser|Model 0");
    EXPECT_TRUE(has("model.ppd")) << "the files stay";

    // NT 3.1 keeps the files in place; the environment is checked.
    winsim::OsInfo nt31;
    nt31.minor = 10;
    nt31.build = 528;
    build(nt31);
    putFiles();
    di = info("Model A", "windows nt x86");
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di)) << GetLastError();
    EXPECT_FALSE(has("1"));
    di = info("Model B", "Windows NT PowerPC");
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di), ERROR_INVALID_ENVIRONMENT);

    // Windows 95 looks in the system directory and knows its own environment only.
    build(win95());
    putFile(winsim::machine().systemDir + "\\pscript.drv");
    putFile(winsim::machine().systemDir + "\\model.ppd");
    DRIVER_INFO_2A d95{1, (LPSTR) "Model A", (LPSTR) "Windows 4.0", (LPSTR) "pscript.drv", (LPSTR) "model.ppd",
                       (LPSTR) "pscript.drv"};
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&d95)) << GetLastError();
    d95.pEnvironment = (LPSTR) "Windows NT x86";
    d95.pName = (LPSTR) "Model B";
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&d95), ERROR_INVALID_ENVIRONMENT);
}

// --- GetPrinterDriverDirectory --------------------------------------------

TEST_F(Spooler, DriverDirectoryPerEnvironmentWithTheSizeProtocol) {
    build(nt351());
    const std::string want = "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32X86";
    DWORD needed = 0xdeadbeef;
    EXPECT_FAILS(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, nullptr, 0, &needed), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, want.size() + 1);
    char buf[128];
    std::memset(buf, 0x55, sizeof buf);
    EXPECT_FAILS(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, needed - 1, &needed),
                 ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ((unsigned char)buf[0], 0x55) << "nothing written into a short buffer";
    EXPECT_FAILS(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, nullptr, 10, &needed), ERROR_INVALID_USER_BUFFER);
    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, needed, &needed));
    EXPECT_EQ(std::string(buf), want);
    EXPECT_EQ((unsigned char)buf[needed], 0x55) << "guard byte behind the text";
    // Other environments; the own one follows the processor; Windows 95
    // answers its system directory.
    const std::pair<winsim::OsInfo, const char*> rows[] = {
        {nt351(), "windows nt alpha_axp"}, {nt351(), "Windows NT R4000"}, {nt351("alpha"), nullptr}, {win95(), nullptr}};
    std::string dirs;
    for (const auto& [os, env] : rows) {
        build(os);
        EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, (LPSTR)env, 1, (LPBYTE)buf, sizeof buf, &needed));
        dirs += std::string(buf) + " ";
    }
    EXPECT_EQ(dirs, "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32ALPHA C:\\WINNT35\\system32\\spool\\DRIVERS\\W32MIPS "
                    "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32ALPHA C:\\WINDOWS\\SYSTEM ");
}

// --- the spooler service -----------------------------------------------------

TEST_F(Spooler, EveryCallFailsWhileTheSpoolerIsStopped) {
    build(nt351());
    standardSetup();
    addPrinter("Alpha", "NP1");
    HANDLE h = open("Alpha");
    setSpooler("stopped");
    ASSERT_FALSE(winsim::isServiceRunning("Spooler"));
    putFile(sys("m.dll"));
    DRIVER_INFO_2A di{1, (LPSTR) "D", nullptr, (LPSTR) "a.dll", (LPSTR) "b.ppd", (LPSTR) "c.dll"};
    DWORD needed = 0, count = 0;
    char buf[256];
    HANDLE h2 = nullptr;
    const std::pair<const char*, std::function<BOOL()>> calls[] = {
        {"AddMonitorA", [&] { return addMonitor("m.dll"); }},
        {"DeletePortA", [&] { return DeletePortA(nullptr, nullptr, (LPSTR) "NP2"); }},
        {"EnumPrintersA", [&] { return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count); }},
        {"OpenPrinterA", [&] { return OpenPrinterA((LPSTR) "Alpha", &h2, nullptr); }},
        {"SetPrinterA", [&] { return SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PAUSE); }},
        {"EnumJobsA", [&] { return EnumJobsA(h, 0, 1, 1, nullptr, 0, &needed, &count); }},
        {"SetJobA", [&] { return SetJobA(h, 1, 0, nullptr, JOB_CONTROL_CANCEL); }},
        {"DeletePrinter", [&] { return DeletePrinter(h); }},
        {"ClosePrinter", [&] { return ClosePrinter(h); }},
        {"AddPrinterDriverA", [&] { return AddPrinterDriverA(nullptr, 2, (LPBYTE)&di); }},
        {"DeletePrinterDriverA", [&] { return DeletePrinterDriverA(nullptr, nullptr, (LPSTR) "Laser"); }},
        {"GetPrinterDriverDirectoryA",
         [&] { return GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, sizeof buf, &needed); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_FAILS(call(), RPC_S_SERVER_UNAVAILABLE);
    }
    EXPECT_TRUE(printerExists("Alpha")) << "nothing changed";
    setSpooler("running");
    ClosePrinter(h);
}

// --- image section and show -------------------------------------------------

// Jobs, security, ports and loaded monitors survive a save and load; `show`.
TEST_F(Spooler, ImageKeepsJobsSecurityAndLoadedModules) {
    build(nt351());
    standardSetup();
    addPrinter("P1", "NP1,LPT1:");
    putFile(sys("vrdpsmon.dll"));
    ASSERT_TRUE(addMonitor("vrdpsmon.dll"));
    winsim::SpoolJob j;
    j.document = "Report";
    j.totalPages = 4;
    DWORD id = winsim::addSpoolJob("p1", j);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(winsim::addSpoolJob("Nobody", j), 0u);
    winsim::machine().spooler->printers["P1"].security.dacl.push_back({"S-1-5-32-550", 0, 0, PRINTER_ALL_ACCESS});
    nlohmann::json files;
    winsim::saveFile(files, winsim::machine());
    EXPECT_EQ(files["C:\\WINNT35\\system32\\vrdpsmon.dll"], nlohmann::json({{"in_use", "loaded"}, {"loaded_by", "spooler"}}));

    winsim::saveImage(winsim::machine(), dir / "img");
    auto& m = winsim::install(winsim::loadImage(dir / "img"));
    auto jobs = winsim::spoolJobs("P1");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(std::to_string(jobs[0].id) + " " + jobs[0].document + " " + std::to_string(jobs[0].totalPages) + " " +
                  m.spooler->printers["P1"].security.dacl.back().sid + " " + m.spooler->loadedMonitors.begin()->second,
              std::to_string(id) + " Report 4 S-1-5-32-550 vrdpsmon.dll");
    EXPECT_GT(winsim::addSpoolJob("P1", j), id) << "job ids are not reused after a load";
    std::ostringstream out;
    winsim::showSpooler(out, m);
    for (const char* line : {"\"Net Port\" (netmon.dll) ports: NP1 NP2 NP3",
                             "\"P1\" on NP1,LPT1:, driver \"Laser\", ready, 2 jobs", "\"Laser\" version 1"})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    // After a load the spooler still holds the module: stopping it lets go.
    EXPECT_EQ(deleteError("vrdpsmon.dll"), (DWORD)ERROR_ACCESS_DENIED);
    spooler(false);
    EXPECT_TRUE(m.spooler->loadedMonitors.empty());
    EXPECT_EQ(deleteError("vrdpsmon.dll"), 0u);

    nlohmann::json bad = {{"printers", {{"P1", {{"security", {{"owner", "X-1"}}}}}}}};
    EXPECT_THROW(winsim::loadSpooler(bad, m), winsim::ImageError);
    EXPECT_THROW(winsim::loadFile(nlohmann::json::parse(R"({"C:\\x.dll": {"loaded_by": "spooler"}})"), m),
                 winsim::ImageError);
}

}  // namespace
