// Conformance tests of the file functions over a simulated machine.
#include "winsim/core/machine.h"
#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"
#include "sim.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using sim::slurp;

class Files : public sim::MachineTest {
protected:
    std::vector<std::string> hostNames(const fs::path& dir) {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void markInUse(const char* path, winsim::InUse use) { m().files->meta[path].inUse = use; }
    // Reads a whole file through the API.
    std::string readAll(const char* path) {
        HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
        std::string out;
        char buf[64];
        DWORD n = 0;
        while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
        CloseHandle(h);
        return out;
    }
    BOOL writeNew(const char* path, const std::string& text) {
        HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return FALSE;
        DWORD n = 0;
        BOOL ok = WriteFile(h, text.data(), (DWORD)text.size(), &n, nullptr);
        CloseHandle(h);
        return ok;
    }
};

class Files95 : public Files {
protected:
    void SetUp() override { make(winsim::Platform::Win95); }
};

// --- path resolution -------------------------------------------------------

TEST_F(Files, NamesAreCaseInsensitiveAndSlashesAccepted) {
    hostFile("Dir/File.txt", "x");
    for (const char* p : {"C:\\Dir\\File.txt", "c:\\DIR\\file.TXT", "C:/dir/FILE.txt", "C:\\dir\\.\\file.txt",
                          "C:\\dir\\sub\\..\\file.txt", "C:\\dir\\file.txt.", "\\dir\\file.txt"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetFileAttributesA(p), (DWORD)FILE_ATTRIBUTE_ARCHIVE) << p;
    }
    // "sub" does not exist: ".." is resolved textually, as Windows does.
    m().currentDir = "C:\\Dir";
    EXPECT_EQ(GetFileAttributesA("file.txt"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("C:file.txt"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("..\\DIR\\FILE.TXT"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(Files, NewNamesAreCreatedAsWrittenInsideExistingCase) {
    fs::create_directories(c / "Dir");
    ASSERT_TRUE(writeNew("C:\\DIR\\NewName.Txt", "abc"));
    EXPECT_EQ(hostNames(c / "Dir"), std::vector<std::string>{"NewName.Txt"});
    ASSERT_TRUE(writeNew("c:\\dir\\newname.txt", "de"));  // the existing entry, not a second file
    EXPECT_EQ(hostNames(c / "Dir"), std::vector<std::string>{"NewName.Txt"});
    EXPECT_EQ(slurp(c / "Dir" / "NewName.Txt"), "de");
}

TEST_F(Files, DotDotNeverLeavesTheDrive) {
    fs::create_directories(c);
    std::ofstream(root / "outside.txt") << "secret";
    hostFile("outside.txt", "inside");
    EXPECT_EQ(readAll("C:\\..\\..\\outside.txt"), "inside");
    EXPECT_EQ(readAll("..\\..\\..\\outside.txt"), "inside");
    ASSERT_TRUE(DeleteFileA("C:\\..\\outside.txt"));
    EXPECT_TRUE(fs::exists(root / "outside.txt"));
    EXPECT_LASTERROR(GetFileAttributesA("C:\\..\\outside.txt"), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, SymbolicLinksAreNeverFollowed) {
    fs::create_directories(root / "secret");
    std::ofstream(root / "secret" / "key.txt") << "secret";
    fs::create_directories(c);
    fs::create_directory_symlink(root / "secret", c / "link");
    fs::create_symlink(root / "secret" / "key.txt", c / "key.txt");

    EXPECT_LASTERROR(GetFileAttributesA("C:\\link\\key.txt"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND);
    EXPECT_LASTERROR(GetFileAttributesA("C:\\key.txt"), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND);
    EXPECT_LASTERROR(CreateFileA("C:\\key.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CopyFileA("C:\\key.txt", "C:\\copy.txt", FALSE));
    EXPECT_FALSE(DeleteFileA("C:\\key.txt"));
    EXPECT_EQ(slurp(root / "secret" / "key.txt"), "secret");
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\*.*", &fd);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);  // the links are the only entries and are invisible
}

TEST_F(Files, UnknownDriveLongPathAndBadNames) {
    EXPECT_LASTERROR(GetFileAttributesA("Q:\\x.txt"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND);
    std::string longPath = "C:\\" + std::string(MAX_PATH, 'a');
    EXPECT_LASTERROR(CreateFileA(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_LASTERROR(CreateFileA("C:\\a|b.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_INVALID_NAME);
    EXPECT_LASTERROR(GetFileAttributesA("C:\\missing\\x.txt"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND);
    EXPECT_LASTERROR(GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND);
}

// --- create, read, write -------------------------------------------------------

TEST_F(Files, CreateDispositionsAndLastErrors) {
    fs::create_directories(c);
    SetLastError(0xdeadbeef);
    HANDLE h = CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(h);
    EXPECT_LASTERROR(CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE,
                     ERROR_FILE_EXISTS);
    SetLastError(0xdeadbeef);
    h = CreateFileA("C:\\A.TXT", GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    CloseHandle(h);
    EXPECT_LASTERROR(CreateFileA("C:\\b.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    EXPECT_LASTERROR(CreateFileA("C:\\a.txt", GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    EXPECT_LASTERROR(CreateFileA("C:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE,
                     ERROR_ACCESS_DENIED);
}

TEST_F(Files, ReadWriteAndAccessRights) {
    ASSERT_TRUE(writeNew("C:\\f.bin", "hello world"));
    EXPECT_EQ(readAll("C:\\f.bin"), "hello world");
    HANDLE h = CreateFileA("C:\\f.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0xdeadbeef;
    EXPECT_FAILS(WriteFile(h, "x", 1, &n, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(n, 0u);
    char buf[8];
    std::memset(buf, 'G', sizeof buf);
    ASSERT_TRUE(ReadFile(h, buf, 5, &n, nullptr));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buf, 6), "helloG");  // nothing past what was read
    // A second open that would write conflicts with the read-only sharing.
    EXPECT_LASTERROR(CreateFileA("C:\\f.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
    EXPECT_FAILS(DeleteFileA("C:\\f.bin"), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FAILS(ReadFile(h, buf, 1, &n, nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(Files, WritingNeverChangesTheImageOriginal) {
    // The drive shares inodes with the image, as loadImage links them.
    fs::create_directories(c);
    std::ofstream(root / "original.txt") << "original";
    fs::create_hard_link(root / "original.txt", c / "linked.txt");
    HANDLE h = CreateFileA("C:\\linked.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n;
    ASSERT_TRUE(WriteFile(h, "CHANGED", 7, &n, nullptr));
    CloseHandle(h);
    EXPECT_EQ(slurp(c / "linked.txt"), "CHANGEDl");
    EXPECT_EQ(slurp(root / "original.txt"), "original");
    fs::create_hard_link(root / "original.txt", c / "linked2.txt");
    ASSERT_TRUE(writeNew("C:\\linked2.txt", "new"));
    EXPECT_EQ(slurp(root / "original.txt"), "original");
    EXPECT_EQ(fs::hard_link_count(root / "original.txt"), 1u);
}

// --- free space ------------------------------------------------------------------

TEST_F(Files, FreeSpaceShrinksOnWriteAndGrowsOnDelete) {
    m().drives['C'].free = 1000;
    ASSERT_TRUE(writeNew("C:\\a.txt", std::string(300, 'a')));
    EXPECT_EQ(m().drives['C'].free, 700u);
    ASSERT_TRUE(writeNew("C:\\a.txt", std::string(100, 'a')));  // truncated then rewritten
    EXPECT_EQ(m().drives['C'].free, 900u);
    ASSERT_TRUE(CopyFileA("C:\\a.txt", "C:\\b.txt", TRUE));
    EXPECT_EQ(m().drives['C'].free, 800u);
    ASSERT_TRUE(DeleteFileA("C:\\a.txt"));
    ASSERT_TRUE(DeleteFileA("C:\\b.txt"));
    EXPECT_EQ(m().drives['C'].free, 1000u);
}

TEST_F(Files, DiskFullLeavesNoPartialFile) {
    hostFile("big.bin", std::string(500, 'b'));
    m().drives['C'].free = 200;
    fs::create_directories(c / "dest");
    EXPECT_FAILS(CopyFileA("C:\\big.bin", "C:\\dest\\big.bin", FALSE), ERROR_DISK_FULL);
    EXPECT_TRUE(hostNames(c / "dest").empty());
    EXPECT_EQ(m().drives['C'].free, 200u);

    HANDLE h = CreateFileA("C:\\dest\\w.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string data(300, 'w');
    DWORD n = 0xdeadbeef;
    EXPECT_FAILS(WriteFile(h, data.data(), (DWORD)data.size(), &n, nullptr), ERROR_DISK_FULL);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(WriteFile(h, data.data(), 200, &n, nullptr));
    CloseHandle(h);
    EXPECT_EQ(fs::file_size(c / "dest" / "w.bin"), 200u);
    EXPECT_EQ(m().drives['C'].free, 0u);

    // Replacing an existing destination that does not fit keeps it intact.
    hostFile("dest/keep.bin", "keep");
    EXPECT_FAILS(CopyFileA("C:\\big.bin", "C:\\dest\\keep.bin", FALSE), ERROR_DISK_FULL);
    EXPECT_EQ(slurp(c / "dest" / "keep.bin"), "keep");
    EXPECT_EQ(hostNames(c / "dest"), (std::vector<std::string>{"keep.bin", "w.bin"}));
}

TEST_F(Files, DiskFreeSpaceInClusters) {
    fs::create_directories(c);
    m().drives['C'].total = 512ull << 20;
    m().drives['C'].free = 100000;
    DWORD spc = 0xdeadbeef, bps = 0xdeadbeef, fc = 0xdeadbeef, tc = 0xdeadbeef;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &spc, &bps, &fc, &tc));
    EXPECT_EQ(spc, 1u);
    EXPECT_EQ(bps, 512u);
    EXPECT_EQ(fc, 100000u / 512);
    EXPECT_EQ(tc, (512u << 20) / 512);
    EXPECT_FAILS(GetDiskFreeSpaceA("Q:\\", &spc, &bps, &fc, &tc), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, DriveTypesFollowTheImage) {
    for (auto [letter, type] : {std::pair{'A', "removable"}, {'D', "cdrom"}, {'F', "remote"}, {'G', "ramdisk"},
                                {'H', "tape"}}) {
        winsim::Drive d = m().drives['C'];
        d.letter = letter;
        d.type = type;
        m().drives[letter] = d;
    }
    const std::pair<const char*, UINT> cases[] = {
        {"C:\\", DRIVE_FIXED},   {"c:/", DRIVE_FIXED},          {"A:\\", DRIVE_REMOVABLE},  {"D:\\", DRIVE_CDROM},
        {"F:\\", DRIVE_REMOTE},  {"G:\\", DRIVE_RAMDISK},       {"H:\\", DRIVE_UNKNOWN},    {"Q:\\", DRIVE_NO_ROOT_DIR},
        {"C:", DRIVE_NO_ROOT_DIR}, {"C:\\dir", DRIVE_NO_ROOT_DIR}, {"", DRIVE_NO_ROOT_DIR}, {nullptr, DRIVE_FIXED}};
    for (auto [root, type] : cases) EXPECT_EQ(GetDriveTypeA(root), type) << (root ? root : "(null)");
}

TEST_F(Files95, DiskFreeSpaceCappedAtTwoGigabytes) {
    fs::create_directories(c);
    m().drives['C'].total = 8ull << 30;
    m().drives['C'].free = 6ull << 30;
    DWORD spc, bps, fc, tc;
    ASSERT_TRUE(GetDiskFreeSpaceA(nullptr, &spc, &bps, &fc, &tc));
    EXPECT_LE((std::uint64_t)spc * bps * fc, 0x7FFFFFFFull);
    EXPECT_LE((std::uint64_t)spc * bps * tc, 0x7FFFFFFFull);
    EXPECT_EQ(fc, tc);
}

// --- files in use, read-only files -------------------------------------------------

TEST_F(Files, DeleteRulesOnNT) {
    hostFile("sys/loaded.dll", "L");
    hostFile("sys/open.dll", "O");
    hostFile("sys/ro.txt", "R");
    markInUse("C:\\sys\\loaded.dll", winsim::InUse::Loaded);
    markInUse("C:\\sys\\open.dll", winsim::InUse::Open);
    m().files->meta["C:\\sys\\ro.txt"].attributes = FILE_ATTRIBUTE_READONLY;
    struct Case {
        const char* path;
        DWORD error;
    } cases[] = {
        {"C:\\SYS\\LOADED.DLL", ERROR_ACCESS_DENIED},
        {"C:\\sys\\open.dll", ERROR_SHARING_VIOLATION},
        {"C:\\sys\\ro.txt", ERROR_ACCESS_DENIED},
        {"C:\\sys", ERROR_ACCESS_DENIED},
        {"C:\\sys\\none.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\nodir\\none.txt", ERROR_PATH_NOT_FOUND},
    };
    for (auto& t : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeleteFileA(t.path)) << t.path;
        EXPECT_EQ(GetLastError(), t.error) << t.path;
    }
    EXPECT_EQ(hostNames(c / "sys"), (std::vector<std::string>{"loaded.dll", "open.dll", "ro.txt"}));
    EXPECT_EQ(GetFileAttributesA("C:\\sys\\ro.txt"), (DWORD)FILE_ATTRIBUTE_READONLY);
}

TEST_F(Files, LoadedModuleMovesOnNTAndItsMarkFollows) {
    hostFile("sys/mon.dll", "old");
    hostFile("sys/mon.new", "new");
    hostFile("sys/open.dll", "O");
    markInUse("C:\\sys\\mon.dll", winsim::InUse::Loaded);
    markInUse("C:\\sys\\open.dll", winsim::InUse::Open);
    EXPECT_FAILS(MoveFileA("C:\\sys\\mon.new", "C:\\sys\\mon.dll"), ERROR_ALREADY_EXISTS);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExA("C:\\sys\\mon.new", "C:\\sys\\mon.dll", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);  // a loaded module cannot be replaced
    ASSERT_TRUE(MoveFileA("C:\\sys\\mon.dll", "C:\\sys\\mon.old"));
    ASSERT_TRUE(MoveFileA("C:\\sys\\mon.new", "C:\\sys\\mon.dll"));
    EXPECT_EQ(readAll("C:\\sys\\mon.dll"), "new");
    EXPECT_FAILS(DeleteFileA("C:\\sys\\mon.old"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileA("C:\\sys\\mon.dll"));
    EXPECT_FAILS(MoveFileA("C:\\sys\\open.dll", "C:\\sys\\open.old"), ERROR_SHARING_VIOLATION);
}

TEST_F(Files, ReplaceExistingWithMoveFileEx) {
    hostFile("a.txt", "A");
    hostFile("b.txt", "B");
    m().drives['C'].free = 100;
    ASSERT_TRUE(MoveFileExA("C:\\a.txt", "C:\\B.TXT", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(readAll("C:\\b.txt"), "A");
    EXPECT_EQ(GetFileAttributesA("C:\\a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(m().drives['C'].free, 101u);  // the replaced file's byte came back
}

TEST_F(Files95, DeleteAndMoveRulesOn95) {
    hostFile("sys/loaded.dll", "L");
    hostFile("sys/open.dll", "O");
    markInUse("C:\\sys\\loaded.dll", winsim::InUse::Loaded);
    markInUse("C:\\sys\\open.dll", winsim::InUse::Open);
    for (const char* p : {"C:\\sys\\loaded.dll", "C:\\sys\\open.dll"}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeleteFileA(p));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << p;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(MoveFileA(p, "C:\\sys\\x.old"));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << p;
    }
    EXPECT_FAILS(MoveFileExA("C:\\sys\\open.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_CALL_NOT_IMPLEMENTED);
}

TEST_F(Files, InjectedFaultFailsTheCallAndChangesNothing) {
    hostFile("a.txt", "A");
    m().faults.push_back({"DeleteFileA", 1, 1, ERROR_WRITE_PROTECT, "C:\\a.txt"});
    EXPECT_FAILS(DeleteFileA("C:\\a.txt"), ERROR_WRITE_PROTECT);
    EXPECT_TRUE(fs::exists(c / "a.txt"));
    EXPECT_TRUE(DeleteFileA("C:\\a.txt"));
}

// --- directories ---------------------------------------------------------------------

TEST_F(Files, CreateAndRemoveDirectory) {
    fs::create_directories(c);
    ASSERT_TRUE(CreateDirectoryA("C:\\New", nullptr));
    EXPECT_FAILS(CreateDirectoryA("c:\\NEW", nullptr), ERROR_ALREADY_EXISTS);
    EXPECT_FAILS(CreateDirectoryA("C:\\x\\y", nullptr), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA("C:\\new"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(writeNew("C:\\new\\f.txt", "f"));
    EXPECT_FAILS(RemoveDirectoryA("C:\\new"), ERROR_DIR_NOT_EMPTY);
    EXPECT_FAILS(RemoveDirectoryA("C:\\new\\f.txt"), ERROR_DIRECTORY);
    EXPECT_FAILS(RemoveDirectoryA("C:\\gone"), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(DeleteFileA("C:\\new\\f.txt"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\new"));
    EXPECT_FAILS(RemoveDirectoryA("C:\\new"), ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\new"));
}

// --- search ------------------------------------------------------------------------------

std::vector<std::pair<std::string, DWORD>> findAll(const char* pattern, DWORD* error = nullptr) {
    std::vector<std::pair<std::string, DWORD>> out;
    WIN32_FIND_DATAA fd;
    std::memset(&fd, 0xCC, sizeof fd);
    SetLastError(0xdeadbeef);
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return out;
    }
    do out.emplace_back(fd.cFileName, fd.dwFileAttributes);
    while (FindNextFileA(h, &fd));
    if (error) *error = GetLastError();
    EXPECT_TRUE(FindClose(h));
    return out;
}

TEST_F(Files, FindOrderAndAttributes) {
    hostFile("dir/b.txt", "bb");
    hostFile("dir/A.txt", "a");
    hostFile("dir/_c.txt", "c");
    fs::create_directories(c / "dir" / "Sub");
    m().files->meta["C:\\dir\\b.txt"].attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    DWORD err = 0;
    auto all = findAll("C:\\DIR\\*.*", &err);
    EXPECT_EQ(err, (DWORD)ERROR_NO_MORE_FILES);
    std::vector<std::pair<std::string, DWORD>> expected = {
        {".", FILE_ATTRIBUTE_DIRECTORY},
        {"..", FILE_ATTRIBUTE_DIRECTORY},
        {"A.txt", FILE_ATTRIBUTE_ARCHIVE},
        {"b.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {"Sub", FILE_ATTRIBUTE_DIRECTORY},
        {"_c.txt", FILE_ATTRIBUTE_ARCHIVE},
    };
    EXPECT_EQ(all, expected);
    auto txt = findAll("c:/dir/?.TXT");
    EXPECT_EQ(txt, (std::vector<std::pair<std::string, DWORD>>{{"A.txt", FILE_ATTRIBUTE_ARCHIVE},
                                                                {"b.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}}));
    auto root = findAll("C:\\*");
    EXPECT_EQ(root, (std::vector<std::pair<std::string, DWORD>>{{"dir", FILE_ATTRIBUTE_DIRECTORY}}));
    err = 0;
    EXPECT_TRUE(findAll("C:\\dir\\*.doc", &err).empty());
    EXPECT_EQ(err, (DWORD)ERROR_FILE_NOT_FOUND);
    err = 0;
    EXPECT_TRUE(findAll("C:\\nodir\\*.*", &err).empty());
    EXPECT_EQ(err, (DWORD)ERROR_PATH_NOT_FOUND);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\dir\\b.txt", &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fd.nFileSizeLow, 2u);
    EXPECT_STREQ(fd.cFileName, "b.txt");
    EXPECT_TRUE(FindClose(h));
    EXPECT_FAILS(FindClose(h), ERROR_INVALID_HANDLE);
}

TEST_F(Files, FatDriveListsInTheOrderWritten) {
    m().drives['C'].fat = true;
    fs::create_directories(c);
    ASSERT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    for (const char* p : {"C:\\d\\zeta.txt", "C:\\d\\alpha.txt", "C:\\d\\mid.txt"}) ASSERT_TRUE(writeNew(p, "x"));
    auto all = findAll("C:\\d\\*.txt");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].first, "zeta.txt");
    EXPECT_EQ(all[1].first, "alpha.txt");
    EXPECT_EQ(all[2].first, "mid.txt");
}

// --- scheduled operations and restart ---------------------------------------------------

TEST_F(Files, PendingRenamesRecordedAsNTRecordsThem) {
    hostFile("sys/mon.dll", "old");
    hostFile("sys/mon.new", "new");
    hostFile("inst/gone.txt", "g");
    markInUse("C:\\sys\\mon.dll", winsim::InUse::Loaded);
    ASSERT_TRUE(MoveFileExA("C:\\inst\\gone.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\sys\\mon.new", "C:\\sys\\mon.dll",
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExA("C:\\inst", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    BYTE data[512];
    DWORD type = 0, size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, data, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    const char expected[] =
        "\\??\\C:\\inst\\gone.txt\0\0"
        "\\??\\C:\\sys\\mon.new\0!\\??\\C:\\sys\\mon.dll\0"
        "\\??\\C:\\inst\0\0";  // the literal's own NUL ends the list
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
    EXPECT_EQ(std::string((char*)data, size), std::string(expected, sizeof expected));

    auto done = winsim::rebootMachine(m());
    EXPECT_EQ(done.size(), 3u);
    EXPECT_FALSE(fs::exists(c / "inst"));
    EXPECT_EQ(slurp(c / "sys" / "mon.dll"), "new");
    EXPECT_FALSE(fs::exists(c / "sys" / "mon.new"));
    EXPECT_EQ(m().files->meta.count("C:\\sys\\mon.dll"), 0u);  // no longer in use
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                            &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Files95, RebootCarriesOutWininit) {
    hostFile("WINDOWS/SYSTEM/mon.dll", "old");
    hostFile("WINDOWS/SYSTEM/mon.new", "new");
    hostFile("inst/a.txt", "a");
    hostFile("inst/b.txt", "b");
    hostFile("WINDOWS/WININIT.BAK", "older");
    markInUse("C:\\WINDOWS\\SYSTEM\\mon.dll", winsim::InUse::Loaded);
    hostFile("WINDOWS/wininit.ini",
             "[other]\r\nx=y\r\n[Rename]\r\nNUL=C:\\inst\\a.txt\r\nnul=C:\\inst\\b.txt\r\n"
             "C:\\WINDOWS\\SYSTEM\\mon.dll=C:\\WINDOWS\\SYSTEM\\mon.new\r\nNUL=C:\\inst\r\n");
    auto done = winsim::rebootMachine(m());
    EXPECT_EQ(done.size(), 5u);
    EXPECT_FALSE(fs::exists(c / "inst"));
    EXPECT_EQ(slurp(c / "WINDOWS" / "SYSTEM" / "mon.dll"), "new");
    EXPECT_FALSE(fs::exists(c / "WINDOWS" / "SYSTEM" / "mon.new"));
    EXPECT_FALSE(fs::exists(c / "WINDOWS" / "wininit.ini"));
    EXPECT_NE(slurp(c / "WINDOWS" / "WININIT.BAK").find("[Rename]"), std::string::npos);
    EXPECT_TRUE(m().files->meta.empty());
}

// --- image section ------------------------------------------------------------------------

TEST_F(Files, ImageSectionRoundTripsAndRefusesBadValues) {
    nlohmann::json in = nlohmann::json::parse(R"({
        "C:\\WINNT35\\system32\\vrdpsmon.dll": {"in_use": "loaded", "version": "1.2.0.0", "attributes": ["readonly"]},
        "C:\\x.txt": {"in_use": "open"}})");
    winsim::loadFile(in, m());
    const auto& f = m().files->meta.at("c:\\winnt35\\SYSTEM32\\VRDPSMON.DLL");
    EXPECT_EQ(f.inUse, winsim::InUse::Loaded);
    EXPECT_EQ(f.version, "1.2.0.0");
    EXPECT_EQ(*f.attributes, (DWORD)FILE_ATTRIBUTE_READONLY);
    nlohmann::json out;
    winsim::saveFile(out, m());
    EXPECT_EQ(out, in);
    for (const char* bad : {R"({"C:\\x": {"in_use": "busy"}})", R"({"C:\\x": {"attributes": ["shiny"]}})",
                            R"({"x.txt": {}})", R"([1])"}) {
        EXPECT_THROW(winsim::loadFile(nlohmann::json::parse(bad), m()), winsim::ImageError) << bad;
    }
}

}  // namespace

namespace {

// Through a real image: the working copy shares inodes with the image, and
// nothing written through the API reaches the image until it is saved.
TEST(FilesImage, WritesStayInTheWorkingCopyUntilSaved) {
    fs::path root = fs::temp_directory_path() / "winsim-files-image";
    fs::remove_all(root);
    {
        winsim::OsInfo os;
        auto m = winsim::makeBareMachine(os, root / "hostc");
        std::ofstream(root / "hostc" / "keep.txt") << "image text";
        m->files->meta["C:\\keep.txt"].version = "1.0.0.0";
        m->drives['C'].fat = true;
        winsim::saveImage(*m, root / "img");
    }
    winsim::install(winsim::loadImage(root / "img"));
    EXPECT_EQ(winsim::machine().files->meta.at("C:\\KEEP.TXT").version, "1.0.0.0");
    HANDLE h = CreateFileA("C:\\keep.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n;
    ASSERT_TRUE(WriteFile(h, "CHANGED", 7, &n, nullptr));
    CloseHandle(h);
    HANDLE w = CreateFileA("C:\\b.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    CloseHandle(w);
    ASSERT_TRUE(CreateDirectoryA("C:\\a", nullptr));
    std::ifstream in(root / "img" / "drives" / "C" / "keep.txt");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "image text");
    EXPECT_FALSE(fs::exists(root / "img" / "drives" / "C" / "b.txt"));

    winsim::saveImage(winsim::machine(), root / "img");
    winsim::install(winsim::loadImage(root / "img"));
    std::ifstream in2(root / "img" / "drives" / "C" / "keep.txt");
    std::getline(in2, text);
    EXPECT_EQ(text, "CHANGEDext");
    // The FAT order written survives the image: b.txt before a.
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA("C:\\*", &fd);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    std::vector<std::string> names{fd.cFileName};
    while (FindNextFileA(f, &fd)) names.push_back(fd.cFileName);
    FindClose(f);
    EXPECT_EQ(names, (std::vector<std::string>{"keep.txt", "b.txt", "a"}));
    winsim::discardWorkingCopy(winsim::machine());
    winsim::install(std::make_unique<winsim::Machine>());
    fs::remove_all(root);
}

}  // namespace

namespace {

TEST_F(Files, FilesInUseCanBeReadButNotWritten) {
    hostFile("sys/loaded.dll", "L");
    hostFile("sys/open.dat", "O");
    hostFile("new.dll", "N");
    markInUse("C:\\sys\\loaded.dll", winsim::InUse::Loaded);
    markInUse("C:\\sys\\open.dat", winsim::InUse::Open);
    EXPECT_EQ(readAll("C:\\sys\\loaded.dll"), "L");
    EXPECT_EQ(readAll("C:\\sys\\open.dat"), "O");
    for (const char* p : {"C:\\sys\\loaded.dll", "C:\\sys\\open.dat"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(CreateFileA(p, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << p;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CopyFileA("C:\\new.dll", p, FALSE));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << p;
    }
    EXPECT_LASTERROR(CreateFileA("C:\\sys\\open.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                     INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(slurp(c / "sys" / "loaded.dll"), "L");
    // A copy carries the version record but not the in-use mark.
    m().files->meta["C:\\sys\\loaded.dll"].version = "2.0.0.1";
    ASSERT_TRUE(CopyFileA("C:\\sys\\loaded.dll", "C:\\copy.dll", TRUE));
    ASSERT_EQ(m().files->meta.count("C:\\copy.dll"), 1u);
    EXPECT_EQ(m().files->meta["C:\\copy.dll"].version, "2.0.0.1");
    EXPECT_EQ(m().files->meta["C:\\copy.dll"].inUse, winsim::InUse::None);
    EXPECT_TRUE(DeleteFileA("C:\\copy.dll"));
}

}  // namespace
