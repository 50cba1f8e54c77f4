// Recursive directory removal and the deferred deletion of what is in use,
// on NT (MoveFileEx) and Windows 95 (wininit.ini).
#include "install/wininit.h"
#include "printsys/fixture.h"
#include "sysutil/dirtree.h"
#include "sysutil/leftover.h"
#include "winsim/files/reboot.h"
#include "winsim/files/ops.h"
#include "winsim/files/state.h"

#include <gtest/gtest.h>

namespace {

using namespace fixture;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void mkdir(const std::string& path) { ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << " " << GetLastError(); }

void file(const std::string& path, const std::string& text = "data") {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(h, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(h);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct DirTree : ::testing::Test {
    void machine(bool windows95) {
        m = &bareMachine(windows95 ? "dirtree95" : "dirtree", windows95);
        if (windows95) {
            m->windowsDir = "C:\\WINDOWS";
            m->systemDir = "C:\\WINDOWS\\SYSTEM";
        }
        mkdir(m->windowsDir);
        mkdir(m->systemDir);
    }
    void SetUp() override { machine(false); }
    void inUse(const std::string& path) { m->files->meta[path].inUse = winsim::InUse::Open; }
    winsim::Machine* m = nullptr;
};

TEST_F(DirTree, TenLevelsAreRemoved) {
    std::string path = "C:\\ROOT";
    mkdir(path);
    file(path + "\\top.txt");
    for (int level = 1; level <= 10; ++level) {
        path += "\\L" + std::to_string(level);
        mkdir(path);
        file(path + "\\f" + std::to_string(level) + ".dat");
    }
    EXPECT_EQ(removeDirTree("C:\\ROOT", 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists("C:\\ROOT"));
    EXPECT_TRUE(winsim::pendingRenames().empty());
}

TEST_F(DirTree, EmptyDirectoryGoesAtOnce) {
    mkdir("C:\\EMPTY");
    EXPECT_EQ(removeDirTree("C:\\EMPTY\\", 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists("C:\\EMPTY"));
    EXPECT_TRUE(winsim::pendingRenames().empty());
}

TEST_F(DirTree, NothingOutsideTheTreeIsTouched) {
    mkdir("C:\\APP");
    mkdir("C:\\APP\\sub");
    file("C:\\APP\\sub\\a.txt");
    mkdir("C:\\APPX");
    file("C:\\APPX\\keep.txt");
    file("C:\\APP.txt");
    file("C:\\other.txt");
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists("C:\\APP"));
    EXPECT_TRUE(exists("C:\\APPX\\keep.txt"));
    EXPECT_TRUE(exists("C:\\APP.txt"));
    EXPECT_TRUE(exists("C:\\other.txt"));
}

TEST_F(DirTree, DotFileKeepsItsDirectoryWhichIsScheduled) {
    mkdir("C:\\APP");
    file("C:\\APP\\.profile");
    file("C:\\APP\\plain.txt");
    mkdir("C:\\APP\\.hidden");
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_TRUE(exists("C:\\APP\\.profile"));
    EXPECT_TRUE(exists("C:\\APP\\.hidden"));
    EXPECT_FALSE(exists("C:\\APP\\plain.txt"));
    EXPECT_EQ(winsim::pendingRenames(), (Pairs{{"\\??\\C:\\APP", ""}}));
}

TEST_F(DirTree, FileInUseIsScheduledOnNT) {
    mkdir("C:\\APP");
    mkdir("C:\\APP\\BIN");
    file("C:\\APP\\BIN\\vrdpsmon.dll");
    file("C:\\APP\\BIN\\other.dll");
    inUse("C:\\APP\\BIN\\vrdpsmon.dll");
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_TRUE(exists("C:\\APP\\BIN\\vrdpsmon.dll"));
    EXPECT_FALSE(exists("C:\\APP\\BIN\\other.dll"));
    EXPECT_EQ(winsim::pendingRenames(), (Pairs{{"\\??\\C:\\APP\\BIN\\vrdpsmon.dll", ""},
                                               {"\\??\\C:\\APP\\BIN", ""},
                                               {"\\??\\C:\\APP", ""}}));
}

TEST_F(DirTree, TrailingBackslashGivesTheSameEntryPaths) {
    for (const char* root : {"C:\\APP", "C:\\APP\\"}) {
        machine(false);
        mkdir("C:\\APP");
        mkdir("C:\\APP\\BIN");
        file("C:\\APP\\BIN\\.keep");
        file("C:\\APP\\BIN\\gone.dll");
        EXPECT_EQ(removeDirTree(root, 0), (DWORD)STS_DONE);
        EXPECT_FALSE(exists("C:\\APP\\BIN\\gone.dll")) << root;
        Pairs pending = winsim::pendingRenames();
        ASSERT_EQ(pending.size(), 2u) << root;
        EXPECT_EQ(pending[0].first, "\\??\\C:\\APP\\BIN") << root;
        EXPECT_EQ(pending[1].first.rfind("\\??\\C:\\APP", 0), 0u) << root;
    }
}

TEST_F(DirTree, DirectoryIsScheduledInWininitOnWindows95) {
    machine(true);
    mkdir("C:\\APP");
    file("C:\\APP\\.keep");
    file("C:\\APP\\readme.txt");
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists("C:\\APP\\readme.txt"));
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\APP"}}));
}

TEST_F(DirTree, FileInUseIsScheduledInWininitOnWindows95) {
    machine(true);
    mkdir("C:\\APP");
    file("C:\\APP\\vrdpsmw4.dll");
    file("C:\\APP\\readme.txt");
    inUse("C:\\APP\\vrdpsmw4.dll");
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_TRUE(exists("C:\\APP\\vrdpsmw4.dll"));
    EXPECT_FALSE(exists("C:\\APP\\readme.txt"));
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\APP\\vrdpsmw4.dll"}, {"nul", "C:\\APP"}}));
}

TEST_F(DirTree, PathOf255CharactersIsAccepted) {
    std::string path = "C:\\" + std::string(252, 'p');
    ASSERT_EQ(path.size(), 255u);
    EXPECT_EQ(removeDirTree(path.c_str(), 0), (DWORD)STS_DONE);
}

TEST_F(DirTree, DeathOnPathOf256Characters) {
    std::string path = "C:\\" + std::string(253, 'p');
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            removeDirTree(path.c_str(), 0);
        },
        ::testing::ExitedWithCode(0),
        "ErrorText: File deletion failure - path too long\\.  Please restart system before re-running program\\.");
}

TEST_F(DirTree, DeathOnEleventhLevel) {
    std::string path = "C:\\ROOT";
    mkdir(path);
    for (int level = 1; level <= 11; ++level) {
        path += "\\L" + std::to_string(level);
        mkdir(path);
    }
    file(path + "\\deep.txt");
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            removeDirTree("C:\\ROOT", 0);
        },
        ::testing::ExitedWithCode(0),
        "ErrorText: File deletion failure - recursion overflow\\.  Please restart system before re-running "
        "program\\.");
}

