// VerInstallFileA over file versions kept in the image's file metadata.
#include "winsim/core/machine.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"
#include "sim.h"

#include <windows.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* kSrc = "C:\\dist";
const char* kDest = "C:\\drivers";

class VerInstall : public sim::MachineTest {
public:
    using MachineTest::c;
    using MachineTest::m;
    void SetUp() override {
        make();
        file("dist\\pscript.dll", "new module", "3.51.1057.2");
        fs::create_directories(c / "drivers");
    }
    // A file on C: with its content and, when given, its version.
    void file(const std::string& rel, const std::string& text, const std::string& version = "") {
        fs::path p = c;
        for (std::size_t i = 0; i < rel.size();) {
            std::size_t j = rel.find('\\', i);
            if (j == std::string::npos) j = rel.size();
            p /= rel.substr(i, j - i);
            i = j + 1;
        }
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        if (!version.empty()) m().files->meta["C:\\" + rel].version = version;
    }
    std::string content(const std::string& rel) {
        std::ifstream in(c / rel, std::ios::binary);
        if (!in) return "<missing>";
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> names(const std::string& rel) {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(c / rel)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    DWORD call(DWORD flags, char* tmp, UINT* len, const char* srcDir = kSrc, const char* destDir = kDest,
               const char* curDir = nullptr, const char* name = "pscript.dll") {
        return VerInstallFileA(flags, (LPSTR)name, (LPSTR)name, (LPSTR)srcDir, (LPSTR)destDir, (LPSTR)curDir, tmp,
                               len);
    }
};

struct Case {
    const char* name;
    std::function<void(VerInstall&)> prepare;
    DWORD flags;
    const char* srcDir;
    const char* destDir;
    DWORD result;
    const char* destAfter;         // content of drivers\pscript.dll afterwards
    bool tempLeft;                 // a VER*.TMP beside it afterwards
};

TEST_F(VerInstall, ResultBitsByCase) {
    const Case cases[] = {
        {"fresh copy", [](VerInstall&) {}, 0, kSrc, kDest, 0, "new module", false},
        {"older installed version is replaced",
         [](VerInstall& t) { t.file("drivers\\pscript.dll", "old module", "3.50.807.1"); }, 0, kSrc, kDest, 0,
         "new module", false},
        {"unversioned installed file is replaced", [](VerInstall& t) { t.file("drivers\\pscript.dll", "old"); }, 0,
         kSrc, kDest, 0, "new module", false},
        {"missing source", [](VerInstall&) {}, 0, "C:\\nowhere", kDest, VIF_CANNOTREADSRC, "<missing>", false},
        {"missing destination directory", [](VerInstall&) {}, 0, kSrc, "C:\\nowhere", VIF_CANNOTCREATE,
         "<missing>", false},
        {"newer installed version", [](VerInstall& t) { t.file("drivers\\pscript.dll", "newer", "3.51.1057.9"); }, 0,
         kSrc, kDest, VIF_MISMATCH | VIF_SRCOLD | VIF_TEMPFILE, "newer", true},
        {"versioned installed file, source without a version",
         [](VerInstall& t) {
             t.file("drivers\\pscript.dll", "versioned", "1.0");
             t.m().files->meta.erase("C:\\dist\\pscript.dll");
         },
         0, kSrc, kDest, VIF_MISMATCH | VIF_SRCOLD | VIF_TEMPFILE, "versioned", true},
        {"forced over a newer version",
         [](VerInstall& t) { t.file("drivers\\pscript.dll", "newer", "3.51.1057.9"); }, VIFF_FORCEINSTALL, kSrc,
         kDest, 0, "new module", false},
        {"read-only destination",
         [](VerInstall& t) {
             t.file("drivers\\pscript.dll", "old", "1.0");
             t.m().files->meta["C:\\drivers\\pscript.dll"].attributes = FILE_ATTRIBUTE_READONLY;
         },
         0, kSrc, kDest, VIF_WRITEPROT, "old", false},
        {"loaded destination",
         [](VerInstall& t) {
             t.file("drivers\\pscript.dll", "old", "1.0");
             t.m().files->meta["C:\\drivers\\pscript.dll"].inUse = winsim::InUse::Loaded;
         },
         0, kSrc, kDest, VIF_FILEINUSE | VIF_TEMPFILE, "old", true},
        {"full disk", [](VerInstall& t) { t.m().drives['C'].free = 3; }, 0, kSrc, kDest, VIF_OUTOFSPACE,
         "<missing>", false},
        {"no destination directory given: the source directory",
         [](VerInstall& t) { t.m().files->meta.erase("C:\\dist\\pscript.dll"); }, 0, kSrc, nullptr, 0,
         "<missing>", false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TearDown();
        SetUp();
        k.prepare(*this);
        std::uint64_t freeBefore = m().drives['C'].free;
        char tmp[MAX_PATH] = "";
        UINT len = sizeof tmp;
        DWORD r = call(k.flags, tmp, &len, k.srcDir, k.destDir);
        EXPECT_EQ(r, k.result);
        EXPECT_EQ(content("drivers/pscript.dll"), k.destAfter);
        auto left = names("drivers");
        bool temp = std::any_of(left.begin(), left.end(), [](auto& n) { return n.rfind("VER", 0) == 0; });
        EXPECT_EQ(temp, k.tempLeft);
        if (k.tempLeft) {
            EXPECT_STREQ(tmp, "VER0001.TMP");
            EXPECT_EQ(len, 12u);
            EXPECT_EQ(content("drivers/VER0001.TMP"), "new module");
        } else {
            EXPECT_STREQ(tmp, "");
            EXPECT_EQ(len, (UINT)sizeof tmp);
        }
        if (r & (VIF_CANNOTREADSRC | VIF_CANNOTCREATE | VIF_WRITEPROT | VIF_OUTOFSPACE)) {
            EXPECT_EQ(m().drives['C'].free, freeBefore);
        }
    }
}

TEST_F(VerInstall, InstalledCopyKeepsTheVersionNotTheAttributes) {
    m().files->meta["C:\\dist\\pscript.dll"].attributes = FILE_ATTRIBUTE_READONLY;
    char tmp[MAX_PATH] = "";
    UINT len = sizeof tmp;
    ASSERT_EQ(call(0, tmp, &len), 0u);
    const winsim::FileMeta* f = &m().files->meta.at("C:\\drivers\\pscript.dll");
    EXPECT_EQ(f->version, "3.51.1057.2");
    EXPECT_FALSE(f->attributes.has_value());
}

TEST_F(VerInstall, BufferTooSmallNamesTheSizeAndLeavesNoTemporaryFile) {
    file("drivers\\pscript.dll", "newer", "9.0");
    char tmp[16];
    std::memset(tmp, '#', sizeof tmp);
    UINT len = 11;  // "VER0001.TMP" needs 12 with its NUL
    EXPECT_EQ(call(0, tmp, &len), (DWORD)(VIF_MISMATCH | VIF_SRCOLD | VIF_BUFFTOOSMALL));
    EXPECT_EQ(len, 12u);
    EXPECT_EQ(tmp[0], '#');
    EXPECT_EQ(names("drivers"), std::vector<std::string>{"pscript.dll"});
    std::uint64_t freeAfter = m().drives['C'].free;
    len = 12;
    EXPECT_EQ(call(0, tmp, &len), (DWORD)(VIF_MISMATCH | VIF_SRCOLD | VIF_TEMPFILE));
    EXPECT_STREQ(tmp, "VER0001.TMP");
    EXPECT_EQ(m().drives['C'].free, freeAfter - std::string("new module").size());
}

TEST_F(VerInstall, ForcedSecondCallInstallsTheTemporaryCopy) {
    file("drivers\\pscript.dll", "newer", "9.0");
    char tmp[MAX_PATH] = "";
    UINT len = sizeof tmp;
    ASSERT_EQ(call(0, tmp, &len), (DWORD)(VIF_MISMATCH | VIF_SRCOLD | VIF_TEMPFILE));
    file("dist\\pscript.dll", "changed since", "1.0");  // the temporary copy is what gets installed
    len = sizeof tmp;
    EXPECT_EQ(call(VIFF_FORCEINSTALL, tmp, &len), 0u);
    EXPECT_EQ(content("drivers/pscript.dll"), "new module");
    EXPECT_EQ(names("drivers"), std::vector<std::string>{"pscript.dll"});
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

TEST_F(VerInstall, BadArgumentsAndFaults) {
    char tmp[MAX_PATH] = "";
    UINT len = sizeof tmp;
    EXPECT_EQ(call(0, tmp, nullptr), (DWORD)VIF_ACCESSVIOLATION);
    EXPECT_EQ(call(0, tmp, &len, kSrc, kDest, nullptr, "dist\\pscript.dll"), (DWORD)VIF_CANNOTREADSRC);
    std::string longDir = "C:\\" + std::string(MAX_PATH, 'd');
    EXPECT_EQ(call(0, tmp, &len, longDir.c_str()), (DWORD)VIF_CANNOTREADSRC);
    EXPECT_EQ(call(0, tmp, &len, kSrc, longDir.c_str()), (DWORD)VIF_CANNOTCREATE);
    // A declared fault answers with its value as the result bits.
    m().faults.push_back({"VerInstallFileA", m().callCounts["VerInstallFileA"] + 1, 1, VIF_OUTOFMEMORY, "pscript.dll"});
    EXPECT_EQ(call(0, tmp, &len), (DWORD)VIF_OUTOFMEMORY);
    EXPECT_EQ(content("drivers/pscript.dll"), "<missing>");
    EXPECT_EQ(call(0, tmp, &len), 0u);
}

TEST_F(VerInstall, ImageRefusesAMalformedVersion) {
    nlohmann::json ok = {{"C:\\x.dll", {{"version", "3.51"}}}};
    EXPECT_NO_THROW(winsim::loadFile(ok, m()));
    for (const char* v : {"", "3.x", "1.2.3.4.5", "70000.1", "1..2"}) {
        SCOPED_TRACE(v);
        nlohmann::json bad = {{"C:\\x.dll", {{"version", v}}}};
        EXPECT_THROW(winsim::loadFile(bad, m()), winsim::ImageError);
    }
}

}  // namespace
