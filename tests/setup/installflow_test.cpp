// The installation flow (the Files record, the closing pages by platform and
// upgrade, the programs started after the last page, the outcome), the
// program starter, and the reporters: the two fatal reporters with their
// one-shot guards, the status page. (Formatted message boxes show in the
// install and removal tests.)
#include <gtest/gtest.h>

#include "install/records.h"
#include "setup/harness.h"
#include "winsim/core/handles.h"

using namespace harness;

namespace {

TEST(InstallationFlow, ClosingPagesFollowPlatformAndUpgrade) {
    const std::string wizard = "program C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe";
    const struct {
        const char* name; winsim::OsInfo os; bool upgrade; const char* answers; std::vector<int> pages; Lines programs;
        const char* result; LONG type = INSTALL_SYSTEM_DRIVE;
    } rows[] = {
        {"NT 3.51 fresh, both programs", nt351(), false, "1200 CONTINUE\n1400 CONTINUE\n700 CONTINUE\n",
         {1200, 1400, 700}, {wizard, "program winhlp32.exe vrdpsmon.hlp"}, "installed restart=no"},
        {"NT 3.51 upgrade: no restart pages", nt351(), true, "1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n",
         {1200, 1400, 700}, {}, "upgraded restart=no"},
        {"Windows 95 fresh, help only", win95(), false, "1200 CANCEL\n1400 CONTINUE\n700 CONTINUE\n",
         {1200, 1400, 700}, {"program winhelp.exe vrdpsmw4.hlp"}, "installed restart=no"},
        {"NT 3.1 upgrade, restart later", nt31(), true, "1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n",
         {1000, 1500, 700}, {}, "upgraded restart=needed"},
        {"NT 3.1 upgrade, restart prepared: no done page", nt31(), true, "1000 CONTINUE\n1500 CONTINUE\n",
         {1000, 1500}, {}, "upgraded restart=needed"},
        {"Windows 95 upgrade, restart later", win95(), true, "1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n",
         {1000, 1500, 700}, {}, "upgraded restart=needed"},
        {"chosen destination writes the Files key", nt351(), false, "1200 CONTINUE\n1400 CANCEL\n700 CONTINUE\n",
         {1200, 1400, 700}, {wizard}, "installed restart=no", INSTALL_CHOSEN_DEST},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.os);
        copyDistribution(h);
        bool nt = winsim::machine().os.isNT();
        if (nt) putNtModules(h, winsim::machine().os.minor >= 50 ? "1" : "");
        else h.writeFile(winsim::machine().systemDir + "\\pscript.drv");
        if (row.upgrade) winsim::defineMonitor("Varden Network Port", nt ? "vrdpsmon.dll" : "vrdpsmw4.dll", {});
        LONG type = row.type;
        ChildResult r = h.run(row.answers, [type] {
            startupState(type);
            RunInstallationFlow();
            ReportOutcome(OUTCOME_NOTHING);
            HKEY key = nullptr;
            report("files=%d", RegOpenKeyExA(HKEY_LOCAL_MACHINE, FILES_KEY_PATH, 0, KEY_READ, &key) == 0);
            report("version=%d", RegOpenKeyExA(HKEY_LOCAL_MACHINE, VERSION_KEY_PATH, 0, KEY_READ, &key) == 0);
            report("reboot=%d", (int)::Setup.RebootPending);
        });
        ASSERT_EQ(r.value("returned"), "1") << r.output;
        EXPECT_EQ(r.pages(), row.pages);
        EXPECT_EQ(r.lines("program"), row.programs);
        EXPECT_EQ(r.value("reboot"), row.pages.back() == 1500 ? "1" : "0");
        EXPECT_EQ(r.value("version"), "1");
        EXPECT_EQ(r.value("files"), row.type == INSTALL_CHOSEN_DEST ? "1" : "0");
        EXPECT_EQ(std::filesystem::exists(h.host("C:\\win32app\\vrdpsmon\\sys\\vrdsys.bin")),
                  row.type == INSTALL_CHOSEN_DEST);
        EXPECT_EQ(r.lines("result"), Lines{std::string("result ") + row.result});
    }
}

// Open kernel handles, counted over the table's first range.
int openHandles() {
    int n = 0;
    for (std::uintptr_t v = 1; v < 0x4000; ++v)
        if (winsim::findHandle((HANDLE)v)) ++n;
    return n;
}

TEST(StartProgram, StartsWithoutKeepingHandles) {
    Harness h;
    ChildResult r = h.run("", [] {
        int before = openHandles();
        report("started=%d", (int)StartProgram("write.exe notes.wri", "C:\\"));
        report("leaked=%d", openHandles() - before);
        SetLastError(0);
        report("long=%d", (int)StartProgram(std::string(1024, 'a').c_str(), "C:\\"));
        report("error=%u", (unsigned)GetLastError());
    });
    EXPECT_EQ(r.report, (Lines{"started=1", "leaked=0", "long=0", "error=87", "returned=1"})) << r.output;
    EXPECT_EQ(r.lines("program"), (Lines{"program write.exe notes.wri"}));
}

