// Whole removal runs on machines prepared as an installation leaves them:
// the monitor's key with its ports and Files key, the version key, the
// files under the root and in the system and Windows directories, a printer
// on a monitor port and the Program Manager group. One table row per
// platform; one table for the forms of the root and the failures of the
// removal. (How each printer is detached and Print Manager ended is proven
// by the unit tests of those steps.)
#include "scenario/harness.h"

#include <gtest/gtest.h>

namespace {

using namespace scenario;

const char kMonitors[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port";
const std::string kPrinters = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

std::string regEscape(const std::string& v) {
    std::string r;
    for (char c : v) r += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    return r;
}

// What an installation leaves, with `rootValue` in the Files key (null: no
// Files key, as the installation into the default root leaves it) and the
// package's files under `root`; the printer Office prints to port NP1.
struct Installed {
    std::string windows, module, help;
    bool win95;
};

Installed prepareInstalled(Scenario& s, const char* rootValue, const std::string& root) {
    json j = s.machineJson();
    const bool win95 = j["os"]["platform"] == "win95";
    const std::string arch = j["os"]["arch"], system = j["system_dir"];
    Installed in{j["windows_dir"], system + (win95 ? "\\vrdpsmw4.dll" : "\\vrdpsmon.dll"),
                 system + (win95 ? "\\vrdpsmw4.hlp" : "\\vrdpsmon.hlp"), win95};
    std::string monitor = std::string("[") + kMonitors + "\\Varden Network Port";
    std::string reg = monitor + "]\r\n\"driver\"=\"" + (win95 ? "vrdpsmw4.dll" : "vrdpsmon.dll") + "\"\r\n\r\n";
    if (rootValue)
        reg += monitor + "\\Files]\r\n\"Mgmt Sess Key\"=\"mqtv42\"\r\n\"Root\"=\"" + regEscape(rootValue) + "\"\r\n\r\n";
    for (const char* port : {"NP1", "NP2"}) reg += monitor + "\\Ports\\" + port + "]\r\n\"Address\"=\"10.0.0.1\"\r\n\r\n";
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]\r\n\"Title\"=\"Quillar for Windows\"\r\n"
           "\"Version Installed\"=\"V5.1-1\"\r\n\r\n";
    std::string env = win95 ? "Windows 4.0" : arch == "alpha" ? "Windows NT Alpha_AXP" : arch == "mips" ? "Windows NT R4000" : "Windows NT x86";
    reg += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\" + env +
           "\\Drivers\\Generic]\r\n\"Driver\"=\"pscript.dll\"\r\n\"Data File\"=\"generic.ppd\"\r\n"
           "\"Configuration File\"=\"pscrptui.dll\"\r\n\"Version\"=dword:00000001\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\" + kPrinters + "Office]\r\n\"Name\"=\"Office\"\r\n\"Port\"=\"NP1\"\r\n"
           "\"Printer Driver\"=\"Generic\"\r\n\"Print Processor\"=\"winprint\"\r\n\"Datatype\"=\"RAW\"\r\n"
           "\"Attributes\"=dword:00000000\r\n\"Status\"=dword:00000000\r\n\"Priority\"=dword:00000001\r\n\r\n";
    s.importReg(reg);

    for (const char* f : {"\\vrdpswiz.exe", "\\Release Notes.wri", "\\help\\vrdpswiz.hlp", "\\locked.dat"}) s.writeFile(root + f);
    for (const std::string& f : {in.module, in.help}) s.writeFile(f);
    for (const char* ini : {"vrdpswiz.ini", "vrdorvel.ini", "vrdrcons.ini"}) s.writeFile(in.windows + "\\" + ini);
    s.editMachine([&](json& j) {
        // A file copied from a read-only medium keeps the attribute.
        for (const std::string& f : {root + "\\locked.dat", in.windows + "\\vrdpswiz.ini"})
            j["files"][f] = {{"attributes", {"readonly"}}};
        auto& groups = j["dde"]["progman"]["groups"];
        groups.push_back({{"name", "Varden Network Printers"}, {"common", true}, {"show", 1},
                          {"items", {{{"name", "Varden Network Printer Setup Wizard"}, {"command", root + "\\vrdpswiz.exe"}}}}});
        for (auto& g : groups)
            if (g["name"] == "Startup")
                g["items"].push_back({{"name", "Varden Network Printing Help"}, {"command", "winhlp32.exe vrdpsmon.hlp"}});
    });
    return in;
}

