// One typical installation from the first page to the last: a fresh
// Windows NT 3.51 machine whose spooler keeps the PostScript modules in its
// version subdirectory, the default root, the wizard and the help started.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using scenario::Scenario;

std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ScenarioInstall, TypicalNt351InstallationRunsToTheEnd) {
    Scenario s("install-smoke");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86"})) << s.error;
    std::string drivers = "C:\\WINNT35\\system32\\spool\\DRIVERS\\W32X86";
    for (const char* module : {"pscript.dll", "pscrptui.dll"}) {
        auto p = s.hostPath(drivers + "\\1\\" + module);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "PostScript module\n";
    }

    auto r = s.run(readText(scenario::sourceRoot() / "dist" / "answers" / "install-default-start-all.ans"));
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800, 1200, 1400, 700})) << r.describe();
    int wizard = r.indexOf("program C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe");
    int help = r.indexOf("program winhlp32.exe vrdpsmon.hlp");
    EXPECT_GE(wizard, 0) << r.describe();
    EXPECT_GT(help, wizard) << r.describe();
    EXPECT_FALSE(r.hasLineStarting("box")) << r.describe();

    // The package's files, the drivers' copies in the version subdirectory,
    // none left beside them.
    EXPECT_TRUE(std::filesystem::exists(s.hostPath("C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe")));
    EXPECT_TRUE(std::filesystem::exists(s.hostPath("C:\\WINNT35\\system32\\vrdpsmon.dll")));
    EXPECT_TRUE(std::filesystem::exists(s.hostPath(drivers + "\\1\\vls600.ppd")));
    EXPECT_FALSE(std::filesystem::exists(s.hostPath(drivers + "\\vls600.ppd")));
    EXPECT_FALSE(std::filesystem::exists(s.hostPath(drivers + "\\pscript.dll")));

    std::string hklm = readText(s.machineDir() / "registry" / "HKEY_LOCAL_MACHINE.reg");
    EXPECT_NE(hklm.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port]"),
              std::string::npos);
    EXPECT_NE(hklm.find("\"Version Installed\"=\"V5.1-1\""), std::string::npos);
    EXPECT_NE(hklm.find("Drivers\\Varden LaserStream 1200/Japanese]"), std::string::npos);
    EXPECT_EQ(hklm.find("Varden Network Port\\Files]"), std::string::npos) << "type 3 writes no Files key";
}

}  // namespace
