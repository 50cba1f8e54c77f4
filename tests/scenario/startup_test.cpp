// Whole runs of setup that end before anything is installed: platforms
// refused, the administrator check, the spooler at start-up, quitting and
// the fatal errors of start-up. Each compares the machine afterwards with
// the one before: nothing but what the row names may have changed.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace {

using namespace scenario;

json* service(json& j, const char* name) {
    for (auto& svc : j["services"]["list"])
        if (svc["name"] == name) return &svc;
    return nullptr;
}

struct StartRow {
    const char* name;
    std::vector<std::string> machine;  // `winsim new` options
    std::function<void(Scenario&)> prepare;
    std::string answers;  // a shipped file's name, or the text
    std::vector<int> pages;
    Lines lines;          // log lines the run must write
    const char* changes;  // what may differ afterwards (a pattern over `winsim diff` lines), or null
};

void PrintTo(const StartRow& r, std::ostream* os) { *os << r.name; }

void stopSpooler(Scenario& s, json refuse) {
    s.editMachine([&](json& j) {
        json& spooler = *service(j, "Spooler");
        spooler["state"] = "stopped";
        if (!refuse.is_null()) spooler["start"] = {{"refuse", refuse}};
    });
}

std::vector<StartRow> startRows() {
    const char* nt351[] = {"--os", "nt351", "--arch", "x86"};
    auto machine = [&](std::vector<std::string> more) {
        std::vector<std::string> m(std::begin(nt351), std::end(nt351));
        m.insert(m.end(), more.begin(), more.end());
        return m;
    };
    return {
        {"Nt40Unsupported", {"--os", "nt40", "--arch", "mips"}, nullptr, "unsupported.ans", {100, 2000}, {}, nullptr},
        {"Nt351BuildTooOld", machine({"--build", "1056"}), nullptr, "unsupported.ans", {100, 2000}, {}, nullptr},
        {"Nt352WarnedThenUnsupported", machine({"--version", "3.52"}), nullptr, "100 CONTINUE\n2100 CONTINUE\n2000 CONTINUE\n",
         {100, 2100, 2000}, {}, nullptr},
        {"NotAdministrator", {"--os", "nt351", "--arch", "alpha", "--user", "user"}, nullptr, "not-admin.ans", {100, 2400}, {},
         nullptr},
        {"Win95MakesNoAdministratorCheck", {"--os", "win95", "--arch", "x86", "--user", "user"}, nullptr,
         "100 CONTINUE\n800 CANCEL\n200 EXIT\n", {100, 800, 200}, {}, nullptr},
        {"QuitFromWelcome", machine({}), nullptr, "quit.ans", {100, 200}, {}, nullptr},
        {"StoppedSpoolerIsStarted", machine({"--user", "admin"}), [](Scenario& s) { stopSpooler(s, nullptr); },
         "remove.ans", {100, 800, 7802}, {}, R"(^~ state services\..*state: "stopped" -> "running"$)"},
        {"SpoolerThatWillNotStart", machine({"--user", "admin"}), [](Scenario& s) { stopSpooler(s, 1058); },
         "100 CONTINUE\n2300 CONTINUE\n", {100, 2300}, {"error startSpooler failed, error = 1058"}, nullptr},
        {"MissingSetupInf", machine({}), [](Scenario& s) { fs::remove(s.distDir() / "setup.inf"); }, "2300 CONTINUE\n",
         {2300}, {"error Error code = 1024"}, nullptr},
        {"QuitMessageDuringAPage", machine({"--user", "admin"}),
         [](Scenario& s) { s.editMachine([](json& j) { j["ui"]["quit_on_window_id"] = 800; }); },
         "100 CONTINUE\n2300 CONTINUE\n", {100, 800, 2300},
         {"page 800 FInstallTypeDlgProc QUIT", "error Error code = 1025"}, nullptr},
    };
}

class StartUp : public ::testing::TestWithParam<StartRow> {};

TEST_P(StartUp, EndsBeforeInstallingAndChangesNothingElse) {
    const StartRow& row = GetParam();
    Scenario s(row.name);
    ASSERT_TRUE(s.newMachine(row.machine)) << s.error;
    if (row.prepare) row.prepare(s);
    fs::path before = s.snapshot();

    RunResult r = s.run(row.answers);
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), row.pages) << r.describe();
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back(), "exit 0");
    for (const std::string& line : row.lines) EXPECT_TRUE(r.hasLine(line)) << line << "\n" << r.describe();

    // Nothing but what the row names differs from the machine before.
    Lines other;
    bool named = false;
    for (const auto& l : s.changesSince(before)) {
        if (row.changes && std::regex_match(l, std::regex(row.changes)))
            named = true;
        else
            other.push_back(l);
    }
    EXPECT_EQ(other, Lines{});
    EXPECT_EQ(named, row.changes != nullptr) << "the change the row names";
}

INSTANTIATE_TEST_SUITE_P(Rows, StartUp, ::testing::ValuesIn(startRows()),
                         [](const auto& info) { return std::string(info.param.name); });

// Before anything runs: the usage, no machine, and a damaged image, which
// is refused and left as it was with no log written.
TEST(StartUpRefused, UsageNoMachineAndDamagedImage) {
    Scenario s("host");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86"})) << s.error;
    std::string out, err;
    EXPECT_EQ(runProgram(binDir() / "setup", {"--help"}, s.distDir(), out, err), 0);
    EXPECT_NE(out.find("--answers FILE"), std::string::npos) << out;
    EXPECT_EQ(runProgram(binDir() / "setup", {}, s.distDir(), out, err), 2);
    EXPECT_NE(err.find("no machine given"), std::string::npos) << err;
    std::string text = readText(s.machineDir() / "machine.json");
    std::string broken = text.substr(0, text.size() / 2) + "\n}}} not json\n";
    std::ofstream(s.machineDir() / "machine.json", std::ios::binary | std::ios::trunc) << broken;
    RunResult r = s.run("quit.ans");
    EXPECT_EQ(r.exitCode, 3) << r.describe();
    EXPECT_NE(r.err.find("machine.json:"), std::string::npos) << r.err;
    EXPECT_EQ(readText(s.machineDir() / "machine.json"), broken);
    EXPECT_FALSE(fs::exists(s.root() / "run.log"));  // the program never ran
}

}  // namespace
