// WinMain up to the installation-type page: platform detection, the
// administrator check, the processor, the directories of the setup state,
// the spooler, start-up refusals and the end steps.
#include <gtest/gtest.h>

#include "setup/harness.h"

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
        {"x86", nt351("x86"), nothing, "100 800 7802", {"cpu=x86", kNtDirs}},
        {"PPC", nt351("PPC"), nothing, "100 800 7802", {"cpu=x86"}},
        {"alphax", nt351("alphax"), nothing, "100 800 7802", {"cpu=x86"}},
        {"long name", nt351("AVeryLongProcessorName"), nothing, "100 800 7802", {"cpu=x86"}},
        {"fifteen letters", nt351("fifteen letters"), nothing, "100 800 7802", {"cpu=x86"}},
        {"unset", nt351(), [](Harness& h) { h.machine().environment.erase("PROCESSOR_ARCHITECTURE"); }, "100 800 7802",
         {"cpu=x86"}},
        {"Windows 95 ignores it", win95(), [](Harness& h) { h.machine().environment["PROCESSOR_ARCHITECTURE"] = "mips"; }, "100 800 7802", {"cpu=x86"}},
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

}  // namespace
