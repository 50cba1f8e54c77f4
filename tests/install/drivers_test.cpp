// PostScript driver modules (found in the driver directory, copied up from
// the NT 3.5x spooler's version subdirectory, or fetched from the Windows
// distribution: path page, cabinet tool and its wait, failure page, and the
// fatal rows of a distribution path that cannot be read), and the printer
// drivers: refusals, drivers in use, drivers of earlier releases. (One
// driver per key, the Windows 95 names and "/Net" drivers are checked by the
// installation scenarios.)
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

const char* const kUnreadable = "error CopyPSDriverFiles -- Couldn't read dist. path, Error = 2";

// NT 3.5x: the modules where they are found (the driver directory wins over
// a version folder), the version the subdirectory name gives, and no page
// while they are at hand. Names starting with a dot (not names holding one)
// and directories with other attributes than the directory bit are not
// searched: the modules are then fetched, here from a distribution path
// that cannot be read.
TEST(SetupForPPDInstall, Nt35FindsTheModulesAndTheirVersion) {
    const struct { std::string sub; bool readOnly; const char* outcome; } rows[] = {
        {"", false, "done 1"}, {"1", false, "done 1"}, {"0", false, "done 0"}, {"2.0", false, "done 2"},
        {"x", false, "failed 0"}, {".5", false, kUnreadable}, {"2", true, kUnreadable}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sub);
        Harness h;
        putNtModules(h, row.sub);
        if (row.sub.empty()) putNtModules(h, "7");
        ChildResult r = h.run("2300 CONTINUE\n", [&row] {
            startupState();
            if (row.readOnly)
                winsim::machine().files->meta[driverDir() + "\\" + row.sub].attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
            if (row.outcome[0] == 'e') {
                HKEY key;
                RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
                RegDeleteValueA(key, "WinntPath");
            }
            DWORD version = 77;
            dirtyStack();
            DWORD status = setupForPPDInstallNT35(&version);
            report("%s %u", stsSucceeded(status) ? "done" : "failed", (unsigned)version);
        });
        EXPECT_EQ(r.report.empty() ? r.lines("error") : Lines{r.report[0]}, Lines{row.outcome}) << r.output;
        if (row.outcome[0] != 'e') {
            EXPECT_TRUE(r.pages().empty()) << "no page when the modules are at hand";
            EXPECT_TRUE(fs::exists(h.host(driverDir() + "\\pscript.dll")) && fs::exists(h.host(driverDir() + "\\pscrptui.dll")));
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
        winsim::OsInfo os; void (*prepare)(Harness&); const char* answers; const char* error; bool fetched = false;
        std::size_t programs = 0;
    } rows[] = {
        {nt31(), [](Harness& h) { h.writeFile("C:\\i386\\pscript.dll"); h.writeFile("C:\\i386\\pscrptui.dll"); },
         "1100 CONTINUE EditTextOut=C:\\i386\n", nullptr, true},
        {nt351(), [](Harness& h) { h.writeFile("C:\\i386\\pscript.dll"); },
         "1100 CONTINUE EditTextOut=C:\\i386\n1300 CONTINUE\n1100 CONTINUE EditTextOut=C:\\i386\n1300 EXIT\n200 EXIT\n", nullptr},
        {win95(), [](Harness& h) { h.writeFile("E:\\WIN95\\win95_02.cab", "not a cabinet\n"); },
         "102 CONTINUE\n103 CONTINUE\n102 CONTINUE EditTextOut=\"C:\\dist\"\n103 EXIT\n200 EXIT\n", nullptr, false, 1},
        {nt351(), [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SYSTEM\\Setup"); },
         "2300 CONTINUE\n", "error CopyPSDriverFiles -- Couldn't open dist. path key, Error = 5"},
        {nt351(), [](Harness&) {
             HKEY key;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
             DWORD v = 1;
             RegSetValueExA(key, "WinntPath", 0, REG_DWORD, (const BYTE*)&v, 4);
             RegCloseKey(key);
         }, "2300 CONTINUE\n", "error CopyPSDriverFiles -- Couldn't read dist. path, Error = 13"},
        {win95(), [](Harness&) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup"); },
         "2300 CONTINUE\n", "error CopyPSDriverFiles -- Couldn't open dist. path key, Error = 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answers);
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
        EXPECT_EQ(r.pages(), r.answered);
        EXPECT_EQ(r.lines("error"), row.error ? Lines{row.error} : Lines{});
        EXPECT_EQ(r.lines("program").size(), row.programs);
        EXPECT_EQ(fs::exists(h.host(driverDir() + "\\pscrptui.dll")), row.fetched);
    }
}

// The cabinet tool is started only when it and the cabinet are there, with
// the companion files the destination lacks; a trailing backslash is not
// doubled. The wait polls the target 41 times at most, and when the target
// came waits a settling pause, under the status page and the wait cursor.
TEST(ExtractWin95DriverFiles, StartsTheToolAndWaitsForTheTarget) {
    const std::string tool = "program E:\\WIN95\\extract.exe /Y /A /L C:\\WINDOWS\\SYSTEM E:\\WIN95\\win95_02.cab pscript.*";
    const struct { const char* dist; bool tool, cabinet, companions; std::string program; const char* outcome; } rows[] = {
        {"E:\\WIN95", false, true, false, "", "0 0"},  // result, virtual ms
        {"E:\\WIN95", true, false, false, "", "0 0"},
        {"E:\\WIN95\\", true, true, false, tool + " iconlib.dll testps.txt apple380.spd", "0 20500"},  // nothing delivered
        {"E:\\WIN95", true, true, true, tool, "1 25000"},  // the target at the first poll
    };
    const Lines status{"status 7804 Copying Postscript Driver File: Please wait while we copy all necessary PostScript driver "
                       "files.", "shown 7804 FStatusDlgProc help 0 cursor wait", "status 7804 end"};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.program + row.outcome);
        Harness h(win95());
        const std::string sys = h.machine().systemDir;
        fs::remove(h.host("E:\\WIN95\\extract.exe"));
        fs::remove(h.host("E:\\WIN95\\win95_02.cab"));
        if (row.tool) h.writeFile("E:\\WIN95\\extract.exe");
        if (row.cabinet) h.writeFile("E:\\WIN95\\win95_02.cab", "not a cabinet\n");
        for (const char* f : {"fonts.mfm", "iconlib.dll", "testps.txt", "apple380.spd", "pscript.drv"})
            if (row.companions || f[0] == 'f') h.writeFile(sys + "\\" + f);
        std::string dist = row.dist;
        ChildResult r = h.run("", [dist] {
            startupState();
            std::uint64_t start = winsim::now();
            int result = ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir);
            report("%d %llu", result, (unsigned long long)(winsim::now() - start));
        });
        EXPECT_EQ(r.report, (Lines{row.outcome, "returned=1"})) << r.output;
        EXPECT_EQ(r.lines("program"), row.program.empty() ? Lines{} : Lines{row.program});
        EXPECT_EQ(r.lines("s"), row.program.empty() ? Lines{} : status);
    }
}

