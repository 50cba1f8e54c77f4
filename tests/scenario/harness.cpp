#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <strings.h>

namespace scenario {

fs::path binDir() { return BIN_DIR; }
fs::path sourceRoot() { return SOURCE_ROOT; }

std::string distFile(const std::string& name) { return readText(sourceRoot() / "dist" / name); }
std::string contentOf(const fs::path& file);

Lines RunResult::linesStarting(const std::string& prefix) const {
    Lines r;
    std::copy_if(log.begin(), log.end(), std::back_inserter(r), [&](const std::string& l) { return l.starts_with(prefix); });
    return r;
}

std::string RunResult::describe() const {
    return "exit code " + std::to_string(exitCode) + "\n--- log\n" + joined(log) + "--- stdout\n" + out.substr(0, 4000) +
           "\n--- stderr\n" + err.substr(0, 4000) + "\n";
}

Scenario::Scenario(const std::string& name) {
    for (const char* p : {"setup", "winsim"})
        if (!fs::exists(binDir() / p)) ADD_FAILURE() << (binDir() / p) << " is not built";
    if (!fs::is_regular_file(sourceRoot() / "dist" / "setup.inf"))
        ADD_FAILURE() << "the sample distribution is missing under " << sourceRoot();
    name_ = name;
    root_ = common::scratchDir("scenario-", "-" + name + "-" + std::to_string(::getpid()));
    fs::create_directories(root_);
    std::error_code ec;
    fs::copy(sourceRoot() / "dist", distDir(), fs::copy_options::recursive, ec);
    fs::remove_all(distDir() / "answers", ec);
    fs::remove_all(distDir() / "tools", ec);
}

bool Scenario::newMachine(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"new", machineDir().string()};
    all.insert(all.end(), args.begin(), args.end());
    std::string out;
    int rc = winsim(all, &out);
    if (rc != 0) error = "winsim new exited with " + std::to_string(rc) + ": " + out;
    return rc == 0;
}

json Scenario::machineJson() const { return json::parse(readText(machineDir() / "machine.json")); }

void Scenario::editMachine(const std::function<void(json&)>& edit) {
    json j = machineJson();
    edit(j);
    common::writeText(machineDir() / "machine.json", j.dump(2) + "\n");
}

RunResult Scenario::run(const std::string& answers, const std::vector<std::string>& extra) {
    fs::path answersFile = root_ / "run.ans", logFile = root_ / "run.log", shipped = sourceRoot() / "dist" / "answers" / answers;
    bool named = answers.find('\n') == std::string::npos;
    if (named && !fs::is_regular_file(shipped)) ADD_FAILURE() << shipped << " is missing";
    common::writeText(answersFile, named ? readText(shipped) : answers);
    fs::remove(logFile);
    std::vector<std::string> args = {"setup", "--machine", machineDir().string(), "--log", logFile.string(), "--answers",
                                     answersFile.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const fs::path before = snapshot("before-run");
    common::Proc p = common::run(args, distDir());
    RunResult r{p.code, splitLines(readText(logFile)), p.out, p.err};

    // The run written down.
    std::string text = "== run " + std::to_string(++runs_) + ": " + (named ? answers : "answers given") + "\n";
    for (const auto& a : extra) text += "   " + a + "\n";
    text += (named ? "" : answers) + "-- exit " + std::to_string(p.code) + "\n-- log\n" + joined(r.log) + "-- stdout\n" +
            p.out + "-- stderr\n" + p.err + "-- changes\n";
    for (const auto& l : changesSince(before, true)) {
        text += l;
        if (l.starts_with("+ file ") && !l.ends_with("\\")) text += "  " + contentOf(hostPath(l.substr(7)));
        text += "\n";
    }
    transcript_ += text;
    fs::remove_all(before);
    return r;
}

// A file by its content: the distribution file it equals, or its size and hash.
std::string contentOf(const fs::path& file) {
    static const std::map<std::string, std::string> distNames = [] {  // content -> name
        std::map<std::string, std::string> m;
        for (const auto& e : fs::directory_iterator(sourceRoot() / "dist"))
            if (e.is_regular_file()) m.emplace(readText(e.path()), e.path().filename().string());
        return m;
    }();
    const std::string text = readText(file);
    if (auto it = distNames.find(text); it != distNames.end()) return "= dist/" + it->second;
    std::uint32_t h = 2166136261u;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    char s[40];
    std::snprintf(s, sizeof s, "%zu bytes, %08x", text.size(), h);
    return s;
}

void Scenario::compareTranscript() const {
    if (runs_ > 0) common::compareWithGolden(transcript_, "scenario", name_, root_.string());
}

int Scenario::winsim(const std::vector<std::string>& args, std::string* out) const {
    std::vector<std::string> all = {"winsim"};
    all.insert(all.end(), args.begin(), args.end());
    common::Proc p = common::run(all, root_);
    if (out) *out = p.out + p.err;
    return p.code;
}

void Scenario::importReg(const std::string& body) {
    fs::path file = root_ / "import.reg";
    common::writeText(file, "REGEDIT4\r\n\r\n" + body);
    std::string out;
    EXPECT_EQ(winsim({"reg", "import", machineDir().string(), file.string()}, &out), 0) << out;
}

void Scenario::reboot() {
    std::string out;
    EXPECT_EQ(winsim({"reboot", machineDir().string()}, &out), 0) << out;
}

fs::path Scenario::snapshot(const std::string& name) const {
    fs::path to = root_ / name;
    fs::remove_all(to);
    fs::copy(machineDir(), to, fs::copy_options::recursive);
    return to;
}

Lines Scenario::changesSince(const fs::path& snapshot, bool all) const {
    std::string out;
    winsim({"diff", snapshot.string(), machineDir().string()}, &out);
    Lines lines;
    for (const auto& l : splitLines(out))
        if (all || (l.find(" state clock.") == std::string::npos && l.find(" state ui.frame_title ") == std::string::npos))
            lines.push_back(l);
    return lines;
}

fs::path Scenario::hostPath(const std::string& windowsPath) const {
    // drives/<LETTER>/ then the components, matched case-insensitively.
    fs::path p = machineDir() / "drives" / std::string(1, (char)std::toupper((unsigned char)windowsPath[0]));
    std::stringstream in(windowsPath.size() > 3 ? windowsPath.substr(3) : std::string());
    for (std::string part; std::getline(in, part, '\\');) {
        if (part.empty()) continue;
        fs::path next = p / part;
        if (!fs::exists(next) && fs::is_directory(p))
            for (const auto& e : fs::directory_iterator(p))
                if (::strcasecmp(e.path().filename().c_str(), part.c_str()) == 0) next = e.path();
        p = next;
    }
    return p;
}

void Scenario::writeFile(const std::string& windowsPath, const std::string& text) { common::writeText(hostPath(windowsPath), text); }

}  // namespace scenario
