// The install sequence on a machine: what a fresh installation and an
// upgrade leave behind, and every condition it cannot survive driven to its
// reaction, with the spooler running again whatever happened.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "install/copylist.h"
#include "install/fixture.h"
#include "install/install.h"
#include "winsim/dde/state.h"

namespace {

using namespace installtest;

const char kPort[] = "Varden Network Port";
const char kMonitors[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

// A machine with the sample distribution; on NT the spooler keeps the
// PostScript modules in its version subdirectory, on Windows 95 the driver
// module stands in the system directory. upgrade: an earlier release's
// monitor is registered (under an older key name) and its module is there.
void prepare(Harness& h, bool upgrade) {
    copyDistribution(h);
    bool nt = winsim::machine().os.isNT();
    if (nt)
        putNtModules(h, "1");
    else
        put(h, winsim::machine().systemDir + "\\pscript.drv");
    if (upgrade) {
        const char* module = nt ? "vrdpsmon.dll" : "vrdpsmw4.dll";
        winsim::defineMonitor("Varden Network Port 4.2", module, {"VNP1"});
        put(h, winsim::machine().systemDir + "\\" + module, "earlier release\n");
    }
}

// Runs Install as the flow does and reports what it left; the spooler's
// state is reported also when setup ends on the way.
ChildResult install(Harness& h, const std::string& answers = "") {
    return h.run(answers, [](LPSTR) {
        startupState();
        winsim::addExitHandler([](UINT) { reportSpooler(); });
        BuildCopyList();
        Install();
        harness::report("returned=1");
        harness::report("installed=%d", (int)::Setup.MonitorInstalled);
        std::vector<winsim::SpoolMonitor> monitors;
        winsim::spoolerMonitors(monitors);
        for (const auto& m : monitors) harness::report("monitor %s|%s", m.name.c_str(), m.driver.c_str());
        for (const auto& g : winsim::progmanGroups())
            for (const auto& i : g.items) harness::report("item %s|%s|%s", g.name.c_str(), i.name.c_str(), i.command.c_str());
        return 0;
    });
}

std::string spoolerRunning() { return std::to_string(SERVICE_RUNNING); }

TEST(Install, FreshNt35RegistersTheMonitorAndBuildsTheGroup) {
    Harness h;
    prepare(h, false);
    ChildResult r = install(h);
    ASSERT_EQ(r.value("returned"), "1") << r.output;
    EXPECT_EQ(r.value("installed"), "0");
    EXPECT_TRUE(hasReport(r, "monitor Varden Network Port|vrdpsmon.dll"));
    EXPECT_EQ(winsim::machine().callCounts["ControlService"], 0u);
    auto items = reported(r, "item Varden Network Printers|");
    EXPECT_EQ(items, (std::vector<std::string>{
                         "item Varden Network Printers|Varden Network Printing Help|vrdpsmon.hlp",
                         "item Varden Network Printers|Varden Network Printer Setup Wizard|C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe",
                         "item Varden Network Printers|Varden Remote Console for Windows|C:\\win32app\\vrdpsmon\\utility\\vrdrcons.exe",
                         "item Varden Network Printers|Varden ORVEL for Windows|C:\\win32app\\vrdpsmon\\utility\\vrdorvel.exe",
                         "item Varden Network Printers|READ ME! Release notes for Version 5.1|WRITE C:\\win32app\\vrdpsmon\\qlrrn51.wri",
                         "item Varden Network Printers|Version 5.1 Software Product Description|WRITE C:\\win32app\\vrdpsmon\\sp480907.wri"}));
    EXPECT_TRUE(reported(r, "item Startup|").empty());
    // The modules copied up for the drivers are gone again; the spooler's stay.
    EXPECT_FALSE(fs::exists(h.host(driverDir() + "\\pscript.dll")));
    EXPECT_TRUE(fs::exists(h.host(driverDir() + "\\1\\pscript.dll")));
}

TEST(Install, UpgradeNt35FoldsTheOldKeyAndRunsTheSpoolerAgain) {
    Harness h;
    prepare(h, true);
    ChildResult r = install(h);
    ASSERT_EQ(r.value("returned"), "1") << r.output;
    EXPECT_EQ(r.value("installed"), "1");
    EXPECT_TRUE(hasReport(r, "monitor Varden Network Port|vrdpsmon.dll"));
    EXPECT_TRUE(reported(r, "monitor Varden Network Port 4.2").empty());
    EXPECT_EQ(r.value("spooler"), spoolerRunning());
    std::ifstream module(h.host(winsim::machine().systemDir + "\\vrdpsmon.dll"));
    std::string first;
    std::getline(module, first);
    EXPECT_NE(first, "earlier release");
}

TEST(Install, UpgradeWindows95SchedulesTheModuleAndPlacesTheStartupItem) {
    Harness h(harness::win95());
    prepare(h, true);
    ChildResult r = install(h);
    ASSERT_EQ(r.value("returned"), "1") << r.output;
    std::string sys = winsim::machine().systemDir;
    std::ifstream ini(h.host(winsim::machine().windowsDir + "\\wininit.ini"));
    std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(sys + "\\vrdpsmw4.dll=" + sys + "\\vrdpsmw4.new"), std::string::npos) << text;
    EXPECT_TRUE(hasReport(r, "item Startup|Varden Network Printing Help|vrdpsmw4.hlp"));
    EXPECT_TRUE(hasReport(r, "item Varden Network Printers|READ ME! Release notes for Version 5.1|"
                             "C:\\win32app\\vrdpsmon\\qlrrn51.wri"));
}

TEST(Install, Windows95FreshRenameThatFailsWithNoModuleIsReportedAndSetupGoesOn) {
    Harness h(harness::win95());
    prepare(h, false);
    failNext("MoveFileA", 1, ERROR_ACCESS_DENIED);
    ChildResult r = install(h, "2300 CONTINUE\n");
    std::string sys = winsim::machine().systemDir;
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Install: Couldn't rename " + sys + "\\vrdpsmw4.new to " +
                                                        sys + "\\vrdpsmw4.dll (error = 5)"}));
    // Setup went on; without its module the spooler then refuses the monitor
    // (ERROR_MOD_NOT_FOUND, as Wine answers posing as Windows 95).
    EXPECT_TRUE(r.hasLine("error Install -- AddMonitor failed, error = 126")) << r.output;
}

