// Recursive directory removal and the deferred deletion of what is in use,
// on NT (MoveFileEx) and Windows 95 (wininit.ini).
#include "install/wininit.h"
#include "printsys/fixture.h"
#include "sysutil/dirtree.h"
#include "sysutil/leftover.h"
#include "winsim/files/ops.h"
#include "winsim/files/reboot.h"
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
    // Paths ending in a backslash are made directories, the others files.
    void make(const std::vector<std::string>& tree) {
        for (const auto& p : tree) {
            if (p.back() == '\\') mkdir(p.substr(0, p.size() - 1));
            else file(p);
        }
    }
    void inUse(const std::string& path) { m->files->meta[path].inUse = winsim::InUse::Open; }
    static std::vector<std::string> notes() {
        std::vector<std::string> out;
        for (int i = 0; i < leftNoteCount() && leftNote(i); ++i) out.push_back(leftNote(i));
        return out;
    }
    winsim::Machine* m = nullptr;
};

TEST_F(DirTree, RemovesWhatItCanAndSchedulesTheRest) {
    std::vector<std::string> deep = {"C:\\ROOT\\", "C:\\ROOT\\top.txt"};
    for (int level = 1; level <= 10; ++level) {
        std::string dir = deep[deep.size() - 2] + "L" + std::to_string(level) + "\\";
        deep.push_back(dir);
        deep.push_back(dir + "f" + std::to_string(level) + ".dat");
    }
    // `inUse` are held open, `readOnly` lose the attribute and go; `pending`:
    // on NT the scheduled renames, on Windows 95 the wininit.ini lines.
    const struct {
        const char* what;
        bool windows95;
        std::vector<std::string> tree, inUse;
        const char* root;
        std::vector<std::string> stays, gone;
        Pairs pending;
        std::vector<std::string> readOnly = {};
    } cases[] = {
        {"ten levels", false, deep, {}, "C:\\ROOT", {}, {"C:\\ROOT"}, {}},
        {"empty directory", false, {"C:\\EMPTY\\"}, {}, "C:\\EMPTY\\", {}, {"C:\\EMPTY"}, {}},
        {"nothing outside the tree", false,
         {"C:\\APP\\", "C:\\APP\\sub\\", "C:\\APP\\sub\\a.txt", "C:\\APPX\\", "C:\\APPX\\keep.txt", "C:\\APP.txt",
          "C:\\other.txt"},
         {}, "C:\\APP", {"C:\\APPX\\keep.txt", "C:\\APP.txt", "C:\\other.txt"}, {"C:\\APP"}, {}},
        {"dot files keep their directory, which is scheduled", false,
         {"C:\\APP\\", "C:\\APP\\.profile", "C:\\APP\\plain.txt", "C:\\APP\\.hidden\\"}, {}, "C:\\APP",
         {"C:\\APP\\.profile", "C:\\APP\\.hidden"}, {"C:\\APP\\plain.txt"}, {{"\\??\\C:\\APP", ""}}},
        {"file in use on NT", false,
         {"C:\\APP\\", "C:\\APP\\BIN\\", "C:\\APP\\BIN\\vrdpsmon.dll", "C:\\APP\\BIN\\other.dll"},
         {"C:\\APP\\BIN\\vrdpsmon.dll"}, "C:\\APP\\", {"C:\\APP\\BIN\\vrdpsmon.dll"}, {"C:\\APP\\BIN\\other.dll"},
         {{"\\??\\C:\\APP\\BIN\\vrdpsmon.dll", ""}, {"\\??\\C:\\APP\\BIN", ""}, {"\\??\\C:\\APP", ""}}},
        {"file in use on Windows 95", true, {"C:\\APP\\", "C:\\APP\\vrdpsmw4.dll", "C:\\APP\\readme.txt"},
         {"C:\\APP\\vrdpsmw4.dll"}, "C:\\APP\\", {"C:\\APP\\vrdpsmw4.dll"}, {"C:\\APP\\readme.txt"},
         {{"nul", "C:\\APP\\vrdpsmw4.dll"}, {"nul", "C:\\APP"}}},
        {"read-only file and directory on NT", false, {"C:\\APP\\", "C:\\APP\\RO\\", "C:\\APP\\RO\\cd.hlp"}, {},
         "C:\\APP", {}, {"C:\\APP"}, {}, {"C:\\APP\\RO\\cd.hlp", "C:\\APP\\RO"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine(c.windows95);
        make(c.tree);
        for (const auto& p : c.inUse) inUse(p);
        for (const auto& p : c.readOnly) m->files->meta[p].attributes = FILE_ATTRIBUTE_READONLY;
        EXPECT_EQ(removeDirTree(c.root, 0), (DWORD)STS_DONE);
        for (const auto& p : c.stays) EXPECT_TRUE(exists(p)) << p;
        for (const auto& p : c.gone) EXPECT_FALSE(exists(p)) << p;
        EXPECT_EQ(c.windows95 ? winsim::wininitRenames(*m) : winsim::pendingRenames(), c.pending);
        EXPECT_TRUE(c.windows95 || !exists(m->windowsDir + "\\wininit.ini"));
        EXPECT_TRUE(messageBoxes().empty());
    }
}

TEST_F(DirTree, PathLengthAndDepthLimits) {
    std::string path = "C:\\" + std::string(252, 'p');
    ASSERT_EQ(path.size(), 255u);
    EXPECT_EQ(removeDirTree(path.c_str(), 0), (DWORD)STS_DONE);
    path += "p";
    EXPECT_ENDS_SETUP(removeDirTree(path.c_str(), 0), "ErrorText: File deletion failure - path too long\\.  "
                                                      "Please restart system before re-running program\\.");
    path = "C:\\ROOT";
    mkdir(path);
    for (int level = 1; level <= 11; ++level) {
        path += "\\L" + std::to_string(level);
        mkdir(path);
    }
    file(path + "\\deep.txt");
    EXPECT_ENDS_SETUP(removeDirTree("C:\\ROOT", 0), "ErrorText: File deletion failure - recursion overflow\\.  "
                                                    "Please restart system before re-running program\\.");
}

// --- ScheduleWininitRename -------------------------------------------------

TEST_F(DirTree, WininitLinesAddUpInCallOrderOnWindows95Only) {
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\x.dll"), 0);
    EXPECT_FALSE(exists(m->windowsDir + "\\wininit.ini"));
    machine(true);
    // Empty and overlong texts are refused; 255 characters fit, 256 do not.
    std::string longPath = "C:\\" + std::string(253, 'x'), fits = "C:\\" + std::string(252, 'x');
    for (auto [from, to] : {std::pair<const char*, const char*>{"nul", ""}, {"", "C:\\a.dll"}, {nullptr, "C:\\a.dll"},
                            {"nul", longPath.c_str()}})
        EXPECT_EQ(ScheduleWininitRename(from, to), 0) << (from ? from : "(null)") << " " << to;
    EXPECT_FALSE(exists("C:\\WINDOWS\\wininit.ini"));
    file("C:\\WINDOWS\\wininit.ini", "[rename]\r\nnul=C:\\old.dll\r\n");
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\a.dll"), 1);
    EXPECT_EQ(ScheduleWininitRename("nul", fits.c_str()), 1);
    EXPECT_EQ(ScheduleWininitRename("C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new"), 1);
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\old.dll"}, {"nul", "C:\\a.dll"}, {"nul", fits},
                                                 {"C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new"}}));
    m->windowsDir = "C:\\" + std::string(260, 'w');
    EXPECT_ENDS_SETUP(ScheduleWininitRename("nul", "C:\\a.dll"), "ErrorText: Windows path string too small");
}

