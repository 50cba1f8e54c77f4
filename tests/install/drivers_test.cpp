// PostScript driver modules (found in the driver directory, copied up from
// the NT 3.5x spooler's version subdirectory, or fetched from the Windows
// distribution: path page, cabinet tool and its wait, failure page, and the
// fatal rows of a distribution path that cannot be read), and the printer
// drivers: one per key of "PPD Files" (names mapped on Windows 95, "/Net"
// drivers added), drivers in use replaced through parking, drivers of
// earlier releases renamed, every refusal reported.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/driverfiles.h"
#include "install/driverrename.h"
#include "install/extract95.h"
#include "install/paths.h"
#include "install/printerdrivers.h"
#include "setup/harness.h"
#include "winsim/files/state.h"

using namespace harness;

namespace {

// Leaves the stack below the caller full of non-zero bytes, so that a
// buffer the code under test forgets to start empty holds junk.
__attribute__((noinline)) void dirtyStack() {
    volatile char junk[16384];
    for (auto& c : junk) c = 'j';
}

// NT 3.5x: the modules where they are found, the version the subdirectory
// name gives, and no page while they are at hand. Names starting with a dot
// (not names holding one) and directories with other attributes than the
// directory bit are not searched: the modules are then fetched, here from a
// distribution path that cannot be read.
TEST(SetupForPPDInstall, Nt35FindsTheModulesAndTheirVersion) {
    const struct {
        std::string sub;  // "": in the driver directory (and in 7)
        bool readOnly;
        const char* status;  // "": setup ended
        const char* version;
    } rows[] = {{"", false, "done", "1"}, {"1", false, "done", "1"}, {"0", false, "done", "0"},
                {"2.0", false, "done", "2"}, {"x", false, "failed", "0"}, {".5", false, "", ""}, {"2", true, "", ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sub);
        Harness h;
        putNtModules(h, row.sub);
        if (row.sub.empty()) putNtModules(h, "7");
        ChildResult r = h.run("2300 CONTINUE\n", [&row] {
            startupState();
            if (row.readOnly)
                winsim::machine().files->meta[driverDir() + "\\" + row.sub].attributes =
                    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
            if (!*row.status) {
                HKEY key;
                RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
                RegDeleteValueA(key, "WinntPath");
            }
            DWORD version = 77;
            dirtyStack();
            report("status=%s", stsSucceeded(setupForPPDInstallNT35(&version)) ? "done" : "failed");
            report("version=%u", (unsigned)version);
        });
        EXPECT_EQ(r.value("status"), row.status) << r.output;
        EXPECT_EQ(r.value("version"), row.version);
        if (*row.status) {
            EXPECT_TRUE(r.pages().empty()) << "no page when the modules are at hand";
            EXPECT_TRUE(std::filesystem::exists(h.host(driverDir() + "\\pscript.dll")));
            EXPECT_TRUE(std::filesystem::exists(h.host(driverDir() + "\\pscrptui.dll")));
        } else {
            EXPECT_EQ(r.lines("error"), Lines{"error CopyPSDriverFiles -- Couldn't read dist. path, Error = 2"});
        }
    }
}

// Fetching from the distribution: NT asks for the path and installs both
// modules (NT 3.1x also the help file, which may be missing); a missing
// module shows the failure page and asks again; Windows 95 runs the cabinet
// tool, which here delivers nothing, and the second try finds no tool. Every
// way the distribution path the registry records cannot be read ends setup
// with its message, before any page.
TEST(CopyPSDriverFiles, PathPageThenFetchOrFailurePage) {
    const struct {
        const char* what; winsim::OsInfo os; void (*prepare)(Harness&); const char* answers; std::vector<int> pages;
        const char* error;  // nullptr: none
        bool fetched = false; std::size_t programs = 0;
    } rows[] = {
        {"NT 3.1", nt31(), [](Harness& h) { h.writeFile("C:\\i386\\pscript.dll"); h.writeFile("C:\\i386\\pscrptui.dll"); },
         "1100 CONTINUE EditTextOut=C:\\i386\n", {1100}, nullptr, true},
        {"NT 3.51, module missing", nt351(), [](Harness& h) { h.writeFile("C:\\i386\\pscript.dll"); },
         "1100 CONTINUE EditTextOut=C:\\i386\n1300 CONTINUE\n1100 CONTINUE EditTextOut=C:\\i386\n1300 EXIT\n200 EXIT\n",
         {1100, 1300, 1100, 1300, 200}, nullptr},
        {"Windows 95", win95(), [](Harness& h) { h.writeFile("E:\\WIN95\\win95_02.cab", "not a cabinet\n"); },
         "102 CONTINUE\n103 CONTINUE\n102 CONTINUE EditTextOut=\"C:\\dist\"\n103 EXIT\n200 EXIT\n",
         {102, 103, 102, 103, 200}, nullptr, false, 1},
        {"NT key refused", nt351(),
         [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SYSTEM\\Setup"); },
         "2300 CONTINUE\n", {2300}, "error CopyPSDriverFiles -- Couldn't open dist. path key, Error = 5"},
        {"NT value not text", nt351(), [](Harness&) {
             HKEY key;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
             DWORD v = 1;
             RegSetValueExA(key, "WinntPath", 0, REG_DWORD, (const BYTE*)&v, 4);
             RegCloseKey(key);
         }, "2300 CONTINUE\n", {2300}, "error CopyPSDriverFiles -- Couldn't read dist. path, Error = 13"},
        {"Windows 95 key missing", win95(),
         [](Harness&) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup"); },
         "2300 CONTINUE\n", {2300}, "error CopyPSDriverFiles -- Couldn't open dist. path key, Error = 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h(row.os);
        h.writeFile("E:\\WIN95\\extract.exe");
        row.prepare(h);
        ChildResult r = h.run(row.answers, [] {
            startupState();
            DWORD version = 0;  // nothing at hand: each platform's search fetches the modules
            if (::Setup.IsWindows95) setupForPPDInstallWin95(&version);
            else if (::Setup.IsNT31) setupForPPDInstallNT31(&version);
            else setupForPPDInstallNT35(&version);
        });
        EXPECT_EQ(r.value("returned"), row.fetched ? "1" : "") << r.output;
        EXPECT_EQ(r.pages(), row.pages);
        EXPECT_EQ(r.lines("error"), row.error ? Lines{row.error} : Lines{});
        EXPECT_EQ(r.lines("program").size(), row.programs);
        EXPECT_EQ(std::filesystem::exists(h.host(driverDir() + "\\pscrptui.dll")), row.fetched);
    }
}

// --- The cabinet tool ---------------------------------------------------------

// The tool is started only when it and the cabinet are there, with the
// companion files the destination lacks; a trailing backslash is not
// doubled. The wait polls the target 41 times at most, and when the target
// came waits a settling pause, under the status page and the wait cursor.
TEST(ExtractWin95DriverFiles, StartsTheToolAndWaitsForTheTarget) {
    const std::string sys = "C:\\WINDOWS\\SYSTEM";
    const struct {
        const char* what; const char* dist; bool tool, cabinet, companions, target; std::string program;
        const char* result;
        const char* waited;  // virtual milliseconds
    } rows[] = {
        {"no tool", "E:\\WIN95", false, true, false, false, "", "0", "0"},
        {"no cabinet", "E:\\WIN95", true, false, false, false, "", "0", "0"},
        {"nothing delivered", "E:\\WIN95\\", true, true, false, false,
         "program E:\\WIN95\\extract.exe /Y /A /L " + sys +
             " E:\\WIN95\\win95_02.cab pscript.* iconlib.dll testps.txt apple380.spd",
         "0", "20500"},
        {"target at the first poll", "E:\\WIN95", true, true, true, true,
         "program E:\\WIN95\\extract.exe /Y /A /L " + sys + " E:\\WIN95\\win95_02.cab pscript.*", "1", "25000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h(win95());
        std::filesystem::remove(h.host("E:\\WIN95\\extract.exe"));
        std::filesystem::remove(h.host("E:\\WIN95\\win95_02.cab"));
        if (row.tool) h.writeFile("E:\\WIN95\\extract.exe");
        if (row.cabinet) h.writeFile("E:\\WIN95\\win95_02.cab", "not a cabinet\n");
        h.writeFile(sys + "\\fonts.mfm");
        if (row.companions)
            for (const char* f : {"iconlib.dll", "testps.txt", "apple380.spd"}) h.writeFile(sys + "\\" + f);
        if (row.target) h.writeFile(sys + "\\pscript.drv");
        std::string dist = row.dist;
        ChildResult r = h.run("", [dist] {
            startupState();
            std::uint64_t start = winsim::now();
            report("result=%d", ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir));
            report("waited=%llu", (unsigned long long)(winsim::now() - start));
        });
        EXPECT_EQ(r.lines("program"), row.program.empty() ? Lines{} : Lines{row.program}) << r.output;
        EXPECT_EQ(r.value("result"), row.result);
        EXPECT_EQ(r.value("waited"), row.waited);
        EXPECT_EQ(r.lines("s"), row.program.empty() ? Lines{}
                                                    : (Lines{"status 7804 Copying Postscript Driver File: Please wait "
                                                             "while we copy all necessary PostScript driver files.",
                                                             "shown 7804 FStatusDlgProc help 0 cursor wait",
                                                             "status 7804 end"}));
    }
}

// Paths that do not fit their buffers fail the operation instead of being
// cut to another file's name.
TEST(DriverFilePaths, PathsThatDoNotFitFailTheOperation) {
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
    ChildResult r = h.run("", [] {
        startupState();
        report("%d", ExtractWin95DriverFiles("pscript.drv", ("E:\\" + std::string(300, 'd')).c_str(), ::Setup.DriverDir));
        report("%d", ExtractWin95DriverFiles("pscript.drv", "E:\\WIN95", ("C:\\" + std::string(600, 'p')).c_str()));
        report("%d", InstallDriverFile(std::string(300, 'f').c_str(), "E:\\I386", "C:\\x"));
        report("%u", (unsigned)GetLastError());
    });
    EXPECT_EQ(r.report, (Lines{"0", "0", "0", std::to_string(ERROR_FILENAME_EXCED_RANGE), "returned=1"})) << r.output;
    EXPECT_TRUE(r.lines("program").empty());
}

// --- Printer drivers ------------------------------------------------------------

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

// A distribution whose "PPD Files" holds the given (key, file) pairs, and
// the driver modules of the platform.
void ppdInf(Harness& h, const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string inf = "[PPD Files]\n";
    for (const auto& [key, file] : keys) {
        inf += infLine(key, file, 10);
        h.writeFile("C:\\dist\\" + file, "*PPD " + key + "\n");
    }
    h.setInf(inf);
    if (winsim::machine().os.isNT()) putNtModules(h);
    else h.writeFile(winsim::machine().systemDir + "\\pscript.drv");
}

// Runs InstallPrinterDrivers and RenameObsoleteDrivers as Install does
// (record filled, PPD files in DriverDir as the copy list left them) and
// reports drivers and printers.
ChildResult installDrivers(Harness& h, const std::string& answers = "") {
    return h.run(answers, [] {
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
        report("added=%u", winsim::machine().callCounts["AddPrinterDriverA"]);
        report("set=%u", winsim::machine().callCounts["SetPrinterA"]);
    });
}

std::vector<std::string> driverNames(const ChildResult& r) {
    std::vector<std::string> out;
    for (const auto& l : r.reported("driver ")) out.push_back(l.substr(7, l.find('|') - 7));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(InstallPrinterDrivers, Nt35AddsOneDriverPerKeyAndDropsThePpdCopies) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "a.ppd"}, {"Varden LaserStream 1200/Japanese", "b.ppd"}});
    ChildResult r = installDrivers(h);
    EXPECT_EQ(r.reported("driver "), (Lines{"driver Varden LaserStream 1200/Japanese|b.ppd|1",
                                            "driver Varden LaserStream 600|a.ppd|1"}))
        << r.output;
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_FALSE(std::filesystem::exists(h.host(driverDir() + "\\a.ppd")));
    EXPECT_TRUE(std::filesystem::exists(h.host(driverDir() + "\\1\\a.ppd")));
}