// --- ScheduleWininitRename -------------------------------------------------

TEST_F(DirTree, WininitDoesNothingOnNT) {
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\x.dll"), 0);
    EXPECT_FALSE(exists(m->windowsDir + "\\wininit.ini"));
}

TEST_F(DirTree, WininitLinesStandSideBySideInCallOrder) {
    machine(true);
    EXPECT_FALSE(exists("C:\\WINDOWS\\wininit.ini"));
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\a.dll"), 1);
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\b.dll"), 1);
    EXPECT_EQ(ScheduleWininitRename("C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new"), 1);
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\a.dll"},
                                                 {"nul", "C:\\b.dll"},
                                                 {"C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new"}}));
}

TEST_F(DirTree, WininitKeepsExistingLines) {
    machine(true);
    file("C:\\WINDOWS\\wininit.ini", "[rename]\r\nnul=C:\\old.dll\r\n");
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\new.dll"), 1);
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\old.dll"}, {"nul", "C:\\new.dll"}}));
}

TEST_F(DirTree, WininitRefusesEmptyAndOverlongTexts) {
    machine(true);
    EXPECT_EQ(ScheduleWininitRename("nul", ""), 0);
    EXPECT_EQ(ScheduleWininitRename("", "C:\\a.dll"), 0);
    EXPECT_EQ(ScheduleWininitRename(nullptr, "C:\\a.dll"), 0);
    std::string longPath = "C:\\" + std::string(253, 'x');  // 256 characters: does not fit
    EXPECT_EQ(ScheduleWininitRename("nul", longPath.c_str()), 0);
    EXPECT_FALSE(exists("C:\\WINDOWS\\wininit.ini"));
    std::string fits = "C:\\" + std::string(252, 'x');  // 255 characters
    EXPECT_EQ(ScheduleWininitRename("nul", fits.c_str()), 1);
}

TEST_F(DirTree, DeathOnOverlongWindowsDirectory) {
    machine(true);
    m->windowsDir = "C:\\" + std::string(260, 'w');
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            ScheduleWininitRename("nul", "C:\\a.dll");
        },
        ::testing::ExitedWithCode(0), "ErrorText: Windows path string too small");
}

// --- the root of a removal, read-only files, short names ----------------------

TEST_F(DirTree, DriveRootsAndEmptyPathsAreRefusedAtTheTop) {
    mkdir("C:\\APP");
    file("C:\\APP\\keep.txt");
    file("C:\\top.txt");
    for (const char* root : {"", "\\", "C:", "C:\\", "c:\\\\", "C:/"}) {
        EXPECT_EQ(removeDirTree(root, 0), (DWORD)STS_FAILED) << '"' << root << '"';
        EXPECT_TRUE(exists("C:\\APP\\keep.txt")) << root;
        EXPECT_TRUE(exists("C:\\top.txt")) << root;
    }
    EXPECT_TRUE(winsim::pendingRenames().empty());
}

