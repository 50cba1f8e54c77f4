// The kit's calls that work on the machine: FOpenInf, the copy engine,
// directories, file removal, INI lines and detection on its files, and
// Program Manager groups and items through the DDE client calls.
#include "helpers.h"
#include "kit/internal.h"
#include "winsim/dde/state.h"
#include "winsim/files/state.h"
#include "winsim/ui/state.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

using namespace kittest;
namespace fs = std::filesystem;

fs::path driveC() { return winsim::machine().drives.at('C').host; }

// A fresh machine with a distribution in C:\dist (an INF and the files it
// names) and the frame started unattended, writing its log.
class KitFiles : public Kit {
public:
    void SetUp() override {
        Kit::SetUp();
        writeText(driveC() / "dist" / "setup.inf",
                  "; sample\r\n[Monitor]\r\nmon = vrdpsmon.dll, , , , , , , , , , , , , , 10\r\n"
                  "[W95 Monitor]\r\nmon = vrdpsmw4.dll, vrdpsmw4.new, , , , , , , , , , , , , 7\r\n"
                  "[Help]\r\nhlp = vrdpsmon.hlp, , help, , , , , , , , , , , , 5\r\n"
                  "[Missing]\r\ngone = nothere.dll, , , , , , , , , , , , , , 1\r\n");
        writeText(driveC() / "dist" / "vrdpsmon.dll", "0123456789");
        writeText(driveC() / "dist" / "vrdpsmw4.dll", "abcdefg");
        writeText(driveC() / "dist" / "help" / "vrdpsmon.hlp", "hhhhh");
        start("");
    }
    void inUse(const char* path, winsim::InUse how) {
        std::string rel = path + 3;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        writeText(driveC() / rel, "old");
        m->files->meta[path].inUse = how;
    }
};

// A field read through CbGetInfSectionKeyField into a buffer of `capacity`
// bytes inside a larger one of 'G's: the count and the text.
std::string field(const char* section, const char* key, int n, int capacity, int count) {
    char buf[80];
    std::memset(buf, 'G', sizeof buf);
    buf[79] = 0;
    EXPECT_EQ(CbGetInfSectionKeyField(section, key, n, buf, capacity), count) << section << "/" << key << " " << n;
    EXPECT_EQ(buf[capacity], 'G');
    return buf;
}

