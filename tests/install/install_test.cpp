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
        const char* error;  // ending in a blank: the start of it
        Lines status, boxes; DWORD spooler = SERVICE_RUNNING;
        const char* cursor = "arrow";  // under which the error page shows
    } rows[] = {
        {"monitors key refused", false, false,
         [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, kMonitors); },
         "error Install -- Couldn't open registry root, Error = 5", {}, {}},
        {"modules in a subdirectory without a number", false, false,
         [](Harness& h) {
             std::filesystem::remove_all(h.host(driverDir() + "\\1"));
             putNtModules(h, "x");
         },
         "error setupForPPDInstall failed, error = 123", {}, {}},
        {"spooler does not stop", false, true,
         [](Harness&) { failNext("ControlService", 0, ERROR_ACCESS_DENIED, "Spooler"); },
         "error Install -- Couldn't stop spooler, error = 5", stop, {}, SERVICE_RUNNING, "wait"},
        {"monitor key cannot be repaired", false, true,
         [](Harness&) { failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED, std::string(kMonitors) + "\\Varden Network Port"); },
         "error Install -- FixReg failed, error = ", stop, {}},  // the number is FixReg's last error
        {"copy fails while the spooler is stopped", false, true,
         [](Harness& h) { std::filesystem::remove(h.host("C:\\dist\\vrdorvel.exe")); }, "error Error code = 1024", stop,
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
        // On NT the spooler keeps the PostScript modules in its version
        // subdirectory; on Windows 95 the driver module is in the system
        // directory. An upgrade finds an earlier release's monitor (under an
        // older key name) with its module.
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
        std::string expected = row.error;
        EXPECT_EQ(expected.back() == ' ' ? errors[0].substr(0, expected.size()) : errors[0], expected);
        EXPECT_EQ(r.lines("status"), row.status);
        EXPECT_EQ(r.lines("box"), row.boxes);
        for (const auto& l : r.lines("shown 5")) EXPECT_EQ(l.substr(l.size() - 11), "cursor wait");
        EXPECT_EQ(r.lines("shown 2300"), Lines{std::string("shown 2300 FErrorDlgProc help 0 cursor ") + row.cursor});
        if (!row.windows95) {
            EXPECT_EQ(r.value("spooler"), std::to_string(row.spooler));
        }
    }
}

// --- Registry records ----------------------------------------------------------

std::string readSz(const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char data[600] = {};
    DWORD size = sizeof data, type = 0;
    LONG e = RegQueryValueExA(key, name, nullptr, &type, (LPBYTE)data, &size);
    RegCloseKey(key);
    if (e != ERROR_SUCCESS || type != REG_SZ) return "<no value>";
    return std::string(data) + "|" + std::to_string(size);
}