TEST_F(DirTree, ReadOnlyFilesAndDirectoriesLoseTheAttributeAndGo) {
    for (bool windows95 : {false, true}) {
        machine(windows95);
        mkdir("C:\\APP");
        mkdir("C:\\APP\\RO");
        file("C:\\APP\\RO\\cd.hlp");
        m->files->meta["C:\\APP\\RO\\cd.hlp"].attributes = FILE_ATTRIBUTE_READONLY;
        m->files->meta["C:\\APP\\RO"].attributes = FILE_ATTRIBUTE_READONLY;
        EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
        EXPECT_FALSE(exists("C:\\APP")) << windows95;
        EXPECT_TRUE(winsim::pendingRenames().empty());
        EXPECT_FALSE(exists(m->windowsDir + "\\wininit.ini")) << windows95;
    }
}

TEST_F(DirTree, Windows95LinesUseShortNames) {
    machine(true);
    mkdir("C:\\Program Files");
    mkdir("C:\\Program Files\\Varden Printing");
    file("C:\\Program Files\\Varden Printing\\Remote Console.exe");
    file("C:\\Program Files\\Varden Printing\\vrdpswiz.exe");
    inUse("C:\\Program Files\\Varden Printing\\Remote Console.exe");
    clearLeftNotes();
    EXPECT_EQ(removeDirTree("C:\\Program Files\\Varden Printing", 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists("C:\\Program Files\\Varden Printing\\vrdpswiz.exe"));
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~1.EXE"},
                                                 {"nul", "C:\\PROGRA~1\\VARDEN~1"}}));
    ASSERT_EQ(leftNoteCount(), 2);
    EXPECT_STREQ(leftNote(0), "C:\\Program Files\\Varden Printing\\Remote Console.exe: in use, deleted at the next start");
    EXPECT_STREQ(leftNote(1), "C:\\Program Files\\Varden Printing: not empty now, deleted at the next start");
    // The restart of Windows 95 carries the lines out.
    winsim::rebootMachine(*m);
    EXPECT_FALSE(exists("C:\\Program Files\\Varden Printing"));
    EXPECT_TRUE(exists("C:\\Program Files"));
}

TEST_F(DirTree, Windows95PathWhoseShortNameDoesNotFitIsReported) {
    machine(true);
    // Components of eight characters: the short path is as long as the path.
    std::string path = "C:\\AB";
    mkdir(path);
    for (int i = 0; i < 28; ++i) {
        path += "\\D" + std::to_string(1000000 + i);
        mkdir(path);
    }
    ASSERT_EQ(path.size(), 257u);
    ASSERT_TRUE(exists(path));
    clearLeftNotes();
    EXPECT_FALSE(deleteAtNextStart(path.c_str(), "in use, deleted at the next start"));
    EXPECT_EQ(messageBoxes(), (std::vector<std::string>{
                                  "Deinstall|Couldn't schedule \"" + path +
                                  "\" for deletion: its short name is longer than 255 characters"}));
    ASSERT_EQ(leftNoteCount(), 1);
    EXPECT_EQ(std::string(leftNote(0)), path + ": could not be deleted, short name too long for wininit.ini");
    EXPECT_FALSE(exists("C:\\WINDOWS\\wininit.ini"));
}

TEST_F(DirTree, NtDeletionThatCannotBeScheduledIsReported) {
    mkdir("C:\\APP");
    file("C:\\APP\\held.dll");
    inUse("C:\\APP\\held.dll");
    failNext(*m, "MoveFileExA", 0, ERROR_ACCESS_DENIED);
    clearLeftNotes();
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_TRUE(exists("C:\\APP\\held.dll"));
    auto boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Deinstall|Couldn't delete \"C:\\APP\\held.dll\" (error = 5)");
    ASSERT_EQ(leftNoteCount(), 2);
    EXPECT_STREQ(leftNote(0), "C:\\APP\\held.dll: could not be deleted (error = 5)");
}

TEST_F(DirTree, LeftNotesBeyondTheTableAreCounted) {
    clearLeftNotes();
    for (int i = 0; i < kMaxLeftNotes + 3; ++i) noteLeft(("C:\\f" + std::to_string(i)).c_str(), "why");
    EXPECT_EQ(leftNoteCount(), kMaxLeftNotes + 3);
    EXPECT_STREQ(leftNote(kMaxLeftNotes - 1), ("C:\\f" + std::to_string(kMaxLeftNotes - 1) + ": why").c_str());
    EXPECT_EQ(leftNote(kMaxLeftNotes), nullptr);
    std::string longWhat(2 * kLeftNoteBytes, 'x');
    clearLeftNotes();
    noteLeft(longWhat.c_str(), "why");
    EXPECT_EQ(std::strlen(leftNote(0)), (std::size_t)kLeftNoteBytes - 1);
    reportLeftNotes();
    EXPECT_EQ(leftNoteCount(), 0);
}

}  // namespace
