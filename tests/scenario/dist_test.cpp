// The shipped sample distribution: setup.inf has every section the program
// reads, field 15 matches the files, names fit the program's buffers, the
// answers files are well formed; and the size tool keeps field 15 right.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {

using scenario::fs::path;
namespace fs = std::filesystem;

path distDir() { return scenario::sourceRoot() / "dist"; }

std::string readAll(const path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct KeyLine {
    std::string section, key;
    std::vector<std::string> fields;
    int line;
};

// The key lines of an INF (comments and blank lines skipped).
std::vector<KeyLine> keyLines(const path& inf) {
    std::vector<KeyLine> out;
    std::istringstream in(readAll(inf));
    std::string raw, section;
    int n = 0;
    while (std::getline(in, raw)) {
        ++n;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        auto b = raw.find_first_not_of(" \t");
        if (b == std::string::npos || raw[b] == ';') continue;
        if (raw[b] == '[') {
            section = raw.substr(b + 1, raw.find(']') - b - 1);
            continue;
        }
        KeyLine k{section, "", {}, n};
        std::size_t eq = raw.find('=');
        k.key = raw.substr(b, eq - b);
        while (!k.key.empty() && (k.key.back() == ' ' || k.key.back() == '\t')) k.key.pop_back();
        if (k.key.size() >= 2 && k.key.front() == '"') k.key = k.key.substr(1, k.key.size() - 2);
        std::stringstream fs(raw.substr(eq + 1));
        std::string f;
        while (std::getline(fs, f, ',')) {
            auto fb = f.find_first_not_of(" \t");
            auto fe = f.find_last_not_of(" \t");
            k.fields.push_back(fb == std::string::npos ? "" : f.substr(fb, fe - fb + 1));
        }
        out.push_back(k);
    }
    return out;
}

const char* const kSections[] = {
    "PPD Files",     "NT Help File", "Alpha Monitor",  "Mips Monitor",   "I386 Monitor",   "W95 Help File",
    "W95 Monitor",   "Alpha Wizard", "Mips Wizard",    "I386 Wizard",    "Orvel",          "Remote Console",
    "Wizard",        "VB Common",    "Write Files",    "Load PS Files",  "Load Cat Files", "Load Sys Files",
};

TEST(Distribution, SetupInfHasEverySectionWithFiles) {
    auto lines = keyLines(distDir() / "setup.inf");
    for (const char* s : kSections) {
        int keys = 0;
        for (const auto& k : lines) keys += k.section == s;
        EXPECT_GT(keys, 0) << "section [" << s << "] missing or empty";
    }
    int models = 0;
    for (const auto& k : lines) models += k.section == "PPD Files";
    EXPECT_GE(models, 3);
}

TEST(Distribution, FieldFifteenIsTheFileSize) {
    for (const auto& k : keyLines(distDir() / "setup.inf")) {
        SCOPED_TRACE("setup.inf line " + std::to_string(k.line) + " [" + k.section + "] " + k.key);
        ASSERT_GE(k.fields.size(), 15u);
        path file = distDir() / k.fields[0];
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_EQ(k.fields[14], std::to_string(fs::file_size(file)));
        // The program reads keys and field 1 into 64-character buffers.
        EXPECT_LT(k.key.size(), 64u);
        EXPECT_LT(k.fields[0].size(), 64u);
    }
}

TEST(Distribution, MonitorsAndWizardsAreDeliveredUnderTheirModuleNames) {
    std::map<std::string, std::string> delivered;  // section -> name on the target
    for (const auto& k : keyLines(distDir() / "setup.inf")) {
        std::string target = k.fields.size() > 1 && !k.fields[1].empty() ? k.fields[1] : k.fields[0];
        if (k.section.find("Monitor") != std::string::npos || k.section.find("Wizard") == 0 ||
            k.section.find(" Wizard") != std::string::npos)
            delivered[k.section] += target + " ";
    }
    EXPECT_EQ(delivered["W95 Monitor"], "vrdpsmw4.new ");
    EXPECT_EQ(delivered["I386 Monitor"], "vrdpsmon.dll ");
    EXPECT_EQ(delivered["Alpha Monitor"], "vrdpsmon.dll ");
    EXPECT_EQ(delivered["Mips Monitor"], "vrdpsmon.dll ");
    EXPECT_EQ(delivered["I386 Wizard"], "vrdpswiz.exe ");
    EXPECT_EQ(delivered["Alpha Wizard"], "vrdpswiz.exe ");
    EXPECT_EQ(delivered["Mips Wizard"], "vrdpswiz.exe ");
}

TEST(Distribution, AnswersFilesAreWellFormed) {
    const std::regex line(R"(^\s*(\d+)\s+(BACK|CANCEL|CONTINUE|EXIT)((\s+[A-Za-z_][A-Za-z0-9_ ]*=("[^"]*"|\S*))*)\s*$)");
    int files = 0;
    for (const auto& e : fs::directory_iterator(distDir() / "answers")) {
        if (e.path().extension() != ".ans") continue;
        ++files;
        std::istringstream in(readAll(e.path()));
        std::string l;
        int n = 0, pages = 0;
        while (std::getline(in, l)) {
            ++n;
            if (!l.empty() && l.back() == '\r') l.pop_back();
            auto b = l.find_first_not_of(" \t");
            if (b == std::string::npos || l[b] == '#') continue;
            EXPECT_TRUE(std::regex_match(l, line)) << e.path().filename() << ":" << n << ": " << l;
            ++pages;
        }
        EXPECT_GT(pages, 0) << e.path().filename();
        EXPECT_EQ(readAll(e.path()).substr(0, 1), "#") << e.path().filename() << " should say what it answers";
    }
    EXPECT_GE(files, 5);
}

