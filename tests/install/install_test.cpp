// The install sequence's fatal conditions (successful installations are the scenarios'), the registry records, the
// model-name tables, the copy list, the PostScript driver modules (found, copied up or fetched) and the printer
// drivers: refusals, drivers in use, drivers of earlier releases.
#include <set>

#include "install/copylist.h"
#include "install/driverfiles.h"
#include "install/driverrename.h"
#include "install/extract95.h"
#include "install/install.h"
#include "install/namemaps.h"
#include "install/paths.h"
#include "install/printerdrivers.h"
#include "install/records.h"
#include "setup/harness.h"
#include "setup/setup.h"
#include "winsim/files/state.h"

using namespace harness;

namespace {

const std::string kMonitorsKey = "HKEY_LOCAL_MACHINE\\" + kMonitors;

// Every condition the sequence cannot survive, with its message (ending in a blank: the start of it). The transcripts
// pin the rest: on NT 3.5x the modeless spooler pages come and go under the wait cursor, and the spooler runs again
// when setup has ended unless its one start failed (the start after the stop is not repeated). A Windows 95 rename
// that fails with no module there is reported in a box and setup goes on; without its module the spooler then refuses
// the monitor (ERROR_MOD_NOT_FOUND, as Wine answers posing as Windows 95).
TEST(Install, FatalConditionsEndSetupWithTheirMessage) {
    const struct {
        bool windows95, upgrade; void (*fault)(Harness&); std::string error;
    } rows[] = {
        {false, false, [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, kMonitorsKey); },
         "error Install -- Couldn't open registry root, Error = 5"},
        {false, false, [](Harness& h) { fs::remove_all(h.host(driverDir() + "\\1")), putNtModules(h, "x"); },
         "error setupForPPDInstall failed, error = 123"},
        {false, true, [](Harness&) { failNext("ControlService", 0, ERROR_ACCESS_DENIED, "Spooler"); },
         "error Install -- Couldn't stop spooler, error = 5"},
        {false, true, [](Harness&) { failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED, kMonitorsKey + "\\Varden Network Port"); },
         "error Install -- FixReg failed, error = "},  // the number is FixReg's last error
        // A file of the distribution missing: the copy error box, then the toolkit's error page.
        {false, true, [](Harness& h) { fs::remove(h.host("C:\\dist\\vrdorvel.exe")); }, "error Error code = 1024"},
        {false, true, [](Harness&) { failNext("StartServiceA", 1, ERROR_SERVICE_DISABLED, "Spooler"); },
         "error Install -- Couldn't start spooler, error = 1058"},
        {false, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5"},
        {true, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5"},
        // The rename refused: reported, and the monitor then refused for want of its module.
        {true, false, [](Harness&) { failNext("MoveFileA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 126"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        Harness h(row.windows95 ? win95() : nt351());
        // The PostScript modules where each platform keeps them; an upgrade finds an earlier release's monitor (under
        // an older name).
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
        Lines errors = r.lines("error");
        ASSERT_EQ(errors.size(), 1u) << r.output;
        EXPECT_EQ(errors[0].substr(0, row.error.back() == ' ' ? row.error.size() : std::string::npos), row.error);
    }
}

// A whole installation flow: the pages after it show the arrow again, though the copy list and the group were built
// under the wait cursor.
TEST(Install, FlowGivesTheArrowBackForItsLastPages) {
    Harness h;
    copyDistribution(h);
    putNtModules(h, "1");
    // The transcript pins each page's cursor: the wait cursor for the two status pages, the arrow for the three
    // questions.
    h.run("1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n", [] {
        startupState();
        RunInstallationFlow();
    });
}

// The Files key and the version key hold their texts (REG_SZ with the terminating zero: the tree shows each text
// as its size less one; the date in its fixed form). A key the registry refuses ends setup with the record's message
// and the registry's error. The two runs' trees and messages are pinned by the transcript; the date's form and the
// name maps are checked here.
TEST(RegistryRecordsAndNameMaps, KeysHoldTheirTextsOrEndSetupNamesFitAndLookupIgnoresCase) {
    Harness h;
    h.run("", [] {
        SetFilesKeyInfo(FILES_KEY_PATH, "C:\\win32app\\vrdpsmon");
        SetVersionInfo(VERSION_KEY_PATH);
        std::string trees = regTree(FILES_KEY_PATH) + regTree(VERSION_KEY_PATH);
        report("%s", trees.substr(0, trees.size() - 1).c_str());
    });
    // (The version key refused: the outcome scenario VersionKeyRefused.)
    failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED);
    h.run("2300 CONTINUE\n", [] { SetFilesKeyInfo(FILES_KEY_PATH, "C:\\x"); });
    std::string dates;
    for (SYSTEMTIME time : {SYSTEMTIME{1996, 3, 2, 5, 14, 7, 9, 0}, SYSTEMTIME{2026, 12, 1, 31, 23, 59, 59, 0},
                            SYSTEMTIME{1995, 1, 0, 1, 0, 0, 0, 0}, SYSTEMTIME{1999, 13, 0, 1, 0, 0, 0, 0},
                            SYSTEMTIME{1999, 0, 0, 1, 0, 0, 0, 0}}) {  // no month beyond the table, nor before it
        char out[32];
        FormatInstallDate(time, out, sizeof out);
        dates += std::string(out) + "|";
    }
    EXPECT_EQ(dates, "05-Mar-1996 14:07:09|31-Dec-2026 23:59:59|01-Jan-1995 00:00:00|01-\?\?\?-1999 00:00:00|"
                     "01-\?\?\?-1999 00:00:00|");
    // The Windows 95 names fit 31 characters ("/Net" names end so); an earlier release's name moves to a current
    // name, never to another earlier one. (That every key is one of the distribution's shows in the installation
    // scenarios, one driver per key.) The lookup ignores letter case.
    std::set<std::string> olds;
    for (const NameMapEntry* table : {Win95DriverNameMap, Win95NetDriverNameMap})
        for (const NameMapEntry* e = table; e->Key; ++e) {
            std::string name = e->Name;
            EXPECT_TRUE(name.size() <= 31 && name != e->Key) << name;
            EXPECT_EQ(table == Win95NetDriverNameMap, name.size() > 4 && name.substr(name.size() - 4) == "/Net") << name;
        }
    for (const ObsoleteDriverName* e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) olds.insert(e->Old);
    for (const ObsoleteDriverName* e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) EXPECT_FALSE(olds.count(e->Current));
    EXPECT_STREQ(LookupNameMap(Win95DriverNameMap, "VARDEN LASERSTREAM 1200/japanese"), "Varden LaserStream 1200/J");
    EXPECT_STREQ(LookupNameMap(Win95NetDriverNameMap, "Varden DeskStream 800"), "Varden DeskStream 800/Net");
    EXPECT_EQ(LookupNameMap(Win95DriverNameMap, "Varden LaserStream 400"), nullptr);
    EXPECT_EQ(LookupNameMap(Win95NetDriverNameMap, ""), nullptr);
}

// Every key counts (each read as TkReadInfNumber reads it: the toolkit tests); with fields put into the kit's store,
// the sum is held at the 32-bit limits. A section that cannot be listed is a toolkit error (one that is there but
// empty counts 0); a key of 64 characters overflows.
TEST(SectionBytes, AddsEveryKeyHoldsTheSumAndFailsOnMissingOrLong) {
    Harness h;
    h.setInf("[Many]\n" + infLine("a", "a.dat", 100) + infLine("b", "b.dat", 20) + infLine("c", "c.dat", 0) +
             infLine("d", "d.dat", 0) + "[Empty]\n[Big]\n" + infLine("a", "a.dat", 0) + infLine("b", "b.dat", 0) +
             infLine("c", "c.dat", 0) + "[Long]\n" + infLine(std::string(64, 'k'), "k.dat", 1));
    h.run("", [] {  // the transcript pins the sums: 120 and 0, then the two held at the limits
        TkOpenInf("C:\\dist\\setup.inf");
        kit::Inf& inf = *kit::currentInf();
        auto set = [&](int line, const char* text) { inf.strings[inf.fields[inf.lines.at(line).firstField + 14]] = text; };
        report("%ld %ld", (long)SectionBytes("Many"), (long)SectionBytes("Empty"));
        for (auto [a, b, c] : {std::tuple{"2147483647", "1", "-5"}, {"-2147483648", "-1", "5"}}) {
            set(4, a);
            set(5, b);
            set(6, c);
            report("%ld", (long)SectionBytes("Big"));
        }
    });
    for (std::string name : {"Other", "Long"})
        expectToolkitError(h.run("2300 CONTINUE\n", [name] {
            TkOpenInf("C:\\dist\\setup.inf");
            SectionBytes(name.c_str());
        }), 1024, name == "Long" ? Lines{kOverflowBox} : Lines{});
}

// Builds the copy list of a distribution with one small file s<n>.dat per section, n its place in kSections (after
// something else was queued to C:\stale), and copies it.
ChildResult copy(Harness& h, bool windows95, bool alpha, bool mips, LONG installType, const std::string& answers = "",
                 const std::string& root = "C:\\root") {
    std::string inf;
    for (int n = 1; n <= 18; ++n) {
        std::string file = "s" + std::to_string(n) + ".dat";
        inf += std::string("[") + kSections[n - 1] + "]\n" + infLine("k" + std::to_string(n), file, 4);
        h.writeFile("C:\\dist\\" + file, "data");
    }
    h.setInf(inf);
    return h.run(answers, [=] {
        TkOpenInf("C:\\dist\\setup.inf");
        ::Setup.IsWindows95 = windows95;
        ::Setup.IsAlpha = alpha;
        ::Setup.IsMips = mips;
        ::Setup.IsX86 = !alpha && !mips;
        ::Setup.InstallType = installType;
        std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
        std::strcpy(::Setup.SystemDir, "C:\\sys");
        std::strcpy(::Setup.DriverDir, "C:\\drv");
        std::strcpy(::Setup.InstallRoot, root.c_str());
        TkAddSectionFiles("Orvel", "C:\\dist\\", "C:\\stale");
        BuildCopyList();
        TkCopyFiles();
    });
}

// Each platform's sections go to their folders; the load sections only to a chosen root; the list queued before is
// dropped (the files each run adds: its transcript). The copy engine's results through the access layer: a
// quit (the user gave up on a full disk) is 1025; a root too long for its subdirectories (508 characters, the longest
// the page accepts) overflows.
TEST(BuildCopyList, QueuesTheSectionsOfThePlatformToTheirFoldersOrFails) {
    const struct { bool windows95, alpha, mips; LONG type; } platforms[] = {
        {false, false, false, INSTALL_CHOSEN_DEST},  // NT x86 with the load sections under the root
        {false, true, false, INSTALL_SYSTEM_DRIVE},  // NT Alpha
        {false, false, true, INSTALL_SYSTEM_DRIVE},  // NT MIPS
        {true, false, true, INSTALL_SYSTEM_DRIVE},   // Windows 95, whatever the processor flag
    };
    for (const auto& row : platforms) {
        Harness h(row.windows95 ? win95() : nt351());
        copy(h, row.windows95, row.alpha, row.mips, row.type);
    }
    Harness full;
    full.setFree('C', 10);
    ChildResult r = copy(full, false, false, false, INSTALL_CHOSEN_DEST, "2300 CONTINUE\n");
    expectToolkitError(r, 1025, {"box Disk Full: There is not enough space on drive C: for the files. Needed: 1 KB, "
                                 "free: 0 KB. Make room and choose Retry, or Cancel to stop setup."});
    Harness h;
    r = copy(h, false, false, false, INSTALL_CHOSEN_DEST, "2300 CONTINUE\n", "C:\\" + std::string(505, 'r'));
    expectToolkitError(r, 1024, {kOverflowBox});
    // The overflow itself ends setup, not a file path the kit refuses: the utility sections here are empty.
    h.setInf("[I386 Wizard]\n[Orvel]\n[Remote Console]\n[Wizard]\n[VB Common]\n");
    expectToolkitError(h.run("2300 CONTINUE\n", [] {
        startupState();
        std::strcpy(::Setup.InstallRoot, ("C:\\" + std::string(505, 'r')).c_str());
        AddUtilitySections();
    }), 1024, {kOverflowBox});
}

// Leaves the stack below the caller full of non-zero bytes, so that a buffer the code under test forgets to start
// empty holds junk.
__attribute__((noinline)) void dirtyStack() {
    volatile char junk[16384];
    for (auto& c : junk) c = 'j';
}

// NT 3.5x: the modules where they are found (the driver directory wins over a version folder), the version the
// subdirectory name gives, and no page while they are at hand. Names starting with a dot (not names holding one) and
// directories with other attributes than the directory bit are not searched: the modules are then fetched, here from
// a distribution path that cannot be read.
TEST(SetupForPPDInstall, Nt35FindsTheModulesAndTheirVersion) {
    // Each row's result and version (reported), or the message ending setup, is pinned by its transcript.
    const struct { std::string sub; bool readOnly, fetched; } rows[] = {
        {"", false, false},     // in the driver directory (a version folder 7 beside it): version 1
        {"1", false, false},    // version 1
        {"0", false, false},    // version 0
        {"2.0", false, false},  // version 2
        {"x", false, false},    // a folder name without a number: failed
        {".5", false, true},    // not searched: fetched
        {"2", true, true},      // read-only: not searched, fetched
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sub);
        Harness h;
        putNtModules(h, row.sub);
        if (row.sub.empty()) putNtModules(h, "7");
        h.run("2300 CONTINUE\n", [&row] {
            startupState();
            if (row.readOnly)
                winsim::machine().files->meta[driverDir() + "\\" + row.sub].attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
            if (row.fetched) {  // from a distribution path that cannot be read
                HKEY key;
                RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
                RegDeleteValueA(key, "WinntPath");
            }
            DWORD version = 77;
            dirtyStack();
            DWORD status = setupForPPDInstallNT35(&version);
            report("%s %u", stsSucceeded(status) ? "done" : "failed", (unsigned)version);
        });
    }
}

// Fetching from the distribution: NT asks for the path and installs both modules (NT 3.1x also the help file, which
// may be missing; the failure page and its retries: the scenarios); Windows 95 runs the cabinet tool, which here
// delivers nothing, and the second try finds no tool. Every way the distribution path the registry records cannot be
// read ends setup with its message, before any page.
TEST(CopyPSDriverFiles, PathPageThenFetchOrFailurePage) {
    const struct {
        winsim::OsInfo os; void (*prepare)(Harness&); const char* answers;
    } rows[] = {
        // NT 3.1x: both modules fetched from the path typed.
        {nt31(), [](Harness& h) { h.writeFile("C:\\i386\\pscript.dll"); h.writeFile("C:\\i386\\pscrptui.dll"); },
         "1100 CONTINUE EditTextOut=C:\\i386\n"},
        // Windows 95: the tool delivers nothing, the second try (from C:\dist) finds no tool; then quit.
        {win95(), [](Harness& h) { h.writeFile("E:\\WIN95\\win95_02.cab", "not a cabinet\n"); },
         "102 CONTINUE\n103 CONTINUE\n102 CONTINUE EditTextOut=\"C:\\dist\"\n103 EXIT\n200 EXIT\n"},
        // The recorded path unreadable: setup ends with the registry's error.
        {nt351(), [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SYSTEM\\Setup"); },
         "2300 CONTINUE\n"},
        {nt351(), [](Harness&) { setValue("SYSTEM\\Setup", "WinntPath", REG_DWORD, "\x01\0\0\0", 4); }, "2300 CONTINUE\n"},
        {win95(), [](Harness&) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup"); },
         "2300 CONTINUE\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answers);
        Harness h(row.os);
        h.writeFile("E:\\WIN95\\extract.exe");
        row.prepare(h);
        h.run(row.answers, [] {
            startupState();
            DWORD version = 0;  // nothing at hand: each platform's search fetches the modules
            if (::Setup.IsWindows95) setupForPPDInstallWin95(&version);
            else if (::Setup.IsNT31) setupForPPDInstallNT31(&version);
            else setupForPPDInstallNT35(&version);
        });
    }
}

// The cabinet tool is started only when it and the cabinet are there, with the companion files the destination lacks;
// a trailing backslash is not doubled. The wait polls the target 41 times at most, and when the target came waits a
// settling pause, under the status page and the wait cursor.
TEST(ExtractWin95DriverFiles, StartsTheToolAndWaitsForTheTarget) {
    // The program line, the status page, the result and the virtual time each row reports: its transcript.
    const struct { const char* dist; bool tool, cabinet, companions; } rows[] = {
        {"E:\\WIN95", false, true, false},    // no tool: not started
        {"E:\\WIN95", true, false, false},    // no cabinet: not started
        {"E:\\WIN95\\", true, true, false},  // with the companions lacking; nothing delivered
        {"E:\\WIN95", true, true, true},      // the target at the first poll
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h(win95());
        const std::string sys = h.machine().systemDir;
        fs::remove(h.host("E:\\WIN95\\extract.exe"));
        fs::remove(h.host("E:\\WIN95\\win95_02.cab"));
        if (row.tool) h.writeFile("E:\\WIN95\\extract.exe");
        if (row.cabinet) h.writeFile("E:\\WIN95\\win95_02.cab", "not a cabinet\n");
        for (const char* f : {"fonts.mfm", "iconlib.dll", "testps.txt", "apple380.spd", "pscript.drv"})
            if (row.companions || f[0] == 'f') h.writeFile(sys + "\\" + f);
        std::string dist = row.dist;
        h.run("", [dist] {
            startupState();
            std::uint64_t start = winsim::now();
            int result = ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir);
            report("%d %llu", result, (unsigned long long)(winsim::now() - start));
        });
    }
}

// Paths that do not fit their buffers fail the operation instead of being cut to another file's name (a distribution
// path that leaves room for the tool's name but not for the cabinet's, whose cut name is there too). A module in
// place with a newer version stays.
TEST(DriverFilePaths, PathsThatDoNotFitAndNewerModulesFailTheOperation) {
    volatile std::size_t capacity = 16;  // not a constant the compiler checks the format against
    std::vector<char> out(capacity);
    EXPECT_TRUE(JoinPath(out.data(), capacity, "C:\\dir", "file.ext"));
    EXPECT_STREQ(out.data(), "C:\\dir\\file.ext");
    SetLastError(0);
    EXPECT_FALSE(JoinPath(out.data(), capacity, "C:\\dir", "file.exte"));
    EXPECT_STREQ(out.data(), "");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    Harness h(win95());
    h.writeFile("E:\\WIN95\\extract.exe");
    const std::string dist = "E:\\" + std::string(244, 'd');
    h.writeFile(dist + "\\extract.exe");
    h.writeFile(dist + "\\win95_02.ca");
    h.writeFile("E:\\I386\\pscript.dll", "older\n");
    h.writeFile("C:\\x\\pscript.dll", "newer\n");
    h.machine().files->meta["C:\\x\\pscript.dll"].version = "9.0.0.0";
    h.run("", [dist] {
        startupState();
        report("%d", ExtractWin95DriverFiles("pscript.drv", ("E:\\" + std::string(300, 'd')).c_str(), ::Setup.DriverDir));
        report("%d", ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir));
        report("%d", ExtractWin95DriverFiles("pscript.drv", "E:\\WIN95", ("C:\\" + std::string(600, 'p')).c_str()));
        for (std::string name : {std::string(300, 'f'), std::string("pscript.dll")}) {
            int ok = InstallDriverFile(name.c_str(), "E:\\I386", "C:\\x");
            report("%d %u", ok, (unsigned)GetLastError());
        }
    });
    // The transcript pins every result: each call fails, the name too long with error 206, the newer module with 266
    // (cannot copy) and left as it was, and no program is started.
}

void defineDriver(const std::string& name, const std::string& dataFile) {
    winsim::defineDriver(winsim::ownEnvironment(), {name, "pscript.dll", dataFile, "pscrptui.dll", 1});
}

// A printer on LPT1: (of the "Local Port" monitor).
void definePrinter(const std::string& name, const std::string& driver) {
    winsim::defineMonitor("Local Port", winsim::machine().os.isNT() ? "localmon.dll" : "spoolss.dll", {"LPT1:"});
    winsim::SpoolPrinter p;
    p.name = name;
    p.port = "LPT1:";
    p.driver = driver;
    winsim::definePrinter(p);
}

// An empty section adds nothing; a refused driver is reported by the name used and the next follows; a key too long
// for its buffer ends setup. A driver in use that cannot be added again leaves its printers on the parking driver
// (another printer's) with the failure reported; nothing is parked when every printer uses the driver (parking and
// coming back is walked by the upgrade scenarios). Printers on an earlier release's names move to the current ones
// (names match in letter case only; a printer that cannot be opened stays) and the old drivers go unless still used.
// InstallPrinterDrivers and RenameObsoleteDrivers run as Install runs them (record filled, PPD files in DriverDir as
// the copy list left them); the child reports the drivers, printers and calls after, which the transcripts pin with the
// boxes and errors.
TEST(InstallPrinterDrivers, DriversPrintersAndRefusals) {
    const std::string ls600 = "Varden LaserStream 600";
    const struct {
        bool windows95; std::vector<std::pair<std::string, std::string>> keys; void (*prepare)(Harness&);
    } rows[] = {
        {false, {}, [](Harness&) {}},  // an empty section
        // Windows 95: the first driver refused (reported by its Windows 95 name), the next added.
        {true, {{"Varden LaserStream 1200/Japanese", "a.ppd"}, {"Varden LaserStream 400", "b.ppd"}},
         [](Harness&) { failNext("AddPrinterDriverA", 1, ERROR_ACCESS_DENIED); }},
        {false, {{std::string(64, 'k'), "a.ppd"}}, [](Harness&) {}},  // a key too long: setup ends
        // The driver in use not added again: its printers stay parked on Other's driver.
        {false, {{ls600, "new.ppd"}}, [](Harness& h) {
             defineDriver("Varden LaserStream 600", "old.ppd");
             defineDriver("Other", "other.ppd");
             for (auto [p, d] : {std::pair{"Office", "Varden LaserStream 600"}, {"Hall", "Other"}, {"Lab", "Varden LaserStream 600"}})
                 definePrinter(p, d);
             failNext("AddPrinterDriverA", 1, ERROR_NOT_ENOUGH_MEMORY);  // the re-add, after the one meeting the use
             h.machine().faults.back().nth += 1;
         }},
        // Every printer uses the driver: nothing to park on, the driver left as it was.
        {false, {{ls600, "new.ppd"}}, [](Harness&) {
             defineDriver("Varden LaserStream 600", "old.ppd");
             definePrinter("Office", "Varden LaserStream 600");
             definePrinter("Lab", "Varden LaserStream 600");
         }},
        // Earlier releases' names: A and B move to the current ones and their drivers go; C (the name in other letter
        // case) and D (its printer cannot be opened) stay.
        {false, {{ls600, "a.ppd"}, {"Varden LaserStream 1200 Level2 16MB", "b.ppd"}}, [](Harness&) {
             for (const char* old : {"Varden LaserStream 600 v48.3", "Varden LaserStream 1200 Level2 16 MB v2013",
                                     "varden laserstream 600 v2013", "Varden DeskStream 1600 v48.3"})
                 defineDriver(old, "old.ppd");
             definePrinter("A", "Varden LaserStream 600 v48.3");
             definePrinter("B", "Varden LaserStream 1200 Level2 16 MB v2013");
             definePrinter("C", "varden laserstream 600 v2013");
             definePrinter("D", "Varden DeskStream 1600 v48.3");
             failNext("OpenPrinterA", 0, ERROR_ACCESS_DENIED, "D");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h(row.windows95 ? win95() : nt351());
        std::string inf = "[PPD Files]\n";
        for (const auto& [key, file] : row.keys) {
            inf += infLine(key, file, 10);
            h.writeFile("C:\\dist\\" + file, "*PPD " + key + "\n");
        }
        h.setInf(inf);
        if (!row.windows95) putNtModules(h);
        else h.writeFile(h.machine().systemDir + "\\pscript.drv");
        row.prepare(h);
        h.run("2300 CONTINUE\n", [](LPSTR) {
            startupState();
            TkResetCopyList();
            TkAddSectionFiles("PPD Files", ::Setup.CopySourceDir, ::Setup.DriverDir);
            TkCopyFiles();
            DRIVER_INFO_2A record{};
            record.cVersion = 1;
            char name[DRIVER_NAME_SIZE], ppd[PPD_NAME_SIZE];
            FillDriverRecord(&record, name, ppd);
            InstallPrinterDrivers(&record);
            RenameObsoleteDrivers(&record);
            std::vector<winsim::SpoolDriver> drivers;
            winsim::spoolerDrivers(winsim::ownEnvironment(), drivers);
            for (const auto& d : drivers) report("driver %s|%s|%u", d.name.c_str(), d.dataFile.c_str(), (unsigned)d.version);
            std::vector<winsim::SpoolPrinter> printers;
            winsim::spoolerPrinters(printers);
            for (const auto& p : printers)
                report("printer %s|%s|%s", p.name.c_str(), p.driver.c_str(), p.status & PRINTER_STATUS_PAUSED ? "paused" : "running");
            report("calls added=%u set=%u", winsim::machine().callCounts["AddPrinterDriverA"],
                   winsim::machine().callCounts["SetPrinterA"]);
            return 0;
        });
    }
}

}  // namespace
