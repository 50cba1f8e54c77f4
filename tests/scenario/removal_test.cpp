// Removal runs on an NT 3.51 machine prepared as an installation leaves it:
// the monitor's key with its ports and Files key, the version key, the
// files under the root and in the system and Windows directories, a printer
// on a monitor port and the Program Manager group. One table for the forms
// of the root and the failures of the removal; the removal on every
// platform after a real installation is part of the life cycle scenario.
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
// package's files under `root`; the printer Office prints to NP1.
void prepareInstalled(Scenario& s, const char* rootValue, const std::string& root) {
    std::string monitor = std::string("[") + kMonitors + "\\Varden Network Port";
    std::string reg = monitor + "]\r\n\"driver\"=\"vrdpsmon.dll\"\r\n\r\n";
    if (rootValue)
        reg += monitor + "\\Files]\r\n\"Mgmt Sess Key\"=\"mqtv42\"\r\n\"Root\"=\"" + regEscape(rootValue) + "\"\r\n\r\n";
    for (const char* port : {"NP1", "NP2"}) reg += monitor + "\\Ports\\" + port + "]\r\n\"Address\"=\"10.0.0.1\"\r\n\r\n";
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]\r\n\"Title\"=\"Quillar for Windows\"\r\n"
           "\"Version Installed\"=\"V5.1-1\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Generic]\r\n"
           "\"Driver\"=\"pscript.dll\"\r\n\"Data File\"=\"generic.ppd\"\r\n\"Configuration File\"=\"pscrptui.dll\"\r\n"
           "\"Version\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\" + kPrinters + "Office]\r\n\"Name\"=\"Office\"\r\n"
           "\"Port\"=\"NP1\"\r\n\"Printer Driver\"=\"Generic\"\r\n\"Print Processor\"=\"winprint\"\r\n\"Datatype\"=\"RAW\"\r\n"
           "\"Attributes\"=dword:00000000\r\n\"Status\"=dword:00000000\r\n\"Priority\"=dword:00000001\r\n\r\n";
    s.importReg(reg);
    for (const char* f : {"\\vrdpswiz.exe", "\\help\\vrdpswiz.hlp", "\\locked.dat"}) s.writeFile(root + f);
    for (const char* f : {"system32\\vrdpsmon.dll", "system32\\vrdpsmon.hlp", "vrdpswiz.ini", "vrdorvel.ini", "vrdrcons.ini"})
        s.writeFile(std::string("C:\\WINNT35\\") + f);
    s.editMachine([&](json& j) {
        // A file copied from a read-only medium keeps the attribute.
        for (const std::string& f : {root + "\\locked.dat", std::string("C:\\WINNT35\\vrdpswiz.ini")})
            j["files"][f] = {{"attributes", {"readonly"}}};
        j["dde"]["progman"]["groups"].push_back({{"name", "Varden Network Printers"}, {"common", true}, {"show", 1},
                                                 {"items", {{{"name", "Wizard"}, {"command", root + "\\vrdpswiz.exe"}}}}});
    });
}

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
        {"LowerCaseTrailingBackslash", "d:\\apps\\vrd\\", "D:\\apps\\vrd", true, nullptr, nullptr, 7802, 0, {}, true},
        {"BackslashGoesBehindSystemDrive", "\\apps\\vrd", kApps, true, nullptr, nullptr, 7802, 0, {}, true},
        {"NoFilesKeyMeansDefaultRoot", nullptr, "C:\\win32app\\vrdpsmon", true, nullptr, nullptr, 7802, 0, {}, true},
        // How the refused root is named after the system drive is put in front; every reason for a refusal is in
        // the removal root's unit table (RemovalRoot in tests/setup).
        {"EmptyRefused", "", kApps, false, "C:", nullptr, 7802, 0, {}, true},
        {"ParentOfSystemDirectoryRefused", "\\winnt35", kApps, false, "C:\\winnt35", nullptr, 7802, 0, {}, true},
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
        {"PrinterNotDeletedIsListed", kApps, kApps, true, nullptr, fault("DeletePrinter", ""), 7802, 0,
         {"box Remove Printer: Couldn't delete printer Office (Error = 5)", "left printer Office: could not be deleted, prints to NP1"},
         true},
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
    // Every file and key the run takes (never the data beside and above the
    // root) is pinned by the scenario's transcript; the row says whether the
    // removal got past the tree and the monitor's key.
    EXPECT_EQ(s.exists(std::string(row.tree) + "\\vrdpswiz.exe"), !row.treeGone) << r.describe();
    s.editMachine([](json& j) { j["faults"] = json::array(); });
    EXPECT_EQ(Loaded(s).key(kMonitorKey), !row.monitorKeyGone) << r.describe();
}

INSTANTIATE_TEST_SUITE_P(Rows, Removal, ::testing::ValuesIn(removalRows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
