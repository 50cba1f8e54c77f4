// The page protocol, the simple pages, and the pages that take a choice or a path: the installation type, the
// destination path and the distribution path (figures, space rules, directory creation, the length limits of the
// typed paths).
#include "install/copylist.h"
#include "pages/pages.h"
#include "setup/harness.h"

using namespace harness;

namespace {

// Each page run in a child with its answers; its transcript pins whether it came back (or ended setup with the
// toolkit), the pages shown with their procedure, help page and cursor, the restart it left, and the modeless pages'
// lines. Back shows the same page again (as a word other than the four would).
TEST(SimplePages, AnswersAndWhatTheyLeaveModelessPagesAndEventWords) {
    const struct {
        bool windows95; const char* answers; void (*page)(); bool tokenRefused = false;
    } rows[] = {
        // Welcome: cancel asks, continue there shows it again; exit on the quit confirmation ends setup.
        {false, "100 CANCEL\n200 CONTINUE\n100 EXIT\n200 CANCEL\n100 BACK\n100 CONTINUE\n", [] { WelcomePage(); }},
        {false, "100 CANCEL\n200 BACK\n200 EXIT\n", [] { WelcomePage(); }},
        // Information pages finish only on their own events.
        {false, "2000 BACK\n2000 CANCEL\n2000 EXIT\n2000 CONTINUE\n1000 CANCEL\n1000 CONTINUE\n1600 EXIT\n1600 CONTINUE\n",
         [] { UnsupportedPlatformPage(); UpgradeNoticePage(); RebootFailedPage(); }},
        // Version warning: back again, cancel goes on, exit ends setup.
        {false, "2100 BACK\n2100 CANCEL\n2100 CONTINUE\n", [] { VersionWarningPage(); VersionWarningPage(); }},
        {false, "2100 EXIT\n", [] { VersionWarningPage(); }},
        // Done pages ask before quitting.
        {false, "700 CANCEL\n200 CONTINUE\n700 CONTINUE\n7802 EXIT\n200 CANCEL\n7802 CONTINUE\n",
         [] { InstallDonePage(); RemoveDonePage(); }},
        {false, "1300 EXIT\n200 CANCEL\n1300 CONTINUE\n", [] { ::Setup.IsWindows95 = FALSE; DriverFilesFailedPage(); }},
        {false, "103 CONTINUE\n", [] { ::Setup.IsWindows95 = TRUE; DriverFilesFailedPage(); }},
        {false, "6400 BACK\n6400 CANCEL\n6400 CONTINUE\n", [] { PathNoticePage(); PathNoticePage(); }},
        // Not administrator: continue ends setup.
        {false, "2400 CANCEL\n2400 EXIT\n2400 BACK\n2400 CONTINUE\n", [] { NotAdministratorPage(); }},
        // Restart pages: continue prepares the restart on NT, Windows 95 restarts at once, cancel means none; a
        // failed preparation shows the reboot-failed page.
        {false, "1500 CONTINUE\n", [] { InstallRebootPage(); }},
        {false, "7803 EXIT\n7803 CANCEL\n", [] { RemoveRebootPage(); }},
        {true, "7803 CONTINUE\n", [] { ::Setup.IsWindows95 = TRUE; RemoveRebootPage(); }},
        {false, "1500 CONTINUE\n1600 CONTINUE\n", [] { InstallRebootPage(); }, true},
        // The questions after the last page say yes only on continue; back asks again.
        {false, "1200 BACK\n1200 CANCEL\n1400 EXIT\n1400 CONTINUE\n1200 CONTINUE\n1400 CANCEL\n", [] {
             LONG answers[4] = {7, 7, 7, 7};
             AskWizardPage(&answers[0]), AskHelpPage(&answers[1]), AskWizardPage(&answers[2]), AskHelpPage(&answers[3]);
             report("asked=%ld %ld %ld %ld", answers[0], answers[1], answers[2], answers[3]);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answers);
        Harness h(row.windows95 ? win95() : nt351());
        if (row.tokenRefused) failNext("OpenProcessToken", 0, ERROR_ACCESS_DENIED);
        // The frame is gone when setup ended with the toolkit.
        h.run(row.answers, [&row] {
            winsim::addExitHandler([](UINT) { report("frame=%d", HwndFrame() != nullptr); });
            row.page();
            ReportOutcome(OUTCOME_NONE);  // the restart the page noted goes to the log's result line
            report("pending=%d", ::Setup.RebootPending);
        });
    }
    // Modeless pages take no answer: each shows its status line and stays until popped.
    Harness h;
    h.run("", [] {
        SpoolerStopPage();
        SpoolerStartPage();
        DriverInstallPage();
        ProgramGroupPage();
        TkPopDialogs(1);
        TkPopAllDialogs();
    });
    // Only the sum of the first two characters counts: other words with the same sum act alike; characters above 127
    // count negative, the sum is taken modulo 65536. StripTrailingBackslash removes one final backslash.
    const std::pair<const char*, int> events[] = {
        {"BACK", EVENT_BACK}, {"CANCEL", EVENT_CANCEL}, {"CONTINUE", EVENT_CONTINUE}, {"EXIT", EVENT_EXIT},
        {"BA", EVENT_BACK},   {"AB", EVENT_BACK},       {"DN", EVENT_CONTINUE},       {"back", 'b' + 'a'},
        {"", 0},              {"B", 'B'},               {"\xff\xff", 65534},          {"\x01\x05", 6}};
    for (auto [word, event] : events) EXPECT_EQ(ClassifyEvent(word), event) << word;
    std::string stripped;
    for (std::string text : {"D:\\", "D:\\dist\\\\", "D:\\dist", "", "\\"}) {
        StripTrailingBackslash(text.data());
        stripped += std::string(text.c_str()) + "|";
    }
    EXPECT_EQ(stripped, "D:|D:\\dist\\|D:\\dist|||");
}

const std::string kNoSpaceBox =
    "box Insufficient Disk Space: The system drive does not have enough space to perform the installation.";

// Figures of the sample INF on NT x86.
const std::int64_t kSystem = sectionSizes({"PPD Files", "NT Help File", "I386 Monitor"});
const std::int64_t kUtility = sectionSizes({"Write Files", "I386 Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"});
const std::int64_t kLoad = sectionSizes({"Load PS Files", "Load Cat Files", "Load Sys Files"});

std::string kb(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%6u Kb", (unsigned)(bytes >> 10));
    return text;
}

// Runs `page` on the state a page finds after start-up on NT 3.51 x86, then reports the installation type, PageDone,
// the root, the symbols `names` and the items of the `lists` (side by side).
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

// The figures: utilities and system files, system files, load files and utilities, of the platform and processor, in
// right-aligned kilobytes (below one kilobyte: 0; beyond 4 GB held at the largest value instead of wrapping to a
// small number that would pass the space checks). Printing only (1) needs the utilities and the system files on the
// system drive, a chosen destination (2) only the system files, removal (3) nothing. Too little space shows the box
// and the page again, with the first choice preselected again.
TEST(InstallTypePage, FiguresAndSpaceRulesPerChoice) {
    std::string tiny, huge;
    for (const char* section : kSections) {
        tiny += std::string("[") + section + "]\n" + infLine(section, "x.dat", std::string(section) == "PPD Files" ? 1023 : 0);
        huge += std::string("[") + section + "]\n";
        for (int i = 0; i < 3; ++i) huge += infLine("k" + std::to_string(i), "f.dat", 2000000000u);
    }
    auto figures = [](std::int64_t system, const char* wizard) {
        std::int64_t utility = sectionSizes({"Write Files", "Orvel", "Remote Console", "Wizard", "VB Common", wizard});
        return Lines{"SysSpacePrintOnlyKb=" + kb(utility + system), "SysSpaceBothKb=" + kb(system),
                     "SysOtherSpaceKb=" + kb(kLoad + utility)};
    };
    const std::int64_t nt = sectionSizes({"PPD Files", "NT Help File"});
    const Lines zero{"SysSpacePrintOnlyKb=     0 Kb", "SysSpaceBothKb=     0 Kb", "SysOtherSpaceKb=     0 Kb"};
    const Lines all{"SysSpacePrintOnlyKb=4194303 Kb", "SysSpaceBothKb=4194303 Kb", "SysOtherSpaceKb=4194303 Kb"};
    const Lines preselected{"RadioDefault=1"};
    const std::int64_t s = kSystem, u = kUtility;
    const char* const remove = "800 CONTINUE ButtonChecked=3\n";
    const struct {
        std::int64_t free;  // -1: as the machine has it
        const char* answers; const char* state; Lines symbols; bool box = false;
        std::string inf = sampleInf(); winsim::OsInfo os = nt351();
    } rows[] = {
        {-1, remove, "type=4 done=1", figures(kSystem, "I386 Wizard")},
        {-1, remove, "type=4 done=1", figures(nt + sectionSize("Alpha Monitor"), "Alpha Wizard"), false, sampleInf(), nt351("alpha")},
        {-1, remove, "type=4 done=1", figures(nt + sectionSize("Mips Monitor"), "Mips Wizard"), false, sampleInf(), nt351("mips")},
        {-1, remove, "type=4 done=1", figures(sectionSizes({"PPD Files", "W95 Help File", "W95 Monitor"}), "I386 Wizard"), false,
         sampleInf(), win95()},
        {-1, remove, "type=4 done=1", zero, false, tiny},
        {-1, remove, "type=4 done=1", all, false, huge},
        {u + s - 1, "800 CONTINUE ButtonChecked=1\n800 CONTINUE ButtonChecked=3\n", "type=4 done=1", preselected, true},
        {u + s, "800 CONTINUE ButtonChecked=1\n", "type=3 done=1", {}},
        {s, "800 CONTINUE ButtonChecked=2\n", "type=1 done=0", {}},
        {s - 1, "800 CONTINUE ButtonChecked=2\n800 CONTINUE ButtonChecked=3\n", "type=4 done=1", preselected, true},
        {0, remove, "type=4 done=1", {}},
        {-1, "800 CANCEL\n200 CONTINUE\n800 EXIT\n200 CANCEL\n800 BACK\n800 CONTINUE ButtonChecked=3\n", "type=4 done=1", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h(row.os);
        h.setInf(row.inf);
        if (row.free >= 0) h.setFree('C', (std::uint64_t)row.free);
        Lines names, expected{std::string(row.state) + " root=C:\\win32app\\vrdpsmon"};
        for (const auto& symbol : row.symbols) names.push_back(symbol.substr(0, symbol.find('=')));
        expected.insert(expected.end(), row.symbols.begin(), row.symbols.end());
        expected.push_back("returned=1");
        ChildResult r = runPage(h, row.answers, [] {
            // Something changes the preselection while a box is up; the page must preselect the first choice again
            // when it shows again.
            winsim::setMessageBoxHandler([](const char* text, const char* caption, UINT type) {
                FSetSymbolValue("RadioDefault", "2");
                return KitMessageBox(text, caption, type);
            });
            InstallTypePage();
        }, names);
        EXPECT_EQ(r.report, expected) << r.output;
        EXPECT_EQ(r.lines("box"), row.box ? Lines{kNoSpaceBox} : Lines{});
    }
}

// The field is filled with the root each time; the drive letter is stored in capitals and the directory created; the
// system drive needs the whole sum, another drive the load files and utilities and the system drive the system files.
// A path of 508 characters is read whole, one of 509 and a directory that cannot be created end setup. The drive list
// shows lower-case letters and the free space.
TEST(DestinationPathPage, TypedPathsAndTheirReactions) {
    const std::int64_t all = kLoad + kUtility + kSystem;
    const std::string root = "C:\\win32app\\vrdpsmon";
    const Lines noSpace{kNoSpaceBox}, none, invalid{"box Setup Message: The drive specified is invalid."};
    const struct {
        std::int64_t freeC, freeD;  // -1: as the machine has it, no drive D:
        std::string answers;
        std::string root;  // "": setup ended on the error page
        const char* done;
        Lines boxes;  // the row's reaction (the transcript holds every box; checked here where setup ends)
    } rows[] = {
        {-1, -1, "300 CONTINUE EditTextOut=c:\\apps\\varden\n", "C:\\apps\\varden", "1", none},
        {-1, -1, "300 CONTINUE EditTextOut=C:\\there\n", "C:\\there", "1", none},
        {-1, -1, "300 BACK EditTextOut=C:\\else\n", root, "0", none},
        {-1, -1, "300 CANCEL\n200 CONTINUE\n300 EXIT\n200 CANCEL\n300 BACK\n", root, "0", none},
        {all - 1, -1, "300 CONTINUE EditTextOut=C:\\a\n300 BACK\n", root, "0", noSpace},
        {all, -1, "300 CONTINUE EditTextOut=C:\\a\n", "C:\\a", "1", none},
        {kSystem - 1, kLoad + kUtility, "300 CONTINUE EditTextOut=d:\\pkg\n300 BACK\n", root, "0", noSpace},
        {kSystem, kLoad + kUtility, "300 CONTINUE EditTextOut=d:\\pkg\n", "D:\\pkg", "1", none},
        {kSystem, kLoad + kUtility - 1, "300 CONTINUE EditTextOut=D:\\pkg2\n300 BACK\n", root, "0",
         {"box Insufficient Disk Space: The specified drive does not have enough space to perform the installation."}},
        {-1, -1, "300 CONTINUE EditTextOut=q:\\pkg\n300 BACK\n", root, "0", invalid},
        {-1, -1, "300 CONTINUE EditTextOut=q:\\" + std::string(505, 'a') + "\n300 BACK\n", root, "0", invalid},
        {-1, -1, "300 CONTINUE EditTextOut=C:\\blocker\\sub\n2300 CONTINUE\n", "", nullptr, none},
        {-1, -1, "300 CONTINUE EditTextOut=C:\\" + std::string(506, 'a') + "\n2300 CONTINUE\n", "", nullptr, {kOverflowBox}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
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
    }
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

// The path is offered without its final backslash; cancel, exit and back ask to quit, an empty or missing directory
// shows the notice; Windows 95 has its own page; 255 characters end setup. The child reports the offer and the path
// it was left with; the transcripts pin them.
TEST(DistributionPathPage, OfferedAcceptedOrTooLong) {
    const struct {
        bool windows95; const char* proposed; std::string answers;
        const char* path;  // the path accepted; null: setup ended
    } rows[] = {
        {false, "D:\\",
         "1100 BACK\n200 CONTINUE\n1100 CANCEL\n200 CANCEL\n1100 EXIT\n200 CONTINUE\n1100 CONTINUE EditTextOut=\n"
         "6400 CONTINUE\n1100 CONTINUE EditTextOut=C:\\a|b\n6400 CONTINUE\n1100 CONTINUE EditTextOut=C:\\i386\n", "C:\\i386"},
        {true, "C:\\win95\\", "102 CONTINUE EditTextOut=C:\\win95\n", "C:\\win95"},
        {false, "C:\\", "1100 CONTINUE EditTextOut=C:\\" + std::string(252, 'a') + "\n2300 CONTINUE\n", nullptr},
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
            report("offered=%s path=%s", TkGetSymbol("EditTextIn", value, sizeof value), path);
        });
        if (!row.path) expectToolkitError(r, 1024, {kOverflowBox});
    }
}

}  // namespace
