// The page protocol and the simple pages.
#include <gtest/gtest.h>

#include <set>

#include "pages/pages.h"
#include "setup/harness.h"

using namespace harness;

namespace {

TEST(ClassifyEvent, SumsTheFirstTwoCharacters) {
    // Only the sum counts: other words with the same sum act alike.
    // Characters above 127 count negative; the sum is taken modulo 65536.
    const std::pair<const char*, int> cases[] = {
        {"BACK", EVENT_BACK}, {"CANCEL", EVENT_CANCEL}, {"CONTINUE", EVENT_CONTINUE}, {"EXIT", EVENT_EXIT},
        {"BA", EVENT_BACK},   {"AB", EVENT_BACK},       {"DN", EVENT_CONTINUE},       {"back", 'b' + 'a'},
        {"", 0},              {"B", 'B'},               {"\xff\xff", 65534},          {"\x01\x05", 6}};
    for (auto [word, event] : cases) EXPECT_EQ(ClassifyEvent(word), event) << word;
}

// Each page run in a child with its answers: whether it came back, the
// pages shown, the restart it left; over all rows, the procedure and help
// page of every page.
TEST(SimplePages, AnswersAndWhatTheyLeave) {
    const struct {
        const char* what; bool windows95; const char* answers; void (*page)(); const char* returned;
        std::vector<int> pages;
        const char* pending;  // nullptr: not looked at
        std::size_t reboots = 0; bool tokenRefused = false;
    } rows[] = {
        // Back shows the same page again (as a word other than the four
        // would; ClassifyEvent covers those, the toolkit gives no other).
        {"welcome: cancel asks, continue there shows it again", false,
         "100 CANCEL\n200 CONTINUE\n100 EXIT\n200 CANCEL\n100 BACK\n100 CONTINUE\n", [] { WelcomePage(); }, "1",
         {100, 200, 100, 200, 100, 100}, nullptr},
        {"welcome: exit on the quit confirmation ends setup", false, "100 CANCEL\n200 BACK\n200 EXIT\n",
         [] { WelcomePage(); }, "", {100, 200, 200}, nullptr},
        {"information pages finish only on their own events", false,
         "2000 BACK\n2000 CANCEL\n2000 EXIT\n2000 CONTINUE\n1000 CANCEL\n1000 CONTINUE\n1600 EXIT\n1600 CONTINUE\n",
         [] { UnsupportedPlatformPage(); UpgradeNoticePage(); RebootFailedPage(); }, "1",
         {2000, 2000, 2000, 2000, 1000, 1000, 1600, 1600}, nullptr},
        {"version warning: back again, cancel goes on", false, "2100 BACK\n2100 CANCEL\n2100 CONTINUE\n",
         [] { VersionWarningPage(); VersionWarningPage(); }, "1", {2100, 2100, 2100}, nullptr},
        {"version warning: exit ends setup", false, "2100 EXIT\n", [] { VersionWarningPage(); }, "", {2100}, nullptr},
        {"done pages ask before quitting", false,
         "700 CANCEL\n200 CONTINUE\n700 CONTINUE\n7802 EXIT\n200 CANCEL\n7802 CONTINUE\n",
         [] { InstallDonePage(); RemoveDonePage(); }, "1", {700, 200, 700, 7802, 200, 7802}, nullptr},
        {"driver files failed on NT", false, "1300 EXIT\n200 CANCEL\n1300 CONTINUE\n",
         [] { ::Setup.IsWindows95 = FALSE; DriverFilesFailedPage(); }, "1", {1300, 200, 1300}, nullptr},
        {"driver files failed on Windows 95", false, "103 CONTINUE\n",
         [] { ::Setup.IsWindows95 = TRUE; DriverFilesFailedPage(); }, "1", {103}, nullptr},
        {"path notice closes on cancel too", false, "6400 BACK\n6400 CANCEL\n6400 CONTINUE\n",
         [] { PathNoticePage(); PathNoticePage(); }, "1", {6400, 6400, 6400}, nullptr},
        {"not administrator: continue ends setup", false, "2400 CANCEL\n2400 EXIT\n2400 BACK\n2400 CONTINUE\n",
         [] { NotAdministratorPage(); }, "", {2400, 2400, 2400, 2400}, nullptr},
        {"NT restart page: continue prepares the restart", false, "1500 CONTINUE\n", [] { InstallRebootPage(); },
         "1", {1500}, "1"},
        {"restart page: cancel means no restart", false, "7803 EXIT\n7803 CANCEL\n", [] { RemoveRebootPage(); }, "1",
         {7803, 7803}, "0"},
        {"Windows 95 restarts at once", true, "7803 CONTINUE\n",
         [] { ::Setup.IsWindows95 = TRUE; RemoveRebootPage(); }, "1", {7803}, "0", 1},
        {"failed preparation shows the reboot-failed page", false, "1500 CONTINUE\n1600 CONTINUE\n",
         [] { InstallRebootPage(); }, "1", {1500, 1600}, "0", 0, true},
    };
    std::set<std::string> shown;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h(row.windows95 ? win95() : nt351());
        if (row.tokenRefused) failNext("OpenProcessToken", 0, ERROR_ACCESS_DENIED);
        ChildResult r = h.run(row.answers, [&row] {
            row.page();
            report("pending=%d", ::Setup.RebootPending);
        });
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("returned"), row.returned);
        EXPECT_EQ(r.pages(), row.pages);
        if (row.pending) {
            EXPECT_EQ(r.value("pending"), row.pending);
        }
        EXPECT_EQ(r.lines("reboot").size(), row.reboots);
        EXPECT_TRUE(r.lines("error").empty());
        for (const auto& l : r.lines("shown ")) shown.insert(l);
    }
    // Every page's procedure and help page.
    Lines procedures;
    for (const auto& l : shown) procedures.push_back(l.substr(6, l.size() - 19));
    EXPECT_EQ(procedures, (Lines{"100 FWelcomeDlgProc help 900", "1000 FInfoDlgProc help 0", "103 FInfoDlgProc help 0",
                                 "1300 FInfoDlgProc help 0", "1500 FInfoDlgProc help 0", "1600 FInfoDlgProc help 0",
                                 "200 FQuitDlgProc help 900", "2000 FInfoDlgProc help 0", "2100 FQuitDlgProc help 0",
                                 "2400 FInfoDlgProc help 0", "6400 FInfo0DlgProc help 0", "700 FInfoDlgProc help 0",
                                 "7802 FInfoDlgProc help 0", "7803 FInfoDlgProc help 0"}));
    for (const auto& l : shown) EXPECT_EQ(l.substr(l.size() - 13), " cursor arrow");
}

