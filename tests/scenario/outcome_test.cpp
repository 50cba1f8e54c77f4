// What a run tells about itself, for each way a run can end: the result
// line before the exit line, the status pages in the order their work ran,
// the closing line, the report of every change (--report; a run that ends
// before installing changes nothing but the frame's title), and the code
// deployment tools read (--deploy-exit-codes), shown by the preview
// (--dry-run) that lists exactly the real run's report; and what is
// refused before the program runs at all.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace scenario;

struct OutcomeCase {
    const char* name;
    std::vector<std::string> machine;  // winsim new arguments
    std::vector<const char*> before;   // answers of earlier runs on the machine
    std::string answers;               // the run looked at
    json patch;                        // merged into machine.json before that run (null: none)
    std::string result;                // its result line, after "result "
    const char* closing;               // its closing line, before ". Exit code <code>."
    Lines status;                      // its status pages
    Lines report;                      // beginnings of lines its report holds ("!": must not hold)
    int reportLines;                   // how many lines the report has (-1: not counted)
    int deployCode;                    // with --deploy-exit-codes
    const char* line = nullptr;        // a further log line the run writes (a beginning)
    const char* readOnly = nullptr;    // a file already at its destination (read-only by the patch)
    int exitCode = 0;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

// The PostScript modules stand where the NT 3.51 spooler keeps them, so an
// installation needs no Windows distribution.
const std::vector<std::string> kNt351 = {"--os", "nt351", "--arch", "x86", "--user", "admin", "--ps-modules", "versiondir"};
const Lines kInstallWork = {"1800", "1800 end", "1700", "1700 end"};
const std::string kMonitorKey = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port]";
const std::string kVersionKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]";
const std::string kGroup = "state dde.progman.groups[name=Varden Network Printers]";
const Lines kTitleOnly = {"+ state ui.frame_title = \"Varden Network Printing Setup\""};
const char kInstalled[] = "The software was installed", kCancelled[] = "Setup was cancelled";
const char kFailed[] = "Setup failed";

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
const Lines kComplete = {"+ key " + kMonitorKey, "+ " + kGroup, "+ value " + kVersionKey + " \"Version Installed\"",
                         "!~ state services."};
const Lines kNothing = {"!+ key " + kMonitorKey, "!+ " + kGroup, "!+ key " + kVersionKey, "!~ state services."};

