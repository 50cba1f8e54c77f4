// Names in large directories are found ignoring case from a kept listing;
// the listing must follow every change, whoever makes it: the machine's own
// calls, or files written on the host between two calls.
#include "winsim/files/dircache.h"
#include "sim.h"

#include <functional>

namespace fs = std::filesystem;

namespace {

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
    EXPECT_EQ(winsim::caseInsensitiveMatches(big, "FILE7.DAT"), std::vector<std::string>{"file7.dat"});
    EXPECT_TRUE(winsim::caseInsensitiveMatches(big, "FILE400.DAT").empty());

    struct Step {
        const char* what;
        std::function<void(LargeDirectory&)> change;
        const char* gone;     // no longer found (or null)
        const char* present;  // found afterwards (or null)
    };
    const Step steps[] = {
        {"written on the host", [](LargeDirectory& t) { std::ofstream(t.big / "NewOne.Txt") << "x"; }, nullptr,
         "C:\\BIG\\NEWONE.TXT"},
        {"deleted on the host", [](LargeDirectory& t) { fs::remove(t.big / "file2.dat"); }, "C:\\BIG\\FILE2.DAT",
         nullptr},
        {"renamed on the host", [](LargeDirectory& t) { fs::rename(t.big / "file3.dat", t.big / "Moved.dat"); },
         "C:\\BIG\\FILE3.DAT", "C:\\BIG\\MOVED.DAT"},
        {"copied by the machine", [](LargeDirectory&) { CopyFileA("C:\\big\\file4.dat", "C:\\big\\Copy4.dat", TRUE); },
         nullptr, "C:\\BIG\\COPY4.DAT"},
        {"deleted by the machine", [](LargeDirectory&) { DeleteFileA("C:\\BIG\\COPY4.DAT"); }, "C:\\big\\copy4.dat",
         nullptr},
        {"moved away by the machine", [](LargeDirectory&) { MoveFileA("C:\\BIG\\FILE5.DAT", "C:\\file5.dat"); },
         "C:\\BIG\\FILE5.DAT", "C:\\FILE5.DAT"},
        {"directory replaced", [](LargeDirectory& t) {
             fs::remove_all(t.big);
             fill(t.big, "other", 300);
         }, "C:\\BIG\\FILE6.DAT", "C:\\BIG\\OTHER6.DAT"},
    };
    for (const Step& s : steps) {
        s.change(*this);
        EXPECT_TRUE(!s.gone || !exists(s.gone)) << s.what << ": " << s.gone;
        EXPECT_TRUE(!s.present || exists(s.present)) << s.what << ": " << s.present;
    }
}

TEST_F(LargeDirectory, EveryCaseVariantOnTheHostIsReported) {
    std::ofstream(big / "Twin.dat") << 1;
    std::ofstream(big / "TWIN.DAT") << 2;
    auto m = winsim::caseInsensitiveMatches(big, "twin.dat");
    std::sort(m.begin(), m.end());
    EXPECT_EQ(m, (std::vector<std::string>{"TWIN.DAT", "Twin.dat"}));
    EXPECT_TRUE(winsim::caseInsensitiveMatches(root / "missing", "x").empty());
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

}  // namespace
