// The whole life of the package on each platform: a fresh installation, an
// upgrade over it, a restart, the removal and a second restart; then the
// machine is compared with its image from before the first installation.
// Every difference that remains is one the table below names and explains.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

using scenario::RunResult;
using scenario::Scenario;
namespace fs = std::filesystem;

struct LifeRow {
    const char* name;
    const char* os;
    const char* arch;
    bool restartPages;   // NT 3.1 and Windows 95: upgrade and removal offer a restart
    const char* driverEnv;  // folder of the printer-driver directory (empty: the system directory)
};

void PrintTo(const LifeRow& r, std::ostream* os) { *os << r.name; }

const LifeRow kRows[] = {
    {"nt351_x86", "nt351", "x86", false, "W32X86"},    {"nt350_x86", "nt350", "x86", false, "W32X86"},
    {"nt31_x86", "nt31", "x86", true, "W32X86"},       {"win95_x86", "win95", "x86", true, ""},
    {"nt351_alpha", "nt351", "alpha", false, "W32ALPHA"}, {"nt351_mips", "nt351", "mips", false, "W32MIPS"},
};

// A difference that stays after the whole life, and why.
struct Remaining {
    const char* pattern;  // regular expression over a line of `winsim diff`
    const char* why;
};

// What the package leaves on purpose, or what the machine itself changed.
const Remaining kRemaining[] = {
    {R"(^~ state clock\..*)", "the clock moves on with every run and restart"},
    {R"(^~ state drives\.C\.free: .*)", "the space the files that stay take (drivers' files, see below)"},
    {R"(^\+ state ui\.frame_title = "Varden Network Printing Setup"$)",
     "the machine keeps the title setup gave its frame window"},
    {R"(^~ state dde\.progman\.active_group: "Main" -> "Startup"$)",
     "the removal shows the Startup group to delete the help item from it, which makes it the active group"},
    {R"(^[~+] state services\.list\[name=Spooler\]\.(state: "running" -> "start_pending"|pending\..*)$)",
     "NT 3.5x: the removal starts the spooler again and does not wait for it; the image is saved while the start "
     "is still pending"},
    {R"(^\+ (key|value) \[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\[^\\]+\\Drivers\\Varden [^\]]+\].*)",
     "the printer drivers added for the PPD files: the removal leaves printer drivers alone, printers on other "
     "ports may use them"},
    {R"(^\+ file .*\\(spool\\DRIVERS\\W32[A-Z0-9]+\\(1\\)?|SYSTEM\\)[a-z0-9]+\.ppd$)",
     "the PPD files of those printer drivers, in the printer-driver directory"},
    {R"(^[-+] file .*\\spool\\DRIVERS\\W32[A-Z0-9]+\\(1\\)?(pscript\.dll|pscrptui\.dll)?$)",
     "the spooler keeps the PostScript modules of those drivers in its version subdirectory"},
    {R"(^\+ file C:\\win32app\\$)", "the parent of the default root, a folder programs of this kind share"},
    {R"(^\+ file C:\\WINDOWS\\WININIT\.BAK$)", "Windows 95 keeps the processed wininit.ini as WININIT.BAK"},
};
// The line that says the printer drivers stay.
const Remaining* const kDriversStay = &kRemaining[5];

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

int winsim(const Scenario& s, const std::vector<std::string>& args, std::string& out) {
    std::string err;
    int rc = scenario::runProgram(scenario::binDir() / "winsim", args, s.root(), out, err);
    out += err;
    return rc;
}

std::string answers(const std::vector<const char*>& pageLines) {
    std::string a;
    for (const char* l : pageLines) a += std::string(l) + "\n";
    return a;
}

class LifeCycle : public ::testing::TestWithParam<LifeRow> {};

