// Whole removal runs on machines prepared as an installation leaves them:
// the monitor's key with its ports and Files key, the version key, the
// files under the root and in the system and Windows directories, printers
// on the monitor's ports and the Program Manager group. One table row per
// platform; further tables for the forms of the root and for the failures
// of the removal.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <fstream>
#include <set>
#include <sstream>

namespace {

using scenario::Loaded;
using scenario::RunResult;
using scenario::Scenario;
namespace fs = std::filesystem;

const char kMonitors[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port";
const char kPrinters[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

struct PlatformRow {
    const char* name;
    const char* os;
    const char* arch;
    bool restartPage;  // NT 3.1 and Windows 95 offer a restart
    bool nt35;
};

void PrintTo(const PlatformRow& r, std::ostream* os) { *os << r.name; }

const PlatformRow kPlatforms[] = {
    {"nt351_x86", "nt351", "x86", false, true},   {"nt350_x86", "nt350", "x86", false, true},
    {"nt31_x86", "nt31", "x86", true, false},     {"win95_x86", "win95", "x86", true, false},
    {"nt351_alpha", "nt351", "alpha", false, true}, {"nt351_mips", "nt351", "mips", false, true},
};

// Machine facts read from machine.json.
struct Dirs {
    std::string windows, system;
    bool win95 = false;
};

Dirs dirsOf(const Scenario& s) {
    auto j = s.machineJson();
    return {j["windows_dir"].get<std::string>(), j["system_dir"].get<std::string>(), j["os"]["platform"] == "win95"};
}

// --- preparing a machine ------------------------------------------------------

std::string regEscape(const std::string& v) {
    std::string r;
    for (char c : v) {
        if (c == '\\' || c == '"') r += '\\';
        r += c;
    }
    return r;
}

std::string printerKey(const std::string& name, const std::string& ports) {
    return std::string("[HKEY_LOCAL_MACHINE\\") + kPrinters + "\\" + name + "]\r\n\"Name\"=\"" + name +
           "\"\r\n\"Port\"=\"" + ports +
           "\"\r\n\"Printer Driver\"=\"Generic\"\r\n\"Print Processor\"=\"winprint\"\r\n\"Datatype\"=\"RAW\"\r\n"
           "\"Attributes\"=dword:00000000\r\n\"Status\"=dword:00000000\r\n\"Priority\"=dword:00000001\r\n\r\n";
}

// What an installation leaves, with `rootValue` in the Files key (null: no
// Files key, as the installation into the default root leaves it) and the
// package's files under `root`.
struct Installed {
    std::string root;
    std::string module;
    std::string help;
};

Installed prepareInstalled(Scenario& s, const char* rootValue, const std::string& root, bool withPrinters = true) {
    Dirs d = dirsOf(s);
    Installed in;
    in.root = root;
    in.module = d.system + (d.win95 ? "\\vrdpsmw4.dll" : "\\vrdpsmon.dll");
    in.help = d.system + (d.win95 ? "\\vrdpsmw4.hlp" : "\\vrdpsmon.hlp");
    std::string reg = std::string("[") + kMonitors + "\\Varden Network Port]\r\n\"driver\"=\"" +
                      (d.win95 ? "vrdpsmw4.dll" : "vrdpsmon.dll") + "\"\r\n\r\n";
    if (rootValue)
        reg += std::string("[") + kMonitors + "\\Varden Network Port\\Files]\r\n\"Mgmt Sess Key\"=\"mqtv42\"\r\n\"Root\"=\"" +
               regEscape(rootValue) + "\"\r\n\r\n";
    for (const char* port : {"NP1", "NP2", "NP3", "NP4", "NP5"})
        reg += std::string("[") + kMonitors + "\\Varden Network Port\\Ports\\" + port + "]\r\n\"Address\"=\"10.0.0.1\"\r\n\r\n";
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]\r\n\"Title\"=\"Quillar for Windows\"\r\n"
           "\"Version Installed\"=\"V5.1-1\"\r\n\r\n";
    if (withPrinters) {
        // The printers' driver and the ports besides the monitor's.
        auto j = s.machineJson();
        std::string arch = j["os"]["arch"];
        std::string env = d.win95 ? "Windows 4.0"
                          : arch == "alpha" ? "Windows NT Alpha_AXP"
                          : arch == "mips"  ? "Windows NT R4000"
                                            : "Windows NT x86";
        reg += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\" + env +
               "\\Drivers\\Generic]\r\n\"Driver\"=\"pscript.dll\"\r\n\"Data File\"=\"generic.ppd\"\r\n"
               "\"Configuration File\"=\"pscrptui.dll\"\r\n\"Version\"=dword:00000001\r\n\r\n";
        for (const char* port : {"LPT1:", "XNP1"})
            reg += std::string("[") + kMonitors + "\\Local Port\\Ports\\" + port + "]\r\n\r\n";
        reg += printerKey("Office", "NP1");          // only a monitor port: deleted
        reg += printerKey("Shared", "NP2,LPT1:");    // keeps LPT1:
        reg += printerKey("Twin", "NP3,NP4");        // handled at each port, then deleted
        reg += printerKey("Lookalike", "XNP1");      // ends in NP1: paused and resumed unchanged
        reg += printerKey("Busy", "NP5");            // with a job
    }
    s.importReg(reg);

    s.writeFile(root + "\\vrdpswiz.exe");
    s.writeFile(root + "\\Release Notes.wri");
    s.writeFile(root + "\\help\\vrdpswiz.hlp");
    s.writeFile(root + "\\locked.dat");
    s.writeFile(in.module);
    s.writeFile(in.help);
    for (const char* ini : {"vrdpswiz.ini", "vrdorvel.ini", "vrdrcons.ini"}) s.writeFile(d.windows + "\\" + ini);

    s.editMachine([&](nlohmann::json& j) {
        // A file copied from a read-only medium keeps the attribute.
        j["files"][root + "\\locked.dat"] = {{"attributes", {"readonly"}}};
        j["spooler"]["next_job_id"] = 2;
        j["spooler"]["printers"]["Busy"]["jobs"] = nlohmann::json::array(
            {{{"id", 1}, {"document", "Report"}, {"user", "Administrator"}, {"total_pages", 3}}});
        auto& groups = j["dde"]["progman"]["groups"];
        groups.push_back({{"name", "Varden Network Printers"},
                          {"common", true},
                          {"show", 1},
                          {"items", {{{"name", "Varden Network Printer Setup Wizard"}, {"command", root + "\\vrdpswiz.exe"}}}}});
        for (auto& g : groups)
            if (g["name"] == "Startup")
                g["items"].push_back({{"name", "Varden Network Printing Help"}, {"command", "winhlp32.exe vrdpsmon.hlp"}});
    });
    return in;
}

// --- reading the machine after a run -------------------------------------------

std::vector<std::string> groupNames(const Scenario& s) {
    std::vector<std::string> names;
    nlohmann::json j = s.machineJson();
    for (auto& g : j["dde"]["progman"]["groups"]) names.push_back(g["name"]);
    return names;
}

bool startupHasHelp(const Scenario& s) {
    nlohmann::json j = s.machineJson();
    for (auto& g : j["dde"]["progman"]["groups"])
        if (g["name"] == "Startup")
            for (auto& i : g["items"])
                if (i["name"] == "Varden Network Printing Help") return true;
    return false;
}

std::string removeAnswers(bool restartPage) {
    return std::string("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n") + (restartPage ? "7803 CANCEL\n" : "") +
           "7802 CONTINUE\n";
}

std::vector<int> removePages(bool restartPage) {
    return restartPage ? std::vector<int>{100, 800, 7803, 7802} : std::vector<int>{100, 800, 7802};
}

// --- one removal per platform ------------------------------------------------------

class RemovalPlatforms : public ::testing::TestWithParam<PlatformRow> {};

TEST_P(RemovalPlatforms, RemovesEveryTraceAndListsWhatIsLeft) {
    const PlatformRow& row = GetParam();
    Scenario s(std::string("remove-") + row.name);
    ASSERT_TRUE(s.newMachine({"--os", row.os, "--arch", row.arch, "--user", "admin"})) << s.error;
    Dirs d = dirsOf(s);
    // The Files key's Root begins with a backslash: it goes behind the
    // system drive.
    Installed in = prepareInstalled(s, "\\Varden\\Long Named Root", "C:\\Varden\\Long Named Root");
    // The spooler holds the monitor module where it is not stopped.
    if (!row.nt35) s.editMachine([&](nlohmann::json& j) { j["files"][in.module] = {{"in_use", "loaded"}}; });
    // NT 3.5x: Print Manager runs and is ended first.
    if (row.nt35)
        s.editMachine([](nlohmann::json& j) {
            j["processes"]["list"].push_back({{"id", 400}, {"name", "PRINTMAN.EXE"}, {"priority", 8}, {"threads", 2}});
        });

    RunResult r = s.run(removeAnswers(row.restartPage));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), removePages(row.restartPage)) << r.describe();
    EXPECT_EQ(r.linesStarting("box "), std::vector<std::string>{}) << r.describe();

