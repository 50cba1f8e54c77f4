// The kit's calls that work on the machine's files: FOpenInf, the copy
// engine, directories, file removal, INI lines and detection.
#include "helpers.h"
#include "kit/internal.h"
#include "winsim/files/state.h"
#include "winsim/ui/state.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

namespace {

using namespace kittest;
namespace fs = std::filesystem;

fs::path driveC() { return winsim::machine().drives.at('C').host; }

// A distribution folder on C: with an INF and its files.
void makeDistribution() {
    writeFile(driveC() / "dist" / "setup.inf",
              "; sample\r\n"
              "[Monitor]\r\n"
              "mon = vrdpsmon.dll, , , , , , , , , , , , , , 10\r\n"
              "[W95 Monitor]\r\n"
              "mon = vrdpsmw4.dll, vrdpsmw4.new, , , , , , , , , , , , , 7\r\n"
              "[Help]\r\n"
              "hlp = vrdpsmon.hlp, , help, , , , , , , , , , , , 5\r\n"
              "[Missing]\r\n"
              "gone = nothere.dll, , , , , , , , , , , , , , 1\r\n");
    writeFile(driveC() / "dist" / "vrdpsmon.dll", "0123456789");
    writeFile(driveC() / "dist" / "vrdpsmw4.dll", "abcdefg");
    writeFile(driveC() / "dist" / "help" / "vrdpsmon.hlp", "hhhhh");
}

struct Frame {
    fs::path log, answers;
    Frame(const std::string& name, const std::string& answersText = "") {
        fs::path host = tempDir(name + "-host");
        log = host / "run.log";
        answers = host / "answers";
        writeFile(answers, answersText);
        testing::internal::CaptureStdout();
        std::string cmd = "--answers " + answers.string() + " --log " + log.string();
        EXPECT_EQ(InitializeFrame(cmd.data()), 1);
    }
    std::string finish() {
        testing::internal::GetCapturedStdout();
        KitLogExit(0);
        return readFile(log);
    }
};

TEST(KitInfFile, OpenReadsFieldsAndListsKeys) {
    freshMachine("inf-open");
    makeDistribution();
    ASSERT_TRUE(FOpenInf("C:\\DIST\\SETUP.INF", 1, 0));
    char buf[64];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(CbGetInfSectionKeyField("monitor", "MON", 1, buf, sizeof buf), 12);
    EXPECT_STREQ(buf, "vrdpsmon.dll");
    EXPECT_EQ(CbGetInfSectionKeyField("Monitor", "mon", 15, buf, sizeof buf), 2);
    EXPECT_STREQ(buf, "10");
    EXPECT_EQ(CbGetInfSectionKeyField("Monitor", "mon", 0, buf, sizeof buf), 3);  // field 0: the key
    EXPECT_EQ(CbGetInfSectionKeyField("Monitor", "mon", 40, buf, sizeof buf), 0);
    // Exactly as long as the capacity: cut, full length returned.
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(CbGetInfSectionKeyField("Monitor", "mon", 1, buf, 12), 12);
    EXPECT_STREQ(buf, "vrdpsmon.dl");
    EXPECT_EQ(buf[12], 'G');
    EXPECT_EQ(CbGetInfSectionKeyField("Monitor", "nokey", 1, buf, sizeof buf), -1);
    EXPECT_EQ(CbGetInfSectionKeyField("No Section", "mon", 1, buf, sizeof buf), -1);

    ASSERT_TRUE(FSetSymbolToListOfInfKeys("File List", "W95 Monitor", 1));
    EXPECT_EQ(UsGetListLength("File List"), 1);
    EXPECT_EQ(CbGetListItem("File List", 1, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "mon");
    EXPECT_FALSE(FSetSymbolToListOfInfKeys("File List", "Nope", 1));
}

TEST(KitInfFile, UnreadableOrMalformedInfFailsAndIsLogged) {
    freshMachine("inf-bad");
    Frame f("inf-bad");
    EXPECT_FALSE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    writeFile(driveC() / "bad.inf", "[A]\nx = 1\n[B\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(FOpenInf("C:\\bad.inf", 1, 0));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("C:\\bad.inf, line 3: section header without ']'"),
              std::string::npos);
    // No INF open: nothing to read.
    char buf[8];
    EXPECT_EQ(CbGetInfSectionKeyField("A", "x", 1, buf, sizeof buf), -1);
    std::string log = f.finish();
    EXPECT_NE(log.find("inf C:\\dist\\setup.inf: cannot be read (error 3)"), std::string::npos) << log;
    EXPECT_NE(log.find("inf C:\\bad.inf: line 3: section header without ']'"), std::string::npos) << log;
}

TEST(KitCopy, SectionsCopiedUnderTheirNamesIntoNewDirectories) {
    auto& m = freshMachine("copy-ok");
    makeDistribution();
    Frame f("copy-ok");
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    std::uint64_t freeBefore = m.drives['C'].free;
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist\\", "C:\\win32app\\vrdpsmon\\deep"));
    ASSERT_TRUE(FAddSectionFilesToCopyList("W95 Monitor", "C:\\dist", "C:\\WINDOWS\\SYSTEM"));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Help", "C:\\dist", "C:\\win32app\\vrdpsmon"));
    EXPECT_FALSE(FAddSectionFilesToCopyList("No Such Section", "C:\\dist", "C:\\x"));
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    EXPECT_EQ(readFile(driveC() / "win32app" / "vrdpsmon" / "deep" / "vrdpsmon.dll"), "0123456789");
    EXPECT_EQ(readFile(driveC() / "WINDOWS" / "SYSTEM" / "vrdpsmw4.new"), "abcdefg");
    EXPECT_FALSE(fs::exists(driveC() / "WINDOWS" / "SYSTEM" / "vrdpsmw4.dll"));
    EXPECT_EQ(readFile(driveC() / "win32app" / "vrdpsmon" / "vrdpsmon.hlp"), "hhhhh");
    EXPECT_LT(m.drives['C'].free, freeBefore);
    // The list is empty after a run.
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    std::string log = f.finish();
    EXPECT_NE(log.find("no section [No Such Section]"), std::string::npos);
}

TEST(KitCopy, TooLittleSpaceIsCheckedFirstAndQuits) {
    auto& m = freshMachine("copy-full");
    makeDistribution();
    Frame f("copy-full");
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist", "C:\\target"));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Help", "C:\\dist", "C:\\target"));
    m.drives['C'].free = 8;  // 15 bytes are needed
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcUserQuit);
    EXPECT_FALSE(fs::exists(driveC() / "target"));  // nothing copied
    std::string log = f.finish();
    EXPECT_NE(log.find("box Disk Full: There is not enough space on drive C:"), std::string::npos) << log;
}