// Paths that do not fit their buffers fail the operation instead of being
// cut to another file's name (a distribution path that leaves room for the
// tool's name but not for the cabinet's, whose cut name is there too). A
// module in place with a newer version stays.
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
    ChildResult r = h.run("", [dist] {
        startupState();
        report("%d", ExtractWin95DriverFiles("pscript.drv", ("E:\\" + std::string(300, 'd')).c_str(), ::Setup.DriverDir));
        report("%d", ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir));
        report("%d", ExtractWin95DriverFiles("pscript.drv", "E:\\WIN95", ("C:\\" + std::string(600, 'p')).c_str()));
        for (std::string name : {std::string(300, 'f'), std::string("pscript.dll")}) {
            int ok = InstallDriverFile(name.c_str(), "E:\\I386", "C:\\x");
            report("%d %u", ok, (unsigned)GetLastError());
        }
    });
    EXPECT_EQ(r.report, (Lines{"0", "0", "0", "0 " + std::to_string(ERROR_FILENAME_EXCED_RANGE), "0 266", "returned=1"}))
        << r.output;  // 266: cannot copy
    EXPECT_TRUE(r.lines("program").empty());
    EXPECT_EQ(readLines(h.host("C:\\x\\pscript.dll")), Lines{"newer"});
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

