// Whole removal runs on machines prepared as an installation leaves them:
// the monitor's key with its ports and Files key, the version key, the
// files under the root and in the system and Windows directories, printers
// on the monitor's ports and the Program Manager group. One table row per
// platform; further tables for the forms of the root and for the failures
// of the removal.
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
// package's files under `root`; with `printers`, printers on the monitor's
// ports and on others, one of them with a job.
struct Installed {
    std::string windows, module, help;
    bool win95;
};

Installed prepareInstalled(Scenario& s, const char* rootValue, const std::string& root, bool printers = true) {
    json j = s.machineJson();
    const bool win95 = j["os"]["platform"] == "win95";
    const std::string arch = j["os"]["arch"], system = j["system_dir"];
    Installed in{j["windows_dir"], system + (win95 ? "\\vrdpsmw4.dll" : "\\vrdpsmon.dll"),
                 system + (win95 ? "\\vrdpsmw4.hlp" : "\\vrdpsmon.hlp"), win95};
    std::string monitor = std::string("[") + kMonitors + "\\Varden Network Port";
    std::string reg = monitor + "]\r\n\"driver\"=\"" + (win95 ? "vrdpsmw4.dll" : "vrdpsmon.dll") + "\"\r\n\r\n";
    if (rootValue)
        reg += monitor + "\\Files]\r\n\"Mgmt Sess Key\"=\"mqtv42\"\r\n\"Root\"=\"" + regEscape(rootValue) + "\"\r\n\r\n";
    for (const char* port : {"NP1", "NP2", "NP3", "NP4", "NP5"})
        reg += monitor + "\\Ports\\" + port + "]\r\n\"Address\"=\"10.0.0.1\"\r\n\r\n";
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]\r\n\"Title\"=\"Quillar for Windows\"\r\n"
           "\"Version Installed\"=\"V5.1-1\"\r\n\r\n";
    if (printers) {
        // The printers' driver and the ports besides the monitor's.
        std::string env = win95 ? "Windows 4.0"
                          : arch == "alpha" ? "Windows NT Alpha_AXP"
                          : arch == "mips"  ? "Windows NT R4000"
                                            : "Windows NT x86";
        reg += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\" + env +
               "\\Drivers\\Generic]\r\n\"Driver\"=\"pscript.dll\"\r\n\"Data File\"=\"generic.ppd\"\r\n"
               "\"Configuration File\"=\"pscrptui.dll\"\r\n\"Version\"=dword:00000001\r\n\r\n";
        for (const char* port : {"LPT1:", "XNP1"}) reg += std::string("[") + kMonitors + "\\Local Port\\Ports\\" + port + "]\r\n\r\n";
        // Office: only a monitor port, deleted; Shared keeps LPT1:; Twin is
        // handled at each port, then deleted; Lookalike ends in NP1: paused
        // and resumed unchanged; Busy has a job.
        for (auto [name, ports] : {std::pair{"Office", "NP1"}, {"Shared", "NP2,LPT1:"}, {"Twin", "NP3,NP4"},
                                   {"Lookalike", "XNP1"}, {"Busy", "NP5"}})
            reg += "[HKEY_LOCAL_MACHINE\\" + kPrinters + name + "]\r\n\"Name\"=\"" + name + "\"\r\n\"Port\"=\"" + ports +
                   "\"\r\n\"Printer Driver\"=\"Generic\"\r\n\"Print Processor\"=\"winprint\"\r\n\"Datatype\"=\"RAW\"\r\n"
                   "\"Attributes\"=dword:00000000\r\n\"Status\"=dword:00000000\r\n\"Priority\"=dword:00000001\r\n\r\n";
    }
    s.importReg(reg);

    for (const char* f : {"\\vrdpswiz.exe", "\\Release Notes.wri", "\\help\\vrdpswiz.hlp", "\\locked.dat"}) s.writeFile(root + f);
    for (const std::string& f : {in.module, in.help}) s.writeFile(f);
    for (const char* ini : {"vrdpswiz.ini", "vrdorvel.ini", "vrdrcons.ini"}) s.writeFile(in.windows + "\\" + ini);
    s.editMachine([&](json& j) {
        // A file copied from a read-only medium keeps the attribute.
        for (const std::string& f : {root + "\\locked.dat", in.windows + "\\vrdpswiz.ini"})
            j["files"][f] = {{"attributes", {"readonly"}}};
        j["spooler"]["next_job_id"] = 2;
        j["spooler"]["printers"]["Busy"]["jobs"] =
            json::array({{{"id", 1}, {"document", "Report"}, {"user", "Administrator"}, {"total_pages", 3}}});
        auto& groups = j["dde"]["progman"]["groups"];
        groups.push_back({{"name", "Varden Network Printers"}, {"common", true}, {"show", 1},
                          {"items", {{{"name", "Varden Network Printer Setup Wizard"}, {"command", root + "\\vrdpswiz.exe"}}}}});
        for (auto& g : groups)
            if (g["name"] == "Startup")
                g["items"].push_back({{"name", "Varden Network Printing Help"}, {"command", "winhlp32.exe vrdpsmon.hlp"}});
    });
    return in;
}

