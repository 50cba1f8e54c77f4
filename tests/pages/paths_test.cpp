// The installation-type page, the destination-path page and the
// distribution-path page: figures, space rules, directory creation and the
// length limits of the typed paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "install/copylist.h"
#include "pages/pages.h"
#include "setup/harness.h"

using namespace harness;

namespace {

const std::string kNoSpaceBox =
    "box Insufficient Disk Space: The system drive does not have enough space to perform the installation.";
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
// reports the installation type, PageDone, the root, the symbols `names`
// and the items of the `lists` (side by side).
ChildResult runPage(Harness& h, const std::string& answers, void (*page)(), Lines names = {}, Lines lists = {}) {
    return h.run(answers, [page, names, lists] {
        startupState();
        ComputeSectionSizes();
        page();
        char value[600], item[64];
        report("type=%d done=%d root=%s", (int)::Setup.InstallType, (int)::Setup.PageDone, ::Setup.InstallRoot);
        for (const auto& name : names) report("%s=%s", name.c_str(), TkGetSymbol(name.c_str(), value, sizeof value));
        for (UINT i = 1; !lists.empty() && i <= TkListLength(lists[0].c_str()); ++i) {
            std::string line;
            for (const auto& list : lists) line += std::string(TkGetListItem(list.c_str(), i, item, sizeof item)) + "|";
            report("%s", line.c_str());
        }
    });
}

// --- Installation type -------------------------------------------------------

// The figures are right-aligned kilobytes (below one kilobyte: 0). Printing
// only (1) needs the utilities and the system files on the system drive, a
// chosen destination (2) only the system files, removal (3) nothing. Too
// little space shows the box and the page again, with the first choice
// preselected again.
TEST(InstallTypePage, FiguresAndSpaceRulesPerChoice) {
    std::string tiny;
    for (const char* section : kSections)
        tiny += std::string("[") + section + "]\n" + infLine(section, "x.dat", std::string(section) == "PPD Files" ? 1023 : 0);
    const Lines figures{"SysSpacePrintOnlyKb=" + kb(kUtility + kSystem), "SysSpaceBothKb=    19 Kb",
                        "SysOtherSpaceKb=" + kb(kLoad + kUtility)};
    const Lines zero{"SysSpacePrintOnlyKb=     0 Kb", "SysSpaceBothKb=     0 Kb", "SysOtherSpaceKb=     0 Kb"};
    const Lines preselected{"RadioDefault=1"};
    const std::int64_t s = kSystem, u = kUtility;
    const struct {
        std::int64_t free;  // -1: as the machine has it
        const char* answers; const char* state; Lines symbols; std::vector<int> pages; bool box = false; bool tinyInf = false;
    } rows[] = {
        {-1, "800 CONTINUE ButtonChecked=3\n", "type=4 done=1", figures, {800}},
        {-1, "800 CONTINUE ButtonChecked=3\n", "type=4 done=1", zero, {800}, false, true},
        {u + s - 1, "800 CONTINUE ButtonChecked=1\n800 CONTINUE ButtonChecked=3\n", "type=4 done=1", preselected, {800, 800}, true},
        {u + s, "800 CONTINUE ButtonChecked=1\n", "type=3 done=1", {}, {800}},
        {s, "800 CONTINUE ButtonChecked=2\n", "type=1 done=0", {}, {800}},
        {s - 1, "800 CONTINUE ButtonChecked=2\n800 CONTINUE ButtonChecked=3\n", "type=4 done=1", preselected, {800, 800}, true},
        {0, "800 CONTINUE ButtonChecked=3\n", "type=4 done=1", {}, {800}},
        {-1, "800 CANCEL\n200 CONTINUE\n800 EXIT\n200 CANCEL\n800 BACK\n800 CONTINUE ButtonChecked=3\n", "type=4 done=1", {},
         {800, 200, 800, 200, 800, 800}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answers);
        Harness h;
        h.setInf(row.tinyInf ? tiny : sampleInf());
        if (row.free >= 0) h.setFree('C', (std::uint64_t)row.free);
        Lines names, expected{std::string(row.state) + " root=C:\\win32app\\vrdpsmon"};
        for (const auto& symbol : row.symbols) names.push_back(symbol.substr(0, symbol.find('=')));
        expected.insert(expected.end(), row.symbols.begin(), row.symbols.end());
        expected.push_back("returned=1");
        ChildResult r = runPage(h, row.answers, [] {
            // Something changes the preselection while a box is up; the page
            // must preselect the first choice again when it shows again.
            winsim::setMessageBoxHandler([](const char* text, const char* caption, UINT type) {
                FSetSymbolValue("RadioDefault", "2");
                return KitMessageBox(text, caption, type);
            });
            InstallTypePage();
        }, names);
        EXPECT_EQ(r.report, expected) << r.output;
        EXPECT_EQ(r.lines("box"), row.box ? Lines{kNoSpaceBox} : Lines{});
        EXPECT_EQ(r.pages(), row.pages);
        EXPECT_EQ(r.lines("shown 8").at(0), "shown 800 FInstallTypeDlgProc help 7805 cursor arrow");
    }
}

// --- Destination path ----------------------------------------------------------

// The field is filled with the root each time; the drive letter is stored
// in capitals and the directory created; the system drive needs the whole
// sum, another drive the load files and utilities and the system drive the
// system files. A path of 508 characters is read whole, one of 509 and a
// directory that cannot be created end setup.
TEST(DestinationPathPage, TypedPathsAndTheirReactions) {
    const std::int64_t all = kLoad + kUtility + kSystem;
    const std::string root = "C:\\win32app\\vrdpsmon";
    const Lines noSpace{kNoSpaceBox}, none;
    const Lines invalid{"box Setup Message: The drive specified is invalid."};
    const struct {
        const char* what;
        std::int64_t freeC, freeD;  // -1: as the machine has it, no drive D:
        std::string answers;
        std::string root;           // "": setup ended on the error page
        const char* done; Lines boxes;
    } rows[] = {
        {"lower-case drive", -1, -1, "300 CONTINUE EditTextOut=c:\\apps\\varden\n", "C:\\apps\\varden", "1", none},
        {"existing directory", -1, -1, "300 CONTINUE EditTextOut=C:\\there\n", "C:\\there", "1", none},
        {"back keeps the root", -1, -1, "300 BACK EditTextOut=C:\\else\n", root, "0", none},
        {"cancel and exit ask", -1, -1, "300 CANCEL\n200 CONTINUE\n300 EXIT\n200 CANCEL\n300 BACK\n", root, "0", none},
        {"system drive one byte short", all - 1, -1, "300 CONTINUE EditTextOut=C:\\a\n300 BACK\n", root, "0", noSpace},
        {"system drive with the whole sum", all, -1, "300 CONTINUE EditTextOut=C:\\a\n", "C:\\a", "1", none},
        {"other drive: system drive short", kSystem - 1, kLoad + kUtility, "300 CONTINUE EditTextOut=d:\\pkg\n300 BACK\n",
         root, "0", noSpace},
        {"other drive with room", kSystem, kLoad + kUtility, "300 CONTINUE EditTextOut=d:\\pkg\n", "D:\\pkg", "1", none},
        {"other drive short", kSystem, kLoad + kUtility - 1, "300 CONTINUE EditTextOut=D:\\pkg2\n300 BACK\n", root, "0",
         {"box Insufficient Disk Space: The specified drive does not have enough space to perform the installation."}},
        {"invalid drive", -1, -1, "300 CONTINUE EditTextOut=q:\\pkg\n300 BACK\n", root, "0", invalid},
        {"invalid drive, 508 characters", -1, -1, "300 CONTINUE EditTextOut=q:\\" + std::string(505, 'a') + "\n300 BACK\n",
         root, "0", invalid},
        {"directory that cannot be created", -1, -1, "300 CONTINUE EditTextOut=C:\\blocker\\sub\n2300 CONTINUE\n", "",
         nullptr, none},
        {"path of 509 characters", -1, -1, "300 CONTINUE EditTextOut=C:\\" + std::string(506, 'a') + "\n2300 CONTINUE\n", "",
         nullptr, {kOverflowBox}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h;
        h.setInf(sampleInf());
        if (row.freeC >= 0) h.setFree('C', (std::uint64_t)row.freeC);
        if (row.freeD >= 0) h.addDrive('D', (std::uint64_t)row.freeD);
        fs::create_directories(h.host("C:\\there"));
        h.writeFile("C:\\blocker", "a file where a directory would go");
        ChildResult r = runPage(h, row.answers, [] { DestinationPathPage(); }, {"EditTextIn"});
        if (row.root.empty()) {
            expectToolkitError(r, 1024, row.boxes);
            continue;
        }
        EXPECT_EQ(r.report, (Lines{std::string("type=3 done=") + row.done + " root=" + row.root, "EditTextIn=" + root,
                                   "returned=1"})) << r.output;
        EXPECT_EQ(r.lines("box"), row.boxes);
        EXPECT_EQ(fs::is_directory(h.host(row.root)), *row.done == '1');
        EXPECT_EQ(r.lines("shown 300").at(0), "shown 300 FChoosePathDlgProc help 7805 cursor arrow");
    }
    // The drive list shows lower-case letters and the free space.
    Harness h;
    h.setInf(sampleInf());
    h.setFree('C', 10 * 1024 * 1024 + 1023);
    h.addDrive('E', 2048);
    ChildResult r = runPage(h, "300 BACK\n", [] { DestinationPathPage(); }, {"SysDisk", "SysSpaceNeeded", "OtherSpaceNeeded"},
                            {"Disk Drives", "Available Space"});
    EXPECT_EQ(r.report, (Lines{"type=3 done=0 root=" + root, "SysDisk=[-c-]", "SysSpaceNeeded=" + kb(all),
                               "OtherSpaceNeeded=" + kb(kLoad + kUtility), "[-c-]|    10240 Kb|", "[-e-]|        2 Kb|",
                               "returned=1"})) << r.output;
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
        fs::create_directories(h.host("C:\\i386"));
        fs::create_directories(h.host("C:\\win95"));
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
        EXPECT_EQ(r.report, (Lines{"offered=" + proposed.substr(0, proposed.size() - 1), std::string("path=") + row.path,
                                   "returned=1"}));
        Lines pages;
        for (const auto& l : r.lines("page ")) pages.push_back(l.substr(5, l.find(' ', 5) - 5) + l.substr(l.rfind(' ')));
        EXPECT_EQ(pages, row.pages);
        EXPECT_EQ(r.lines("shown 1")[0], row.windows95 ? "shown 102 FEditDlgProc help 0 cursor arrow"
                                                        : "shown 1100 FEditDlgProc help 0 cursor arrow");
    }
}

}  // namespace
