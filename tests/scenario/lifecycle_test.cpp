// The whole life of the package on each platform: a fresh installation, an
// upgrade over it, a restart, printers set up on the monitor's ports and on
// others, the removal and a second restart; then the machine is compared
// with its image from before the first installation. Every difference that
// remains is one the table below names and explains.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

using namespace scenario;

struct LifeRow {
    const char *name, *os, *arch;
    bool restartPages;  // NT 3.1 and Windows 95: upgrade and removal offer a restart
};

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
    {R"(^\+ (key|value) \[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\(Printers\\(Shared|Lookalike|Plain)|Monitors\\Local Port\\Ports\\(XNP1|FAX))\].*)",
     "the printers that print to other ports too, or to a port whose name only ends like the monitor's, and that port"},
    {R"(^\+ file C:\\win32app\\$)", "the parent of the default root, a folder programs of this kind share"},
    {R"(^\+ file C:\\WINDOWS\\WININIT\.BAK$)", "Windows 95 keeps the processed wininit.ini as WININIT.BAK"},
};

class LifeCycle : public ::testing::TestWithParam<LifeRow> {};

TEST_P(LifeCycle, InstallUpgradeRestartRemoveRestartLeavesOnlyExplainedDifferences) {
    const LifeRow& row = GetParam();
    Scenario s(std::string("life-") + row.name);
    // The operating system's PostScript modules are where the spooler keeps
    // them, so no distribution is asked for.
    ASSERT_TRUE(s.newMachine({"--os", row.os, "--arch", row.arch, "--user", "admin", "--ps-modules", "driverdir"}))
        << s.error;
    fs::path before = s.snapshot();
    auto run = [&](const char* answers) {
        RunResult r = s.run(answers);
        EXPECT_EQ(std::to_string(r.exitCode) + joined(r.linesStarting("box ")), "0") << answers << "\n" << r.describe();
        return r;
    };
    run("install-default.ans");
    run(row.restartPages ? "upgrade-restart-later.ans" : "install-default.ans");
    s.reboot();

    // Office prints to a monitor port alone and goes; Shared keeps FAX and LPT1:;
    // Twin is handled at each of its ports, then deleted; Lookalike's port
    // only ends in NP1: it is paused and resumed unchanged; Plain is left
    // alone, without a note.
    const std::string monitors = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
    std::string reg = monitors + "Local Port\\Ports\\XNP1]\r\n\r\n" + monitors + "Local Port\\Ports\\FAX]\r\n\r\n";
    for (const char* port : {"NP1", "NP2"}) reg += monitors + "Varden Network Port\\Ports\\" + port + "]\r\n\r\n";
    for (auto [name, ports] : {std::pair{"Office", "NP1"}, {"Shared", "NP2,FAX,LPT1:"}, {"Twin", "NP1,NP2"}, {"Lookalike", "XNP1"}, {"Plain", "FAX"}})
        reg += std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\") + name +
               "]\r\n\"Name\"=\"" + name + "\"\r\n\"Port\"=\"" + ports +
               "\"\r\n\"Printer Driver\"=\"Varden LaserStream 600\"\r\n\"Print Processor\"=\"winprint\"\r\n"
               "\"Datatype\"=\"RAW\"\r\n\"Attributes\"=dword:00000000\r\n\"Status\"=dword:00000000\r\n\r\n";
    s.importReg(reg);

    // What stays is listed in the log and on the console: the printers on
    // other ports, and the monitor module until the next start where the
    // spooler holds it (NT 3.5x stops the spooler, so it goes at once).
    RunResult r = run(row.restartPages ? "remove-restart-later.ans" : "remove.ans");
    const bool win95 = std::string(row.os) == "win95";
    const std::string module = s.machineJson()["system_dir"].get<std::string>() + (win95 ? "\\vrdpsmw4.dll" : "\\vrdpsmon.dll");
    Lines left = {"left printer Lookalike: kept, prints to XNP1", "left printer Shared: kept, prints to FAX,LPT1:"};
    if (row.restartPages)
        left.push_back("left " + module + ": " + (win95 ? "monitor module in use by the spooler, " : "in use, ") + "deleted at the next start");
    EXPECT_EQ(r.linesStarting("left "), left) << r.describe();
    for (const auto& l : left) EXPECT_NE(r.out.find(l), std::string::npos) << "console lists " << l;
    EXPECT_EQ(s.exists(module), row.restartPages);
    s.reboot();

    // Against the machine before the first installation: every line
    // explained; the printer drivers and the printers on other ports stay
    // on every platform.
    Lines diff = s.changesSince(before), unexplained;
    std::set<const Remaining*> seen;
    for (const auto& line : diff) {
        auto match = std::find_if(std::begin(kRemaining), std::end(kRemaining),
                                  [&](const Remaining& r) { return std::regex_match(line, std::regex(r.pattern)); });
        if (match == std::end(kRemaining)) unexplained.push_back(line);
        else seen.insert(match);
    }
    EXPECT_EQ(unexplained, Lines{});
    EXPECT_TRUE(seen.count(&kRemaining[3]) && seen.count(&kRemaining[6])) << ::testing::PrintToString(diff);
}

INSTANTIATE_TEST_SUITE_P(Platforms, LifeCycle, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
