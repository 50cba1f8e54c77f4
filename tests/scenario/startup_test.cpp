// Whole runs of setup from the welcome page to the end of the
// installation-type loop: platforms served and refused, the administrator
// check, the processor, the space rules of the installation-type and
// destination pages, quitting, and the fatal toolkit errors.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

using scenario::Platform;
using scenario::RunResult;
using scenario::Scenario;

#define REQUIRE_PIECES()                                          \
    do {                                                          \
        std::string why = scenario::missingPieces();              \
        if (!why.empty()) FAIL() << "not runnable: " << why;       \
    } while (0)

const char* kQuitAt800 = "800 CANCEL\n200 EXIT\n";

scenario::Figures figures(Platform p) {
    return scenario::figuresFor(scenario::readInfSizes(scenario::sourceRoot() / "dist" / "setup.inf"), p);
}

// Machine of `os`/`arch` (plus extra `winsim new` options); fails the test
// when the tool refuses.
void make(Scenario& s, const char* os, const char* arch, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--os", os, "--arch", arch};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(s.newMachine(args)) << s.error;
}

// For scenarios that go past start-up's spooler calls on Windows NT.
#define REQUIRE_SPOOLER(s)                                                 \
    do {                                                                   \
        if (::testing::Test::HasFatalFailure()) return;                    \
        std::string why = scenario::spoolerMissing(s);                     \
        if (!why.empty()) FAIL() << "not runnable: " << why;               \
    } while (0)

void expectEndsWith(const RunResult& r, int code) {
    ASSERT_FALSE(r.log.empty()) << r.describe();
    EXPECT_EQ(r.log.back(), "exit " + std::to_string(code)) << r.describe();
    EXPECT_EQ(r.exitCode, code) << r.describe();
}

// --- platforms --------------------------------------------------------------

TEST(ScenarioPlatform, Nt40EndsOnUnsupportedPage) {
    REQUIRE_PIECES();
    Scenario s("nt40");
    make(s, "nt40", "x86");
    auto r = s.run("100 CONTINUE\n2000 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2000})) << r.describe();
    EXPECT_EQ(r.page(1), (std::vector<std::string>{"page", "2000", "FInfoDlgProc", "CONTINUE"}));
    expectEndsWith(r, 0);
    EXPECT_TRUE(std::filesystem::exists(s.machineDir() / "machine.json")) << "image saved";
    EXPECT_FALSE(std::filesystem::exists(s.hostPath("C:\\win32app"))) << "nothing installed";
}

TEST(ScenarioPlatform, Nt352ShowsVersionWarningFirst) {
    REQUIRE_PIECES();
    Scenario s("nt352");
    make(s, "nt351", "x86", {"--version", "3.52"});
    auto r = s.run("100 CONTINUE\n2100 CONTINUE\n2000 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2100, 2000})) << r.describe();
    EXPECT_EQ(r.page(1), (std::vector<std::string>{"page", "2100", "FQuitDlgProc", "CONTINUE"}));
    expectEndsWith(r, 0);
}

TEST(ScenarioPlatform, VersionWarningExitEndsSetup) {
    REQUIRE_PIECES();
    Scenario s("nt450");
    make(s, "nt351", "x86", {"--version", "4.50"});
    auto r = s.run("100 CONTINUE\n2100 EXIT\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2100})) << r.describe();
    expectEndsWith(r, 0);
}

struct BuildCase {
    const char* os;
    int build;
    bool served;
};

void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.os << " build " << c.build; }

class ScenarioBuilds : public ::testing::TestWithParam<BuildCase> {};

TEST_P(ScenarioBuilds, OldBuildsAreNotServed) {
    REQUIRE_PIECES();
    const BuildCase& c = GetParam();
    Scenario s(std::string("build-") + std::to_string(c.build));
    make(s, c.os, "x86", {"--build", std::to_string(c.build)});
    if (c.served) REQUIRE_SPOOLER(s);
    auto r = s.run(c.served ? std::string("100 CONTINUE\n") + kQuitAt800 : "100 CONTINUE\n2000 CONTINUE\n");
    if (c.served)
        EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 200})) << r.describe();
    else
        EXPECT_EQ(r.pages(), (std::vector<int>{100, 2000})) << r.describe();
    expectEndsWith(r, 0);
}

