// Conformance tests of the spooler: monitors, ports, printer drivers, the
// printer-driver directory, faults and the image section.
#include "spooler_fixture.h"

#include "winsim/image/image.h"
#include "winsim/image/newmachine.h"

#include <cstring>
#include <functional>
#include <sstream>

namespace {

using namespace spooltest;

std::string regString(const std::string& key, const char* value) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
    char buf[512] = {};
    DWORD type = 0, size = sizeof buf - 1;
    LONG r = RegQueryValueExA(h, value, nullptr, &type, (LPBYTE)buf, &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS && type == REG_SZ ? std::string(buf) : "<no value>";
}

bool regKeyExists(const std::string& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

const std::string kMonitors = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";

// --- AddMonitor ------------------------------------------------------------

class AddMonitor : public SpoolerTest {};

TEST_F(AddMonitor, RegistersTheModuleAndClearsTheLastError) {
    build(nt351());
    putFile(winsim::machine().systemDir + "\\vrdpsmon.dll");
    MONITOR_INFO_2A mi{(LPSTR) "Varden Network Port", nullptr, (LPSTR) "vrdpsmon.dll"};
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AddMonitorA(nullptr, 2, (LPBYTE)&mi));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(regString(kMonitors + "Varden Network Port", "Driver"), "vrdpsmon.dll");

    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&mi), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    mi.pName = (LPSTR) "VARDEN NETWORK PORT";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddMonitorA(nullptr, 2, (LPBYTE)&mi)) << "monitor names ignore letter case";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
}

TEST_F(AddMonitor, Windows95AnswersWithItsOwnErrors) {
    build(win95());
    MONITOR_INFO_2A mi{(LPSTR) "Varden Network Port", (LPSTR) "Windows 4.0", (LPSTR) "vrdpsmw4.dll"};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddMonitorA(nullptr, 2, (LPBYTE)&mi));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND) << "missing module on Windows 95";
    putFile(winsim::machine().systemDir + "\\vrdpsmw4.dll");
    EXPECT_TRUE(AddMonitorA(nullptr, 2, (LPBYTE)&mi));
    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&mi), ERROR_ALREADY_EXISTS);
}

TEST_F(AddMonitor, RefusesBadRequests) {
    build(nt351());
    MONITOR_INFO_2A mi{(LPSTR) "Mon", nullptr, (LPSTR) "absent.dll"};
    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&mi), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(regKeyExists(kMonitors + "Mon")) << "nothing registered after a failure";
    putFile(winsim::machine().systemDir + "\\absent.dll");
    EXPECT_FAILS(AddMonitorA(nullptr, 1, (LPBYTE)&mi), ERROR_INVALID_LEVEL);
    mi.pEnvironment = (LPSTR) "Windows 3.1";
    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&mi), ERROR_INVALID_ENVIRONMENT);
    EXPECT_FAILS(AddMonitorA(nullptr, 2, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(AddMonitor, InjectedFaultWins) {
    build(nt351());
    putFile(winsim::machine().systemDir + "\\m.dll");
    winsim::machine().faults.push_back({"AddMonitorA", 1, 1, ERROR_NOT_ENOUGH_MEMORY, "Mon"});
    MONITOR_INFO_2A mi{(LPSTR) "Mon", nullptr, (LPSTR) "m.dll"};
    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&mi), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(AddMonitorA(nullptr, 2, (LPBYTE)&mi)) << "the fault fired once";
}

// --- DeletePort ------------------------------------------------------------

class DeletePort : public SpoolerTest {};

TEST_F(DeletePort, RemovesThePortFromItsMonitor) {
    build(nt351());
    standardSetup();
    addPrinter("P1", "NP1");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeletePortA(nullptr, nullptr, (LPSTR) "np1"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY) << "a printer prints to it";
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "np2"));
    EXPECT_FALSE(regKeyExists(kMonitors + "Net Port\\Ports\\NP2"));
    EXPECT_TRUE(regKeyExists(kMonitors + "Net Port\\Ports\\NP3"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeletePortA(nullptr, nullptr, (LPSTR) "NP2"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER) << "unknown port";
}

TEST_F(DeletePort, BusyWhileAPrinterListsItAmongOthers) {
    build(nt351());
    standardSetup();
    addPrinter("P1", "LPT1:,NP3");
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP3"), ERROR_BUSY);
}

TEST_F(DeletePort, NtLocalPortsAreValuesOfTheirOwnKey) {
    build(nt351());
    ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {}), 0u);
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, "LPT2:", 0, REG_SZ, (const BYTE*)"", 1), ERROR_SUCCESS);
    std::vector<winsim::SpoolMonitor> mons;
    ASSERT_EQ(winsim::spoolerMonitors(mons), 0u);
    ASSERT_EQ(mons.size(), 1u);
    EXPECT_EQ(mons[0].ports, std::vector<std::string>{"LPT2:"});
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "LPT2:"));
    EXPECT_EQ(RegQueryValueExA(h, "LPT2:", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);
}