TEST(KitCopy, FileInUseAsksAndQuitsUnattended) {
    auto& m = freshMachine("copy-inuse");
    makeDistribution();
    writeFile(driveC() / "target" / "vrdpsmon.dll", "old");
    m.files->meta["C:\\target\\vrdpsmon.dll"].inUse = winsim::InUse::Loaded;
    Frame f("copy-inuse");
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist", "C:\\target"));
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcUserQuit);
    EXPECT_EQ(readFile(driveC() / "target" / "vrdpsmon.dll"), "old");
    std::string log = f.finish();
    EXPECT_NE(log.find("box File In Use: The file C:\\target\\vrdpsmon.dll is in use"), std::string::npos) << log;
}

int retryThenOk(const char* text, const char* caption, UINT type) {
    // The user closes the program that holds the file, then retries.
    winsim::machine().files->meta["C:\\target\\vrdpsmon.dll"].inUse = winsim::InUse::None;
    return IDRETRY;
}

TEST(KitCopy, RetryAfterTheFileIsFreedCopies) {
    auto& m = freshMachine("copy-retry");
    makeDistribution();
    writeFile(driveC() / "target" / "vrdpsmon.dll", "old");
    m.files->meta["C:\\target\\vrdpsmon.dll"].inUse = winsim::InUse::Open;
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist", "C:\\target"));
    winsim::setMessageBoxHandler(retryThenOk);
    KitRouteMessageBoxes(TRUE);
    testing::internal::CaptureStdout();
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    testing::internal::GetCapturedStdout();
    winsim::setMessageBoxHandler(nullptr);
    KitRouteMessageBoxes(FALSE);
    EXPECT_EQ(readFile(driveC() / "target" / "vrdpsmon.dll"), "0123456789");
    ASSERT_EQ(m.ui->boxes.size(), 1u);
    EXPECT_EQ(m.ui->boxes[0].caption, "File In Use");
}

