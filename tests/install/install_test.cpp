// The install sequence on a machine: every condition it cannot survive
// driven to its reaction, with the spooler running again whatever happened
// (a successful installation or upgrade is checked by the installation
// scenarios, on the whole program); the two registry records; the
// model-name tables against the sample distribution.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "install/copylist.h"
#include "install/install.h"
#include "install/namemaps.h"
#include "install/records.h"
#include "setup/harness.h"

using namespace harness;

namespace {

const char kMonitors[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

// Every condition the sequence cannot survive, with its message; on NT 3.5x
// the modeless spooler pages come and go under the wait cursor, and the
// spooler runs again when setup has ended unless its one start failed.
TEST(Install, FatalConditionsEndSetupWithTheirMessage) {
    const Lines stop{"status 5100 Stopping the print spooler...", "status 5100 end"};
    const Lines stopStart{stop[0], stop[1], "status 5300 Starting the print spooler...", "status 5300 end"};
    const std::string sys95 = "C:\\WINDOWS\\SYSTEM";
    const struct {
        const char* name; bool windows95, upgrade; void (*fault)(Harness&);
        std::string error;  // ending in a blank: the start of it
        Lines status, boxes; DWORD spooler = SERVICE_RUNNING;
        const char* cursor = "arrow";  // under which the error page shows
    } rows[] = {
        {"monitors key refused", false, false,
         [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, kMonitors); },
         "error Install -- Couldn't open registry root, Error = 5", {}, {}},
        {"modules in a subdirectory without a number", false, false,
         [](Harness& h) { fs::remove_all(h.host(driverDir() + "\\1")), putNtModules(h, "x"); },
         "error setupForPPDInstall failed, error = 123", {}, {}},
        {"spooler does not stop", false, true,
         [](Harness&) { failNext("ControlService", 0, ERROR_ACCESS_DENIED, "Spooler"); },
         "error Install -- Couldn't stop spooler, error = 5", stop, {}, SERVICE_RUNNING, "wait"},
        {"monitor key cannot be repaired", false, true,
         [](Harness&) { failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED, std::string(kMonitors) + "\\Varden Network Port"); },
         "error Install -- FixReg failed, error = ", stop, {}},  // the number is FixReg's last error
        {"copy fails while the spooler is stopped", false, true,
         [](Harness& h) { fs::remove(h.host("C:\\dist\\vrdorvel.exe")); }, "error Error code = 1024", stop,
         {"box Copy Error: Cannot copy C:\\dist\\vrdorvel.exe to C:\\win32app\\vrdpsmon\\utility\\vrdorvel.exe (error 2)."}},
        // The one start attempt after the stop is not repeated.
        {"spooler does not start again", false, true,
         [](Harness&) { failNext("StartServiceA", 1, ERROR_SERVICE_DISABLED, "Spooler"); },
         "error Install -- Couldn't start spooler, error = 1058", stopStart, {}, SERVICE_STOPPED, "wait"},
        {"AddMonitor refused on NT", false, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5", {}, {}},
        {"AddMonitor refused on Windows 95", true, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5", {}, {}},
        {"earlier monitor still loaded on Windows 95", true, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ALREADY_EXISTS); },
         "error An instance of the Brevant Moniter was still residing in memory.  An incomplete installation or "
         "de-installation was detected.  Please reboot the computer before re-running this installation program.",
         {}, {}},
        // A rename that fails with no module there is reported and setup goes
        // on; without its module the spooler then refuses the monitor
        // (ERROR_MOD_NOT_FOUND, as Wine answers posing as Windows 95).
        {"Windows 95 rename fails with no module", true, false,
         [](Harness&) { failNext("MoveFileA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 126", {},
         {"box Install: Couldn't rename " + sys95 + "\\vrdpsmw4.new to " + sys95 + "\\vrdpsmw4.dll (error = 5)"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.windows95 ? win95() : nt351());
        // The PostScript modules where each platform keeps them; an upgrade
        // finds an earlier release's monitor (under an older name).
        copyDistribution(h);
        std::string sys = winsim::machine().systemDir;
        if (row.windows95) h.writeFile(sys + "\\pscript.drv");
        else putNtModules(h, "1");
        if (row.upgrade) {
            winsim::defineMonitor("Varden Network Port 4.2", "vrdpsmon.dll", {"VNP1"});
            h.writeFile(sys + "\\vrdpsmon.dll", "earlier release\n");
        }
        row.fault(h);
        ChildResult r = h.run("2300 CONTINUE\n", [] {
            startupState();
            winsim::addExitHandler([](UINT) { reportSpooler(); });
            BuildCopyList();
            Install();
        });
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("returned"), "");
        Lines errors = r.lines("error");
        ASSERT_EQ(errors.size(), 1u) << r.output;
        EXPECT_EQ(errors[0].substr(0, row.error.back() == ' ' ? row.error.size() : std::string::npos), row.error);
        EXPECT_EQ(r.lines("status"), row.status);
        EXPECT_EQ(r.lines("box"), row.boxes);
        for (const auto& l : r.lines("shown 5")) EXPECT_EQ(l.substr(l.size() - 11), "cursor wait");
        EXPECT_EQ(r.lines("shown 2300"), Lines{std::string("shown 2300 FErrorDlgProc help 0 cursor ") + row.cursor});
        EXPECT_EQ(r.value("spooler"), row.windows95 ? "" : std::to_string(row.spooler));
    }
}

// --- Registry records ----------------------------------------------------------

// The Files key and the version key hold their texts (sizes with the
// terminating zero; the date is 20 characters). A key the registry refuses
// ends setup with the record's message and the registry's error.
TEST(RegistryRecords, KeysHoldTheirTextsOrEndSetup) {
    Harness h;
    ChildResult r = h.run("", [] {
        SetFilesKeyInfo(FILES_KEY_PATH, "C:\\win32app\\vrdpsmon");
        SetVersionInfo(VERSION_KEY_PATH);
        for (auto [path, name] : {std::pair{FILES_KEY_PATH, "Mgmt Sess Key"}, {FILES_KEY_PATH, "Root"},
                                  {VERSION_KEY_PATH, "Title"}, {VERSION_KEY_PATH, "Software Type"},
                                  {VERSION_KEY_PATH, "Installation Version"}, {VERSION_KEY_PATH, "Description"},
                                  {VERSION_KEY_PATH, "Version Installed"}, {VERSION_KEY_PATH, "Install Date"}}) {
            HKEY key = nullptr;
            char data[600] = {};
            DWORD size = sizeof data, type = 0;
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
            LONG e = RegQueryValueExA(key, name, nullptr, &type, (LPBYTE)data, &size);
            RegCloseKey(key);
            bool date = std::string(name) == "Install Date";  // its text changes: the size shows its form
            report("%s|%u", e || type != REG_SZ ? "<none>" : date ? "date" : data, (unsigned)size);
        }
    });
    EXPECT_EQ(r.report, (Lines{"mqtv42|7", "C:\\win32app\\vrdpsmon|21", "Quillar for Windows|20", "Print Monitor|14",
                               "V5.1-11i|9", "Native support for Varden's network printers|45", "V5.1-1|7", "date|21",
                               "returned=1"})) << r.output;
    for (bool files : {true, false}) {
        failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED);
        r = h.run("2300 CONTINUE\n", [files] {
            if (files) SetFilesKeyInfo(FILES_KEY_PATH, "C:\\x");
            else SetVersionInfo(VERSION_KEY_PATH);
        });
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.lines("error"), (Lines{std::string("error Unable to access Registry to set ") +
                                           (files ? "files subkey" : "version") +
                                           ", error = 5.  Please restart to a clean system before re-running this "
                                           "program."}));
    }
}