INSTANTIATE_TEST_SUITE_P(Nt35, ScenarioBuilds,
                         ::testing::Values(BuildCase{"nt350", 806, false}, BuildCase{"nt350", 807, true},
                                           BuildCase{"nt351", 1056, false}, BuildCase{"nt351", 1057, true}),
                         [](const auto& info) { return std::string(info.param.os) + "_" + std::to_string(info.param.build); });

// --- the sample machine ------------------------------------------------------

// machines/default is made with exactly this command line
// (tools/make-default-machine.sh): NT 3.51 x86, an administrator, the
// spooler running.
TEST(ScenarioDefaultMachine, IsNt351X86AdministratorWithSpoolerRunning) {
    REQUIRE_PIECES();
    Scenario s("default");
    make(s, "nt351", "x86", {"--user", "admin"});
    auto j = s.machineJson();
    EXPECT_EQ(j["os"]["platform"], "nt");
    EXPECT_EQ(j["os"]["major"], 3);
    EXPECT_EQ(j["os"]["minor"], 51);
    EXPECT_GE(j["os"]["build"].get<int>(), 1057);
    EXPECT_EQ(j["os"]["arch"], "x86");
    bool admins = false;
    for (const auto& g : j["security"]["groups"])
        if (g["sid"] == "S-1-5-32-544")
            admins = std::find(g["attributes"].begin(), g["attributes"].end(), "enabled") != g["attributes"].end();
    EXPECT_TRUE(admins) << j["security"].dump(2);
    bool shutdownHeldOff = false;
    for (const auto& p : j["security"]["privileges"])
        if (p["name"] == "SeShutdownPrivilege") shutdownHeldOff = !p["enabled"].get<bool>();
    EXPECT_TRUE(shutdownHeldOff);
    ASSERT_TRUE(j.contains("services")) << "the image has no services section";
    bool running = false;
    for (const auto& svc : j["services"]["list"])
        if (svc["name"] == "Spooler") running = svc["state"] == "running";
    EXPECT_TRUE(running) << j["services"].dump(2);
}

// --- administrator check -----------------------------------------------------

TEST(ScenarioAdmin, PlainUserOnNt351GetsPage2400) {
    REQUIRE_PIECES();
    Scenario s("user");
    make(s, "nt351", "x86", {"--user", "user"});
    auto r = s.run("100 CONTINUE\n2400 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2400})) << r.describe();
    EXPECT_EQ(r.page(1), (std::vector<std::string>{"page", "2400", "FInfoDlgProc", "CONTINUE"}));
    expectEndsWith(r, 0);
}

TEST(ScenarioAdmin, AdministratorsNotEnabledGetsPage2400) {
    REQUIRE_PIECES();
    Scenario s("admin-off");
    make(s, "nt351", "x86", {"--user", "admin"});
    s.editMachine([](nlohmann::json& j) {
        for (auto& g : j["security"]["groups"])
            if (g["sid"] == "S-1-5-32-544") g["attributes"] = {"mandatory", "deny_only"};
    });
    auto r = s.run("100 CONTINUE\n2400 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2400})) << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioAdmin, ImpersonatedAdministratorIsServed) {
    REQUIRE_PIECES();
    Scenario s("imp-admin");
    make(s, "nt351", "x86", {"--user", "user"});
    REQUIRE_SPOOLER(s);
    s.editMachine([](nlohmann::json& j) {
        j["security"]["impersonation"] = {
            {"groups", {{{"sid", "S-1-5-32-544"}, {"attributes", {"mandatory", "enabled"}}}}}};
    });
    auto r = s.run(std::string("100 CONTINUE\n") + kQuitAt800);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 200})) << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioAdmin, ImpersonatedPlainUserIsRefused) {
    REQUIRE_PIECES();
    Scenario s("imp-user");
    make(s, "nt351", "x86", {"--user", "admin"});
    s.editMachine([](nlohmann::json& j) {
        j["security"]["impersonation"] = {
            {"groups", {{{"sid", "S-1-5-32-545"}, {"attributes", {"mandatory", "enabled"}}}}}};
    });
    auto r = s.run("100 CONTINUE\n2400 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2400})) << r.describe();
    expectEndsWith(r, 0);
    EXPECT_FALSE(std::filesystem::exists(s.hostPath("C:\\win32app"))) << "nothing installed";
}

TEST(ScenarioAdmin, Windows95MakesNoAdministratorCheck) {
    REQUIRE_PIECES();
    Scenario s("w95-user");
    make(s, "win95", "x86", {"--user", "user"});
    auto r = s.run(std::string("100 CONTINUE\n") + kQuitAt800);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 200})) << r.describe();
    expectEndsWith(r, 0);
}

