// VerInstallFileA of VERSION.DLL over the simulated machine's files.
//
// The version compared is the one the image records for a file (the
// "version" of its metadata, "major.minor.build.revision"); a file without
// one carries no version resource. What the call does, in order:
//   1. the source (source directory + source name) must be a readable file,
//      else VIF_CANNOTREADSRC;
//   2. an existing destination marked read-only gives VIF_WRITEPROT, and
//      nothing is copied;
//   3. the source is copied to a temporary file "VERxxxx.TMP" in the
//      destination directory (a missing directory: VIF_CANNOTCREATE; no room
//      on its drive: VIF_OUTOFSPACE); with VIFF_FORCEINSTALL a temporary
//      file named in szTmpFile that exists there is used instead;
//   4. without VIFF_FORCEINSTALL, a destination whose version is newer than
//      the source's (or a versioned destination and a source without a
//      version) gives VIF_MISMATCH | VIF_SRCOLD; the temporary copy stays
//      beside the destination and its name (no directory) is returned:
//      VIF_TEMPFILE. A destination that is in use (a loaded module, or open
//      in another process) gives VIF_FILEINUSE | VIF_TEMPFILE in the same way;
//   5. otherwise the destination (and, unless VIFF_DONTDELETEOLD, the old
//      copy in szCurDir when that is another directory) is deleted and the
//      temporary file renamed to the destination name: the result is 0.
// A temporary name that does not fit the caller's buffer (*puTmpFileLen
// characters with the NUL) is not written: the temporary file is deleted,
// the result carries VIF_BUFFTOOSMALL instead of VIF_TEMPFILE, and
// *puTmpFileLen receives the size needed. A successful install leaves the
// buffer and its length alone.
//
// Faults: a fault declared for "VerInstallFileA" (target: the destination
// file name) makes the call return the fault's error value as its result
// bits, without touching any file.
#include "winsim/files/ops.h"
#include "winsim/files/paths.h"

#include <windows.h>
#include <winver.h>

#include <cstdio>
#include <cstring>

