// Every sample answers file of dist/answers says in its first line what it
// answers, and replays exactly on the machine its comment describes: each
// page it names is shown in order, no line is left over, and the run ends
// with exit code 0.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace scenario;

// The dialog numbers of a sample's answer lines.
std::vector<int> pagesOf(const std::string& text) {
    std::vector<int> pages;
    for (const std::string& line : splitLines(text)) {
        std::size_t b = line.find_first_not_of(" \t");
        if (b != std::string::npos && line[b] != '#') pages.push_back(std::stoi(line.substr(b)));
    }
    return pages;
}

TEST(DistAnswers, EverySampleReplaysExactly) {
    const std::vector<std::string> nt351 = {"--os", "nt351", "--arch", "x86"};
    const std::vector<std::string> ready = {"--os", "nt351", "--arch", "x86", "--ps-modules", "driverdir"};
    const std::vector<std::string> w95 = {"--os", "win95", "--arch", "x86", "--ps-modules", "driverdir"};
    const struct {
        const char* file;
        std::vector<std::string> machine;  // winsim new options
        std::vector<const char*> before;   // samples run first on the same machine
    } samples[] = {
        {"demo.ans", nt351, {}},
        {"install-default-start-all.ans", ready, {}},
        {"install-default.ans", ready, {}},
        {"install-destination.ans", {"--os", "nt350", "--arch", "alpha", "--ps-modules", "driverdir"}, {}},
        {"install-fetch-drivers.ans", {"--os", "nt351", "--arch", "mips"}, {}},
        {"install-fetch-drivers-win95.ans", {"--os", "win95", "--arch", "x86"}, {}},
        {"not-admin.ans", {"--os", "nt31", "--arch", "x86", "--user", "user"}, {}},
        {"quit.ans", nt351, {}},
        {"remove.ans", ready, {"install-default.ans"}},
        {"remove-restart-later.ans", w95, {"install-default.ans"}},
        {"unsupported.ans", {"--os", "nt40", "--arch", "x86"}, {}},
        {"upgrade-restart-later.ans", {"--os", "nt31", "--arch", "x86", "--ps-modules", "driverdir"},
         {"install-default.ans"}},
    };
    std::set<std::string> covered;
    for (const auto& c : samples) {
        SCOPED_TRACE(c.file);
        covered.insert(c.file);
        Scenario s(std::string("sample-") + c.file);
        ASSERT_TRUE(s.newMachine(c.machine)) << s.error;
        for (const char* first : c.before) {
            RunResult r = s.run(first);
            ASSERT_EQ(r.exitCode, 0) << first << "\n" << r.describe();
        }
        std::string text = shippedAnswers(c.file);
        EXPECT_EQ(text.substr(0, 1), "#") << "a sample says what it answers";
        RunResult r = s.run(text);
        EXPECT_EQ(r.exitCode, 0) << r.describe();
        EXPECT_EQ(r.pages(), pagesOf(text)) << r.describe();
        EXPECT_EQ(r.err, "") << r.describe();
    }
    // A new sample needs its machine here.
    for (const auto& e : fs::directory_iterator(sourceRoot() / "dist" / "answers"))
        EXPECT_TRUE(covered.count(e.path().filename().string())) << e.path().filename() << " is not replayed";
}

}  // namespace
