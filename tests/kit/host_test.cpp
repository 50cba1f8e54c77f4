// The Linux host (build/bin/setup) as a program: image loading and saving,
// the distribution drive, the exit code and the log's last line.
#include "helpers.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>

namespace {

using namespace kittest;
namespace fs = std::filesystem;

fs::path bin(const char* name) { return fs::path(BIN_DIR) / name; }

struct Result {
    int code = -1;
    std::string err;
};

// Runs a shell command in `dir`, returning the exit code and stderr.
Result runIn(const fs::path& dir, const std::string& cmd) {
    fs::path errFile = dir / ".stderr";
    std::string full = "cd '" + dir.string() + "' && " + cmd + " </dev/null >/dev/null 2>'" + errFile.string() + "'";
    int st = std::system(full.c_str());
    Result r;
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readFile(errFile);
    return r;
}

// The programs these tests run; a build without them fails the tests.
#define REQUIRE_PROGRAMS()                                                       \
    do {                                                                         \
        for (const char* program : {"setup", "winsim"})                          \
            ASSERT_TRUE(fs::exists(bin(program))) << bin(program) << " is not built"; \
    } while (0)

TEST(KitHost, UsageAndMissingMachine) {
    REQUIRE_PROGRAMS();
    fs::path dir = tempDir("host-usage");
    Result r = runIn(dir, "'" + bin("setup").string() + "' --help");
    EXPECT_EQ(r.code, 0);
    r = runIn(dir, "'" + bin("setup").string() + "'");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("no machine given"), std::string::npos) << r.err;
}

TEST(KitHost, DamagedImageRefusedAndLeftAlone) {
    REQUIRE_PROGRAMS();
    fs::path dir = tempDir("host-damaged");
    fs::path image = dir / "machine";
    ASSERT_EQ(runIn(dir, "'" + bin("winsim").string() + "' new machine --os nt351 --arch x86").code, 0);
    std::string text = readFile(image / "machine.json");
    std::string broken = text.substr(0, text.size() / 2) + "\n}}} not json\n";
    writeFile(image / "machine.json", broken);
    Result r = runIn(dir, "'" + bin("setup").string() + "' --machine machine --log run.log");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("machine.json:"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(image / "machine.json"), broken);
    EXPECT_FALSE(fs::exists(dir / "run.log"));  // the program never ran
}

TEST(KitHost, RunSavesTheImageWithoutTheDistributionDrive) {
    REQUIRE_PROGRAMS();
    fs::path dir = tempDir("host-run");
    ASSERT_EQ(runIn(dir, "'" + bin("winsim").string() + "' new machine --os nt40 --arch x86 --user admin").code, 0);
    std::string before = readFile(dir / "machine" / "machine.json");
    fs::path dist = dir / "dist";
    writeFile(dist / "setup.inf", "[Empty]\n");
    writeFile(dist / "answers", "100 CONTINUE\n2000 CONTINUE\n");
    Result r = runIn(dist, "'" + bin("setup").string() + "' --machine ../machine --answers answers --log ../run.log");
    std::string log = readFile(dir / "run.log");
    EXPECT_EQ(r.code, 0) << r.err << log;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.substr(0, 33), "page 100 FWelcomeDlgProc CONTINUE");
    EXPECT_EQ(log.substr(log.size() - 7), "exit 0\n") << log;
    std::string after = readFile(dir / "machine" / "machine.json");
    EXPECT_EQ(after.find("\"D\""), std::string::npos) << "the distribution drive was saved";
    EXPECT_NE(after.find("\"frame_title\""), std::string::npos);  // the run was saved
    EXPECT_NE(before, after);
}

TEST(KitHost, AnswersMismatchEndsWithCode2AndStillSaves) {
    REQUIRE_PROGRAMS();
    fs::path dir = tempDir("host-mismatch");
    ASSERT_EQ(runIn(dir, "'" + bin("winsim").string() + "' new machine --os nt40 --arch x86 --user admin").code, 0);
    fs::path dist = dir / "dist";
    writeFile(dist / "setup.inf", "[Empty]\n");
    writeFile(dist / "answers", "100 CONTINUE\n800 CONTINUE\n");
    Result r = runIn(dist, "'" + bin("setup").string() + "' --machine ../machine --answers answers --log ../run.log");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("expected page 800 but page 2000"), std::string::npos) << r.err;
    std::string log = readFile(dir / "run.log");
    EXPECT_EQ(log, "page 100 FWelcomeDlgProc CONTINUE\nresult failed restart=no\nexit 2\n");
    EXPECT_NE(readFile(dir / "machine" / "machine.json").find("\"frame_title\""), std::string::npos);
}

}  // namespace