TEST_F(KitFiles, InfOpenedReadAndItsErrorsLogged) {
    EXPECT_EQ(CbGetInfSectionKeyField("Monitor", "mon", 1, nullptr, 0), -1);  // no INF open
    EXPECT_FALSE(FSetSymbolToListOfInfKeys("File List", "Monitor", 1));
    EXPECT_FALSE(FOpenInf("C:\\dist\\nothere.inf", 1, 0) || FOpenInf("", 1, 0) || FOpenInf(nullptr, 1, 0));
    m->faults.push_back({"ReadFile", 1, 1, ERROR_READ_FAULT, ""});
    EXPECT_FALSE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    writeText(driveC() / "bad.inf", "[A]\nx = a.dat,,,,,,,,,,,,,,1\n[B\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(FOpenInf("C:\\bad.inf", 1, 0));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("setup: C:\\bad.inf, line 3: section header without ']'"),
              std::string::npos);

    ASSERT_TRUE(FOpenInf("C:\\DIST\\SETUP.INF", 1, 0));
    EXPECT_EQ(field("monitor", "MON", 1, 64, 12), "vrdpsmon.dll");
    EXPECT_EQ(field("Monitor", "mon", 15, 64, 2), "10");
    EXPECT_EQ(field("Monitor", "mon", 0, 64, 3), "mon");  // field 0: the key
    EXPECT_EQ(field("Monitor", "mon", 40, 64, 0), "");
    EXPECT_EQ(field("Monitor", "mon", 1, 12, 12), "vrdpsmon.dl");  // as long as the capacity: cut
    EXPECT_EQ(field("Monitor", "nokey", 1, 64, -1) + field("No Section", "mon", 1, 64, -1), "");

    ASSERT_TRUE(FSetSymbolToListOfInfKeys("File List", "W95 Monitor", 1));
    EXPECT_EQ(UsGetListLength("File List"), 1);
    char buf[8];
    EXPECT_EQ(CbGetListItem("File List", 1, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "mon");
    for (const char* list : {"File List", (const char*)nullptr, ""})
        EXPECT_FALSE(FSetSymbolToListOfInfKeys(list, list && *list ? "Nope" : "Monitor", 1));

    std::string text = finish();
    EXPECT_NE(text.find("inf: no INF file open for [Monitor]"), std::string::npos) << text;
    EXPECT_NE(text.find("inf (no file name): cannot open\ninf (no file name): cannot open"), std::string::npos) << text;
    EXPECT_NE(text.find("inf C:\\dist\\nothere.inf: cannot be read (error 2)"), std::string::npos) << text;
    EXPECT_NE(text.find("inf C:\\dist\\setup.inf: cannot be read (error 30)"), std::string::npos) << text;
    EXPECT_NE(text.find("inf C:\\bad.inf: line 3: section header without ']'"), std::string::npos) << text;
}

// Files go under their second name when they have one; the free space
// shrinks by what was copied; the list is empty after a run and a reset.
TEST_F(KitFiles, SectionsCopiedUnderTheirNamesIntoNewDirectories) {
    ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
    std::uint64_t freeBefore = m->drives['C'].free;
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist\\", "C:\\win32app\\deep"));
    ASSERT_TRUE(FAddSectionFilesToCopyList("W95 Monitor", "C:\\dist", "C:\\WINDOWS\\SYSTEM"));
    ASSERT_TRUE(FAddSectionFilesToCopyList("Help", "C:\\dist", "C:\\win32app"));
    for (auto [section, from, to] : {std::tuple{"No Such Section", "C:\\dist", std::string("C:\\x")},
                                     {"Monitor", nullptr, "C:\\x"}, {"Monitor", "C:\\dist", "C:\\" + std::string(250, 'a')}})
        EXPECT_FALSE(FAddSectionFilesToCopyList(section, from, to.c_str())) << to;
    testing::internal::CaptureStdout();
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    // The gauge is shown before each file (the answers front-end prints the first and every 25th), and at the end.
    const std::string gauge = testing::internal::GetCapturedStdout();
    EXPECT_NE(gauge.find("copied 0 of 3 files, 0 of 1 KB: C:\\win32app\\deep\\vrdpsmon.dll\n"), std::string::npos)
        << gauge;
    EXPECT_EQ(readText(driveC() / "win32app" / "deep" / "vrdpsmon.dll") + readText(driveC() / "WINDOWS" / "SYSTEM" / "vrdpsmw4.new") +
                  readText(driveC() / "win32app" / "vrdpsmon.hlp"),
              "0123456789abcdefghhhhh");
    EXPECT_FALSE(fs::exists(driveC() / "WINDOWS" / "SYSTEM" / "vrdpsmw4.dll"));
    EXPECT_EQ(m->drives['C'].free, freeBefore - 22);
    fs::remove(driveC() / "win32app" / "vrdpsmon.hlp");
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    ASSERT_TRUE(FAddSectionFilesToCopyList("Monitor", "C:\\dist", "C:\\target"));
    EXPECT_TRUE(ResetCopyList());
    EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), grcOkay);
    EXPECT_FALSE(fs::exists(driveC() / "win32app" / "vrdpsmon.hlp") || fs::exists(driveC() / "target"));
    std::string log = finish();
    EXPECT_NE(log.find("no section [No Such Section]"), std::string::npos) << log;
    EXPECT_NE(log.find("copy: path too long for vrdpsmon.dll of [Monitor]"), std::string::npos) << log;
}

