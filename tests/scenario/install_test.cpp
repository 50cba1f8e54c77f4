// Whole installations: a machine image and an answers file in, the machine
// afterwards out. One scenario per behaviour: fresh and upgrade on every
// platform (then the restart that finishes them), the installation types,
// the spooler around an NT 3.5x upgrade, drivers moved off obsolete names
// and a driver in use replaced, where the PostScript modules come from,
// the Windows 95 cabinet, running twice, and a monitor still in memory.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using scenario::RunResult;
using scenario::Scenario;

const char* kMonitors = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char* kPrint = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print";
const char* kVersionKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion";
const char* kGroup = "Varden Network Printers";

std::string lowered(std::string s) {
    for (auto& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string answers(const char* name) { return readText(scenario::sourceRoot() / "dist" / "answers" / name); }

// The machine's HKEY_LOCAL_MACHINE: key -> its value lines.
std::map<std::string, std::vector<std::string>> registry(const Scenario& s) {
    std::map<std::string, std::vector<std::string>> keys;
    std::istringstream in(readText(s.machineDir() / "registry" / "HKEY_LOCAL_MACHINE.reg"));
    std::string line, key;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') keys[key = line.substr(1, line.size() - 2)];
        else if (!key.empty() && !line.empty()) keys[key].push_back(line);
    }
    return keys;
}

// A value line ("Name"=...) of a key, or "" when key or value is missing.
std::string value(const std::map<std::string, std::vector<std::string>>& reg, const std::string& key,
                  const std::string& name) {
    auto k = reg.find(key);
    if (k == reg.end()) return "";
    std::string prefix = lowered("\"" + name + "\"=");
    for (const auto& l : k->second)
        if (lowered(l.substr(0, prefix.size())) == prefix) return l.substr(name.size() + 3);
    return "";
}

void tool(Scenario& s, std::vector<std::string> args) {
    std::string out, err;
    int rc = scenario::runProgram(scenario::binDir() / "winsim", args, s.root(), out, err);
    ASSERT_EQ(rc, 0) << "winsim " << args[0] << ": " << out << err;
}

void importReg(Scenario& s, const std::string& body) {
    fs::path file = s.root() / "import.reg";
    std::ofstream(file, std::ios::binary) << "REGEDIT4\r\n\r\n" << body;
    tool(s, {"reg", "import", s.machineDir().string(), file.string()});
}

void reboot(Scenario& s) { tool(s, {"reboot", s.machineDir().string()}); }

struct Platform {
    const char* os;
    bool win95;
    const char* sys;      // system directory
    const char* drivers;  // printer-driver directory
    const char* env;      // the drivers' environment key
};
const Platform kNt351{"nt351", false, "C:\\WINNT35\\system32", "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32X86",
                      "Windows NT x86"};
const Platform kNt350{"nt350", false, "C:\\WINNT35\\system32", "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32X86",
                      "Windows NT x86"};
const Platform kNt31{"nt31", false, "C:\\WINNT\\system32", "C:\\WINNT\\system32\\spool\\DRIVERS\\W32X86",
                     "Windows NT x86"};
const Platform kWin95{"win95", true, "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM", "Windows 4.0"};

const char* moduleOf(const Platform& p) { return p.win95 ? "vrdpsmw4.dll" : "vrdpsmon.dll"; }

void make(Scenario& s, const Platform& p, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--os", p.os, "--arch", "x86", "--user", "admin"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(s.newMachine(args)) << s.error;
}

// An earlier release as a user meets it: its monitor module (the old bytes)
// loaded by the spooler under an older monitor name, a printer on an
// obsolete driver name, a printer using the current driver of one model
// (from an older PPD file) and one on a driver of another maker.
void earlierRelease(Scenario& s, const Platform& p) {
    fs::path module = s.hostPath(std::string(p.sys) + "\\" + moduleOf(p));
    std::ofstream(module, std::ios::binary) << "old monitor module\n";
    std::string drivers = std::string(kPrint) + "\\Environments\\" + p.env + "\\Drivers\\";
    // The local port the printers use.
    std::string body = p.win95 ? "[" + std::string(kMonitors) + "\\Local Port\\Ports\\LPT1:]\r\n\r\n"
                               : "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports]\r\n"
                                 "\"LPT1:\"=\"\"\r\n\r\n";
    body += "[" + std::string(kMonitors) + "\\Varden Port Monitor]\r\n\"Driver\"=\"" + moduleOf(p) + "\"\r\n\r\n";
    for (const char* d : {"Varden LaserStream 600 v48.3", "Varden LaserStream 1200", "Other Maker PS"})
        body += "[" + drivers + d + "]\r\n\"Driver\"=\"pscript.dll\"\r\n\"Data File\"=\"old.ppd\"\r\n"
                "\"Configuration File\"=\"pscrptui.dll\"\r\n\"Version\"=dword:00000001\r\n\r\n";
    const char* printers[][2] = {{"Sales", "Varden LaserStream 600 v48.3"},
                                 {"Office", "Varden LaserStream 1200"},
                                 {"Lobby", "Other Maker PS"}};
    for (auto& pr : printers)
        body += "[" + std::string(kPrint) + "\\Printers\\" + pr[0] + "]\r\n\"Name\"=\"" + pr[0] +
                "\"\r\n\"Port\"=\"LPT1:\"\r\n\"Printer Driver\"=\"" + pr[1] +
                "\"\r\n\"Status\"=dword:00000000\r\n\"Attributes\"=dword:00000000\r\n\"Priority\"=dword:00000001\r\n\r\n";
    importReg(s, body);
    reboot(s);  // the spooler starts and loads the module
}

void expectExit0(const RunResult& r) {
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    ASSERT_FALSE(r.log.empty()) << r.describe();
    EXPECT_EQ(r.log.back(), "exit 0") << r.describe();
}

// The group with its six items, exactly once.
void expectOneGroupOfSix(const Scenario& s) {
    int groups = 0;
    nlohmann::json j = s.machineJson();
    for (const auto& g : j["dde"]["progman"]["groups"])
        if (g["name"] == kGroup) {
            ++groups;
            EXPECT_EQ(g["items"].size(), 6u) << g.dump(1);
        }
    EXPECT_EQ(groups, 1);
}

std::string startupItems(const Scenario& s) {
    nlohmann::json j = s.machineJson();
    for (const auto& g : j["dde"]["progman"]["groups"])
        if (g["name"] == "Startup") return g["items"].dump();
    return "";
}

// --- the state table: fresh and upgrade, then the restart -----------------

struct Row {
    const char* name;
    Platform platform;
    bool upgrade;
    const char* answers;
    std::vector<int> pages;
    // After the run (before the restart): the module's side file and what
    // is scheduled for the next start.
    bool sideFile;              // vrdpsmon.old / vrdpsmw4.new still there
    bool renameScheduled;       // PendingFileRenameOperations / wininit.ini [rename]
    bool helpInStartup;
};

const Row kRows[] = {
    {"FreshNt351", kNt351, false, "install-default.ans", {100, 800, 1200, 1400, 700}, false, false, false},
    {"FreshNt31", kNt31, false, "install-default.ans", {100, 800, 1200, 1400, 700}, false, false, false},
    {"FreshWin95", kWin95, false, "install-default.ans", {100, 800, 1200, 1400, 700}, false, false, false},
    // The side name is scheduled for deletion whether or not the module
    // could be deleted at once (it could: the spooler was stopped).
    {"UpgradeNt351", kNt351, true, "install-default.ans", {100, 800, 1200, 1400, 700}, false, true, false},
    {"UpgradeNt31", kNt31, true, "upgrade-restart-later.ans", {100, 800, 1000, 1500, 700}, true, true, true},
    {"UpgradeWin95", kWin95, true, "upgrade-restart-later.ans", {100, 800, 1000, 1500, 700}, true, true, true},
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

class StateTable : public ::testing::TestWithParam<Row> {};

TEST_P(StateTable, MachineAfterTheRunAndAfterTheRestart) {
    const Row& row = GetParam();
    const Platform& p = row.platform;
    Scenario s(std::string("state-") + row.name);
    make(s, p, {"--ps-modules", "driverdir"});
    if (::testing::Test::HasFatalFailure()) return;
    if (row.upgrade) earlierRelease(s, p);
    if (::testing::Test::HasFatalFailure()) return;

    auto r = s.run(answers(row.answers));
    expectExit0(r);
    EXPECT_EQ(r.pages(), row.pages) << r.describe();
    EXPECT_FALSE(r.hasLineStarting("box")) << r.describe();

    auto reg = registry(s);
    std::string monitorKey = std::string(kMonitors) + "\\Varden Network Port";
    EXPECT_EQ(value(reg, monitorKey, "Driver"), std::string("\"") + moduleOf(p) + "\"");
    EXPECT_FALSE(reg.count(std::string(kMonitors) + "\\Varden Port Monitor")) << "older monitor key merged away";
    EXPECT_EQ(value(reg, kVersionKey, "Version Installed"), "\"V5.1-1\"");
    EXPECT_TRUE(reg.count(std::string(kPrint) + "\\Environments\\" + p.env + "\\Drivers\\Varden LaserStream 600"));
    expectOneGroupOfSix(s);
    EXPECT_EQ(startupItems(s).find("Varden Network Printing Help") != std::string::npos, row.helpInStartup)
        << startupItems(s);

    std::string sys = p.sys;
    std::string side = p.win95 ? sys + "\\vrdpsmw4.new" : sys + "\\vrdpsmon.old";
    std::string newModule = readText(scenario::sourceRoot() / "dist" / moduleOf(p));
    EXPECT_EQ(fs::exists(s.hostPath(side)), row.sideFile) << side;
    std::string scheduled = p.win95 ? readText(s.hostPath("C:\\WINDOWS\\wininit.ini"))
                                    : value(reg, "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                            "PendingFileRenameOperations");
    EXPECT_EQ(!scheduled.empty(), row.renameScheduled) << scheduled;
    if (p.win95 && row.upgrade) {
        // The loaded module stays until the restart; the new one waits beside it.
        EXPECT_NE(scheduled.find(sys + "\\vrdpsmw4.dll=" + sys + "\\vrdpsmw4.new"), std::string::npos) << scheduled;
        EXPECT_EQ(readText(s.hostPath(sys + "\\vrdpsmw4.dll")), "old monitor module\n");
    } else {
        EXPECT_EQ(readText(s.hostPath(sys + "\\" + moduleOf(p))), newModule);
    }

    // The restart finishes the job: the module in its final place, nothing
    // left beside it or scheduled.
    reboot(s);
    if (::testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(readText(s.hostPath(sys + "\\" + moduleOf(p))), newModule);
    EXPECT_FALSE(fs::exists(s.hostPath(side))) << side;
}

INSTANTIATE_TEST_SUITE_P(Install, StateTable, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// --- installation types ---------------------------------------------------

TEST(InstallType, ChosenDestinationWritesTheFilesKeyAndTheLoadSet) {
    Scenario s("type1");
    make(s, kNt351, {"--ps-modules", "driverdir"});
    auto r = s.run(answers("install-destination.ans"));
    expectExit0(r);
    auto reg = registry(s);
    EXPECT_EQ(value(reg, std::string(kMonitors) + "\\Varden Network Port\\Files", "Root"), "\"C:\\\\VARDEN\"");
    for (const char* f : {"C:\\VARDEN\\vrdload.ps", "C:\\VARDEN\\cat\\vrdfonts.cat", "C:\\VARDEN\\sys\\vrdsys.bin",
                          "C:\\VARDEN\\utility\\vrdpswiz.exe"})
        EXPECT_TRUE(fs::exists(s.hostPath(f))) << f;
}

TEST(InstallType, EverythingOnTheSystemDriveWritesNoFilesKeyAndNoLoadSet) {
    Scenario s("type3");
    make(s, kNt351, {"--ps-modules", "driverdir"});
    auto r = s.run(answers("install-default.ans"));
    expectExit0(r);
    auto reg = registry(s);
    EXPECT_FALSE(reg.count(std::string(kMonitors) + "\\Varden Network Port\\Files"));
    EXPECT_TRUE(fs::exists(s.hostPath("C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe")));
    EXPECT_FALSE(fs::exists(s.hostPath("C:\\win32app\\vrdpsmon\\vrdload.ps")));
}

// --- NT 3.5x upgrade: the spooler, the drivers ------------------------------

TEST(Nt35Upgrade, SpoolerStoppedBeforeTheModuleAndRunningBeforeTheDrivers) {
    Scenario s("nt35-spooler");
    make(s, kNt350, {"--ps-modules", "driverdir"});
    earlierRelease(s, kNt350);
    if (::testing::Test::HasFatalFailure()) return;
    auto r = s.run(answers("install-default.ans"));
    expectExit0(r);
    // The modeless pages pass in this order.
    std::size_t stop = r.out.find("Stopping the print spooler"), start = r.out.find("Starting the print spooler"),
                drivers = r.out.find("Installing the printer drivers");
    ASSERT_NE(stop, std::string::npos) << r.out;
    EXPECT_LT(stop, start) << r.out;
    EXPECT_LT(start, drivers) << r.out;
    // With the spooler stopped the old module was not loaded: deleted at
    // once, not moved aside under the side name (where a loaded one stays).
    EXPECT_FALSE(fs::exists(s.hostPath(std::string(kNt350.sys) + "\\vrdpsmon.old")));
    EXPECT_EQ(readText(s.hostPath(std::string(kNt350.sys) + "\\vrdpsmon.dll")),
              readText(scenario::sourceRoot() / "dist" / "vrdpsmon.dll"));
    // Running again, with the new module loaded, before the drivers were added.
    std::string shown;
    nlohmann::json j = s.machineJson();
    for (const auto& svc : j["services"]["list"])
        if (svc["name"] == "Spooler") shown = svc["state"];
    EXPECT_EQ(shown, "running");
    EXPECT_EQ(s.machineJson()["spooler"]["loaded_monitors"]["Varden Network Port"], "vrdpsmon.dll");
}

TEST(Nt35Upgrade, ObsoleteNamesMovedAndTheDriverInUseReplacedThroughParking) {
    Scenario s("nt35-drivers");
    make(s, kNt351, {"--ps-modules", "driverdir"});
    earlierRelease(s, kNt351);
    if (::testing::Test::HasFatalFailure()) return;
    auto r = s.run(answers("install-default.ans"));
    expectExit0(r);
    auto reg = registry(s);
    std::string printers = std::string(kPrint) + "\\Printers\\", drivers = std::string(kPrint) + "\\Environments\\Windows NT x86\\Drivers\\";
    // The printer on the obsolete name now uses the current driver; the old driver is gone.
    EXPECT_EQ(value(reg, printers + "Sales", "Printer Driver"), "\"Varden LaserStream 600\"");
    EXPECT_FALSE(reg.count(drivers + "Varden LaserStream 600 v48.3"));
    // The driver in use was deleted and added again with the new PPD file:
    // its printer is back on it and not left paused; the lender untouched.
    EXPECT_EQ(value(reg, drivers + "Varden LaserStream 1200", "Data File"), "\"vls1200.ppd\"");
    EXPECT_EQ(value(reg, printers + "Office", "Printer Driver"), "\"Varden LaserStream 1200\"");
    EXPECT_EQ(value(reg, printers + "Office", "Status"), "dword:00000000");
    EXPECT_EQ(value(reg, printers + "Lobby", "Printer Driver"), "\"Other Maker PS\"");
    EXPECT_FALSE(r.hasLineStarting("box")) << r.describe();
}

// --- where the PostScript modules come from ---------------------------------

struct ModulesRow {
    const char* name;
    const char* placement;  // --ps-modules
    const char* answers;
    int exitCode;
    const char* driversIn;  // version subdirectory the drivers' files went to ("" none)
    const char* errorText;  // part of the fatal message, or ""
};

const ModulesRow kModuleRows[] = {
    {"CopiedUpFrom1", "versiondir=1", "install-default.ans", 0, "1", ""},
    {"CopiedUpFrom0", "versiondir=0", "install-default.ans", 0, "0", ""},
    {"NonNumericSubdirectoryFails", "versiondir=x", "", 0, "", "error setupForPPDInstall failed"},
    {"FetchedFromTheDistribution", "none", "install-fetch-drivers.ans", 0, "1", ""},
};

void PrintTo(const ModulesRow& r, std::ostream* os) { *os << r.name; }

class PostScriptModules : public ::testing::TestWithParam<ModulesRow> {};

TEST_P(PostScriptModules, OnNt351) {
    const ModulesRow& row = GetParam();
    Scenario s(std::string("psmod-") + row.name);
    make(s, kNt351, {"--ps-modules", row.placement});
    std::string a = *row.errorText ? "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n2300 CONTINUE\n" : answers(row.answers);
    auto r = s.run(a);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.describe();
    std::string dir = kNt351.drivers;
    if (*row.errorText) {
        EXPECT_TRUE(r.hasLineStarting(row.errorText)) << r.describe();
        EXPECT_FALSE(registry(s).count(std::string(kPrint) + "\\Environments\\Windows NT x86\\Drivers\\Varden LaserStream 600"));
        return;
    }
    auto reg = registry(s);
    std::string drv = std::string(kPrint) + "\\Environments\\Windows NT x86\\Drivers\\Varden LaserStream 600";
    EXPECT_EQ(value(reg, drv, "Version"), std::string("dword:0000000") + row.driversIn) << r.describe();
    EXPECT_TRUE(fs::exists(s.hostPath(dir + "\\" + row.driversIn + "\\vls600.ppd")));
    // The copies in the driver directory itself are deleted after the drivers were added.
    for (const char* f : {"pscript.dll", "pscrptui.dll", "vls600.ppd"})
        EXPECT_FALSE(fs::exists(s.hostPath(dir + "\\" + f))) << f;
}

INSTANTIATE_TEST_SUITE_P(Install, PostScriptModules, ::testing::ValuesIn(kModuleRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DistributionFetch, WrongPathCorrectedOnPage1100) {
    Scenario s("fetch-corrected");
    make(s, kNt351, {"--ps-modules", "none"});
    // The recorded path points nowhere: the first try fails (page 1300),
    // the path is corrected on the second showing of page 1100.
    importReg(s, "[HKEY_LOCAL_MACHINE\\SYSTEM\\Setup]\r\n\"WinntPath\"=\"E:\\\\NOWHERE\"\r\n\r\n");
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1100 CONTINUE\n1300 CONTINUE\n"
                   "1100 CONTINUE EditTextOut=\"E:\\I386\"\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n");
    expectExit0(r);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 1100, 1300, 1100, 1200, 1400, 700})) << r.describe();
    EXPECT_TRUE(registry(s).count(std::string(kPrint) + "\\Environments\\Windows NT x86\\Drivers\\Varden LaserStream 600"));
}

TEST(DistributionFetch, Win95CabinetExtractedWhileSetupPolls) {
    Scenario s("cabinet");
    make(s, kWin95, {"--ps-modules", "none", "--extract-ms", "3000"});
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=1\n102 CONTINUE\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n");
    expectExit0(r);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 102, 1200, 1400, 700})) << r.describe();
    EXPECT_TRUE(fs::exists(s.hostPath("C:\\WINDOWS\\SYSTEM\\pscript.drv")));
    auto started = s.machineJson()["processes"]["started"].dump();
    EXPECT_NE(started.find("extract.exe"), std::string::npos) << started;
    EXPECT_NE(started.find("/Y /A /L C:\\\\WINDOWS\\\\SYSTEM"), std::string::npos) << started;
    // Polls of 500 ms until the file came (within 3 s), then the 25 s pause, the
    // 1 s after copying and the 2 s of the group page, all in virtual time.
    std::uint64_t tick = s.machineJson()["clock"]["tick_ms"].get<std::uint64_t>();
    EXPECT_GE(tick, 500u + 25000u + 1000u + 2000u);
    EXPECT_LE(tick, 3500u + 25000u + 1000u + 2000u);
}