// Modeless pages take no answer: each shows its status line and stays until
// popped.
TEST(ModelessPages, ShowTheirStatusUntilPopped) {
    Harness h;
    ChildResult r = h.run("", [] {
        SpoolerStopPage();
        SpoolerStartPage();
        DriverInstallPage();
        ProgramGroupPage();
        TkPopDialogs(1);
        TkPopAllDialogs();
    });
    EXPECT_TRUE(r.pages().empty());
    Lines expected;
    for (auto [page, text] : {std::pair{"5100", "Stopping the print spooler..."}, {"5300", "Starting the print spooler..."},
                              {"1800", "Installing the printer drivers..."}, {"1700", "Creating the program group..."}})
        expected.insert(expected.end(), {std::string("status ") + page + " " + text,
                                         std::string("shown ") + page + " FModelessDlgProc help 0 cursor arrow"});
    expected.insert(expected.end(), {"status 1700 end", "status 1800 end", "status 5300 end", "status 5100 end"});
    EXPECT_EQ(r.lines("s"), expected);
}

TEST(StripTrailingBackslash, RemovesOneFinalBackslash) {
    const std::pair<std::string, const char*> cases[] = {
        {"D:\\", "D:"}, {"D:\\dist\\\\", "D:\\dist\\"}, {"D:\\dist", "D:\\dist"}, {"", ""}, {"\\", ""}};
    for (const auto& [in, out] : cases) {
        std::string text = in;
        StripTrailingBackslash(text.data());
        EXPECT_STREQ(text.c_str(), out) << in;
    }
}

}  // namespace