// --- processor and the sizes of its sections ----------------------------------

struct ArchCase {
    const char* value;  // PROCESSOR_ARCHITECTURE as the machine has it
    Platform platform;
};

void PrintTo(const ArchCase& c, std::ostream* os) { *os << "PROCESSOR_ARCHITECTURE=" << c.value; }

class ScenarioProcessor : public ::testing::TestWithParam<ArchCase> {};

// With exactly the system-drive figure of the processor's sections free, the
// second choice is accepted (the destination page follows); with one byte
// less it is refused. Together they pin the figure to the right sections.
TEST_P(ScenarioProcessor, SystemDriveFigureFollowsTheProcessorsSections) {
    REQUIRE_PIECES();
    const ArchCase& c = GetParam();
    for (int shortBy : {0, 1}) {
        Scenario s(std::string("arch-") + c.value + std::to_string(shortBy));
        make(s, "nt351", "x86");
        REQUIRE_SPOOLER(s);
        s.roundSectionSizes(512);
        const auto need = s.figures(c.platform).systemDrive;
        s.editMachine([&](nlohmann::json& j) { j["environment"]["PROCESSOR_ARCHITECTURE"] = c.value; });
        s.setFree('C', need - shortBy);
        if (shortBy == 0) {
            auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 CANCEL\n200 EXIT\n");
            EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 300, 200})) << c.value << "\n" << r.describe();
            EXPECT_FALSE(r.hasLineStarting("box Insufficient Disk Space")) << r.describe();
            expectEndsWith(r, 0);
        } else {
            auto r = s.run(std::string("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n") + kQuitAt800);
            EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 800, 200})) << c.value << "\n" << r.describe();
            EXPECT_TRUE(r.hasLine("box Insufficient Disk Space: The system drive does not have enough space to "
                                  "perform the installation."))
                << r.describe();
            expectEndsWith(r, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ScenarioProcessor,
                         ::testing::Values(ArchCase{"alpha", Platform::Alpha}, ArchCase{"ALPHA", Platform::Alpha},
                                           ArchCase{"mips", Platform::Mips}, ArchCase{"MIPS", Platform::Mips},
                                           ArchCase{"x86", Platform::X86}, ArchCase{"PPC", Platform::X86},
                                           ArchCase{"alphax", Platform::X86}),
                         [](const auto& info) { return std::string(info.param.value); });

// --- installation-type page ----------------------------------------------------

std::string kb6(std::uint64_t bytes) {
    char b[32];
    std::snprintf(b, sizeof b, "%6u Kb", (unsigned)((std::uint32_t)bytes >> 10));
    return b;
}

struct FigureCase {
    const char* os;
    const char* arch;
    Platform platform;
};

void PrintTo(const FigureCase& c, std::ostream* os) { *os << c.os << " " << c.arch; }

class ScenarioFigures : public ::testing::TestWithParam<FigureCase> {};