// Copies into C:\target that stop (or go through) on the way: the result,
// the module there afterwards, the boxes. The free space is checked before
// anything is copied; unattended, a file in use quits; a retry copies.
TEST_F(KitFiles, CopiesStopOrGoThrough) {
    const struct {
        std::vector<const char*> sections;
        std::function<void(KitFiles&)> prepare;
        int grc;
        const char* module;  // C:\target\vrdpsmon.dll afterwards
        const char* boxes;   // the box lines of the log
    } rows[] = {
        {{"Monitor", "Help"}, [](KitFiles& t) { t.m->drives['C'].free = 8; }, grcUserQuit, "<none>",
         "box Disk Full: There is not enough space on drive C:"},
        {{"Monitor"}, [](KitFiles& t) { t.inUse("C:\\target\\vrdpsmon.dll", winsim::InUse::Loaded); }, grcUserQuit, "old",
         "box File In Use: The file C:\\target\\vrdpsmon.dll is in use"},
        {{"Missing", "Monitor"}, nullptr, grcNotOkay, "<none>",
         "box Copy Error: Cannot copy C:\\dist\\nothere.dll to C:\\target\\nothere.dll (error 2)"},
        {{"Monitor"},
         [](KitFiles& t) {
             t.inUse("C:\\target\\vrdpsmon.dll", winsim::InUse::Open);
             winsim::setMessageBoxHandler([](const char*, const char*, UINT) {  // retry after the file is freed
                 winsim::machine().files->meta["C:\\target\\vrdpsmon.dll"].inUse = winsim::InUse::None;
                 return IDRETRY;
             });
             KitRouteMessageBoxes(TRUE);
         },
         grcOkay, "0123456789", "routed File In Use"},
        {{"Monitor"}, nullptr, grcOkay, "0123456789", ""},
        // A file of one byte needs space (checked before the copy finds it missing); one replacing a larger file none.
        {{"Missing"}, [](KitFiles& t) { t.m->drives['C'].free = 0; }, grcUserQuit, "<none>",
         "box Disk Full: There is not enough space on drive C:"},
        {{"Monitor"},
         [](KitFiles& t) {
             writeText(driveC() / "target" / "vrdpsmon.dll", "older module");
             t.m->drives['C'].free = 0;
         },
         grcOkay, "0123456789", ""},
        {{"Monitor"}, [](KitFiles&) { writeText(driveC() / "target", "a file where the folder would go"); }, grcNotOkay,
         "<none>", "box Copy Error: Cannot create the directory C:\\target (error "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.boxes);
        SetUp();
        if (row.prepare) row.prepare(*this);
        ASSERT_TRUE(FOpenInf("C:\\dist\\setup.inf", 1, 0));
        for (const char* s : row.sections) ASSERT_TRUE(FAddSectionFilesToCopyList(s, "C:\\dist", "C:\\target"));
        EXPECT_EQ(GrcCopyFilesInCopyList(HinstFrame()), row.grc);
        winsim::setMessageBoxHandler(nullptr);
        fs::path module = driveC() / "target" / "vrdpsmon.dll";
        EXPECT_EQ(fs::exists(module) ? readText(module) : "<none>", row.module);
        std::istringstream log(finish());
        std::string boxes;
        for (std::string l; std::getline(log, l);)
            if (l.starts_with("box ")) boxes += boxes.empty() ? l : "\n" + l;
        for (const auto& b : m->ui->boxes) boxes += (boxes.empty() ? "routed " : "\nrouted ") + b.caption;
        EXPECT_TRUE(boxes.starts_with(row.boxes) && boxes.find('\n') == std::string::npos) << boxes;
        TearDown();  // each row, before SetUp forgets its handles: none left open
    }
}

