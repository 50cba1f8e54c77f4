// Platform detection, the processor, the directories of the setup state,
// start-up refusals and the end steps of WinMain.
#include <gtest/gtest.h>

#include "setup/harness.h"
#include "setup/setup.h"
#include "winsim/services/state.h"

using harness::ChildResult;
using harness::Harness;

namespace {

// Welcome, then removal chosen on the installation-type page: the shortest
// run that passes every start-up step (nothing is installed, so the removal
// shows its done page only).
const char* const kToRemoval =
    "100 CONTINUE\n"
    "800 CONTINUE ButtonChecked=3\n"
    "7802 CONTINUE\n";

// Runs WinMain and reports the setup state afterwards.
ChildResult runAndReport(Harness& h, const std::string& answers) {
    return h.run(answers,
                 [](LPSTR commandLine) {
                     int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
                     harness::report("code=%d", code);
                     harness::report("win95=%d", ::Setup.IsWindows95);
                     harness::report("nt35=%d", ::Setup.IsNT35);
                     harness::report("nt31=%d", ::Setup.IsNT31);
                     harness::report("cpu=%s", ::Setup.IsAlpha ? "alpha" : ::Setup.IsMips ? "mips" : ::Setup.IsX86 ? "x86" : "none");
                     harness::report("cpuflags=%d", ::Setup.IsAlpha + ::Setup.IsMips + ::Setup.IsX86);
                     harness::report("system=%s", ::Setup.SystemDir);
                     harness::report("windows=%s", ::Setup.WindowsDir);
                     harness::report("driver=%s", ::Setup.DriverDir);
                     harness::report("root=%s", ::Setup.InstallRoot);
                     harness::report("copysource=%s", ::Setup.CopySourceDir);
                     harness::report("help=%s %s", ::Setup.HelpProgram ? ::Setup.HelpProgram : "",
                                     ::Setup.HelpFile ? ::Setup.HelpFile : "");
                     harness::report("type=%d", ::Setup.InstallType);
                     return code;
                 },
                 false);
}

bool contains(const std::vector<int>& v, int x) {
    for (int i : v)
        if (i == x) return true;
    return false;
}

// --- Version words --------------------------------------------------------

struct VersionCase {
    const char* name;
    winsim::OsInfo os;
    bool served;
    bool warning;  // the version warning page (2100) comes first
    int nt35, nt31, win95;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class VersionWords : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionWords, DetectionAndPages) {
    const VersionCase& c = GetParam();
    Harness h(c.os);
    h.setInf(harness::sampleInf());
    std::string answers = "100 CONTINUE\n";
    if (c.warning) answers += "2100 CONTINUE\n";
    answers += c.served ? "800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n" : "2000 CONTINUE\n";
    ChildResult r = runAndReport(h, answers);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("code"), "0");
    EXPECT_EQ(r.value("nt35"), std::to_string(c.nt35));
    EXPECT_EQ(r.value("nt31"), std::to_string(c.nt31));
    EXPECT_EQ(r.value("win95"), std::to_string(c.win95));
    std::vector<int> pages = r.pages();
    EXPECT_EQ(contains(pages, 2100), c.warning);
    EXPECT_EQ(contains(pages, 800), c.served);
    EXPECT_EQ(contains(pages, 2000), !c.served);
    EXPECT_TRUE(r.hasLine("exit 0"));
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, VersionWords,
    ::testing::Values(VersionCase{"nt351_1057", harness::nt(3, 51, 1057), true, false, 1, 0, 0},
                      VersionCase{"nt351_1056", harness::nt(3, 51, 1056), false, false, 0, 0, 0},
                      VersionCase{"nt350_807", harness::nt(3, 50, 807), true, false, 1, 0, 0},
                      VersionCase{"nt350_806", harness::nt(3, 50, 806), false, false, 0, 0, 0},
                      VersionCase{"nt31", harness::nt(3, 10, 528), true, false, 0, 1, 0},
                      VersionCase{"nt31_minor1", harness::nt(3, 1, 511), true, false, 0, 1, 0},
                      VersionCase{"nt31_minor199", harness::nt(3, 199, 511), true, true, 0, 1, 0},
                      VersionCase{"nt3_20", harness::nt(3, 20, 600), false, false, 0, 0, 0},
                      VersionCase{"nt40", harness::nt(4, 0, 1381), false, false, 0, 0, 0},
                      VersionCase{"nt352", harness::nt(3, 52, 1100), false, true, 0, 0, 0},
                      VersionCase{"nt450", harness::nt(4, 50, 1100), true, true, 1, 0, 0},
                      VersionCase{"win95", harness::win95(), true, false, 0, 0, 1}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST(VersionWarning, ExitEndsSetup) {
    Harness h(harness::nt(3, 52, 1100));
    h.setInf(harness::sampleInf());
    ChildResult r = runAndReport(h, "100 CONTINUE\n2100 EXIT\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("code"), "");  // WinMain never returned
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2100}));
}

