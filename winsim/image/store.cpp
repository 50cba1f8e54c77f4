#include "winsim/image/store.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace winsim::store {

namespace {

struct Leftover {
    fs::path path;
    std::string kind;  // "work", "save", "old" or "new"
    long pid;
};

// "1234" -> 1234; anything but plain digits -> -1.
long parsePid(std::string_view s) {
    if (s.empty() || s.size() > 9) return -1;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v > 0 ? v : -1;
}

// Every leftover beside `abs`, of live and dead processes alike.
std::vector<Leftover> leftovers(const fs::path& abs) {
    std::vector<Leftover> found;
    const std::string prefix = "." + abs.filename().string() + ".";
    const std::string newPrefix = ".winsim-new-";
    std::error_code ec;
    for (fs::directory_iterator it(abs.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.rfind(newPrefix, 0) == 0) {
            long pid = parsePid(std::string_view(name).substr(newPrefix.size()));
            if (pid > 0) found.push_back({it->path(), "new", pid});
            continue;
        }
        if (name.rfind(prefix, 0) != 0) continue;
        std::string_view rest = std::string_view(name).substr(prefix.size());
        for (const char* kind : {"work", "save", "old"}) {
            std::string_view k = kind;
            if (rest.size() > k.size() + 1 && rest.substr(0, k.size()) == k && rest[k.size()] == '-') {
                long pid = parsePid(rest.substr(k.size() + 1));
                if (pid > 0) found.push_back({it->path(), kind, pid});
            }
        }
    }
    return found;
}

// rename() that never replaces an existing `to`.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != ENOSYS && errno != EINVAL) return -1;
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// The atomic exchange may be turned off to exercise the two-rename switch
// that file systems without it get.
bool exchangeWanted() {
    const char* v = std::getenv("WINSIM_RENAME_EXCHANGE");
    return !(v && std::strcmp(v, "0") == 0);
}

void syncPath(const fs::path& p, bool directory) {
    int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + p.string() + " to flush it");
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    // File systems that cannot flush (EINVAL) keep nothing to flush.
    if (rc != 0 && err != EINVAL && err != EROFS)
        throw std::system_error(err, std::generic_category(), "cannot flush " + p.string());
}

}  // namespace

fs::path normalized(const fs::path& dir) {
    fs::path abs = fs::absolute(dir).lexically_normal();
    if (abs.filename().empty()) abs = abs.parent_path();
    return abs;
}

fs::path sibling(const fs::path& dir, std::string_view kind) {
    fs::path abs = normalized(dir);
    return abs.parent_path() / ("." + abs.filename().string() + "." + std::string(kind) + "-" + std::to_string(::getpid()));
}

fs::path lockPath(const fs::path& dir) {
    fs::path abs = normalized(dir);
    return abs.parent_path() / ("." + abs.filename().string() + ".lock");
}

bool processAlive(long pid) {
    if (pid == (long)::getpid()) return true;
    if (::kill((pid_t)pid, 0) == 0) return true;
    return errno == EPERM;
}

std::string recoverLeftovers(const fs::path& dir) {
    fs::path abs = normalized(dir);
    std::vector<Leftover> dead;
    for (Leftover& l : leftovers(abs))
        if (!processAlive(l.pid)) dead.push_back(std::move(l));
    if (dead.empty()) return "";

    std::string restored;
    std::error_code ec;
    if (!fs::is_directory(abs, ec)) {
        // The newest old version of a dead switch is the image.
        auto pick = dead.end();
        fs::file_time_type newest{};
        for (auto it = dead.begin(); it != dead.end(); ++it) {
            if (it->kind != "old") continue;
            auto t = fs::last_write_time(it->path, ec);
            if (pick == dead.end() || (!ec && t > newest)) {
                pick = it;
                newest = t;
            }
        }
        if (pick != dead.end() && renameNoReplace(pick->path, abs) == 0) {
            restored = "restored the image from " + pick->path.filename().string() + " (process " +
                       std::to_string(pick->pid) + " died while saving)";
            try {
                syncDir(abs.parent_path());
            } catch (const std::exception&) {
            }
            dead.erase(pick);
        }
    }
    std::vector<long> pids;
    std::size_t removed = 0, kept = 0;
    for (const Leftover& l : dead) {
        fs::remove_all(l.path, ec);
        if (ec || fs::exists(l.path)) {
            ++kept;
            continue;
        }
        ++removed;
        if (std::find(pids.begin(), pids.end(), l.pid) == pids.end()) pids.push_back(l.pid);
    }
    std::string line = restored;
    if (removed) {
        if (!line.empty()) line += "; ";
        line += "removed " + std::to_string(removed) + (removed == 1 ? " folder" : " folders") +
                " left by interrupted runs (process" + (pids.size() == 1 ? " " : "es ");
        for (std::size_t i = 0; i < pids.size(); ++i) line += (i ? ", " : "") + std::to_string(pids[i]);
        line += ")";
    }
    if (kept) {
        if (!line.empty()) line += "; ";
        line += std::to_string(kept) + " left by interrupted runs could not be removed";
    }
    return line;
}