TEST_P(LifeCycle, InstallUpgradeRestartRemoveRestartLeavesOnlyExplainedDifferences) {
    const LifeRow& row = GetParam();
    std::string why = scenario::missingPieces();
    ASSERT_TRUE(why.empty()) << why;
    Scenario s(std::string("life-") + row.name);
    ASSERT_TRUE(s.newMachine({"--os", row.os, "--arch", row.arch, "--user", "admin"})) << s.error;
    auto j = s.machineJson();
    std::string system = j["system_dir"];
    bool win95 = j["os"]["platform"] == "win95";
    // The operating system's PostScript modules are where the spooler keeps
    // them, so no distribution is asked for.
    std::string driverDir = win95 ? system : system + "\\spool\\DRIVERS\\" + row.driverEnv;
    for (const char* module : win95 ? std::vector<const char*>{"pscript.drv"}
                                    : std::vector<const char*>{"pscript.dll", "pscrptui.dll"}) {
        fs::path p = s.hostPath(driverDir + "\\" + module);
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "PostScript module\n";
    }
    fs::path before = s.root() / "before";
    fs::copy(s.machineDir(), before, fs::copy_options::recursive);

    // Fresh installation into the default root.
    RunResult fresh = s.run(answers({"100 CONTINUE", "800 CONTINUE ButtonChecked=1", "1200 CANCEL", "1400 CANCEL",
                                     "700 CONTINUE"}));
    ASSERT_EQ(fresh.exitCode, 0) << fresh.describe();
    ASSERT_EQ(fresh.pages(), (std::vector<int>{100, 800, 1200, 1400, 700})) << fresh.describe();
    EXPECT_TRUE(fs::exists(s.hostPath("C:\\win32app\\vrdpsmon"))) << fresh.describe();

    // Upgrade: the same choice again over the installed package.
    RunResult upgrade = s.run(row.restartPages
                                  ? answers({"100 CONTINUE", "800 CONTINUE ButtonChecked=1", "1000 CONTINUE",
                                             "1500 CANCEL", "700 CONTINUE"})
                                  : answers({"100 CONTINUE", "800 CONTINUE ButtonChecked=1", "1200 CANCEL",
                                             "1400 CANCEL", "700 CONTINUE"}));
    ASSERT_EQ(upgrade.exitCode, 0) << upgrade.describe();
    ASSERT_EQ(upgrade.pages(), row.restartPages ? (std::vector<int>{100, 800, 1000, 1500, 700})
                                                : (std::vector<int>{100, 800, 1200, 1400, 700}))
        << upgrade.describe();
    std::string out;
    ASSERT_EQ(winsim(s, {"reboot", s.machineDir().string()}, out), 0) << out;

    // Removal, then the restart that takes what was in use.
    RunResult removal = s.run(row.restartPages ? answers({"100 CONTINUE", "800 CONTINUE ButtonChecked=3",
                                                          "7803 CANCEL", "7802 CONTINUE"})
                                               : answers({"100 CONTINUE", "800 CONTINUE ButtonChecked=3",
                                                          "7802 CONTINUE"}));
    ASSERT_EQ(removal.exitCode, 0) << removal.describe();
    ASSERT_EQ(removal.pages(), row.restartPages ? (std::vector<int>{100, 800, 7803, 7802})
                                                : (std::vector<int>{100, 800, 7802}))
        << removal.describe();
    EXPECT_FALSE(removal.hasLineStarting("box ")) << removal.describe();
    ASSERT_EQ(winsim(s, {"reboot", s.machineDir().string()}, out), 0) << out;

    // Against the machine before the first installation.
    std::string diff;
    winsim(s, {"diff", before.string(), s.machineDir().string()}, diff);
    std::vector<std::string> unexplained;
    std::set<const Remaining*> seen;
    for (const auto& line : lines(diff)) {
        const Remaining* match = nullptr;
        for (const auto& r : kRemaining)
            if (std::regex_match(line, std::regex(r.pattern))) match = &r;
        if (match)
            seen.insert(match);
        else
            unexplained.push_back(line);
    }
    EXPECT_EQ(unexplained, std::vector<std::string>{}) << "removal log:\n" << removal.describe() << "\ndiff:\n" << diff;
    // The printer drivers stay on every platform.
    EXPECT_TRUE(seen.count(kDriversStay)) << diff;
}

INSTANTIATE_TEST_SUITE_P(Platforms, LifeCycle, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