// The page shows (system + utility), system, and (load + utility) in KB,
// right-aligned in six columns, from the platform's sections.
TEST_P(ScenarioFigures, PageShowsThePlatformsFigures) {
    REQUIRE_PIECES();
    const FigureCase& c = GetParam();
    Scenario s(std::string("figures-") + c.os + c.arch);
    make(s, c.os, c.arch);
    REQUIRE_SPOOLER(s);
    auto r = s.run(std::string("100 CONTINUE\n") + kQuitAt800);
    expectEndsWith(r, 0);
    const auto f = figures(c.platform);
    for (const std::string& fig : {kb6(f.systemDrive + f.utility), kb6(f.systemDrive), kb6(f.loadFiles + f.utility)})
        EXPECT_NE(r.out.find(" " + fig), std::string::npos) << "\"" << fig << "\" not shown\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Platforms, ScenarioFigures,
                         ::testing::Values(FigureCase{"nt351", "x86", Platform::X86},
                                           FigureCase{"nt351", "alpha", Platform::Alpha},
                                           FigureCase{"nt350", "mips", Platform::Mips},
                                           FigureCase{"win95", "x86", Platform::Win95}),
                         [](const auto& info) { return std::string(info.param.os) + "_" + info.param.arch; });

TEST(ScenarioInstallType, FirstChoiceNeedsSystemAndUtilityBytes) {
    REQUIRE_PIECES();
    Scenario s("type-short");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    s.roundSectionSizes(512);
    const auto f = s.figures(Platform::X86);
    s.setFree('C', f.systemDrive + f.utility - 1);
    auto r = s.run(std::string("100 CONTINUE\n800 CONTINUE ButtonChecked=1\n") + kQuitAt800);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 800, 200})) << r.describe();
    int box = r.indexOf("box Insufficient Disk Space: ");
    ASSERT_GE(box, 0) << r.describe();
    // The box comes between the two showings of the page.
    EXPECT_LT(r.indexOf("page 800"), box);
    EXPECT_EQ(r.log[box + 1].rfind("page 800 ", 0), 0u) << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioInstallType, FirstChoiceWithExactlyEnoughIsAccepted) {
    REQUIRE_PIECES();
    Scenario s("type-exact");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    s.roundSectionSizes(512);
    const auto f = s.figures(Platform::X86);
    s.setFree('C', f.systemDrive + f.utility);
    // What follows the accepted choice belongs to the installation flow; the
    // page must not come back and no space box may appear.
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=1\n");
    auto pages = r.pages();
    ASSERT_GE(pages.size(), 2u) << r.describe();
    EXPECT_EQ(pages[1], 800);
    for (std::size_t i = 2; i < pages.size(); ++i) EXPECT_NE(pages[i], 800) << r.describe();
    EXPECT_FALSE(r.hasLineStarting("box Insufficient Disk Space")) << r.describe();
}

TEST(ScenarioInstallType, RemovalIsAcceptedWithoutSpace) {
    REQUIRE_PIECES();
    Scenario s("type-remove");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    s.setFree('C', 0);
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n");
    auto pages = r.pages();
    ASSERT_GE(pages.size(), 2u) << r.describe();
    for (std::size_t i = 2; i < pages.size(); ++i) EXPECT_NE(pages[i], 800) << r.describe();
    EXPECT_FALSE(r.hasLineStarting("box Insufficient Disk Space")) << r.describe();
}

// --- destination page ----------------------------------------------------------

TEST(ScenarioDestination, MissingDirectoryIsCreated) {
    REQUIRE_PIECES();
    Scenario s("dest-create");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 CONTINUE EditTextOut=\"c:\\varden\\pkg\"\n");
    auto pages = r.pages();
    ASSERT_GE(pages.size(), 3u) << r.describe();
    EXPECT_EQ(pages[2], 300);
    for (std::size_t i = 3; i < pages.size(); ++i) EXPECT_NE(pages[i], 300) << "path refused\n" << r.describe();
    EXPECT_TRUE(std::filesystem::is_directory(s.hostPath("C:\\varden\\pkg"))) << r.describe();
}