// An empty section adds nothing; a refused driver is reported by the name
// used and the next follows; a key too long for its buffer ends setup. A
// driver in use that cannot be added again leaves its printers on the
// parking driver (another printer's) with the failure reported; nothing is
// parked when every printer uses the driver (parking and coming back is
// walked by the upgrade scenarios). Printers on an earlier release's names
// move to the current ones (names match in letter case only; a printer that
// cannot be opened stays) and the old drivers go unless still used.
// InstallPrinterDrivers and RenameObsoleteDrivers run as Install runs them
// (record filled, PPD files in DriverDir as the copy list left them); the
// state after is the drivers, printers (each sorted), boxes and calls.
TEST(InstallPrinterDrivers, DriversPrintersAndRefusals) {
    const std::string ls600 = "Varden LaserStream 600";
    const struct {
        bool windows95; std::vector<std::pair<std::string, std::string>> keys; void (*prepare)(Harness&); Lines state;
    } rows[] = {
        {false, {}, [](Harness&) {}, {"calls added=0 set=0"}},
        {true, {{"Varden LaserStream 1200/Japanese", "a.ppd"}, {"Varden LaserStream 400", "b.ppd"}},
         [](Harness&) { failNext("AddPrinterDriverA", 1, ERROR_ACCESS_DENIED); },
         {"calls added=2 set=0", "driver Varden LaserStream 400|b.ppd|1",
          "box Install: AddPrinterDriver (Varden LaserStream 1200/J)failed error = 5"}},
        {false, {{std::string(64, 'k'), "a.ppd"}}, [](Harness&) {},
         {"error Error code = 1024", "box MS-Setup Error: Buffer Overflow"}},
        {false, {{ls600, "new.ppd"}}, [](Harness& h) {
             defineDriver("Varden LaserStream 600", "old.ppd");
             defineDriver("Other", "other.ppd");
             for (auto [p, d] : {std::pair{"Office", "Varden LaserStream 600"}, {"Hall", "Other"}, {"Lab", "Varden LaserStream 600"}})
                 definePrinter(p, d);
             failNext("AddPrinterDriverA", 1, ERROR_NOT_ENOUGH_MEMORY);  // the re-add, after the one meeting the use
             h.machine().faults.back().nth += 1;
         },
         {"calls added=2 set=6", "driver Other|other.ppd|1", "printer Hall|Other|running", "printer Lab|Other|running",
          "printer Office|Other|running", "box Install: AddPrinterDriver (Varden LaserStream 600)failed error = 8"}},
        {false, {{ls600, "new.ppd"}}, [](Harness&) {
             defineDriver("Varden LaserStream 600", "old.ppd");
             definePrinter("Office", "Varden LaserStream 600");
             definePrinter("Lab", "Varden LaserStream 600");
         },
         {"calls added=1 set=0", "driver Varden LaserStream 600|old.ppd|1", "printer Lab|Varden LaserStream 600|running",
          "printer Office|Varden LaserStream 600|running"}},
        {false, {{ls600, "a.ppd"}, {"Varden LaserStream 1200 Level2 16MB", "b.ppd"}}, [](Harness&) {
             for (const char* old : {"Varden LaserStream 600 v48.3", "Varden LaserStream 1200 Level2 16 MB v2013",
                                     "varden laserstream 600 v2013", "Varden DeskStream 1600 v48.3"})
                 defineDriver(old, "old.ppd");
             definePrinter("A", "Varden LaserStream 600 v48.3");
             definePrinter("B", "Varden LaserStream 1200 Level2 16 MB v2013");
             definePrinter("C", "varden laserstream 600 v2013");
             definePrinter("D", "Varden DeskStream 1600 v48.3");
             failNext("OpenPrinterA", 0, ERROR_ACCESS_DENIED, "D");
         },
         {"calls added=2 set=2", "driver Varden DeskStream 1600 v48.3|old.ppd|1",
          "driver Varden LaserStream 1200 Level2 16MB|b.ppd|1", "driver Varden LaserStream 600|a.ppd|1",
          "driver varden laserstream 600 v2013|old.ppd|1", "printer A|Varden LaserStream 600|running",
          "printer B|Varden LaserStream 1200 Level2 16MB|running", "printer C|varden laserstream 600 v2013|running",
          "printer D|Varden DeskStream 1600 v48.3|running"}},
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
        ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
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
        Lines state = r.lines("error ");  // the error, the sorted report, the boxes
        Lines reported = r.report;
        std::sort(reported.begin(), reported.end());
        state.insert(state.end(), reported.begin(), reported.end());
        for (const auto& line : r.lines("box ")) state.push_back(line);
        EXPECT_EQ(state, row.state) << r.output;
        EXPECT_TRUE(withPrefix(r.report, "driver ").empty() || !fs::exists(h.host(driverDir() + "\\new.ppd")));
    }
}

}  // namespace
