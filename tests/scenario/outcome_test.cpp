// What a run tells about itself: the result line before the exit line, the
// status pages in the order their work ran, and the closing line, for each
// way a run can end.
#include "scenario/harness.h"

#include <gtest/gtest.h>


namespace {

using scenario::RunResult;
using scenario::Scenario;

const char kInstall[] = "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n";
// Installations that fetch the PostScript modules from the Windows
// distribution the fresh machine carries.
const char kInstallFetchNt[] =
    "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1100 CONTINUE\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n";
const char kInstallFetch95[] =
    "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n102 CONTINUE\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n";
const char kRemove[] = "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n";

// The status pages of a run: "<dialog>" when one opens, "<dialog> end"
// when it closes.
std::vector<std::string> statusOrder(const RunResult& r) {
    std::vector<std::string> out;
    for (const std::string& l : r.log) {
        if (l.rfind("status ", 0) != 0) continue;
        std::string rest = l.substr(7);
        std::string id = rest.substr(0, rest.find(' '));
        out.push_back(rest.size() >= id.size() + 4 && rest.substr(rest.size() - 4) == " end" ? id + " end" : id);
    }
    return out;
}

struct OutcomeCase {
    const char* name;
    std::vector<std::string> machine;                  // winsim new arguments
    std::vector<const char*> before;                   // answers of earlier runs on the machine
    std::string answers;                               // the run looked at
    nlohmann::json fault;                              // declared before that run (null: none)
    std::string result;                                // its result line
    int exitCode;
    const char* closing;                               // its closing line
    std::vector<std::string> status;                   // its status pages
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

// The PostScript modules stand where the NT 3.51 spooler keeps them, so an
// installation needs no Windows distribution.
const std::vector<std::string> kNt351 = {"--os", "nt351", "--arch", "x86", "--user", "admin", "--ps-modules", "versiondir"};
const std::vector<std::string> kInstallWork = {"1800", "1800 end", "1700", "1700 end"};

std::vector<OutcomeCase> outcomeCases() {
    return {
        {"Installed", kNt351, {}, kInstall, nullptr, "result installed restart=no", 0,
         "The software was installed. Exit code 0.", kInstallWork},
        // An upgrade on NT 3.51 stops the spooler to replace the monitor and
        // starts it again before the drivers and the group.
        {"Upgraded", kNt351, {kInstall}, kInstall, nullptr, "result upgraded restart=no", 0,
         "The software was upgraded. Exit code 0.",
         {"5100", "5100 end", "5300", "5300 end", "1800", "1800 end", "1700", "1700 end"}},
        // On NT 3.1 and Windows 95 the new monitor waits for a restart.
        {"UpgradedRestartLater", {"--os", "nt31", "--arch", "x86", "--user", "admin"}, {kInstallFetchNt},
         "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n", nullptr,
         "result upgraded restart=needed", 0, "The software was upgraded; restart Windows to finish. Exit code 0.",
         kInstallWork},
        {"UpgradedRestartNow", {"--os", "win95", "--arch", "x86"}, {kInstallFetch95},
         "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1000 CONTINUE\n1500 CONTINUE\n700 CONTINUE\n", nullptr,
         "result upgraded restart=requested", 0, "The software was upgraded; Windows is restarting. Exit code 0.",
         kInstallWork},
        {"Removed", kNt351, {kInstall}, kRemove, nullptr, "result removed restart=no", 0,
         "The software was removed. Exit code 0.", {"5100", "5100 end", "5300", "5300 end"}},
        {"NothingToRemove", kNt351, {}, kRemove, nullptr, "result nothing restart=no", 0,
         "Nothing was changed. Exit code 0.", {}},
        {"Cancelled", kNt351, {}, "100 CANCEL\n200 EXIT\n", nullptr, "result cancelled restart=no", 0,
         "Setup was cancelled. Exit code 0.", {}},
        // Cancelled after the work: the installation stands.
        {"QuitAfterTheWork", kNt351, {}, "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1200 CANCEL\n1400 CANCEL\n"
                                         "700 CANCEL\n200 EXIT\n",
         nullptr, "result installed restart=no", 0, "The software was installed. Exit code 0.", kInstallWork},
        {"NotAdministrator", {"--os", "nt351", "--arch", "x86", "--user", "user", "--ps-modules", "versiondir"}, {}, "100 CONTINUE\n2400 CONTINUE\n",
         nullptr, "result refused restart=no", 0, "Setup cannot run on this machine. Exit code 0.", {}},
        {"UnsupportedWindows", {"--os", "nt40", "--arch", "x86"}, {}, "100 CONTINUE\n2000 CONTINUE\n", nullptr,
         "result refused restart=no", 0, "Setup cannot run on this machine. Exit code 0.", {}},
        {"FatalError", kNt351, {}, "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n2300 CONTINUE\n",
         {{"call", "AddMonitorA"}, {"target", ""}, {"error", 5}, {"nth", 1}, {"times", 0}}, "result failed restart=no", 0,
         "Setup failed. Exit code 0.", {}},
        // Answers that do not fit the run stop it with 2.
        {"AnswersRanOut", kNt351, {}, "100 CONTINUE\n", nullptr, "result failed restart=no", 2,
         "Setup failed. Exit code 2.", {}},
    };
}

class ScenarioOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(ScenarioOutcome, ResultLineStatusOrderAndClosingLine) {
    const OutcomeCase& c = GetParam();
    Scenario s(std::string("outcome-") + c.name);
    ASSERT_TRUE(s.newMachine(c.machine)) << s.error;
    for (const char* earlier : c.before) {
        RunResult first = s.run(earlier);
        ASSERT_EQ(first.exitCode, 0) << first.describe();
    }
    if (!c.fault.is_null()) s.editMachine([&](nlohmann::json& j) { j["faults"].push_back(c.fault); });

    RunResult r = s.run(c.answers);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.describe();
    ASSERT_GE(r.log.size(), 2u) << r.describe();
    EXPECT_EQ(r.log[r.log.size() - 2], c.result) << r.describe();
    EXPECT_EQ(r.log.back(), "exit " + std::to_string(c.exitCode)) << r.describe();
    EXPECT_EQ(statusOrder(r), c.status) << r.describe();
    // The output ends with the closing line.
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    EXPECT_EQ(out.substr(out.rfind('\n') + 1), c.closing) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Runs, ScenarioOutcome, ::testing::ValuesIn(outcomeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
