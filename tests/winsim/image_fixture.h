// Helpers for tests of machine images on disk: a scratch folder per test,
// the programs of build/bin run as processes, folders that cannot be
// written, processes that are dead or alive, and a snapshot of a tree.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace imagetest {

namespace fs = std::filesystem;

inline std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeAll(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// Every entry of a tree with its contents, to compare whole images.
inline std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(dir)) return files;
    for (auto& e : fs::recursive_directory_iterator(dir))
        files[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? readAll(e.path()) : "<dir>";
    return files;
}

// The names in `dir` other than the ones listed.
inline std::vector<std::string> othersIn(const fs::path& dir, std::initializer_list<std::string> expected) {
    std::vector<std::string> others;
    for (auto& e : fs::directory_iterator(dir))
        if (std::find(expected.begin(), expected.end(), e.path().filename().string()) == expected.end())
            others.push_back(e.path().filename().string());
    return others;
}

// Makes a folder refuse new and removed entries, also to root: the
// immutable flag where we are root (root ignores modes), else the mode.
// Undone by writable(). Returns false when the file system refuses.
inline bool readOnly(const fs::path& p, bool on = true) {
    if (::geteuid() == 0) {
        int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }
    return ::chmod(p.c_str(), on ? 0555 : 0755) == 0;
}
inline bool writable(const fs::path& p) { return readOnly(p, false); }

// The pid of a process that has ended.
inline long deadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A process that lives until killed.
struct LiveProcess {
    pid_t pid;
    LiveProcess() : pid(::fork()) {
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~LiveProcess() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
};

const fs::path kDist = fs::path(SOURCE_ROOT) / "dist";
const std::string kInstall = (kDist / "answers" / "install-default.ans").string();

// Starts the program `args[0]` of build/bin in `cwd` with `in`, `out` and
// `err` as its standard streams (-1: /dev/null); without `exchange`, images
// are switched with two renames, as on file systems without the exchange.
// Descriptors the caller made close-on-exec stay out of the program.
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
        args[0] = std::string(BIN_DIR) + "/" + args[0];
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
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

struct Proc {
    int code;
    std::string out, err;
};

// Runs a program to its end in the distribution folder. With
// `closedStdout`, its standard output is a pipe nobody reads any more.
inline Proc run(const std::vector<std::string>& args, bool closedStdout = false) {
    std::string stem = (fs::temp_directory_path() / ("run-" + std::to_string(::getpid()))).string();
    int out = ::open((stem + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = ::open((stem + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int pipeFds[2] = {-1, -1};
    if (closedStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0) return {-200, "", "pipe failed"};
    pid_t pid = spawn(args, kDist, -1, closedStdout ? pipeFds[1] : out, err);
    for (int fd : {pipeFds[0], pipeFds[1], out, err}) ::close(fd);
    int code = finish(pid);
    return {code, closedStdout ? "" : readAll(stem + ".out"), readAll(stem + ".err")};
}

// A test with an empty scratch folder of its own, named after it.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("winsim-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    std::string at(const char* name) const { return (root / name).string(); }
    fs::path root;
};

}  // namespace imagetest
