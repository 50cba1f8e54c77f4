// The system utilities: the administrator check on tokens built in the test; recursive directory removal and the
// deferred deletion of what is in use, on NT (MoveFileEx) and Windows 95 (wininit.ini), with the notes of what was
// left; Program Manager commands over DDE; registry tree operations (merge without overwriting, deletion order, and
// FixReg's folding of other monitor keys into the monitor's own key).
#include "install/wininit.h"
#include "setup/harness.h"
#include "sysutil/admin.h"
#include "sysutil/dirtree.h"
#include "sysutil/leftover.h"
#include "sysutil/progman.h"
#include "sysutil/regtree.h"
#include "winsim/dde/state.h"
#include "winsim/files/ops.h"
#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/security/state.h"

namespace {

using namespace harness;
using Pairs = std::vector<std::pair<std::string, std::string>>;

const DWORD kOn = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

winsim::TokenGroup group(const char* sid, DWORD attributes) { return {*winsim::parseSid(sid), attributes}; }

// Runs the check: "1" or "0", with what it left open or allocated.
std::string check() {
    std::size_t sids = winsim::allocatedSidCount(), tokens = winsim::openTokenCount();
    std::string r = std::to_string(isUserAdmin() != FALSE);
    if (winsim::allocatedSidCount() != sids) r += " SID not freed";
    if (winsim::openTokenCount() != tokens) r += " token not closed";
    return r;
}

// The impersonated user's token is examined; a refused thread token other than ERROR_NO_TOKEN does not fall back to
// the process's. The group must be enabled and its first entry decides; near misses of the SID (another alias,
// another authority, a longer SID) are not it. Each failing call answers "not an administrator"; the next check,
// without the fault, yes.
TEST(AdminCheck, UsersImpersonationGroupsAndFailures) {
    auto& m = bareMachine("admin");
    std::string answers = check();
    // A plain user, an administrator, an administrator process impersonating a plain user and the other way round.
    for (auto [admin, impersonated] : {std::pair{false, -1}, {true, -1}, {true, 0}, {false, 1}}) {
        winsim::setUserKind(m, admin);
        if (impersonated >= 0) m.security->impersonation = winsim::defaultToken(impersonated == 1);
        answers += check();
    }
    failNext("OpenThreadToken", 1, ERROR_ACCESS_DENIED);
    auto processTokens = m.callCounts["OpenProcessToken"];
    answers += check();
    EXPECT_EQ(answers, "101010");
    EXPECT_EQ(m.callCounts["OpenProcessToken"], processTokens);
    const std::vector<winsim::TokenGroup> groups[] = {
        {group("S-1-1-0", kOn), group("S-1-5-32-544", SE_GROUP_MANDATORY)},
        {group("S-1-5-32-544", SE_GROUP_USE_FOR_DENY_ONLY), group("S-1-5-32-544", kOn)},
        {group("S-1-5-32-545", kOn), group("S-1-5-32-544", SE_GROUP_ENABLED)},
        {group("S-1-5-32-545", kOn), group("S-1-1-32-544", kOn), group("S-1-5-32-544-1", kOn)},
        {},
    };
    answers = "";
    for (const auto& g : groups) {
        bareMachine("admin").security->process.groups = g;
        winsim::machine().security->resetLive();
        answers += check();
    }
    EXPECT_EQ(answers, "00100");
    for (auto [call, nth, error] : {std::tuple{"OpenThreadToken", 1u, ERROR_ACCESS_DENIED}, {"OpenProcessToken", 1u, ERROR_ACCESS_DENIED},
                                    {"GetTokenInformation", 1u, ERROR_ACCESS_DENIED},
                                    {"GetTokenInformation", 2u, ERROR_NOT_ENOUGH_MEMORY},
                                    {"AllocateAndInitializeSid", 1u, ERROR_NOT_ENOUGH_MEMORY}}) {
        bareMachine("admin").faults.push_back({call, nth, 1, (DWORD)error, ""});
        std::string first = check();
        EXPECT_EQ(first + check(), "01") << call << " " << nth;
    }
}

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
    // `inUse` are held open, `readOnly` lose the attribute and go; `pending`: on NT the scheduled renames, on Windows
    // 95 the wininit.ini lines; `after`: which of the paths `check` exist afterwards.
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
    // Only "." and ".." are passed over unnoted; two-character and dot-dot names are noted like any dot name.
    machine(false);
    make({"C:\\APP\\", "C:\\APP\\.a", "C:\\APP\\..x"});
    EXPECT_EQ(removeDirTree("C:\\APP", 0), (DWORD)STS_DONE);
    EXPECT_EQ(notesAndBoxes(), (Lines{"C:\\APP\\..x: name begins with a dot, not removed",
                                      "C:\\APP\\.a: name begins with a dot, not removed",
                                      "C:\\APP: not empty now, deleted at the next start"}));
}

