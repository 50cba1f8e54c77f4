// The installation-type page, the destination-path page and the
// distribution-path page: figures, space rules, directory creation and
// the length limits of the typed paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "install/copylist.h"
#include "pages/pages.h"
#include "setup/harness.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/ui/state.h"

using harness::ChildResult;
using harness::Harness;
using harness::sectionSize;

namespace {

const char* const kNoSpaceBox =
    "box Insufficient Disk Space: The system drive does not have enough space to perform the installation.";
const char* const kOtherDriveBox =
    "box Insufficient Disk Space: The specified drive does not have enough space to perform the installation.";

// Figures of the sample INF on NT x86.
std::uint32_t systemDriveBytes() {
    return sectionSize("PPD Files") + sectionSize("NT Help File") + sectionSize("I386 Monitor");
}
std::uint32_t utilityBytes() {
    return sectionSize("Write Files") + sectionSize("I386 Wizard") + sectionSize("Orvel") +
           sectionSize("Remote Console") + sectionSize("Wizard") + sectionSize("VB Common");
}
std::uint32_t loadBytes() {
    return sectionSize("Load PS Files") + sectionSize("Load Cat Files") + sectionSize("Load Sys Files");
}

std::string kb(std::uint32_t bytes, int width = 6) {
    char text[32];
    std::snprintf(text, sizeof text, "%*u Kb", width, bytes >> 10);
    return text;
}

// State a page finds after start-up on NT 3.51 x86 with the sample INF.
void prepareState() {
    TkOpenInf("C:\\dist\\setup.inf");
    ::Setup.IsX86 = TRUE;
    std::strcpy(::Setup.SystemDir, "C:\\WINNT35\\system32");
    std::strcpy(::Setup.InstallRoot, "C:\\win32app\\vrdpsmon");
    std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
    ComputeSectionSizes();
}

void reportState() {
    harness::report("returned=1");
    harness::report("type=%d", (int)::Setup.InstallType);
    harness::report("done=%d", (int)::Setup.PageDone);
    harness::report("root=%s", ::Setup.InstallRoot);
}

template <class F>
ChildResult runPage(Harness& h, const std::string& answers, F page) {
    return h.run(answers, [page](LPSTR) {
        prepareState();
        page();
        reportState();
        return 0;
    });
}

// --- Installation type -------------------------------------------------------

TEST(InstallTypePage, FiguresAreRightAlignedKilobytes) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = h.run("800 CONTINUE ButtonChecked=3\n", [](LPSTR) {
        prepareState();
        InstallTypePage();
        char value[32];
        harness::report("printonly=%s", TkGetSymbol("SysSpacePrintOnlyKb", value, sizeof value));
        harness::report("both=%s", TkGetSymbol("SysSpaceBothKb", value, sizeof value));
        harness::report("other=%s", TkGetSymbol("SysOtherSpaceKb", value, sizeof value));
        reportState();
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("printonly"), kb(utilityBytes() + systemDriveBytes()));
    EXPECT_EQ(r.value("both"), kb(systemDriveBytes()));
    EXPECT_EQ(r.value("other"), kb(loadBytes() + utilityBytes()));
    EXPECT_EQ(r.value("both"), "    19 Kb");
    EXPECT_EQ(r.value("type"), "4");
    EXPECT_EQ(r.value("done"), "1");
}

TEST(InstallTypePage, FiguresBelowOneKilobyteShowZero) {
    Harness h;
    std::string inf;
    for (const char* section : harness::kSections)
        inf += std::string("[") + section + "]\n" +
               harness::infLine(section, "x.dat", std::string(section) == "PPD Files" ? 1023 : 0);
    h.setInf(inf);
    ChildResult r = h.run("800 CONTINUE ButtonChecked=3\n", [](LPSTR) {
        prepareState();
        InstallTypePage();
        char value[32];
        harness::report("both=%s", TkGetSymbol("SysSpaceBothKb", value, sizeof value));
        return 0;
    });
    EXPECT_EQ(r.value("both"), "     0 Kb");
}

TEST(InstallTypePage, TooLittleSpaceShowsTheBoxAndThePageAgain) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.setFree('C', utilityBytes() + systemDriveBytes() - 1);
    ChildResult r = runPage(h, "800 CONTINUE ButtonChecked=1\n800 CONTINUE ButtonChecked=3\n", [] {
        // Something changes the preselection while the box is up; the page
        // must preselect the first choice again when it shows itself again.
        winsim::setMessageBoxHandler([](const char* text, const char* caption, UINT type) {
            FSetSymbolValue("RadioDefault", "2");
            return KitMessageBox(text, caption, type);
        });
        InstallTypePage();
        char value[16];
        harness::report("radio=%s", TkGetSymbol("RadioDefault", value, sizeof value));
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{kNoSpaceBox}));
    EXPECT_EQ(r.pages(), (std::vector<int>{800, 800}));
    EXPECT_EQ(r.value("radio"), "1");
    EXPECT_EQ(r.value("type"), "4");
}

