// The installation-type page, the destination-path page and the
// distribution-path page: figures, space rules, directory creation and the
// length limits of the typed paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "install/copylist.h"
#include "pages/pages.h"
#include "setup/harness.h"
#include "winsim/ui/state.h"

using namespace harness;

namespace {

const std::string kNoSpaceBox =
    "box Insufficient Disk Space: The system drive does not have enough space to perform the installation.";
const std::string kOtherDriveBox =
    "box Insufficient Disk Space: The specified drive does not have enough space to perform the installation.";
const std::string kOverflowBox = "box MS-Setup Error: Buffer Overflow";

// Figures of the sample INF on NT x86.
const std::int64_t kSystem = sectionSizes({"PPD Files", "NT Help File", "I386 Monitor"});
const std::int64_t kUtility = sectionSizes({"Write Files", "I386 Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"});
const std::int64_t kLoad = sectionSizes({"Load PS Files", "Load Cat Files", "Load Sys Files"});

std::string kb(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%6u Kb", (unsigned)(bytes >> 10));
    return text;
}

// Runs `page` on the state a page finds after start-up on NT 3.51 x86, then
// reports the installation type, PageDone and the root.
ChildResult runPage(Harness& h, const std::string& answers, void (*page)()) {
    return h.run(answers, [page] {
        startupState();
        ComputeSectionSizes();
        page();
        char value[600];
        report("type=%d", (int)::Setup.InstallType);
        report("done=%d", (int)::Setup.PageDone);
        report("root=%s", ::Setup.InstallRoot);
        report("editin=%s", TkGetSymbol("EditTextIn", value, sizeof value));
    });
}

// --- Installation type -------------------------------------------------------

TEST(InstallTypePage, FiguresAreRightAlignedKilobytes) {
    std::string tiny;  // figures below one kilobyte show 0
    for (const char* section : kSections)
        tiny += std::string("[") + section + "]\n" + infLine(section, "x.dat", std::string(section) == "PPD Files" ? 1023 : 0);
    const struct {
        std::string inf; Lines figures;
    } rows[] = {{sampleInf(), {kb(kUtility + kSystem), "    19 Kb", kb(kLoad + kUtility)}},
                {tiny, {"     0 Kb", "     0 Kb", "     0 Kb"}}};
    for (const auto& row : rows) {
        Harness h;
        h.setInf(row.inf);
        ChildResult r = runPage(h, "800 CONTINUE ButtonChecked=3\n", [] {
            InstallTypePage();
            char value[32];
            for (const char* name : {"SysSpacePrintOnlyKb", "SysSpaceBothKb", "SysOtherSpaceKb"})
                report("%s", TkGetSymbol(name, value, sizeof value));
        });
        EXPECT_EQ(Lines(r.report.begin(), r.report.begin() + 3), row.figures) << r.output;
        EXPECT_EQ(r.lines("shown"), Lines{"shown 800 FInstallTypeDlgProc help 7805 cursor arrow"});
    }
}

TEST(InstallTypePage, SpaceRulesPerChoice) {
    // Printing only (1) needs the utilities and the system files on the
    // system drive, a chosen destination (2) only the system files, removal
    // (3) nothing. Too little space shows the box and the page again, with
    // the first choice preselected again.
    const std::int64_t s = kSystem, u = kUtility;
    const struct {
        std::int64_t free;  // -1: as the machine has it
        const char* answers; bool box; const char* type; const char* done; std::vector<int> pages;
    } rows[] = {
        {u + s - 1, "800 CONTINUE ButtonChecked=1\n800 CONTINUE ButtonChecked=3\n", true, "4", "1", {800, 800}},
        {u + s, "800 CONTINUE ButtonChecked=1\n", false, "3", "1", {800}},
        {s, "800 CONTINUE ButtonChecked=2\n", false, "1", "0", {800}},
        {s - 1, "800 CONTINUE ButtonChecked=2\n800 CONTINUE ButtonChecked=3\n", true, "4", "1", {800, 800}},
        {0, "800 CONTINUE ButtonChecked=3\n", false, "4", "1", {800}},
        {-1, "800 CANCEL\n200 CONTINUE\n800 EXIT\n200 CANCEL\n800 BACK\n800 CONTINUE ButtonChecked=3\n", false, "4",
         "1", {800, 200, 800, 200, 800, 800}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answers);
        Harness h;
        h.setInf(sampleInf());
        if (row.free >= 0) h.setFree('C', (std::uint64_t)row.free);
        ChildResult r = runPage(h, row.answers, [] {
            // Something changes the preselection while a box is up; the page
            // must preselect the first choice again when it shows again.
            winsim::setMessageBoxHandler([](const char* text, const char* caption, UINT type) {
                FSetSymbolValue("RadioDefault", "2");
                return KitMessageBox(text, caption, type);
            });
            InstallTypePage();
            char value[16];
            report("radio=%s", TkGetSymbol("RadioDefault", value, sizeof value));
        });
        EXPECT_EQ(r.lines("box"), row.box ? Lines{kNoSpaceBox} : Lines{}) << r.output;
        EXPECT_EQ(r.value("type"), row.type);
        EXPECT_EQ(r.value("done"), row.done);
        EXPECT_EQ(r.pages(), row.pages);
        if (row.box) {
            EXPECT_EQ(r.value("radio"), "1");
        }
    }
}

// --- Destination path ----------------------------------------------------------

TEST(DestinationPathPage, TypedPathsAndTheirReactions) {
    const std::int64_t all = kLoad + kUtility + kSystem;
    const std::string overlong = "C:\\" + std::string(506, 'a');  // 509 characters
    const std::string root = "C:\\win32app\\vrdpsmon";
    const Lines noSpace{kNoSpaceBox}, none;
    const Lines invalid{"box Setup Message: The drive specified is invalid."};
    const struct {
        const char* what;
        std::int64_t freeC, freeD;  // -1: as the machine has it, no drive D:
        const char* existing;       // a directory or, ending in '!', a file made first
        std::string answers;
        std::string root;           // "": setup ended on the error page
        const char* done; Lines boxes;
    } rows[] = {
        // The drive letter is stored in capitals and the directory created.
        {"lower-case drive", -1, -1, nullptr, "300 CONTINUE EditTextOut=c:\\apps\\varden\n", "C:\\apps\\varden", "1",
         none},
        {"existing directory", -1, -1, "C:\\there", "300 CONTINUE EditTextOut=C:\\there\n", "C:\\there", "1", none},
        {"back keeps the root", -1, -1, nullptr, "300 BACK EditTextOut=C:\\else\n", root, "0", none},
        {"cancel and exit ask", -1, -1, nullptr, "300 CANCEL\n200 CONTINUE\n300 EXIT\n200 CANCEL\n300 BACK\n", root,
         "0", none},
        {"system drive one byte short", all - 1, -1, nullptr, "300 CONTINUE EditTextOut=C:\\a\n300 BACK\n", root, "0",
         noSpace},
        {"system drive with the whole sum", all, -1, nullptr, "300 CONTINUE EditTextOut=C:\\a\n", "C:\\a", "1", none},
        {"other drive: system drive short", kSystem - 1, kLoad + kUtility, nullptr,
         "300 CONTINUE EditTextOut=d:\\pkg\n300 BACK\n", root, "0", noSpace},
        {"other drive with room", kSystem, kLoad + kUtility, nullptr, "300 CONTINUE EditTextOut=d:\\pkg\n", "D:\\pkg",
         "1", none},
        {"other drive short", kSystem, kLoad + kUtility - 1, nullptr, "300 CONTINUE EditTextOut=D:\\pkg2\n300 BACK\n",
         root, "0", {kOtherDriveBox}},
        {"invalid drive", -1, -1, nullptr, "300 CONTINUE EditTextOut=q:\\pkg\n300 BACK\n", root, "0", invalid},
        // A path of 508 characters is read whole, and refused for its drive.
        {"invalid drive, 508 characters", -1, -1, nullptr,
         "300 CONTINUE EditTextOut=q:\\" + std::string(505, 'a') + "\n300 BACK\n", root, "0", invalid},
        {"directory that cannot be created", -1, -1, "C:\\blocker!",
         "300 CONTINUE EditTextOut=C:\\blocker\\sub\n2300 CONTINUE\n", "", nullptr, none},
        {"path of 509 characters", -1, -1, nullptr, "300 CONTINUE EditTextOut=" + overlong + "\n2300 CONTINUE\n", "",
         nullptr, {kOverflowBox}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h;
        h.setInf(sampleInf());
        if (row.freeC >= 0) h.setFree('C', (std::uint64_t)row.freeC);
        if (row.freeD >= 0) h.addDrive('D', (std::uint64_t)row.freeD);
        if (row.existing) {
            std::string path = row.existing;
            if (path.back() == '!') h.writeFile(path.substr(0, path.size() - 1), "a file where a directory would go");
            else std::filesystem::create_directories(h.host(path));
        }
        ChildResult r = runPage(h, row.answers, [] { DestinationPathPage(); });
        if (row.root.empty()) {
            expectToolkitError(r, 1024, row.boxes);
            continue;
        }
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("root"), row.root);
        EXPECT_EQ(r.value("done"), row.done);
        EXPECT_EQ(r.lines("box"), row.boxes);
        EXPECT_EQ(r.value("editin"), root) << "the field is filled with the root each time";
        EXPECT_EQ(std::filesystem::is_directory(h.host(row.root)), *row.done == '1');
        EXPECT_EQ(r.lines("shown 300").at(0), "shown 300 FChoosePathDlgProc help 7805 cursor arrow");
    }
}

TEST(DestinationPathPage, DriveListShowsLowerCaseLettersAndFreeSpace) {
    Harness h;
    h.setInf(sampleInf());
    h.setFree('C', 10 * 1024 * 1024 + 1023);
    h.addDrive('E', 2048);
    ChildResult r = runPage(h, "300 BACK\n", [] {
        DestinationPathPage();
        char value[32];
        for (UINT i = 1; i <= TkListLength("Disk Drives"); ++i)
            report("%s %s", TkGetListItem("Disk Drives", i, value, sizeof value),
                   TkGetListItem("Available Space", i, value + 16, 16));
        report("%u", (unsigned)TkListLength("Available Space"));
        for (const char* name : {"SysDisk", "SysSpaceNeeded", "OtherSpaceNeeded"})
            report("%s", TkGetSymbol(name, value, sizeof value));
    });
    EXPECT_EQ(Lines(r.report.begin(), r.report.begin() + 6),
              (Lines{"[-c-]     10240 Kb", "[-e-]         2 Kb", "2", "[-c-]", kb(kLoad + kUtility + kSystem),
                     kb(kLoad + kUtility)}))
        << r.output;
}

// --- Distribution path -----------------------------------------------------------

// The path is offered without its final backslash; cancel, exit and back
// ask to quit, an empty or missing directory shows the notice; Windows 95
// has its own page; 255 characters end setup.
TEST(DistributionPathPage, OfferedAcceptedOrTooLong) {
    const struct {
        bool windows95; const char* proposed; std::string answers;
        const char* path;  // nullptr: setup ended on the error page
        Lines pages;
    } rows[] = {
        {false, "D:\\",
         "1100 BACK\n200 CONTINUE\n1100 CANCEL\n200 CANCEL\n1100 EXIT\n200 CONTINUE\n1100 CONTINUE EditTextOut=\n"
         "6400 CONTINUE\n1100 CONTINUE EditTextOut=C:\\a|b\n6400 CONTINUE\n1100 CONTINUE EditTextOut=C:\\i386\n",
         "C:\\i386", {"1100 BACK", "200 CONTINUE", "1100 CANCEL", "200 CANCEL", "1100 EXIT", "200 CONTINUE",
                      "1100 CONTINUE", "6400 CONTINUE", "1100 CONTINUE", "6400 CONTINUE", "1100 CONTINUE"}},
        {true, "C:\\win95\\", "102 CONTINUE EditTextOut=C:\\win95\n", "C:\\win95", {"102 CONTINUE"}},
        {false, "C:\\", "1100 CONTINUE EditTextOut=C:\\" + std::string(252, 'a') + "\n2300 CONTINUE\n", nullptr, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.proposed);
        Harness h(row.windows95 ? win95() : nt351());
        std::filesystem::create_directories(h.host("C:\\i386"));
        std::filesystem::create_directories(h.host("C:\\win95"));
        std::string proposed = row.proposed;
        ChildResult r = h.run(row.answers, [&row, proposed] {
            ::Setup.IsWindows95 = row.windows95;
            char path[DISTRIBUTION_PATH_SIZE];
            std::strcpy(path, proposed.c_str());
            DistributionPathPage(path);
            char value[64];
            report("offered=%s", TkGetSymbol("EditTextIn", value, sizeof value));
            report("path=%s", path);
        });
        if (!row.path) {
            expectToolkitError(r, 1024, {kOverflowBox});
            continue;
        }
        EXPECT_EQ(r.value("offered"), proposed.substr(0, proposed.size() - 1));
        EXPECT_EQ(r.value("path"), row.path);
        Lines pages;
        for (const auto& l : r.lines("page ")) pages.push_back(l.substr(5, l.find(' ', 5) - 5) + l.substr(l.rfind(' ')));
        EXPECT_EQ(pages, row.pages);
        EXPECT_EQ(r.lines("shown 1")[0], row.windows95 ? "shown 102 FEditDlgProc help 0 cursor arrow"
                                                        : "shown 1100 FEditDlgProc help 0 cursor arrow");
    }
}

}  // namespace
