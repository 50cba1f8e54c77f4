// WinMain up to the installation-type page (platform detection, the
// administrator check, the processor, the directories of the setup state,
// the spooler, start-up refusals and the end steps); the installation flow
// (the Files record, the closing pages by platform and upgrade, the programs
// started after the last page, the outcome); the program starter; the
// reporters: the two fatal reporters with their one-shot guards, the status
// page. (Formatted message boxes show in the install and removal tests.)
#include <gtest/gtest.h>

#include "install/records.h"
#include "setup/harness.h"
#include "winsim/core/handles.h"

using namespace harness;

namespace {

struct StartRow {
    const char* what;
    winsim::OsInfo os;
    void (*prepare)(Harness&);
    const char* pages;  // the pages shown, each answered CONTINUE (removal chosen on 800)
    // Lines of the log or of the report the run must write; "!x": no line
    // starting with x.
    Lines want;
    bool admin = true;
    void (*before)() = nullptr;  // in the child, before WinMain
};

void nothing(Harness&) {}

// Runs WinMain and reports the setup state afterwards.
ChildResult runWinMain(Harness& h, const StartRow& row) {
    std::istringstream pages(row.pages);
    std::string answers;
    for (std::string page; pages >> page;) answers += page + (page == "800" ? " CONTINUE ButtonChecked=3\n" : " CONTINUE\n");
    return h.run(answers, [&row](LPSTR commandLine) {
        if (row.before) row.before();
        int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
        report("code=%d", code);
        report("win95 nt35 nt31=%d %d %d", ::Setup.IsWindows95, ::Setup.IsNT35, ::Setup.IsNT31);
        report("cpu=%s%s%s", ::Setup.IsAlpha ? "alpha" : "", ::Setup.IsMips ? "mips" : "", ::Setup.IsX86 ? "x86" : "");
        report("help=%s %s", ::Setup.HelpProgram ? ::Setup.HelpProgram : "", ::Setup.HelpFile ? ::Setup.HelpFile : "");
        report("dirs=%s|%s|%s|%s|%s", ::Setup.SystemDir, ::Setup.WindowsDir, ::Setup.InstallRoot, ::Setup.CopySourceDir,
               ::Setup.DriverDir);
        report("registry library loads=%d", winsim::machine().system->loadCounts["advapi32.dll"]);
        reportSpooler();
        return code;
    }, false);
}

const char* const kNtDirs = "dirs=C:\\WINNT35\\system32|C:\\WINNT35|C:\\win32app\\vrdpsmon|C:\\dist\\|"
                            "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32X86";
const char* const kNoAdmin = "!page 2400";

void stopSpooler(Harness& h, bool startable) {
    winsim::Service* spooler = winsim::findService(h.machine(), "Spooler");
    spooler->state = SERVICE_STOPPED;
    if (!startable) spooler->startType = SERVICE_DISABLED;
}

TEST(WinMain, StartUpByPlatform) {
    const StartRow rows[] = {
        // Which version words are served, which get the version warning
        // (2100) first, and the platform flags they set.
        {"3.51.1057", nt(3, 51, 1057), nothing, "100 800 7802", {"win95 nt35 nt31=0 1 0", "code=0", "exit 0"}},
        {"3.51.1056", nt(3, 51, 1056), nothing, "100 2000", {"win95 nt35 nt31=0 0 0", "code=0", "exit 0"}},
        {"3.50.807", nt(3, 50, 807), nothing, "100 800 7802", {"win95 nt35 nt31=0 1 0"}},
        {"3.50.806", nt(3, 50, 806), nothing, "100 2000", {"win95 nt35 nt31=0 0 0"}},
        {"3.10.528", nt(3, 10, 528), nothing, "100 800 7802", {"win95 nt35 nt31=0 0 1"}},
        {"3.1.511", nt(3, 1, 511), nothing, "100 800 7802", {"win95 nt35 nt31=0 0 1"}},
        {"3.199.511", nt(3, 199, 511), nothing, "100 2100 800 7802", {"win95 nt35 nt31=0 0 1"}},
        {"3.20.600", nt(3, 20, 600), nothing, "100 2000", {"win95 nt35 nt31=0 0 0"}},
        {"4.0.1381", nt(4, 0, 1381), nothing, "100 2000", {"win95 nt35 nt31=0 0 0"}},
        {"3.52.1100", nt(3, 52, 1100), nothing, "100 2100 2000", {"win95 nt35 nt31=0 0 0"}},
        {"4.50.1100", nt(4, 50, 1100), nothing, "100 2100 800 7802", {"win95 nt35 nt31=0 1 0"}},
        {"2.60.1100", nt(2, 60, 1100), nothing, "100 2000", {"win95 nt35 nt31=0 0 0"}},
        {"Windows 95", win95(), nothing, "100 800 7802", {"win95 nt35 nt31=1 0 0", "help=winhelp.exe vrdpsmw4.hlp"}},
        // The administrator check is NT's only.
        {"NT user", nt351(), nothing, "100 2400", {"!code=", "exit 0"}, false},
        {"Windows 95 user", win95(), nothing, "100 800 7802", {kNoAdmin, "code=0"}, false},
        // PROCESSOR_ARCHITECTURE, in any letter case, sets exactly one
        // processor flag; Windows 95 is x86 without looking at it.
        {"alpha", nt351("alpha"), nothing, "100 800 7802", {"cpu=alpha", "help=winhlp32.exe vrdpsmon.hlp"}},
        {"ALPHA", nt351("ALPHA"), nothing, "100 800 7802", {"cpu=alpha"}},
        {"Alpha", nt351("Alpha"), nothing, "100 800 7802", {"cpu=alpha"}},
        {"mips", nt351("mips"), nothing, "100 800 7802", {"cpu=mips"}},
        {"MIPS", nt351("MIPS"), nothing, "100 800 7802", {"cpu=mips"}},
        {"x86", nt351("x86"), nothing, "100 800 7802", {"cpu=x86", kNtDirs, "registry library loads=0"}},
        {"PPC", nt351("PPC"), nothing, "100 800 7802", {"cpu=x86"}},
        {"alphax", nt351("alphax"), nothing, "100 800 7802", {"cpu=x86"}},
        {"long name", nt351("AVeryLongProcessorName"), nothing, "100 800 7802", {"cpu=x86"}},
        {"fifteen letters", nt351("fifteen letters"), nothing, "100 800 7802", {"cpu=x86"}},
        {"unset", nt351(), [](Harness& h) { h.machine().environment.erase("PROCESSOR_ARCHITECTURE"); }, "100 800 7802",
         {"cpu=x86"}},
        {"Windows 95 ignores it", win95(), [](Harness& h) { h.machine().environment["PROCESSOR_ARCHITECTURE"] = "mips"; },
         "100 800 7802", {"cpu=x86"}},
        // The root of a drive loses its backslash; the root follows the
        // system drive.
        {"Windows on D:\\", nt351(), [](Harness& h) {
             h.addDrive('D', 100u * 1024 * 1024);
             h.machine().windowsDir = "D:\\";
             h.machine().systemDir = "D:\\system32";
             fs::create_directories(h.host("D:\\system32"));
         }, "100 800 7802", {"dirs=D:\\system32|D:|D:\\win32app\\vrdpsmon|C:\\dist\\|D:\\system32\\spool\\DRIVERS\\W32X86"}},
        // The toolkit's log names the file, and the line of a fault.
        {"no setup.inf", nt351(), [](Harness& h) { fs::remove(h.host("C:\\dist\\setup.inf")); }, "2300",
         {"error Error code = 1024", "!code=", "inf C:\\dist\\setup.inf: cannot be read (error 2)"}},
        {"malformed setup.inf", nt351(), [](Harness& h) { h.setInf("[PPD Files\nx = \"unterminated\n"); }, "2300",
         {"error Error code = 1024", "!code=", "inf C:\\dist\\setup.inf: line 1: section header without ']'"}},
        // A stopped spooler is started under its modeless page; one that
        // cannot start ends setup. NT 3.1x makes no spooler check: the
        // driver directory a stopped spooler would answer for cannot be read.
        {"spooler started", nt351(), [](Harness& h) { stopSpooler(h, true); }, "100 800 7802",
         {"status 5300 Starting the print spooler...", "status 5300 end", "!spooler=1"}},
        {"spooler will not start", nt351(), [](Harness& h) { stopSpooler(h, false); }, "100 2300",
         {"error startSpooler failed, error = 1058", "status 5300 end"}},
        {"NT 3.1 no spooler check", nt31(), [](Harness& h) { stopSpooler(h, false); }, "100 2300",
         {"error PPD path string too small", "!status"}},
        // The system and Windows directories that do not fit end setup.
        {"system directory too long", nt351(), [](Harness&) { failNext("GetSystemDirectoryA", 1, ERROR_INSUFFICIENT_BUFFER); },
         "100 2300", {"error System path string too small"}},
        {"Windows directory too long", nt351(), [](Harness&) { failNext("GetWindowsDirectoryA", 1, ERROR_INSUFFICIENT_BUFFER); },
         "100 2300", {"error Windows path string too small"}},
        // A restart prepared before the end: the end steps request it, or
        // show the warning box when the request fails.
        {"restart requested", nt351(), nothing, "100 800", {"!box"}, true, [] { PrepareReboot(); }},
        {"restart refused", nt351(), [](Harness&) { failNext("ExitWindowsEx", 0, ERROR_ACCESS_DENIED); }, "100 800",
         {"box Reboot Required: Unable to reboot automatically.  Please reboot manually.", "!reboot"}, true,
         [] { PrepareReboot(); }},
        // Without the registry library WinMain ends quietly.
        {"registry library incomplete", nt351(), [](Harness& h) {
             h.machine().system->modules["ADVAPI32.DLL"].missingExports.insert("RegOpenKeyA");
         }, "", {"code=0", "!box", "!error"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h(row.os, row.admin);
        h.setInf(sampleInf());
        row.prepare(h);
        ChildResult r = runWinMain(h, row);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        std::string pages;
        for (int page : r.pages()) pages += (pages.empty() ? "" : " ") + std::to_string(page);
        EXPECT_EQ(pages, row.pages);
        Lines all = r.log;
        all.insert(all.end(), r.report.begin(), r.report.end());
        for (const std::string& want : row.want) {
            if (want[0] != '!') EXPECT_TRUE(std::find(all.begin(), all.end(), want) != all.end()) << want;
            else EXPECT_EQ(withPrefix(all, want.substr(1)), Lines{}) << want;
        }
        EXPECT_EQ(r.lines("reboot").size(), std::string(row.what) == "restart requested" ? 1u : 0u);
    }
}

// NT prepares a restart for the end steps; Windows 95 restarts at once.
TEST(Restart, NtPreparesWindows95RestartsAtOnce) {
    for (bool windows95 : {false, true}) {
        Harness h(windows95 ? win95() : nt351());
        ChildResult r = h.run("", [windows95] {
            ::Setup.IsWindows95 = windows95;
            BOOL ok = PrepareReboot();
            report("%d %d", ok, ::Setup.RebootPending);
        });
        EXPECT_EQ(r.report, (Lines{windows95 ? "1 0" : "1 1", "returned=1"}));
        EXPECT_EQ(r.lines("reboot").size(), windows95 ? 1u : 0u);  // NT: only prepared
    }
}

TEST(Status, StsSucceededLooksAtTheLowBits) {
    for (auto [status, ok] : {std::pair{(DWORD)STS_DONE, true}, {(DWORD)STS_FAILED, false}, {3u, true},
                              {0x11u, true}, {0u, false}, {7u, false}})
        EXPECT_EQ(stsSucceeded(status) != FALSE, ok) << status;
}

// The closing pages by platform and upgrade, the programs started after
// the last page (each question says yes only on continue, back asks again), the outcome, and
// the records written, as one line each:
// "pages|programs|result|files version reboot load-files".
TEST(InstallationFlow, ClosingPagesFollowPlatformAndUpgrade) {
    const std::string wizard = "C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe ";
    const struct { winsim::OsInfo os; bool upgrade; LONG type; const char* answers; std::string state; } rows[] = {
        {nt351(), false, INSTALL_SYSTEM_DRIVE, "1200 CONTINUE\n1400 CONTINUE\n700 CONTINUE\n",
         "1200 1400 700|" + wizard + "winhlp32.exe vrdpsmon.hlp |installed restart=no|0 1 0 0"},
        {nt351(), true, INSTALL_SYSTEM_DRIVE, "1200 BACK\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n",
         "1200 1200 1400 700||upgraded restart=no|0 1 0 0"},
        {win95(), false, INSTALL_SYSTEM_DRIVE, "1200 CANCEL\n1400 CONTINUE\n700 CONTINUE\n",
         "1200 1400 700|winhelp.exe vrdpsmw4.hlp |installed restart=no|0 1 0 0"},
        {nt31(), true, INSTALL_SYSTEM_DRIVE, "1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n",
         "1000 1500 700||upgraded restart=needed|0 1 0 0"},
        // A restart prepared: no done page.
        {nt31(), true, INSTALL_SYSTEM_DRIVE, "1000 CONTINUE\n1500 CONTINUE\n", "1000 1500||upgraded restart=needed|0 1 1 0"},
        {win95(), true, INSTALL_SYSTEM_DRIVE, "1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n",
         "1000 1500 700||upgraded restart=needed|0 1 0 0"},
        // A chosen destination writes the Files key and gets the load files.
        {nt351(), false, INSTALL_CHOSEN_DEST, "1200 CONTINUE\n1400 CANCEL\n700 CONTINUE\n",
         "1200 1400 700|" + wizard + "|installed restart=no|1 1 0 1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
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
            HKEY files = nullptr, version = nullptr;
            report("%d %d %d %d", RegOpenKeyExA(HKEY_LOCAL_MACHINE, FILES_KEY_PATH, 0, KEY_READ, &files) == 0,
                   RegOpenKeyExA(HKEY_LOCAL_MACHINE, VERSION_KEY_PATH, 0, KEY_READ, &version) == 0,
                   (int)::Setup.RebootPending,
                   GetFileAttributesA("C:\\win32app\\vrdpsmon\\sys\\vrdsys.bin") != INVALID_FILE_ATTRIBUTES);
        });
        std::string state;
        for (int page : r.pages()) state += (state.empty() ? "" : " ") + std::to_string(page);
        state += "|";
        for (const auto& l : r.lines("program ")) state += l.substr(8) + " ";
        state += "|" + (r.lines("result ").empty() ? "" : r.lines("result ")[0].substr(7)) + "|";
        ASSERT_EQ(r.report.size(), 2u) << r.output;
        EXPECT_EQ(state + r.report[0], row.state);
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
        const char* what; const char* answers; void (*body)(); const char* error;
        const char* result = "failed"; Lines report = {}, status = {};
    } rows[] = {
        {"formatted text", "2300 CONTINUE\n", [] { FailSetup("startSpooler failed, error = %d", 1058); },
         "error startSpooler failed, error = 1058"},
        {"text without placeholders", "2300 CANCEL\n", [] { FailSetup("System path string too small"); },
         "error System path string too small"},
        {"only cancel and continue leave", "2300 EXIT\n2300 BACK\n2300 EXIT\n2300 CANCEL\n", [] { FailSetup("x"); }, "error x"},
        {"pending restart dropped", "2300 CONTINUE\n", [] { ::Setup.RebootPending = TRUE; FailSetup("x"); }, "error x"},
        {"status page popped first", "2300 CONTINUE\n", [] { OpenStatusPage("h", "m"); FailSetup("x"); }, "error x",
         "failed", {}, {"status 7804 h: m", "status 7804 end"}},
        {"status page popped first by the toolkit error", "2300 CONTINUE\n",
         [] { OpenStatusPage("h", "m"); ShowToolkitError(1024); }, "error Error code = 1024", "failed", {},
         {"status 7804 h: m", "status 7804 end"}},
        {"clean-up run once", "2300 CONTINUE\n", [] {
             SetFatalCleanup([] { report("cleanup"); });
             winsim::addExitHandler([](UINT) { FailSetup("second"); });
             FailSetup("x");
         }, "error x", "failed", {"cleanup"}},
        {"FailSetup twice", "2300 CONTINUE\n", [] {
             winsim::addExitHandler([](UINT) { FailSetup("second"); });
             FailSetup("first");
         }, "error first"},
        {"toolkit failure inside FailSetup", "2300 CONTINUE\n", [] { PostQuitMessage(0); FailSetup("first"); },
         "error Error code = 1025", "cancelled"},
        {"ShowToolkitError twice", "2300 CONTINUE\n", [] {
             winsim::addExitHandler([](UINT) { ShowToolkitError(1024); });
             ShowToolkitError(1025);
         }, "error Error code = 1025"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h;
        ChildResult r = h.run(row.answers, row.body);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.pages(), r.answered);
        // The error page logs its text each time it shows.
        EXPECT_EQ(r.lines("error"), Lines(r.answered.size(), row.error));
        EXPECT_EQ(r.lines("shown 2300 FErrorDlgProc help 0 cursor ").size(), r.answered.size());
        EXPECT_TRUE(r.lines("reboot").empty());
        EXPECT_EQ(r.lines("result"), Lines{std::string("result ") + row.result + " restart=no"});
        EXPECT_TRUE(r.hasLine("exit 0"));
        EXPECT_EQ(r.report, row.report);
        EXPECT_EQ(r.lines("status"), row.status);
        // The status page is popped before the error page shows.
        auto at = [&](const std::string& l) {
            auto i = std::find(r.log.begin(), r.log.end(), l);
            return i == r.log.end() ? -1 : i - r.log.begin();
        };
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
