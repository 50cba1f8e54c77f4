// Platform detection, the processor, the directories of the setup state,
// start-up refusals and the end steps of WinMain.
#include <gtest/gtest.h>

#include "setup/harness.h"

using namespace harness;

namespace {

// Welcome, then removal chosen on the installation-type page: the shortest
// run that passes every start-up step (nothing is installed, so the removal
// shows its done page only; with a restart pending, not even that).
const char* const kToRemoval = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n";
const char* const kToRemovalPendingRestart = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n";

// Runs WinMain (after `before`) and reports the setup state afterwards.
ChildResult runAndReport(Harness& h, const std::string& answers, void (*before)() = [] {}) {
    return h.run(answers,
                 [before](LPSTR commandLine) {
                     before();
                     int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
                     report("code=%d", code);
                     report("win95 nt35 nt31=%d %d %d", ::Setup.IsWindows95, ::Setup.IsNT35, ::Setup.IsNT31);
                     report("cpu=%s%s%s", ::Setup.IsAlpha ? "alpha" : "", ::Setup.IsMips ? "mips" : "",
                            ::Setup.IsX86 ? "x86" : "");
                     report("dirs=%s|%s|%s|%s", ::Setup.SystemDir, ::Setup.WindowsDir, ::Setup.InstallRoot,
                            ::Setup.CopySourceDir);
                     report("driver=%s", ::Setup.DriverDir);
                     report("help=%s %s", ::Setup.HelpProgram ? ::Setup.HelpProgram : "",
                            ::Setup.HelpFile ? ::Setup.HelpFile : "");
                     reportSpooler();
                     return code;
                 },
                 false);
}

// Which version words are served, which get the version warning first, and
// the platform flags they set.
TEST(VersionWords, DetectionAndPages) {
    const struct {
        winsim::OsInfo os; bool served;
        bool warning;  // the version warning page (2100) comes first
        const char* flags;
    } rows[] = {
        {nt(3, 51, 1057), true, false, "0 1 0"},  {nt(3, 51, 1056), false, false, "0 0 0"},
        {nt(3, 50, 807), true, false, "0 1 0"},   {nt(3, 50, 806), false, false, "0 0 0"},
        {nt(3, 10, 528), true, false, "0 0 1"},   {nt(3, 1, 511), true, false, "0 0 1"},
        {nt(3, 199, 511), true, true, "0 0 1"},   {nt(3, 20, 600), false, false, "0 0 0"},
        {nt(4, 0, 1381), false, false, "0 0 0"},  {nt(3, 52, 1100), false, true, "0 0 0"},
        {nt(4, 50, 1100), true, true, "0 1 0"},   {nt(2, 60, 1100), false, false, "0 0 0"},
        {win95(), true, false, "1 0 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.os.major) + "." + std::to_string(row.os.minor) + "." +
                     std::to_string(row.os.build));
        Harness h(row.os);
        h.setInf(sampleInf());
        std::string answers = std::string("100 CONTINUE\n") + (row.warning ? "2100 CONTINUE\n" : "") +
                              (row.served ? "800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n" : "2000 CONTINUE\n");
        ChildResult r = runAndReport(h, answers);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("code"), "0");
        EXPECT_EQ(r.value("win95 nt35 nt31"), row.flags);
        std::vector<int> pages{100};
        if (row.warning) pages.push_back(2100);
        pages.insert(pages.end(), row.served ? std::initializer_list<int>{800, 7802} : std::initializer_list<int>{2000});
        EXPECT_EQ(r.pages(), pages);
        EXPECT_TRUE(r.lines("reboot").empty());
        EXPECT_TRUE(r.hasLine("exit 0"));
    }
}

// PROCESSOR_ARCHITECTURE, in any letter case, sets exactly one processor
// flag; Windows 95 is x86 without looking at the variable.
TEST(Processor, ArchitectureSetsExactlyOneFlagAndTheHelpProgram) {
    const struct {
        const char* arch;  // nullptr: not set
        const char* expected; bool windows95 = false;
    } rows[] = {{"alpha", "alpha"}, {"ALPHA", "alpha"}, {"Alpha", "alpha"}, {"mips", "mips"}, {"MIPS", "mips"},
                {"x86", "x86"}, {"PPC", "x86"}, {"alphax", "x86"}, {"AVeryLongProcessorName", "x86"},
                {"fifteen letters", "x86"}, {nullptr, "x86"}, {"mips", "x86", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arch ? row.arch : "(unset)");
        Harness h(row.windows95 ? win95() : nt351(row.arch ? row.arch : "x86"));
        if (row.arch) h.machine().environment["PROCESSOR_ARCHITECTURE"] = row.arch;
        else h.machine().environment.erase("PROCESSOR_ARCHITECTURE");
        h.setInf(sampleInf());
        ChildResult r = runAndReport(h, kToRemoval);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("cpu"), row.expected);
        EXPECT_EQ(r.value("help"), row.windows95 ? "winhelp.exe vrdpsmw4.hlp" : "winhlp32.exe vrdpsmon.hlp");
    }
}

