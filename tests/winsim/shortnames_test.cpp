// Short (8.3) aliases of long names: GetShortPathNameA, paths written with
// an alias, SetFileAttributesA, and the Windows 95 restart refusing
// wininit.ini lines that name long names.
#include "winsim/core/machine.h"
#include "winsim/files/reboot.h"
#include "winsim/files/shortnames.h"
#include "winsim/files/state.h"
#include "sim.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class ShortNames : public sim::MachineTest {
protected:
    void SetUp() override { make(winsim::Platform::Win95); }
    std::string shortOf(const char* path, DWORD* error = nullptr) {
        char buf[300];
        SetLastError(0xdeadbeef);
        DWORD n = GetShortPathNameA(path, buf, sizeof buf);
        if (error) *error = GetLastError();
        return n == 0 ? "<failed>" : std::string(buf, n);
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
    };
    for (const auto& t : cases) {
        EXPECT_EQ(shortOf(t.path), t.shortPath) << t.path;
        // The alias names the same entry.
        EXPECT_NE(GetFileAttributesA(t.shortPath), INVALID_FILE_ATTRIBUTES) << t.shortPath;
    }
}

TEST_F(ShortNames, BufferTooSmallAndMissingPaths) {
    hostFile("Program Files/x.dll");
    char buf[8] = "guard";
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files\\x.dll", buf, sizeof buf), 18u);  // "C:\PROGRA~1\x.dll" and its NUL
    EXPECT_STREQ(buf, "guard");
    EXPECT_EQ(GetShortPathNameA("C:\\Program Files\\x.dll", buf, 0), 18u);
    DWORD error = 0;
    EXPECT_EQ(shortOf("C:\\Program Files\\missing.dll", &error), "<failed>");
    EXPECT_EQ(error, (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(shortOf("C:\\No Such Dir\\x.dll", &error), "<failed>");
    EXPECT_EQ(error, (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(ShortNames, SetFileAttributesClearsReadOnlySoTheFileCanGo) {
    hostFile("cd/manual.hlp");
    ASSERT_TRUE(SetFileAttributesA("C:\\cd\\manual.hlp", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("C:\\cd\\manual.hlp"), (DWORD)FILE_ATTRIBUTE_READONLY);
    EXPECT_FAILS(DeleteFileA("C:\\cd\\manual.hlp"), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA("C:\\cd\\manual.hlp", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("C:\\cd\\manual.hlp"), (DWORD)FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileA("C:\\cd\\manual.hlp"));
    EXPECT_TRUE(SetFileAttributesA("C:\\cd", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA("C:\\cd"), (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(SetFileAttributesA("C:\\cd", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("C:\\cd"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FAILS(SetFileAttributesA("C:\\nothing", FILE_ATTRIBUTE_NORMAL), ERROR_FILE_NOT_FOUND);
}

TEST_F(ShortNames, Windows95RestartRefusesLinesWithLongNames) {
    hostFile("Program Files/Varden/a.txt");
    hostFile("Program Files/Varden/b.txt");
    hostFile("WINDOWS/wininit.ini",
             "[rename]\r\nNUL=C:\\Program Files\\Varden\\a.txt\r\nNUL=C:\\PROGRA~1\\Varden\\b.txt\r\n"
             "C:\\Program Files\\c.txt=C:\\PROGRA~1\\Varden\\b.txt\r\n");
    auto done = winsim::rebootMachine(winsim::machine());
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[0], "refused NUL=C:\\Program Files\\Varden\\a.txt: long name");
    EXPECT_EQ(done[1].rfind("deleted ", 0), 0u) << done[1];
    EXPECT_EQ(done[2], "refused C:\\Program Files\\c.txt=C:\\PROGRA~1\\Varden\\b.txt: long name");
    EXPECT_TRUE(fs::exists(c / "Program Files" / "Varden" / "a.txt"));
    EXPECT_FALSE(fs::exists(c / "Program Files" / "Varden" / "b.txt"));
}

}  // namespace