TEST(RegistryRecords, DateTextIsAlwaysTwentyCharacters) {
    const std::pair<SYSTEMTIME, const char*> rows[] = {
        {{1996, 3, 2, 5, 14, 7, 9, 0}, "05-Mar-1996 14:07:09"},
        {{2026, 12, 1, 31, 23, 59, 59, 0}, "31-Dec-2026 23:59:59"},
        {{1995, 1, 0, 1, 0, 0, 0, 0}, "01-Jan-1995 00:00:00"},
        {{1999, 13, 0, 1, 0, 0, 0, 0}, "01-\?\?\?-1999 00:00:00"},  // no month beyond the table
        {{1999, 0, 0, 1, 0, 0, 0, 0}, "01-\?\?\?-1999 00:00:00"},   // nor before it
    };
    for (const auto& [time, text] : rows) {
        char out[32];
        FormatInstallDate(time, out, sizeof out);
        EXPECT_STREQ(out, text);
    }
}

// --- Model-name tables ------------------------------------------------------------

// Every name the Windows 95 tables map is a key of "PPD Files" in the sample
// setup.inf and becomes a name of at most 31 characters ("/Net" names end
// so); an earlier release's name moves to a current key, never to another
// earlier name. The lookup ignores letter case.
TEST(NameMaps, TablesMapKeysOfTheDistribution) {
    std::set<std::string> keys, olds;
    std::ifstream in(sourceDist() / "setup.inf");
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') inSection = line.rfind("[PPD Files]", 0) == 0;
        else if (auto eq = line.find(" = "); inSection && eq != std::string::npos && line[0] != ';')
            keys.insert(line.substr(0, eq));
    }
    ASSERT_GE(keys.size(), 15u);
    for (const NameMapEntry* table : {Win95DriverNameMap, Win95NetDriverNameMap})
        for (const NameMapEntry* e = table; e->Key; ++e) {
            std::string name = e->Name;
            EXPECT_TRUE(keys.count(e->Key) && name.size() <= 31 && name != e->Key) << name;
            EXPECT_EQ(table == Win95NetDriverNameMap, name.size() > 4 && name.substr(name.size() - 4) == "/Net") << name;
        }
    for (const ObsoleteDriverName* e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) olds.insert(e->Old);
    for (const ObsoleteDriverName* e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e)
        EXPECT_TRUE(keys.count(e->Current) && !olds.count(e->Current)) << e->Current;
    EXPECT_STREQ(LookupNameMap(Win95DriverNameMap, "VARDEN LASERSTREAM 1200/japanese"), "Varden LaserStream 1200/J");
    EXPECT_STREQ(LookupNameMap(Win95NetDriverNameMap, "Varden DeskStream 800"), "Varden DeskStream 800/Net");
    EXPECT_EQ(LookupNameMap(Win95DriverNameMap, "Varden LaserStream 400"), nullptr);
    EXPECT_EQ(LookupNameMap(Win95NetDriverNameMap, ""), nullptr);
}

}  // namespace