TEST(Directories, FilledFromTheMachine) {
    Harness h(nt351());
    h.setInf(sampleInf());
    ChildResult r = runAndReport(h, kToRemoval);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("dirs"), h.machine().systemDir + "|" + h.machine().windowsDir + "|C:\\win32app\\vrdpsmon|C:\\dist\\");
    EXPECT_EQ(r.value("driver"), driverDir());
    // The root of a drive loses its backslash; the root follows the system drive.
    h.addDrive('D', 100u * 1024 * 1024);
    h.machine().windowsDir = "D:\\";
    h.machine().systemDir = "D:\\system32";
    std::filesystem::create_directories(h.host("D:\\system32"));
    r = runAndReport(h, kToRemoval);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("dirs"), "D:\\system32|D:|D:\\win32app\\vrdpsmon|C:\\dist\\");
}

// --- Refusals and fatal start-up errors -------------------------------------

TEST(StartUp, MissingOrMalformedInfEndsOnTheToolkitErrorPage) {
    // The toolkit's log names the file, and the line of a fault.
    for (auto [inf, named] : {std::pair<const char*, const char*>{nullptr, "setup.inf"},
                              {"[PPD Files\nx = \"unterminated\n", "line 1"}}) {
        Harness h(nt351());
        if (inf) h.setInf(inf);
        ChildResult r = runAndReport(h, "2300 CONTINUE\n");
        expectToolkitError(r, 1024);
        EXPECT_EQ(r.value("code"), "");
        EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
        ASSERT_EQ(r.lines("inf ").size(), 1u);
        EXPECT_NE(r.lines("inf ")[0].find(named), std::string::npos) << r.lines("inf ")[0];
    }
}

// --- Spooler on NT 3.5x ------------------------------------------------------

// A stopped spooler is started under its modeless page; one that cannot
// start ends setup. NT 3.1x gets no spooler check: a stopped spooler stays
// stopped, and the driver directory it would answer for cannot be read.
TEST(Spooler, StoppedSpoolerIsStartedOrEndsSetupButNT31HasNoCheck) {
    const Lines started{"status 5300 Starting the print spooler...", "status 5300 end"};
    const struct {
        winsim::OsInfo os; bool startable; const char* answers; std::vector<int> pages; Lines errors, status;
    } rows[] = {{nt351(), true, kToRemoval, {100, 800, 7802}, {}, started},
                {nt351(), false, "100 CONTINUE\n2300 CONTINUE\n", {100, 2300}, {"error startSpooler failed, error = 1058"},
                 started},
                {nt31(), false, "100 CONTINUE\n2300 CONTINUE\n", {100, 2300}, {"error PPD path string too small"}, {}}};
    for (const auto& row : rows) {
        Harness h(row.os);
        h.setInf(sampleInf());
        winsim::Service* spooler = winsim::findService(h.machine(), "Spooler");
        spooler->state = SERVICE_STOPPED;
        if (!row.startable) spooler->startType = SERVICE_DISABLED;
        ChildResult r = runAndReport(h, row.answers);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.pages(), row.pages);
        EXPECT_EQ(r.lines("error"), row.errors);
        EXPECT_EQ(r.lines("status"), row.status);
        if (row.startable) {
            EXPECT_TRUE(r.value("spooler") == std::to_string(SERVICE_RUNNING) ||
                        r.value("spooler") == std::to_string(SERVICE_START_PENDING))
                << r.value("spooler");
        }
    }
}

// The system and Windows directories that do not fit end setup.
TEST(StartUp, DirectoriesThatDoNotFitEndSetup) {
    for (auto [call, error] : {std::pair{"GetSystemDirectoryA", "error System path string too small"},
                               {"GetWindowsDirectoryA", "error Windows path string too small"}}) {
        Harness h(nt351());
        h.setInf(sampleInf());
        failNext(call, 1, ERROR_INSUFFICIENT_BUFFER);
        ChildResult r = h.runWinMain("100 CONTINUE\n2300 CONTINUE\n");
        EXPECT_EQ(r.lines("error"), (Lines{error}));
    }
}

// --- Restart ----------------------------------------------------------------

TEST(Restart, NtPreparesAndTheEndStepsRequestItWindows95RestartsAtOnce) {
    for (bool windows95 : {false, true}) {
        Harness h(windows95 ? win95() : nt351());
        ChildResult r = h.run("", [windows95] {
            ::Setup.IsWindows95 = windows95;
            report("ok=%d", PrepareReboot());
            report("pending=%d", ::Setup.RebootPending);
        });
        EXPECT_EQ(r.value("ok"), "1");
        EXPECT_EQ(r.value("pending"), windows95 ? "0" : "1");
        EXPECT_EQ(r.lines("reboot").size(), windows95 ? 1u : 0u);  // NT: only prepared
    }
    // The restart page prepares it; the end steps request it, or show the
    // warning box when the request fails.
    for (bool refused : {false, true}) {
        Harness h(nt351());
        h.setInf(sampleInf());
        if (refused) failNext("ExitWindowsEx", 0, ERROR_ACCESS_DENIED);
        ChildResult r = runAndReport(h, kToRemovalPendingRestart, [] { PrepareReboot(); });
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.lines("reboot").size(), refused ? 0u : 1u);
        EXPECT_EQ(r.lines("box"), refused ? Lines{"box Reboot Required: Unable to reboot automatically.  Please "
                                                  "reboot manually."}
                                          : Lines{});
    }
}

TEST(Status, StsSucceededLooksAtTheLowBits) {
    for (auto [status, ok] : {std::pair{(DWORD)STS_DONE, true}, {(DWORD)STS_FAILED, false}, {3u, true},
                              {0x11u, true}, {0u, false}, {7u, false}})
        EXPECT_EQ(stsSucceeded(status) != FALSE, ok) << status;
}

}  // namespace