std::string removeAnswers(bool restartPage) {
    return std::string("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n") + (restartPage ? "7803 CANCEL\n" : "") +
           "7802 CONTINUE\n";
}

std::vector<int> removePages(bool restartPage) {
    return restartPage ? std::vector<int>{100, 800, 7803, 7802} : std::vector<int>{100, 800, 7802};
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
    // The Files key's Root begins with a backslash: it goes behind the
    // system drive.
    const std::string root = "C:\\Varden\\Long Named Root";
    Installed in = prepareInstalled(s, "\\Varden\\Long Named Root", root);
    s.editMachine([&](json& j) {
        if (row.nt35)  // NT 3.5x: Print Manager runs and is ended first
            j["processes"]["list"].push_back({{"id", 400}, {"name", "PRINTMAN.EXE"}, {"priority", 8}, {"threads", 2}});
        else  // the spooler holds the monitor module where it is not stopped
            j["files"][in.module] = {{"in_use", "loaded"}};
    });

    RunResult r = s.run(removeAnswers(row.restartPage));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), removePages(row.restartPage)) << r.describe();
    EXPECT_EQ(r.linesStarting("box "), Lines{}) << r.describe();
    {
        Loaded m(s);
        EXPECT_FALSE(m.key(kMonitorKey));
        EXPECT_FALSE(m.key("SOFTWARE\\VardenWorks"));
        // Printers: deleted on monitor ports alone, kept on their other
        // ports; the lookalike paused and resumed again.
        for (const char* gone : {"Office", "Twin", "Busy"}) EXPECT_FALSE(m.key(kPrinters + gone)) << gone;
        EXPECT_EQ(m.value(kPrinters + "Shared", "Port"), "LPT1:");
        EXPECT_EQ(m.value(kPrinters + "Lookalike", "Port"), "XNP1");
        EXPECT_EQ(m.value(kPrinters + "Lookalike", "Status"), "0");

        // The tree is gone at once, the read-only file included.
        EXPECT_FALSE(s.exists(root + "\\locked.dat"));
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
    for (auto& p : machine["processes"]["list"]) EXPECT_NE(p["name"], "PRINTMAN.EXE");

    // What stays: the printer on LPT1 and the lookalike, and the module
    // until the next start where the spooler holds it.
    Lines left = {"left printer Lookalike: kept, prints to XNP1", "left printer Shared: kept, prints to LPT1:"};
    if (!row.nt35)
        left.push_back("left " + in.module + ": " +
                       (in.win95 ? "monitor module in use by the spooler, deleted at the next start"
                                 : "in use, deleted at the next start"));
    EXPECT_EQ(r.linesStarting("left "), left) << r.describe();
    for (const auto& l : left) EXPECT_NE(r.out.find(l), std::string::npos) << "console lists " << l;

    // The next start takes the module.
    s.reboot();
    EXPECT_FALSE(s.exists(in.module));
}