    {
        Loaded m(s);
        EXPECT_FALSE(m.key(kMonitorKey));
        EXPECT_FALSE(m.key("SOFTWARE\\VardenWorks"));
        // Printers: deleted on monitor ports alone, kept on their other ports.
        EXPECT_FALSE(m.key(std::string(kPrinters) + "\\Office"));
        EXPECT_FALSE(m.key(std::string(kPrinters) + "\\Twin"));
        EXPECT_FALSE(m.key(std::string(kPrinters) + "\\Busy"));
        EXPECT_EQ(m.value(std::string(kPrinters) + "\\Shared", "Port"), "LPT1:");
        EXPECT_EQ(m.value(std::string(kPrinters) + "\\Lookalike", "Port"), "XNP1");
        // Paused and resumed again.
        DWORD status = 0xFFFF;
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kPrinters) + "\\Lookalike").c_str(), 0, KEY_READ, &h) == 0) {
            DWORD size = 4;
            RegQueryValueExA(h, "Status", nullptr, nullptr, (LPBYTE)&status, &size);
            RegCloseKey(h);
        }
        EXPECT_EQ(status & PRINTER_STATUS_PAUSED, 0u);

        // The tree is gone at once, the read-only file included.
        EXPECT_FALSE(s.exists(in.root + "\\locked.dat"));
        EXPECT_FALSE(s.exists(in.root));
        EXPECT_FALSE(s.exists(in.help));
        for (const char* ini : {"vrdpswiz.ini", "vrdorvel.ini", "vrdrcons.ini"}) EXPECT_FALSE(s.exists(d.windows + "\\" + ini));
        if (row.nt35) {
            // The spooler was stopped, so nothing holds the module any more.
            EXPECT_FALSE(s.exists(in.module));
            EXPECT_TRUE(m.pending().empty());
        } else if (d.win95) {
            EXPECT_TRUE(s.exists(in.module));
            // Short names stay as they are written.
            EXPECT_EQ(m.wininit(), (std::vector<std::pair<std::string, std::string>>{{"nul", in.module}}));
        } else {
            EXPECT_TRUE(s.exists(in.module));
            EXPECT_EQ(m.pending(), (std::vector<std::pair<std::string, std::string>>{{"\\??\\" + in.module, ""}}));
        }
    }
    EXPECT_EQ(groupNames(s), (std::vector<std::string>{"Main", "Accessories", "Startup"}));
    EXPECT_FALSE(startupHasHelp(s));
    if (row.nt35) {
        nlohmann::json j = s.machineJson();
        for (auto& p : j["processes"]["list"]) EXPECT_NE(p["name"], "PRINTMAN.EXE");
    }

    // What stays: the printer on LPT1 and the lookalike, and the module
    // until the next start where the spooler holds it.
    std::vector<std::string> left = {"left printer Lookalike: kept, prints to XNP1",
                                     "left printer Shared: kept, prints to LPT1:"};
    if (!row.nt35) left.push_back("left " + in.module + ": " +
                                  (d.win95 ? "monitor module in use by the spooler, deleted at the next start"
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
    const char* value;     // the Files key's Root; null: no Files key
    const char* removed;   // the directory that goes, or null when the root is refused
    const char* refusedAs; // the root as the message names it
};

void PrintTo(const RootRow& r, std::ostream* os) { *os << r.name; }

const RootRow kRoots[] = {
    {"DriveLetterUsedUnchanged", "D:\\apps\\vrd", "D:\\apps\\vrd", nullptr},
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
    s.setFree('D', 100ull << 20);
    std::string root = row.removed ? row.removed : "C:\\apps\\vrd";
    prepareInstalled(s, row.value, root, false);
    // Data that is not the package's, beside and above the root.
    s.writeFile("C:\\keep.txt");
    s.writeFile("C:\\apps\\keep.txt");
    s.writeFile("C:\\WINNT35\\win.ini");

    RunResult r = s.run(removeAnswers(false));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), removePages(false)) << r.describe();
    EXPECT_TRUE(s.exists("C:\\keep.txt"));
    EXPECT_TRUE(s.exists("C:\\apps\\keep.txt"));
    EXPECT_TRUE(s.exists("C:\\WINNT35\\win.ini"));
    EXPECT_TRUE(s.exists("C:\\WINNT35\\system32"));
    if (row.removed) {
        EXPECT_FALSE(s.exists(row.removed)) << r.describe();
        EXPECT_EQ(r.linesStarting("box "), std::vector<std::string>{}) << r.describe();
    } else {
        auto b = r.linesStarting("box ");
        ASSERT_EQ(b.size(), 1u) << r.describe();
        EXPECT_EQ(b[0].rfind(std::string("box Deinstall: The installation directory \"") + row.refusedAs + "\"", 0), 0u)
            << b[0];
        EXPECT_TRUE(s.exists(root + "\\vrdpswiz.exe"));
        EXPECT_TRUE(r.hasLineStarting(std::string("left ") + row.refusedAs + ": installation directory not removed: "))
            << r.describe();
    }
    // The rest of the removal goes on.
    Loaded m(s);
    EXPECT_FALSE(m.key(kMonitorKey));
    EXPECT_FALSE(s.exists("C:\\WINNT35\\system32\\vrdpsmon.dll"));
}

