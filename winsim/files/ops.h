// Internal file operations shared by the Win32 file functions and the
// restart processing. Each returns 0 or the Win32 error Windows gives.
#pragma once

#include "winsim/files/paths.h"

#include <string>

namespace winsim {

// Deletes a file (never a directory).
DWORD deleteFileOp(Machine& m, std::string_view path);
// Removes an empty directory.
DWORD removeDirectoryOp(Machine& m, std::string_view path);
// Moves or renames a file or directory. `replace` allows an existing
// destination file to be replaced; `copyAllowed` allows a move to another
// drive (done as copy and delete; directories never move across drives).
DWORD moveOp(Machine& m, std::string_view from, std::string_view to, bool replace, bool copyAllowed);
// Copies a file; the destination is complete or untouched.
DWORD copyOp(Machine& m, std::string_view from, std::string_view to, bool failIfExists);

// Puts the finished host file `tmp` (written beside the destination with a
// temporary name, see tempHostPath) at the Windows path `to` as a new file
// without records, replacing an existing file when `replace`. The drive's
// free space pays for the growth. On failure `tmp` is removed and nothing
// else changes.
DWORD placeHostFileOp(Machine& m, const std::filesystem::path& tmp, std::string_view to, bool replace);

// Appends one pair to PendingFileRenameOperations (NT): `to` null or empty
// schedules a deletion, `replace` prefixes the destination with '!'.
DWORD schedulePendingRename(Machine& m, std::string_view from, const char* to, bool replace);

// The pairs of PendingFileRenameOperations as stored (source, destination),
// or an empty list when the value is missing or the registry is absent.
std::vector<std::pair<std::string, std::string>> pendingRenames();

// The lines of the [rename] section of wininit.ini (key, value).
std::vector<std::pair<std::string, std::string>> wininitRenames(Machine& m);

}  // namespace winsim