bool switchInProgress(const fs::path& dir) {
    for (const Leftover& l : leftovers(normalized(dir)))
        if ((l.kind == "save" || l.kind == "old") && l.pid != (long)::getpid() && processAlive(l.pid)) return true;
    return false;
}

std::string unwritableFolder(const fs::path& dir) {
    auto check = [](const fs::path& p) -> std::string {
        if (::access(p.c_str(), W_OK | X_OK) == 0) return "";
        return p.string() + ": " + std::strerror(errno);
    };
    std::string bad = check(dir);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; bad.empty() && !ec && it != end; it.increment(ec))
        if (!it->is_symlink() && it->is_directory()) bad = check(it->path());
    if (bad.empty() && ec) bad = dir.string() + ": cannot be listed: " + ec.message();
    return bad;
}

void syncDir(const fs::path& dir) { syncPath(dir, true); }

void syncTree(const fs::path& root) {
    // One flush of the file system holding the tree writes every file and
    // folder of it (and whatever else is waiting there) in one go; only
    // where that is not available is the tree flushed file by file.
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + root.string() + " to flush it");
    int rc = ::syncfs(fd);
    int err = errno;
    ::close(fd);
    if (rc == 0) return;
    if (err != ENOSYS) throw std::system_error(err, std::generic_category(), "cannot flush " + root.string());
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_symlink()) continue;
        if (it->is_directory()) {
            syncPath(it->path(), true);
        } else if (it->is_regular_file()) {
            // A file still linked from the old version was flushed when that
            // version was saved; only new and changed files have data to flush.
            struct stat st;
            if (::lstat(it->path().c_str(), &st) == 0 && st.st_nlink > 1) continue;
            syncPath(it->path(), false);
        }
    }
    if (ec) throw std::system_error(ec, "cannot list " + root.string() + " to flush it");
    syncPath(root, true);
}

void switchIn(const fs::path& stage, const fs::path& dir) {
    fs::path abs = normalized(dir);
    fs::path parent = abs.parent_path();
    std::error_code ec;
    if (!fs::exists(abs, ec)) {
        if (renameNoReplace(stage, abs) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot move the new image into " + abs.string());
        try {
            syncDir(parent);
        } catch (const std::exception&) {
            // Switched; the rename reaches the disk with the next flush.
        }
        return;
    }
    if (exchangeWanted()) {
        if (::renameat2(AT_FDCWD, stage.c_str(), AT_FDCWD, abs.c_str(), RENAME_EXCHANGE) == 0) {
            // The stage's name now holds the old version.
            try {
                syncDir(parent);
            } catch (const std::exception&) {
            }
            fs::remove_all(stage, ec);
            return;
        }
        if (errno != ENOSYS && errno != EINVAL)
            throw std::system_error(errno, std::generic_category(), "cannot switch the new image into " + abs.string());
    }
    // No atomic exchange: old aside, new in. A death between the two renames
    // leaves no image directory but a whole old version, which the next
    // load puts back.
    fs::path old = sibling(abs, "old");
    fs::remove_all(old, ec);
    if (::rename(abs.c_str(), old.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot move " + abs.string() + " aside");
    if (::rename(stage.c_str(), abs.c_str()) != 0) {
        int err = errno;
        ::rename(old.c_str(), abs.c_str());
        throw std::system_error(err, std::generic_category(), "cannot move the new image into " + abs.string());
    }
    try {
        syncDir(parent);
    } catch (const std::exception&) {
    }
    fs::remove_all(old, ec);
}

}  // namespace winsim::store
