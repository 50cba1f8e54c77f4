// The installation flow: the Files record for a chosen destination, the
// closing pages by platform and upgrade, the programs started after the
// last page, and the program starter's handles.
#include <gtest/gtest.h>

#include "install/fixture.h"
#include "install/records.h"
#include "winsim/core/handles.h"

namespace {

using namespace installtest;

winsim::OsInfo nt31() { return harness::nt(3, 10, 528); }

// A machine ready for a whole installation (see the install tests).
void prepare(Harness& h, bool upgrade) {
    copyDistribution(h);
    bool nt = winsim::machine().os.isNT();
    if (nt)
        putNtModules(h, winsim::machine().os.minor >= 50 ? "1" : "");
    else
        put(h, winsim::machine().systemDir + "\\pscript.drv");
    if (upgrade) winsim::defineMonitor("Varden Network Port", nt ? "vrdpsmon.dll" : "vrdpsmw4.dll", {});
}

ChildResult flow(Harness& h, const std::string& answers, LONG installType = INSTALL_SYSTEM_DRIVE) {
    return h.run(answers, [installType](LPSTR) {
        startupState(installType);
        RunInstallationFlow();
        HKEY key = nullptr;
        harness::report("files=%d", RegOpenKeyExA(HKEY_LOCAL_MACHINE, FILES_KEY_PATH, 0, KEY_READ, &key) == 0);
        harness::report("version=%d", RegOpenKeyExA(HKEY_LOCAL_MACHINE, VERSION_KEY_PATH, 0, KEY_READ, &key) == 0);
        harness::report("reboot=%d", (int)::Setup.RebootPending);
        return 0;
    });
}

struct PageRow {
    const char* name;
    winsim::OsInfo os;
    bool upgrade;
    const char* answers;
    std::vector<int> pages;
    std::vector<std::string> programs;
    const char* reboot;
};

TEST(InstallationFlow, ClosingPagesFollowPlatformAndUpgrade) {
    const std::string wizard = "program C:\\win32app\\vrdpsmon\\utility\\vrdpswiz.exe";
    const PageRow rows[] = {
        {"NT 3.51 fresh, both programs", harness::nt351(), false, "1200 CONTINUE\n1400 CONTINUE\n700 CONTINUE\n",
         {1200, 1400, 700}, {wizard, "program winhlp32.exe vrdpsmon.hlp"}, "0"},
        {"NT 3.51 upgrade: no restart pages", harness::nt351(), true, "1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n",
         {1200, 1400, 700}, {}, "0"},
        {"Windows 95 fresh, help only", harness::win95(), false, "1200 CANCEL\n1400 CONTINUE\n700 CONTINUE\n",
         {1200, 1400, 700}, {"program winhelp.exe vrdpsmw4.hlp"}, "0"},
        {"NT 3.1 upgrade, restart later", nt31(), true, "1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n",
         {1000, 1500, 700}, {}, "0"},
        {"NT 3.1 upgrade, restart prepared: no done page", nt31(), true, "1000 CONTINUE\n1500 CONTINUE\n",
         {1000, 1500}, {}, "1"},
        {"Windows 95 upgrade, restart later", harness::win95(), true, "1000 CONTINUE\n1500 CANCEL\n700 CONTINUE\n",
         {1000, 1500, 700}, {}, "0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.os);
        prepare(h, row.upgrade);
        ChildResult r = flow(h, row.answers);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.pages(), row.pages);
        EXPECT_EQ(r.lines("program"), row.programs);
        EXPECT_EQ(r.value("reboot"), row.reboot);
        EXPECT_EQ(r.value("version"), "1");
        EXPECT_EQ(r.value("files"), "0") << "type 3 writes no Files key";
    }
}

TEST(InstallationFlow, ChosenDestinationWritesTheFilesKey) {
    Harness h;
    prepare(h, false);
    ChildResult r = flow(h, "1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n", INSTALL_CHOSEN_DEST);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("files"), "1");
    EXPECT_TRUE(fs::exists(h.host("C:\\win32app\\vrdpsmon\\sys\\vrdsys.bin")));
}

// Open kernel handles, counted over the table's first range.
int openHandles() {
    int n = 0;
    for (std::uintptr_t v = 1; v < 0x4000; ++v)
        if (winsim::findHandle((HANDLE)v)) ++n;
    return n;
}

TEST(StartProgram, StartsWithoutKeepingHandles) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        int before = openHandles();
        BOOL started = StartProgram("write.exe notes.wri", "C:\\");
        harness::report("started=%d", (int)started);
        harness::report("leaked=%d", openHandles() - before);
        char longLine[1100];
        std::memset(longLine, 'a', sizeof longLine - 1);
        longLine[sizeof longLine - 1] = '\0';
        harness::report("long=%d", (int)StartProgram(longLine, "C:\\"));
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("started"), "1");
    EXPECT_EQ(r.value("leaked"), "0");
    EXPECT_EQ(r.value("long"), "0");
    EXPECT_EQ(r.lines("program"), (std::vector<std::string>{"program write.exe notes.wri"}));
}

}  // namespace

namespace {

// Removal is not part of this build: the user is told so, nothing changes.
TEST(WinMainRemoval, SaysRemovalIsNotAvailableAndEnds) {
    Harness h;
    copyDistribution(h);
    winsim::defineMonitor("Varden Network Port", "vrdpsmon.dll", {});
    ChildResult r = h.runWinMain("100 CONTINUE\n800 CONTINUE ButtonChecked=3\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 800}));
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{
                                  "box Deinstall: Removal is not available in this build of setup; nothing was removed."}));
    EXPECT_TRUE(r.hasLine("exit 0"));
}

}  // namespace