// --- one removal per platform ------------------------------------------------------

struct PlatformRow {
    const char* name;
    const char* os;
    const char* arch;
    bool restartPage;  // NT 3.1 and Windows 95 offer a restart
    bool nt35;
};

void PrintTo(const PlatformRow& r, std::ostream* os) { *os << r.name; }

const PlatformRow kPlatforms[] = {
    {"nt351_x86", "nt351", "x86", false, true},     {"nt350_x86", "nt350", "x86", false, true},
    {"nt31_x86", "nt31", "x86", true, false},       {"win95_x86", "win95", "x86", true, false},
    {"nt351_alpha", "nt351", "alpha", false, true}, {"nt351_mips", "nt351", "mips", false, true},
};

class RemovalPlatforms : public ::testing::TestWithParam<PlatformRow> {};

TEST_P(RemovalPlatforms, RemovesEveryTraceAndListsWhatIsLeft) {
    const PlatformRow& row = GetParam();
    Scenario s(std::string("remove-") + row.name);
    ASSERT_TRUE(s.newMachine({"--os", row.os, "--arch", row.arch, "--user", "admin"})) << s.error;
    const std::string root = "C:\\Varden\\Long Named Root";
    Installed in = prepareInstalled(s, root.c_str(), root);
    // The spooler holds the monitor module where it is not stopped.
    if (!row.nt35) s.editMachine([&](json& j) { j["files"][in.module] = {{"in_use", "loaded"}}; });

    RunResult r = s.run(std::string("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n") + (row.restartPage ? "7803 CANCEL\n" : "") +
                        "7802 CONTINUE\n");
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.linesStarting("box "), Lines{}) << r.describe();
    {
        Loaded m(s);
        for (const std::string& key : {std::string(kMonitorKey), std::string("SOFTWARE\\VardenWorks"), kPrinters + "Office"})
            EXPECT_FALSE(m.key(key)) << key;
        // The tree is gone at once, the read-only file included, and the
        // help and the programs' settings.
        EXPECT_FALSE(s.exists(root));
        EXPECT_FALSE(s.exists(in.help));
        for (const char* ini : {"vrdpswiz.ini", "vrdorvel.ini", "vrdrcons.ini"}) EXPECT_FALSE(s.exists(in.windows + "\\" + ini));
        // NT 3.5x stopped the spooler, so nothing holds the module any more;
        // elsewhere it goes at the next start (Windows 95 keeps short names
        // as they are written).
        EXPECT_EQ(s.exists(in.module), !row.nt35);
        EXPECT_EQ(m.pending(), (!row.nt35 && !in.win95 ? Pairs{{"\\??\\" + in.module, ""}} : Pairs{}));
        EXPECT_EQ(m.wininit(), (in.win95 ? Pairs{{"nul", in.module}} : Pairs{}));
    }
    json machine = s.machineJson();
    EXPECT_EQ(group(machine, "Varden Network Printers"), nullptr);
    EXPECT_EQ(machine["dde"]["progman"]["groups"].size(), 3u) << "Main, Accessories and Startup stay";
    EXPECT_EQ((*group(machine, "Startup"))["items"].size(), 0u);

    // What stays: the module until the next start where the spooler holds
    // it; the log and the console list it.
    Lines left;
    if (!row.nt35)
        left.push_back("left " + in.module + ": " +
                       (in.win95 ? "monitor module in use by the spooler, deleted at the next start"
                                 : "in use, deleted at the next start"));
    EXPECT_EQ(r.linesStarting("left "), left) << r.describe();
    for (const auto& l : left) EXPECT_NE(r.out.find(l), std::string::npos) << "console lists " << l;
    s.reboot();
    EXPECT_FALSE(s.exists(in.module));
}

INSTANTIATE_TEST_SUITE_P(Platforms, RemovalPlatforms, ::testing::ValuesIn(kPlatforms),
                         [](const auto& info) { return std::string(info.param.name); });