// 255 characters are taken, 256 end setup, as do more than ten levels; drive roots and empty paths are refused at the
// top.
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

// Lines add up in call order, on Windows 95 only; empty and overlong texts are refused (255 characters fit, 256 do
// not).
TEST_F(DirTree, WininitLinesAddUpInCallOrderOnWindows95OnlyWithShortNames) {
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
    // Windows 95 lines use short names, and the restart carries them out.
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

// A deletion that cannot be scheduled is reported in a box and a note: a Windows 95 short name too long for
// wininit.ini (components of eight characters: the short path is as long as the path) or none at all, and a refused
// MoveFileEx on NT.
TEST_F(DirTree, DeletionThatCannotBeScheduledIsReportedAndNotesAreCounted) {
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
    clearLeftNotes();
    for (int i = 0; i < kMaxLeftNotes + 3; ++i) noteLeft(("C:\\f" + std::to_string(i)).c_str(), "why");
    EXPECT_EQ(leftNoteCount(), kMaxLeftNotes + 3);
    EXPECT_STREQ(leftNote(kMaxLeftNotes - 1), ("C:\\f" + std::to_string(kMaxLeftNotes - 1) + ": why").c_str());
    EXPECT_EQ(leftNote(kMaxLeftNotes), nullptr);
    testing::internal::CaptureStdout();  // the notes past the list are counted on one line
    reportLeftNotes();
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\nleft 3 more items: not listed\n"), std::string::npos);
    noteLeft(std::string(2 * kLeftNoteBytes, 'x').c_str(), "why");
    EXPECT_EQ(std::strlen(leftNote(0)), (std::size_t)kLeftNoteBytes - 1);
    reportLeftNotes();
    EXPECT_EQ(leftNoteCount(), 0);
}

struct Progman : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("progman");
        // The DDE instances belong to the run; a new machine starts a new run.
        ProgmanGroupInstance = 0;
        ProgmanItemInstance = 0;
        m->dde->progmanRunning = true;
    }
    void group(const std::string& name, Lines items) {
        winsim::ProgmanGroup g;
        g.name = name;
        for (auto& i : items) {
            winsim::ProgmanItem item;
            item.name = i, item.command = i + ".exe";
            g.items.push_back(item);
        }
        m->dde->groups.push_back(g);
    }
    // The groups and their items: "Group: item, item; ...".
    std::string groups() {
        std::string out;
        for (auto& g : m->dde->groups) {
            out += g.name + ":";
            for (auto& i : g.items) out += " " + i.name;
            out += "; ";
        }
        return out;
    }
    winsim::Machine* m = nullptr;
};

