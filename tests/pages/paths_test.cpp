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

TEST(InstallTypePage, SpaceRulesPerChoice) {
    // Printing only (1) needs the utilities and the system files on the
    // system drive, a chosen destination (2) only the system files, removal
    // (3) nothing. Too little space shows the box and the page again, with
    // the choice refused as default.
    const std::int64_t s = systemDriveBytes(), u = utilityBytes();
    const struct {
        std::int64_t free;  // -1: as the machine has it
        const char* answers;
        bool box;
        const char* type;
        const char* done;
        std::vector<int> pages;
        const char* radio = nullptr;  // the default offered afterwards
    } rows[] = {
        {u + s - 1, "800 CONTINUE ButtonChecked=1 RadioDefault=2\n800 CONTINUE ButtonChecked=3\n", true, "4", "1",
         {800, 800}, "1"},
        {u + s, "800 CONTINUE ButtonChecked=1\n", false, "3", "1", {800}},
        {s, "800 CONTINUE ButtonChecked=2\n", false, "1", "0", {800}},
        {s - 1, "800 CONTINUE ButtonChecked=2\n800 CONTINUE ButtonChecked=4\n", true, "4", "1", {800, 800}},
        {0, "800 CONTINUE ButtonChecked=3\n", false, "4", "1", {800}},
        {-1, "800 CANCEL\n200 CONTINUE\n800 BACK\n800 CONTINUE ButtonChecked=3\n", false, "4", "1",
         {800, 200, 800, 800}},
    };
    for (const auto& row : rows) {
        Harness h;
        h.setInf(harness::sampleInf());
        if (row.free >= 0) h.setFree('C', (std::uint64_t)row.free);
        ChildResult r = runPage(h, row.answers, [] {
            InstallTypePage();
            char value[16];
            harness::report("radio=%s", TkGetSymbol("RadioDefault", value, sizeof value));
        });
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.lines("box"), row.box ? std::vector<std::string>{kNoSpaceBox} : std::vector<std::string>{})
            << row.answers;
        EXPECT_EQ(r.value("type"), row.type) << row.answers;
        EXPECT_EQ(r.value("done"), row.done) << row.answers;
        EXPECT_EQ(r.pages(), row.pages) << row.answers;
        if (row.radio) EXPECT_EQ(r.value("radio"), row.radio) << row.answers;
    }
}

// --- Destination path ----------------------------------------------------------

TEST(DestinationPathPage, TypedPathsAndTheirReactions) {
    const std::int64_t all = (std::int64_t)loadBytes() + utilityBytes() + systemDriveBytes();
    const std::string overlong = "C:\\" + std::string(506, 'a');  // 509 characters
    const std::vector<std::string> noSpace{kNoSpaceBox}, overflow{"box MS-Setup Error: Buffer Overflow"}, none;
    const struct {
        const char* what;
        std::int64_t free;      // of C:, -1: as the machine has it
        const char* existing;   // a directory or, ending in '!', a file made first
        std::string answers;
        const char* returned;
        const char* root;       // nullptr: not looked at
        const char* done;
        std::vector<std::string> boxes;
        const char* error;      // the error page's line, nullptr: none
    } rows[] = {
        // The drive letter is stored in capitals and the directory created.
        {"lower-case drive", -1, nullptr, "300 CONTINUE EditTextOut=c:\\apps\\varden\n", "1", "C:\\apps\\varden", "1",
         none, nullptr},
        {"existing directory", -1, "C:\\there", "300 CONTINUE EditTextOut=C:\\there\n", "1", "C:\\there", "1", none,
         nullptr},
        {"back keeps the root", -1, nullptr, "300 BACK EditTextOut=C:\\else\n", "1", "C:\\win32app\\vrdpsmon", "0",
         none, nullptr},
        {"system drive one byte short", all - 1, nullptr, "300 CONTINUE EditTextOut=C:\\a\n300 BACK\n", "1", nullptr,
         "0", noSpace, nullptr},
        {"system drive with the whole sum", all, nullptr, "300 CONTINUE EditTextOut=C:\\a\n", "1", "C:\\a", "1",
         none, nullptr},
        {"directory that cannot be created", -1, "C:\\blocker!",
         "300 CONTINUE EditTextOut=C:\\blocker\\sub\n2300 CONTINUE\n", "", nullptr, nullptr, none,
         "error Error code = 1024"},
        {"path of 509 characters", -1, nullptr, "300 CONTINUE EditTextOut=" + overlong + "\n2300 CONTINUE\n", "",
         nullptr, nullptr, overflow, "error Error code = 1024"},
    };
    for (const auto& row : rows) {
        Harness h;
        h.setInf(harness::sampleInf());
        if (row.free >= 0) h.setFree('C', (std::uint64_t)row.free);
        if (row.existing) {
            std::string path = row.existing;
            if (path.back() == '!') h.writeFile(path.substr(0, path.size() - 1), "a file where a directory would go");
            else std::filesystem::create_directories(h.host(path));
        }
        ChildResult r = runPage(h, row.answers, [] { DestinationPathPage(); });
        EXPECT_EQ(r.exitCode, 0) << row.what << r.output;
        EXPECT_EQ(r.value("returned"), row.returned) << row.what;
        if (row.root) EXPECT_EQ(r.value("root"), row.root) << row.what;
        if (row.done) EXPECT_EQ(r.value("done"), row.done) << row.what;
        EXPECT_EQ(r.lines("box"), row.boxes) << row.what;
        EXPECT_EQ(r.lines("error"), row.error ? std::vector<std::string>{row.error} : none) << row.what;
        if (row.root && std::string(row.done) == "1")
            EXPECT_TRUE(std::filesystem::is_directory(h.host(row.root))) << row.what;
    }
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
    // A path of 508 characters is read whole, and refused for its drive.
    for (const std::string& path : {std::string("q:\\pkg"), "q:\\" + std::string(505, 'a')}) {
        Harness h;
        h.setInf(harness::sampleInf());
        ChildResult r = runPage(h, "300 CONTINUE EditTextOut=" + path + "\n300 BACK\n", [] {
            DestinationPathPage();
            char value[600];
            harness::report("editin=%s", TkGetSymbol("EditTextIn", value, sizeof value));
        });
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Setup Message: The drive specified is invalid."}));
        EXPECT_EQ(r.value("editin"), "C:\\win32app\\vrdpsmon");
        EXPECT_EQ(r.value("done"), "0");
    }
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
