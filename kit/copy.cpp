// The copy list and the copy engine. Sections of the INF are queued with
// their source and destination directories; GrcCopyFilesInCopyList checks
// the free space of every destination drive, creates missing directories
// and copies with CopyFileA, asking through the front-end what to do when
// a drive is full or a file is in use.
//
// INF fields used: 1 the source file name, 2 the destination file name
// (empty: the same as field 1), 3 a subdirectory of the source directory
// holding the file (empty: the source directory itself), 15 the size in
// bytes. Fields 4 to 14 are free for the maintainer's notes.
#include "internal.h"

#include <setupkit.h>

#include <cstdlib>
#include <map>

namespace kit {

bool createDirectories(const std::string& path);  // files.cpp

namespace {

struct Entry {
    std::string src;
    std::string dst;
    std::uint64_t size;
};
std::vector<Entry> copyList;

std::string joinPath(const std::string& dir, std::string_view name) {
    if (dir.empty()) return std::string(name);
    if (dir.back() == '\\' || dir.back() == '/' || dir.back() == ':') return dir + std::string(name);
    return dir + "\\" + std::string(name);
}

std::uint64_t parseSize(std::string_view s) {
    std::uint64_t v = 0;
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && v < (1ull << 50); ++i) v = v * 10 + (unsigned)(s[i] - '0');
    return v;
}

std::string parentOf(const std::string& path) {
    std::size_t p = path.find_last_of("\\/");
    return p == std::string::npos ? std::string() : path.substr(0, p);
}

// Sizes of the files in one directory by lower-case name; empty when the
// directory does not exist. One listing per directory, not one search per
// file: a section copies many files into one directory.
std::map<std::string, std::uint64_t> fileSizesIn(const std::string& dir) {
    std::map<std::string, std::uint64_t> sizes;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(joinPath(dir, "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return sizes;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        sizes[lowerAscii(fd.cFileName)] = ((std::uint64_t)fd.nFileSizeHigh << 32) | fd.nFileSizeLow;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return sizes;
}

bool freeBytes(char drive, std::uint64_t& out) {
    char root[4] = {drive, ':', '\\', 0};
    DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
    if (!GetDiskFreeSpaceA(root, &spc, &bps, &freeClusters, &total)) return false;
    out = (std::uint64_t)spc * bps * freeClusters;
    return true;
}

std::string kb(std::uint64_t bytes) { return std::to_string((bytes + 1023) / 1024) + " KB"; }

// The free-space check of every destination drive, before anything is
// copied. Returns 0 when there is room, grcUserQuit when the user gave up.
int checkSpace() {
    for (;;) {
        std::map<char, std::uint64_t> needed;
        std::map<std::string, std::map<std::string, std::uint64_t>> existing;  // by lower-case directory
        for (const Entry& e : copyList) {
            if (e.dst.size() < 2 || e.dst[1] != ':') continue;
            char d = (char)(e.dst[0] & ~0x20);
            std::string dir = parentOf(e.dst);
            auto listed = existing.find(lowerAscii(dir));
            if (listed == existing.end()) listed = existing.emplace(lowerAscii(dir), fileSizesIn(dir)).first;
            auto file = listed->second.find(lowerAscii(dir.empty() ? e.dst : e.dst.substr(dir.size() + 1)));
            std::uint64_t old = file == listed->second.end() ? 0 : file->second;
            needed[d] += e.size > old ? e.size - old : 0;
        }
        bool shortOfSpace = false;
        std::string text;
        for (auto& [d, need] : needed) {
            std::uint64_t avail = 0;
            if (!freeBytes(d, avail)) continue;  // the copy itself reports the drive
            if (avail < need) {
                shortOfSpace = true;
                text = std::string("There is not enough space on drive ") + d + ": for the files. Needed: " + kb(need) +
                       ", free: " + kb(avail) + ". Make room and choose Retry, or Cancel to stop setup.";
                break;
            }
        }
        if (!shortOfSpace) return 0;
        if (box(text.c_str(), "Disk Full", MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY) return grcUserQuit;
    }
}

}  // namespace

void resetCopyList() { copyList.clear(); }
std::size_t copyListSize() { return copyList.size(); }

extern void (*copyListReset)();
namespace {
const bool hooked = (copyListReset = resetCopyList, true);
}

}  // namespace kit

using namespace kit;

extern "C" {

BOOL WINAPI FAddSectionFilesToCopyList(LPCSTR section, LPCSTR srcDir, LPCSTR dstDir) {
    const auto& inf = currentInf();
    if (!section || !srcDir || !dstDir) return FALSE;
    if (!inf) {
        logLine(std::string("copy: no INF file open for [") + section + "]");
        return FALSE;
    }
    const InfSection* s = inf->section(section);
    if (!s) {
        logLine("inf " + inf->path + ": no section [" + section + "]");
        return FALSE;
    }
    std::vector<Entry> add;
    for (std::uint32_t li : s->lines) {
        const InfLine& l = inf->lines[li];
        std::string_view name = inf->field(l, 1);
        if (name.empty()) {
            logLine("inf " + inf->path + ": line " + std::to_string(l.lineNo) + ": no file name in field 1");
            return FALSE;
        }
        std::string_view dstName = inf->field(l, 2);
        std::string_view sub = inf->field(l, 3);
        Entry e;
        e.src = joinPath(sub.empty() ? std::string(srcDir) : joinPath(srcDir, sub), name);
        e.dst = joinPath(dstDir, dstName.empty() ? name : dstName);
        e.size = parseSize(inf->field(l, 15));
        if (e.src.size() >= MAX_PATH || e.dst.size() >= MAX_PATH) {
            logLine("copy: path too long for " + std::string(name) + " of [" + section + "]");
            return FALSE;
        }
        add.push_back(std::move(e));
    }
    copyList.insert(copyList.end(), add.begin(), add.end());
    return TRUE;
}

INT WINAPI GrcCopyFilesInCopyList(HINSTANCE) {
    int grc = checkSpace();
    unsigned total = (unsigned)copyList.size();
    Gauge gauge;
    gauge.totalFiles = total;
    for (const Entry& e : copyList) gauge.totalBytes += e.size;
    std::string madeDir;  // the destination directory known to exist
    for (unsigned i = 0; grc == grcOkay && i < total; ++i) {
        const Entry& e = copyList[i];
        gauge.files = i;
        gauge.name = e.dst.c_str();
        frontEnd().progress(gauge);
        gauge.bytes += e.size;
        std::string dir = parentOf(e.dst);
        if (!dir.empty() && dir == madeDir) {
            // made or found for the file before
        } else if (!dir.empty() && createDirectories(dir)) {
            madeDir = dir;
        } else if (!dir.empty()) {
            std::string text = "Cannot create the directory " + dir + " (error " + std::to_string(GetLastError()) + ").";
            box(text.c_str(), "Copy Error", MB_OK | MB_ICONSTOP);
            grc = grcNotOkay;
            break;
        }
        for (;;) {
            if (CopyFileA(e.src.c_str(), e.dst.c_str(), FALSE)) break;
            DWORD err = GetLastError();
            bool inUse = err == ERROR_SHARING_VIOLATION || err == 33 /* ERROR_LOCK_VIOLATION */ ||
                         (err == ERROR_ACCESS_DENIED && GetFileAttributesA(e.dst.c_str()) != INVALID_FILE_ATTRIBUTES &&
                          !(GetFileAttributesA(e.dst.c_str()) & FILE_ATTRIBUTE_READONLY));
            bool full = err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL;
            if (inUse || full) {
                std::string text = inUse ? "The file " + e.dst +
                                               " is in use by another program. Close that program and choose Retry, "
                                               "or Cancel to stop setup."
                                         : "The disk is full while copying " + e.dst +
                                               ". Make room and choose Retry, or Cancel to stop setup.";
                if (box(text.c_str(), inUse ? "File In Use" : "Disk Full", MB_RETRYCANCEL | MB_ICONEXCLAMATION) ==
                    IDRETRY)
                    continue;
                grc = grcUserQuit;
            } else {
                std::string text = "Cannot copy " + e.src + " to " + e.dst + " (error " + std::to_string(err) + ").";
                box(text.c_str(), "Copy Error", MB_OK | MB_ICONSTOP);
                grc = grcNotOkay;
            }
            break;
        }
    }
    if (grc == grcOkay) {
        gauge.files = total;
        gauge.name = "";
        frontEnd().progress(gauge);
    }
    copyList.clear();
    return grc;
}

BOOL WINAPI ResetCopyList(void) {
    copyList.clear();
    return TRUE;
}

}  // extern "C"
