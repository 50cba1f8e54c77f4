// The Win32 file functions over the simulated machine's drives.
//
// Free space is counted in bytes: a file's growth is taken from its drive's
// Drive::free and a deletion gives its size back (capped at the total).
// A write or copy that does not fit fails with ERROR_DISK_FULL before
// anything is written; a copy over an existing file goes to a temporary host
// file that is renamed into place only when complete, and a copy to a new
// name that fails is removed again, so no partial file is ever left.
#include "winsim/core/handles.h"
#include "winsim/files/ops.h"
#include "winsim/files/paths.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace winsim {

namespace {

constexpr DWORD kReadRights = GENERIC_READ | GENERIC_ALL | 0x0001 /* FILE_READ_DATA */;
constexpr DWORD kWriteRights = GENERIC_WRITE | GENERIC_ALL | 0x0002 /* FILE_WRITE_DATA */ | 0x0004 /* APPEND */;

struct FileObject : KernelObject {
    int fd = -1;
    char drive = 'C';
    std::string winPath;
    DWORD access = 0;
    DWORD share = 0;
    std::uint64_t pos = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    ~FileObject() override {
        if (fd >= 0) ::close(fd);
    }
    bool canRead() const { return access & kReadRights; }
    bool canWrite() const { return access & kWriteRights; }
};

struct FindObject : KernelObject {
    std::vector<WIN32_FIND_DATAA> entries;
    std::size_t next = 0;
};

std::vector<std::weak_ptr<FileObject>>& openFiles() {
    static std::vector<std::weak_ptr<FileObject>> files;
    return files;
}

bool fail(DWORD e) {
    SetLastError(e);
    return false;
}

bool hostIdentity(const fs::path& p, dev_t& dev, ino_t& ino) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return false;
    dev = st.st_dev;
    ino = st.st_ino;
    return true;
}

// Our own open handles on the host file `p`.
std::vector<std::shared_ptr<FileObject>> handlesOn(const fs::path& p) {
    std::vector<std::shared_ptr<FileObject>> out;
    auto& files = openFiles();
    files.erase(std::remove_if(files.begin(), files.end(), [](auto& w) { return w.expired(); }), files.end());
    if (files.empty()) return out;  // nothing open: no need to ask the host who `p` is
    dev_t dev;
    ino_t ino;
    if (!hostIdentity(p, dev, ino)) return out;
    for (auto& w : files)
        if (auto f = w.lock(); f && f->dev == dev && f->ino == ino) out.push_back(f);
    return out;
}

// Sharing check of a new open (access, share) against our open handles.
bool sharingConflict(const fs::path& p, DWORD access, DWORD share) {
    bool r = access & kReadRights, w = access & kWriteRights, d = access & DELETE;
    for (auto& f : handlesOn(p)) {
        bool fr = f->canRead(), fw = f->canWrite(), fd = f->access & DELETE;
        if ((r && !(f->share & FILE_SHARE_READ)) || (w && !(f->share & FILE_SHARE_WRITE)) ||
            (d && !(f->share & FILE_SHARE_DELETE)) || (fr && !(share & FILE_SHARE_READ)) ||
            (fw && !(share & FILE_SHARE_WRITE)) || (fd && !(share & FILE_SHARE_DELETE)))
            return true;
    }
    return false;
}

std::uint64_t hostSize(const fs::path& p) {
    std::error_code ec;
    auto s = fs::file_size(p, ec);
    return ec ? 0 : s;
}

InUse inUseOf(Machine& m, const std::string& winPath) {
    const FileMeta* f = findMeta(m, winPath);
    return f ? f->inUse : InUse::None;
}

void noteWritten(Machine& m, const ResolvedPath& p) {
    auto d = m.drives.find(p.drive);
    if (d != m.drives.end() && d->second.fat) m.files->fatOrder[p.winPath] = m.files->nextFatOrder++;
}