TEST(KitCopy, MissingSourceFailsWithOtherCode) {
    freshMachine("copy-missing");
    makeDistribution();
    Frame f("copy-missing");
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Missing", "C:\\dist", "C:\\target"));
    int grc = GrcCopyFilesInCopyList(HinstFrame());
    EXPECT_GT(grc, 0);
    EXPECT_NE(grc, grcUserQuit);
    std::string log = f.finish();
    EXPECT_NE(log.find("box Copy Error: Cannot copy C:\\dist\\nothere.dll to C:\\target\\nothere.dll (error 2)"),
              std::string::npos)
        << log;
}

TEST(KitCopy, ResetEmptiesTheList) {
    freshMachine("copy-reset");
    makeDistribution();
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist", "C:\\target"));
    EXPECT_TRUE(ResetCopyList());
    testing::internal::CaptureStdout();
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(driveC() / "target"));
}

TEST(KitFiles, CreateDirAndRemoveFile) {
    auto& m = freshMachine("dirs");
    EXPECT_TRUE(FCreateDir("C:\\a\\b\\c\\", 0));
    EXPECT_TRUE(fs::is_directory(driveC() / "a" / "b" / "c"));
    EXPECT_TRUE(FCreateDir("C:\\a\\b", 0));  // already there
    EXPECT_TRUE(FDirExists("c:\\A\\b\\"));
    EXPECT_FALSE(FCreateDir("Q:\\x", 0));    // no such drive
    EXPECT_FALSE(FCreateDir("", 0));
    writeFile(driveC() / "a" / "f.txt", "x");
    EXPECT_FALSE(FCreateDir("C:\\a\\f.txt\\sub", 0));  // a file stands in the way

    EXPECT_NE(YnrcRemoveFile("C:\\a\\f.txt", 0), 0);
    EXPECT_FALSE(fs::exists(driveC() / "a" / "f.txt"));
    EXPECT_NE(YnrcRemoveFile("C:\\a\\f.txt", 0), 0);  // nothing left to remove
    writeFile(driveC() / "a" / "busy.dll", "x");
    m.files->meta["C:\\a\\busy.dll"].inUse = winsim::InUse::Open;
    // In use: left in place, which is not a failure of the removal.
    EXPECT_EQ(YnrcRemoveFile("C:\\a\\busy.dll", 0), ynrcNo);
    EXPECT_TRUE(fs::exists(driveC() / "a" / "busy.dll"));
    EXPECT_EQ(YnrcRemoveFile("Q:\\nowhere.txt", 0), ynrcErr);
}

TEST(KitIni, LinesAddedToSectionsAndFileCreated) {
    freshMachine("ini");
    fs::create_directories(driveC() / "WINDOWS");
    const char* ini = "C:\\WINDOWS\\wininit.ini";
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "rename", "NUL", "C:\\win32app\\a.dll", 1));
    EXPECT_EQ(readFile(driveC() / "WINDOWS" / "wininit.ini"), "[rename]\r\nNUL=C:\\win32app\\a.dll\r\n");
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "Rename", "NUL", "C:\\win32app\\b.dll", 1));
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "rename", "NUL", "C:\\win32app\\a.dll", 1));  // not doubled
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "other", "k", "v", 1));
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "rename", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new", 1));
    EXPECT_EQ(readFile(driveC() / "WINDOWS" / "wininit.ini"),
              "[rename]\r\nNUL=C:\\win32app\\a.dll\r\nNUL=C:\\win32app\\b.dll\r\n"
              "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll=C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new\r\n\r\n[other]\r\nk=v\r\n");
    // Lines of an existing file are kept as they are.
    writeFile(driveC() / "WINDOWS" / "system.ini", "; keep\n[boot]\nshell=progman.exe\n\n[386Enh]\nx=1\n");
    ASSERT_TRUE(FCreateSysIniKeyValue("C:\\WINDOWS\\system.ini", "boot", "drivers", "mmsystem.dll", 1));
    EXPECT_EQ(readFile(driveC() / "WINDOWS" / "system.ini"),
              "; keep\r\n[boot]\r\nshell=progman.exe\r\ndrivers=mmsystem.dll\r\n\r\n[386Enh]\r\nx=1\r\n");
    EXPECT_FALSE(FCreateSysIniKeyValue("C:\\NODIR\\x.ini", "s", "k", "v", 1));
    EXPECT_FALSE(FCreateSysIniKeyValue(ini, "s", "k=x", "v", 1));
    EXPECT_FALSE(FCreateSysIniKeyValue(ini, "s", "k", "two\nlines", 1));
}

