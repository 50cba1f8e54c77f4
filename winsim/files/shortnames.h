// Short (8.3) names of the simulated machine's files, as FAT gives every
// long name a short alias: the first six usable characters of the name, "~"
// and a number, and the first three characters of the extension, upper
// case. Names that are already valid 8.3 names are their own alias.
//
// Aliases are worked out from the directory's current entries, in the order
// FindFirstFile lists them (on FAT the order written): the first long name
// with a given stem gets ~1, the next ~2, skipping numbers that another
// entry's name already takes. Real FAT fixes an alias when the entry is
// written; here deleting an earlier sibling can renumber a later one.
#pragma once

#include "winsim/core/machine.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace winsim {

// True when `name` is a valid 8.3 name (letter case ignored): one to eight
// characters, optionally a dot and one to three more, none of them a blank
// or one of + , ; = [ ] and no further dot.
bool isShortName(std::string_view name);

// True when every component of the full path `path` ("C:\DIR\NAME.EXT")
// below its drive is a valid 8.3 name.
bool isShortPath(std::string_view path);

// The alias of the entry `name` (as found on the host) of the directory
// whose host folder is `hostDir` and whose normalised Windows path is
// `dirWinPath`.
std::string shortAliasOf(const Machine& m, const std::filesystem::path& hostDir, const std::string& dirWinPath,
                         const std::string& name);

// The host name of the entry of that directory whose alias is `alias`
// (letter case ignored), or "" when none has it.
std::string entryWithAlias(const Machine& m, const std::filesystem::path& hostDir, const std::string& dirWinPath,
                           std::string_view alias);

}  // namespace winsim
