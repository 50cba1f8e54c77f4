// The file functions over a simulated machine: what the conformance cases do
// not reach (sharing, free space, files in use, the working copy, short
// names, large directories, VerInstallFile).
#include "winsim/files/dircache.h"
#include "winsim/files/paths.h"
#include "winsim/files/reboot.h"
#include "winsim/files/shortnames.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"
#include "image_fixture.h"
#include "sim.h"

#include <winver.h>

#include <cstring>

namespace fs = std::filesystem;

namespace {

using imagetest::snapshot;
using sim::readText;
using Tree = std::map<std::string, std::string>;

HANDLE open(const char* path, DWORD access, DWORD disposition, DWORD share = 0) {
    return CreateFileA(path, access, share, nullptr, disposition, 0, nullptr);
}

// Reads a whole file through the API.
std::string apiRead(const char* path) {
    HANDLE h = open(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
    std::string out;
    char buf[64];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
    CloseHandle(h);
    return out;
}

BOOL writeNew(const char* path, const std::string& text) {
    HANDLE h = open(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    DWORD n = 0;
    BOOL ok = WriteFile(h, text.data(), (DWORD)text.size(), &n, nullptr);
    CloseHandle(h);
    return ok;
}

// What FindFirstFileA/FindNextFileA list, "name:attributes" with d, r, h, a
// for directory, read-only, hidden and archive, separated by spaces; then
// the last error at the end, or at the failing first call.
std::string findAll(const char* pattern) {
    WIN32_FIND_DATAA fd;
    std::memset(&fd, 0xCC, sizeof fd);
    SetLastError(sim::kSentinel);
    HANDLE h = FindFirstFileA(pattern, &fd);
    std::string out;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            out += std::string(fd.cFileName) + ":";
            for (auto [bit, letter] : {std::pair{FILE_ATTRIBUTE_DIRECTORY, 'd'}, {FILE_ATTRIBUTE_READONLY, 'r'},
                                       {FILE_ATTRIBUTE_HIDDEN, 'h'}, {FILE_ATTRIBUTE_ARCHIVE, 'a'}})
                if (fd.dwFileAttributes & bit) out += letter;
            out += " ";
        } while (FindNextFileA(h, &fd));
    }
    out += "error " + std::to_string(GetLastError());
    if (h != INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(FindClose(h));
    }
    return out;
}

class Files : public sim::MachineTest {
protected:
    void markInUse(const char* path, winsim::InUse use) { m().files->meta[path].inUse = use; }
    // C:\sys\loaded.dll ("L"), loaded as a module, and C:\sys\open.dll ("O"), open.
    void filesInUse() {
        hostFile("sys/loaded.dll", "L");
        hostFile("sys/open.dll", "O");
        markInUse("C:\\sys\\loaded.dll", winsim::InUse::Loaded);
        markInUse("C:\\sys\\open.dll", winsim::InUse::Open);
    }
    std::uint64_t& freeSpace() { return m().drives['C'].free; }
};

TEST_F(Files, CreateDispositionsReadWriteAndSharing) {
    fs::create_directories(c);
    // In turn: whether each open succeeded (its handle then closed) and the last error it left.
    const struct {
        const char* path;
        DWORD access, disposition;
    } opens[] = {{"C:\\a.txt", GENERIC_WRITE, CREATE_NEW}, {"C:\\a.txt", GENERIC_WRITE, CREATE_NEW},
                 {"C:\\A.TXT", GENERIC_READ, OPEN_ALWAYS}, {"C:\\a.txt", GENERIC_WRITE, CREATE_ALWAYS},
                 {"C:\\a.txt", GENERIC_READ, OPEN_EXISTING}, {"C:\\a.txt", GENERIC_READ, TRUNCATE_EXISTING},
                 {"C:\\", GENERIC_READ, OPEN_EXISTING}, {"\\\\SERVER\\share\\a.txt", GENERIC_READ, OPEN_EXISTING}};
    std::string seen;
    for (const auto& o : opens) {
        SetLastError(sim::kSentinel);
        HANDLE h = open(o.path, o.access, o.disposition);
        seen += (h == INVALID_HANDLE_VALUE ? "failed " : "opened ") + std::to_string(GetLastError()) + "; ";
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_EQ(seen, "opened 0; failed " + std::to_string(ERROR_FILE_EXISTS) + "; opened " +
                        std::to_string(ERROR_ALREADY_EXISTS) + "; opened " + std::to_string(ERROR_ALREADY_EXISTS) +
                        "; opened 0; failed " + std::to_string(ERROR_INVALID_PARAMETER) +
                        "; failed " + std::to_string(ERROR_ACCESS_DENIED) + "; failed " + std::to_string(ERROR_BAD_NETPATH) + "; ");
    // A new file starts without what was recorded for one removed on the host.
    m().files->meta["C:\\stale.txt"].attributes = FILE_ATTRIBUTE_READONLY;
    ASSERT_TRUE(writeNew("C:\\stale.txt", "s"));
    EXPECT_EQ(GetFileAttributesA("C:\\stale.txt"), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    ASSERT_TRUE(writeNew("C:\\f.bin", "hello world"));
    HANDLE h = open("C:\\f.bin", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = sim::kSentinel;
    EXPECT_FAILS(WriteFile(h, "x", 1, &n, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_EQ(n, 0u);
    char buf[8];
    std::memset(buf, 'G', sizeof buf);
    ASSERT_TRUE(ReadFile(h, buf, 5, &n, nullptr));
    EXPECT_EQ(std::to_string(n) + std::string(buf, 6), "5helloG");  // nothing past what was read
    // A second open that would write conflicts with the read-only sharing.
    EXPECT_LASTERROR(open("C:\\f.bin", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ), INVALID_HANDLE_VALUE,
                     ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FAILS(ReadFile(h, buf, 1, &n, nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(Files, DiskFreeSpaceAndDriveTypes) {
    fs::create_directories(c);
    m().drives['C'].total = 512ull << 20;
    freeSpace() = 100000;
    DWORD spc = sim::kSentinel, bps = sim::kSentinel, fc = sim::kSentinel, tc = sim::kSentinel;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &spc, &bps, &fc, &tc));
    EXPECT_EQ((std::vector<DWORD>{spc, bps, fc, tc}), (std::vector<DWORD>{1, 512, 100000 / 512, (512u << 20) / 512}));
    hostFile("f.txt");
    for (const char* bad : {"Q:\\", "C:\\f.txt"})
        EXPECT_FAILS(GetDiskFreeSpaceA(bad, &spc, &bps, &fc, &tc), ERROR_PATH_NOT_FOUND);
    for (auto [letter, type] : {std::pair{'A', "removable"}, {'D', "cdrom"}, {'F', "remote"}, {'G', "ramdisk"},
                                {'H', "tape"}}) {
        m().drives[letter] = m().drives['C'];
        m().drives[letter].letter = letter;
        m().drives[letter].type = type;
    }
    std::string types;
    for (const char* root : {"C:\\", "c:/", "A:\\", "D:\\", "F:\\", "G:\\", "H:\\", "Q:\\", "C:", "C:\\dir", "",
                             (const char*)nullptr})
        types += std::to_string(GetDriveTypeA(root)) + " ";
    EXPECT_EQ(types, "3 3 2 5 4 6 0 1 1 1 1 3 ");
    // Windows 95 never reports more than 2 GB.
    make(winsim::Platform::Win95);
    fs::create_directories(c);
    m().drives['C'].total = 8ull << 30;
    freeSpace() = 6ull << 30;
    ASSERT_TRUE(GetDiskFreeSpaceA(nullptr, &spc, &bps, &fc, &tc));
    EXPECT_LE((std::uint64_t)spc * bps * fc, 0x7FFFFFFFull);
    EXPECT_EQ(fc, tc);
}

TEST_F(Files, FilesInUseAndReadOnlyFiles) {
    filesInUse();
    hostFile("sys/ro.txt", "R");
    hostFile("new.dll", "N");
    m().files->meta["C:\\sys\\ro.txt"].attributes = FILE_ATTRIBUTE_READONLY;
    EXPECT_FAILS(DeleteFileA("C:\\SYS\\LOADED.DLL"), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(DeleteFileA("C:\\sys\\open.dll"), ERROR_SHARING_VIOLATION);
    EXPECT_FAILS(DeleteFileA("C:\\sys\\ro.txt"), ERROR_ACCESS_DENIED);
    std::ostringstream shown;
    winsim::showFile(shown, m());
    const std::size_t at = shown.str().find("Files in use:\n  C:\\sys\\loaded.dll (loaded)\n  C:\\sys\\open.dll (open)\n");
    EXPECT_TRUE(at != std::string::npos && at == shown.str().rfind("Files in use:")) << shown.str();
    EXPECT_EQ(GetFileAttributesA("C:\\sys\\ro.txt"), (DWORD)FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(SetFileAttributesA("C:\\sys", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(m().files->meta.count("C:\\sys"), 0u) << "a plain folder keeps no record";
    // Files in use can be read but not written; an open one not even opened without sharing.
    EXPECT_EQ(apiRead("C:\\sys\\loaded.dll") + apiRead("C:\\sys\\open.dll"), "LO");
    for (const char* p : {"C:\\sys\\loaded.dll", "C:\\sys\\open.dll"}) {
        EXPECT_LASTERROR(open(p, GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
        EXPECT_FAILS(CopyFileA("C:\\new.dll", p, FALSE), ERROR_SHARING_VIOLATION);
    }
    EXPECT_LASTERROR(open("C:\\sys\\open.dll", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                     ERROR_SHARING_VIOLATION);
    EXPECT_FAILS(MoveFileA("C:\\sys\\open.dll", "C:\\sys\\open.old"), ERROR_SHARING_VIOLATION);
    // A copy carries the version record but not the in-use mark.
    m().files->meta["C:\\sys\\loaded.dll"].version = "2.0.0.1";
    ASSERT_TRUE(CopyFileA("C:\\sys\\loaded.dll", "C:\\copy.dll", TRUE));
    ASSERT_EQ(m().files->meta.count("C:\\copy.dll"), 1u);
    EXPECT_EQ(m().files->meta["C:\\copy.dll"].version, "2.0.0.1");
    EXPECT_EQ(m().files->meta["C:\\copy.dll"].inUse, winsim::InUse::None);
    EXPECT_TRUE(DeleteFileA("C:\\copy.dll"));
    // A loaded module cannot be replaced, but moves, and its mark follows it.
    hostFile("sys/loaded.new", "new");
    EXPECT_FAILS(MoveFileA("C:\\sys\\loaded.new", "C:\\sys\\loaded.dll"), ERROR_ALREADY_EXISTS);
    EXPECT_FAILS(MoveFileExA("C:\\sys\\loaded.new", "C:\\sys\\loaded.dll", MOVEFILE_REPLACE_EXISTING),
                 ERROR_ACCESS_DENIED);
    ASSERT_TRUE(MoveFileA("C:\\sys\\loaded.dll", "C:\\sys\\loaded.old"));
    ASSERT_TRUE(MoveFileA("C:\\sys\\loaded.new", "C:\\sys\\loaded.dll"));
    EXPECT_FAILS(DeleteFileA("C:\\sys\\loaded.old"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileA("C:\\sys\\loaded.dll"));
    // A change of case only: the name as now written, without trailing dots and blanks.
    hostFile("sys/case.txt", "c");
    ASSERT_TRUE(MoveFileA("C:\\sys\\case.txt", "C:\\sys\\CASE.TXT. "));
    // An injected fault fails the call and changes nothing.
    m().faults.push_back({"DeleteFileA", m().callCounts["DeleteFileA"] + 1, 1, ERROR_WRITE_PROTECT, "C:\\new.dll"});
    EXPECT_FAILS(DeleteFileA("C:\\new.dll"), ERROR_WRITE_PROTECT);
    EXPECT_EQ(snapshot(c), (Tree{{"new.dll", "N"}, {"sys", "<dir>"}, {"sys/CASE.TXT", "c"}, {"sys/loaded.old", "L"},
                                 {"sys/open.dll", "O"}, {"sys/ro.txt", "R"}}));
    // Moves at the next start replace a file that is there only when asked to.
    ASSERT_TRUE(MoveFileExA("C:\\sys\\CASE.TXT", "C:\\new.dll", MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\sys\\open.dll", "C:\\sys\\loaded.old", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    winsim::rebootMachine(m());
    EXPECT_EQ(snapshot(c), (Tree{{"new.dll", "N"}, {"sys", "<dir>"}, {"sys/CASE.TXT", "c"}, {"sys/loaded.old", "O"},
                                 {"sys/ro.txt", "R"}}));
    // Windows 95 refuses to delete or move a file in use, whatever the use.
    make(winsim::Platform::Win95);
    filesInUse();
    for (const char* p : {"C:\\sys\\loaded.dll", "C:\\sys\\open.dll"}) {
        EXPECT_FAILS(DeleteFileA(p), ERROR_ACCESS_DENIED);
        EXPECT_FAILS(MoveFileA(p, "C:\\sys\\x.old"), ERROR_ACCESS_DENIED);
    }
}

// Through a real image: the working copy shares inodes with the image, and
// nothing written through the API reaches the image until it is saved.
TEST_F(Files, WritesStayInTheWorkingCopyUntilSaved) {
    const fs::path image = root / "img", drive = image / "drives" / "C";
    hostFile("keep.txt", "image text");
    hostFile("other.txt", "other");
    m().files->meta["C:\\keep.txt"].version = "1.0.0.0";
    m().drives['C'].fat = true;
    winsim::saveImage(m(), image);
    winsim::install(winsim::loadImage(image));
    EXPECT_EQ(m().files->meta.at("C:\\KEEP.TXT").version, "1.0.0.0");
    HANDLE h = open("C:\\keep.txt", GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n;
    ASSERT_TRUE(WriteFile(h, "CHANGED", 7, &n, nullptr));
    CloseHandle(h);
    ASSERT_TRUE(writeNew("C:\\b.txt", ""));
    ASSERT_TRUE(writeNew("C:\\other.txt", "new"));
    ASSERT_TRUE(CreateDirectoryA("C:\\a", nullptr));
    EXPECT_EQ(snapshot(drive), (Tree{{"keep.txt", "image text"}, {"other.txt", "other"}}));
    winsim::saveImage(m(), image);
    winsim::install(winsim::loadImage(image));
    EXPECT_EQ(snapshot(drive), (Tree{{"a", "<dir>"}, {"b.txt", ""}, {"keep.txt", "CHANGEDext"}, {"other.txt", "new"}}));
    // The FAT order written survives the image: b.txt before a.
    EXPECT_EQ(findAll("C:\\*") + findAll("C:\\a\\*"), "keep.txt:a other.txt:a b.txt:a a:d error 18.:d ..:d error 18");
    winsim::discardWorkingCopy(m());
}

// --- Short (8.3) aliases of long names: GetShortPathNameA, paths written with
// an alias, SetFileAttributesA, and the Windows 95 restart refusing
// wininit.ini lines that name long names.

TEST(NameRules, WildcardsAndValidEightDotThreeNames) {
    std::string got;
    // A pattern ending in a dot matches names without an extension.
    for (auto [pattern, name] : {std::pair{"*.", "README"}, {"READ?E.", "readme"}, {"*.", "a.txt"}, {"*.txt", "atxt"}, {"README*", "readme"}})
        got += winsim::matchesWildcard(pattern, name) ? "1" : "0";
    for (const char* n : {"VRDPSMON.DLL", "vrdpsmon.dll", "README", "A.B", "PROGRA~1", "TOOLONGNM.TXT", "NAME.HTML",
                          "TWO.DOT.S", "WITH SPC.TXT", "A+B.TXT", ".PROFILE", "NAME.", ""})
        got += winsim::isShortName(n) ? "1" : "0";
    for (const char* p : {"C:\\WINDOWS\\SYSTEM\\VRDPSMW4.DLL", "C:\\PROGRA~1\\VARDEN~1", "SYSTEM\\X.DLL", "C:",
                          "C:\\Program Files\\x.dll", "ABCDEFGHI", "C:\\A\\ABCDEFGHI"})
        got += winsim::isShortPath(p) ? "1" : "0";
    EXPECT_EQ(got, "11001" "1111100000000" "1111000");
}

// --- Names in large directories are found ignoring case from a kept listing;
// the listing must follow every change, whoever makes it: the machine's own
// calls, or files written on the host between two calls.

class LargeDirectory : public sim::MachineTest {
public:
    fs::path big;

protected:
    void SetUp() override {
        make();
        big = c / "big";
        fill(big, "file", 400);
    }
    static void fill(const fs::path& dir, const std::string& stem, int n) {
        fs::create_directories(dir);
        for (int i = 0; i < n; ++i) std::ofstream(dir / (stem + std::to_string(i) + ".dat")) << i;
    }
    static bool exists(const char* winPath) { return GetFileAttributesA(winPath) != INVALID_FILE_ATTRIBUTES; }
    // For each path, 0 when found, else the last error; then a space.
    static std::string found(std::initializer_list<const char*> paths) {
        std::string out;
        for (const char* p : paths) out += exists(p) ? "0" : std::to_string(GetLastError());
        return out + " ";
    }
};

TEST_F(LargeDirectory, FindsNamesInAnyCaseAndFollowsEveryChange) {
    std::ofstream(big / "Twin.dat") << 1;
    std::ofstream(big / "TWIN.DAT") << 2;
    auto twins = winsim::caseInsensitiveMatches(big, "twin.dat");
    std::sort(twins.begin(), twins.end());
    EXPECT_EQ(twins, (std::vector<std::string>{"TWIN.DAT", "Twin.dat"})) << "every case variant on the host";
    EXPECT_EQ(winsim::caseInsensitiveMatches(big, "FILE7.DAT"), std::vector<std::string>{"file7.dat"});
    EXPECT_TRUE(winsim::caseInsensitiveMatches(big, "FILE400.DAT").empty());
    EXPECT_TRUE(winsim::caseInsensitiveMatches(root / "missing", "x").empty());
    // After each change, what is found: written, deleted and renamed on the
    // host; copied, deleted and moved away by the machine; the folder replaced.
    std::ofstream(big / "NewOne.Txt") << "x";
    std::string seen = found({"C:\\BIG\\NEWONE.TXT"});
    fs::remove(big / "file2.dat");
    seen += found({"C:\\BIG\\FILE2.DAT"});
    fs::rename(big / "file3.dat", big / "Moved.dat");
    seen += found({"C:\\BIG\\FILE3.DAT", "C:\\BIG\\MOVED.DAT"});
    CopyFileA("C:\\big\\file4.dat", "C:\\big\\Copy4.dat", TRUE);
    seen += found({"C:\\BIG\\COPY4.DAT"});
    DeleteFileA("C:\\BIG\\COPY4.DAT");
    seen += found({"C:\\big\\copy4.dat"});
    MoveFileA("C:\\BIG\\FILE5.DAT", "C:\\file5.dat");
    seen += found({"C:\\BIG\\FILE5.DAT", "C:\\FILE5.DAT"});
    fs::remove_all(big);
    fill(big, "other", 300);
    seen += found({"C:\\BIG\\FILE6.DAT", "C:\\BIG\\OTHER6.DAT"});
    EXPECT_EQ(seen, "0 2 20 0 2 20 20 ");
}

// A folder reached once by its names as written is taken on trust only
// while it is the same folder: one made again where a moved one stood is
// read afresh, whether its listing was kept or not and whether the machine
// or the host moved the folder above it; one whose folder above is gone is
// a path not found.
TEST_F(LargeDirectory, AFolderMadeAgainWhereAMovedOneStoodIsReadAfresh) {
    for (bool byHost : {false, true}) {
        for (int files : {300, 3}) {
            SCOPED_TRACE(std::string(byHost ? "host" : "machine") + " move, " + std::to_string(files) + " files");
            fill(c / "top" / "sub", "old", files);
            std::string seen = found({"C:\\top\\sub\\old1.dat", "C:\\top\\sub\\OLD2.DAT"});
            if (byHost) fs::rename(c / "top", c / "moved");
            else ASSERT_TRUE(MoveFileA("C:\\top", "C:\\moved"));
            fill(c / "top" / "sub", "new", files);
            seen += found({"C:\\top\\sub\\old1.dat", "C:\\top\\sub\\OLD2.DAT", "C:\\top\\sub\\NEW2.DAT", "C:\\moved\\sub\\old1.dat"});
            fs::remove_all(c / "top");
            EXPECT_EQ(seen + found({"C:\\top\\sub\\new1.dat"}), "00 2200 3 ");
            fs::remove_all(c / "moved");
        }
    }
}

// --- VerInstallFileA over file versions kept in the image's file metadata.

const char* kSrc = "C:\\dist";
const char* kDest = "C:\\drivers";
using Names = std::vector<std::string>;

class VerInstall : public sim::MachineTest {
protected:
    char tmp[MAX_PATH] = "";  // the temporary file's name
    UINT len = sizeof tmp;
    void SetUp() override {
        make();
        file("dist\\pscript.dll", "new module", "3.51.1057.2");
        fs::create_directories(c / "drivers");
    }
    // A file on C: with its content and, when given, its version.
    void file(const std::string& rel, const std::string& text, const std::string& version = "") {
        sim::putFile("C:\\" + rel, text);
        if (!version.empty()) m().files->meta["C:\\" + rel].version = version;
    }
    std::string content(const std::string& rel) { return fs::exists(c / rel) ? sim::readText(c / rel) : "<missing>"; }
    Names names() {
        Names out;
        for (auto& e : fs::directory_iterator(c / "drivers")) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    DWORD call(DWORD flags, char* tmp, UINT* len, const char* srcDir = kSrc, const char* destDir = kDest,
               const char* curDir = nullptr, const char* name = "pscript.dll") {
        return VerInstallFileA(flags, (LPSTR)name, (LPSTR)name, (LPSTR)srcDir, (LPSTR)destDir, (LPSTR)curDir, tmp,
                               len);
    }
};

TEST_F(VerInstall, ResultBitsByCase) {
    enum Also { Nothing, SourceUnversioned, ReadOnly, Loaded, DiskFull };
    const DWORD kOlder = VIF_MISMATCH | VIF_SRCOLD | VIF_TEMPFILE;
    const struct {
        const char* name;
        const char *installed, *version;  // drivers\pscript.dll before, if any, and its version
        Also also;
        DWORD flags;
        const char *srcDir, *destDir;
        DWORD result;
        const char* destAfter;  // drivers\pscript.dll afterwards
        bool tempLeft;          // a VER*.TMP beside it afterwards
    } cases[] = {
        {"fresh copy", nullptr, "", Nothing, 0, kSrc, kDest, 0, "new module", false},
        {"older installed version is replaced", "old", "3.50.807.1", Nothing, 0, kSrc, kDest, 0, "new module", false},
        {"unversioned installed file is replaced", "old", "", Nothing, 0, kSrc, kDest, 0, "new module", false},
        {"missing source", nullptr, "", Nothing, 0, "C:\\nowhere", kDest, VIF_CANNOTREADSRC, "<missing>", false},
        {"missing destination directory", nullptr, "", Nothing, 0, kSrc, "C:\\nowhere", VIF_CANNOTCREATE, "<missing>",
         false},
        {"newer installed version", "newer", "3.51.1057.9", Nothing, 0, kSrc, kDest, kOlder, "newer", true},
        {"versioned installed file, source without a version", "versioned", "1.0", SourceUnversioned, 0, kSrc, kDest,
         kOlder, "versioned", true},
        {"forced over a newer version", "newer", "3.51.1057.9", Nothing, VIFF_FORCEINSTALL, kSrc, kDest, 0,
         "new module", false},
        {"read-only destination", "old", "1.0", ReadOnly, 0, kSrc, kDest, VIF_WRITEPROT, "old", false},
        {"loaded destination", "old", "1.0", Loaded, 0, kSrc, kDest, VIF_FILEINUSE | VIF_TEMPFILE, "old", true},
        {"full disk", nullptr, "", DiskFull, 0, kSrc, kDest, VIF_OUTOFSPACE, "<missing>", false},
        {"no destination directory given: the source directory", nullptr, "", SourceUnversioned, 0, kSrc, nullptr, 0,
         "<missing>", false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        TearDown();
        SetUp();
        if (k.installed) file("drivers\\pscript.dll", k.installed, k.version);
        auto& meta = m().files->meta;
        if (k.also == SourceUnversioned) meta.erase("C:\\dist\\pscript.dll");
        if (k.also == ReadOnly) meta["C:\\drivers\\pscript.dll"].attributes = FILE_ATTRIBUTE_READONLY;
        if (k.also == Loaded) meta["C:\\drivers\\pscript.dll"].inUse = winsim::InUse::Loaded;
        if (k.also == DiskFull) m().drives['C'].free = 3;
        std::uint64_t freeBefore = m().drives['C'].free;
        tmp[0] = '\0';
        len = sizeof tmp;
        DWORD r = call(k.flags, tmp, &len, k.srcDir, k.destDir);
        EXPECT_EQ(r, k.result);
        EXPECT_EQ(content("drivers/pscript.dll"), k.destAfter);
        EXPECT_EQ(tmp + std::to_string(len) + " " + content("drivers/VER0001.TMP") + " " + std::to_string(names().size()),
                  k.tempLeft ? "VER0001.TMP12 new module 2" : "260 <missing> " + std::to_string(k.destAfter[0] != '<'));
        if (r & (VIF_CANNOTREADSRC | VIF_CANNOTCREATE | VIF_WRITEPROT | VIF_OUTOFSPACE)) {
            EXPECT_EQ(m().drives['C'].free, freeBefore);
        }
    }
    // The copy in the current directory, another folder than the destination, goes; one in use stays, reported.
    for (bool inUse : {false, true}) {
        SCOPED_TRACE(inUse);
        TearDown();
        SetUp();
        file("old\\pscript.dll", "stale");
        if (inUse) m().files->meta["C:\\old\\pscript.dll"].inUse = winsim::InUse::Loaded;
        len = sizeof tmp;
        const DWORD reported = VIF_CANNOTDELETECUR | VIF_ACCESSVIOLATION;
        EXPECT_EQ(call(0, tmp, &len, kSrc, kDest, "C:\\old"), inUse ? reported : 0u);
        EXPECT_EQ(content("old/pscript.dll") + "|" + content("drivers/pscript.dll"),
                  (inUse ? "stale" : "<missing>") + std::string("|new module"));
    }
}

}  // namespace
