#include "winsim/files/paths.h"

#include "winsim/files/dircache.h"
#include "winsim/files/shortnames.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <unordered_map>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace winsim {

namespace {

const char kHiddenPrefix[] = ".winsim~";

bool invalidNameChar(unsigned char c) {
    return c < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

// Splits the part of a path below its drive into components, resolving "."
// and ".." onto `parts` (which holds the base directory's components).
DWORD applyComponents(std::string_view rest, std::vector<std::string>& parts, bool allowWildcards,
                      bool& wildcard, bool& trailing) {
    std::vector<std::string> raw;
    std::string cur;
    for (char c : rest) {
        if (c == '\\') {
            if (!cur.empty()) raw.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    trailing = !rest.empty() && rest.back() == '\\';
    if (!cur.empty()) raw.push_back(cur);
    wildcard = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        std::string comp = raw[i];
        bool allDots = comp.find_first_not_of('.') == std::string::npos;
        if (allDots) {
            if (comp.size() == 2) {
                if (!parts.empty()) parts.pop_back();
            }
            continue;  // "." and runs of three or more dots name the directory itself
        }
        // Windows drops trailing dots and spaces from a name.
        while (!comp.empty() && (comp.back() == '.' || comp.back() == ' ')) comp.pop_back();
        if (comp.empty()) continue;
        bool last = i + 1 == raw.size();
        for (unsigned char c : comp) {
            if (invalidNameChar(c)) return ERROR_INVALID_NAME;
            if (c == '*' || c == '?') {
                if (!allowWildcards || !last) return ERROR_INVALID_NAME;
                wildcard = true;
            }
        }
        parts.push_back(comp);
    }
    return 0;
}

// Components of the machine's current directory on `drive` (empty = root).
std::vector<std::string> currentParts(const Machine& m, char drive) {
    std::vector<std::string> parts;
    const std::string& cd = m.currentDir;
    if (cd.size() < 2 || cd[1] != ':' || (char)std::toupper((unsigned char)cd[0]) != drive) return parts;
    bool w, t;
    applyComponents(std::string_view(cd).substr(2), parts, false, w, t);
    return parts;
}

char currentDrive(const Machine& m) {
    const std::string& cd = m.currentDir;
    if (cd.size() >= 2 && cd[1] == ':') return (char)std::toupper((unsigned char)cd[0]);
    return 'C';
}

// Parses `path` into its drive letter (as written) and components.
DWORD parse(const Machine& m, std::string_view path, char& driveAsWritten, std::vector<std::string>& parts,
            bool allowWildcards, bool& wildcard, bool& trailing) {
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    std::string s(path);
    for (auto& c : s)
        if (c == '/') c = '\\';
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') return ERROR_BAD_NETPATH;
    std::string_view rest;
    parts.clear();
    if (s.size() >= 2 && s[1] == ':') {
        if (!std::isalpha((unsigned char)s[0])) return ERROR_INVALID_NAME;
        driveAsWritten = s[0];
        char drive = (char)std::toupper((unsigned char)s[0]);
        rest = std::string_view(s).substr(2);
        if (rest.empty() || rest[0] != '\\') parts = currentParts(m, drive);
    } else {
        driveAsWritten = currentDrive(m);
        rest = s;
        if (s[0] != '\\') parts = currentParts(m, driveAsWritten);
    }
    DWORD e = applyComponents(rest, parts, allowWildcards, wildcard, trailing);
    if (e) return e;
    std::size_t len = 3;
    for (auto& p : parts) len += p.size() + 1;
    if (len > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    return 0;
}

std::string joinWin(char drive, const std::vector<std::string>& parts) {
    std::string r;
    r += drive;
    r += ":\\";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) r += '\\';
        r += parts[i];
    }
    return r;
}

// Host directories reached by the names as written, with the identity
// they had then. A directory found again under the same identity is reached
// the same way: every name on its path was taken as written, and nothing
// but the machine's own calls changes its folders while it runs.
struct KnownDirectories {
    std::mutex lock;
    std::unordered_map<std::string, HostIdentity> byPath;
};

KnownDirectories& knownDirectories() {
    static KnownDirectories k;
    return k;
}

constexpr std::size_t kMaxKnownDirectories = 1024;

// What stands at host path `p` (described in `st`): 1 a file or directory,
// 0 nothing, -1 something else (a link or a special file).
int entryKind(const char* p, struct stat& st) {
    if (::lstat(p, &st) != 0) return 0;
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ? 1 : -1;
}

std::uint64_t fileBytes(const struct stat& st) { return S_ISREG(st.st_mode) ? (std::uint64_t)st.st_size : 0; }

// Appends `name` to host path `path` with the separator, as fs::path's `/=` does.
void hostAppend(std::string& path, std::string_view name) {
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
}

std::string hostJoin(std::string base, std::string_view name) {
    hostAppend(base, name);
    return base;
}

bool rememberedDirectory(const std::string& dir) {
    KnownDirectories& k = knownDirectories();
    std::lock_guard<std::mutex> guard(k.lock);
    return k.byPath.count(dir) != 0;
}

bool knownDirectory(const std::string& dir, HostIdentity& id) {
    KnownDirectories& k = knownDirectories();
    std::lock_guard<std::mutex> guard(k.lock);
    auto it = k.byPath.find(dir);
    if (it == k.byPath.end()) return false;
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == it->second.dev &&
        st.st_ino == it->second.ino) {
        id = it->second;
        return true;
    }
    k.byPath.erase(it);
    return false;
}

bool rememberDirectory(const std::string& dir, HostIdentity& id) {
    KnownDirectories& k = knownDirectories();
    std::lock_guard<std::mutex> guard(k.lock);
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (k.byPath.size() >= kMaxKnownDirectories) k.byPath.clear();
    id = {st.st_dev, st.st_ino};
    k.byPath.insert_or_assign(dir, id);
    return true;
}

}  // namespace

