// Finding program files on the simulated drives, for CreateProcess and
// ShellExecute, over the files family's path resolution (case-insensitive
// names, never leaving the drives' host folders).
#pragma once

#include "winsim/core/machine.h"

#include <string>
#include <vector>

namespace winsim {

// The full Windows form of `path` ("C:\DIR\FILE"), a relative path taken
// from the directory `base`. Empty when the path is malformed.
std::string absoluteWindowsPath(const Machine& m, std::string_view path, std::string_view base);

enum class PathKind { Missing, MissingDir, File, Directory };

struct FoundPath {
    PathKind kind = PathKind::Missing;
    std::string path;  // full Windows path with the names as stored on disk
    std::string name;  // last component as stored on disk
};

// Looks a full Windows path up; MissingDir when a directory on the way is
// missing (or the path cannot be resolved), Missing when only the last
// component is.
FoundPath lookUpPath(const Machine& m, std::string_view fullPath);

// The directories searched for a program named without a path: the current
// directory (which is also where the running program was started from), the
// system directory, on NT the 16-bit system directory, the Windows directory,
// then the PATH entries.
std::vector<std::string> programSearchDirs(const Machine& m);

}  // namespace winsim
