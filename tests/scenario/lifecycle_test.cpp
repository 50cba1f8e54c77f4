// The whole life of the package on each platform: a fresh installation, an
// upgrade over it, a restart, the removal and a second restart; then the
// machine is compared with its image from before the first installation.
// Every difference that remains is one the table below names and explains.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

using scenario::RunResult;
using scenario::Scenario;
namespace fs = std::filesystem;

struct LifeRow {
    const char* name;
    const char* os;
    const char* arch;
    bool restartPages;  // NT 3.1 and Windows 95: upgrade and removal offer a restart
};

void PrintTo(const LifeRow& r, std::ostream* os) { *os << r.name; }

const LifeRow kRows[] = {
    {"nt351_x86", "nt351", "x86", false}, {"nt350_x86", "nt350", "x86", false},     {"nt31_x86", "nt31", "x86", true},
    {"win95_x86", "win95", "x86", true},  {"nt351_alpha", "nt351", "alpha", false}, {"nt351_mips", "nt351", "mips", false},
};

// A difference that stays after the whole life, and why.
struct Remaining {
    const char* pattern;  // regular expression over a line of `winsim diff`
    const char* why;
};

// What the package leaves on purpose, or what the machine itself changed.
const Remaining kRemaining[] = {
    {R"(^~ state drives\.C\.free: .*)", "the space the files that stay take (drivers' files, see below)"},
    {R"(^~ state dde\.progman\.active_group: "Main" -> "Startup"$)",
     "the removal shows the Startup group to delete the help item from it, which makes it the active group"},
    {R"(^[~+] state services\.\S+\.(state: "running" -> "start_pending"|pending(\.\S+)? = .*)$)",
     "NT 3.5x: the removal starts the spooler again and does not wait for it; the image is saved while the start "
     "is still pending"},
    {R"(^\+ (key|value) \[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\[^\\]+\\Drivers\\Varden [^\]]+\].*)",
     "the printer drivers added for the PPD files: the removal leaves printer drivers alone, printers on other "
     "ports may use them"},
    {R"(^\+ file .*\\(spool\\DRIVERS\\W32[A-Z0-9]+\\(1\\)?|SYSTEM\\)[a-z0-9]+\.ppd$)",
     "the PPD files of those printer drivers, in the printer-driver directory"},
    {R"(^[-+] (file|state files\.).*\\spool\\DRIVERS\\W32[A-Z0-9]+\\(1\\)?(pscript\.dll|pscrptui\.dll|pscript\.hlp)?(\.version = .*)?$)",
     "NT 3.5x: the spooler keeps the PostScript modules of those drivers (with their versions) in its version "
     "subdirectory; the copies in the driver directory itself, and the help file beside them, are deleted"},
    {R"(^\+ file C:\\win32app\\$)", "the parent of the default root, a folder programs of this kind share"},
    {R"(^\+ file C:\\WINDOWS\\WININIT\.BAK$)", "Windows 95 keeps the processed wininit.ini as WININIT.BAK"},
};
// The line that says the printer drivers stay.
const Remaining* const kDriversStay = &kRemaining[3];

class LifeCycle : public ::testing::TestWithParam<LifeRow> {};

TEST_P(LifeCycle, InstallUpgradeRestartRemoveRestartLeavesOnlyExplainedDifferences) {
    const LifeRow& row = GetParam();
    Scenario s(std::string("life-") + row.name);
    // The operating system's PostScript modules are where the spooler keeps
    // them, so no distribution is asked for.
    ASSERT_TRUE(s.newMachine({"--os", row.os, "--arch", row.arch, "--user", "admin", "--ps-modules", "driverdir"}))
        << s.error;
    fs::path before = s.snapshot();
    // A fresh installation, the same again as an upgrade, the restart; the
    // removal, and the restart that takes what was in use (null: a restart).
    for (const char* answers : {"install-default.ans", row.restartPages ? "upgrade-restart-later.ans" : "install-default.ans",
                                (const char*)nullptr, row.restartPages ? "remove-restart-later.ans" : "remove.ans",
                                (const char*)nullptr}) {
        if (!answers) {
            s.reboot();
            continue;
        }
        RunResult r = s.run(answers);
        ASSERT_EQ(r.exitCode, 0) << answers << "\n" << r.describe();
        EXPECT_EQ(r.linesStarting("box "), std::vector<std::string>{}) << answers;
    }

    // Against the machine before the first installation.
    std::vector<std::string> diff = s.changesSince(before);
    std::vector<std::string> unexplained;
    std::set<const Remaining*> seen;
    for (const auto& line : diff) {
        const Remaining* match = nullptr;
        for (const auto& r : kRemaining)
            if (std::regex_match(line, std::regex(r.pattern))) match = &r;
        if (match)
            seen.insert(match);
        else
            unexplained.push_back(line);
    }
    EXPECT_EQ(unexplained, std::vector<std::string>{});
    // The printer drivers stay on every platform.
    EXPECT_TRUE(seen.count(kDriversStay)) << ::testing::PrintToString(diff);
}

INSTANTIATE_TEST_SUITE_P(Platforms, LifeCycle, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