// The Files key and the version key hold their texts (sizes with the
// terminating zero); a second run writes the date again.
TEST(RegistryRecords, FilesKeyAndVersionKeyHoldTheirTexts) {
    Harness h;
    ChildResult r = h.run("", [] {
        report("%d", SetFilesKeyInfo(FILES_KEY_PATH, "C:\\win32app\\vrdpsmon"));
        report("%d", SetVersionInfo(VERSION_KEY_PATH));
        for (const char* name : {"Mgmt Sess Key", "Root"}) report("%s", readSz(FILES_KEY_PATH, name).c_str());
        for (const char* name : {"Title", "Software Type", "Installation Version", "Description", "Version Installed"})
            report("%s", readSz(VERSION_KEY_PATH, name).c_str());
        std::string first = readSz(VERSION_KEY_PATH, "Install Date");
        report("date=%s", first.c_str());
        winsim::advance(61 * 1000);
        SetVersionInfo(VERSION_KEY_PATH);
        report("changed=%d", first != readSz(VERSION_KEY_PATH, "Install Date"));
    });
    ASSERT_GE(r.report.size(), 9u) << r.output;
    EXPECT_EQ(Lines(r.report.begin(), r.report.begin() + 9),
              (Lines{"1", "1", "mqtv42|7", "C:\\win32app\\vrdpsmon|21", "Quillar for Windows|20", "Print Monitor|14",
                     "V5.1-11i|9", "Native support for Varden's network printers|45", "V5.1-1|7"}));
    std::string date = r.value("date");
    ASSERT_EQ(date.size(), 23u) << date;  // 20 characters, "|21"
    EXPECT_EQ(date.substr(20), "|21");
    EXPECT_EQ(r.value("changed"), "1");
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

// A key the registry refuses ends setup with the record's message and the
// registry's error.
TEST(RegistryRecords, RefusedKeyEndsSetupWithItsMessage) {
    for (bool files : {true, false}) {
        Harness h;
        failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED);
        ChildResult r = h.run("2300 CONTINUE\n", [files] {
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

// --- Model-name tables ------------------------------------------------------------

// The keys of "PPD Files" in the sample setup.inf.
std::set<std::string> ppdKeys() {
    std::ifstream in(sourceDist() / "setup.inf");
    std::set<std::string> keys;
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') inSection = line.rfind("[PPD Files]", 0) == 0;
        else if (auto eq = line.find(" = "); inSection && eq != std::string::npos && line[0] != ';')
            keys.insert(line.substr(0, eq));
    }
    return keys;
}

// Every name the Windows 95 tables map is a key of the distribution and
// fits 31 characters; "/Net" names are shortened only when needed; the
// distribution exercises every abbreviation.
TEST(NameMaps, Win95TablesMapKeysOfTheDistributionToShortNames) {
    auto keys = ppdKeys();
    ASSERT_GE(keys.size(), 15u);
    int counts[2] = {0, 0}, shortened = 0;
    for (const NameMapEntry* table : {Win95DriverNameMap, Win95NetDriverNameMap}) {
        const NameMapEntry* e = table;
        for (; e->Key; ++e, ++counts[table == Win95NetDriverNameMap]) {
            std::string key = e->Key, name = e->Name;
            EXPECT_TRUE(keys.count(key)) << key;
            EXPECT_LE(key.size(), 40u) << key;
            EXPECT_LE(name.size(), 31u) << name;
            EXPECT_NE(key, name);
            if (table != Win95NetDriverNameMap) continue;
            ASSERT_GE(name.size(), 4u);
            EXPECT_EQ(name.substr(name.size() - 4), "/Net") << name;
            if (key + "/Net" != name) {
                EXPECT_GT(key.size() + 4, 31u) << "shortened only when needed: " << key;
                ++shortened;
            }
        }
        EXPECT_EQ(e->Name, nullptr);
    }
    EXPECT_EQ(counts[0], 8);
    EXPECT_EQ(counts[1], 7);
    EXPECT_EQ(shortened, 2);
    for (const char* text : {"/Japanese", "Level2", "MB", "fonts"})
        EXPECT_TRUE(std::any_of(keys.begin(), keys.end(), [&](auto& k) { return k.find(text) != std::string::npos; }))
            << text;
}

// Obsolete names move to current keys, never to another obsolete name.
TEST(NameMaps, ObsoleteNamesMoveToCurrentKeysAndNeverTwice) {
    auto keys = ppdKeys();
    std::set<std::string> olds;
    const ObsoleteDriverName* e = ObsoleteDriverNameMap;
    for (; e->Old[0] != '\0'; ++e) olds.insert(e->Old);
    EXPECT_EQ(e->Current[0], '\0');
    EXPECT_EQ(olds.size(), 12u);
    for (e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) {
        std::string old = e->Old, current = e->Current;
        EXPECT_LE(old.size(), 47u);
        EXPECT_LE(current.size(), 37u);
        EXPECT_TRUE(keys.count(current)) << current;
        EXPECT_FALSE(olds.count(current)) << current;
        EXPECT_NE(old.find(" v"), std::string::npos) << old;
    }
}

TEST(NameMaps, LookupIgnoresLetterCaseAndEndsAtTheNullPair) {
    EXPECT_STREQ(LookupNameMap(Win95DriverNameMap, "VARDEN LASERSTREAM 1200/japanese"), "Varden LaserStream 1200/J");
    EXPECT_STREQ(LookupNameMap(Win95NetDriverNameMap, "Varden DeskStream 800"), "Varden DeskStream 800/Net");
    EXPECT_EQ(LookupNameMap(Win95DriverNameMap, "Varden LaserStream 400"), nullptr);
    EXPECT_EQ(LookupNameMap(Win95NetDriverNameMap, ""), nullptr);
}

}  // namespace
