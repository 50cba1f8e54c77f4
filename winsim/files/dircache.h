// Case-insensitive name lookup in large host directories without reading
// the whole directory for every lookup.
//
// Windows names are matched ignoring case, so a name that does not exist
// as written has to be compared with every entry of its directory. A copy
// of thousands of new files into one directory would read that directory
// once per file. Large directories are therefore listed once and the
// listing is kept up to date with inotify: the kernel queues an event for
// every entry created, deleted or renamed in a watched directory before
// the call that changed it returns, so each lookup first applies the queued
// events and the listing is never stale, whoever changed the directory.
// The folders above a kept listing are watched for their moving or deletion
// too: while none of them has moved, the listing is the folder at its path,
// and a lookup needs no look at the host to know it.
#pragma once

#include <filesystem>
#include <sys/types.h>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// The entries of host directory `dir` whose names equal `name` ignoring
// case (as iequals compares), in no particular order. A directory that
// cannot be read has no entries.
std::vector<std::string> caseInsensitiveMatches(const std::string& dir, std::string_view name);

// The same answer, but only from a listing already kept: true (and the
// matches in `out`) when `dir` is a large directory watched and current,
// false when the host would have to be asked.
// True when a listing of `dir` is kept (it may still prove stale).
bool hasKeptListing(const std::string& dir);

// `known` (when given) is what `dir` is now, as the caller has just seen it
// on the host, which spares asking again (a listing whose folders above are
// watched needs neither).
struct HostIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
};
bool cachedMatches(const std::string& dir, std::string_view name, std::vector<std::string>& out,
                   const HostIdentity* known = nullptr);

}  // namespace winsim
