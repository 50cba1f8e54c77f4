// Recursive directory removal and the deferred deletion of what is in use,
// on NT (MoveFileEx) and Windows 95 (wininit.ini), and the notes of what
// was left.
#include "install/wininit.h"
#include "setup/harness.h"
#include "sysutil/dirtree.h"
#include "sysutil/leftover.h"
#include "winsim/files/ops.h"
#include "winsim/files/reboot.h"
#include "winsim/files/state.h"

namespace {

using namespace harness;
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
        m = &bareMachine("dirtree", windows95);
        if (windows95) m->windowsDir = "C:\\WINDOWS", m->systemDir = "C:\\WINDOWS\\SYSTEM";
        mkdir(m->windowsDir);
        mkdir(m->systemDir);
        clearLeftNotes();
    }
    void SetUp() override { machine(false); }
    // Paths ending in a backslash are made directories, the others files.
    void make(const Lines& tree) {
        for (const auto& p : tree) {
            if (p.back() == '\\') mkdir(p.substr(0, p.size() - 1));
            else file(p);
        }
    }
    void inUse(const std::string& path) { m->files->meta[path].inUse = winsim::InUse::Open; }
    // Which of `paths` exist, as "1"/"0".
    static std::string present(const Lines& paths) {
        std::string out;
        for (const auto& p : paths) out += exists(p) ? "1" : "0";
        return out;
    }
    // The notes of what was left, then the message boxes.
    static Lines notesAndBoxes() {
        Lines out;
        for (int i = 0; i < leftNoteCount() && leftNote(i); ++i) out.push_back(leftNote(i));
        for (const auto& b : messageBoxes()) out.push_back(b);
        return out;
    }
    winsim::Machine* m = nullptr;
};