TEST(FreshMachine, HasTheLocalPortsOnEveryPlatform) {
    for (const char* os : {"nt351", "win95"}) {
        winsim::NewMachineOptions opt;
        opt.os = os;
        winsim::install(winsim::newMachine(opt, sim::testDir(os)));
        std::vector<winsim::SpoolMonitor> mons;
        ASSERT_EQ(winsim::spoolerMonitors(mons), 0u) << os;
        ASSERT_EQ(mons.size(), 1u) << os;
        EXPECT_EQ(mons[0].name, "Local Port") << os;
        EXPECT_EQ(mons[0].ports, (std::vector<std::string>{"COM1:", "COM2:", "FILE:", "LPT1:", "LPT2:", "LPT3:"})) << os;
    }
}

TEST_F(DeletePort, NonAdministratorIsDenied) {
    build(nt351());
    standardSetup();
    winsim::machine().spooler->callerSids = {"S-1-1-0", "S-1-5-32-545"};
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP1"), ERROR_ACCESS_DENIED);
}

// --- printer drivers -------------------------------------------------------

class PrinterDriver : public SpoolerTest {
protected:
    DRIVER_INFO_2A info(const char* name, const char* env = nullptr) {
        return DRIVER_INFO_2A{1, (LPSTR)name, (LPSTR)env, (LPSTR) "pscript.dll", (LPSTR) "model.ppd",
                              (LPSTR) "pscrptui.dll"};
    }
    void putDriverFiles() {
        putFile(driverDir + "\\pscript.dll", "driver");
        putFile(driverDir + "\\pscrptui.dll", "ui");
        putFile(driverDir + "\\model.ppd", "ppd");
    }
};

TEST_F(PrinterDriver, AddNeedsTheFilesInTheDriverDirectory) {
    build(nt351());
    auto di = info("Model A");
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di), ERROR_FILE_NOT_FOUND);
    putDriverFiles();
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di));
    const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Model A";
    EXPECT_EQ(regString(key, "Driver"), "pscript.dll");
    EXPECT_EQ(regString(key, "Data File"), "model.ppd");
    EXPECT_EQ(regString(key, "Configuration File"), "pscrptui.dll");
    // NT 3.51 keeps version-1 drivers in the subdirectory "1".
    EXPECT_TRUE(fs::exists(hostPath(driverDir + "\\1\\model.ppd")));
    EXPECT_TRUE(fs::exists(hostPath(driverDir + "\\1\\pscript.dll")));

    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di), ERROR_PRINTER_DRIVER_ALREADY_INSTALLED);
}

TEST_F(PrinterDriver, Nt35CopiesIntoTheVersionFolderSoDeletingTheOriginalsLosesNothing) {
    build(nt351());
    putDriverFiles();
    auto di = info("Model 0");
    di.cVersion = 0;  // modules found in "0" (a machine upgraded from NT 3.1)
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di)) << GetLastError();
    for (const char* f : {"pscript.dll", "pscrptui.dll", "model.ppd"})
        ASSERT_TRUE(DeleteFileA((driverDir + "\\" + f).c_str())) << f;
    for (const char* f : {"pscript.dll", "pscrptui.dll", "model.ppd"})
        EXPECT_TRUE(fs::exists(hostPath(driverDir + "\\0\\" + f))) << f;
    EXPECT_FALSE(fs::exists(hostPath(driverDir + "\\1")));
}