// The exact bytes sent, the NUL included; a group and an item of the same name elsewhere stay; each command keeps its
// DDE instance for the run; every conversation is closed again.
TEST_F(Progman, DeleteGroupAndItemSendExactBytesAndRefusalsDeleteNothing) {
    group("Varden Network Printers", {"Setup Wizard"});
    group("Startup", {"Varden Network Printing Help", "Clock"});
    group("Main", {"Varden Network Printing Help"});
    EXPECT_TRUE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_NE(ProgmanGroupInstance, 0u);
    EXPECT_EQ(ProgmanItemInstance, 0u);
    EXPECT_TRUE(deleteProgmanItem("Varden Network Printing Help", "Startup"));
    const DWORD instance = ProgmanGroupInstance;
    EXPECT_FALSE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_EQ(ProgmanGroupInstance, instance);
    EXPECT_NE(ProgmanItemInstance, 0u);
    EXPECT_EQ(groups(), "Startup: Clock; Main: Varden Network Printing Help; ");
    const char dropGroup[] = "[DeleteGroup(\"Varden Network Printers\")]", show[] = "[ShowGroup(\"Startup\",2)]",
               item[] = "[DeleteItem(\"Varden Network Printing Help\")]";
    EXPECT_EQ(Lines(m->dde->executes.begin(), m->dde->executes.end()),
              (Lines{std::string(dropGroup, sizeof dropGroup), std::string(show, sizeof show),
                     std::string(item, sizeof item), std::string(dropGroup, sizeof dropGroup)}));
    EXPECT_TRUE(m->dde->conversations.empty());
    EXPECT_EQ(ProgmanDdeCallback(XTYP_EXECUTE, CF_TEXT, nullptr, nullptr, nullptr, nullptr, 0, 0), nullptr);
    // Refusals: the commands sent (by their first 12 characters) and nothing deleted.
    const std::string overlong(1100, 'x');
    const struct { bool running; const char* group; bool startup; std::string sent; } rows[] = {
        {false, "Varden Network Printers", false, ""},  // Program Manager not running
        {false, nullptr, false, ""},
        {true, nullptr, false, "[ShowGroup( "},          // no Startup group
        {true, nullptr, true, "[ShowGroup( [DeleteItem( "},  // no such item in it
        {true, overlong.c_str(), false, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        SetUp();
        m->dde->progmanRunning = row.running;
        const std::string name = row.group ? row.group : "Main";
        group(name, {"Varden Network Printing Help"});
        if (row.startup) group("Startup", {"Clock"});
        EXPECT_FALSE(row.group ? deleteProgmanGroup(row.group) : deleteProgmanItem("Varden Network Printing Help", "Startup"));
        std::string sent;
        for (const auto& e : m->dde->executes) sent += e.substr(0, e.find('(') + 1) + " ";
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(groups(), name + ": Varden Network Printing Help; " + (row.startup ? "Startup: Clock; " : ""));
    }
}

const char kOwn[] = "Varden Network Port";

struct RegTree : ::testing::Test {
    void SetUp() override { m = &bareMachine("regtree"); }
    // copyRegTree from SOFTWARE\Src to SOFTWARE\Dst.
    DWORD copy() {
        HKEY src = createKey("SOFTWARE\\Src"), dst = createKey("SOFTWARE\\Dst");
        DWORD r = copyRegTree(src, dst);
        m->faults.clear();
        RegCloseKey(src);
        RegCloseKey(dst);
        return r;
    }
    // deleteRegTree of a subkey of `parent`.
    DWORD removeTree(const char* name, const char* parent = "SOFTWARE") {
        HKEY h = createKey(parent);
        DWORD r = deleteRegTree(h, name);
        RegCloseKey(h);
        return r;
    }
    winsim::Machine* m = nullptr;
};

TEST_F(RegTree, CopyMergesAndDeleteRemovesInItsOrder) {
    setSz("SOFTWARE\\Src", "Shared", "from source");
    setSz("SOFTWARE\\Src", "Only", "source only");
    setValue("SOFTWARE\\Src", "Blob", REG_BINARY, "\x01\x02\x00\x03", 4);
    DWORD timeout = 42, kept = 7;
    setValue("SOFTWARE\\Src\\Ports\\NP1", "Timeout", REG_DWORD, &timeout, 4);
    setSz("SOFTWARE\\Src\\Ports\\NP2\\Deep", "Name", "deep");
    setSz("SOFTWARE\\Dst", "Shared", "kept");
    setValue("SOFTWARE\\Dst\\Ports\\NP1", "Timeout", REG_DWORD, &kept, 4);
    const std::string source = regTree("SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".: Shared=kept Only=source only Blob=01020003\n"
                                        "Ports:\nPorts\\NP1: Timeout=7\nPorts\\NP2:\nPorts\\NP2\\Deep: Name=deep\n");
    EXPECT_EQ(regTree("SOFTWARE\\Src"), source) << "the source is left as it was";
    // An empty or unreadable source copies nothing and succeeds.
    removeTree("Src");
    removeTree("Dst");
    makeKey("SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    setSz("SOFTWARE\\Src\\Sub", "V", "x");
    failNext("RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".:\n");
    // A failed write is reported, and the copy goes on.
    setSz("SOFTWARE\\Src\\A", "V", "a");
    setSz("SOFTWARE\\Src\\B", "V", "b");
    failNext("RegSetValueExA", 1, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(copy(), (DWORD)STS_FAILED);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".:\nA:\nB: V=b\nSub: V=x\n");
    // The whole tree goes; no name fails instead of deleting the parent; a refused deletion shows which key went
    // first (highest index, deepest), and that the others were still tried.
    SetUp();
    setSz("SOFTWARE\\Gone\\A\\B\\C", "V", "x");
    makeKey("SOFTWARE\\Gone\\D");
    makeKey("SOFTWARE\\Stays\\Child");
    EXPECT_EQ(removeTree("Gone"), (DWORD)STS_DONE);
    EXPECT_EQ(removeTree("Nothing"), (DWORD)STS_FAILED);
    EXPECT_EQ(removeTree("", "SOFTWARE\\Stays"), (DWORD)STS_FAILED);
    EXPECT_EQ(removeTree(nullptr, "SOFTWARE\\Stays"), (DWORD)STS_FAILED);
    EXPECT_EQ(regTree("SOFTWARE"), ".:\nStays:\nStays\\Child:\n");
    const struct { Lines keys; const char* target; std::uint32_t times; const char* left; } rows[] = {
        {{"T\\A", "T\\B", "T\\C"}, "", 1, ".:\nC:\n"},
        {{"T\\A\\X\\Y"}, "", 1, ".:\nA:\nA\\X:\nA\\X\\Y:\n"},
        {{"T\\A", "T\\B", "T\\C"}, "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B", 0, ".:\nB:\n"},
    };
    for (const auto& row : rows) {
        SetUp();
        for (const auto& k : row.keys) makeKey("SOFTWARE\\" + k);
        failNext("RegDeleteKeyA", row.times, ERROR_ACCESS_DENIED, row.target);
        EXPECT_EQ(removeTree("T"), (DWORD)STS_FAILED) << row.left;
        EXPECT_EQ(regTree("SOFTWARE\\T"), row.left);
    }
}

// FixReg fails without a monitors key (a fresh one gets the own key: the installation scenarios). "Old A" and "Old B"
// are next to each other in enumeration order; the own key stored in capitals is still the own key, and is not folded
// into itself; a path, another module or a longer name are not ours. An existing own key gets no driver value of its
// own, only the merged one.
TEST_F(RegTree, FixRegMergesAndDeletesOnlyKeysNamingTheModule) {
    EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_FAILED);
    for (auto [key, name, data] : {std::tuple{"Local Port", "driver", "localmon.dll"}, {"Old A", "driver", "VRDPSMON.DLL"},
                                   {"Old A\\Ports\\NP1", "Address", "a1"}, {"Old B", "driver", "vrdpsmon.dll"},
                                   {"Old B", "Extra", "from B"}, {"Old B\\Ports\\NP2", "Address", "b2"},
                                   {"VARDEN NETWORK PORT", "Extra", "own"}, {"VARDEN NETWORK PORT\\Ports\\NP3", "Address", "c3"},
                                   {"With Path", "driver", "c:\\vrdpsmon.dll"}, {"Win95 Module", "driver", "vrdpsmw4.dll"},
                                   {"Long", "driver", "vrdpsmon.dll.old.backup"}})
        setSz(mon(key), name, data);
    EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_DONE);
    EXPECT_EQ(regTree(kMonitors), R"(.:
Local Port: driver=localmon.dll
Long: driver=vrdpsmon.dll.old.backup
VARDEN NETWORK PORT: Extra=own driver=VRDPSMON.DLL
VARDEN NETWORK PORT\Ports:
VARDEN NETWORK PORT\Ports\NP1: Address=a1
VARDEN NETWORK PORT\Ports\NP2: Address=b2
VARDEN NETWORK PORT\Ports\NP3: Address=c3
Win95 Module: driver=vrdpsmw4.dll
With Path: driver=c:\vrdpsmon.dll
)");
}

// A key whose copy failed stays; every privilege is left disabled, also one a restart preparation enabled before.
TEST_F(RegTree, FixRegKeepsKeyWhoseCopyFailedAndLeavesEveryPrivilegeDisabled) {
    setSz(mon("Old"), "driver", "vrdpsmon.dll");
    setSz(mon("Old"), "Keep", "me");
    setSz(mon(kOwn), "driver", "vrdpsmon.dll");
    winsim::setUserKind(*m, true);
    m->security->processToken()->findPrivilege("SeShutdownPrivilege")->attributes |= SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    failNext("RegSetValueExA", 0, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_DONE);
    m->faults.clear();
    EXPECT_EQ(regTree(mon("Old")), ".: driver=vrdpsmon.dll Keep=me\n");
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_FALSE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
}

}  // namespace
