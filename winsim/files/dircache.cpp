#include "winsim/files/dircache.h"

#include "winsim/core/machine.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace winsim {

namespace {

// Directories with fewer entries are read at every lookup: that is cheap,
// and they need no watch.
constexpr std::size_t kCacheFrom = 32;
// At most this many directories are kept (and watched) at once.
constexpr std::size_t kMaxCached = 64;
constexpr std::uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// What the folders above a kept listing are watched for: that one of them is
// moved or deleted, which puts another folder (or none) at the listing's path.
constexpr std::uint32_t kAncestorMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;
constexpr std::uint32_t kGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

bool readNames(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    while (struct dirent* e = ::readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return true;
}

// One watched directory: its entries by their upper-case form.
struct Listing {
    int wd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    // Every folder above it is watched too, so the listing is known to be
    // the one at its path without asking the host.
    bool vouched = false;
    std::unordered_map<std::string, std::vector<std::string>> byUpper;

    void add(const std::string& name) {
        auto& v = byUpper[upper(name)];
        if (std::find(v.begin(), v.end(), name) == v.end()) v.push_back(name);
    }
    void remove(const std::string& name) {
        auto it = byUpper.find(upper(name));
        if (it == byUpper.end()) return;
        std::erase(it->second, name);
        if (it->second.empty()) byUpper.erase(it);
    }
};

struct Cache {
    std::mutex lock;
    int fd = -1;
    bool unavailable = false;  // inotify could not be set up: every lookup reads
    std::unordered_map<std::string, Listing> byDir;
    std::unordered_map<int, std::string> dirOfWatch;
    // Folders watched as the ancestors of listings (a watch is the folder's
    // own, shared with its listing when it has one).
    std::unordered_map<int, std::string> ancestorOfWatch;

    bool ready() {
        if (fd < 0 && !unavailable) {
            fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            unavailable = fd < 0;
        }
        return fd >= 0;
    }

    void drop(const std::string& dir) {
        auto it = byDir.find(dir);
        if (it == byDir.end()) return;
        // A folder that stands above other listings keeps its watch.
        if (!ancestorOfWatch.count(it->second.wd))
            ::inotify_rm_watch(fd, it->second.wd);  // fails harmlessly when the kernel removed it
        dirOfWatch.erase(it->second.wd);
        byDir.erase(it);
    }

    // Drops the listings at and below host folder `dir`.
    void dropUnder(const std::string& dir) {
        std::vector<std::string> gone;
        for (const auto& [key, l] : byDir)
            if (key == dir || (key.size() > dir.size() && key.compare(0, dir.size(), dir) == 0 &&
                               (dir.back() == '/' || key[dir.size()] == '/')))
                gone.push_back(key);
        for (const std::string& key : gone) drop(key);
    }

    // Watches every folder above `dir` for its moving or deletion.
    bool watchAncestors(const std::string& dir) {
        for (std::string up = dir;;) {
            std::size_t slash = up.find_last_of('/');
            if (slash == std::string::npos) return true;
            up.resize(slash ? slash : 1);
            int wd = ::inotify_add_watch(fd, up.c_str(), kAncestorMask);
            if (wd < 0) return false;
            ancestorOfWatch[wd] = up;
            if (slash == 0) return true;
        }
    }

    void dropAll() {
        while (!byDir.empty()) drop(byDir.begin()->first);
    }

    // Applies every queued event to the listings.
    void drain() {
        alignas(struct inotify_event) char buf[64 * 1024];
        constexpr std::size_t kLargestEvent = sizeof(struct inotify_event) + NAME_MAX + 1;
        for (bool more = true; more;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                return;  // EAGAIN: nothing more queued
            }
            // A read returns every queued event that fits: when room for
            // one more was left, the queue is empty now.
            more = (std::size_t)n + kLargestEvent > sizeof buf;
            for (char* p = buf; p < buf + n;) {
                auto* ev = reinterpret_cast<struct inotify_event*>(p);
                p += sizeof(struct inotify_event) + ev->len;
                if (ev->mask & IN_Q_OVERFLOW) {
                    dropAll();  // events were lost: start afresh
                    continue;
                }
                auto a = ancestorOfWatch.find(ev->wd);
                if (a != ancestorOfWatch.end() && (ev->mask & kGone)) {
                    dropUnder(std::string(a->second));
                    if (ev->mask & IN_IGNORED) ancestorOfWatch.erase(a);
                }
                auto d = dirOfWatch.find(ev->wd);
                if (d == dirOfWatch.end()) continue;
                if (ev->mask & kGone) {
                    drop(std::string(d->second));
                    continue;
                }
                if (ev->len == 0) continue;
                Listing& l = byDir[d->second];
                std::string name(ev->name);
                if (ev->mask & (IN_CREATE | IN_MOVED_TO)) l.add(name);
                if (ev->mask & (IN_DELETE | IN_MOVED_FROM)) l.remove(name);
            }
        }
    }
};

Cache& cache() {
    static Cache c;
    return c;
}

std::vector<std::string> matchesIn(const std::vector<std::string>& names, std::string_view name) {
    std::vector<std::string> out;
    for (const auto& n : names)
        if (iequals(n, name)) out.push_back(n);
    return out;
}

// The kept listing of `dir`, brought up to date; null when there is none
// or another directory stands at that path now.
const Listing* currentListing(Cache& c, const std::string& key, const char* path, const HostIdentity* known) {
    if (c.fd < 0 || !c.byDir.count(key)) return nullptr;
    c.drain();
    auto it = c.byDir.find(key);
    if (it == c.byDir.end()) return nullptr;
    if (it->second.vouched) return &it->second;
    HostIdentity now;
    struct stat st;
    if (known) {
        now = *known;
    } else if (::stat(path, &st) == 0) {
        now = {st.st_dev, st.st_ino};
    } else {
        c.drop(std::string(key));
        return nullptr;
    }
    if (it->second.dev == now.dev && it->second.ino == now.ino) return &it->second;
    c.drop(std::string(key));
    return nullptr;
}

std::vector<std::string> matchesOf(const Listing& l, std::string_view name) {
    auto m = l.byUpper.find(upper(name));
    return m == l.byUpper.end() ? std::vector<std::string>() : m->second;
}

}  // namespace