TEST(InstallPrinterDrivers, Windows95MapsLongNamesAndAddsNetDrivers) {
    Harness h(win95());
    ppdInf(h, {{"varden laserstream 1200/JAPANESE", "a.ppd"},   // first table, any letter case
               {"Varden LineStream 2400 32 MB RAM", "b.ppd"},   // both tables: two drivers
               {"Varden DeskStream 800", "c.ppd"},              // network table only
               {"Varden LaserStream 400", "d.ppd"}});           // neither: its own name
    ChildResult r = installDrivers(h);
    EXPECT_EQ(driverNames(r), (Lines{"Varden DeskStream 800", "Varden DeskStream 800/Net", "Varden LaserStream 1200/J",
                                     "Varden LaserStream 400", "Varden LineStream 2400",
                                     "Varden LineStream 2400 32MB/Net"}))
        << r.output;
    EXPECT_TRUE(r.hasReport("driver Varden LineStream 2400 32MB/Net|b.ppd|1"));
    // Windows 95 keeps the PPD files where they are.
    EXPECT_TRUE(std::filesystem::exists(h.host(winsim::machine().systemDir + "\\a.ppd")));
}

// An empty section adds nothing; a refused driver is reported by the name
// used and the next follows; a key too long for its buffer ends setup.
TEST(InstallPrinterDrivers, EmptySectionRefusalsAndOverflow) {
    Harness h;
    h.setInf("[PPD Files]\n");
    putNtModules(h);
    ChildResult r = installDrivers(h);
    EXPECT_TRUE(r.reported("driver ").empty()) << r.output;
    EXPECT_EQ(r.value("added"), "0");

    Harness h95(win95());
    ppdInf(h95, {{"Varden LaserStream 1200/Japanese", "a.ppd"}, {"Varden LaserStream 400", "b.ppd"}});
    failNext("AddPrinterDriverA", 1, ERROR_ACCESS_DENIED);
    r = installDrivers(h95);
    EXPECT_EQ(r.lines("box"), Lines{"box Install: AddPrinterDriver (Varden LaserStream 1200/J)failed error = 5"});
    EXPECT_EQ(driverNames(r), Lines{"Varden LaserStream 400"});

    Harness hLong;
    ppdInf(hLong, {{std::string(64, 'k'), "a.ppd"}});
    r = installDrivers(hLong, "2300 CONTINUE\n");
    EXPECT_TRUE(r.reported("driver ").empty());
    expectToolkitError(r, 1024, {"box MS-Setup Error: Buffer Overflow"});
}

