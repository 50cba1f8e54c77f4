// Windows paths of the simulated machine resolved onto the host folders of
// its drives, and the helpers the file functions share.
//
// Rules: drive letters and names are case-insensitive (an existing host
// entry is found by case-insensitive match, a new one is created as
// written); '/' is accepted as a separator; "." and ".." are resolved
// textually and ".." never climbs above the drive root; host symbolic links
// are never followed (they count as missing, and nothing can be created over
// them), so a resolved path always lies inside the drive's host folder.
#pragma once

#include "winsim/core/machine.h"
#include "winsim/files/dircache.h"
#include "winsim/files/state.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

struct ResolvedPath {
    char drive = 'C';
    std::string winPath;            // normalised full path: "C:\dir\name", root "C:\"
    std::vector<std::string> parts;  // components below the root, as found or as written
    std::filesystem::path host;     // where the entry is (or would be) on the host
    bool exists = false;
    bool isDir = false;
    bool isRoot = false;
    bool blocked = false;  // a host symbolic link (or other special file) stands at this name
    bool wildcard = false; // the last component holds '*' or '?'
    bool trailingSlash = false;
    std::uint64_t size = 0;  // bytes of an existing file, as found
    std::string parentWinPath() const;
    std::filesystem::path hostParent() const { return isRoot ? host : host.parent_path(); }
    const std::string& name() const { return parts.back(); }
};

// Resolves `path` against machine `m` (current directory, drives). Returns 0
// or the Win32 error: ERROR_PATH_NOT_FOUND (empty path, unknown drive, a
// missing or non-directory intermediate component), ERROR_FILENAME_EXCED_RANGE
// (MAX_PATH or more characters), ERROR_INVALID_NAME (characters Windows
// refuses; wildcards unless `allowWildcards`), ERROR_BAD_NETPATH (UNC names).
DWORD resolvePath(const Machine& m, std::string_view path, ResolvedPath& out, bool allowWildcards = false);

// The full Windows path of `path` without touching the host (used for
// PendingFileRenameOperations and the current directory): drive letter as
// written, ".." and "." resolved, separators normalised.
DWORD fullWindowsPath(const Machine& m, std::string_view path, std::string& out);

// The name of an entry in host directory `dir` that matches `name`
// case-insensitively ("" when none). Symbolic links and the machine's own
// temporary files are never returned; `blocked` reports a link standing there;
// `isDir` (when given) tells whether the entry found is a directory, `size`
// the bytes of a file found; `dirId` is what `dir` is on the host when the
// caller has just looked; `fromListing` tells whether a kept listing of `dir`
// answered (which shows that `dir` is there).
std::string findHostEntry(const std::string& dir, std::string_view name, bool* blocked = nullptr,
                          bool* isDir = nullptr, std::uint64_t* size = nullptr, const HostIdentity* dirId = nullptr,
                          bool* fromListing = nullptr);

// True for the host names of temporary files the machine writes while
// copying; they are invisible to Windows callers.
bool isHiddenHostName(std::string_view name);

// Attributes of an existing resolved entry, as the image records them.
DWORD attributesOf(const Machine& m, const ResolvedPath& p);

// Metadata of a normalised path (null when none kept).
FileMeta* findMeta(Machine& m, std::string_view winPath);
const FileMeta* findMeta(const Machine& m, std::string_view winPath);
FileMeta& metaFor(Machine& m, const std::string& winPath);
// Drops metadata entries whose default values make them redundant.
void pruneMeta(Machine& m, const std::string& winPath);

// Wildcard match as FindFirstFile applies it ('*', '?', "*.*" matches every
// name, a pattern ending in ".*" also matches a name without extension).
bool matchesWildcard(std::string_view pattern, std::string_view name);

// Drive free-space accounting in bytes (clusters are only derived for
// GetDiskFreeSpace). reserve() fails when the bytes do not fit.
bool reserveSpace(Machine& m, char drive, std::uint64_t bytes);
void releaseSpace(Machine& m, char drive, std::uint64_t bytes);

// The host file `host` gets an inode of its own when it shares one with
// another path (the image's original), so that writing it leaves the image
// untouched. Returns false when the host refuses.
bool breakHardLink(const std::filesystem::path& host);

// A unique name for a temporary host file in `dir`.
std::filesystem::path tempHostPath(const std::filesystem::path& dir);

}  // namespace winsim