bool hasKeptListing(const std::string& dir) {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.byDir.count(dir) != 0;
}

bool cachedMatches(const std::string& dir, std::string_view name, std::vector<std::string>& out,
                   const HostIdentity* known) {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    const Listing* l = currentListing(c, dir, dir.c_str(), known);
    if (!l) return false;
    out = matchesOf(*l, name);
    return true;
}

std::vector<std::string> caseInsensitiveMatches(const std::string& dir, std::string_view name) {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    struct stat st;
    const std::string& key = dir;
    if (const Listing* l = currentListing(c, key, dir.c_str(), nullptr)) return matchesOf(*l, name);
    std::vector<std::string> names;
    if (!readNames(dir, names)) return {};
    if (names.size() < kCacheFrom || !c.ready()) return matchesIn(names, name);

    // A large directory: watch it, then read it again, so that nothing
    // changed between the first reading and the watch goes unseen.
    if (::stat(dir.c_str(), &st) != 0) return matchesIn(names, name);
    if (c.byDir.size() >= kMaxCached) c.drop(std::string(c.byDir.begin()->first));
    int wd = ::inotify_add_watch(c.fd, dir.c_str(), kWatchMask);
    if (wd < 0) return matchesIn(names, name);
    if (c.dirOfWatch.count(wd)) return matchesIn(names, name);  // watched already under another path
    bool vouched = c.watchAncestors(dir);
    if (!readNames(dir, names)) {
        ::inotify_rm_watch(c.fd, wd);
        return {};
    }
    Listing l;
    l.wd = wd;
    l.dev = st.st_dev;
    l.ino = st.st_ino;
    l.vouched = vouched;
    for (const auto& n : names) l.add(n);
    c.dirOfWatch[wd] = key;
    std::vector<std::string> out = matchesOf(l, name);
    c.byDir[key] = std::move(l);
    return out;
}

}  // namespace winsim