bool isHiddenHostName(std::string_view name) { return name.substr(0, sizeof(kHiddenPrefix) - 1) == kHiddenPrefix; }

std::string ResolvedPath::parentWinPath() const {
    if (parts.size() <= 1) return std::string(1, drive) + ":\\";
    std::vector<std::string> p(parts.begin(), parts.end() - 1);
    return joinWin(drive, p);
}

std::string findHostEntry(const std::string& dir, std::string_view name, bool* blocked, bool* isDir, std::uint64_t* size,
                          const HostIdentity* dirId, bool* fromListing) {
    if (blocked) *blocked = false;
    if (isDir) *isDir = false;
    if (size) *size = 0;
    if (fromListing) *fromListing = false;
    if (isHiddenHostName(name)) return {};
    struct stat st;
    auto probe = [&](const std::string& n) { return entryKind(hostJoin(dir, n).c_str(), st); };
    auto take = [&](const std::string& n) {
        if (isDir) *isDir = S_ISDIR(st.st_mode);
        if (size) *size = fileBytes(st);
        return n;
    };
    // A large directory's kept listing answers without asking the host for
    // the name as written (new files are looked up before they are made).
    std::vector<std::string> matches;
    bool listed = cachedMatches(dir, name, matches, dirId);
    if (fromListing) *fromListing = listed;
    std::string exact(name);
    if (!listed || std::find(matches.begin(), matches.end(), exact) != matches.end()) {
        // Fast path: the name as written.
        int found = probe(exact);
        if (found > 0) return take(exact);
        if (found < 0) {
            if (blocked) *blocked = true;
            return {};
        }
        if (!listed) matches = caseInsensitiveMatches(dir, name);
    }
    std::string best;
    bool foundBlocked = false;
    for (const std::string& n : matches) {
        if (n == exact || isHiddenHostName(n)) continue;
        int found = probe(n);
        if (found == 0) continue;  // gone meanwhile
        if (found < 0) {
            foundBlocked = true;
        } else if (best.empty() || n < best) {
            best = take(n);
        }
    }
    if (best.empty() && blocked) *blocked = foundBlocked;
    return best;
}

