// The size tool of the sample distribution (dist/tools/infsizes.py): it
// finds the shipped setup.inf right, lists and fixes wrong sizes in field
// 15, and refuses bad input naming file and line. The rest of the shipped
// distribution is proven by the installations that use it.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace scenario;

TEST(SizeTool, ChecksFixesAndRefuses) {
    ASSERT_TRUE(fs::exists("/usr/bin/python3")) << "python3 is not installed";
    Scenario s("infsizes");
    const fs::path dir = s.root(), inf = dir / "setup.inf";
    common::writeText(dir / "ONE.DAT", "12345");
    common::writeText(dir / "two.dat", "1234567890");
    std::string out, err;
    // The tool on `file` (this test's setup.inf by default); its exit code.
    auto run = [&](std::vector<std::string> args, fs::path file = {}) {
        args.insert(args.begin(), {"/usr/bin/python3", (sourceRoot() / "dist" / "tools" / "infsizes.py").string()});
        args.push_back((file.empty() ? inf : file).string());
        common::Proc p = common::run(args, dir);
        out = p.out, err = p.err;
        return p.code;
    };
    auto write = [&](const std::string& text) { common::writeText(inf, text); };

    EXPECT_EQ(run({"--check"}, sourceRoot() / "dist" / "setup.inf"), 0) << out << err;
    EXPECT_EQ(out, "");

    const std::string text = "; sample\r\n[A]\r\none = one.dat, , , , , , , , , , , , , , 5 ; right already\r\n"
                             "two = two.dat, copy.dat, , , , , , , , , , , , , 3\r\n\"x, y\" = two.dat\r\n";
    write(text);
    EXPECT_EQ(run({"--check"}), 1);
    EXPECT_EQ(out, "setup.inf:4: [A] two: field 15 is '3', two.dat has 10 bytes\n"
                   "setup.inf:5: [A] x, y: field 15 is missing, two.dat has 10 bytes\n");
    EXPECT_EQ(readText(inf), text) << "--check must not write";
    EXPECT_EQ(run({}), 0) << err;
    EXPECT_EQ(readText(inf), "; sample\r\n[A]\r\none = one.dat, , , , , , , , , , , , , , 5 ; right already\r\n"
                             "two = two.dat, copy.dat, , , , , , , , , , , , , 10\r\n"
                             "\"x, y\" = two.dat, , , , , , , , , , , , , , 10\r\n");
    EXPECT_EQ(run({"--check"}), 0) << out;

    for (auto [bad, message] : {
             std::pair{"[A]\nmissing = nothere.dat, , , , , , , , , , , , , , 1\n", "setup.inf:2: file \"nothere.dat\""},
             {"[A]\nbroken = \"unterminated\n", "setup.inf:2: unterminated quoted text"},
             {"stray = one.dat\n", "setup.inf:1: a line outside any section"},
             {"[A]\nnofile =\n", "setup.inf:2: key \"nofile\" in [A] names no file"},
             {"[A\n", "setup.inf:1: section header without ']'"},
         }) {
        write(bad);
        EXPECT_EQ(run({}), 2) << bad;
        EXPECT_NE(err.find(message), std::string::npos) << err;
        EXPECT_EQ(readText(inf), bad);
    }
}

}  // namespace