// --- Processor and directories ---------------------------------------------

struct ProcessorCase {
    const char* arch;  // PROCESSOR_ARCHITECTURE; nullptr: not set
    const char* expected;
    bool windows95;
};

void PrintTo(const ProcessorCase& c, std::ostream* os) { *os << (c.arch ? c.arch : "(unset)") << c.windows95; }

class Processor : public ::testing::TestWithParam<ProcessorCase> {};

TEST_P(Processor, ArchitectureSetsExactlyOneFlagAndTheHelpProgram) {
    const ProcessorCase& c = GetParam();
    Harness h(c.windows95 ? harness::win95() : harness::nt351(c.arch ? c.arch : "x86"));
    if (c.arch) h.machine().environment["PROCESSOR_ARCHITECTURE"] = c.arch;
    else h.machine().environment.erase("PROCESSOR_ARCHITECTURE");
    h.setInf(harness::sampleInf());
    ChildResult r = runAndReport(h, kToRemoval);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("cpu"), c.expected);
    EXPECT_EQ(r.value("cpuflags"), "1");
    EXPECT_EQ(r.value("help"), c.windows95 ? "winhelp.exe vrdpsmw4.hlp" : "winhlp32.exe vrdpsmon.hlp");
}

// Windows 95 is x86 without looking at the variable.
INSTANTIATE_TEST_SUITE_P(Architectures, Processor,
                         ::testing::Values(ProcessorCase{"alpha", "alpha"}, ProcessorCase{"ALPHA", "alpha"},
                                           ProcessorCase{"Alpha", "alpha"}, ProcessorCase{"mips", "mips"},
                                           ProcessorCase{"MIPS", "mips"}, ProcessorCase{"x86", "x86"},
                                           ProcessorCase{"PPC", "x86"}, ProcessorCase{"alphax", "x86"},
                                           ProcessorCase{"AVeryLongProcessorName", "x86"},
                                           ProcessorCase{nullptr, "x86"}, ProcessorCase{"mips", "x86", true}));

TEST(Directories, FilledFromTheMachine) {
    Harness h(harness::nt351());
    h.setInf(harness::sampleInf());
    ChildResult r = runAndReport(h, kToRemoval);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("system"), h.machine().systemDir);
    EXPECT_EQ(r.value("windows"), h.machine().windowsDir);
    EXPECT_EQ(r.value("root"), "C:\\win32app\\vrdpsmon");
    EXPECT_EQ(r.value("copysource"), "C:\\dist\\");
    EXPECT_NE(r.value("driver"), "");
    // The root of a drive loses its backslash; the root follows the system drive.
    h.addDrive('D', 100u * 1024 * 1024);
    h.machine().windowsDir = "D:\\";
    h.machine().systemDir = "D:\\system32";
    std::filesystem::create_directories(h.host("D:\\system32"));
    r = runAndReport(h, kToRemoval);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("windows"), "D:");
    EXPECT_EQ(r.value("root"), "D:\\win32app\\vrdpsmon");
}

// --- Refusals and fatal start-up errors -------------------------------------

TEST(StartUp, MissingOrMalformedInfEndsOnTheToolkitErrorPage) {
    // The toolkit's log names the file, and the line of a fault.
    for (auto [inf, named] : {std::pair<const char*, const char*>{nullptr, "setup.inf"},
                              {"[PPD Files\nx = \"unterminated\n", "line 1"}}) {
        Harness h(harness::nt351());
        if (inf) h.setInf(inf);
        ChildResult r = runAndReport(h, "2300 CONTINUE\n");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.value("code"), "");
        EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
        EXPECT_TRUE(r.hasLine("error Error code = 1024"));
        ASSERT_EQ(r.lines("inf ").size(), 1u);
        EXPECT_NE(r.lines("inf ")[0].find(named), std::string::npos) << r.lines("inf ")[0];
    }
}

TEST(StartUp, NotAdministratorNeverReachesTheInstallationTypeExceptOnWindows95) {
    Harness h(harness::nt351(), false);
    h.setInf(harness::sampleInf());
    ChildResult r = runAndReport(h, "100 CONTINUE\n2400 BACK\n2400 CANCEL\n2400 EXIT\n2400 CONTINUE\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("code"), "");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2400, 2400, 2400, 2400}));
    Harness h95(harness::win95(), false);
    h95.setInf(harness::sampleInf());
    r = runAndReport(h95, kToRemoval);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 7802}));
}

