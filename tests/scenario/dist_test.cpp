// The size tool of the sample distribution (dist/tools/infsizes.py): it
// finds the shipped setup.inf right, lists and fixes wrong sizes in field
// 15, and refuses bad input naming file and line. The rest of the shipped
// distribution is proven by the installations that use it.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace scenario;

class SizeTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists("/usr/bin/python3")) << "python3 is not installed";
        dir = fs::temp_directory_path() / ("infsizes-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "ONE.DAT", std::ios::binary) << "12345";
        std::ofstream(dir / "two.dat", std::ios::binary) << "1234567890";
    }
    void TearDown() override { fs::remove_all(dir); }
    // The tool on `inf` (this test's setup.inf by default); its exit code.
    int run(std::vector<std::string> args, fs::path inf = {}) {
        args.insert(args.begin(), (sourceRoot() / "dist" / "tools" / "infsizes.py").string());
        args.push_back((inf.empty() ? dir / "setup.inf" : inf).string());
        return runProgram("/usr/bin/python3", args, dir, out, err);
    }
    void writeInf(const std::string& text) { std::ofstream(dir / "setup.inf", std::ios::binary | std::ios::trunc) << text; }
    std::string inf() { return readText(dir / "setup.inf"); }
    fs::path dir;
    std::string out, err;
};

TEST_F(SizeTool, ShippedInfIsConsistent) {
    EXPECT_EQ(run({"--check"}, sourceRoot() / "dist" / "setup.inf"), 0) << out << err;
    EXPECT_EQ(out, "");
}

TEST_F(SizeTool, CheckListsWrongSizesAndRewriteFixesOnlyThose) {
    const std::string text =
        "; sample\r\n[A]\r\none = one.dat, , , , , , , , , , , , , , 5 ; right already\r\n"
        "two = two.dat, copy.dat, , , , , , , , , , , , , 3\r\n"
        "\"x, y\" = two.dat\r\n";
    writeInf(text);
    EXPECT_EQ(run({"--check"}), 1);
    EXPECT_NE(out.find("setup.inf:4: [A] two"), std::string::npos) << out;
    EXPECT_NE(out.find("setup.inf:5: [A] x, y"), std::string::npos) << out;
    EXPECT_EQ(out.find(":3:"), std::string::npos) << out;
    EXPECT_EQ(inf(), text) << "--check must not write";

    EXPECT_EQ(run({}), 0) << err;
    EXPECT_EQ(inf(),
              "; sample\r\n[A]\r\none = one.dat, , , , , , , , , , , , , , 5 ; right already\r\n"
              "two = two.dat, copy.dat, , , , , , , , , , , , , 10\r\n"
              "\"x, y\" = two.dat, , , , , , , , , , , , , , 10\r\n");
    EXPECT_EQ(run({"--check"}), 0) << out;
}

TEST_F(SizeTool, BadInputNamesFileAndLineAndWritesNothing) {
    for (auto [text, message] : {
             std::pair{"[A]\nmissing = nothere.dat, , , , , , , , , , , , , , 1\n", "setup.inf:2: file \"nothere.dat\""},
             {"[A]\nbroken = \"unterminated\n", "setup.inf:2: unterminated quoted text"},
             {"stray = one.dat\n", "setup.inf:1: a line outside any section"},
             {"[A]\nnofile =\n", "setup.inf:2: key \"nofile\" in [A] names no file"},
             {"[A\n", "setup.inf:1: section header without ']'"},
         }) {
        writeInf(text);
        EXPECT_EQ(run({}), 2) << text;
        EXPECT_NE(err.find(message), std::string::npos) << err;
        EXPECT_EQ(inf(), text);
    }
}

}  // namespace