TEST(InstallTypePage, ExactlyEnoughIsAccepted) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.setFree('C', utilityBytes() + systemDriveBytes());
    ChildResult r = runPage(h, "800 CONTINUE ButtonChecked=1\n", [] { InstallTypePage(); });
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_EQ(r.value("type"), "3");
    EXPECT_EQ(r.value("done"), "1");
}

TEST(InstallTypePage, ChosenDestinationNeedsOnlyTheSystemFiles) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.setFree('C', systemDriveBytes());
    ChildResult r = runPage(h, "800 CONTINUE ButtonChecked=2\n", [] { InstallTypePage(); });
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_EQ(r.value("type"), "1");
    EXPECT_EQ(r.value("done"), "0");

    h.setFree('C', systemDriveBytes() - 1);
    ChildResult refused = runPage(h, "800 CONTINUE ButtonChecked=2\n800 CONTINUE ButtonChecked=3\n",
                                  [] { InstallTypePage(); });
    EXPECT_EQ(refused.lines("box"), (std::vector<std::string>{kNoSpaceBox}));
    EXPECT_EQ(refused.value("type"), "4");
}

TEST(InstallTypePage, RemovalIsAcceptedWhateverTheSpace) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.setFree('C', 0);
    ChildResult r = runPage(h, "800 CONTINUE ButtonChecked=3\n", [] { InstallTypePage(); });
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_EQ(r.value("type"), "4");
    EXPECT_EQ(r.value("done"), "1");
}

TEST(InstallTypePage, CancelAsksBackShowsAgain) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = runPage(h, "800 CANCEL\n200 CONTINUE\n800 BACK\n800 CONTINUE ButtonChecked=3\n",
                            [] { InstallTypePage(); });
    EXPECT_EQ(r.pages(), (std::vector<int>{800, 200, 800, 800}));
    EXPECT_EQ(r.value("type"), "4");
}

// --- Destination path ----------------------------------------------------------

TEST(DestinationPathPage, LowerCaseDriveIsStoredUpperCaseAndTheDirectoryCreated) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=c:\\apps\\varden\n", [] { DestinationPathPage(); });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("root"), "C:\\apps\\varden");
    EXPECT_EQ(r.value("done"), "1");
    EXPECT_TRUE(std::filesystem::is_directory(h.host("C:\\apps\\varden")));
    EXPECT_TRUE(r.lines("box").empty());
}

TEST(DestinationPathPage, ExistingDirectoryIsAccepted) {
    Harness h;
    h.setInf(harness::sampleInf());
    std::filesystem::create_directories(h.host("C:\\there"));
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=C:\\there\n", [] { DestinationPathPage(); });
    EXPECT_EQ(r.value("root"), "C:\\there");
}