// --- Reporters -----------------------------------------------------------------

// The fatal reporters pop what is shown, show one error page (left only with
// CANCEL or CONTINUE), run the pending clean-up once,
// drop a pending restart and end the process with 0. A second report on the
// way out of the first (here from an exit handler, as a failure while the
// toolkit ends would) shows no second page; a toolkit failure inside
// FailSetup (a quit met while its dialogs are popped) shows the toolkit error
// page instead of the text.
TEST(FatalReporters, OneErrorPageThenExitCodeZero) {
    const struct {
        const char* what; const char* answers; void (*body)(); std::vector<int> pages; const char* error;
        const char* result = "failed"; Lines report = {}, status = {};
    } rows[] = {
        {"formatted text", "2300 CONTINUE\n", [] { FailSetup("startSpooler failed, error = %d", 1058); }, {2300},
         "error startSpooler failed, error = 1058"},
        {"text without placeholders", "2300 CANCEL\n", [] { FailSetup("System path string too small"); }, {2300},
         "error System path string too small"},
        {"only cancel and continue leave", "2300 EXIT\n2300 BACK\n2300 EXIT\n2300 CANCEL\n", [] { FailSetup("x"); },
         {2300, 2300, 2300, 2300}, "error x"},
        {"pending restart dropped", "2300 CONTINUE\n", [] { ::Setup.RebootPending = TRUE; FailSetup("x"); }, {2300},
         "error x"},
        {"status page popped first", "2300 CONTINUE\n", [] { OpenStatusPage("h", "m"); FailSetup("x"); }, {2300},
         "error x", "failed", {}, {"status 7804 h: m", "status 7804 end"}},
        {"status page popped first by the toolkit error", "2300 CONTINUE\n",
         [] { OpenStatusPage("h", "m"); ShowToolkitError(1024); }, {2300}, "error Error code = 1024", "failed", {},
         {"status 7804 h: m", "status 7804 end"}},
        {"clean-up run once", "2300 CONTINUE\n", [] {
             SetFatalCleanup([] { report("cleanup"); });
             winsim::addExitHandler([](UINT) { FailSetup("second"); });
             FailSetup("x");
         }, {2300}, "error x", "failed", {"cleanup"}},
        {"FailSetup twice", "2300 CONTINUE\n", [] {
             winsim::addExitHandler([](UINT) { FailSetup("second"); });
             FailSetup("first");
         }, {2300}, "error first"},
        {"toolkit failure inside FailSetup", "2300 CONTINUE\n", [] { PostQuitMessage(0); FailSetup("first"); },
         {2300}, "error Error code = 1025", "cancelled"},
        {"ShowToolkitError twice", "2300 CONTINUE\n", [] {
             winsim::addExitHandler([](UINT) { ShowToolkitError(1024); });
             ShowToolkitError(1025);
         }, {2300}, "error Error code = 1025"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h;
        ChildResult r = h.run(row.answers, row.body);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.pages(), row.pages);
        // The error page logs its text each time it shows.
        EXPECT_EQ(r.lines("error"), Lines(row.pages.size(), row.error));
        EXPECT_EQ(r.lines("shown 2300 FErrorDlgProc help 0 cursor ").size(), row.pages.size());
        EXPECT_TRUE(r.lines("reboot").empty());
        EXPECT_EQ(r.lines("result"), Lines{std::string("result ") + row.result + " restart=no"});
        EXPECT_TRUE(r.hasLine("exit 0"));
        EXPECT_EQ(r.report, row.report);
        EXPECT_EQ(r.lines("status"), row.status);
        // The status page is popped before the error page shows.
        auto at = [&](const std::string& l) { auto i = std::find(r.log.begin(), r.log.end(), l); return i == r.log.end() ? -1 : i - r.log.begin(); };
        EXPECT_LT(at("status 7804 end"), at(row.error));
    }
}

// The status page shows its header and message under the wait cursor, takes
// no answer, and gives the cursor back when it closes.
TEST(StatusPage, OpensModelessUnderTheWaitCursorAndRestoresIt) {
    Harness h;
    ChildResult r = h.run("", [] {
        HCURSOR arrow = LoadCursorA(NULL, IDC_ARROW);
        SetCursor(arrow);
        HCURSOR previous = OpenStatusPage("Removing", "Deleting ports");
        CloseStatusPage(previous);
        report("previous arrow %d, restored %d", previous == arrow, SetCursor(arrow) == arrow);
    });
    EXPECT_EQ(r.report, (Lines{"previous arrow 1, restored 1", "returned=1"})) << r.output;
    EXPECT_TRUE(r.pages().empty());
    EXPECT_EQ(r.lines("s"), (Lines{"status 7804 Removing: Deleting ports",
                                   "shown 7804 FStatusDlgProc help 0 cursor wait", "status 7804 end"}));
}

}  // namespace
