// Scenario harness: a fresh machine image made with `winsim new`, a private
// copy of the sample distribution, one run of the whole `setup` binary on
// them with an answers file and a log, and the machine read back afterwards.
// A missing program or distribution fails the test that needs it.
//
// Besides what each test asserts, every run is written down whole (exit
// code, log, output, and every change it made to the machine, new files
// named by content) and compared at the end with the scenario's reviewed
// transcript, tests/scenario/golden/<suite>/<name>.txt. A missing or
// different transcript fails the test; UPDATE_GOLDEN=1 writes them instead,
// for a change that is meant (the git diff is then what to review).
#pragma once

#include "common.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace scenario {

namespace fs = std::filesystem;
using nlohmann::json;
using common::Lines;

using common::joined;
using common::readText;
using common::splitLines;
fs::path binDir();
fs::path sourceRoot();
std::string distFile(const std::string& name);  // dist/NAME of the tree

struct RunResult {
    int exitCode = -1;  // -1: killed (timeout) or did not start
    Lines log;          // lines of the --log file
    std::string out, err;
    Lines linesStarting(const std::string& prefix) const;
    std::string describe() const;  // all of it, for failure messages
};

// One scenario's working area in a temporary directory, removed at the end.
class Scenario {
public:
    explicit Scenario(const std::string& name);
    ~Scenario() {
        compareTranscript();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    fs::path root() const { return root_; }
    fs::path machineDir() const { return root_ / "machine"; }
    fs::path distDir() const { return root_ / "dist"; }
    // `winsim new <machine> <args...>`; false, with the reason in `error`, when it fails.
    bool newMachine(const std::vector<std::string>& args);
    std::string error;
    void editMachine(const std::function<void(json&)>& edit);  // machine.json read, changed, written
    json machineJson() const;
    // `setup --machine <machine> --answers <file> --log <file> [extra]` in the
    // distribution copy. `answers` is the text, or the name of a shipped
    // answers file (dist/answers) when it holds no line break. A run that
    // ends with 0 showed exactly the pages its answers name.
    RunResult run(const std::string& answers, const std::vector<std::string>& extra = {});
    int winsim(const std::vector<std::string>& args, std::string* out = nullptr) const;
    // REGEDIT4 text (without its header) merged into the registry, and
    // `winsim reboot`; both fail the test when the tool refuses.
    void importReg(const std::string& body);
    void reboot();
    // The machine copied aside, and the `winsim diff` lines from that copy to
    // the machine now, without the clock and the title of setup's frame
    // unless `all`.
    fs::path snapshot(const std::string& name = "before") const;
    Lines changesSince(const fs::path& snapshot, bool all = false) const;
    // The host path of a Windows path on a drive; names match case-insensitively.
    fs::path hostPath(const std::string& windowsPath) const;
    bool exists(const std::string& windowsPath) const { return fs::exists(hostPath(windowsPath)); }
    std::string fileText(const std::string& windowsPath) const { return readText(hostPath(windowsPath)); }
    void writeFile(const std::string& windowsPath, const std::string& text = "data");

private:
    void compareTranscript() const;
    fs::path root_;
    std::string name_, transcript_;
    int runs_ = 0;
};

}  // namespace scenario