INSTANTIATE_TEST_SUITE_P(Platforms, RemovalPlatforms, ::testing::ValuesIn(kPlatforms),
                         [](const auto& info) { return std::string(info.param.name); });

// --- forms of the root ----------------------------------------------------------------

struct RootRow {
    const char* name;
    const char* value;      // the Files key's Root; null: no Files key
    const char* removed;    // the directory that goes, or null when the root is refused
    const char* refusedAs;  // the root as the message names it
};

void PrintTo(const RootRow& r, std::ostream* os) { *os << r.name; }

const RootRow kRoots[] = {
    {"DriveLetterUsedUnchanged", "D:\\apps\\vrd", "D:\\apps\\vrd", nullptr},
    {"LowerCaseDriveLetter", "d:\\apps\\vrd", "D:\\apps\\vrd", nullptr},
    {"BackslashGoesBehindSystemDrive", "\\apps\\vrd", "C:\\apps\\vrd", nullptr},
    {"NoFilesKeyMeansDefaultRoot", nullptr, "C:\\win32app\\vrdpsmon", nullptr},
    {"TrailingBackslashAccepted", "C:\\apps\\vrd\\", "C:\\apps\\vrd", nullptr},
    {"EmptyRefused", "", nullptr, "C:"},
    {"LoneBackslashRefused", "\\", nullptr, "C:\\"},
    {"DriveRootRefused", "C:\\", nullptr, "C:\\"},
    {"DriveAloneRefused", "C:", nullptr, "C:"},
    {"WindowsDirectoryRefused", "C:\\WINNT35", nullptr, "C:\\WINNT35"},
    {"ParentOfSystemDirectoryRefused", "\\winnt35", nullptr, "C:\\winnt35"},
    {"DotDotRefused", "C:\\apps\\..\\WINNT35", nullptr, "C:\\apps\\..\\WINNT35"},
    {"DotRefused", "C:\\apps\\.\\vrd", nullptr, "C:\\apps\\.\\vrd"},
    {"UncRefused", "\\\\server\\share", nullptr, "C:\\\\server\\share"},
    {"DriveRelativeRefused", "C:apps", nullptr, "C:apps"},
};

class RemovalRoots : public ::testing::TestWithParam<RootRow> {};

TEST_P(RemovalRoots, RootDecidesWhatTreeIsDeleted) {
    const RootRow& row = GetParam();
    Scenario s(std::string("root-") + row.name);
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    s.editMachine([&](json& j) { j["drives"]["D"] = {{"total", 100 << 20}, {"free", 100 << 20}, {"type", "fixed"}, {"fat", false}}; });
    fs::create_directories(s.machineDir() / "drives" / "D");
    std::string root = row.removed ? row.removed : "C:\\apps\\vrd";
    prepareInstalled(s, row.value, root, false);
    // Data that is not the package's, beside and above the root.
    for (const char* f : {"C:\\keep.txt", "C:\\apps\\keep.txt", "C:\\WINNT35\\win.ini"}) s.writeFile(f);

    RunResult r = s.run(removeAnswers(false));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), removePages(false)) << r.describe();
    for (const char* f : {"C:\\keep.txt", "C:\\apps\\keep.txt", "C:\\WINNT35\\win.ini", "C:\\WINNT35\\system32"})
        EXPECT_TRUE(s.exists(f)) << f;
    if (row.removed) {
        EXPECT_FALSE(s.exists(row.removed)) << r.describe();
        EXPECT_EQ(r.linesStarting("box "), Lines{}) << r.describe();
    } else {
        Lines b = r.linesStarting("box ");
        ASSERT_EQ(b.size(), 1u) << r.describe();
        EXPECT_EQ(b[0].rfind(std::string("box Deinstall: The installation directory \"") + row.refusedAs + "\"", 0), 0u)
            << b[0];
        EXPECT_TRUE(s.exists(root + "\\vrdpswiz.exe"));
        EXPECT_TRUE(r.hasLineStarting(std::string("left ") + row.refusedAs + ": installation directory not removed: "))
            << r.describe();
    }
    // The rest of the removal goes on.
    EXPECT_FALSE(Loaded(s).key(kMonitorKey));
    EXPECT_FALSE(s.exists("C:\\WINNT35\\system32\\vrdpsmon.dll"));
}

