// Printer drivers: one per key of "PPD Files" (names mapped on Windows 95,
// "/Net" drivers added), drivers in use replaced through parking, drivers
// of earlier releases renamed; every refusal reported as the tables say.
#include <gtest/gtest.h>

#include <algorithm>

#include "install/driverrename.h"
#include "install/fixture.h"
#include "install/printerdrivers.h"

namespace {

using namespace installtest;

// A distribution whose "PPD Files" holds the given keys (key, file).
void ppdInf(Harness& h, const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string inf = "[PPD Files]\n";
    for (const auto& [key, file] : keys) {
        inf += harness::infLine(key, file, 10);
        h.writeFile("C:\\dist\\" + file, "*PPD " + key + "\n");
    }
    h.setInf(inf);
}

// Runs InstallPrinterDrivers as Install does (record filled, PPD files in
// DriverDir as the copy list left them) and reports drivers and printers.
ChildResult installDrivers(Harness& h, const std::string& answers = "") {
    return h.run(answers, [](LPSTR) {
        startupState();
        // The copy list put the PPD files into DriverDir.
        TkResetCopyList();
        TkAddSectionFiles("PPD Files", ::Setup.CopySourceDir, ::Setup.DriverDir);
        TkCopyFiles();
        DRIVER_INFO_2A record{};
        record.cVersion = 1;
        char name[DRIVER_NAME_SIZE];
        char ppd[PPD_NAME_SIZE];
        FillDriverRecord(&record, name, ppd);
        InstallPrinterDrivers(&record);
        RenameObsoleteDrivers(&record);
        reportDrivers();
        reportPrinters();
        return 0;
    });
}

std::vector<std::string> driverNames(const ChildResult& r) {
    std::vector<std::string> out;
    for (const auto& l : reported(r, "driver ")) out.push_back(l.substr(7, l.find('|') - 7));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(InstallPrinterDrivers, Nt35AddsOneDriverPerKeyAndDropsThePpdCopies) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "a.ppd"}, {"Varden LaserStream 1200/Japanese", "b.ppd"}});
    putNtModules(h);
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(reported(r, "driver "), (std::vector<std::string>{"driver Varden LaserStream 1200/Japanese|b.ppd|1",
                                                                 "driver Varden LaserStream 600|a.ppd|1"}));
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_FALSE(fs::exists(h.host(driverDir() + "\\a.ppd")));
    EXPECT_TRUE(fs::exists(h.host(driverDir() + "\\1\\a.ppd")));
}

TEST(InstallPrinterDrivers, Windows95MapsLongNamesAndAddsNetDrivers) {
    Harness h(harness::win95());
    ppdInf(h, {{"varden laserstream 1200/JAPANESE", "a.ppd"},   // first table, any letter case
               {"Varden LineStream 2400 32 MB RAM", "b.ppd"},   // both tables: two drivers
               {"Varden DeskStream 800", "c.ppd"},              // network table only
               {"Varden LaserStream 400", "d.ppd"}});           // neither: its own name
    put(h, winsim::machine().systemDir + "\\pscript.drv");
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(driverNames(r), (std::vector<std::string>{"Varden DeskStream 800", "Varden DeskStream 800/Net",
                                                         "Varden LaserStream 1200/J", "Varden LaserStream 400",
                                                         "Varden LineStream 2400", "Varden LineStream 2400 32MB/Net"}));
    EXPECT_TRUE(hasReport(r, "driver Varden LineStream 2400 32MB/Net|b.ppd|1"));
    // Windows 95 keeps the PPD files where they are.
    EXPECT_TRUE(fs::exists(h.host(winsim::machine().systemDir + "\\a.ppd")));
}

TEST(InstallPrinterDrivers, EmptySectionAddsNothing) {
    Harness h;
    h.setInf("[PPD Files]\n");
    putNtModules(h);
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(reported(r, "driver ").empty());
    EXPECT_EQ(winsim::machine().callCounts["AddPrinterDriverA"], 0u);
}

TEST(InstallPrinterDrivers, RefusedDriverIsReportedByTheNameUsedAndTheNextFollows) {
    Harness h(harness::win95());
    ppdInf(h, {{"Varden LaserStream 1200/Japanese", "a.ppd"}, {"Varden LaserStream 400", "b.ppd"}});
    put(h, winsim::machine().systemDir + "\\pscript.drv");
    failNext("AddPrinterDriverA", 1, ERROR_ACCESS_DENIED);
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Install: AddPrinterDriver (Varden LaserStream 1200/J)failed error = 5"}));
    EXPECT_EQ(driverNames(r), (std::vector<std::string>{"Varden LaserStream 400"}));
}