// --- the size tool ---------------------------------------------------------

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun runTool(const std::vector<std::string>& args) {
    ToolRun r;
    std::vector<std::string> all = {(distDir() / "tools" / "infsizes.py").string()};
    all.insert(all.end(), args.begin(), args.end());
    r.code = scenario::runProgram("/usr/bin/python3", all, scenario::fs::temp_directory_path(), r.out, r.err);
    return r;
}

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
    void writeInf(const std::string& text) { std::ofstream(dir / "setup.inf", std::ios::binary) << text; }
    std::string inf() { return readAll(dir / "setup.inf"); }
    path dir;
};

TEST_F(SizeTool, ShippedInfIsConsistent) {
    auto r = runTool({"--check", (distDir() / "setup.inf").string()});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(SizeTool, CheckListsWrongSizesAndRewriteFixesOnlyThose) {
    const std::string text =
        "; sample\r\n[A]\r\none = one.dat, , , , , , , , , , , , , , 5 ; right already\r\n"
        "two = two.dat, copy.dat, , , , , , , , , , , , , 3\r\n"
        "\"x, y\" = two.dat\r\n";
    writeInf(text);
    auto r = runTool({"--check", (dir / "setup.inf").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("setup.inf:4: [A] two"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("setup.inf:5: [A] x, y"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(":3:"), std::string::npos) << r.out;
    EXPECT_EQ(inf(), text) << "--check must not write";

    r = runTool({(dir / "setup.inf").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(inf(),
              "; sample\r\n[A]\r\none = one.dat, , , , , , , , , , , , , , 5 ; right already\r\n"
              "two = two.dat, copy.dat, , , , , , , , , , , , , 10\r\n"
              "\"x, y\" = two.dat, , , , , , , , , , , , , , 10\r\n");
    r = runTool({"--check", (dir / "setup.inf").string()});
    EXPECT_EQ(r.code, 0) << r.out;
}

TEST_F(SizeTool, BadInputNamesFileAndLineAndWritesNothing) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[A]\nmissing = nothere.dat, , , , , , , , , , , , , , 1\n", "setup.inf:2: file \"nothere.dat\""},
        {"[A]\nbroken = \"unterminated\n", "setup.inf:2: unterminated quoted text"},
        {"stray = one.dat\n", "setup.inf:1: a line outside any section"},
        {"[A]\nnofile =\n", "setup.inf:2: key \"nofile\" in [A] names no file"},
        {"[A\n", "setup.inf:1: section header without ']'"},
    };
    for (const auto& c : cases) {
        writeInf(c.text);
        auto r = runTool({(dir / "setup.inf").string()});
        EXPECT_EQ(r.code, 2) << c.text;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(inf(), c.text);
    }
}

}  // namespace