TEST(DestinationPathPage, BackReturnsWithTheRootUnchanged) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = runPage(h, "300 BACK EditTextOut=C:\\else\n", [] { DestinationPathPage(); });
    EXPECT_EQ(r.value("done"), "0");
    EXPECT_EQ(r.value("root"), "C:\\win32app\\vrdpsmon");
}

TEST(DestinationPathPage, DriveListShowsLowerCaseLettersAndFreeSpace) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.setFree('C', 10 * 1024 * 1024 + 1023);
    ChildResult r = runPage(h, "300 BACK\n", [] {
        DestinationPathPage();
        char value[32];
        harness::report("drive1=%s", TkGetListItem("Disk Drives", 1, value, sizeof value));
        harness::report("space1=%s", TkGetListItem("Available Space", 1, value, sizeof value));
        harness::report("count=%u", (unsigned)TkListLength("Available Space"));
        harness::report("drives=%u", (unsigned)TkListLength("Disk Drives"));
        harness::report("sysdisk=%s", TkGetSymbol("SysDisk", value, sizeof value));
        harness::report("need=%s", TkGetSymbol("SysSpaceNeeded", value, sizeof value));
        harness::report("other=%s", TkGetSymbol("OtherSpaceNeeded", value, sizeof value));
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("drive1"), "[-c-]");
    EXPECT_EQ(r.value("space1"), "    10240 Kb");
    EXPECT_EQ(r.value("count"), r.value("drives"));
    EXPECT_EQ(r.value("sysdisk"), "[-c-]");
    EXPECT_EQ(r.value("need"), kb(loadBytes() + utilityBytes() + systemDriveBytes()));
    EXPECT_EQ(r.value("other"), kb(loadBytes() + utilityBytes()));
}

TEST(DestinationPathPage, SystemDriveNeedsTheWholeSum) {
    Harness h;
    h.setInf(harness::sampleInf());
    std::uint64_t all = (std::uint64_t)loadBytes() + utilityBytes() + systemDriveBytes();
    h.setFree('C', all - 1);
    ChildResult refused = runPage(h, "300 CONTINUE EditTextOut=C:\\a\n300 BACK\n", [] { DestinationPathPage(); });
    EXPECT_EQ(refused.lines("box"), (std::vector<std::string>{kNoSpaceBox}));
    EXPECT_EQ(refused.value("done"), "0");

    h.setFree('C', all);
    ChildResult accepted = runPage(h, "300 CONTINUE EditTextOut=C:\\a\n", [] { DestinationPathPage(); });
    EXPECT_TRUE(accepted.lines("box").empty());
    EXPECT_EQ(accepted.value("root"), "C:\\a");
}

TEST(DestinationPathPage, OtherDriveNeedsTheSystemFilesOnTheSystemDrive) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.addDrive('D', (std::uint64_t)loadBytes() + utilityBytes());
    h.setFree('C', systemDriveBytes() - 1);
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=d:\\pkg\n300 BACK\n", [] { DestinationPathPage(); });
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{kNoSpaceBox}));

    h.setFree('C', systemDriveBytes());
    ChildResult ok = runPage(h, "300 CONTINUE EditTextOut=d:\\pkg\n", [] { DestinationPathPage(); });
    EXPECT_TRUE(ok.lines("box").empty()) << ok.output;
    EXPECT_EQ(ok.value("root"), "D:\\pkg");
    EXPECT_TRUE(std::filesystem::is_directory(h.host("D:\\pkg")));

    h.setFree('D', (std::uint64_t)loadBytes() + utilityBytes() - 1);
    ChildResult small = runPage(h, "300 CONTINUE EditTextOut=D:\\pkg2\n300 BACK\n", [] { DestinationPathPage(); });
    EXPECT_EQ(small.lines("box"), (std::vector<std::string>{kOtherDriveBox}));
}