void forgetEntry(Machine& m, const std::string& winPath) {
    m.files->meta.erase(winPath);
    m.files->fatOrder.erase(winPath);
}

// Re-keys the metadata of `from` (and, for a directory, everything below
// it) to `to`.
template <class Map>
void rekey(Map& map, const std::string& from, const std::string& to) {
    std::vector<std::pair<std::string, typename Map::mapped_type>> moved;
    std::string prefix = from + "\\";
    for (auto it = map.begin(); it != map.end();) {
        if (iequals(it->first, from)) {
            moved.emplace_back(to, it->second);
            it = map.erase(it);
        } else if (it->first.size() > prefix.size() && iequals(std::string_view(it->first).substr(0, prefix.size()), prefix)) {
            moved.emplace_back(to + "\\" + it->first.substr(prefix.size()), it->second);
            it = map.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [k, v] : moved) map[k] = v;
}

FILETIME hostTime(const fs::path& p) {
    struct stat st;
    FILETIME ft{0, 0};
    if (::lstat(p.c_str(), &st) != 0) return ft;
    std::uint64_t t = ((std::uint64_t)st.st_mtime + 11644473600ull) * 10000000ull;
    ft.dwLowDateTime = (DWORD)t;
    ft.dwHighDateTime = (DWORD)(t >> 32);
    return ft;
}

// Copies the `size` bytes of open file `in` into `out`: in the kernel where
// it can (copy_file_range, then sendfile), else through a buffer. A source
// that turns out shorter ends the copy at its end. 0 or errno.
int copyBytes(int in, int out, std::uint64_t size) {
    bool kernel = true, splice = true;
    for (std::uint64_t done = 0;;) {
        if (done >= size) return 0;
        ssize_t n = -1;
        if (kernel) {
            n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                kernel = false;  // not between these two files: try the next way
                continue;
            }
        } else if (splice) {
            n = ::sendfile(out, in, nullptr, 1 << 30);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                splice = false;
                continue;
            }
        } else {
            static thread_local std::vector<char> buf(1 << 20);
            n = ::read(in, buf.data(), buf.size());
            for (ssize_t done = 0; n > 0 && done < n;) {
                ssize_t w = ::write(out, buf.data() + done, (std::size_t)(n - done));
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) return errno;
                done += w;
            }
        }
        if (n == 0) return 0;
        if (n < 0 && errno != EINTR) return errno;
        if (n > 0) done += (std::uint64_t)n;
    }
}

// Copies the `size` bytes of host file `from` (as the lookup found it) to
// `to`. An existing `to` is replaced only when the copy is complete: the
// bytes go to a temporary file beside it that is then renamed over it. A new
// `to` is written in place (the image's files change only when the machine
// is saved) and removed again on failure. Nothing is left behind on failure.
// The copy gets the host's default permissions, as every file the machine
// writes does; its Windows attributes are kept apart.
DWORD copyHost(const fs::path& from, const fs::path& to, bool replacing, std::uint64_t size) {
    fs::path tmp = replacing ? tempHostPath(to.parent_path()) : to;
    int err = 0;
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        err = errno;
    } else {
        int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out < 0) {
            err = errno;
        } else {
            err = copyBytes(in, out, size);
            if (::close(out) != 0 && !err) err = errno;
            if (!err && replacing && ::rename(tmp.c_str(), to.c_str()) != 0) err = errno;
            if (err) ::unlink(tmp.c_str());
        }
    }
    if (in >= 0) ::close(in);
    if (!err) return 0;
    return err == ENOSPC || err == EDQUOT ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
}

}  // namespace