// --- A driver in use --------------------------------------------------------

// The printers of a driver in use are parked on another printer's driver and
// come back resumed on the new one; when the driver cannot be added again
// they print on the parking driver and the failure is reported; nothing
// changes when every printer uses the driver.
TEST(ReplaceInstalledDriver, PrintersAreParkedAndComeBack) {
    const struct { const char* what; bool other, reAddFails; Lines printers, boxes; const char* driver; } rows[] = {
        {"re-added", true, false,
         {"printer Office|Varden LaserStream 600|running", "printer Hall|Other|running",
          "printer Lab|Varden LaserStream 600|running"}, {}, "driver Varden LaserStream 600|new.ppd|1"},
        {"re-add fails", true, true,
         {"printer Office|Other|running", "printer Hall|Other|running", "printer Lab|Other|running"},
         {"box Install: AddPrinterDriver (Varden LaserStream 600)failed error = 8"}, nullptr},
        {"no other driver", false, false,
         {"printer Office|Varden LaserStream 600|running", "printer Lab|Varden LaserStream 600|running"}, {},
         "driver Varden LaserStream 600|old.ppd|1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h;
        ppdInf(h, {{"Varden LaserStream 600", "new.ppd"}});
        defineDriver("Varden LaserStream 600", "old.ppd");
        definePrinter("Office", "Varden LaserStream 600");
        if (row.other) {
            defineDriver("Other", "other.ppd");
            definePrinter("Hall", "Other");
        }
        definePrinter("Lab", "Varden LaserStream 600");
        // The first add meets the driver in use; the second is the re-add.
        if (row.reAddFails) {
            failNext("AddPrinterDriverA", 1, ERROR_NOT_ENOUGH_MEMORY);
            h.machine().faults.back().nth += 1;
        }
        ChildResult r = installDrivers(h);
        Lines printers = r.reported("printer ");
        std::sort(printers.begin(), printers.end());
        Lines expected = row.printers;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(printers, expected) << r.output;
        EXPECT_EQ(r.lines("box"), row.boxes);
        if (row.driver) {
            EXPECT_TRUE(r.hasReport(row.driver));
        }
        EXPECT_EQ(r.value("set") == "0", !row.other);
        EXPECT_FALSE(std::filesystem::exists(h.host(driverDir() + "\\new.ppd")));
    }
}

// --- Earlier releases' names --------------------------------------------------

TEST(RenameObsoleteDrivers, PrintersMoveToCurrentNamesAndOldDriversGo) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "a.ppd"}, {"Varden LaserStream 1200 Level2 16MB", "b.ppd"}});
    for (const char* old : {"Varden LaserStream 600 v48.3", "Varden LaserStream 1200 Level2 16 MB v2013",
                            "varden laserstream 600 v2013", "Varden DeskStream 1600 v48.3"})
        defineDriver(old, "old.ppd");
    definePrinter("A", "Varden LaserStream 600 v48.3");
    definePrinter("B", "Varden LaserStream 1200 Level2 16 MB v2013");
    definePrinter("C", "varden laserstream 600 v2013");  // differs in case: not moved
    definePrinter("D", "Varden DeskStream 1600 v48.3");  // cannot be opened: stays
    failNext("OpenPrinterA", 0, ERROR_ACCESS_DENIED, "D");
    ChildResult r = installDrivers(h);
    Lines printers = r.reported("printer ");
    std::sort(printers.begin(), printers.end());
    EXPECT_EQ(printers, (Lines{"printer A|Varden LaserStream 600|running",
                               "printer B|Varden LaserStream 1200 Level2 16MB|running",
                               "printer C|varden laserstream 600 v2013|running",
                               "printer D|Varden DeskStream 1600 v48.3|running"}))
        << r.output;
    // The old drivers go unless a printer still uses them.
    EXPECT_EQ(driverNames(r), (Lines{"Varden DeskStream 1600 v48.3", "Varden LaserStream 1200 Level2 16MB",
                                     "Varden LaserStream 600", "varden laserstream 600 v2013"}));
}

}  // namespace
