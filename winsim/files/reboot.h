// What a restart of the simulated Windows carries out.
#pragma once

#include "winsim/core/machine.h"

#include <string>
#include <vector>

namespace winsim {

// Restarts machine `m`, which must be the installed machine (the pending
// operations of NT are read through the registry functions):
//  - every process ends, so no file is in use any more;
//  - NT: the pairs of PendingFileRenameOperations are carried out in order
//    ("\??\" prefixes dropped; an empty destination deletes, a directory
//    only when empty; a destination starting with '!' replaces an existing
//    file), then the value is deleted;
//  - Windows 95: the [rename] section of wininit.ini in the Windows
//    directory is carried out in order (NUL=SRC deletes, DEST=SRC moves over
//    DEST; a line with a name that is not a short 8.3 name is refused), then
//    the file is renamed WININIT.BAK;
//  - the virtual clock starts again at tick 0 (the boot time moves on).
// Returns one line per operation, saying what was done or why not.
std::vector<std::string> rebootMachine(Machine& m);

}  // namespace winsim
