// WinMain up to the installation-type page (platform, administrator, processor, directories, spooler, start-up
// refusals, end steps); the program starter; the fatal reporters with their one-shot guards, the status page. (The
// closing pages and programs: the scenarios.)
#include "install/records.h"
#include "setup/deinstall.h"
#include "setup/harness.h"
#include "winsim/core/handles.h"

using namespace harness;

namespace {

void nothing(Harness&) {}

void stopSpooler(Harness& h, bool startable) {
    winsim::Service* spooler = winsim::findService(h.machine(), "Spooler");
    spooler->state = SERVICE_STOPPED;
    if (!startable) spooler->startType = SERVICE_DISABLED;
}

const char* const kRemove = "100 800 7802";

// Each row's run, with what WinMain set (the report: its code, the platform and processor flags, the help program,
// the directories, the spooler), is pinned by its transcript; the comments say what the row is about.
TEST(WinMain, StartUpByPlatform) {
    const struct {
        winsim::OsInfo os;
        void (*prepare)(Harness&);
        const char* pages;  // the pages shown, each answered CONTINUE (removal chosen on 800)
        bool admin = true;
        void (*before)() = nullptr;  // in the child, before WinMain
    } rows[] = {
        // Which version words are served (as NT 3.5x or NT 3.1x), which are refused (2000), which get the version
        // warning (2100) first.
        {nt(3, 51, 1057), nothing, kRemove},              // NT 3.5x, no restart
        {nt(3, 51, 1056), nothing, "100 2000"},           // a build too early
        {nt(3, 50, 807), nothing, kRemove},               // NT 3.5x
        {nt(3, 50, 806), nothing, "100 2000"},            // a build too early
        {nt(3, 10, 528), nothing, kRemove},               // NT 3.1x
        {nt(3, 1, 511), nothing, kRemove},                // NT 3.1x
        {nt(3, 199, 511), nothing, "100 2100 800 7802"},  // NT 3.1x after the warning
        {nt(3, 20, 600), nothing, "100 2000"},
        {nt(4, 0, 1381), nothing, "100 2000"},
        {nt(3, 52, 1100), nothing, "100 2100 2000"},
        {nt(4, 50, 1100), nothing, "100 2100 800 7802"},  // NT 3.5x after the warning
        {nt(2, 60, 1100), nothing, "100 2000"},
        {win95(), nothing, kRemove},                      // Windows 95, with its own help program
        // The administrator check is NT's only.
        {nt351(), nothing, "100 2400", false},
        {win95(), nothing, kRemove, false},
        // PROCESSOR_ARCHITECTURE, in any letter case, sets exactly one processor flag (alpha, mips, else x86);
        // Windows 95 is x86 without looking at it.
        {nt351("alpha"), nothing, kRemove},  // with the NT help program
        {nt351("ALPHA"), nothing, kRemove},
        {nt351("Alpha"), nothing, kRemove},
        {nt351("mips"), nothing, kRemove},
        {nt351("MIPS"), nothing, kRemove},
        {nt351("x86"), nothing, kRemove},  // the NT directories; the registry library freed again
        {nt351("PPC"), nothing, kRemove},
        {nt351("alphax"), nothing, kRemove},
        {nt351("AVeryLongProcessorName"), nothing, kRemove},
        {nt351("fifteen letters"), nothing, kRemove},
        {nt351(), [](Harness& h) { h.machine().environment.erase("PROCESSOR_ARCHITECTURE"); }, kRemove},
        {win95(), [](Harness& h) { h.machine().environment["PROCESSOR_ARCHITECTURE"] = "mips"; }, kRemove},
        // The root of a drive loses its backslash; the root follows the system drive.
        {nt351(), [](Harness& h) {
             h.addDrive('D', 100u * 1024 * 1024);
             h.machine().windowsDir = "D:\\";
             h.machine().systemDir = "D:\\system32";
             fs::create_directories(h.host("D:\\system32"));
         }, kRemove},
        // An INF that cannot be opened ends setup, the toolkit's log naming the file. (A malformed one takes the same
        // path: the kit's tests show its line in the log.)
        {nt351(), [](Harness& h) { fs::remove(h.host("C:\\dist\\setup.inf")); }, "2300"},
        // A stopped spooler is started under its modeless page; one that cannot start ends setup. NT 3.1x makes no
        // spooler check: the driver directory a stopped spooler would answer for cannot be read.
        {nt351(), [](Harness& h) { stopSpooler(h, true); }, kRemove},
        {nt351(), [](Harness& h) { stopSpooler(h, false); }, "100 2300"},
        {nt31(), [](Harness& h) { stopSpooler(h, false); }, "100 2300"},
        // The system and Windows directories that do not fit end setup.
        {nt351(), [](Harness&) { failNext("GetSystemDirectoryA", 1, ERROR_INSUFFICIENT_BUFFER); }, "100 2300"},
        {nt351(), [](Harness&) { failNext("GetWindowsDirectoryA", 1, ERROR_INSUFFICIENT_BUFFER); }, "100 2300"},
        // A restart prepared before the end: the end steps request it, or show the warning box when the request
        // fails.
        {nt351(), nothing, "100 800", true, [] { PrepareReboot(); }},
        {nt351(), [](Harness&) { failNext("ExitWindowsEx", 0, ERROR_ACCESS_DENIED); }, "100 800", true, [] { PrepareReboot(); }},
        // Without the registry library WinMain ends quietly.
        {nt351(), [](Harness& h) { h.machine().system->modules["ADVAPI32.DLL"].missingExports.insert("RegOpenKeyA"); }, ""},
        {nt(5, 1, 2600), nothing, "100 2000"},  // a later major version is not served
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h(row.os, row.admin);
        h.setInf(sampleInf());
        row.prepare(h);
        std::istringstream pages(row.pages);
        std::string answers;
        for (std::string page; pages >> page;) answers += page + (page == "800" ? " CONTINUE ButtonChecked=3\n" : " CONTINUE\n");
        h.run(answers, [&row](LPSTR commandLine) {
            if (row.before) row.before();
            int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
            report("code=%d\nflags=%d %d %d\ncpu=%s%s%s\nhelp=%s %s\ndirs=%s|%s|%s|%s|%s\nregistry library loads=%d", code,
                   ::Setup.IsWindows95, ::Setup.IsNT35, ::Setup.IsNT31, ::Setup.IsAlpha ? "alpha" : "",
                   ::Setup.IsMips ? "mips" : "", ::Setup.IsX86 ? "x86" : "", ::Setup.HelpProgram ? ::Setup.HelpProgram : "",
                   ::Setup.HelpFile ? ::Setup.HelpFile : "", ::Setup.SystemDir, ::Setup.WindowsDir, ::Setup.InstallRoot,
                   ::Setup.CopySourceDir, ::Setup.DriverDir, winsim::machine().system->loadCounts["advapi32.dll"]);
            reportSpooler();
            return code;
        }, false);
    }
}

// The fatal reporters pop what is shown (the status page before the error page shows), show one error page (left only
// with CANCEL or CONTINUE), run the pending clean-up once, drop a pending restart and end the process with 0. A
// second report on the way out of the first (here from an exit handler, as a failure while the toolkit ends would)
// shows no second page; a toolkit failure inside FailSetup (a quit met while its dialogs are popped) shows the
// toolkit error page instead of the text.
TEST(Reporters, OneErrorPageThenExitCodeZeroStatusPageProgramStarterStatusBits) {
    // Each row's pages, log, report and exit are pinned by its transcript; the comments say what a row is about.
    const struct {
        const char* answers;
        void (*body)();
    } rows[] = {
        {"2300 CONTINUE\n", [] { FailSetup("startSpooler failed, error = %d", 1058); }},  // the text formatted
        {"2300 CANCEL\n", [] { FailSetup("System path string too small"); }},         // left with CANCEL
        {"2300 EXIT\n2300 BACK\n2300 EXIT\n2300 CANCEL\n", [] { FailSetup("x"); }},  // EXIT and BACK do not leave
        {"2300 CONTINUE\n", [] { ::Setup.RebootPending = TRUE; FailSetup("x"); }},      // the restart dropped
        {"2300 CONTINUE\n", [] { OpenStatusPage("h", "m"); FailSetup("x"); }},          // the status page popped
        {"2300 CONTINUE\n", [] { OpenStatusPage("h", "m"); ShowToolkitError(1024); }},  // and by a toolkit error
        {"2300 CONTINUE\n", [] {  // the clean-up run once
             SetFatalCleanup([] { report("cleanup"); });
             winsim::addExitHandler([](UINT) { FailSetup("second"); });
             FailSetup("x");
         }},
        // A second report on the way out shows no second page.
        {"2300 CONTINUE\n", [] { winsim::addExitHandler([](UINT) { FailSetup("second"); }); FailSetup("first"); }},
        {"2300 CONTINUE\n", [] { PostQuitMessage(0); FailSetup("first"); }},  // the toolkit error page, cancelled
        // Nor does a second toolkit error.
        {"2300 CONTINUE\n", [] { winsim::addExitHandler([](UINT) { ShowToolkitError(1024); }); ShowToolkitError(1025); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h;
        h.run(row.answers, row.body);
    }
    // A program starts without keeping handles; a command line too long is refused. The status page shows its header
    // and message under the wait cursor, takes no answer, and gives the cursor back when it closes: the child reports
    // it, and its transcript pins the report and the log. (The restart: the restart pages' rows.)
    Harness h;
    h.run("", [] {
        int before = (int)winsim::openHandleCount();
        report("started=%d", (int)StartProgram("write.exe notes.wri", "C:\\"));
        report("leaked=%d", (int)winsim::openHandleCount() - before);
        before = (int)winsim::openHandleCount();
        BOOL reboot = PrepareReboot();
        report("reboot=%d leaked=%d", (int)reboot, (int)winsim::openHandleCount() - before);
        SetLastError(0);
        int started = (int)StartProgram(std::string(1024, 'a').c_str(), "C:\\");
        report("long=%d error=%u", started, (unsigned)GetLastError());
        HCURSOR arrow = LoadCursorA(NULL, IDC_ARROW);
        SetCursor(arrow);
        HCURSOR previous = OpenStatusPage("Removing", "Deleting ports");
        CloseStatusPage(previous);
        report("previous arrow %d, restored %d", previous == arrow, SetCursor(arrow) == arrow);
    });
    // Only the status's low bits count.
    std::string bits;
    for (DWORD status : {(DWORD)STS_DONE, (DWORD)STS_FAILED, 3u, 0x11u, 0u, 7u}) bits += stsSucceeded(status) ? "1" : "0";
    EXPECT_EQ(bits, "101100");
}

// The removal takes only a folder of its own on a drive: each other root is refused with the reason ("-": taken).
TEST(RemovalRoot, OnlyAFolderOfItsOwnOnADrive) {
    std::snprintf(::Setup.WindowsDir, sizeof ::Setup.WindowsDir, "C:\\WINNT35");
    std::snprintf(::Setup.SystemDir, sizeof ::Setup.SystemDir, "C:\\WINNT35\\system32");
    std::snprintf(::Setup.DriverDir, sizeof ::Setup.DriverDir, "D:\\drivers\\w32x86");
    const std::pair<std::string, const char*> rows[] = {
        {"C:\\apps\\vrd", "-"}, {"d:\\apps\\vrd\\", "-"}, {"C:\\WINNT35x", "-"}, {"D:\\drivers\\w32", "-"},
        {"", "empty"}, {"C:\\" + std::string(252, 'x'), "-"}, {"C:\\" + std::string(253, 'x'), "too long"}, {"\\\\server\\share", "a network path"},
        {"1:\\x", "not a full path on a drive"}, {"[:\\x", "not a full path on a drive"},
        {"@:\\x", "not a full path on a drive"}, {"{:\\x", "not a full path on a drive"}, {"C:x", "not a full path on a drive"},
        {"C\\x", "not a full path on a drive"}, {"\\x", "not a full path on a drive"},
        {"C:\\", "a drive root"}, {"C:\\\\", "a drive root"}, {"C:\\a\\\\b", "an empty path part"},
        {"C:\\a<b", "characters no file name holds"}, {"C:\\a\\..", "a . or .. part"}, {"C:\\apps\\.\\vrd", "a . or .. part"},
        {"c:\\winnt35", "the Windows directory or a directory above it"},
        {"C:\\WINNT35\\system32", "the system directory or a directory above it"},
        {"D:\\drivers", "the printer-driver directory or a directory above it"},
    };
    for (const auto& [root, why] : rows) {
        LPCSTR r = refuseRemovalRoot(root.c_str());
        EXPECT_STREQ(r ? r : "-", why) << root;
    }
}

}  // namespace