TEST_F(PrinterDriver, Nt31KeepsFilesInPlaceAndEnvironmentsAreChecked) {
    build(nt31());
    putDriverFiles();
    auto di = info("Model A", "windows nt x86");
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di)) << GetLastError();
    EXPECT_FALSE(fs::exists(hostPath(driverDir + "\\1")));
    auto bad = info("Model B", "Windows NT PowerPC");
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&bad), ERROR_INVALID_ENVIRONMENT);
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 3, (LPBYTE)&di), ERROR_INVALID_LEVEL);
}

TEST_F(PrinterDriver, DeleteRefusesUnknownAndInUseDriversAndLeavesFiles) {
    build(nt351());
    standardSetup();
    putDriverFiles();
    auto di = info("Model A");
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di));
    addPrinter("P1", "NP1");
    EXPECT_FAILS(DeletePrinterDriverA(nullptr, nullptr, (LPSTR) "Nobody"), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_FAILS(DeletePrinterDriverA(nullptr, nullptr, (LPSTR) "laser"), ERROR_PRINTER_DRIVER_IN_USE);
    EXPECT_FAILS(DeletePrinterDriverA(nullptr, (LPSTR) "Windows NT Itanium", (LPSTR) "Model A"),
                 ERROR_INVALID_ENVIRONMENT);
    EXPECT_TRUE(DeletePrinterDriverA(nullptr, (LPSTR) "Windows NT x86", (LPSTR) "model a"));
    std::vector<winsim::SpoolDriver> left;
    ASSERT_EQ(winsim::spoolerDrivers("Windows NT x86", left), 0u);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "Laser");
    EXPECT_TRUE(fs::exists(hostPath(driverDir + "\\model.ppd"))) << "the files stay";
}

TEST_F(PrinterDriver, Windows95LooksInTheSystemDirectory) {
    build(win95());
    putFile(winsim::machine().systemDir + "\\pscript.drv");
    putFile(winsim::machine().systemDir + "\\model.ppd");
    DRIVER_INFO_2A di{1, (LPSTR) "Model A", (LPSTR) "Windows 4.0", (LPSTR) "pscript.drv", (LPSTR) "model.ppd",
                      (LPSTR) "pscript.drv"};
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di)) << GetLastError();
    di.pEnvironment = (LPSTR) "Windows NT x86";
    di.pName = (LPSTR) "Model B";
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&di), ERROR_INVALID_ENVIRONMENT);
}

// --- GetPrinterDriverDirectory --------------------------------------------

class DriverDirectory : public SpoolerTest {};

TEST_F(DriverDirectory, PerEnvironmentWithTheSizeProtocol) {
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

    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, (LPSTR) "windows nt alpha_axp", 1, (LPBYTE)buf, sizeof buf, &needed));
    EXPECT_EQ(std::string(buf), "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32ALPHA");
    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, (LPSTR) "Windows NT R4000", 1, (LPBYTE)buf, sizeof buf, &needed));
    EXPECT_EQ(std::string(buf), "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32MIPS");
    EXPECT_FAILS(GetPrinterDriverDirectoryA(nullptr, nullptr, 2, (LPBYTE)buf, sizeof buf, &needed),
                 ERROR_INVALID_LEVEL);
}

TEST_F(DriverDirectory, OwnEnvironmentFollowsTheProcessor) {
    build(nt351("alpha"));
    char buf[128];
    DWORD needed = 0;
    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, sizeof buf, &needed));
    EXPECT_EQ(std::string(buf), "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32ALPHA");
}

TEST_F(DriverDirectory, Windows95UsesTheSystemDirectory) {
    build(win95());
    char buf[128];
    DWORD needed = 0;
    EXPECT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (LPBYTE)buf, sizeof buf, &needed));
    EXPECT_EQ(std::string(buf), "C:\\WINDOWS\\SYSTEM");
    EXPECT_FAILS(GetPrinterDriverDirectoryA(nullptr, (LPSTR) "Windows NT x86", 1, (LPBYTE)buf, sizeof buf, &needed),
                 ERROR_INVALID_ENVIRONMENT);
}

