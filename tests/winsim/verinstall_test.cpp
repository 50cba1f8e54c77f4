// VerInstallFileA over file versions kept in the image's file metadata.
#include "winsim/files/state.h"
#include "winsim/image/image.h"
#include "sim.h"

#include <winver.h>

#include <cstring>

namespace fs = std::filesystem;

namespace {

const char* kSrc = "C:\\dist";
const char* kDest = "C:\\drivers";
using Names = std::vector<std::string>;

class VerInstall : public sim::MachineTest {
protected:
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
    std::string content(const std::string& rel) { return fs::exists(c / rel) ? sim::slurp(c / rel) : "<missing>"; }
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
        char tmp[MAX_PATH] = "";
        UINT len = sizeof tmp;
        DWORD r = call(k.flags, tmp, &len, k.srcDir, k.destDir);
        EXPECT_EQ(r, k.result);
        EXPECT_EQ(content("drivers/pscript.dll"), k.destAfter);
        EXPECT_EQ(tmp + std::to_string(len) + " " + content("drivers/VER0001.TMP") + " " + std::to_string(names().size()),
                  k.tempLeft ? "VER0001.TMP12 new module 2" : "260 <missing> " + std::to_string(k.destAfter[0] != '<'));
        if (r & (VIF_CANNOTREADSRC | VIF_CANNOTCREATE | VIF_WRITEPROT | VIF_OUTOFSPACE)) {
            EXPECT_EQ(m().drives['C'].free, freeBefore);
        }
    }
}

TEST_F(VerInstall, InstalledCopyTemporaryCopyAndSecondCall) {
    // An installed copy keeps the version, not the attributes.
    m().files->meta["C:\\dist\\pscript.dll"].attributes = FILE_ATTRIBUTE_READONLY;
    char tmp[16] = "";
    UINT len = sizeof tmp;
    ASSERT_EQ(call(0, tmp, &len), 0u);
    EXPECT_EQ(m().files->meta.at("C:\\drivers\\pscript.dll").version, "3.51.1057.2");
    EXPECT_FALSE(m().files->meta.at("C:\\drivers\\pscript.dll").attributes.has_value());
    file("drivers\\pscript.dll", "newer", "9.0");
    // A buffer too small names the size and leaves no temporary file.
    std::memset(tmp, '#', sizeof tmp);
    len = 11;  // "VER0001.TMP" needs 12 with its NUL
    EXPECT_EQ(call(0, tmp, &len), (DWORD)(VIF_MISMATCH | VIF_SRCOLD | VIF_BUFFTOOSMALL));
    EXPECT_EQ(len, 12u);
    EXPECT_EQ(tmp[0], '#');
    EXPECT_EQ(names(), Names{"pscript.dll"});
    std::uint64_t freeAfter = m().drives['C'].free;
    len = 12;
    EXPECT_EQ(call(0, tmp, &len), (DWORD)(VIF_MISMATCH | VIF_SRCOLD | VIF_TEMPFILE));
    EXPECT_STREQ(tmp, "VER0001.TMP");
    EXPECT_EQ(m().drives['C'].free, freeAfter - std::string("new module").size());
    // A forced second call installs the temporary copy, not the source.
    file("dist\\pscript.dll", "changed since", "1.0");
    len = sizeof tmp;
    EXPECT_EQ(call(VIFF_FORCEINSTALL, tmp, &len), 0u);
    EXPECT_EQ(content("drivers/pscript.dll"), "new module");
    EXPECT_EQ(names(), Names{"pscript.dll"});
}

TEST_F(VerInstall, OldCopyInTheCurrentDirectoryGoesUnlessKept) {
    file("old\\pscript.dll", "old elsewhere", "1.0");
    char tmp[MAX_PATH] = "";
    UINT len = sizeof tmp;
    EXPECT_EQ(call(VIFF_DONTDELETEOLD, tmp, &len, kSrc, kDest, "C:\\old"), 0u);
    EXPECT_EQ(content("old/pscript.dll"), "old elsewhere");
    m().files->meta["C:\\old\\pscript.dll"].inUse = winsim::InUse::Loaded;
    EXPECT_EQ(call(0, tmp, &len, kSrc, kDest, "C:\\old"), (DWORD)(VIF_CANNOTDELETECUR | VIF_ACCESSVIOLATION));
    EXPECT_EQ(content("drivers/pscript.dll"), "new module");
    m().files->meta["C:\\old\\pscript.dll"].inUse = winsim::InUse::None;
    EXPECT_EQ(call(0, tmp, &len, kSrc, kDest, "C:\\old"), 0u);
    EXPECT_EQ(content("old/pscript.dll"), "<missing>");
}

TEST_F(VerInstall, BadArgumentsFaultsAndVersions) {
    char tmp[MAX_PATH] = "";
    UINT len = sizeof tmp;
    std::string longDir = "C:\\" + std::string(MAX_PATH, 'd');
    EXPECT_EQ(std::vector<DWORD>({call(0, tmp, nullptr), call(0, tmp, &len, kSrc, kDest, nullptr, "dist\\pscript.dll"),
                                  call(0, tmp, &len, longDir.c_str()), call(0, tmp, &len, kSrc, longDir.c_str())}),
              std::vector<DWORD>({VIF_ACCESSVIOLATION, VIF_CANNOTREADSRC, VIF_CANNOTREADSRC, VIF_CANNOTCREATE}));
    // A declared fault answers with its value as the result bits.
    m().faults.push_back({"VerInstallFileA", m().callCounts["VerInstallFileA"] + 1, 1, VIF_OUTOFMEMORY, "pscript.dll"});
    EXPECT_EQ(call(0, tmp, &len), (DWORD)VIF_OUTOFMEMORY);
    EXPECT_EQ(content("drivers/pscript.dll"), "<missing>");
    EXPECT_EQ(call(0, tmp, &len), 0u);
    // The image refuses a malformed version.
    EXPECT_NO_THROW(winsim::loadFile({{"C:\\x.dll", {{"version", "3.51"}}}}, m()));
    for (const char* v : {"", "3.x", "1.2.3.4.5", "70000.1", "1..2"})
        EXPECT_THROW(winsim::loadFile({{"C:\\x.dll", {{"version", v}}}}, m()), winsim::ImageError) << v;
}

}  // namespace