// --- the root of a removal, read-only files, short names ----------------------

TEST_F(DirTree, DriveRootsAndEmptyPathsAreRefusedAtTheTop) {
    make({"C:\\APP\\", "C:\\APP\\keep.txt", "C:\\top.txt"});
    for (const char* root : {"", "\\", "C:", "C:\\", "c:\\\\", "C:/"}) {
        EXPECT_EQ(removeDirTree(root, 0), (DWORD)STS_FAILED) << '"' << root << '"';
        EXPECT_TRUE(exists("C:\\APP\\keep.txt")) << root;
        EXPECT_TRUE(exists("C:\\top.txt")) << root;
    }
    EXPECT_TRUE(winsim::pendingRenames().empty());
}

TEST_F(DirTree, Windows95LinesUseShortNames) {
    machine(true);
    make({"C:\\Program Files\\", "C:\\Program Files\\Varden Printing\\",
          "C:\\Program Files\\Varden Printing\\Remote Console.exe", "C:\\Program Files\\Varden Printing\\vrdpswiz.exe"});
    inUse("C:\\Program Files\\Varden Printing\\Remote Console.exe");
    clearLeftNotes();
    EXPECT_EQ(removeDirTree("C:\\Program Files\\Varden Printing", 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists("C:\\Program Files\\Varden Printing\\vrdpswiz.exe"));
    EXPECT_EQ(winsim::wininitRenames(*m), (Pairs{{"nul", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~1.EXE"},
                                                 {"nul", "C:\\PROGRA~1\\VARDEN~1"}}));
    EXPECT_EQ(notes(), (std::vector<std::string>{
                           "C:\\Program Files\\Varden Printing\\Remote Console.exe: in use, deleted at the next start",
                           "C:\\Program Files\\Varden Printing: not empty now, deleted at the next start"}));
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
    EXPECT_EQ(notes(), std::vector<std::string>{path + ": could not be deleted, short name too long for wininit.ini"});
    // No short name at all: the error Windows gave is reported.
    failNext(*m, "GetShortPathNameA", 0, ERROR_ACCESS_DENIED);
    clearLeftNotes();
    EXPECT_FALSE(deleteAtNextStart("C:\\AB", "in use, deleted at the next start"));
    EXPECT_EQ(messageBoxes().back(), "Deinstall|Couldn't get the short name of \"C:\\AB\" (error = 5)");
    EXPECT_EQ(notes(), std::vector<std::string>{"C:\\AB: could not be deleted, no short name for wininit.ini"});
    EXPECT_FALSE(exists("C:\\WINDOWS\\wininit.ini"));
}

TEST_F(DirTree, NtDeletionThatCannotBeScheduledIsReported) {
    make({"C:\\APP\\", "C:\\APP\\held.dll"});
    inUse("C:\\APP\\held.dll");
    failNext(*m, "MoveFileExA", 0, ERROR_ACCESS_DENIED);
    clearLeftNotes();
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_TRUE(exists("C:\\APP\\held.dll"));
    EXPECT_EQ(messageBoxes(), (std::vector<std::string>{"Deinstall|Couldn't delete \"C:\\APP\\held.dll\" (error = 5)",
                                                        "Deinstall|Couldn't delete \"C:\\APP\" (error = 5)"}));
    EXPECT_EQ(notes(), (std::vector<std::string>{"C:\\APP\\held.dll: could not be deleted (error = 5)",
                                                 "C:\\APP: could not be deleted (error = 5)"}));
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