TEST(StartUp, UnsupportedPlatformRunsTheEndSteps) {
    Harness h(harness::nt(4, 0, 1381));
    h.setInf(harness::sampleInf());
    ChildResult r = runAndReport(h, "100 CONTINUE\n2000 BACK\n2000 CONTINUE\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("code"), "0");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2000, 2000}));
    EXPECT_TRUE(r.lines("reboot").empty());
}

// --- Spooler on NT 3.5x ------------------------------------------------------

TEST(Spooler, StoppedSpoolerIsStartedUnderItsModelessPage) {
    Harness h(harness::nt351());
    h.setInf(harness::sampleInf());
    winsim::Service* spooler = winsim::findService(h.machine(), "Spooler");
    ASSERT_NE(spooler, nullptr);
    spooler->state = SERVICE_STOPPED;
    ChildResult r = h.run(
        kToRemoval,
        [](LPSTR commandLine) {
            int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
            winsim::Service* s = winsim::findService(winsim::machine(), "Spooler");
            harness::report("state=%u", (unsigned)winsim::serviceStatus(winsim::machine(), *s).dwCurrentState);
            return code;
        },
        false);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(r.value("state") == std::to_string(SERVICE_RUNNING) ||
                r.value("state") == std::to_string(SERVICE_START_PENDING))
        << r.value("state");
    EXPECT_TRUE(r.lines("error").empty());
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 7802}));
}

TEST(Spooler, SpoolerThatCannotStartEndsSetupButNT31HasNoCheck) {
    // NT 3.1x gets no spooler check: a stopped spooler stays stopped, and
    // the driver directory it would answer for cannot be read.
    const struct {
        winsim::OsInfo os;
        const char* error;
    } cases[] = {{harness::nt351(), "error startSpooler failed, error = 1058"},
                 {harness::nt(3, 10, 528), "error PPD path string too small"}};
    for (const auto& c : cases) {
        Harness h(c.os);
        h.setInf(harness::sampleInf());
        winsim::Service* spooler = winsim::findService(h.machine(), "Spooler");
        ASSERT_NE(spooler, nullptr);
        spooler->state = SERVICE_STOPPED;
        spooler->startType = SERVICE_DISABLED;
        ChildResult r = h.runWinMain("100 CONTINUE\n2300 CONTINUE\n");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.pages(), (std::vector<int>{100, 2300}));
        EXPECT_EQ(r.lines("error"), (std::vector<std::string>{c.error}));
    }
}

// --- Restart ----------------------------------------------------------------

TEST(Restart, NtPreparesAndTheEndStepsRequestItWindows95RestartsAtOnce) {
    for (bool windows95 : {false, true}) {
        Harness h(windows95 ? harness::win95() : harness::nt351());
        h.setInf(harness::sampleInf());
        ChildResult r = h.run("", [windows95](LPSTR) {
            ::Setup.IsWindows95 = windows95;
            harness::report("ok=%d", PrepareReboot());
            harness::report("pending=%d", ::Setup.RebootPending);
            return 0;
        });
        EXPECT_EQ(r.value("ok"), "1");
        EXPECT_EQ(r.value("pending"), windows95 ? "0" : "1");
        EXPECT_EQ(r.lines("reboot").size(), windows95 ? 1u : 0u);  // NT: only prepared
    }
    Harness h(harness::nt351());
    h.setInf(harness::sampleInf());
    ChildResult full = h.run(
        kToRemoval,
        [](LPSTR commandLine) {
            // The restart page prepares it; the end steps request it.
            PrepareReboot();
            return WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
        },
        false);
    EXPECT_EQ(full.exitCode, 0);
    EXPECT_EQ(full.lines("reboot").size(), 1u);
}

TEST(Restart, FailedRequestShowsTheWarningBox) {
    Harness h(harness::nt351());
    h.setInf(harness::sampleInf());
    h.machine().faults.push_back(winsim::Fault{"ExitWindowsEx", 1, 0, ERROR_ACCESS_DENIED, ""});
    ChildResult r = h.run(
        kToRemoval,
        [](LPSTR commandLine) {
            ::Setup.RebootPending = TRUE;
            return WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
        },
        false);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.hasLine("box Reboot Required: Unable to reboot automatically.  Please reboot manually."));
}

TEST(Status, StsSucceededLooksAtTheLowBits) {
    for (auto [status, ok] : {std::pair{(DWORD)STS_DONE, true}, {(DWORD)STS_FAILED, false}, {3u, true},
                              {0x11u, true}, {0u, false}, {7u, false}})
        EXPECT_EQ(stsSucceeded(status) != FALSE, ok) << status;
}

}  // namespace