TEST_F(DirTree, RemovesWhatItCanAndSchedulesTheRest) {
    Lines deep = {"C:\\ROOT\\", "C:\\ROOT\\top.txt"};
    for (int level = 1; level <= 10; ++level) {
        std::string dir = deep[deep.size() - 2] + "L" + std::to_string(level) + "\\";
        deep.push_back(dir);
        deep.push_back(dir + "f" + std::to_string(level) + ".dat");
    }
    // `inUse` are held open, `readOnly` lose the attribute and go; `pending`:
    // on NT the scheduled renames, on Windows 95 the wininit.ini lines;
    // `after`: which of the paths `check` exist afterwards.
    const struct {
        bool windows95; Lines tree, inUse; const char* root; Lines check; const char* after; Pairs pending; Lines readOnly = {};
    } rows[] = {
        {false, deep, {}, "C:\\ROOT", {"C:\\ROOT"}, "0", {}},
        {false, {"C:\\EMPTY\\"}, {}, "C:\\EMPTY\\", {"C:\\EMPTY"}, "0", {}},
        {false, {"C:\\APP\\", "C:\\APP\\sub\\", "C:\\APP\\sub\\a.txt", "C:\\APPX\\", "C:\\APPX\\keep.txt", "C:\\APP.txt", "C:\\other.txt"},
         {}, "C:\\APP", {"C:\\APPX\\keep.txt", "C:\\APP.txt", "C:\\other.txt", "C:\\APP"}, "1110", {}},
        // Dot files keep their directory, which is scheduled.
        {false, {"C:\\APP\\", "C:\\APP\\.profile", "C:\\APP\\plain.txt", "C:\\APP\\.hidden\\"}, {}, "C:\\APP",
         {"C:\\APP\\.profile", "C:\\APP\\.hidden", "C:\\APP\\plain.txt"}, "110", {{"\\??\\C:\\APP", ""}}},
        {false, {"C:\\APP\\", "C:\\APP\\BIN\\", "C:\\APP\\BIN\\vrdpsmon.dll", "C:\\APP\\BIN\\other.dll"},
         {"C:\\APP\\BIN\\vrdpsmon.dll"}, "C:\\APP\\", {"C:\\APP\\BIN\\vrdpsmon.dll", "C:\\APP\\BIN\\other.dll"}, "10",
         {{"\\??\\C:\\APP\\BIN\\vrdpsmon.dll", ""}, {"\\??\\C:\\APP\\BIN", ""}, {"\\??\\C:\\APP", ""}}},
        {true, {"C:\\APP\\", "C:\\APP\\vrdpsmw4.dll", "C:\\APP\\readme.txt"}, {"C:\\APP\\vrdpsmw4.dll"}, "C:\\APP\\",
         {"C:\\APP\\vrdpsmw4.dll", "C:\\APP\\readme.txt"}, "10", {{"nul", "C:\\APP\\vrdpsmw4.dll"}, {"nul", "C:\\APP"}}},
        {false, {"C:\\APP\\", "C:\\APP\\RO\\", "C:\\APP\\RO\\cd.hlp"}, {}, "C:\\APP", {"C:\\APP"}, "0", {},
         {"C:\\APP\\RO\\cd.hlp", "C:\\APP\\RO"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        machine(row.windows95);
        make(row.tree);
        for (const auto& p : row.inUse) inUse(p);
        for (const auto& p : row.readOnly) m->files->meta[p].attributes = FILE_ATTRIBUTE_READONLY;
        EXPECT_EQ(removeDirTree(row.root, 0), (DWORD)STS_DONE);
        EXPECT_EQ(present(row.check), row.after);
        EXPECT_EQ(row.windows95 ? winsim::wininitRenames(*m) : winsim::pendingRenames(), row.pending);
        EXPECT_TRUE(row.windows95 || !exists(m->windowsDir + "\\wininit.ini"));
        EXPECT_TRUE(messageBoxes().empty());
    }
}

// 255 characters are taken, 256 end setup, as do more than ten levels;
// drive roots and empty paths are refused at the top.
TEST_F(DirTree, PathLengthDepthAndRootLimits) {
    std::string path = "C:\\" + std::string(252, 'p');
    EXPECT_EQ(removeDirTree(path.c_str(), 0), (DWORD)STS_DONE);
    path += "p";
    EXPECT_ENDS_SETUP(removeDirTree(path.c_str(), 0), "ErrorText: File deletion failure - path too long\\.  "
                                                      "Please restart system before re-running program\\.");
    make({"C:\\APP\\", "C:\\APP\\keep.txt", "C:\\top.txt"});
    for (const char* root : {"", "\\", "C:", "C:\\", "c:\\\\", "C:/"})
        EXPECT_EQ(removeDirTree(root, 0), (DWORD)STS_FAILED) << '"' << root << '"';
    EXPECT_EQ(present({"C:\\APP\\keep.txt", "C:\\top.txt"}), "11");
    EXPECT_TRUE(winsim::pendingRenames().empty());
    path = "C:\\ROOT";
    mkdir(path);
    for (int level = 1; level <= 11; ++level) mkdir(path += "\\L" + std::to_string(level));
    file(path + "\\deep.txt");
    EXPECT_ENDS_SETUP(removeDirTree("C:\\ROOT", 0), "ErrorText: File deletion failure - recursion overflow\\.  "
                                                    "Please restart system before re-running program\\.");
}

// Lines add up in call order, on Windows 95 only; empty and overlong texts
// are refused (255 characters fit, 256 do not).
TEST_F(DirTree, WininitLinesAddUpInCallOrderOnWindows95Only) {
    EXPECT_EQ(ScheduleWininitRename("nul", "C:\\x.dll"), 0);
    EXPECT_FALSE(exists(m->windowsDir + "\\wininit.ini"));
    machine(true);
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

// Windows 95 lines use short names, and the restart carries them out.
TEST_F(DirTree, Windows95LinesUseShortNames) {
    machine(true);
    const std::string app = "C:\\Program Files\\Varden Printing";
    make({"C:\\Program Files\\", app + "\\", app + "\\Remote Console.exe", app + "\\vrdpswiz.exe"});
    inUse(app + "\\Remote Console.exe");
    EXPECT_EQ(removeDirTree(app.c_str(), 0), (DWORD)STS_DONE);
    EXPECT_FALSE(exists(app + "\\vrdpswiz.exe"));
    EXPECT_EQ(winsim::wininitRenames(*m),
              (Pairs{{"nul", "C:\\PROGRA~1\\VARDEN~1\\REMOTE~1.EXE"}, {"nul", "C:\\PROGRA~1\\VARDEN~1"}}));
    EXPECT_EQ(notesAndBoxes(), (Lines{app + "\\Remote Console.exe: in use, deleted at the next start",
                                      app + ": not empty now, deleted at the next start"}));
    winsim::rebootMachine(*m);
    EXPECT_EQ(present({app, "C:\\Program Files"}), "01");
}

// A deletion that cannot be scheduled is reported in a box and a note:
// a Windows 95 short name too long for wininit.ini (components of eight
// characters: the short path is as long as the path) or none at all, and a
// refused MoveFileEx on NT.
TEST_F(DirTree, DeletionThatCannotBeScheduledIsReported) {
    make({"C:\\APP\\", "C:\\APP\\held.dll"});
    inUse("C:\\APP\\held.dll");
    failNext("MoveFileExA", 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_TRUE(exists("C:\\APP\\held.dll"));
    EXPECT_EQ(notesAndBoxes(), (Lines{"C:\\APP\\held.dll: could not be deleted (error = 5)",
                                      "C:\\APP: could not be deleted (error = 5)",
                                      "Deinstall|Couldn't delete \"C:\\APP\\held.dll\" (error = 5)",
                                      "Deinstall|Couldn't delete \"C:\\APP\" (error = 5)"}));
    machine(true);
    std::string path = "C:\\AB";
    mkdir(path);
    for (int i = 0; i < 28; ++i) mkdir(path += "\\D" + std::to_string(1000000 + i));
    ASSERT_EQ(path.size(), 257u);
    EXPECT_FALSE(deleteAtNextStart(path.c_str(), "in use, deleted at the next start"));
    failNext("GetShortPathNameA", 0, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(deleteAtNextStart("C:\\AB", "in use, deleted at the next start"));
    EXPECT_EQ(notesAndBoxes(), (Lines{path + ": could not be deleted, short name too long for wininit.ini",
                                      "C:\\AB: could not be deleted, no short name for wininit.ini",
                                      "Deinstall|Couldn't schedule \"" + path +
                                          "\" for deletion: its short name is longer than 255 characters",
                                      "Deinstall|Couldn't get the short name of \"C:\\AB\" (error = 5)"}));
    EXPECT_FALSE(exists("C:\\WINDOWS\\wininit.ini"));
}

TEST_F(DirTree, LeftNotesBeyondTheTableAreCounted) {
    for (int i = 0; i < kMaxLeftNotes + 3; ++i) noteLeft(("C:\\f" + std::to_string(i)).c_str(), "why");
    EXPECT_EQ(leftNoteCount(), kMaxLeftNotes + 3);
    EXPECT_STREQ(leftNote(kMaxLeftNotes - 1), ("C:\\f" + std::to_string(kMaxLeftNotes - 1) + ": why").c_str());
    EXPECT_EQ(leftNote(kMaxLeftNotes), nullptr);
    clearLeftNotes();
    noteLeft(std::string(2 * kLeftNoteBytes, 'x').c_str(), "why");
    EXPECT_EQ(std::strlen(leftNote(0)), (std::size_t)kLeftNoteBytes - 1);
    reportLeftNotes();
    EXPECT_EQ(leftNoteCount(), 0);
}

}  // namespace