INSTANTIATE_TEST_SUITE_P(Roots, RemovalRoots, ::testing::ValuesIn(kRoots),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the failures of the removal -------------------------------------------------------------

struct FailureRow {
    const char* name;
    nlohmann::json fault;       // declared in machine.json
    std::vector<int> pages;     // pages shown
    int exitCode;
    const char* expectLine;     // a line of the log
    bool monitorKeyGone;        // the removal went on past the registry trees
};

void PrintTo(const FailureRow& r, std::ostream* os) { *os << r.name; }

nlohmann::json fault(const char* call, const std::string& target, DWORD error = 5, int nth = 1, int times = 0) {
    return {{"call", call}, {"target", target}, {"error", error}, {"nth", nth}, {"times", times}};
}

const std::string kMonitorPath = std::string("HKEY_LOCAL_MACHINE\\") + kMonitorKey;

std::vector<FailureRow> failureRows() {
    return {
        {"MonitorsRootFatal", fault("RegOpenKeyExA", kMonitors), {100, 800, 2300}, 0,
         "error DeInstall -- Couldn't open registry root, Error = 5", false},
        {"FilesKeyFatal", fault("RegOpenKeyExA", kMonitorPath + "\\Files"), {100, 800, 2300}, 0,
         "error Unable to access Files subkey in Registry for de-installation, error = 5.  Please restart to a clean "
         "system before re-running this program.",
         false},
        {"RootValueFatal", fault("RegQueryValueExA", kMonitorPath + "\\Files"), {100, 800, 2300}, 0,
         "error Unable to access Root value in Registry for de-installation, error = 5.  Please restart to a clean "
         "system before re-running this program.",
         false},
        {"PortListFatal", fault("RegOpenKeyExA", kMonitorPath + "\\Ports"), {100, 800, 2300}, 0,
         "error Unable to access Ports subkey in Registry, error = 5.  Please restart system before re-running "
         "program.",
         false},
        {"PrintersNotListedEndsWithOne", fault("EnumPrintersA", "", 1722, 2, 1), {100, 800}, 1,
         "box Deinstall: Couldn't enumerate printers (error = 1722)", false},
        {"PortNotDeletedNextOneIs", fault("DeletePortA", "NP2"), {100, 800, 7802}, 0,
         "box Deinstall: Couldn't delete port \"NP2\" (error = 5)", true},
        {"SpoolerStopFatal", fault("ControlService", "Spooler"), {100, 800, 2300}, 0,
         "error Deinstall -- Couldn't stop spooler, error = 5", false},
        {"SpoolerStartFatal", fault("StartServiceA", "Spooler"), {100, 800, 2300}, 0,
         "error Deinstall -- Couldn't start spooler, error = 5", true},
        {"MonitorTreeKeptGoesOn", fault("RegDeleteKeyA", kMonitorPath), {100, 800, 7802}, 0,
         "box DeInstall: Couldn't delete registry tree", false},
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
    s.editMachine([&](nlohmann::json& j) { j["faults"].push_back(row.fault); });

    std::string answers = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n";
    for (std::size_t i = 2; i < row.pages.size(); ++i) answers += std::to_string(row.pages[i]) + " CONTINUE\n";
    RunResult r = s.run(answers);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.describe();
    EXPECT_EQ(r.pages(), row.pages) << r.describe();
    EXPECT_TRUE(r.hasLine(row.expectLine)) << r.describe();
    s.editMachine([](nlohmann::json& j) { j["faults"] = nlohmann::json::array(); });
    Loaded m(s);
    EXPECT_EQ(m.key(kMonitorKey), !row.monitorKeyGone) << r.describe();
    if (std::string(row.name) == "PortNotDeletedNextOneIs") {
        EXPECT_TRUE(r.hasLine("left port NP2: could not be deleted (error = 5)")) << r.describe();
        EXPECT_FALSE(s.exists("C:\\apps\\vrd"));
    }
    if (std::string(row.name) == "PrintersNotListedEndsWithOne") {
        // Nothing after the enumeration ran: the printers and files stay.
        EXPECT_TRUE(m.key(std::string(kPrinters) + "\\Office"));
        EXPECT_TRUE(s.exists("C:\\apps\\vrd\\vrdpswiz.exe"));
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, RemovalFailures, ::testing::ValuesIn(failureRows()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- nothing installed, and twice ---------------------------------------------------------------

TEST(RemovalNotInstalled, OnlyTheDonePageAndNothingChanges) {
    Scenario s("remove-nothing");
    ASSERT_TRUE(s.newMachine({"--os", "win95", "--arch", "x86", "--user", "admin"})) << s.error;
    fs::path before = s.snapshot();
    RunResult r = s.run(removeAnswers(false));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), removePages(false)) << r.describe();
    EXPECT_EQ(r.linesStarting("box "), std::vector<std::string>{});
    EXPECT_EQ(r.linesStarting("left "), std::vector<std::string>{});
    // Nothing else changed while setup ran.
    EXPECT_EQ(s.changesSince(before), std::vector<std::string>{});
}

TEST(RemovalTwice, SecondRunFindsNothingToRemove) {
    Scenario s("remove-twice");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    prepareInstalled(s, nullptr, "C:\\win32app\\vrdpsmon");
    RunResult first = s.run(removeAnswers(false));
    ASSERT_EQ(first.exitCode, 0) << first.describe();
    EXPECT_FALSE(s.exists("C:\\win32app\\vrdpsmon"));
    RunResult second = s.run(removeAnswers(false));
    ASSERT_EQ(second.exitCode, 0) << second.describe();
    EXPECT_EQ(second.pages(), removePages(false)) << second.describe();
    EXPECT_EQ(second.linesStarting("box "), std::vector<std::string>{}) << second.describe();
}

// --- Windows 95: files in use under long names ------------------------------------------------

TEST(RemovalWindows95, FilesInUseGoThroughWininitUnderShortNames) {
    Scenario s("remove95-inuse");
    ASSERT_TRUE(s.newMachine({"--os", "win95", "--arch", "x86", "--user", "admin"})) << s.error;
    Installed in = prepareInstalled(s, "C:\\Program Files\\Varden Printing", "C:\\Program Files\\Varden Printing");
    s.writeFile(in.root + "\\Remote Console.exe");
    s.editMachine([&](nlohmann::json& j) {
        j["files"][in.root + "\\Remote Console.exe"] = {{"in_use", "open"}};
        j["files"][in.module] = {{"in_use", "loaded"}};
    });
    RunResult r = s.run(removeAnswers(true));
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    {
        Loaded m(s);
        EXPECT_EQ(m.wininit(), (std::vector<std::pair<std::string, std::string>>{
                                   {"nul", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~1.EXE"},
                                   {"nul", "C:\\PROGRA~1\\VARDEN~1"},
                                   {"nul", in.module}}));
    }
    EXPECT_TRUE(r.hasLine("left C:\\Program Files\\Varden Printing\\Remote Console.exe: in use, deleted at the next start"))
        << r.describe();
    EXPECT_TRUE(r.hasLine("left C:\\Program Files\\Varden Printing: not empty now, deleted at the next start"))
        << r.describe();
    std::string done;
    ASSERT_EQ(s.winsim({"reboot", s.machineDir().string()}, &done), 0) << done;
    EXPECT_FALSE(s.exists(in.root)) << done;
    EXPECT_FALSE(s.exists(in.module)) << done;
    EXPECT_TRUE(s.exists("C:\\Program Files")) << "only the package's directory goes";
}

}  // namespace