DWORD deleteFileOp(Machine& m, std::string_view path) {
    ResolvedPath p;
    if (DWORD e = resolvePath(m, path, p)) return e;
    if (!p.exists) return ERROR_FILE_NOT_FOUND;
    if (p.isDir || p.isRoot) return ERROR_ACCESS_DENIED;
    bool nt = m.os.isNT();
    if (sharingConflict(p.host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return nt ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    InUse use = inUseOf(m, p.winPath);
    if (use == InUse::Open) return nt ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    if (attributesOf(m, p) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    if (use == InUse::Loaded) return ERROR_ACCESS_DENIED;
    std::uint64_t size = hostSize(p.host);
    std::error_code ec;
    if (!fs::remove(p.host, ec) || ec) return ERROR_ACCESS_DENIED;
    releaseSpace(m, p.drive, size);
    forgetEntry(m, p.winPath);
    return 0;
}

DWORD removeDirectoryOp(Machine& m, std::string_view path) {
    ResolvedPath p;
    if (DWORD e = resolvePath(m, path, p)) return e;
    if (p.isRoot) return ERROR_ACCESS_DENIED;
    if (!p.exists) return ERROR_FILE_NOT_FOUND;
    if (!p.isDir) return ERROR_DIRECTORY;
    if (attributesOf(m, p) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    std::error_code ec;
    if (!fs::is_empty(p.host, ec) || ec) return ERROR_DIR_NOT_EMPTY;
    ResolvedPath cur;
    if (resolvePath(m, m.currentDir, cur) == 0 && cur.exists && iequals(cur.winPath, p.winPath))
        return m.os.isNT() ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    if (!fs::remove(p.host, ec) || ec) return ERROR_ACCESS_DENIED;
    forgetEntry(m, p.winPath);
    return 0;
}

DWORD copyOp(Machine& m, std::string_view from, std::string_view to, bool failIfExists) {
    ResolvedPath s, d;
    if (DWORD e = resolvePath(m, from, s)) return e;
    if (!s.exists) return ERROR_FILE_NOT_FOUND;
    if (s.isDir) return ERROR_ACCESS_DENIED;
    if (sharingConflict(s.host, GENERIC_READ, FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
    if (DWORD e = resolvePath(m, to, d)) return e;
    if (d.blocked || d.isRoot) return ERROR_ACCESS_DENIED;
    std::uint64_t oldSize = 0;
    if (d.exists) {
        if (d.isDir) return ERROR_ACCESS_DENIED;
        if (iequals(s.winPath, d.winPath)) return failIfExists ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION;
        if (failIfExists) return ERROR_FILE_EXISTS;
        if (attributesOf(m, d) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
        if (inUseOf(m, d.winPath) != InUse::None) return ERROR_SHARING_VIOLATION;
        if (sharingConflict(d.host, GENERIC_WRITE, 0)) return ERROR_SHARING_VIOLATION;
        oldSize = d.size;
    }
    std::uint64_t size = s.size;
    if (size > oldSize && !reserveSpace(m, d.drive, size - oldSize)) return ERROR_DISK_FULL;
    if (DWORD e = copyHost(s.host, d.host, d.exists, size)) {
        if (size > oldSize) releaseSpace(m, d.drive, size - oldSize);
        return e;
    }
    if (size < oldSize) releaseSpace(m, d.drive, oldSize - size);
    // The copy carries the source's attributes and version resource.
    const FileMeta* sm = findMeta(m, s.winPath);
    FileMeta copy;
    if (sm) {
        copy.attributes = sm->attributes;
        copy.version = sm->version;
    }
    m.files->meta.erase(d.winPath);
    if (copy.attributes || !copy.version.empty()) m.files->meta[d.winPath] = copy;
    if (!d.exists) noteWritten(m, d);
    return 0;
}

DWORD moveOp(Machine& m, std::string_view from, std::string_view to, bool replace, bool copyAllowed) {
    ResolvedPath s, d;
    if (DWORD e = resolvePath(m, from, s)) return e;
    if (!s.exists) return ERROR_FILE_NOT_FOUND;
    if (s.isRoot) return ERROR_ACCESS_DENIED;
    if (DWORD e = resolvePath(m, to, d)) return e;
    if (d.blocked || d.isRoot) return ERROR_ACCESS_DENIED;
    bool nt = m.os.isNT();
    bool sameEntry = iequals(s.winPath, d.winPath);
    if (d.exists && !sameEntry) {
        if (!replace) return ERROR_ALREADY_EXISTS;
        if (d.isDir || s.isDir) return ERROR_ACCESS_DENIED;
        if (attributesOf(m, d) & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
        InUse du = inUseOf(m, d.winPath);
        if (du == InUse::Open) return nt ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
        if (du == InUse::Loaded) return ERROR_ACCESS_DENIED;
        if (sharingConflict(d.host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
            return nt ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    }
    InUse su = inUseOf(m, s.winPath);
    if (!nt && su != InUse::None) return ERROR_ACCESS_DENIED;
    if (su == InUse::Open) return ERROR_SHARING_VIOLATION;
    if (sharingConflict(s.host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return nt ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
    if (s.isDir && d.winPath.size() > s.winPath.size() &&
        iequals(std::string_view(d.winPath).substr(0, s.winPath.size() + 1), s.winPath + "\\"))
        return ERROR_SHARING_VIOLATION;

    std::error_code ec;
    if (s.drive != d.drive) {
        if (s.isDir || !copyAllowed) return ERROR_NOT_SAME_DEVICE;
        std::uint64_t size = hostSize(s.host), oldSize = d.exists ? hostSize(d.host) : 0;
        if (size > oldSize && !reserveSpace(m, d.drive, size - oldSize)) return ERROR_DISK_FULL;
        if (DWORD e = copyHost(s.host, d.host, d.exists, size)) {
            if (size > oldSize) releaseSpace(m, d.drive, size - oldSize);
            return e;
        }
        if (size < oldSize) releaseSpace(m, d.drive, oldSize - size);
        fs::remove(s.host, ec);
        releaseSpace(m, s.drive, size);
    } else {
        fs::path target = d.host;
        if (sameEntry) {
            // A change of case only: the name as now written.
            std::string written(to.substr(to.find_last_of("\\/") == std::string_view::npos ? 0 : to.find_last_of("\\/") + 1));
            while (!written.empty() && (written.back() == '.' || written.back() == ' ')) written.pop_back();
            if (!written.empty()) target = s.host.parent_path() / written;
        }
        std::uint64_t oldSize = (d.exists && !sameEntry) ? hostSize(d.host) : 0;
        fs::rename(s.host, target, ec);
        if (ec) return ERROR_ACCESS_DENIED;
        releaseSpace(m, d.drive, oldSize);
        if (sameEntry) {
            ResolvedPath again;
            if (resolvePath(m, to, again) == 0) d = again;
        }
    }
    if (!sameEntry) m.files->meta.erase(d.winPath);
    rekey(m.files->meta, s.winPath, d.winPath);
    bool sameDir = iequals(s.parentWinPath(), d.parentWinPath());
    rekey(m.files->fatOrder, s.winPath, d.winPath);
    if (!sameDir) noteWritten(m, d);
    return 0;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    std::string_view name = lpFileName ? lpFileName : "";
    if (DWORD e = injectedFault("CreateFileA", name)) return fail(e), INVALID_HANDLE_VALUE;
    Machine& m = machine();
    if (!lpFileName) return fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
        return fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    ResolvedPath p;
    if (DWORD e = resolvePath(m, name, p)) return fail(e), INVALID_HANDLE_VALUE;
    bool wantsWrite = dwDesiredAccess & kWriteRights;
    bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    if (dwCreationDisposition == TRUNCATE_EXISTING && !wantsWrite)
        return fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    if (p.isRoot || p.isDir || p.blocked) return fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
    if (p.trailingSlash) return fail(p.exists ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;

    auto obj = std::make_shared<FileObject>();
    obj->drive = p.drive;
    obj->winPath = p.winPath;
    obj->access = dwDesiredAccess;
    obj->share = dwShareMode;
    int flags = O_NOFOLLOW | O_CLOEXEC | (wantsWrite ? O_RDWR : O_RDONLY);
    DWORD successError = 0;
    if (p.exists) {
        if (dwCreationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
        DWORD attrs = attributesOf(m, p);
        if ((attrs & FILE_ATTRIBUTE_READONLY) && (wantsWrite || truncate))
            return fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        InUse use = inUseOf(m, p.winPath);
        // A loaded module is mapped: it can be read but not written. A file
        // open in another process is taken to be open for reading, sharing
        // reading only.
        if ((use != InUse::None && (wantsWrite || truncate)) ||
            (use == InUse::Open && !(dwShareMode & FILE_SHARE_READ)))
            return fail(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
        if (sharingConflict(p.host, dwDesiredAccess, dwShareMode))
            return fail(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
        if ((wantsWrite || truncate) && !breakHardLink(p.host)) return fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        obj->fd = ::open(p.host.c_str(), flags);
        if (obj->fd < 0) return fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        if (truncate) {
            std::uint64_t old = hostSize(p.host);
            if (::ftruncate(obj->fd, 0) != 0) return fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
            releaseSpace(m, p.drive, old);
            if (FileMeta* f = findMeta(m, p.winPath)) f->version.clear();
            if (dwCreationDisposition == CREATE_ALWAYS) {
                DWORD a = (dwFlagsAndAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_ARCHIVE;
                if (a != FILE_ATTRIBUTE_ARCHIVE)
                    metaFor(m, p.winPath).attributes = a;
                else if (FileMeta* f = findMeta(m, p.winPath))
                    f->attributes.reset();
            }
            pruneMeta(m, p.winPath);
        }
        if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
            successError = ERROR_ALREADY_EXISTS;
    } else {
        if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
            return fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        obj->fd = ::open(p.host.c_str(), flags | O_CREAT | O_EXCL, 0644);
        if (obj->fd < 0) return fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        DWORD a = (dwFlagsAndAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
                  FILE_ATTRIBUTE_ARCHIVE;
        m.files->meta.erase(p.winPath);
        if (a != FILE_ATTRIBUTE_ARCHIVE) metaFor(m, p.winPath).attributes = a;
        noteWritten(m, p);
    }
    struct stat st;
    if (::fstat(obj->fd, &st) == 0) {
        obj->dev = st.st_dev;
        obj->ino = st.st_ino;
    }
    openFiles().push_back(obj);
    HANDLE h = addHandle(obj);
    SetLastError(successError);
    return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
    if (DWORD e = injectedFault("ReadFile")) return fail(e);
    auto f = findHandleAs<FileObject>(hFile);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    // Handles are never opened for overlapped I/O here, and the count is
    // required without an OVERLAPPED structure.
    if (lpOverlapped || !lpNumberOfBytesRead) return fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesRead = 0;
    if (!f->canRead()) return fail(ERROR_ACCESS_DENIED);
    if (nNumberOfBytesToRead && !lpBuffer) return fail(ERROR_NOACCESS);
    ssize_t n = ::pread(f->fd, lpBuffer, nNumberOfBytesToRead, (off_t)f->pos);
    if (n < 0) return fail(ERROR_READ_FAULT);
    f->pos += (std::uint64_t)n;
    *lpNumberOfBytesRead = (DWORD)n;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
    if (DWORD e = injectedFault("WriteFile")) return fail(e);
    auto f = findHandleAs<FileObject>(hFile);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (lpOverlapped || !lpNumberOfBytesWritten) return fail(ERROR_INVALID_PARAMETER);
    *lpNumberOfBytesWritten = 0;
    if (!f->canWrite()) return fail(ERROR_ACCESS_DENIED);
    if (nNumberOfBytesToWrite && !lpBuffer) return fail(ERROR_NOACCESS);
    Machine& m = machine();
    struct stat st;
    if (::fstat(f->fd, &st) != 0) return fail(ERROR_WRITE_FAULT);
    std::uint64_t end = f->pos + nNumberOfBytesToWrite;
    std::uint64_t growth = end > (std::uint64_t)st.st_size ? end - (std::uint64_t)st.st_size : 0;
    if (growth && !reserveSpace(m, f->drive, growth)) return fail(ERROR_DISK_FULL);
    ssize_t n = ::pwrite(f->fd, lpBuffer, nNumberOfBytesToWrite, (off_t)f->pos);
    if (n != (ssize_t)nNumberOfBytesToWrite) {
        if (n > 0) (void)::ftruncate(f->fd, st.st_size);
        releaseSpace(m, f->drive, growth);
        return fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    }
    f->pos = end;
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    std::string_view name = lpFileName ? lpFileName : "";
    if (DWORD e = injectedFault("FindFirstFileA", name)) return fail(e), INVALID_HANDLE_VALUE;
    if (!lpFileName || !lpFindFileData) return fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, name, p, true)) return fail(e), INVALID_HANDLE_VALUE;
    if (p.isRoot || p.trailingSlash) return fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    fs::path dir = p.hostParent();
    std::string pattern = p.name();
    std::string dirWin = p.parentWinPath();
    bool atRoot = p.parts.size() == 1;
    bool fat = m.drives.at(p.drive).fat;

    struct Item {
        std::string name;
        fs::path host;
        bool isDir;
        std::uint64_t order;  // FAT: 0 = written before this machine's records, by name
    };
    std::vector<Item> items;
    std::error_code ec;
    if (!p.wildcard) {
        if (p.exists) items.push_back({p.name(), p.host, p.isDir, 0});
    } else {
        for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string n = it->path().filename().string();
            if (isHiddenHostName(n)) continue;
            auto st = it->symlink_status(ec);
            if (ec) break;
            if (!fs::is_regular_file(st) && !fs::is_directory(st)) continue;
            if (!matchesWildcard(pattern, n)) continue;
            std::uint64_t order = 0;
            if (fat) {
                std::string w = (atRoot ? dirWin : dirWin + "\\") + n;
                auto o = m.files->fatOrder.find(w);
                if (o != m.files->fatOrder.end()) order = o->second;
            }
            items.push_back({n, it->path(), fs::is_directory(st), order});
        }
        std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
            if (fat && a.order != b.order) return a.order < b.order;
            CaseLess less;
            if (less(a.name, b.name)) return true;
            if (less(b.name, a.name)) return false;
            return a.name < b.name;
        });
        if (!atRoot) {
            std::vector<Item> dots;
            for (const char* d : {".", ".."})
                if (matchesWildcard(pattern, d)) dots.push_back({d, d[1] ? dir.parent_path() : dir, true, 0});
            items.insert(items.begin(), dots.begin(), dots.end());
        }
    }
    if (items.empty()) return fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;

    auto obj = std::make_shared<FindObject>();
    for (const Item& it : items) {
        WIN32_FIND_DATAA fd;
        std::memset(&fd, 0, sizeof fd);
        ResolvedPath e;
        e.drive = p.drive;
        e.isDir = it.isDir;
        if (it.name == ".")
            e.winPath = dirWin;
        else if (it.name == "..") {
            ResolvedPath dirPath;
            dirPath.drive = p.drive;
            dirPath.parts.assign(p.parts.begin(), p.parts.end() - 1);
            e.winPath = dirPath.parentWinPath();
        }
        else
            e.winPath = (atRoot ? dirWin : dirWin + "\\") + it.name;
        fd.dwFileAttributes = attributesOf(m, e);
        std::uint64_t size = it.isDir ? 0 : hostSize(it.host);
        fd.nFileSizeHigh = (DWORD)(size >> 32);
        fd.nFileSizeLow = (DWORD)size;
        fd.ftLastWriteTime = hostTime(it.host);
        fd.ftCreationTime = fd.ftLastWriteTime;
        fd.ftLastAccessTime = fd.ftLastWriteTime;
        std::size_t n = std::min(it.name.size(), sizeof fd.cFileName - 1);
        std::memcpy(fd.cFileName, it.name.data(), n);
        obj->entries.push_back(fd);
    }
    *lpFindFileData = obj->entries[0];
    obj->next = 1;
    HANDLE h = addHandle(obj);
    SetLastError(0);
    return h;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    if (DWORD e = injectedFault("FindNextFileA")) return fail(e);
    auto f = findHandleAs<FindObject>(hFindFile);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return fail(ERROR_INVALID_PARAMETER);
    if (f->next >= f->entries.size()) return fail(ERROR_NO_MORE_FILES);
    *lpFindFileData = f->entries[f->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (DWORD e = injectedFault("FindClose")) return fail(e);
    if (!findHandleAs<FindObject>(hFindFile)) return fail(ERROR_INVALID_HANDLE);
    removeHandle(hFindFile);
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    if (DWORD e = injectedFault("CopyFileA", lpNewFileName ? lpNewFileName : "")) return fail(e);
    if (!lpExistingFileName || !lpNewFileName) return fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = copyOp(machine(), lpExistingFileName, lpNewFileName, bFailIfExists)) return fail(e);
    return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    if (DWORD e = injectedFault("MoveFileA", lpExistingFileName ? lpExistingFileName : "")) return fail(e);
    if (!lpExistingFileName || !lpNewFileName) return fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = moveOp(machine(), lpExistingFileName, lpNewFileName, false, true)) return fail(e);
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (DWORD e = injectedFault("MoveFileExA", lpExistingFileName ? lpExistingFileName : "")) return fail(e);
    Machine& m = machine();
    if (!m.os.isNT()) return fail(ERROR_CALL_NOT_IMPLEMENTED);
    if (!lpExistingFileName) return fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (dwFlags & MOVEFILE_COPY_ALLOWED) return fail(ERROR_INVALID_PARAMETER);
        if (DWORD e = schedulePendingRename(m, lpExistingFileName, lpNewFileName,
                                            (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0))
            return fail(e);
        return TRUE;
    }
    if (!lpNewFileName) return fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = moveOp(m, lpExistingFileName, lpNewFileName, (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0,
                         (dwFlags & MOVEFILE_COPY_ALLOWED) != 0))
        return fail(e);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (DWORD e = injectedFault("DeleteFileA", lpFileName ? lpFileName : "")) return fail(e);
    if (!lpFileName) return fail(ERROR_PATH_NOT_FOUND);
    if (DWORD e = deleteFileOp(machine(), lpFileName)) return fail(e);
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    if (DWORD e = injectedFault("CreateDirectoryA", lpPathName ? lpPathName : "")) return fail(e);
    if (!lpPathName) return fail(ERROR_PATH_NOT_FOUND);
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, lpPathName, p)) return fail(e);
    if (p.isRoot) return fail(ERROR_ACCESS_DENIED);
    if (p.exists) return fail(ERROR_ALREADY_EXISTS);
    if (p.blocked) return fail(ERROR_ACCESS_DENIED);
    std::error_code ec;
    if (!fs::create_directory(p.host, ec) || ec) return fail(ERROR_ACCESS_DENIED);
    m.files->meta.erase(p.winPath);
    noteWritten(m, p);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    if (DWORD e = injectedFault("RemoveDirectoryA", lpPathName ? lpPathName : "")) return fail(e);
    if (!lpPathName) return fail(ERROR_PATH_NOT_FOUND);
    if (DWORD e = removeDirectoryOp(machine(), lpPathName)) return fail(e);
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    if (DWORD e = injectedFault("GetFileAttributesA", lpFileName ? lpFileName : "")) return fail(e), INVALID_FILE_ATTRIBUTES;
    if (!lpFileName) return fail(ERROR_PATH_NOT_FOUND), INVALID_FILE_ATTRIBUTES;
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, lpFileName, p)) return fail(e), INVALID_FILE_ATTRIBUTES;
    if (!p.exists) return fail(ERROR_FILE_NOT_FOUND), INVALID_FILE_ATTRIBUTES;
    if (p.trailingSlash && !p.isDir) return fail(ERROR_INVALID_NAME), INVALID_FILE_ATTRIBUTES;
    return attributesOf(m, p);
}

UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    // The root of the current directory when none is given; otherwise only
    // a drive root ("C:\\") names a drive. The call sets no error code.
    const Machine& m = machine();
    std::string root = lpRootPathName ? std::string(lpRootPathName) : m.currentDir.substr(0, 3);
    if (root.size() != 3 || !std::isalpha((unsigned char)root[0]) || root[1] != ':' ||
        (root[2] != '\\' && root[2] != '/'))
        return DRIVE_NO_ROOT_DIR;
    auto it = m.drives.find((char)std::toupper((unsigned char)root[0]));
    if (it == m.drives.end()) return DRIVE_NO_ROOT_DIR;
    static const std::pair<const char*, UINT> kTypes[] = {{"fixed", DRIVE_FIXED},   {"removable", DRIVE_REMOVABLE},
                                                         {"remote", DRIVE_REMOTE}, {"cdrom", DRIVE_CDROM},
                                                         {"ramdisk", DRIVE_RAMDISK}};
    for (auto& [name, type] : kTypes)
        if (it->second.type == name) return type;
    return DRIVE_UNKNOWN;
}

BOOL WINAPI GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                              LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters) {
    if (DWORD e = injectedFault("GetDiskFreeSpaceA", lpRootPathName ? lpRootPathName : "")) return fail(e);
    Machine& m = machine();
    ResolvedPath p;
    if (DWORD e = resolvePath(m, lpRootPathName ? lpRootPathName : "\\", p)) return fail(e);
    if (!p.exists || !p.isDir) return fail(ERROR_PATH_NOT_FOUND);
    const Drive& d = m.drives.at(p.drive);
    std::uint64_t total = d.total, free = d.free;
    DWORD bytesPerSector = 512, sectorsPerCluster;
    if (d.fat) {
        // FAT16: the smallest cluster that keeps the count under 65525.
        sectorsPerCluster = 1;
        while (sectorsPerCluster < 128 && total / (bytesPerSector * (std::uint64_t)sectorsPerCluster) >= 65525)
            sectorsPerCluster *= 2;
    } else {
        // NTFS defaults: 512 bytes up to 512 MB, 1 KB to 1 GB, 2 KB to 2 GB, then 4 KB.
        sectorsPerCluster = total <= (512ull << 20) ? 1 : total <= (1ull << 30) ? 2 : total <= (2ull << 30) ? 4 : 8;
    }
    std::uint64_t cluster = (std::uint64_t)bytesPerSector * sectorsPerCluster;
    std::uint64_t totalClusters = total / cluster, freeClusters = free / cluster;
    if (!m.os.isNT()) {
        // Windows 95 reports at most 2 GB: 65526 clusters of 32 KB.
        const std::uint64_t cap = 2147155968ull;
        if (total > cap || free > cap) {
            sectorsPerCluster = 64;
            cluster = 32768;
            totalClusters = std::min<std::uint64_t>(total, cap) / cluster;
            freeClusters = std::min<std::uint64_t>(free, cap) / cluster;
        }
    }
    if (totalClusters > 0xFFFFFFFFull) totalClusters = 0xFFFFFFFFull;
    if (freeClusters > 0xFFFFFFFFull) freeClusters = 0xFFFFFFFFull;
    if (lpSectorsPerCluster) *lpSectorsPerCluster = sectorsPerCluster;
    if (lpBytesPerSector) *lpBytesPerSector = bytesPerSector;
    if (lpNumberOfFreeClusters) *lpNumberOfFreeClusters = (DWORD)freeClusters;
    if (lpTotalNumberOfClusters) *lpTotalNumberOfClusters = (DWORD)totalClusters;
    return TRUE;
}

}  // extern "C"
