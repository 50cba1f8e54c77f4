// The page protocol and the simple pages.
#include <gtest/gtest.h>

#include "pages/pages.h"
#include "setup/harness.h"
#include "setup/setup.h"

using harness::ChildResult;
using harness::Harness;

namespace {

TEST(ClassifyEvent, SumsTheFirstTwoCharacters) {
    EXPECT_EQ(ClassifyEvent("BACK"), EVENT_BACK);
    EXPECT_EQ(ClassifyEvent("CANCEL"), EVENT_CANCEL);
    EXPECT_EQ(ClassifyEvent("CONTINUE"), EVENT_CONTINUE);
    EXPECT_EQ(ClassifyEvent("EXIT"), EVENT_EXIT);
    EXPECT_EQ(ClassifyEvent("BA"), EVENT_BACK);
    // Only the sum counts: other words with the same sum act alike.
    EXPECT_EQ(ClassifyEvent("AB"), EVENT_BACK);
    EXPECT_EQ(ClassifyEvent("DN"), EVENT_CONTINUE);
    EXPECT_EQ(ClassifyEvent("back"), 'b' + 'a');
    EXPECT_EQ(ClassifyEvent(""), 0);
    EXPECT_EQ(ClassifyEvent("B"), 'B');
    // Characters above 127 count negative; the sum is taken modulo 65536.
    EXPECT_EQ(ClassifyEvent("\xff\xff"), 65534);
}

// Runs one page function in a child and reports how it came back.
template <class F>
ChildResult runPage(Harness& h, const std::string& answers, F page) {
    return h.run(answers, [page](LPSTR) {
        page();
        harness::report("returned=1");
        harness::report("pending=%d", ::Setup.RebootPending);
        return 0;
    });
}

TEST(WelcomePage, CancelAsksAndContinueThereShowsWelcomeAgain) {
    Harness h;
    ChildResult r = runPage(h, "100 CANCEL\n200 CONTINUE\n100 EXIT\n200 CANCEL\n100 BACK\n100 CONTINUE\n",
                            [] { WelcomePage(); });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("returned"), "1");
    // Back shows the same page again (as any word other than the four
    // would; ClassifyEvent above covers those).
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 200, 100, 200, 100, 100}));
}

TEST(WelcomePage, ExitOnTheQuitConfirmationEndsSetup) {
    Harness h;
    ChildResult r = runPage(h, "100 CANCEL\n200 BACK\n200 EXIT\n", [] { WelcomePage(); });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 200, 200}));
    EXPECT_TRUE(r.lines("error").empty());
    EXPECT_TRUE(r.lines("reboot").empty());
}

TEST(InfoPages, OnlyTheirOwnEventsFinishThem) {
    Harness h;
    ChildResult r = runPage(h, "2000 BACK\n2000 CANCEL\n2000 EXIT\n2000 CONTINUE\n1000 CANCEL\n1000 CONTINUE\n",
                            [] {
                                UnsupportedPlatformPage();
                                UpgradeNoticePage();
                            });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("returned"), "1");
    EXPECT_EQ(r.pages(), (std::vector<int>{2000, 2000, 2000, 2000, 1000, 1000}));
}

TEST(InfoPages, DonePagesAskBeforeQuitting) {
    Harness h;
    ChildResult r = runPage(h, "700 CANCEL\n200 CONTINUE\n700 CONTINUE\n7802 EXIT\n200 CANCEL\n7802 CONTINUE\n",
                            [] {
                                InstallDonePage();
                                RemoveDonePage();
                            });
    EXPECT_EQ(r.value("returned"), "1");
    EXPECT_EQ(r.pages(), (std::vector<int>{700, 200, 700, 7802, 200, 7802}));
}

TEST(InfoPages, DriverFilesFailedPicksItsDialogByPlatform) {
    Harness h;
    ChildResult nt = runPage(h, "1300 CONTINUE\n", [] {
        ::Setup.IsWindows95 = FALSE;
        DriverFilesFailedPage();
    });
    EXPECT_EQ(nt.pages(), (std::vector<int>{1300}));
    ChildResult w95 = runPage(h, "103 CONTINUE\n", [] {
        ::Setup.IsWindows95 = TRUE;
        DriverFilesFailedPage();
    });
    EXPECT_EQ(w95.pages(), (std::vector<int>{103}));
}

TEST(InfoPages, PathNoticeClosesOnCancelToo) {
    Harness h;
    ChildResult r = runPage(h, "6400 BACK\n6400 CANCEL\n6400 CONTINUE\n", [] {
        PathNoticePage();
        PathNoticePage();
    });
    EXPECT_EQ(r.value("returned"), "1");
    EXPECT_EQ(r.pages(), (std::vector<int>{6400, 6400, 6400}));
}

TEST(NotAdministratorPage, ContinueEndsSetup) {
    Harness h;
    ChildResult r = runPage(h, "2400 CANCEL\n2400 CONTINUE\n", [] { NotAdministratorPage(); });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.pages(), (std::vector<int>{2400, 2400}));
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

TEST(RebootPages, NtContinuePreparesTheRestart) {
    Harness h;
    ChildResult r = runPage(h, "1500 CONTINUE\n", [] { InstallRebootPage(); });
    EXPECT_EQ(r.value("returned"), "1");
    EXPECT_EQ(r.value("pending"), "1");
    EXPECT_TRUE(r.lines("reboot").empty());
}

TEST(RebootPages, CancelMeansNoRestart) {
    Harness h;
    ChildResult r = runPage(h, "7803 EXIT\n7803 CANCEL\n", [] { RemoveRebootPage(); });
    EXPECT_EQ(r.value("pending"), "0");
    EXPECT_EQ(r.pages(), (std::vector<int>{7803, 7803}));
}

TEST(RebootPages, Windows95RestartsAtOnce) {
    Harness h(harness::win95());
    ChildResult r = runPage(h, "7803 CONTINUE\n", [] {
        ::Setup.IsWindows95 = TRUE;
        RemoveRebootPage();
    });
    EXPECT_EQ(r.value("pending"), "0");
    EXPECT_EQ(r.lines("reboot").size(), 1u);
}

TEST(RebootPages, FailedPreparationShowsTheRebootFailedPage) {
    Harness h;
    h.machine().faults.push_back(winsim::Fault{"OpenProcessToken", 1, 0, ERROR_ACCESS_DENIED, ""});
    ChildResult r = runPage(h, "1500 CONTINUE\n1600 CONTINUE\n", [] { InstallRebootPage(); });
    EXPECT_EQ(r.value("returned"), "1");
    EXPECT_EQ(r.value("pending"), "0");
    EXPECT_EQ(r.pages(), (std::vector<int>{1500, 1600}));
}

TEST(StripTrailingBackslash, RemovesOneFinalBackslash) {
    Harness h;
    char root[] = "D:\\";
    StripTrailingBackslash(root);
    EXPECT_STREQ(root, "D:");
    char twice[] = "D:\\dist\\\\";
    StripTrailingBackslash(twice);
    EXPECT_STREQ(twice, "D:\\dist\\");
    char none[] = "D:\\dist";
    StripTrailingBackslash(none);
    EXPECT_STREQ(none, "D:\\dist");
    char empty[] = "";
    StripTrailingBackslash(empty);
    EXPECT_STREQ(empty, "");
    char single[] = "\\";
    StripTrailingBackslash(single);
    EXPECT_STREQ(single, "");
}

}  // namespace
