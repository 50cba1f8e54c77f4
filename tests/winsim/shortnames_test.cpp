// Short (8.3) aliases of long names: GetShortPathNameA, paths written with
// an alias, SetFileAttributesA, and the Windows 95 restart refusing
// wininit.ini lines that name long names.
#include "winsim/files/reboot.h"
#include "winsim/files/shortnames.h"
#include "sim.h"

namespace fs = std::filesystem;

namespace {

class ShortNames : public sim::MachineTest {
protected:
    void SetUp() override { make(winsim::Platform::Win95); }
    // The short path, or the last error when there is none.
    std::string shortOf(const char* path) {
        char buf[300];
        SetLastError(sim::kSentinel);
        DWORD n = GetShortPathNameA(path, buf, sizeof buf);
        return n == 0 ? "error " + std::to_string(GetLastError()) : std::string(buf, n);
    }
};

TEST(ShortNameRules, ValidEightDotThreeNames) {
    struct Case {
        const char* name;
        bool isShort;
    } cases[] = {{"VRDPSMON.DLL", true}, {"vrdpsmon.dll", true}, {"README", true},  {"A.B", true},
                 {"PROGRA~1", true},     {"TOOLONGNM.TXT", false}, {"NAME.HTML", false}, {"TWO.DOT.S", false},
                 {"WITH SPC.TXT", false}, {"A+B.TXT", false},     {".PROFILE", false}, {"NAME.", false},
                 {"", false}};
    for (const auto& c : cases) EXPECT_EQ(winsim::isShortName(c.name), c.isShort) << c.name;
    EXPECT_TRUE(winsim::isShortPath("C:\\WINDOWS\\SYSTEM\\VRDPSMW4.DLL"));
    EXPECT_TRUE(winsim::isShortPath("C:\\PROGRA~1\\VARDEN~1"));
    EXPECT_FALSE(winsim::isShortPath("C:\\Program Files\\x.dll"));
}

TEST_F(ShortNames, LongNamesGetNumberedAliasesInListingOrder) {
    hostFile("Program Files/Varden Printing/Remote Console.exe");
    hostFile("Program Files/Varden Printing/Remote Control.exe");
    hostFile("Program Files/Varden Printing/vrdpswiz.exe");
    hostFile("Program Files/Varden Printing/release.notes");
    hostFile("Program Files/Varden Printing/a+b c.txt");
    struct Case {
        const char* path;
        const char* shortPath;
    } cases[] = {
        {"C:\\Program Files", "C:\\PROGRA~1"},
        {"C:\\program files\\Varden Printing", "C:\\PROGRA~1\\VARDEN~1"},
        {"C:\\Program Files\\Varden Printing\\Remote Console.exe", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~1.EXE"},
        {"C:\\Program Files\\Varden Printing\\Remote Control.exe", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~2.EXE"},
        {"C:\\Program Files\\Varden Printing\\vrdpswiz.exe", "C:\\PROGRA~1\\VARDEN~1\\vrdpswiz.exe"},
        {"C:\\Program Files\\Varden Printing\\release.notes", "C:\\PROGRA~1\\VARDEN~1\\RELEAS~1.NOT"},
        {"C:\\Program Files\\Varden Printing\\a+b c.txt", "C:\\PROGRA~1\\VARDEN~1\\A_BC~1.TXT"},
        {"C:\\", "C:\\"},
        {"C:\\Program Files\\missing.dll", "error 2"},
        {"C:\\No Such Dir\\x.dll", "error 3"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(shortOf(t.path), t.shortPath) << t.path;
        // The alias names the same entry.
        if (t.shortPath[0] == 'C') {
            EXPECT_NE(GetFileAttributesA(t.shortPath), INVALID_FILE_ATTRIBUTES) << t.shortPath;
        }
    }
    // A buffer too small: the size needed with its NUL, nothing written.
    char buf[8] = "guard";
    const char* path = "C:\\Program Files\\vrdpswiz.exe";
    hostFile("Program Files/vrdpswiz.exe");
    EXPECT_EQ(GetShortPathNameA(path, buf, sizeof buf), 25u);  // "C:\PROGRA~1\vrdpswiz.exe"
    EXPECT_STREQ(buf, "guard");
    EXPECT_EQ(GetShortPathNameA(path, buf, 0), 25u);
}

TEST_F(ShortNames, SetFileAttributesClearsReadOnlySoTheFileCanGo) {
    hostFile("cd/manual.hlp");
    auto attributes = [](DWORD set) {
        SetFileAttributesA("C:\\cd\\manual.hlp", set);
        SetFileAttributesA("C:\\cd", set);
        return std::to_string(GetFileAttributesA("C:\\cd\\manual.hlp")) + " " + std::to_string(GetFileAttributesA("C:\\cd"));
    };
    EXPECT_EQ(attributes(FILE_ATTRIBUTE_READONLY), "1 17");
    EXPECT_FAILS(DeleteFileA("C:\\cd\\manual.hlp"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(attributes(FILE_ATTRIBUTE_NORMAL), "128 16");
    EXPECT_TRUE(DeleteFileA("C:\\cd\\manual.hlp"));
    EXPECT_FAILS(SetFileAttributesA("C:\\nothing", FILE_ATTRIBUTE_NORMAL), ERROR_FILE_NOT_FOUND);
}

TEST_F(ShortNames, Windows95RestartRefusesLinesWithLongNames) {
    hostFile("Program Files/Varden/a.txt");
    hostFile("Program Files/Varden/b.txt");
    hostFile("WINDOWS/wininit.ini",
             "[rename]\r\nNUL=C:\\Program Files\\Varden\\a.txt\r\nNUL=C:\\PROGRA~1\\Varden\\b.txt \t\r\n"
             "C:\\Program Files\\c.txt=C:\\PROGRA~1\\Varden\\b.txt\r\n");
    auto done = winsim::rebootMachine(winsim::machine());
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[0], "refused NUL=C:\\Program Files\\Varden\\a.txt: long name");
    EXPECT_EQ(done[1].rfind("deleted ", 0), 0u) << done[1];
    EXPECT_EQ(done[2], "refused C:\\Program Files\\c.txt=C:\\PROGRA~1\\Varden\\b.txt: long name");
    EXPECT_TRUE(fs::exists(c / "Program Files" / "Varden" / "a.txt"));
    EXPECT_FALSE(fs::exists(c / "Program Files" / "Varden" / "b.txt"));
    EXPECT_EQ(winsim::rebootMachine(winsim::machine()), std::vector<std::string>{}) << "no wininit.ini, nothing done";
}

}  // namespace
