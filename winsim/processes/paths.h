// Finding program files on the simulated drives, for CreateProcess and
// ShellExecute. A small resolver of our own: Windows paths (drive letters,
// backslashes, case-insensitive names) onto the host folders of the image,
// never leaving them (".." stops at the drive's root, symbolic links are not
// followed).
#pragma once

#include "winsim/core/machine.h"

#include <optional>
#include <string>
#include <vector>

namespace winsim {

// The absolute Windows form of `path` ("C:\DIR\FILE"), relative paths taken
// from `base` (a directory such as the current one). Empty when the drive is
// not mapped or the path is malformed.
std::string absoluteWindowsPath(const Machine& m, std::string_view path, std::string_view base);

enum class PathKind { Missing, MissingDir, File, Directory };

struct FoundPath {
    PathKind kind = PathKind::Missing;
    std::string path;  // absolute Windows path with the names as stored on disk
    std::string name;  // last component as stored on disk
};

// Looks the absolute Windows path up; MissingDir when a parent directory is
// missing, Missing when only the last component is.
FoundPath lookUpPath(const Machine& m, std::string_view absolutePath);

// The directories searched for a program named without a path: the current
// directory (which is also where the running program was started from), the
// system directory, on NT the 16-bit system directory, the Windows directory,
// then the PATH entries.
std::vector<std::string> programSearchDirs(const Machine& m);

}  // namespace winsim