// Every condition the sequence cannot survive, with its message; on NT 3.5x
// the spooler runs again when setup has ended.
struct FatalRow {
    const char* name;
    bool windows95;
    bool upgrade;
    std::function<void(Harness&)> fault;
    const char* error;
};

TEST(Install, FatalConditionsEndSetupWithTheirMessage) {
    const FatalRow rows[] = {
        {"monitors key refused", false, false,
         [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, kMonitors); },
         "error Install -- Couldn't open registry root, Error = 5"},
        {"modules in a subdirectory without a number", false, false,
         [](Harness& h) {
             fs::remove_all(h.host(driverDir() + "\\1"));
             putNtModules(h, "x");
         },
         "error setupForPPDInstall failed, error = 123"},
        {"spooler does not stop", false, true,
         [](Harness&) { failNext("ControlService", 0, ERROR_ACCESS_DENIED, "Spooler"); },
         "error Install -- Couldn't stop spooler, error = 5"},
        {"monitor key cannot be repaired", false, true,
         [](Harness&) {
             failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED, std::string(kMonitors) + "\\" + kPort);
         },
         "error Install -- FixReg failed, error = "},  // the number is FixReg's last error
        {"copy fails while the spooler is stopped", false, true,
         [](Harness& h) { fs::remove(h.host("C:\\dist\\vrdorvel.exe")); }, "error Error code = 1024"},
        {"spooler does not start again", false, true,
         [](Harness&) { failNext("StartServiceA", 1, ERROR_SERVICE_DISABLED, "Spooler"); },
         "error Install -- Couldn't start spooler, error = 1058"},
        {"AddMonitor refused on NT", false, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5"},
        {"AddMonitor refused on Windows 95", true, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5"},
        {"earlier monitor still loaded on Windows 95", true, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ALREADY_EXISTS); },
         "error An instance of the Brevant Moniter was still residing in memory.  An incomplete installation or "
         "de-installation was detected.  Please reboot the computer before re-running this installation program."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.windows95 ? harness::win95() : harness::nt351());
        prepare(h, row.upgrade);
        row.fault(h);
        ChildResult r = install(h, "2300 CONTINUE\n");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("returned"), "");
        auto errors = r.lines("error");
        ASSERT_EQ(errors.size(), 1u) << r.output;
        std::string expected = row.error;
        if (expected.back() == ' ')
            EXPECT_EQ(errors[0].substr(0, expected.size()), expected);
        else
            EXPECT_EQ(errors[0], expected);
        if (!row.windows95 && std::string(row.name) != "spooler does not start again") {
            EXPECT_EQ(r.value("spooler"), spoolerRunning());
        }
    }
}

// The one start attempt after the stop is not repeated by the fatal report.
TEST(Install, FailedStartIsNotTriedTwice) {
    Harness h;
    prepare(h, true);
    failNext("StartServiceA", 0, ERROR_SERVICE_DISABLED, "Spooler");
    ChildResult r = install(h, "2300 CONTINUE\n");
    EXPECT_TRUE(r.hasLine("error Install -- Couldn't start spooler, error = 1058")) << r.output;
    EXPECT_NE(r.value("spooler"), spoolerRunning());
}

}  // namespace

namespace {

using namespace installtest;

// A fresh Windows 95 installation whose move fails because an old module is
// still there schedules the same line as an upgrade instead of reporting.
TEST(Install, Windows95FreshRenameOverAnOldModuleIsScheduled) {
    Harness h(harness::win95());
    prepare(h, false);
    std::string sys = winsim::machine().systemDir;
    put(h, sys + "\\vrdpsmw4.dll", "left over\n");
    ChildResult r = install(h);
    ASSERT_EQ(r.value("returned"), "1") << r.output;
    EXPECT_TRUE(r.lines("box").empty());
    std::ifstream ini(h.host(winsim::machine().windowsDir + "\\wininit.ini"));
    std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(sys + "\\vrdpsmw4.dll=" + sys + "\\vrdpsmw4.new"), std::string::npos) << text;
}

}  // namespace