TEST(InstallPrinterDrivers, KeyTooLongForItsBufferEndsSetup) {
    Harness h;
    ppdInf(h, {{std::string(64, 'k'), "a.ppd"}});
    putNtModules(h);
    ChildResult r = installDrivers(h, "2300 CONTINUE\n");
    EXPECT_TRUE(reported(r, "driver ").empty());
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box MS-Setup Error: Buffer Overflow"}));
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
}

// --- A driver in use --------------------------------------------------------

TEST(ReplaceInstalledDriver, PrintersAreParkedAndComeBackResumedOnTheNewDriver) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "new.ppd"}});
    putNtModules(h);
    defineDriver("Varden LaserStream 600", "old.ppd");
    defineDriver("Other", "other.ppd");
    definePrinter("Office", "Varden LaserStream 600");
    definePrinter("Hall", "Other");
    definePrinter("Lab", "Varden LaserStream 600");
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(hasReport(r, "driver Varden LaserStream 600|new.ppd|1")) << r.output;
    EXPECT_TRUE(hasReport(r, "printer Office|Varden LaserStream 600|running"));
    EXPECT_TRUE(hasReport(r, "printer Lab|Varden LaserStream 600|running"));
    EXPECT_TRUE(hasReport(r, "printer Hall|Other|running"));
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_FALSE(fs::exists(h.host(driverDir() + "\\new.ppd")));
}

// The driver cannot be added again: the printers do not stay paused, they
// print on the parking driver, and the failure is reported.
TEST(ReplaceInstalledDriver, FailedReAddResumesThePrintersAndReportsIt) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "new.ppd"}});
    putNtModules(h);
    defineDriver("Varden LaserStream 600", "old.ppd");
    defineDriver("Other", "other.ppd");
    definePrinter("Hall", "Other");
    definePrinter("Office", "Varden LaserStream 600");
    // The first add meets the driver in use; the second is the re-add.
    failNext("AddPrinterDriverA", 1, ERROR_NOT_ENOUGH_MEMORY);
    winsim::machine().faults.back().nth += 1;
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(hasReport(r, "printer Office|Other|running")) << r.output;
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Install: AddPrinterDriver (Varden LaserStream 600)failed error = 8"}));
}

TEST(ReplaceInstalledDriver, NothingChangesWhenEveryPrinterUsesTheDriver) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "new.ppd"}});
    putNtModules(h);
    defineDriver("Varden LaserStream 600", "old.ppd");
    definePrinter("Office", "Varden LaserStream 600");
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(hasReport(r, "driver Varden LaserStream 600|old.ppd|1")) << r.output;
    EXPECT_TRUE(hasReport(r, "printer Office|Varden LaserStream 600|running"));
    EXPECT_EQ(winsim::machine().callCounts["SetPrinterA"], 0u);
}

// --- Earlier releases' names --------------------------------------------------

TEST(RenameObsoleteDrivers, PrintersMoveToCurrentNamesAndOldDriversGo) {
    Harness h;
    ppdInf(h, {{"Varden LaserStream 600", "a.ppd"}, {"Varden LaserStream 1200 Level2 16MB", "b.ppd"}});
    putNtModules(h);
    for (const char* old : {"Varden LaserStream 600 v48.3", "Varden LaserStream 1200 Level2 16 MB v2013",
                            "varden laserstream 600 v2013", "Varden DeskStream 1600 v48.3"})
        defineDriver(old, "old.ppd");
    definePrinter("A", "Varden LaserStream 600 v48.3");
    definePrinter("B", "Varden LaserStream 1200 Level2 16 MB v2013");
    definePrinter("C", "varden laserstream 600 v2013");  // differs in case: not moved
    definePrinter("D", "Varden DeskStream 1600 v48.3");  // cannot be opened: stays
    failNext("OpenPrinterA", 0, ERROR_ACCESS_DENIED, "D");
    ChildResult r = installDrivers(h);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(hasReport(r, "printer A|Varden LaserStream 600|running")) << r.output;
    EXPECT_TRUE(hasReport(r, "printer B|Varden LaserStream 1200 Level2 16MB|running"));
    EXPECT_TRUE(hasReport(r, "printer C|varden laserstream 600 v2013|running"));
    EXPECT_TRUE(hasReport(r, "printer D|Varden DeskStream 1600 v48.3|running"));
    auto names = driverNames(r);
    auto has = [&](const char* n) { return std::find(names.begin(), names.end(), n) != names.end(); };
    EXPECT_FALSE(has("Varden LaserStream 600 v48.3"));
    EXPECT_FALSE(has("Varden LaserStream 1200 Level2 16 MB v2013"));
    EXPECT_TRUE(has("varden laserstream 600 v2013"));  // in use by C
    EXPECT_TRUE(has("Varden DeskStream 1600 v48.3"));  // in use by D
}

}  // namespace
