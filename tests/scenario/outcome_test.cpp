// What a run tells about itself, for each way a run can end (the result
// line before the exit line names it), with the report of every change
// (--report) and the preview (--dry-run, with --deploy-exit-codes) that
// lists exactly the real run's report; and what is refused before the
// program runs at all. The transcripts pin both runs whole.
#include "scenario/harness.h"

#include <gtest/gtest.h>

namespace {

using namespace scenario;

struct OutcomeCase {
    const char* name;
    std::vector<std::string> machine;  // winsim new arguments
    std::vector<const char*> before;   // answers of earlier runs on the machine
    std::string answers;               // the run looked at
    json patch;                        // merged into machine.json before that run (null: none)
    std::string result;                // its result line, after "result "
    const char* readOnly = nullptr;    // a file already at its destination (read-only by the patch)
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

// The PostScript modules stand where the NT 3.51 spooler keeps them, so an
// installation needs no Windows distribution.
const std::vector<std::string> kNt351 = {"--os", "nt351", "--arch", "x86", "--user", "admin", "--ps-modules", "versiondir"};

// Calls are counted by name whatever their target, so a fault aimed at one
// target fails every call from the nth on (times 0) unless told otherwise.
json fault(const char* call, const std::string& target = "", int error = 5, int times = 0) {
    return {{"faults", {{{"call", call}, {"target", target}, {"error", error}, {"nth", 1}, {"times", times}}}}};
}

// Failures on the way: the monitor and the drivers registered (with the
// version record when setup went on to the end) or nothing of them; the
// spooler running again either way.
const std::string kWizardPath = "C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe";
const std::vector<std::string> kNt351Fetch = {"--os", "nt351", "--arch", "x86", "--user", "admin"};
const std::string kTypeOne = "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n", kFetch = kTypeOne + "1100 CONTINUE";
const std::string kTo2300 = kTypeOne + "2300 CONTINUE\n", kToTheEnd = "1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n";

std::vector<OutcomeCase> outcomeCases() {
    return {
        {"Installed", kNt351, {}, "install-default.ans", nullptr, "installed restart=no"},
        // An upgrade on NT 3.51 stops the spooler to replace the monitor and
        // starts it again before the drivers and the group. The same files
        // again change nothing but the date of the version record.
        {"Upgraded", kNt351, {"install-default.ans"}, "install-default.ans", nullptr, "upgraded restart=no"},
        // On NT 3.1 and Windows 95 the new monitor waits for a restart.
        {"UpgradedRestartLater", {"--os", "nt31", "--arch", "x86", "--user", "admin"}, {"install-fetch-drivers.ans"},
         "upgrade-restart-later.ans", nullptr, "upgraded restart=needed"},
        {"UpgradedRestartNow", {"--os", "win95", "--arch", "x86"}, {"install-fetch-drivers-win95.ans"},
         "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1000 CONTINUE\n1500 CONTINUE\n700 CONTINUE\n", nullptr,
         "upgraded restart=requested"},
        {"Removed", kNt351, {"install-default.ans"}, "remove.ans", nullptr, "removed restart=no"},
        {"NothingToRemove", kNt351, {}, "remove.ans", nullptr, "nothing restart=no"},
        {"Cancelled", kNt351, {}, "quit.ans", nullptr, "cancelled restart=no"},
        // Cancelled after the work: the installation stands.
        {"QuitAfterTheWork", kNt351, {}, kTypeOne + "1200 CANCEL\n1400 CANCEL\n700 CANCEL\n200 EXIT\n", nullptr,
         "installed restart=no"},
        {"NotAdministrator", {"--os", "nt351", "--arch", "alpha", "--user", "user"}, {}, "not-admin.ans", nullptr,
         "refused restart=no"},
        {"UnsupportedWindows", {"--os", "nt40", "--arch", "mips"}, {}, "unsupported.ans", nullptr, "refused restart=no"},
        // A quit message while a page is shown ends setup on the toolkit's error page
        // as a cancel.
        {"QuitMessageDuringAPage", kNt351, {}, "100 CONTINUE\n2300 CONTINUE\n", {{"ui", {{"quit_on_window_id", 800}}}},
         "cancelled restart=no"},
        // Windows 95 keeps a removed monitor loaded until it starts again:
        // an installation right after a removal is refused with the restart
        // advice, and only its files are copied.
        {"Win95InstallAfterRemoval", {"--os", "win95", "--arch", "x86", "--user", "admin", "--ps-modules", "driverdir"},
         {"install-default.ans", "remove-restart-later.ans"}, kTo2300, nullptr, "failed restart=needed"},
        // Page 1300 retries the fetch (the first attempt fails) or corrects
        // the path on page 1100; cancelled twice, it quits.
        {"DistributionFetchFailsThenSucceeds", kNt351Fetch, {}, kFetch + "\n1300 CONTINUE\n1100 CONTINUE\n" + kToTheEnd,
         fault("VerInstallFileA", "", 0x10000, 1), "installed restart=no"},
        {"WrongDistributionPathCorrected", kNt351Fetch, {},
         kFetch + " EditTextOut=\"E:\\NOWHERE\"\n1300 CONTINUE\n1100 CONTINUE EditTextOut=\"E:\\I386\"\n" + kToTheEnd,
         nullptr, "installed restart=no"},
        {"CancelledAtTheDistributionPath", kNt351Fetch, {},
         kFetch + "\n1300 CANCEL\n200 CONTINUE\n1300 CONTINUE\n1100 CANCEL\n200 EXIT\n",
         fault("VerInstallFileA", "", 0x100), "cancelled restart=no"},
        // The disk fills while the wizard is copied: the box's Cancel stops
        // setup before anything is registered.
        {"DiskFullWhileCopying", kNt351, {}, kTo2300, fault("CopyFileA", kWizardPath, 112), "cancelled restart=no"},
        // The read-only file is not replaced and nothing is registered.
        {"ReadOnlyDestination", kNt351, {}, kTo2300, {{"files", {{kWizardPath, {{"attributes", {"readonly"}}}}}}},
         "failed restart=no", kWizardPath.c_str()},
        // The monitor and the group stand; the version record is missing.
        {"VersionKeyRefused", kNt351, {}, kTo2300,
         fault("RegCreateKeyExA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion"),
         "failed restart=no"},
        // Answers that do not fit the run stop it with 2.
        {"AnswersRanOut", kNt351, {}, "100 CONTINUE\n", nullptr, "failed restart=no"},
        {"AnswersLeftOver", kNt351, {}, "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n100 CONTINUE\n", nullptr,
         "failed restart=no"},
    };
}

class ScenarioOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(ScenarioOutcome, ResultAndReport) {
    const OutcomeCase& c = GetParam();
    Scenario s(std::string("outcome-") + c.name);
    ASSERT_TRUE(s.newMachine(c.machine)) << s.error;
    for (const char* earlier : c.before) ASSERT_EQ(s.run(earlier).exitCode, 0) << earlier;
    if (c.readOnly) s.writeFile(c.readOnly, "kept\n");
    if (!c.patch.is_null()) s.editMachine([&](json& j) { j.merge_patch(c.patch); });

