// Whole runs of setup that end before anything is installed: platforms
// refused, the administrator check, the spooler at start-up, quitting and
// the fatal errors of start-up. Each compares the machine afterwards with
// the one before: nothing but what the row names may have changed.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using nlohmann::json;
using scenario::RunResult;
using scenario::Scenario;
namespace fs = std::filesystem;

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
    const char* line;     // a log line the run must write, or null
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
        {"Nt40Unsupported", {"--os", "nt40", "--arch", "mips"}, nullptr, "unsupported.ans", {100, 2000}, nullptr, nullptr},
        {"Nt351BuildTooOld", machine({"--build", "1056"}), nullptr, "unsupported.ans", {100, 2000}, nullptr, nullptr},
        {"Nt352WarnedThenUnsupported", machine({"--version", "3.52"}), nullptr, "100 CONTINUE\n2100 CONTINUE\n2000 CONTINUE\n",
         {100, 2100, 2000}, nullptr, nullptr},
        {"NotAdministrator", {"--os", "nt351", "--arch", "alpha", "--user", "user"}, nullptr, "not-admin.ans", {100, 2400},
         nullptr, nullptr},
        {"Win95MakesNoAdministratorCheck", {"--os", "win95", "--arch", "x86", "--user", "user"}, nullptr,
         "100 CONTINUE\n800 CANCEL\n200 EXIT\n", {100, 800, 200}, nullptr, nullptr},
        {"QuitFromWelcome", machine({}), nullptr, "quit.ans", {100, 200}, nullptr, nullptr},
        {"StoppedSpoolerIsStarted", machine({"--user", "admin"}), [](Scenario& s) { stopSpooler(s, nullptr); },
         "remove.ans", {100, 800, 7802}, nullptr, R"(^~ state services\..*state: "stopped" -> "running"$)"},
        {"SpoolerThatWillNotStart", machine({"--user", "admin"}), [](Scenario& s) { stopSpooler(s, 1058); },
         "100 CONTINUE\n2300 CONTINUE\n", {100, 2300}, "error startSpooler failed, error = 1058", nullptr},
        {"MissingSetupInf", machine({}), [](Scenario& s) { fs::remove(s.distDir() / "setup.inf"); }, "2300 CONTINUE\n",
         {2300}, "error Error code = 1024", nullptr},
        {"QuitMessageDuringAPage", machine({"--user", "admin"}),
         [](Scenario& s) { s.editMachine([](json& j) { j["ui"]["quit_on_window_id"] = 800; }); },
         "100 CONTINUE\n2300 CONTINUE\n", {100, 800, 2300}, "error Error code = 1025", nullptr},
    };
}

class StartUp : public ::testing::TestWithParam<StartRow> {};

TEST_P(StartUp, EndsBeforeInstallingAndChangesNothingElse) {
    const StartRow& row = GetParam();
    Scenario s(row.name);
    ASSERT_TRUE(s.newMachine(row.machine)) << s.error;
    if (row.prepare) row.prepare(s);
    fs::path before = s.snapshot();

    RunResult r = s.run(row.answers.find('\n') == std::string::npos ? scenario::shippedAnswers(row.answers) : row.answers);
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), row.pages) << r.describe();
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back(), "exit 0");
    if (row.line) {
        EXPECT_TRUE(r.hasLine(row.line)) << r.describe();
    }

    // Nothing but what the row names differs from the machine before.
    std::vector<std::string> other;
    bool named = false;
    for (const auto& l : s.changesSince(before)) {
        if (row.changes && std::regex_match(l, std::regex(row.changes)))
            named = true;
        else
            other.push_back(l);
    }
    EXPECT_EQ(other, std::vector<std::string>{});
    EXPECT_EQ(named, row.changes != nullptr) << "the change the row names";
}

INSTANTIATE_TEST_SUITE_P(Rows, StartUp, ::testing::ValuesIn(startRows()),
                         [](const auto& info) { return std::string(info.param.name); });

// An interactive run fed from a pipe and recorded replays to the same log:
// cancel and take it back, choose the destination installation, go back
// from the destination page, then quit.
TEST(StartUpRecording, RecordedRunReplaysToTheSameLog) {
    Scenario s("record"), again("replay");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    ASSERT_TRUE(again.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << again.error;
    fs::path recorded = s.root() / "recorded.ans";
    RunResult first = s.runInteractive("cancel\ncontinue\ncontinue\n2\nback\ncancel\nexit\n", {"--record", recorded.string()});
    EXPECT_EQ(first.pages(), (std::vector<int>{100, 200, 100, 800, 300, 800, 200})) << first.describe();
    EXPECT_EQ(first.exitCode, 0) << first.describe();
    RunResult second = again.run(scenario::readText(recorded));
    EXPECT_EQ(second.log, first.log) << second.describe();
}

}  // namespace
