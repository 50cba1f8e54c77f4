// The reporters: message box, the two fatal reporters and their one-shot
// guards, the status page.
#include <gtest/gtest.h>

#include "setup/harness.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

using harness::ChildResult;
using harness::Harness;

namespace {

TEST(ShowSetupMessage, FormatsIntoABoxAndGoesOn) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) -> int {
        ShowSetupMessage("Install", "Install -- AddMonitor failed, error = %d", 5);
        ShowSetupMessage("Deinstall", "nothing to format");
        harness::report("after=1");
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("after"), "1");
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box Install: Install -- AddMonitor failed, error = 5",
                                                        "box Deinstall: nothing to format"}));
}

TEST(FailSetup, ShowsTheTextAndEndsWithExitCodeZero) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) -> int {
        FailSetup("startSpooler failed, error = %d", 1058);
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error startSpooler failed, error = 1058"}));
    EXPECT_TRUE(r.lines("reboot").empty());
    EXPECT_TRUE(r.hasLine("exit 0"));
}

TEST(FailSetup, TextWithoutPlaceholdersIsShownUnchanged) {
    Harness h;
    ChildResult r = h.run("2300 CANCEL\n", [](LPSTR) -> int { FailSetup("System path string too small"); });
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error System path string too small"}));
}

TEST(FailSetup, OnlyCancelAndContinueLeaveTheErrorPage) {
    Harness h;
    ChildResult r = h.run("2300 EXIT\n2300 BACK\n2300 EXIT\n2300 CANCEL\n",
                          [](LPSTR) -> int { FailSetup("x"); });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pages(), (std::vector<int>{2300, 2300, 2300, 2300}));
}

TEST(FailSetup, PendingRestartIsDropped) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) -> int {
        ::Setup.RebootPending = TRUE;
        FailSetup("x");
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.lines("reboot").empty());
}

// A second FailSetup on the way out of the first (here from an exit
// handler, as a failure while the toolkit ends would) shows no second page
// and still ends the process with 0.
TEST(FailSetup, CalledTwiceShowsOnePage) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) -> int {
        winsim::addExitHandler([](UINT) { FailSetup("second"); });
        FailSetup("first");
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error first"}));
}

// A toolkit failure inside FailSetup (a quit met while its dialogs are
// popped) shows the toolkit error page, once, instead of the text.
TEST(FailSetup, ToolkitFailureInsideShowsOneToolkitPage) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) -> int {
        PostQuitMessage(0);
        FailSetup("first");
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error Error code = 1025"}));
}

TEST(ShowToolkitError, CalledTwiceShowsOnePage) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) -> int {
        winsim::addExitHandler([](UINT) { ShowToolkitError(1024); });
        ShowToolkitError(1025);
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error Error code = 1025"}));
}

TEST(ShowToolkitError, ShowsTheCode) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) -> int { ShowToolkitError(1025); });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error Error code = 1025"}));
}

TEST(StatusPage, OpensModelessAndRestoresTheCursor) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) -> int {
        HCURSOR before = SetCursor(LoadCursorA(NULL, IDC_ARROW));
        HCURSOR previous = OpenStatusPage("Removing", "Deleting ports");
        char header[64], message[64];
        harness::report("header=%s", TkGetSymbol("StatusHeader", header, sizeof header));
        harness::report("message=%s", TkGetSymbol("StatusMessage", message, sizeof message));
        harness::report("prevIsArrow=%d", previous == LoadCursorA(NULL, IDC_ARROW));
        CloseStatusPage(previous);
        HCURSOR now = SetCursor(before);
        harness::report("restored=%d", now == LoadCursorA(NULL, IDC_ARROW));
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("header"), "Removing");
    EXPECT_EQ(r.value("message"), "Deleting ports");
    EXPECT_EQ(r.value("prevIsArrow"), "1");
    EXPECT_EQ(r.value("restored"), "1");
    EXPECT_TRUE(r.pages().empty());  // modeless pages take no answer
}

}  // namespace
