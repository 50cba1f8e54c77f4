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
const std::string kPrinters = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

std::string regEscape(const std::string& v) {
    std::string r;
    for (char c : v) r += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    return r;
}

// What an installation leaves, with `rootValue` in the Files key (null: no
// Files key, as the installation into the default root leaves it) and the
// package's files under `root` (a value "dword:..." is stored as a number);
// the printer Office prints to NP2, the second of the monitor's ports.
void prepareInstalled(Scenario& s, const char* rootValue, const std::string& root) {
    std::string monitor = std::string("[") + kMonitors + "\\Varden Network Port";
    std::string reg = monitor + "]\r\n\"driver\"=\"vrdpsmon.dll\"\r\n\r\n";
    if (rootValue)
        reg += monitor + "\\Files]\r\n\"Mgmt Sess Key\"=\"mqtv42\"\r\n\"Root\"=" +
               (std::string(rootValue).starts_with("dword:") ? rootValue : "\"" + regEscape(rootValue) + "\"") + "\r\n\r\n";
    for (const char* port : {"NP1", "NP2"}) reg += monitor + "\\Ports\\" + port + "]\r\n\"Address\"=\"10.0.0.1\"\r\n\r\n";
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]\r\n\"Title\"=\"Quillar for Windows\"\r\n"
           "\"Version Installed\"=\"V5.1-1\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Generic]\r\n"
           "\"Driver\"=\"pscript.dll\"\r\n\"Data File\"=\"generic.ppd\"\r\n\"Configuration File\"=\"pscrptui.dll\"\r\n"
           "\"Version\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\" + kPrinters + "Office]\r\n\"Name\"=\"Office\"\r\n"
           "\"Port\"=\"NP2\"\r\n\"Printer Driver\"=\"Generic\"\r\n\"Print Processor\"=\"winprint\"\r\n\"Datatype\"=\"RAW\"\r\n"
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
    const char* value;  // the Files key's Root; null: no Files key
    const char* tree;   // where the package's files are
    json fault;         // declared in machine.json (null: none)
    int lastPage;       // the page after the type page: 2300 (setup failed), 7802 or none (0)
};

void PrintTo(const RemovalRow& r, std::ostream* os) { *os << r.name; }

const std::string kMonitorPath = std::string(kMonitors) + "\\Varden Network Port";
const char kApps[] = "C:\\apps\\vrd";
const std::string kLongRoot = "C:\\" + std::string(300, 'a');
const std::string kVendor = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks";

// What each row takes and leaves, the messages and the lines naming what
// was left are pinned by its transcript.
std::vector<RemovalRow> removalRows() {
    return {
        {"DriveLetterUsedUnchanged", "D:\\apps\\vrd", "D:\\apps\\vrd", nullptr, 7802},
        {"LowerCaseTrailingBackslash", "d:\\apps\\vrd\\", "D:\\apps\\vrd", nullptr, 7802},
        {"BackslashGoesBehindSystemDrive", "\\apps\\vrd", kApps, nullptr, 7802},
        {"NoFilesKeyMeansDefaultRoot", nullptr, "C:\\win32app\\vrdpsmon", nullptr, 7802},
        // A refused root is named with the system drive put in front, and
        // its tree stays while the rest goes; every reason for a refusal is
        // in the removal root's unit table (RemovalRoot in tests/setup).
        {"EmptyRefused", "", kApps, nullptr, 7802},
        {"ParentOfSystemDirectoryRefused", "\\winnt35", kApps, nullptr, 7802},
        {"RootTooLongRefused", kLongRoot.c_str(), kApps, nullptr, 7802},
        {"RootNotTextRefused", "dword:00000001", kApps, nullptr, 7802},
        // A fatal failure ends on the error page with the tree kept.
        {"MonitorsRootFatal", kApps, kApps, fault("RegOpenKeyExA", kMonitors), 2300},
        {"FilesKeyFatal", kApps, kApps, fault("RegOpenKeyExA", kMonitorPath + "\\Files"), 2300},
        {"RootValueFatal", kApps, kApps, fault("RegQueryValueExA", kMonitorPath + "\\Files"), 2300},
        {"PortListFatal", kApps, kApps, fault("RegOpenKeyExA", kMonitorPath + "\\Ports"), 2300},
        // Nothing after the enumeration runs: the printer and the files stay.
        {"PrintersNotListedEndsWithOne", kApps, kApps, fault("EnumPrintersA", "", 1722, 2, 1), 0},
        // A port or printer that cannot go is shown in a box and listed as
        // left; the removal goes on.
        {"PortNotDeletedNextOneIs", kApps, kApps, fault("DeletePortA", "NP1"), 7802},
        {"PrinterNotDeletedIsListed", kApps, kApps, fault("DeletePrinter", ""), 7802},
        // The spooler not stopped, or not started again: fatal (in the second
        // case with the registry trees gone already).
        {"SpoolerStopFatal", kApps, kApps, fault("ControlService", "Spooler"), 2300},
        {"SpoolerStartFatal", kApps, kApps, fault("StartServiceA", "Spooler"), 2300},
        {"MonitorTreeKeptGoesOn", kApps, kApps, fault("RegDeleteKeyA", kMonitorPath), 7802},
        {"VersionTreeKeptGoesOn", kApps, kApps, fault("RegDeleteKeyA", kVendor + "\\Quillar"), 7802},
        {"VersionRootMissingGoesOn", kApps, kApps, fault("RegOpenKeyExA", kVendor), 7802},
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
    // Data that is not the package's, beside and above the root: the
    // transcript shows the run never touches it.
    for (const char* f : {"C:\\keep.txt", "C:\\apps\\keep.txt", "C:\\WINNT35\\win.ini"}) s.writeFile(f);

    std::string answers = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n";
    if (row.lastPage) answers += std::to_string(row.lastPage) + " CONTINUE\n";
    // The run is checked against its reviewed transcript (see the rows).
    s.run(answers);
}

INSTANTIATE_TEST_SUITE_P(Rows, Removal, ::testing::ValuesIn(removalRows()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
