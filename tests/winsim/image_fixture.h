// Helpers for tests of machine images on disk: folders that cannot be
// written, processes that are dead or alive, and a snapshot of a tree.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
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
inline std::vector<std::string> othersIn(const fs::path& dir, std::initializer_list<const char*> expected) {
    std::vector<std::string> others;
    for (auto& e : fs::directory_iterator(dir)) {
        std::string n = e.path().filename().string();
        bool known = false;
        for (const char* x : expected) known = known || n == x;
        if (!known) others.push_back(n);
    }
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
    int status = 0;
    ::waitpid(pid, &status, 0);
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
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
};

}  // namespace imagetest
