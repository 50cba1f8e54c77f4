// What the tests of every area share: whole files read and written, text
// split into lines, and the programs of build/bin (or any other) started as
// processes.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace common {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

inline std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes the whole file, making the folders above it.
inline void writeText(const fs::path& p, const std::string& text) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// The lines of a text, each without its line break (CR LF or LF).
inline Lines splitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    return lines;
}

// The lines, each ended by a line break.
inline std::string joined(const Lines& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

// Compares the runs a test made, written down as `text`, with their reviewed
// transcript tests/<area>/golden/<suite>/<name>.txt (the suite without its
// instantiation prefix); `hidden`, a scratch folder, stands there as <scratch>.
// A missing or different transcript fails the test. UPDATE_GOLDEN=1 writes
// it instead, for a change that is meant: its git diff is then what to review.
inline void compareWithGolden(std::string text, const std::string& area, const std::string& name,
                              const std::string& hidden) {
    for (std::size_t at; !hidden.empty() && (at = text.find(hidden)) != std::string::npos;)
        text.replace(at, hidden.size(), "<scratch>");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string suite = info ? info->test_suite_name() : "none";
    const fs::path golden =
        fs::path(SOURCE_ROOT) / "tests" / area / "golden" / suite.substr(suite.rfind('/') + 1) / (name + ".txt");
    const char* update = std::getenv("UPDATE_GOLDEN");
    if (update && *update == '1') {
        writeText(golden, text);
        return;
    }
    if (!fs::is_regular_file(golden)) {
        ADD_FAILURE() << golden << " is missing: run the test with UPDATE_GOLDEN=1, and review what it writes";
        return;
    }
    const Lines want = splitLines(readText(golden)), got = splitLines(text);
    std::size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
    if (i < want.size() || i < got.size())
        ADD_FAILURE() << "the runs differ from " << golden << " at line " << i + 1 << ":\n  expected: "
                      << (i < want.size() ? want[i] : "<end>") << "\n  got:      " << (i < got.size() ? got[i] : "<end>");
}

// An empty scratch folder in the temporary directory: `prefix`, the running
// test's suite and name, and `tag`.
inline fs::path scratchDir(const std::string& prefix, const std::string& tag = "") {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = prefix;
    if (info) name += std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';  // parameterised tests
    fs::path p = fs::temp_directory_path() / (name + tag);
    std::error_code ec;
    fs::remove_all(p, ec);
    return p;
}

// Starts `args[0]` (a name alone: the program of build/bin) in `cwd` with
// `in`, `out` and `err` as its standard streams (-1: /dev/null); without
// `exchange`, images are switched with two renames, as on file systems
// without the exchange. Descriptors the caller made close-on-exec stay out
// of the program, which is ended after two minutes at the latest (a guard
// against a hang, not a measure of speed).
inline pid_t spawn(std::vector<std::string> args, const fs::path& cwd, int in = -1, int out = -1, int err = -1,
                   bool exchange = true) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(in < 0 ? null : in, 0);
        ::dup2(out < 0 ? null : out, 1);
        ::dup2(err < 0 ? null : err, 2);
        if (!exchange) ::setenv("WINSIM_RENAME_EXCHANGE", "0", 1);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::alarm(120);
        if (args[0].find('/') == std::string::npos) args[0] = std::string(BIN_DIR) + "/" + args[0];
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// The exit code of a started program, or minus the signal that ended it.
inline int finish(pid_t pid) {
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

struct Proc {
    int code;
    std::string out, err;
};

// Runs a program to its end in `cwd`. With `closedStdout`, its standard
// output is a pipe nobody reads any more.
inline Proc run(const std::vector<std::string>& args, const fs::path& cwd, bool closedStdout = false) {
    char outName[] = "/tmp/test-out-XXXXXX", errName[] = "/tmp/test-err-XXXXXX";
    int out = ::mkstemp(outName), err = ::mkstemp(errName);
    int pipeFds[2] = {-1, -1};
    if (closedStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0) return {-200, "", "pipe failed"};
    for (int fd : {out, err}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    pid_t pid = spawn(args, cwd, -1, closedStdout ? pipeFds[1] : out, err);
    for (int fd : {pipeFds[0], pipeFds[1], out, err})
        if (fd >= 0) ::close(fd);
    Proc r{finish(pid), closedStdout ? "" : readText(outName), readText(errName)};
    ::unlink(outName);
    ::unlink(errName);
    return r;
}

}  // namespace common