// --- twice, and a monitor still in memory -----------------------------------

TEST(Reinstall, TwiceLeavesOneGroupOfSixAndAFreshInstallDate) {
    Scenario s("twice");
    make(s, kNt351, {"--ps-modules", "versiondir"});
    expectExit0(s.run(answers("install-default.ans")));
    std::string first = value(registry(s), kVersionKey, "Install Date");
    s.editMachine([](nlohmann::json& j) { j["clock"]["boot_epoch_ms"] = j["clock"]["boot_epoch_ms"].get<std::int64_t>() + 86400000; });
    expectExit0(s.run(answers("install-default.ans")));
    std::string second = value(registry(s), kVersionKey, "Install Date");
    EXPECT_FALSE(first.empty());
    EXPECT_NE(first, second);
    expectOneGroupOfSix(s);
}

TEST(Win95Monitor, StillInMemoryAfterARemovalWithoutRestart) {
    Scenario s("in-memory");
    make(s, kWin95, {"--ps-modules", "driverdir"});
    expectExit0(s.run(answers("install-default.ans")));
    // As a removal without a restart leaves it: the monitor's key is gone,
    // its module stays loaded until Windows starts again.
    importReg(s, "[-" + std::string(kMonitors) + "\\Varden Network Port]\r\n\r\n");
    ASSERT_FALSE(registry(s).count(std::string(kMonitors) + "\\Varden Network Port"));
    ASSERT_EQ(s.machineJson()["spooler"]["loaded_monitors"]["Varden Network Port"], "vrdpsmw4.dll");
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=1\n2300 CONTINUE\n");
    EXPECT_TRUE(r.hasLineContaining("An instance of the Brevant Moniter was still residing in memory.  "
                                    "An incomplete installation or de-installation was detected.  Please reboot "
                                    "the computer before re-running this installation program."))
        << r.describe();
    EXPECT_EQ(r.exitCode, 0) << r.describe();
}

}  // namespace
