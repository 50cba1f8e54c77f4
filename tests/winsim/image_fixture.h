// Helpers for tests of machine images on disk: a scratch folder per test,
// the programs of build/bin run as processes, folders that cannot be
// written, processes that are dead or alive, and a snapshot of a tree.
#pragma once

#include "common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <map>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace imagetest {

namespace fs = std::filesystem;

using common::finish;
using common::Proc;
using common::readText;
using common::spawn;
using common::writeText;

// Every entry of a tree with its contents, to compare whole images.
inline std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(dir)) return files;
    for (auto& e : fs::recursive_directory_iterator(dir))
        files[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? readText(e.path()) : "<dir>";
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

// Runs a program of build/bin to its end in the distribution folder.
inline Proc run(const std::vector<std::string>& args, bool closedStdout = false) {
    return common::run(args, kDist, closedStdout);
}

// A test with an empty scratch folder of its own, named after it.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        root = common::scratchDir("winsim-");
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    std::string at(const char* name) const { return (root / name).string(); }
    fs::path root;
};

}  // namespace imagetest