INSTANTIATE_TEST_SUITE_P(Roots, RemovalRoots, ::testing::ValuesIn(kRoots),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the failures of the removal -------------------------------------------------------------

json fault(const char* call, const std::string& target, DWORD error = 5, int nth = 1, int times = 0) {
    return {{"call", call}, {"target", target}, {"error", error}, {"nth", nth}, {"times", times}};
}

struct FailureRow {
    const char* name;
    json fault;              // declared in machine.json
    std::vector<int> pages;  // pages shown
    int exitCode;
    std::string expectLine;  // a line of the log
    bool monitorKeyGone;     // the removal went on past the registry trees
    std::function<void(const Scenario&, const RunResult&, const Loaded&)> more = nullptr;  // what else the row proves
};

void PrintTo(const FailureRow& r, std::ostream* os) { *os << r.name; }

const std::string kMonitorPath = std::string("HKEY_LOCAL_MACHINE\\") + kMonitorKey;

std::vector<FailureRow> failureRows() {
    const std::string restart = ", error = 5.  Please restart to a clean system before re-running this program.";
    return {
        {"MonitorsRootFatal", fault("RegOpenKeyExA", kMonitors), {100, 800, 2300}, 0,
         "error DeInstall -- Couldn't open registry root, Error = 5", false},
        {"FilesKeyFatal", fault("RegOpenKeyExA", kMonitorPath + "\\Files"), {100, 800, 2300}, 0,
         "error Unable to access Files subkey in Registry for de-installation" + restart, false},
        {"RootValueFatal", fault("RegQueryValueExA", kMonitorPath + "\\Files"), {100, 800, 2300}, 0,
         "error Unable to access Root value in Registry for de-installation" + restart, false},
        {"PortListFatal", fault("RegOpenKeyExA", kMonitorPath + "\\Ports"), {100, 800, 2300}, 0,
         "error Unable to access Ports subkey in Registry, error = 5.  Please restart system before re-running program.",
         false},
        // Nothing after the enumeration runs: the printers and files stay.
        {"PrintersNotListedEndsWithOne", fault("EnumPrintersA", "", 1722, 2, 1), {100, 800}, 1,
         "box Deinstall: Couldn't enumerate printers (error = 1722)", false,
         [](const Scenario& s, const RunResult&, const Loaded& m) {
             EXPECT_TRUE(m.key(kPrinters + "Office"));
             EXPECT_TRUE(s.exists("C:\\apps\\vrd\\vrdpswiz.exe"));
         }},
        {"PortNotDeletedNextOneIs", fault("DeletePortA", "NP2"), {100, 800, 7802}, 0,
         "box Deinstall: Couldn't delete port \"NP2\" (error = 5)", true,
         [](const Scenario& s, const RunResult& r, const Loaded&) {
             EXPECT_TRUE(r.hasLine("left port NP2: could not be deleted (error = 5)")) << r.describe();
             EXPECT_FALSE(s.exists("C:\\apps\\vrd"));
         }},
        {"SpoolerStopFatal", fault("ControlService", "Spooler"), {100, 800, 2300}, 0,
         "error Deinstall -- Couldn't stop spooler, error = 5", false},
        {"SpoolerStartFatal", fault("StartServiceA", "Spooler"), {100, 800, 2300}, 0,
         "error Deinstall -- Couldn't start spooler, error = 5", true},
        {"MonitorTreeKeptGoesOn", fault("RegDeleteKeyA", kMonitorPath), {100, 800, 7802}, 0,
         "box DeInstall: Couldn't delete registry tree", false},
        {"VersionTreeKeptGoesOn", fault("RegDeleteKeyA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar"),
         {100, 800, 7802}, 0, "box DeInstall: Couldn't delete version tree", true,
         [](const Scenario&, const RunResult& r, const Loaded&) {
             EXPECT_TRUE(r.hasLine("left registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar: could not be "
                                   "deleted"))
                 << r.describe();
         }},
        {"VersionRootMissingGoesOn", fault("RegOpenKeyExA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks"),
         {100, 800, 7802}, 0, "box DeInstall: Couldn't open version root", true},
    };
}

class RemovalFailures : public ::testing::TestWithParam<FailureRow> {};

TEST_P(RemovalFailures, EachFailureMeetsItsReaction) {
    const FailureRow& row = GetParam();
    Scenario s(std::string("fail-") + row.name);
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    prepareInstalled(s, "C:\\apps\\vrd", "C:\\apps\\vrd");
    s.editMachine([&](json& j) { j["faults"].push_back(row.fault); });

    std::string answers = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n";
    for (std::size_t i = 2; i < row.pages.size(); ++i) answers += std::to_string(row.pages[i]) + " CONTINUE\n";
    RunResult r = s.run(answers);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.describe();
    EXPECT_EQ(r.pages(), row.pages) << r.describe();
    EXPECT_TRUE(r.hasLine(row.expectLine)) << r.describe();
    s.editMachine([](json& j) { j["faults"] = json::array(); });
    Loaded m(s);
    EXPECT_EQ(m.key(kMonitorKey), !row.monitorKeyGone) << r.describe();
    if (row.more) row.more(s, r, m);
}

INSTANTIATE_TEST_SUITE_P(Failures, RemovalFailures, ::testing::ValuesIn(failureRows()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- twice, and files in use under long names ------------------------------------------------

// The second removal finds nothing installed: only its pages, nothing left
// and nothing changed.
TEST(RemovalTwice, SecondRunFindsNothingAndChangesNothing) {
    Scenario s("remove-twice");
    ASSERT_TRUE(s.newMachine({"--os", "win95", "--arch", "x86", "--user", "admin"})) << s.error;
    prepareInstalled(s, nullptr, "C:\\win32app\\vrdpsmon");
    RunResult first = s.run(removeAnswers(true));
    ASSERT_EQ(first.exitCode, 0) << first.describe();
    EXPECT_FALSE(s.exists("C:\\win32app\\vrdpsmon"));
    s.reboot();
    fs::path before = s.snapshot();
    RunResult second = s.run(removeAnswers(false));
    ASSERT_EQ(second.exitCode, 0) << second.describe();
    EXPECT_EQ(second.pages(), removePages(false)) << second.describe();
    EXPECT_EQ(second.linesStarting("box "), Lines{}) << second.describe();
    EXPECT_EQ(second.linesStarting("left "), Lines{}) << second.describe();
    EXPECT_EQ(s.changesSince(before), Lines{});
}

TEST(RemovalWindows95, FilesInUseGoThroughWininitUnderShortNames) {
    Scenario s("remove95-inuse");
    ASSERT_TRUE(s.newMachine({"--os", "win95", "--arch", "x86", "--user", "admin"})) << s.error;
    const std::string root = "C:\\Program Files\\Varden Printing";
    Installed in = prepareInstalled(s, root.c_str(), root);
    s.writeFile(root + "\\Remote Console.exe");
    s.editMachine([&](json& j) {
        j["files"][root + "\\Remote Console.exe"] = {{"in_use", "open"}};
        j["files"][in.module] = {{"in_use", "loaded"}};
    });
    RunResult r = s.run(removeAnswers(true));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(Loaded(s).wininit(),
              (Pairs{{"nul", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~1.EXE"}, {"nul", "C:\\PROGRA~1\\VARDEN~1"}, {"nul", in.module}}));
    EXPECT_TRUE(r.hasLine("left " + root + "\\Remote Console.exe: in use, deleted at the next start")) << r.describe();
    EXPECT_TRUE(r.hasLine("left " + root + ": not empty now, deleted at the next start")) << r.describe();
    s.reboot();
    EXPECT_FALSE(s.exists(root));
    EXPECT_FALSE(s.exists(in.module));
    EXPECT_TRUE(s.exists("C:\\Program Files")) << "only the package's directory goes";
}

}  // namespace
