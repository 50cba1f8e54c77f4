// The simulated cabinet tool EXTRACT.EXE, started with ShellExecuteA, over
// real cabinets made here with gcab.
#include "winsim/core/machine.h"
#include "winsim/files/state.h"
#include "winsim/processes/state.h"
#include "sim.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class Extract : public sim::MachineTest {
protected:
    void SetUp() override {
        make(winsim::Platform::Win95);
        fs::create_directories(c / "WINDOWS" / "SYSTEM");
        hostFile("win95/extract.exe", "tool");
    }
    // Builds a compressed cabinet holding files name -> content with gcab.
    void cabinet(const std::string& cabName, const std::vector<std::pair<std::string, std::string>>& files) {
        fs::path src = root / ("src-" + cabName);
        fs::create_directories(src);
        std::string cmd = "cd '" + src.string() + "' && gcab -c -z '" + (c / "win95" / cabName).string() + "'";
        for (auto& [name, text] : files) {
            std::ofstream(src / name, std::ios::binary) << text;
            cmd += " '" + name + "'";
        }
        ASSERT_EQ(std::system((cmd + " >/dev/null").c_str()), 0) << "gcab is needed: " << cmd;
    }
    std::string content(const fs::path& p) { return fs::exists(p) ? sim::slurp(p) : "<missing>"; }
    bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
    HINSTANCE run(const std::string& params) {
        return ShellExecuteA(nullptr, nullptr, "C:\\win95\\extract.exe", params.c_str(), "C:\\win95\\", SW_HIDE);
    }
    // The exit code of the extract.exe that ended, or -1.
    long exitCode() {
        for (auto& p : winsim::machine().processes->ended)
            if (winsim::iequals(p->name, "extract.exe")) return (long)p->exitCode;
        return -1;
    }
};

// The installation scenarios wait for the tool's target in virtual time;
// here: only the asked files the cabinet holds are written, when the run
// time has passed (2 s unless declared), existing ones only with /Y, and the
// drive's free space follows; a failure writes nothing and exits with 1.
TEST_F(Extract, WritesTheMatchingFilesWhenItsTimeHasCome) {
    cabinet("win95_02.cab", {{"PSCRIPT.DRV", "postscript driver"}, {"PSCRIPT.HLP", "postscript help"},
                             {"ICONLIB.DLL", "icons"}, {"TESTPS.TXT", "test page"}, {"UNIDRV.DLL", "another driver"}});
    std::ofstream(c / "win95" / "broken.cab") << "MSCF but not really";
    auto files = [&] {
        std::string out;
        for (const char* name : {"PSCRIPT.DRV", "PSCRIPT.HLP", "ICONLIB.DLL", "UNIDRV.DLL", "TESTPS.TXT", "fonts.mfm"})
            out += content(c / "WINDOWS" / "SYSTEM" / name) + "; ";
        out += "exit " + std::to_string(exitCode());
        winsim::machine().processes->ended.clear();
        return out;
    };
    const std::string none = "<missing>; <missing>; <missing>; <missing>; <missing>; <missing>; exit ";
    winsim::machine().processes->runTimes["extract.exe"] = 3000;
    std::uint64_t freeBefore = winsim::machine().drives['C'].free;
    ASSERT_GT((INT_PTR)run("/Y /A /L C:\\WINDOWS\\SYSTEM C:\\win95\\win95_02.cab pscript.* iconlib.dll fonts.mfm"), 32);
    Sleep(2999);
    EXPECT_EQ(files(), none + "-1");
    Sleep(1);
    EXPECT_EQ(files(), "postscript driver; postscript help; icons; <missing>; <missing>; <missing>; exit 0");
    EXPECT_EQ(winsim::machine().drives['C'].free, freeBefore - std::string("postscript driverpostscript helpicons").size());
    // Refusals.
    winsim::machine().processes->runTimes.clear();
    fs::remove_all(c / "WINDOWS" / "SYSTEM");
    fs::create_directories(c / "WINDOWS" / "SYSTEM");
    for (const char* params : {"/Y /L C:\\WINDOWS\\SYSTEM C:\\win95\\missing.cab pscript.*",
                               "/Y /L C:\\WINDOWS\\SYSTEM C:\\win95\\broken.cab pscript.*",  // not a cabinet
                               "/Y /L C:\\nowhere C:\\win95\\win95_02.cab pscript.*",
                               "/Y /Q /L C:\\WINDOWS\\SYSTEM C:\\win95\\win95_02.cab pscript.*",  // unknown option
                               "/Y /L"}) {
        ASSERT_GT((INT_PTR)run(params), 32);
        Sleep(2000);
        EXPECT_EQ(files(), none + "1") << params;
    }
    // Without /Y an existing file is kept.
    std::ofstream(c / "WINDOWS" / "SYSTEM" / "PSCRIPT.DRV") << "mine";
    ASSERT_GT((INT_PTR)run("/L C:\\WINDOWS\\SYSTEM win95_02.cab pscript.*"), 32);
    Sleep(2000);
    EXPECT_EQ(files(), "mine; postscript help; <missing>; <missing>; <missing>; <missing>; exit 0");
    ASSERT_GT((INT_PTR)run("/Y /L C:\\WINDOWS\\SYSTEM win95_02.cab pscript.drv"), 32);
    Sleep(2000);
    EXPECT_EQ(files(), "postscript driver; postscript help; <missing>; <missing>; <missing>; <missing>; exit 0");
}

}  // namespace
