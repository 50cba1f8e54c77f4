// Scenario harness: a fresh machine image made with `winsim new`, a private
// copy of the sample distribution, and one run of the whole `setup` binary
// on them with an answers file and a log.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace scenario {

namespace fs = std::filesystem;

// Paths of the built programs and of the source tree.
fs::path binDir();
fs::path sourceRoot();

// Why the scenarios cannot run on this build (a program missing or
// `winsim new` failing), or empty when they can.
std::string missingPieces();

struct RunResult {
    int exitCode = -1;       // -1: killed (timeout) or did not start
    std::vector<std::string> log;  // lines of the --log file
    std::string out;         // stdout
    std::string err;         // stderr

    // The dialog numbers of the `page` lines, in order.
    std::vector<int> pages() const;
    // The `page` line of the n-th page shown (0-based), split into words.
    std::vector<std::string> page(std::size_t n) const;
    bool hasLine(const std::string& line) const;
    bool hasLineStarting(const std::string& prefix) const;
    bool hasLineContaining(const std::string& text) const;
    // Index of the first line starting with `prefix`, or -1.
    int indexOf(const std::string& prefix) const;
    // All of the above, for failure messages.
    std::string describe() const;
};

// Sums of field 15 over sections of a setup.inf, read independently of the
// toolkit (for the expected space figures).
struct InfSizes {
    std::map<std::string, std::uint64_t> sectionBytes;  // section name (as written) -> bytes
    std::uint64_t operator[](const std::string& section) const;
};
InfSizes readInfSizes(const fs::path& inf);

// The figures the installation-type page works with, for a platform.
struct Figures {
    std::uint64_t systemDrive = 0;  // PPD, help, monitor
    std::uint64_t utility = 0;      // Write Files, wizard, Orvel, Remote Console, Wizard, VB Common
    std::uint64_t loadFiles = 0;    // the three Load sections
};
enum class Platform { X86, Alpha, Mips, Win95 };
Figures figuresFor(const InfSizes& sizes, Platform p);

class Scenario;
// Why a Windows NT machine made by `winsim new` cannot take setup past its
// spooler check (no running "Spooler" service declared in the image), or
// empty when it can (always empty for Windows 95).
std::string spoolerMissing(const Scenario& s);

// One scenario's working area in a temporary directory (removed at the end).
class Scenario {
public:
    explicit Scenario(const std::string& name);
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    fs::path root() const { return root_; }
    fs::path machineDir() const { return root_ / "machine"; }
    fs::path distDir() const { return root_ / "dist"; }

    // `winsim new <machine> <args...>`; false (with the reason in `error`)
    // when the tool fails.
    bool newMachine(const std::vector<std::string>& args);
    std::string error;

    // Reads, changes and writes back the image's machine.json.
    void editMachine(const std::function<void(nlohmann::json&)>& edit);
    nlohmann::json machineJson() const;
    // Sets a drive's free bytes (and its total when smaller); adds a fixed
    // drive when the letter is new.
    void setFree(char letter, std::uint64_t bytes);

    // Runs `setup --machine <machine> --answers <file> --log <file> [extra]`
    // in the distribution copy. The answers text is written to a file first.
    RunResult run(const std::string& answers, const std::vector<std::string>& extra = {});
    // Runs `setup --machine <machine> --log <file> [extra]` with the console
    // front-end reading `input` from its standard input.
    RunResult runInteractive(const std::string& input, const std::vector<std::string>& extra = {});

    // Rounds the field-15 sum of every section of the scenario's setup.inf
    // up to a multiple of `unit` by raising the last key's size. Free space
    // is counted in whole clusters (512 bytes on the drives the scenarios
    // use), so exact-space scenarios need figures that are whole clusters.
    void roundSectionSizes(std::uint64_t unit);
    // The figures of the scenario's own setup.inf.
    Figures figures(Platform p) const;

    // A host path of the image's files for a Windows path on a drive, e.g.
    // hostPath("C:\\win32app\\vrdpsmon").
    fs::path hostPath(const std::string& windowsPath) const;

private:
    fs::path root_;
};

// Runs `program args...` in `cwd` with stdin from /dev/null; output into
// the strings. Returns the exit code, or -1 when killed after `timeoutSec`.
// `input` (if any) is written to a file that becomes the standard input.
int runProgram(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd,
               std::string& out, std::string& err, int timeoutSec = 60, const std::string* input = nullptr);


}  // namespace scenario