namespace {

// resolvePath; `useListings` lets a kept listing of the folder holding the
// entry stand for the walk down to it.
DWORD resolveIn(const Machine& m, std::string_view path, ResolvedPath& out, bool allowWildcards, bool useListings) {
    out = ResolvedPath();
    char driveWritten = 'C';
    std::vector<std::string> parts;
    DWORD e = parse(m, path, driveWritten, parts, allowWildcards, out.wildcard, out.trailingSlash);
    if (e) return e;
    out.drive = (char)std::toupper((unsigned char)driveWritten);
    auto d = m.drives.find(out.drive);
    if (d == m.drives.end()) return ERROR_PATH_NOT_FOUND;
    std::string cur = d->second.host.native();
    if (parts.empty()) {
        out.isRoot = true;
        out.exists = fs::is_directory(cur);
        out.isDir = true;
        out.host = cur;
        out.winPath = joinWin(out.drive, parts);
        return out.exists ? 0 : ERROR_PATH_NOT_FOUND;
    }
    std::error_code ec;
    // The directory holding the entry was reached by the names as written
    // before: one look at it stands for the walk down to it.
    std::size_t i = 0;
    bool exactSoFar = true, identified = false, byListing = false;
    HostIdentity dirId;
    if (parts.size() > 1) {
        // Built as a string: this runs for every file of a large copy, and
        // every fs::path made costs a parse of its components.
        std::string dir = cur;
        for (std::size_t k = 0; k + 1 < parts.size(); ++k) hostAppend(dir, parts[k]);
        // An existing file or folder there is found by its own name: when
        // it is there, so is the directory (a large directory's kept listing
        // answers instead, as it knows the names that are not there too).
        const std::string& name = parts.back();
        struct stat st;
        if (!out.wildcard && !isHiddenHostName(name) && rememberedDirectory(dir) && !hasKeptListing(dir)) {
            std::string file = hostJoin(dir, name);
            if (entryKind(file.c_str(), st) > 0) {
                out.host = fs::path(std::move(file));
                out.exists = true;
                out.isDir = S_ISDIR(st.st_mode);
                out.size = fileBytes(st);
                out.parts = std::move(parts);
                out.winPath = joinWin(out.drive, out.parts);
                return 0;
            }
        }
        // A kept listing is known to be the folder at its path (its
        // folders above are watched): it answers without a look at the
        // host; should it prove gone, the walk is made after all.
        byListing = useListings && !out.wildcard && !isHiddenHostName(name) && hasKeptListing(dir);
        if (byListing || knownDirectory(dir, dirId)) {
            cur = std::move(dir);
            i = parts.size() - 1;
            identified = !byListing;
        }
    }
    for (; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        if (last && exactSoFar && i > 0 && !identified && !byListing) identified = rememberDirectory(cur, dirId);
        if (last && out.wildcard) {
            hostAppend(cur, parts[i]);
            break;
        }
        bool blocked = false, isDir = false;
        std::uint64_t size = 0;
        bool listed = false;
        std::string found =
            findHostEntry(cur, parts[i], &blocked, &isDir, &size, last && identified ? &dirId : nullptr, &listed);
        if (byListing && !listed) return resolveIn(m, path, out, allowWildcards, false);
        if (found != parts[i]) exactSoFar = false;
        // A long name may be written as its short alias (e.g. PROGRA~1).
        if (found.empty() && !blocked && parts[i].find('~') != std::string::npos) {
            found = entryWithAlias(m, cur, joinWin(out.drive, {parts.begin(), parts.begin() + (std::ptrdiff_t)i}), parts[i]);
            if (!found.empty()) isDir = fs::is_directory(fs::symlink_status(hostJoin(cur, found), ec));
        }
        if (!last) {
            if (found.empty() || !isDir) return ERROR_PATH_NOT_FOUND;
            parts[i] = found;
            hostAppend(cur, found);
            continue;
        }
        if (found.empty()) {
            out.blocked = blocked;
            hostAppend(cur, parts[i]);
        } else {
            parts[i] = found;
            hostAppend(cur, found);
            out.exists = true;
            out.isDir = isDir;
            out.size = size;
        }
    }
    out.host = fs::path(std::move(cur));
    out.parts = std::move(parts);
    out.winPath = joinWin(out.drive, out.parts);
    return 0;
}

}  // namespace