    // The preview first, reported as JSON, then the real run with its report
    // as text.
    const fs::path asText = s.root() / "changes.txt", asJson = s.root() / "changes.json";
    RunResult d = s.run(c.answers, {"--dry-run", "--deploy-exit-codes", "--report", asJson.string()});
    RunResult r = s.run(c.answers, {"--report", asText.string()});
    ASSERT_GE(r.log.size(), 2u) << r.describe();
    EXPECT_EQ(r.log[r.log.size() - 2], "result " + c.result) << r.describe();

    // The preview showed exactly these changes; its JSON report holds them
    // too, one object a line.
    Lines report = splitLines(readText(asText));
    const std::string shown = "The run would make " + std::to_string(report.size()) +
                              (report.size() == 1 ? " change:\n" : " changes:\n") + joined(report);
    EXPECT_NE(d.out.find(shown), std::string::npos) << shown << "\n" << d.out;
    const json changes = json::parse(readText(asJson), nullptr, false);
    ASSERT_TRUE(changes.is_array()) << readText(asJson);
    EXPECT_EQ(splitLines(readText(asJson)).size(), changes.size() + 2);
    Lines fromJson;
    for (const auto& change : changes) {
        const char* sign = change["change"] == "added" ? "+" : change["change"] == "removed" ? "-" : "~";
        fromJson.push_back(sign + (" " + change["kind"].get<std::string>()) + " " + change["what"].get<std::string>());
    }
    EXPECT_EQ(fromJson, report);
}

INSTANTIATE_TEST_SUITE_P(Runs, ScenarioOutcome, ::testing::ValuesIn(outcomeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Before the program runs: the usage, no machine, and a damaged image,
// which is refused and left as it was with no log written.
TEST(ScenarioRefused, UsageNoMachineAndDamagedImage) {
    Scenario s("host");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86"})) << s.error;
    common::Proc help = common::run({"setup", "--help"}, s.distDir()), bare = common::run({"setup"}, s.distDir());
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--answers FILE"), std::string::npos) << help.out;
    EXPECT_EQ(bare.code, 2);
    EXPECT_NE(bare.err.find("no machine given"), std::string::npos) << bare.err;
    std::string text = readText(s.machineDir() / "machine.json");
    std::string broken = text.substr(0, text.size() / 2) + "\n}}} not json\n";
    common::writeText(s.machineDir() / "machine.json", broken);
    RunResult r = s.run("quit.ans");
    EXPECT_EQ(r.exitCode, 3) << r.describe();
    EXPECT_NE(r.err.find("machine.json:"), std::string::npos) << r.err;
    EXPECT_EQ(readText(s.machineDir() / "machine.json"), broken);
    EXPECT_FALSE(fs::exists(s.root() / "run.log"));  // the program never ran
}

}  // namespace