TEST(KitDetect, FilesDirsAndPathSyntax) {
    auto& m = freshMachine("detect");
    writeFile(driveC() / "x" / "f.txt", "x");
    EXPECT_TRUE(FDoesFileExist("C:\\x\\f.txt", 0));
    EXPECT_TRUE(FDoesFileExist("C:\\x\\f.txt", 3));
    EXPECT_FALSE(FDoesFileExist("C:\\x", 0));  // a directory is not a file
    EXPECT_FALSE(FDoesFileExist("C:\\x\\g.txt", 0));
    m.files->meta["C:\\x\\f.txt"].inUse = winsim::InUse::Open;
    EXPECT_TRUE(FDoesFileExist("C:\\x\\f.txt", 0));
    EXPECT_FALSE(FDoesFileExist("C:\\x\\f.txt", 3));  // cannot be opened for writing
    EXPECT_TRUE(FDirExists("C:\\x"));
    EXPECT_TRUE(FDirExists("C:\\"));
    EXPECT_FALSE(FDirExists("C:\\x\\f.txt"));

    for (const char* ok : {"C:\\win32app\\vrdpsmon", "c:\\", "C:", "\\\\server\\share\\dir", "D:\\I386"})
        EXPECT_TRUE(FValidDir(ok)) << ok;
    for (const char* bad : {"", "win32app", "C:\\a<b", "C:\\a\\\\b", "1:\\x", "C:\\a:b", "C:x", "C:\\a?",
                            "C:\\a\"b"})
        EXPECT_FALSE(FValidDir(bad)) << bad;
    EXPECT_TRUE(FValidPath("relative\\file.txt"));
    EXPECT_FALSE(FValidPath("C:\\x|y"));
    EXPECT_FALSE(FValidPath(std::string(300, 'a').c_str()));
}

TEST(KitDetect, DrivesAndFreeSpace) {
    auto& m = freshMachine("drives");
    m.drives['C'].free = 3000000000ull;  // beyond 31 bits
    winsim::Drive e = m.drives['C'];
    e.letter = 'E';
    e.host = driveC().parent_path() / "e";
    e.free = 1u << 20;
    fs::create_directories(e.host);
    m.drives['E'] = e;
    // Drives of other types answer but are no local hard drives.
    for (auto [letter, type] : {std::pair{'D', "cdrom"}, {'F', "remote"}, {'G', "ramdisk"}, {'A', "removable"}}) {
        winsim::Drive o = e;
        o.letter = letter;
        o.type = type;
        m.drives[letter] = o;
    }
    EXPECT_TRUE(FIsValidDrive(3));
    EXPECT_TRUE(FIsValidDrive(5));
    EXPECT_FALSE(FIsValidDrive(8));
    EXPECT_FALSE(FIsValidDrive(0));
    EXPECT_FALSE(FIsValidDrive(27));
    EXPECT_FALSE(FIsValidDrive(-20));
    EXPECT_EQ(LcbFreeDrive(3), 0x7fffffff);  // a signed 32-bit count
    EXPECT_EQ(LcbFreeDrive(5), 1 << 20);
    EXPECT_EQ(LcbFreeDrive(8), 0);
    ASSERT_TRUE(FGetLocalHardDrivesList("Disk Drives"));
    char buf[8];
    ASSERT_EQ(UsGetListLength("Disk Drives"), 2);
    CbGetListItem("Disk Drives", 1, buf, sizeof buf);
    EXPECT_STREQ(buf, "C:");
    CbGetListItem("Disk Drives", 2, buf, sizeof buf);
    EXPECT_STREQ(buf, "E:");
}

}  // namespace