// --- forms of the root, and the failures of the removal ------------------------------------

json fault(const char* call, const std::string& target, DWORD error = 5, int nth = 1, int times = 0) {
    return {{"call", call}, {"target", target}, {"error", error}, {"nth", nth}, {"times", times}};
}

struct RemovalRow {
    const char* name;
    const char* value;      // the Files key's Root; null: no Files key
    const char* tree;       // where the package's files are
    bool treeGone;          // whether the removal takes that tree
    const char* refusedAs;  // the root as the message refusing it names it; null: not refused
    json fault;             // declared in machine.json (null: none)
    int lastPage;           // the page after the type page: 2300, 7802 or none (0)
    int exitCode;
    Lines lines;            // log lines the run writes (beginnings)
    bool monitorKeyGone;    // the removal went on past the registry trees
};

void PrintTo(const RemovalRow& r, std::ostream* os) { *os << r.name; }

const std::string kMonitorPath = std::string("HKEY_LOCAL_MACHINE\\") + kMonitorKey;
const char kApps[] = "C:\\apps\\vrd";

std::vector<RemovalRow> removalRows() {
    const std::string restart = ", error = 5.  Please restart to a clean system before re-running this program.";
    return {
        {"DriveLetterUsedUnchanged", "D:\\apps\\vrd", "D:\\apps\\vrd", true, nullptr, nullptr, 7802, 0, {}, true},
        {"LowerCaseDriveLetter", "d:\\apps\\vrd", "D:\\apps\\vrd", true, nullptr, nullptr, 7802, 0, {}, true},
        {"BackslashGoesBehindSystemDrive", "\\apps\\vrd", kApps, true, nullptr, nullptr, 7802, 0, {}, true},
        {"NoFilesKeyMeansDefaultRoot", nullptr, "C:\\win32app\\vrdpsmon", true, nullptr, nullptr, 7802, 0, {}, true},
        {"TrailingBackslashAccepted", "C:\\apps\\vrd\\", kApps, true, nullptr, nullptr, 7802, 0, {}, true},
        {"EmptyRefused", "", kApps, false, "C:", nullptr, 7802, 0, {}, true},
        {"LoneBackslashRefused", "\\", kApps, false, "C:\\", nullptr, 7802, 0, {}, true},
        {"DriveRootRefused", "C:\\", kApps, false, "C:\\", nullptr, 7802, 0, {}, true},
        {"DriveAloneRefused", "C:", kApps, false, "C:", nullptr, 7802, 0, {}, true},
        {"WindowsDirectoryRefused", "C:\\WINNT35", kApps, false, "C:\\WINNT35", nullptr, 7802, 0, {}, true},
        {"ParentOfSystemDirectoryRefused", "\\winnt35", kApps, false, "C:\\winnt35", nullptr, 7802, 0, {}, true},
        {"DotDotRefused", "C:\\apps\\..\\WINNT35", kApps, false, "C:\\apps\\..\\WINNT35", nullptr, 7802, 0, {}, true},
        {"DotRefused", "C:\\apps\\.\\vrd", kApps, false, "C:\\apps\\.\\vrd", nullptr, 7802, 0, {}, true},
        {"UncRefused", "\\\\server\\share", kApps, false, "C:\\\\server\\share", nullptr, 7802, 0, {}, true},
        {"DriveRelativeRefused", "C:apps", kApps, false, "C:apps", nullptr, 7802, 0, {}, true},
        {"MonitorsRootFatal", kApps, kApps, false, nullptr, fault("RegOpenKeyExA", kMonitors), 2300, 0,
         {"error DeInstall -- Couldn't open registry root, Error = 5"}, false},
        {"FilesKeyFatal", kApps, kApps, false, nullptr, fault("RegOpenKeyExA", kMonitorPath + "\\Files"), 2300, 0,
         {"error Unable to access Files subkey in Registry for de-installation" + restart}, false},
        {"RootValueFatal", kApps, kApps, false, nullptr, fault("RegQueryValueExA", kMonitorPath + "\\Files"), 2300, 0,
         {"error Unable to access Root value in Registry for de-installation" + restart}, false},
        {"PortListFatal", kApps, kApps, false, nullptr, fault("RegOpenKeyExA", kMonitorPath + "\\Ports"), 2300, 0,
         {"error Unable to access Ports subkey in Registry, error = 5.  Please restart system before re-running program."},
         false},
        // Nothing after the enumeration runs: the printer and the files stay.
        {"PrintersNotListedEndsWithOne", kApps, kApps, false, nullptr, fault("EnumPrintersA", "", 1722, 2, 1), 0, 1,
         {"box Deinstall: Couldn't enumerate printers (error = 1722)"}, false},
        {"PortNotDeletedNextOneIs", kApps, kApps, true, nullptr, fault("DeletePortA", "NP1"), 7802, 0,
         {"box Deinstall: Couldn't delete port \"NP1\" (error = 5)", "left port NP1: could not be deleted (error = 5)"}, true},
        {"SpoolerStopFatal", kApps, kApps, false, nullptr, fault("ControlService", "Spooler"), 2300, 0,
         {"error Deinstall -- Couldn't stop spooler, error = 5"}, false},
        {"SpoolerStartFatal", kApps, kApps, false, nullptr, fault("StartServiceA", "Spooler"), 2300, 0,
         {"error Deinstall -- Couldn't start spooler, error = 5"}, true},
        {"MonitorTreeKeptGoesOn", kApps, kApps, true, nullptr, fault("RegDeleteKeyA", kMonitorPath), 7802, 0,
         {"box DeInstall: Couldn't delete registry tree"}, false},
        {"VersionTreeKeptGoesOn", kApps, kApps, true, nullptr,
         fault("RegDeleteKeyA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar"), 7802, 0,
         {"box DeInstall: Couldn't delete version tree",
          "left registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar: could not be deleted"},
         true},
        {"VersionRootMissingGoesOn", kApps, kApps, true, nullptr, fault("RegOpenKeyExA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks"),
         7802, 0, {"box DeInstall: Couldn't open version root"}, true},
    };
}