// Each call's result in turn (1 success, 0 failure; YnrcRemoveFile's own codes).
TEST_F(KitFiles, CreateDirAndRemoveFile) {
    writeText(driveC() / "a" / "f.txt", "x");
    inUse("C:\\a\\busy.dll", winsim::InUse::Open);
    std::string r;
    // A path from the root of the current drive is not a share.
    // Trailing separators go before the length is checked.
    // A path too long is refused whole: no folder above it is made.
    std::string trailing = "C:\\a\\t" + std::string(MAX_PATH, '\\'), deep = "C:\\deep";
    while (deep.size() < MAX_PATH) deep += "\\d";
    for (const char* dir : {"C:\\a\\b\\c\\", "C:\\a\\b", "Q:\\x", "", "C:\\a\\f.txt\\sub", "\\m\\n", (const char*)nullptr,
                            trailing.c_str(), "C:\\s/t", deep.c_str()})
        r += FCreateDir(dir, 0) ? '1' : '0';
    r += std::string(" ") + (FDirExists("c:\\A\\b\\") ? '1' : '0') + (FDirExists(trailing.c_str()) ? '1' : '0') +
         (fs::is_directory(driveC() / "a" / "b" / "c") ? '1' : '0') + (fs::is_directory(driveC() / "m" / "n") ? '1' : '0') +
         (fs::exists(driveC() / "deep") ? '1' : '0') + " ";
    // Removing a file that is gone is fine; one in use stays, which is not a failure of the removal.
    for (const char* f : {"C:\\a\\f.txt", "C:\\a\\f.txt", "C:\\a\\busy.dll", "Q:\\nowhere.txt"})
        r += std::to_string(YnrcRemoveFile(f, 0)) + ",";
    EXPECT_EQ(r, "1100010110 11110 1,1,2,0,");  // ynrcYes 1, ynrcNo 2, ynrcErr 0
    // A share is not made: the network refuses the folder under it.
    EXPECT_TRUE(!FCreateDir("\\\\srv\\share\\d", 0) && GetLastError() == ERROR_BAD_NETPATH);
    EXPECT_FALSE(fs::exists(driveC() / "a" / "f.txt"));
    EXPECT_TRUE(fs::exists(driveC() / "a" / "busy.dll"));
}