// --- image section and show -------------------------------------------------

class SpoolerImage : public SpoolerTest {};

TEST_F(SpoolerImage, JobsSecurityAndRegistryRecordsSurvive) {
    build(nt351());
    standardSetup();
    addPrinter("P1", "NP1,LPT1:");
    winsim::SpoolJob j;
    j.document = "Report";
    j.totalPages = 4;
    DWORD id = winsim::addSpoolJob("p1", j);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(winsim::addSpoolJob("Nobody", j), 0u);
    winsim::machine().spooler->printers["P1"].security.dacl.push_back({"S-1-5-32-550", 0, 0, PRINTER_ALL_ACCESS});

    winsim::saveImage(winsim::machine(), dir / "img");
    winsim::install(winsim::loadImage(dir / "img"));
    auto jobs = winsim::spoolJobs("P1");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].id, id);
    EXPECT_EQ(jobs[0].document, "Report");
    EXPECT_EQ(jobs[0].totalPages, 4u);
    EXPECT_EQ(winsim::machine().spooler->printers["P1"].security.dacl.back().sid, "S-1-5-32-550");
    EXPECT_EQ(printer("P1").port, "NP1,LPT1:");
    EXPECT_GT(winsim::addSpoolJob("P1", j), id) << "job ids are not reused after a load";

    std::ostringstream out;
    winsim::showSpooler(out, winsim::machine());
    const std::string s = out.str();
    EXPECT_NE(s.find("\"Net Port\" (netmon.dll) ports: NP1 NP2 NP3"), std::string::npos) << s;
    EXPECT_NE(s.find("\"P1\" on NP1,LPT1:, driver \"Laser\", ready, 2 jobs"), std::string::npos) << s;
    EXPECT_NE(s.find("\"Laser\" version 1"), std::string::npos) << s;
}

TEST_F(SpoolerImage, DamagedSectionNamesTheField) {
    build(nt351());
    nlohmann::json j = {{"printers", {{"P1", {{"jobs", {{{"id", 0}}}}}}}}};
    try {
        winsim::loadSpooler(j, winsim::machine());
        FAIL() << "job id 0 accepted";
    } catch (const winsim::ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("/spooler/printers/P1/jobs/0/id"), std::string::npos) << e.what();
    }
    nlohmann::json k = {{"printers", {{"P1", {{"security", {{"owner", "X-1"}}}}}}}};
    EXPECT_THROW(winsim::loadSpooler(k, winsim::machine()), winsim::ImageError);
}

}  // namespace

namespace {

using namespace spooltest;

// --- the spooler service -----------------------------------------------------

class SpoolerService : public SpoolerTest {};

TEST_F(SpoolerService, EveryCallFailsWhileTheSpoolerIsStopped) {
    build(nt351());
    standardSetup();
    addPrinter("Alpha", "NP1");
    HANDLE h = open("Alpha");
    ASSERT_NE(h, nullptr);
    setSpooler("stopped");
    ASSERT_FALSE(winsim::isServiceRunning("Spooler"));

    putFile(winsim::machine().systemDir + "\\m.dll");
    MONITOR_INFO_2A mi{(LPSTR) "Mon", nullptr, (LPSTR) "m.dll"};
    DRIVER_INFO_2A di{1, (LPSTR) "D", nullptr, (LPSTR) "a.dll", (LPSTR) "b.ppd", (LPSTR) "c.dll"};
    DWORD needed = 0, count = 0;
    char buf[256];
    HANDLE h2 = nullptr;
    const std::pair<const char*, std::function<BOOL()>> calls[] = {
        {"AddMonitorA", [&] { return AddMonitorA(nullptr, 2, (LPBYTE)&mi); }},
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
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(call()) << name;
        EXPECT_EQ(GetLastError(), (DWORD)RPC_S_SERVER_UNAVAILABLE) << name;
    }
    EXPECT_TRUE(printerExists("Alpha")) << "nothing changed";
    setSpooler("running");
    ClosePrinter(h);
}

}  // namespace