TEST(ScenarioDestination, BackReturnsToInstallationType) {
    REQUIRE_PIECES();
    Scenario s("dest-back");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    auto r = s.run(std::string("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 BACK\n") + kQuitAt800);
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 300, 800, 200})) << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioDestination, SystemDriveNeedsAllThreeFigures) {
    REQUIRE_PIECES();
    for (int shortBy : {1, 0}) {
        Scenario s("dest-sys" + std::to_string(shortBy));
        make(s, "nt351", "x86");
        REQUIRE_SPOOLER(s);
        s.roundSectionSizes(512);
        const auto f = s.figures(Platform::X86);
        const auto all = f.systemDrive + f.utility + f.loadFiles;
        s.setFree('C', all - shortBy);
        auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 CONTINUE EditTextOut=\"C:\\VRD\"\n"
                       "300 CANCEL\n200 EXIT\n");
        if (shortBy) {
            EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 300, 300, 200})) << r.describe();
            EXPECT_TRUE(r.hasLine("box Insufficient Disk Space: The system drive does not have enough space to "
                                  "perform the installation."))
                << r.describe();
            EXPECT_FALSE(std::filesystem::exists(s.hostPath("C:\\VRD")));
        } else {
            auto pages = r.pages();
            ASSERT_GE(pages.size(), 3u) << r.describe();
            for (std::size_t i = 3; i < pages.size(); ++i) EXPECT_NE(pages[i], 300) << r.describe();
            EXPECT_TRUE(std::filesystem::is_directory(s.hostPath("C:\\VRD"))) << r.describe();
        }
    }
}

TEST(ScenarioDestination, OtherDriveNeedsItsShareAndTheSystemDriveItsOwn) {
    REQUIRE_PIECES();
    // The system drive's own share is checked by the installation-type page
    // already (second choice), so the destination page meets a short system
    // drive only when it shrank in between; these cases vary the other drive.
    // Figures of the rounded INF (rounding is the same in every scenario).
    Scenario probe("dest-other-figures");
    probe.roundSectionSizes(512);
    const auto f = probe.figures(Platform::X86);
    struct Case {
        std::uint64_t freeC, freeD;
        const char* box;  // expected box text, or null when accepted
    } cases[] = {
        {f.systemDrive, f.loadFiles + f.utility - 1,
         "box Insufficient Disk Space: The specified drive does not have enough space to perform the installation."},
        {f.systemDrive, f.loadFiles + f.utility, nullptr},
    };
    int n = 0;
    for (const auto& c : cases) {
        Scenario s("dest-other" + std::to_string(n++));
        make(s, "nt351", "x86");
        REQUIRE_SPOOLER(s);
        s.roundSectionSizes(512);
        s.setFree('C', c.freeC);
        s.setFree('D', c.freeD);
        auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 CONTINUE EditTextOut=\"d:\\vrd\"\n"
                       "300 CANCEL\n200 EXIT\n");
        if (c.box) {
            EXPECT_TRUE(r.hasLine(c.box)) << r.describe();
            EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 300, 300, 200})) << r.describe();
        } else {
            EXPECT_FALSE(r.hasLineStarting("box Insufficient Disk Space")) << r.describe();
            EXPECT_TRUE(std::filesystem::is_directory(s.hostPath("D:\\vrd"))) << r.describe();
        }
    }
}

TEST(ScenarioDestination, OverlongPathEndsThroughToolkitError) {
    REQUIRE_PIECES();
    Scenario s("dest-long");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    std::string path = "C:\\" + std::string(506, 'a');  // 509 characters
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 CONTINUE EditTextOut=\"" + path +
                   "\"\n2300 CONTINUE\n");
    int overflow = r.indexOf("box MS-Setup Error: Buffer Overflow");
    int error = r.indexOf("error Error code = 1024");
    ASSERT_GE(overflow, 0) << r.describe();
    ASSERT_GE(error, 0) << r.describe();
    EXPECT_LT(overflow, error);
    EXPECT_EQ(r.pages().back(), 2300) << r.describe();
    expectEndsWith(r, 0);
}

// --- quitting and fatal toolkit errors -------------------------------------------