class Removal : public ::testing::TestWithParam<RemovalRow> {};

TEST_P(Removal, RootAndFailuresDecideWhatGoes) {
    const RemovalRow& row = GetParam();
    Scenario s(std::string("removal-") + row.name);
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    s.editMachine([&](json& j) {
        j["drives"]["D"] = {{"total", 100 << 20}, {"free", 100 << 20}, {"type", "fixed"}, {"fat", false}};
        if (!row.fault.is_null()) j["faults"].push_back(row.fault);
    });
    fs::create_directories(s.machineDir() / "drives" / "D");
    prepareInstalled(s, row.value, row.tree);
    // Data that is not the package's, beside and above the root.
    for (const char* f : {"C:\\keep.txt", "C:\\apps\\keep.txt", "C:\\WINNT35\\win.ini"}) s.writeFile(f);

    std::string answers = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n";
    if (row.lastPage) answers += std::to_string(row.lastPage) + " CONTINUE\n";
    RunResult r = s.run(answers);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.describe();
    Lines lines = row.lines;
    if (row.refusedAs)
        lines = {std::string("box Deinstall: The installation directory \"") + row.refusedAs + "\"",
                 std::string("left ") + row.refusedAs + ": installation directory not removed: "};
    for (const auto& l : lines) EXPECT_TRUE(r.hasLineStarting(l)) << l << "\n" << r.describe();
    if (lines.empty()) {
        EXPECT_EQ(r.linesStarting("box "), Lines{}) << r.describe();
    }
    for (const char* f : {"C:\\keep.txt", "C:\\apps\\keep.txt", "C:\\WINNT35\\win.ini", "C:\\WINNT35\\system32"})
        EXPECT_TRUE(s.exists(f)) << f;
    EXPECT_EQ(s.exists(std::string(row.tree) + "\\vrdpswiz.exe"), !row.treeGone) << r.describe();
    s.editMachine([](json& j) { j["faults"] = json::array(); });
    Loaded m(s);
    EXPECT_EQ(m.key(kMonitorKey), !row.monitorKeyGone) << r.describe();
    if (row.exitCode) {
        EXPECT_TRUE(m.key(kPrinters + "Office"));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Removal, ::testing::ValuesIn(removalRows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
