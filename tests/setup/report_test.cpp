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

// The fatal reporters show one error page (left only with CANCEL or
// CONTINUE), drop a pending restart and end the process with 0. A second
// report on the way out of the first (here from an exit handler, as a
// failure while the toolkit ends would) shows no second page; a toolkit
// failure inside FailSetup (a quit met while its dialogs are popped) shows
// the toolkit error page instead of the text.
TEST(FatalReporters, OneErrorPageThenExitCodeZero) {
    const struct {
        const char* what;
        const char* answers;
        int (*body)(LPSTR);
        std::vector<int> pages;
        const char* error;
    } rows[] = {
        {"formatted text", "2300 CONTINUE\n",
         [](LPSTR) -> int { FailSetup("startSpooler failed, error = %d", 1058); }, {2300},
         "error startSpooler failed, error = 1058"},
        {"text without placeholders", "2300 CANCEL\n", [](LPSTR) -> int { FailSetup("System path string too small"); },
         {2300}, "error System path string too small"},
        {"only cancel and continue leave", "2300 EXIT\n2300 BACK\n2300 EXIT\n2300 CANCEL\n",
         [](LPSTR) -> int { FailSetup("x"); }, {2300, 2300, 2300, 2300}, "error x"},
        {"pending restart dropped", "2300 CONTINUE\n",
         [](LPSTR) -> int {
             ::Setup.RebootPending = TRUE;
             FailSetup("x");
         },
         {2300}, "error x"},
        {"FailSetup twice", "2300 CONTINUE\n2300 CONTINUE\n",
         [](LPSTR) -> int {
             winsim::addExitHandler([](UINT) { FailSetup("second"); });
             FailSetup("first");
         },
         {2300}, "error first"},
        {"toolkit failure inside FailSetup", "2300 CONTINUE\n2300 CONTINUE\n",
         [](LPSTR) -> int {
             PostQuitMessage(0);
             FailSetup("first");
         },
         {2300}, "error Error code = 1025"},
        {"ShowToolkitError twice", "2300 CONTINUE\n2300 CONTINUE\n",
         [](LPSTR) -> int {
             winsim::addExitHandler([](UINT) { ShowToolkitError(1024); });
             ShowToolkitError(1025);
         },
         {2300}, "error Error code = 1025"},
    };
    for (const auto& row : rows) {
        Harness h;
        ChildResult r = h.run(row.answers, row.body);
        EXPECT_EQ(r.exitCode, 0) << row.what;
        EXPECT_EQ(r.pages(), row.pages) << row.what;
        // The error page logs its text each time it shows.
        EXPECT_EQ(r.lines("error"), std::vector<std::string>(row.pages.size(), row.error)) << row.what;
        EXPECT_TRUE(r.lines("reboot").empty()) << row.what;
        EXPECT_TRUE(r.hasLine("exit 0")) << row.what;
    }
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
