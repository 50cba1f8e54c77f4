// Every sample answers file of dist/answers replays exactly on the machine
// its comment describes: each page it names is shown in order, no line is
// left over, and the run ends with exit code 0.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using scenario::RunResult;
using scenario::Scenario;

std::string sample(const std::string& file) { return scenario::shippedAnswers(file); }

// The dialog numbers of a sample's answer lines.
std::vector<int> pagesOf(const std::string& text) {
    std::vector<int> pages;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? text.size() : nl + 1;
        std::size_t b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos || line[b] == '#') continue;
        pages.push_back(std::stoi(line.substr(b)));
    }
    return pages;
}

struct Sample {
    const char* file;
    std::vector<std::string> machine;  // winsim new options
    std::vector<const char*> before;   // samples run first on the same machine
};

TEST(DistAnswers, EverySampleReplaysExactly) {
    const std::vector<std::string> nt351 = {"--os", "nt351", "--arch", "x86"};
    const std::vector<std::string> ready = {"--os", "nt351", "--arch", "x86", "--ps-modules", "driverdir"};
    const std::vector<std::string> w95 = {"--os", "win95", "--arch", "x86", "--ps-modules", "driverdir"};
    const Sample samples[] = {
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
    for (const Sample& c : samples) {
        SCOPED_TRACE(c.file);
        covered.insert(c.file);
        Scenario s(std::string("sample-") + c.file);
        ASSERT_TRUE(s.newMachine(c.machine)) << s.error;
        for (const char* first : c.before) {
            RunResult r = s.run(sample(first));
            ASSERT_EQ(r.exitCode, 0) << first << "\n" << r.describe();
        }
        std::string text = sample(c.file);
        RunResult r = s.run(text);
        EXPECT_EQ(r.exitCode, 0) << r.describe();
        EXPECT_EQ(r.pages(), pagesOf(text)) << r.describe();
        EXPECT_EQ(r.err, "") << r.describe();
    }
    // A new sample needs its machine here.
    for (const auto& e : std::filesystem::directory_iterator(scenario::sourceRoot() / "dist" / "answers"))
        EXPECT_TRUE(covered.count(e.path().filename().string())) << e.path().filename() << " is not replayed";
}

}  // namespace