std::vector<OutcomeCase> outcomeCases() {
    return {
        {"Installed", kNt351, {}, "install-default.ans", nullptr, "installed restart=no", kInstalled, kInstallWork,
         {"+ key " + kMonitorKey, "+ value " + kVersionKey + " \"Version Installed\"=\"V5.1-1\"",
          "+ file C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe", "+ file C:\\WINNT35\\system32\\vrdpsmon.dll",
          "+ file C:\\WINNT35\\system32\\spool\\DRIVERS\\W32X86\\1\\vls600.ppd", "+ " + kGroup,
          "+ state spooler.loaded_monitors.Varden Network Port"},
         -1, 0},
        // An upgrade on NT 3.51 stops the spooler to replace the monitor and
        // starts it again before the drivers and the group. The same files
        // again change nothing but the date of the version record.
        {"Upgraded", kNt351, {"install-default.ans"}, "install-default.ans", nullptr, "upgraded restart=no",
         "The software was upgraded", {"5100", "5100 end", "5300", "5300 end", "1800", "1800 end", "1700", "1700 end"},
         {"~ state clock.tick_ms", "~ value " + kVersionKey + " \"Install Date\"",
          "+ value [HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager] \"PendingFileRenameOperations\""},
         3, 0},
        // On NT 3.1 and Windows 95 the new monitor waits for a restart.
        {"UpgradedRestartLater", {"--os", "nt31", "--arch", "x86", "--user", "admin"}, {"install-fetch-drivers.ans"},
         "upgrade-restart-later.ans", nullptr, "upgraded restart=needed",
         "The software was upgraded; restart Windows to finish", kInstallWork,
         {"~ value " + kVersionKey + " \"Install Date\""}, -1, 3010},
        {"UpgradedRestartNow", {"--os", "win95", "--arch", "x86"}, {"install-fetch-drivers-win95.ans"},
         "100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1000 CONTINUE\n1500 CONTINUE\n700 CONTINUE\n", nullptr,
         "upgraded restart=requested", "The software was upgraded; Windows is restarting", kInstallWork,
         {"~ value " + kVersionKey + " \"Install Date\""}, -1, 1641},
        {"Removed", kNt351, {"install-default.ans"}, "remove.ans", nullptr, "removed restart=no",
         "The software was removed", {"5100", "5100 end", "5300", "5300 end"},
         {"- key " + kMonitorKey, "- key " + kVersionKey, "- file C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe",
          "- file C:\\WINNT35\\system32\\vrdpsmon.dll", "- " + kGroup, "- state spooler.loaded_monitors.Varden Network Port"},
         -1, 0},
        {"NothingToRemove", kNt351, {}, "remove.ans", nullptr, "nothing restart=no", "Nothing was changed", {},
         kTitleOnly, 1, 0},
        {"Cancelled", kNt351, {}, "quit.ans", nullptr, "cancelled restart=no", kCancelled, {}, kTitleOnly, 1, 1602},
        // Cancelled after the work: the installation stands.
        {"QuitAfterTheWork", kNt351, {}, kTypeOne + "1200 CANCEL\n1400 CANCEL\n700 CANCEL\n200 EXIT\n", nullptr,
         "installed restart=no", kInstalled, kInstallWork, {"+ key " + kMonitorKey}, -1, 0},
        {"NotAdministrator", {"--os", "nt351", "--arch", "alpha", "--user", "user"}, {}, "not-admin.ans", nullptr,
         "refused restart=no", "Setup cannot run on this machine", {}, kTitleOnly, 1, 1603},
        {"UnsupportedWindows", {"--os", "nt40", "--arch", "mips"}, {}, "unsupported.ans", nullptr, "refused restart=no",
         "Setup cannot run on this machine", {}, kTitleOnly, 1, 1603},
        // A quit message while a page is shown ends setup on the toolkit's error page
        // as a cancel.
        {"QuitMessageDuringAPage", kNt351, {}, "100 CONTINUE\n2300 CONTINUE\n", {{"ui", {{"quit_on_window_id", 800}}}},
         "cancelled restart=no", kCancelled, {}, kTitleOnly, 1, 1602, "page 800 FInstallTypeDlgProc QUIT"},
        // Windows 95 keeps a removed monitor loaded until it starts again:
        // an installation right after a removal is refused with the restart
        // advice, and only its files are copied.
        {"Win95InstallAfterRemoval", {"--os", "win95", "--arch", "x86", "--user", "admin", "--ps-modules", "driverdir"},
         {"install-default.ans", "remove-restart-later.ans"}, kTo2300, nullptr, "failed restart=needed",
         "Setup failed; restart Windows to finish", {}, {"+ file C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new"}, 18, 1603,
         "error An instance of the Brevant Moniter was still residing in memory.  An incomplete installation or "
         "de-installation was detected.  Please reboot the computer before re-running this installation program."},
        // Page 1300 retries the fetch (the first attempt fails) or corrects
        // the path on page 1100; cancelled twice, it quits.
        {"DistributionFetchFailsThenSucceeds", kNt351Fetch, {}, kFetch + "\n1300 CONTINUE\n1100 CONTINUE\n" + kToTheEnd,
         fault("VerInstallFileA", "", 0x10000, 1), "installed restart=no", kInstalled, kInstallWork, kComplete, -1, 0},
        {"WrongDistributionPathCorrected", kNt351Fetch, {},
         kFetch + " EditTextOut=\"E:\\NOWHERE\"\n1300 CONTINUE\n1100 CONTINUE EditTextOut=\"E:\\I386\"\n" + kToTheEnd,
         nullptr, "installed restart=no", kInstalled, kInstallWork, kComplete, -1, 0},
        {"CancelledAtTheDistributionPath", kNt351Fetch, {},
         kFetch + "\n1300 CANCEL\n200 CONTINUE\n1300 CONTINUE\n1100 CANCEL\n200 EXIT\n",
         fault("VerInstallFileA", "", 0x100), "cancelled restart=no", kCancelled, {}, kNothing, -1, 1602},
        {"DiskFullWhileCopying", kNt351, {}, kTo2300, fault("CopyFileA", kWizardPath, 112), "cancelled restart=no",
         kCancelled, {}, kNothing, -1, 1602,
         "box Disk Full: The disk is full while copying C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe. Make room and "
         "choose Retry, or Cancel to stop setup."},
        {"ReadOnlyDestination", kNt351, {}, kTo2300, {{"files", {{kWizardPath, {{"attributes", {"readonly"}}}}}}},
         "failed restart=no", kFailed, {}, {"!~ file " + kWizardPath, "!+ key " + kMonitorKey}, -1, 1603,
         "box Copy Error: Cannot copy D:\\vrdpswiz.exe to C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe (error 5).",
         kWizardPath.c_str()},
        {"VersionKeyRefused", kNt351, {}, kTo2300,
         fault("RegCreateKeyExA", "HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion"),
         "failed restart=no", kFailed, kInstallWork, {"+ key " + kMonitorKey, "+ " + kGroup, "!+ key " + kVersionKey},
         -1, 1603,
         "error Unable to access Registry to set version, error = 5.  Please restart to a clean system before "
         "re-running this program."},
        // Answers that do not fit the run stop it with 2.
        {"AnswersRanOut", kNt351, {}, "100 CONTINUE\n", nullptr, "failed restart=no", kFailed, {}, kTitleOnly, 1, 1603,
         nullptr, nullptr, 2},
        {"AnswersLeftOver", kNt351, {}, "100 CONTINUE\n800 CONTINUE ButtonChecked=3\n7802 CONTINUE\n100 CONTINUE\n", nullptr,
         "failed restart=no", kFailed, {}, kTitleOnly, 1, 1603, nullptr, nullptr, 2},
    };
}

class ScenarioOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(ScenarioOutcome, ResultStatusReportAndCodes) {
    const OutcomeCase& c = GetParam();
    Scenario s(std::string("outcome-") + c.name);
    ASSERT_TRUE(s.newMachine(c.machine)) << s.error;
    for (const char* earlier : c.before) ASSERT_EQ(s.run(earlier).exitCode, 0) << earlier;
    if (c.readOnly) s.writeFile(c.readOnly, "kept\n");
    if (!c.patch.is_null()) s.editMachine([&](json& j) { j.merge_patch(c.patch); });

    // The preview first, reported as JSON, with the codes for deployment
    // tools: the code says what happened (a Linux parent sees it modulo 256;
    // the log has it whole); the transcript shows the image left as it was.
    const fs::path asText = s.root() / "changes.txt", asJson = s.root() / "changes.json";
    RunResult d = s.run(c.answers, {"--dry-run", "--deploy-exit-codes", "--report", asJson.string()});
    EXPECT_EQ(d.exitCode, c.deployCode & 0xff) << d.describe();
    EXPECT_EQ(d.log.back(), "exit " + std::to_string(c.deployCode)) << d.describe();

    RunResult r = s.run(c.answers, {"--report", asText.string()});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.describe();
    ASSERT_GE(r.log.size(), 2u) << r.describe();
    const Lines ending = {"result " + c.result, "exit " + std::to_string(c.exitCode)};
    EXPECT_EQ(Lines(r.log.end() - 2, r.log.end()), ending) << r.describe();
    EXPECT_EQ(r.statuses(), c.status) << r.describe();
    EXPECT_TRUE(!c.line || r.hasLineStarting(c.line)) << r.describe();
    // The output ends with the closing line (that the image is saved with
    // the run's changes whatever the end, the transcript shows).
    Lines out = splitLines(r.out);
    EXPECT_EQ(out.empty() ? "" : out.back(), c.closing + (". Exit code " + std::to_string(c.exitCode) + ".")) << r.out;

    Lines report = splitLines(readText(asText));
    EXPECT_TRUE(c.reportLines < 0 || (int)report.size() == c.reportLines) << joined(report);
    for (const std::string& want : c.report) {
        const bool absent = want.starts_with("!");
        const std::string line = want.substr(absent ? 1 : 0);
        EXPECT_NE(std::any_of(report.begin(), report.end(), [&](const std::string& l) { return l.starts_with(line); }), absent)
            << (absent ? "a line " : "no line ") << line << " in the report:\n" << joined(report);
    }

    // The preview showed exactly these changes and closed with the same
    // words; its JSON report holds them too, one object a line.
    const std::string shown = "The run would make " + std::to_string(report.size()) +
                              (report.size() == 1 ? " change:\n" : " changes:\n") + joined(report);
    EXPECT_NE(d.out.find(shown), std::string::npos) << shown << "\n" << d.out;
    const std::string closing = " (dry run: nothing was saved). Exit code " + std::to_string(c.deployCode) + ".\n";
    EXPECT_NE(d.out.find(c.closing + closing), std::string::npos) << d.out;
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