namespace winsim {

namespace {

// "dir\name" into a MAX_PATH buffer; false when it does not fit.
bool joinPath(const char* dir, const char* name, std::string& out) {
    char buf[MAX_PATH];
    std::size_t len = std::strlen(dir);
    const char* sep = (len && (dir[len - 1] == '\\' || dir[len - 1] == '/')) ? "" : "\\";
    int n = std::snprintf(buf, sizeof buf, "%s%s%s", dir, sep, name);
    if (n < 0 || (std::size_t)n >= sizeof buf) return false;
    out = buf;
    return true;
}

// A name without a directory part (the documented form of the names).
bool isPlainName(const char* s) { return s && *s && !std::strpbrk(s, "\\/:"); }

DWORD errorBits(DWORD e) {
    if (e == ERROR_ACCESS_DENIED) return VIF_ACCESSVIOLATION;
    if (e == ERROR_SHARING_VIOLATION) return VIF_SHARINGVIOLATION;
    return 0;
}

// The first free "VERxxxx.TMP" name in the resolved directory `dir`.
bool freeTempName(Machine& m, const std::string& dirWin, std::string& name, std::string& full) {
    for (unsigned n = 1; n <= 0xFFFF; ++n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "VER%04X.TMP", n);
        std::string candidate;
        if (!joinPath(dirWin.c_str(), buf, candidate)) return false;
        ResolvedPath p;
        if (resolvePath(m, candidate, p) != 0) return false;
        if (!p.exists && !p.blocked) {
            name = buf;
            full = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

bool parseFileVersion(std::string_view text, std::uint64_t& packed) {
    packed = 0;
    if (text.empty()) return false;
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        if (parts == 4 || i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        std::uint32_t v = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + (std::uint32_t)(text[i] - '0');
            if (v > 0xFFFF) return false;
            ++i;
        }
        packed |= (std::uint64_t)v << (48 - 16 * parts);
        ++parts;
        if (i == text.size()) return true;
        if (text[i] != '.') return false;
        ++i;
    }
}

}  // namespace winsim

using namespace winsim;

extern "C" {

DWORD WINAPI VerInstallFileA(DWORD uFlags, LPSTR szSrcFileName, LPSTR szDestFileName, LPSTR szSrcDir,
                             LPSTR szDestDir, LPSTR szCurDir, LPSTR szTmpFile, PUINT lpuTmpFileLen) {
    if (DWORD e = injectedFault("VerInstallFileA", szDestFileName ? szDestFileName : "")) return e;
    Machine& m = machine();
    if (!lpuTmpFileLen || !szTmpFile) return VIF_ACCESSVIOLATION;
    if (!isPlainName(szSrcFileName) || !szSrcDir || !*szSrcDir) return VIF_CANNOTREADSRC;
    if (!isPlainName(szDestFileName)) return VIF_CANNOTCREATE;
    const char* destDir = szDestDir && *szDestDir ? szDestDir : szSrcDir;

    // 1. The source.
    std::string srcPath;
    ResolvedPath src;
    if (!joinPath(szSrcDir, szSrcFileName, srcPath) || resolvePath(m, srcPath, src) != 0 || !src.exists ||
        src.isDir)
        return VIF_CANNOTREADSRC;

    // 2. The destination.
    std::string destPath;
    ResolvedPath dest;
    if (!joinPath(destDir, szDestFileName, destPath)) return VIF_CANNOTCREATE;
    DWORD e = resolvePath(m, destPath, dest);
    if (e) return VIF_CANNOTCREATE;
    if (dest.exists && dest.isDir) return VIF_CANNOTCREATE | VIF_ACCESSVIOLATION;
    if (dest.exists && (attributesOf(m, dest) & FILE_ATTRIBUTE_READONLY)) return VIF_WRITEPROT;
    ResolvedPath dir;
    if (resolvePath(m, destDir, dir) != 0 || !dir.exists || !dir.isDir) return VIF_CANNOTCREATE;

    // 3. The temporary copy.
    std::string tmpName, tmpPath;
    bool reuse = false;
    if ((uFlags & VIFF_FORCEINSTALL) && *lpuTmpFileLen > 0 && szTmpFile[0] &&
        std::memchr(szTmpFile, '\0', *lpuTmpFileLen) && isPlainName(szTmpFile)) {
        ResolvedPath given;
        if (joinPath(dir.winPath.c_str(), szTmpFile, tmpPath) && resolvePath(m, tmpPath, given) == 0 &&
            given.exists && !given.isDir) {
            tmpName = szTmpFile;
            reuse = true;
        }
    }
    if (!reuse) {
        if (!freeTempName(m, dir.winPath, tmpName, tmpPath)) return VIF_CANNOTCREATE;
        e = copyOp(m, srcPath, tmpPath, true);
        if (e == ERROR_DISK_FULL) return VIF_OUTOFSPACE;
        if (e == ERROR_SHARING_VIOLATION || e == ERROR_FILE_NOT_FOUND) return VIF_CANNOTREADSRC | errorBits(e);
        if (e) return VIF_CANNOTCREATE | errorBits(e);
        // The copy is a new file: it keeps the version, not the attributes.
        if (FileMeta* t = findMeta(m, tmpPath)) {
            t->attributes.reset();
            pruneMeta(m, tmpPath);
        }
    }

    // 4. Versions and use of the file in place.
    DWORD result = 0;
    if (dest.exists) {
        const FileMeta* dm = findMeta(m, dest.winPath);
        const FileMeta* tm = findMeta(m, tmpPath);
        std::uint64_t dv = 0, tv = 0;
        bool destVersioned = dm && parseFileVersion(dm->version, dv);
        bool tmpVersioned = tm && parseFileVersion(tm->version, tv);
        if (!(uFlags & VIFF_FORCEINSTALL) && destVersioned && (!tmpVersioned || dv > tv))
            result |= VIF_MISMATCH | VIF_SRCOLD;
        if (dm && dm->inUse != InUse::None) result |= VIF_FILEINUSE;
    }
    if (result) {
        UINT needed = (UINT)tmpName.size() + 1;
        if (*lpuTmpFileLen < needed) {
            deleteFileOp(m, tmpPath);
            *lpuTmpFileLen = needed;
            return result | VIF_BUFFTOOSMALL;
        }
        std::memcpy(szTmpFile, tmpName.c_str(), needed);
        *lpuTmpFileLen = needed;
        return result | VIF_TEMPFILE;
    }

    // 5. Into place.
    if (dest.exists) {
        if ((e = deleteFileOp(m, destPath))) {
            deleteFileOp(m, tmpPath);
            return VIF_CANNOTDELETE | errorBits(e);
        }
    }
    if (!(uFlags & VIFF_DONTDELETEOLD) && szCurDir && *szCurDir) {
        ResolvedPath cur;
        if (resolvePath(m, szCurDir, cur) == 0 && cur.exists && !iequals(cur.winPath, dir.winPath)) {
            std::string oldPath;
            ResolvedPath old;
            if (joinPath(cur.winPath.c_str(), szDestFileName, oldPath) && resolvePath(m, oldPath, old) == 0 &&
                old.exists && !old.isDir)
                if ((e = deleteFileOp(m, oldPath))) result |= VIF_CANNOTDELETECUR | errorBits(e);
        }
    }
    if ((e = moveOp(m, tmpPath, destPath, false, false))) {
        deleteFileOp(m, tmpPath);
        return result | VIF_CANNOTRENAME | errorBits(e);
    }
    return result;
}

}  // extern "C"