TEST_F(KitFiles, IniLinesAddedToSectionsAndFileCreated) {
    fs::create_directories(driveC() / "WINDOWS");
    const char* ini = "C:\\WINDOWS\\wininit.ini";
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "rename", "NUL", "C:\\win32app\\a.dll", 1));
    EXPECT_EQ(readText(driveC() / "WINDOWS" / "wininit.ini"), "[rename]\r\nNUL=C:\\win32app\\a.dll\r\n");
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "Rename", "NUL", "C:\\win32app\\b.dll", 1));
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "rename", "NUL", "C:\\win32app\\a.dll", 1));  // not doubled
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "other", "k", "v", 1));
    ASSERT_TRUE(FCreateSysIniKeyValue(ini, "rename", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll", "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new", 1));
    EXPECT_EQ(readText(driveC() / "WINDOWS" / "wininit.ini"),
              "[rename]\r\nNUL=C:\\win32app\\a.dll\r\nNUL=C:\\win32app\\b.dll\r\n"
              "C:\\WINDOWS\\SYSTEM\\vrdpsmw4.dll=C:\\WINDOWS\\SYSTEM\\vrdpsmw4.new\r\n\r\n[other]\r\nk=v\r\n");
    // Lines of an existing file are kept as they are.
    writeText(driveC() / "WINDOWS" / "system.ini", "; keep\n [boot] \nshell=progman.exe\n\n[386Enh]\nx=1\n");  // blanks around
    ASSERT_TRUE(FCreateSysIniKeyValue("C:\\WINDOWS\\system.ini", "boot", "drivers", "mmsystem.dll", 1));
    EXPECT_EQ(readText(driveC() / "WINDOWS" / "system.ini"),
              "; keep\r\n [boot] \r\nshell=progman.exe\r\ndrivers=mmsystem.dll\r\n\r\n[386Enh]\r\nx=1\r\n");
    // A section with no lines yet gets its first one under its header.
    writeText(driveC() / "empty.ini", "[empty]\n\n[x]\ny=1\n");
    ASSERT_TRUE(FCreateSysIniKeyValue("C:\\empty.ini", "empty", "k", "v", 1));
    EXPECT_EQ(readText(driveC() / "empty.ini"), "[empty]\r\nk=v\r\n\r\n[x]\r\ny=1\r\n");
    // Any line starting with '[' ends a section; its header is not one of its lines, even one that reads as key=value.
    writeText(driveC() / "odd.ini", "[a]\n[[b]\nx=y\n[s=x]\n");
    ASSERT_TRUE(FCreateSysIniKeyValue("C:\\odd.ini", "a", "x", "y", 1));
    ASSERT_TRUE(FCreateSysIniKeyValue("C:\\odd.ini", "s=x", "[s", "x]", 1));
    EXPECT_EQ(readText(driveC() / "odd.ini"), "[a]\r\nx=y\r\n[[b]\r\nx=y\r\n[s=x]\r\n[s=x]\r\n");
    writeText(driveC() / "ro.ini", "");  // read, but not to be written
    SetFileAttributesA("C:\\ro.ini", FILE_ATTRIBUTE_READONLY);
    for (auto [file, section, key, value] : {std::tuple{"C:\\NODIR\\x.ini", "s", "k", "v"}, {"C:\\ro.ini", "s", "k", "v"}, {nullptr, "s", "k", "v"}, {ini, "s", "k=x", "v"},
                                             {ini, "s", "k", "two\nlines"}, {ini, "", "k", "v"}, {ini, "s", "", "v"},
                                             {ini, "s\nx", "k", "v"}})
        EXPECT_FALSE(FCreateSysIniKeyValue(file, section, key, value, 1)) << file << " [" << section << "] " << key;
}

TEST_F(KitFiles, DetectFilesDirsAndPathSyntax) {
    // A directory is not a file; a file in use cannot be opened for writing (mode 3); mode 4 opens it for no access.
    writeText(driveC() / "x" / "f.txt", "x");
    auto found = [] {
        std::string r;
        for (auto [path, mode] : {std::pair{"C:\\x\\f.txt", 0}, {"C:\\x\\f.txt", 3}, {"C:\\x\\f.txt", 1}, {"C:\\x", 0},
                                  {"C:\\x\\g.txt", 0}, {"C:\\x\\f.txt", 4}})
            r += FDoesFileExist(path, mode) ? '1' : '0';
        for (const char* dir : {"C:\\x", "C:\\", "C:\\x\\f.txt", "", (const char*)nullptr, "\\"}) r += FDirExists(dir) ? '1' : '0';
        return r;
    };
    EXPECT_EQ(found(), "111001" "110001");
    EXPECT_FALSE(FDoesFileExist(nullptr, 0));
    m->files->meta["C:\\x\\f.txt"].inUse = winsim::InUse::Open;
    EXPECT_EQ(found(), "101001" "110001");
    // Held open by another program that shares nothing: it cannot be read either.
    m->files->meta["C:\\x\\f.txt"].inUse = winsim::InUse::None;
    HANDLE held = CreateFileA("C:\\x\\f.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found(), "100001" "110001");
    CloseHandle(held);

    for (const char* ok : {"C:\\win32app\\vrdpsmon", "c:\\", "C:", "\\\\server\\share\\dir", "D:\\I386", "C:\\x/y"})
        EXPECT_TRUE(FValidDir(ok)) << ok;
    for (const char* bad : {"", "win32app", "\\ab\\c", "C:\\a<b", "C:\\a\\\\b", "1:\\x", "[:\\x", "C:\\a:b", "C:x", "C:\\a?", "C:\\a\"b"})
        EXPECT_FALSE(FValidDir(bad)) << bad;
    const char text[] = "\\\\ab";  // a path is judged by itself, whatever comes before it in memory
    EXPECT_TRUE(FValidPath("relative\\file.txt") && FValidPath(text + 1));
    EXPECT_FALSE(FValidPath("C:\\x|y") || FValidPath("|x") || FValidPath(std::string(300, 'a').c_str()) || FValidPath("1:\\x"));
}

TEST_F(KitFiles, DetectDrivesAndFreeSpace) {
    m->drives['C'].free = 3000000000ull;  // beyond 31 bits
    winsim::Drive e = m->drives['C'];
    e.letter = 'E';
    e.host = driveC().parent_path() / "e";
    e.free = 1u << 20;
    fs::create_directories(e.host);
    m->drives['E'] = e;
    // Drives of other types answer but are no local hard drives.
    for (auto [letter, type] : {std::pair{'D', "cdrom"}, {'F', "remote"}, {'G', "ramdisk"}, {'A', "removable"}}) {
        winsim::Drive o = e;
        o.letter = letter;
        o.type = type;
        m->drives[letter] = o;
    }
    for (int n : {3, 5}) EXPECT_TRUE(FIsValidDrive(n)) << n;
    for (int n : {8, 0, 27, -20, 35}) EXPECT_FALSE(FIsValidDrive(n)) << n;
    // Signed 32 bits; drive 0 is no drive, even asked for right after a good one.
    EXPECT_EQ((std::vector<LONG>{LcbFreeDrive(3), LcbFreeDrive(5), LcbFreeDrive(0), LcbFreeDrive(8)}),
              (std::vector<LONG>{0x7fffffff, 1 << 20, 0, 0}));
    ASSERT_TRUE(FGetLocalHardDrivesList("Disk Drives"));
    char buf[40];
    CbGetSymbolValue("Disk Drives", buf, sizeof buf);
    EXPECT_STREQ(buf, "{\"C:\",\"E:\"}");
}

using KitProgman = kittest::Kit;

// An item's name may carry its icon after a comma; empty names are refused
// before any conversation, and every conversation is closed again.
TEST_F(KitProgman, GroupShownAndItemsAdded) {
    m->dde->progmanRunning = true;
    const char* g = "Varden Network Printing";
    ASSERT_TRUE(FCreateProgManGroupEx(g, 1, 1));
    ASSERT_TRUE(FShowProgManGroupEx(g, 1, "1", 1));
    ASSERT_TRUE(FCreateProgManItemEx(g, 1, "Read Me,write.exe", "write.exe C:\\vrd\\readme.wri", 1024));
    ASSERT_TRUE(FCreateProgManItemEx(g, 1, "Wizard,", "C:\\vrd\\wizard.exe", 1024));  // a comma and no icon
    EXPECT_STREQ(m->dde->executes.back().c_str(),
                 "[CreateGroup(\"Varden Network Printing\")][AddItem(C:\\vrd\\wizard.exe,Wizard)]");
    EXPECT_EQ(m->dde->executes.back().back(), '\0');  // sent with its closing NUL
    EXPECT_FALSE(FCreateProgManGroupEx("", 1, 1) || FShowProgManGroupEx(g, 1, "", 1) ||
                 FShowProgManGroupEx("", 1, "1", 1) || FCreateProgManItemEx(g, 1, "", "x.exe", 1024) ||
                 FCreateProgManItemEx(nullptr, 1, "a", "x.exe", 1024));
    std::string groups;
    for (const auto& group : m->dde->groups) {
        groups += group.name + " show " + std::to_string(group.showCommand) + "\n";
        for (const auto& i : group.items) groups += i.name + "|" + i.command + "|" + i.iconPath + "\n";
    }
    EXPECT_EQ(groups, "Varden Network Printing show 1\nRead Me|write.exe C:\\vrd\\readme.wri|write.exe\n"
                      "Wizard|C:\\vrd\\wizard.exe|\n");
    EXPECT_TRUE(m->dde->conversations.empty());
    // A command Program Manager refuses, and calls without it, fail; the log names the error of each.
    start("");
    EXPECT_FALSE(FShowProgManGroupEx("Missing", 1, "1", 1));
    m->dde->progmanRunning = false;
    EXPECT_FALSE(FCreateProgManGroupEx("G", 1, 1) || FShowProgManGroupEx("G", 1, "", 1));
    std::string log = finish();
    EXPECT_NE(log.find("progman [ShowGroup(Missing,1)]: refused (DDE error 16393)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("progman [CreateGroup(G)]: refused (DDE error 16394)"), std::string::npos) << log;
}

}  // namespace