TEST(DestinationPathPage, InvalidDriveIsRefusedAndTheFieldRefilled) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=q:\\pkg\n300 BACK\n", [] {
        DestinationPathPage();
        char value[600];
        harness::report("editin=%s", TkGetSymbol("EditTextIn", value, sizeof value));
    });
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Setup Message: The drive specified is invalid."}));
    EXPECT_EQ(r.value("editin"), "C:\\win32app\\vrdpsmon");
    EXPECT_EQ(r.value("done"), "0");
}

TEST(DestinationPathPage, DirectoryThatCannotBeCreatedEndsSetup) {
    Harness h;
    h.setInf(harness::sampleInf());
    h.writeFile("C:\\blocker", "a file where the directory would go");
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=C:\\blocker\\sub\n2300 CONTINUE\n",
                            [] { DestinationPathPage(); });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
}

TEST(DestinationPathPage, PathOf509CharactersEndsSetupWithBufferOverflow) {
    Harness h;
    h.setInf(harness::sampleInf());
    std::string tooLong = "C:\\" + std::string(506, 'a');  // 509 characters
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=" + tooLong + "\n2300 CONTINUE\n",
                            [] { DestinationPathPage(); });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box MS-Setup Error: Buffer Overflow"}));
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
}

TEST(DestinationPathPage, PathOf508CharactersIsReadWhole) {
    Harness h;
    h.setInf(harness::sampleInf());
    std::string path = "q:\\" + std::string(505, 'a');  // 508 characters, refused for its drive
    ChildResult r = runPage(h, "300 CONTINUE EditTextOut=" + path + "\n300 BACK\n", [] { DestinationPathPage(); });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Setup Message: The drive specified is invalid."}));
}

// --- Distribution path -----------------------------------------------------------

TEST(DistributionPathPage, OffersThePathWithoutItsFinalBackslash) {
    Harness h;
    std::filesystem::create_directories(h.host("C:\\i386"));
    ChildResult r = h.run("1100 BACK\n200 CONTINUE\n1100 CONTINUE EditTextOut=\n6400 CONTINUE\n"
                          "1100 CONTINUE EditTextOut=C:\\i386\n",
                          [](LPSTR) {
                              ::Setup.IsWindows95 = FALSE;
                              char path[DISTRIBUTION_PATH_SIZE] = "D:\\";
                              DistributionPathPage(path);
                              char value[64];
                              harness::report("offered=%s", TkGetSymbol("EditTextIn", value, sizeof value));
                              harness::report("path=%s", path);
                              return 0;
                          });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("offered"), "D:");
    EXPECT_EQ(r.value("path"), "C:\\i386");
    EXPECT_EQ(r.pages(), (std::vector<int>{1100, 200, 1100, 6400, 1100}));
}

TEST(DistributionPathPage, Windows95UsesItsOwnDialog) {
    Harness h(harness::win95());
    std::filesystem::create_directories(h.host("C:\\win95"));
    ChildResult r = h.run("102 CONTINUE EditTextOut=C:\\win95\n", [](LPSTR) {
        ::Setup.IsWindows95 = TRUE;
        char path[DISTRIBUTION_PATH_SIZE] = "C:\\win95\\";
        DistributionPathPage(path);
        harness::report("path=%s", path);
        return 0;
    });
    EXPECT_EQ(r.value("path"), "C:\\win95");
}

TEST(DistributionPathPage, PathOf255CharactersEndsSetup) {
    Harness h;
    std::string tooLong = "C:\\" + std::string(252, 'a');
    ChildResult r = h.run("1100 CONTINUE EditTextOut=" + tooLong + "\n2300 CONTINUE\n", [](LPSTR) {
        char path[DISTRIBUTION_PATH_SIZE] = "C:\\";
        DistributionPathPage(path);
        harness::report("returned=1");
        return 0;
    });
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box MS-Setup Error: Buffer Overflow"}));
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
}

}  // namespace
