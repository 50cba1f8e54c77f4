// Whole installations: a machine made by `winsim new` (with an earlier
// release where a row says so) and an answers file in, the machine
// afterwards out. One table of installations that succeed (fresh and
// upgrade on every platform, both installation types, every source of the
// PostScript modules; each followed by the restart that finishes it).
#include "scenario/harness.h"

#include <gtest/gtest.h>

namespace {

using namespace scenario;

const std::string kPrint = "SYSTEM\\CurrentControlSet\\Control\\Print";
const std::string kMonitors = kPrint + "\\Monitors";
const std::string kPrinters = kPrint + "\\Printers";
const std::string kVersion = "SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion";

// Where this machine keeps what the installation touches.
struct Layout {
    bool win95;
    std::string system, env, module, moduleSource;
};

Layout layoutOf(const Scenario& s) {
    json j = s.machineJson();
    std::string arch = j["os"]["arch"], sys = j["system_dir"];
    bool win95 = j["os"]["platform"] == "win95";
    if (win95) return {true, sys, "Windows 4.0", "vrdpsmw4.dll", "vrdpsmw4.dll"};
    return {false, sys, arch == "alpha" ? "Windows NT Alpha_AXP" : arch == "mips" ? "Windows NT R4000" : "Windows NT x86", "vrdpsmon.dll",
            arch == "alpha" ? "vrdpsmon.axp" : arch == "mips" ? "vrdpsmon.mip" : "vrdpsmon.dll"};
}

// An earlier release as a user meets it: its monitor under an older name
// with the same module (loaded by the spooler after the restart), a Files
// key, the version key; a printer on an obsolete driver name, one on a
// current name that the installation must replace while it is in use, and
// one on another maker's driver that lends its name while that happens.
void installEarlierRelease(Scenario& s) {
    Layout l = layoutOf(s);
    s.writeFile(l.system + "\\" + l.module, "earlier monitor module\n");
    std::string drivers = "HKEY_LOCAL_MACHINE\\" + kPrint + "\\Environments\\" + l.env + "\\Drivers\\";
    std::string reg = "[HKEY_LOCAL_MACHINE\\" + kMonitors + "\\Brevant Network Port]\r\n\"Driver\"=\"" + l.module +
                      "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\" + kMonitors + "\\Brevant Network Port\\Ports\\VNP_LAB:]\r\n\r\n" +
                      "[HKEY_LOCAL_MACHINE\\" + kMonitors + "\\Brevant Network Port\\Files]\r\n\"Root\"=\"C:\\\\win32app\\\\vrdpsmon\"\r\n\r\n" +
                      "[HKEY_LOCAL_MACHINE\\" + kMonitors + "\\Local Port\\Ports\\LPT1:]\r\n\r\n" +
                      "[HKEY_LOCAL_MACHINE\\" + kVersion + "]\r\n\"Version Installed\"=\"V4.8-3\"\r\n\r\n";
    const char* pscript = l.win95 ? "pscript.drv" : "pscript.dll";
    for (auto [name, ppd] : {std::pair{"Varden LaserStream 600 v48.3", "vls600.ppd"}, {"Varden JobStream 3000", "old3000.ppd"},
                             {"Other Maker PS", "other.ppd"}})
        reg += "[" + drivers + name + "]\r\n\"Driver\"=\"" + pscript + "\"\r\n\"Data File\"=\"" + ppd +
               "\"\r\n\"Configuration File\"=\"" + pscript + "\"\r\n\"Version\"=dword:00000001\r\n\r\n";
    for (auto [name, port, driver] : {std::tuple{"Lab", "VNP_LAB:", "Varden LaserStream 600 v48.3"},
                                      {"Office", "LPT1:", "Varden JobStream 3000"}, {"Lobby", "LPT1:", "Other Maker PS"}})
        reg += "[HKEY_LOCAL_MACHINE\\" + kPrinters + "\\" + name + "]\r\n\"Name\"=\"" + name + "\"\r\n\"Port\"=\"" + port +
               "\"\r\n\"Printer Driver\"=\"" + driver +
               "\"\r\n\"Status\"=dword:00000000\r\n\"Attributes\"=dword:00000000\r\n\"Priority\"=dword:00000001\r\n\r\n";
    s.importReg(reg);
    s.reboot();
}

// --- installations that succeed ----------------------------------------------------

enum class Before { Nothing, EarlierRelease, StrayModule };

