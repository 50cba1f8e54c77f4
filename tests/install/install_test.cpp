// The install sequence on a machine: every condition it cannot survive
// driven to its reaction, with the spooler running again whatever happened.
// What a successful installation or upgrade leaves behind is checked by the
// installation scenarios, on the whole program.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "install/copylist.h"
#include "install/fixture.h"
#include "install/install.h"

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

// Runs Install as the flow does; the spooler's state is reported also when
// setup ends on the way.
ChildResult install(Harness& h, const std::string& answers = "") {
    return h.run(answers, [](LPSTR) {
        startupState();
        winsim::addExitHandler([](UINT) { reportSpooler(); });
        BuildCopyList();
        Install();
        harness::report("returned=1");
        return 0;
    });
}

std::string spoolerRunning() { return std::to_string(SERVICE_RUNNING); }

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

}  // namespace