TEST(ScenarioQuit, CancelOnWelcomeAsksAndContinueGoesBack) {
    REQUIRE_PIECES();
    Scenario s("quit");
    make(s, "nt351", "x86");
    auto r = s.run("100 CANCEL\n200 CONTINUE\n100 CANCEL\n200 EXIT\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 200, 100, 200})) << r.describe();
    EXPECT_EQ(r.page(1), (std::vector<std::string>{"page", "200", "FQuitDlgProc", "CONTINUE"}));
    EXPECT_EQ(r.page(3), (std::vector<std::string>{"page", "200", "FQuitDlgProc", "EXIT"}));
    expectEndsWith(r, 0);
}

TEST(ScenarioFatal, MissingSetupInfIsToolkitError1024) {
    REQUIRE_PIECES();
    Scenario s("noinf");
    make(s, "nt351", "x86");
    std::filesystem::remove(s.distDir() / "setup.inf");
    auto r = s.run("2300 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{2300})) << r.describe();
    EXPECT_TRUE(r.hasLine("error Error code = 1024")) << r.describe();
    EXPECT_TRUE(r.hasLineContaining("setup.inf")) << "the log names the file\n" << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioFatal, MalformedSetupInfNamesTheLine) {
    REQUIRE_PIECES();
    Scenario s("badinf");
    make(s, "nt351", "x86");
    std::ofstream(s.distDir() / "setup.inf", std::ios::binary | std::ios::trunc)
        << "[PPD Files]\nVarden LaserStream 600 = \"vls600.ppd\n";
    auto r = s.run("2300 CONTINUE\n");
    EXPECT_TRUE(r.hasLine("error Error code = 1024")) << r.describe();
    EXPECT_TRUE(r.hasLineContaining("line 2")) << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioFatal, QuitMessageDuringPageIsToolkitError1025) {
    REQUIRE_PIECES();
    Scenario s("wmquit");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    s.editMachine([](nlohmann::json& j) { j["ui"]["quit_on_window_id"] = 800; });
    // The page that the quit message ends takes no answer.
    auto r = s.run("100 CONTINUE\n2300 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 2300})) << r.describe();
    EXPECT_EQ(r.page(1), (std::vector<std::string>{"page", "800", "FInstallTypeDlgProc", "QUIT"})) << r.describe();
    EXPECT_TRUE(r.hasLine("error Error code = 1025")) << r.describe();
    expectEndsWith(r, 0);
}

// --- the answers front-end --------------------------------------------------------

TEST(ScenarioAnswers, MismatchEndsWithExitCode2) {
    REQUIRE_PIECES();
    Scenario s("mismatch");
    make(s, "nt40", "x86");
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=1\n");  // page 2000 comes instead
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    std::string all = r.out + r.err;
    for (const auto& l : r.log) all += l + "\n";
    EXPECT_NE(all.find("800"), std::string::npos) << r.describe();
    EXPECT_NE(all.find("2000"), std::string::npos) << r.describe();
}

TEST(ScenarioAnswers, RunningOutOfAnswersEndsWithExitCode2) {
    REQUIRE_PIECES();
    Scenario s("short");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    auto r = s.run("100 CONTINUE\n");
    EXPECT_EQ(r.exitCode, 2) << r.describe();
}

TEST(ScenarioAnswers, MalformedAnswersRefusedBeforeAnythingRuns) {
    REQUIRE_PIECES();
    Scenario s("badans");
    make(s, "nt351", "x86");
    auto r = s.run("# fine\n100 CONTINUE\nx800 CONTINUE\n");
    EXPECT_NE(r.exitCode, 0) << r.describe();
    EXPECT_TRUE(r.pages().empty()) << r.describe();
    EXPECT_NE((r.out + r.err).find("3"), std::string::npos) << "names the line\n" << r.describe();
}

TEST(ScenarioAnswers, RecordedRunReplaysToTheSameLog) {
    REQUIRE_PIECES();
    // An interactive run fed from a pipe: cancel and take it back, continue,
    // choose the destination installation, go back from the destination page,
    // then quit.
    Scenario s("record");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    auto recorded = s.root() / "recorded.ans";
    auto first = s.runInteractive("cancel\ncontinue\ncontinue\n2\nback\ncancel\nexit\n", {"--record", recorded.string()});
    EXPECT_EQ(first.pages(), (std::vector<int>{100, 200, 100, 800, 300, 800, 200})) << first.describe();
    expectEndsWith(first, 0);
    ASSERT_TRUE(std::filesystem::exists(recorded)) << first.describe();
    std::ifstream in(recorded);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Scenario again("replay");
    make(again, "nt351", "x86");
    REQUIRE_SPOOLER(again);
    auto second = again.run(text);
    EXPECT_EQ(second.log, first.log) << "recording:\n" << text << "\n" << second.describe();
}

}  // namespace

namespace {

// The shipped answers files for the paths that end before the installation
// and removal flows replay on the machines they are written for.
struct ShippedCase {
    const char* file;
    std::vector<std::string> machine;
    std::vector<int> pages;
};

void PrintTo(const ShippedCase& c, std::ostream* os) { *os << c.file; }

class ScenarioShippedAnswers : public ::testing::TestWithParam<ShippedCase> {};

TEST_P(ScenarioShippedAnswers, Replays) {
    REQUIRE_PIECES();
    const ShippedCase& c = GetParam();
    Scenario s(std::string("shipped-") + c.file);
    ASSERT_TRUE(s.newMachine(c.machine)) << s.error;
    std::ifstream in(scenario::sourceRoot() / "dist" / "answers" / c.file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    auto r = s.run(text);
    EXPECT_EQ(r.pages(), c.pages) << r.describe();
    expectEndsWith(r, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Dist, ScenarioShippedAnswers,
    ::testing::Values(ShippedCase{"quit.ans", {"--os", "nt351", "--arch", "x86"}, {100, 200}},
                      ShippedCase{"unsupported.ans", {"--os", "nt40", "--arch", "mips"}, {100, 2000}},
                      ShippedCase{"not-admin.ans", {"--os", "nt351", "--arch", "alpha", "--user", "user"}, {100, 2400}}),
    [](const auto& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.')) == "not-admin" ? std::string("not_admin") : n.substr(0, n.find('.'));
    });

}  // namespace

// --- the spooler check at start-up (NT 3.5x) -------------------------------------

namespace {
nlohmann::json* findService(nlohmann::json& j, const char* name) {
    for (auto& svc : j["services"]["list"])
        if (svc["name"] == name) return &svc;
    return nullptr;
}
}  // namespace

TEST(ScenarioSpooler, StoppedSpoolerIsStartedBeforeTheInstallationType) {
    REQUIRE_PIECES();
    Scenario s("spooler-stopped");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    s.editMachine([](nlohmann::json& j) { (*findService(j, "Spooler"))["state"] = "stopped"; });
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 7802})) << r.describe();
    expectEndsWith(r, 0);
    auto j = s.machineJson();
    EXPECT_EQ((*findService(j, "Spooler"))["state"], "running") << j["services"].dump(2);
}

TEST(ScenarioSpooler, SpoolerThatWillNotStartEndsSetup) {
    REQUIRE_PIECES();
    Scenario s("spooler-refuses");
    make(s, "nt351", "x86");
    REQUIRE_SPOOLER(s);
    s.editMachine([](nlohmann::json& j) {
        auto& spooler = *findService(j, "Spooler");
        spooler["state"] = "stopped";
        spooler["start"] = {{"refuse", 1058u}};
    });
    auto r = s.run("100 CONTINUE\n2300 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2300})) << r.describe();
    EXPECT_TRUE(r.hasLineStarting("error startSpooler failed, error = ")) << r.describe();
    expectEndsWith(r, 0);
}

TEST(ScenarioSpooler, Windows95HasNoSpoolerCheck) {
    REQUIRE_PIECES();
    Scenario s("spooler-95");
    make(s, "win95", "x86");
    auto r = s.run("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n");
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 7802})) << r.describe();
    expectEndsWith(r, 0);
}