struct InstallRow {
    const char* name;
    std::vector<std::string> machine;  // `winsim new` options
    Before before;                     // what the machine holds before the run
    std::string answers;               // a shipped file's name, or the text; a run that
                                       // ends with 0 showed exactly the pages it answers
};

void PrintTo(const InstallRow& r, std::ostream* os) { *os << r.name; }

const InstallRow kInstallRows[] = {
    {"Nt351X86ModulesInVersionFolder", {"--os", "nt351", "--arch", "x86", "--ps-modules", "versiondir"}, Before::Nothing,
     "install-default-start-all.ans"},
    {"Nt351AlphaModulesInDriverFolder", {"--os", "nt351", "--arch", "alpha", "--ps-modules", "driverdir"}, Before::Nothing,
     "install-default.ans"},
    {"Nt351MipsModulesFetched", {"--os", "nt351", "--arch", "mips"}, Before::Nothing, "demo.ans"},
    {"Nt350ChosenRootModulesInFolder0", {"--os", "nt350", "--arch", "x86", "--ps-modules", "versiondir=0"}, Before::Nothing,
     "install-destination.ans"},
    {"Nt31Fresh", {"--os", "nt31", "--arch", "x86", "--ps-modules", "driverdir"}, Before::Nothing, "install-default.ans"},
    {"Win95ModulesFromTheCabinet", {"--os", "win95", "--arch", "x86", "--extract-ms", "3000"}, Before::Nothing,
     "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n102 CONTINUE\n1200 CONTINUE\n1400 CANCEL\n700 CONTINUE\n"},
    // The spooler is stopped before the old module is touched (so it is
    // deleted at once) and runs again before the drivers are added.
    {"Nt351Upgrade", {"--os", "nt351", "--arch", "x86", "--ps-modules", "versiondir"}, Before::EarlierRelease,
     "install-default.ans"},
    {"Nt31Upgrade", {"--os", "nt31", "--arch", "x86", "--ps-modules", "driverdir"}, Before::EarlierRelease,
     "upgrade-restart-later.ans"},
    // A fresh installation over a module that no monitor names: the new one
    // goes in at the next start, as on an upgrade, without its pages.
    {"Win95FreshOverAStrayModule", {"--os", "win95", "--arch", "x86", "--ps-modules", "driverdir"}, Before::StrayModule,
     "install-default.ans"},
    {"Win95Upgrade", {"--os", "win95", "--arch", "x86", "--ps-modules", "driverdir"}, Before::EarlierRelease,
     "upgrade-restart-later.ans"},
};

class Installation : public ::testing::TestWithParam<InstallRow> {};

TEST_P(Installation, LeavesTheMachineAsItsRowSays) {
    const InstallRow& row = GetParam();
    Scenario s(row.name);
    std::vector<std::string> options = row.machine;
    options.insert(options.end(), {"--user", "admin"});
    ASSERT_TRUE(s.newMachine(options)) << s.error;
    if (row.before == Before::EarlierRelease) installEarlierRelease(s);
    ASSERT_FALSE(HasFailure());
    const Layout l = layoutOf(s);
    const std::string module = l.system + "\\" + l.module, side = l.system + (l.win95 ? "\\vrdpsmw4.new" : "\\vrdpsmon.old");
    if (row.before == Before::StrayModule) s.writeFile(module, "earlier monitor module\n");

    // What the run does is pinned by the scenario's transcript: the programs
    // started, the status pages, the time it takes, the monitor module in
    // place or beside the loaded one, the PostScript modules where the
    // spooler keeps them (on NT 3.5x in its version folder only), the
    // monitor's and the product's keys, an earlier release's monitor key
    // merged and its drivers and printers moved to current names, the
    // renames left for the next start, and the help in "Startup" only where
    // a restart is offered.
    RunResult r = s.run(row.answers);
    ASSERT_EQ(r.exitCode, 0) << r.describe();

    // The restart finishes the job: the new module in place, nothing beside it.
    s.reboot();
    EXPECT_EQ(s.fileText(module), distFile(l.moduleSource));
    EXPECT_FALSE(s.exists(side)) << side;
    EXPECT_EQ(s.machineJson()["spooler"]["loaded_monitors"]["Varden Network Port"], l.module);
}

INSTANTIATE_TEST_SUITE_P(Rows, Installation, ::testing::ValuesIn(kInstallRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