DWORD resolvePath(const Machine& m, std::string_view path, ResolvedPath& out, bool allowWildcards) {
    return resolveIn(m, path, out, allowWildcards, true);
}

DWORD fullWindowsPath(const Machine& m, std::string_view path, std::string& out) {
    char driveWritten = 'C';
    std::vector<std::string> parts;
    bool w, t;
    DWORD e = parse(m, path, driveWritten, parts, false, w, t);
    if (e) return e;
    out = joinWin(driveWritten, parts);
    return 0;
}

DWORD attributesOf(const Machine& m, const ResolvedPath& p) {
    const FileMeta* meta = findMeta(m, p.winPath);
    if (p.isDir) {
        DWORD a = FILE_ATTRIBUTE_DIRECTORY;
        if (meta && meta->attributes) a |= *meta->attributes;
        return a;
    }
    if (meta && meta->attributes) {
        DWORD a = *meta->attributes & ~(DWORD)FILE_ATTRIBUTE_DIRECTORY;
        return a ? a : FILE_ATTRIBUTE_NORMAL;
    }
    return FILE_ATTRIBUTE_ARCHIVE;
}

FileMeta* findMeta(Machine& m, std::string_view winPath) {
    auto it = m.files->meta.find(winPath);
    return it == m.files->meta.end() ? nullptr : &it->second;
}

const FileMeta* findMeta(const Machine& m, std::string_view winPath) {
    auto it = m.files->meta.find(winPath);
    return it == m.files->meta.end() ? nullptr : &it->second;
}

FileMeta& metaFor(Machine& m, const std::string& winPath) { return m.files->meta[winPath]; }

void pruneMeta(Machine& m, const std::string& winPath) {
    auto it = m.files->meta.find(winPath);
    if (it == m.files->meta.end()) return;
    const FileMeta& f = it->second;
    if (f.inUse == InUse::None && f.version.empty() && !f.attributes) m.files->meta.erase(it);
}

bool matchesWildcard(std::string_view pat, std::string_view name) {
    if (pat == "*.*" || pat == "*") return true;
    if (pat.size() >= 2 && pat.substr(pat.size() - 2) == ".*" && name.find('.') == std::string_view::npos &&
        matchesWildcard(pat.substr(0, pat.size() - 2), name))
        return true;
    if (!pat.empty() && pat.back() == '.' && name.find('.') == std::string_view::npos)
        return matchesWildcard(pat.substr(0, pat.size() - 1), name);
    // Iterative glob with backtracking on the last '*'.
    std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    auto fold = [](char c) { return (char)std::toupper((unsigned char)c); };
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == '?' || fold(pat[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (p < pat.size() && pat[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pat.size() && (pat[p] == '*' || pat[p] == '?')) ++p;
    return p == pat.size();
}

bool reserveSpace(Machine& m, char drive, std::uint64_t bytes) {
    auto it = m.drives.find(drive);
    if (it == m.drives.end()) return false;
    if (bytes > it->second.free) return false;
    it->second.free -= bytes;
    return true;
}

void releaseSpace(Machine& m, char drive, std::uint64_t bytes) {
    auto it = m.drives.find(drive);
    if (it == m.drives.end()) return;
    Drive& d = it->second;
    d.free += bytes;
    if (d.total && d.free > d.total) d.free = d.total;
}

bool breakHardLink(const fs::path& host) {
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return false;
    if (st.st_nlink <= 1) return true;
    fs::path tmp = tempHostPath(host.parent_path());
    std::error_code ec;
    fs::copy_file(host, tmp, ec);
    if (ec) return false;
    fs::rename(tmp, host, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

fs::path tempHostPath(const fs::path& dir) {
    static std::atomic<unsigned> counter{0};
    return dir / (std::string(kHiddenPrefix) + std::to_string(::getpid()) + "~" + std::to_string(++counter));
}

}  // namespace winsim
