// The page protocol and the simple pages.
#include <gtest/gtest.h>

#include "pages/pages.h"
#include "setup/harness.h"
#include "setup/setup.h"

using harness::ChildResult;
using harness::Harness;

namespace {

TEST(ClassifyEvent, SumsTheFirstTwoCharacters) {
    // Only the sum counts: other words with the same sum act alike.
    // Characters above 127 count negative; the sum is taken modulo 65536.
    const std::pair<const char*, int> cases[] = {
        {"BACK", EVENT_BACK}, {"CANCEL", EVENT_CANCEL}, {"CONTINUE", EVENT_CONTINUE}, {"EXIT", EVENT_EXIT},
        {"BA", EVENT_BACK},   {"AB", EVENT_BACK},       {"DN", EVENT_CONTINUE},       {"back", 'b' + 'a'},
        {"", 0},              {"B", 'B'},               {"\xff\xff", 65534}};
    for (auto [word, event] : cases) EXPECT_EQ(ClassifyEvent(word), event) << word;
}

// Each page run in a child with its answers: whether it came back, the
// pages shown, and the restart it left.
TEST(SimplePages, AnswersAndWhatTheyLeave) {
    const struct {
        const char* what;
        bool windows95;
        const char* answers;
        void (*page)();
        const char* returned;
        std::vector<int> pages;
        const char* pending;  // nullptr: not looked at
        std::size_t reboots;
        bool tokenRefused = false;
    } rows[] = {
        // Back and an unknown word show the same page again.
        {"welcome: cancel asks, continue there shows it again", false,
         "100 CANCEL\n200 CONTINUE\n100 EXIT\n200 CANCEL\n100 BACK\n100 HELLO\n100 CONTINUE\n", [] { WelcomePage(); },
         "1", {100, 200, 100, 200, 100, 100, 100}, nullptr, 0},
        {"welcome: exit on the quit confirmation ends setup", false, "100 CANCEL\n200 BACK\n200 EXIT\n",
         [] { WelcomePage(); }, "", {100, 200, 200}, nullptr, 0},
        {"information pages finish only on their own events", false,
         "2000 BACK\n2000 CANCEL\n2000 EXIT\n2000 CONTINUE\n1000 CANCEL\n1000 CONTINUE\n",
         [] {
             UnsupportedPlatformPage();
             UpgradeNoticePage();
         },
         "1", {2000, 2000, 2000, 2000, 1000, 1000}, nullptr, 0},
        {"done pages ask before quitting", false,
         "700 CANCEL\n200 CONTINUE\n700 CONTINUE\n7802 EXIT\n200 CANCEL\n7802 CONTINUE\n",
         [] {
             InstallDonePage();
             RemoveDonePage();
         },
         "1", {700, 200, 700, 7802, 200, 7802}, nullptr, 0},
        {"driver files failed on NT", false, "1300 CONTINUE\n",
         [] {
             ::Setup.IsWindows95 = FALSE;
             DriverFilesFailedPage();
         },
         "1", {1300}, nullptr, 0},
        {"driver files failed on Windows 95", false, "103 CONTINUE\n",
         [] {
             ::Setup.IsWindows95 = TRUE;
             DriverFilesFailedPage();
         },
         "1", {103}, nullptr, 0},
        {"path notice closes on cancel too", false, "6400 BACK\n6400 CANCEL\n6400 CONTINUE\n",
         [] {
             PathNoticePage();
             PathNoticePage();
         },
         "1", {6400, 6400, 6400}, nullptr, 0},
        {"not administrator: continue ends setup", false, "2400 CANCEL\n2400 CONTINUE\n",
         [] { NotAdministratorPage(); }, "", {2400, 2400}, nullptr, 0},
        {"NT restart page: continue prepares the restart", false, "1500 CONTINUE\n", [] { InstallRebootPage(); },
         "1", {1500}, "1", 0},
        {"restart page: cancel means no restart", false, "7803 EXIT\n7803 CANCEL\n", [] { RemoveRebootPage(); }, "1",
         {7803, 7803}, "0", 0},
        {"Windows 95 restarts at once", true, "7803 CONTINUE\n",
         [] {
             ::Setup.IsWindows95 = TRUE;
             RemoveRebootPage();
         },
         "1", {7803}, "0", 1},
        {"failed preparation shows the reboot-failed page", false, "1500 CONTINUE\n1600 CONTINUE\n",
         [] { InstallRebootPage(); }, "1", {1500, 1600}, "0", 0, true},
    };
    for (const auto& row : rows) {
        Harness h(row.windows95 ? harness::win95() : harness::nt351());
        if (row.tokenRefused) h.machine().faults.push_back({"OpenProcessToken", 1, 0, ERROR_ACCESS_DENIED, ""});
        ChildResult r = h.run(row.answers, [&row](LPSTR) {
            row.page();
            harness::report("returned=1");
            harness::report("pending=%d", ::Setup.RebootPending);
            return 0;
        });
        EXPECT_EQ(r.exitCode, 0) << row.what << r.output;
        EXPECT_EQ(r.value("returned"), row.returned) << row.what;
        EXPECT_EQ(r.pages(), row.pages) << row.what;
        if (row.pending) EXPECT_EQ(r.value("pending"), row.pending) << row.what;
        EXPECT_EQ(r.lines("reboot").size(), row.reboots) << row.what;
        EXPECT_TRUE(r.lines("error").empty()) << row.what;
    }
}

TEST(QuestionPages, AnswerIsOneOnlyOnContinue) {
    Harness h;
    ChildResult r = h.run("1200 BACK\n1200 CONTINUE\n1400 CANCEL\n", [](LPSTR) {
        LONG wizard = 7, help = 7;
        AskWizardPage(&wizard);
        AskHelpPage(&help);
        harness::report("wizard=%d", (int)wizard);
        harness::report("help=%d", (int)help);
        return 0;
    });
    EXPECT_EQ(r.value("wizard"), "1");
    EXPECT_EQ(r.value("help"), "0");
    EXPECT_EQ(r.pages(), (std::vector<int>{1200, 1200, 1400}));
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
