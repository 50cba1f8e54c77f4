// State of the files family of the simulated machine, and how it is read
// from and written to a machine image.
//
// The files themselves live in the drives' host folders; this state keeps
// what a host file cannot carry: Windows attributes, the version resource
// (for VerInstallFile), whether another process has the file in use, and
// on FAT drives the order in which directory entries were written.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace winsim {

enum class InUse { None, Loaded, Open };

struct FileMeta {
    InUse inUse = InUse::None;
    // Who holds a loaded file: "spooler" for the monitor modules the spooler
    // loads (it lets them go when it stops); empty for any other process,
    // which lets go only at the next start of Windows.
    std::string loadedBy;
    std::string version;                // "1.2.0.0"; empty = none recorded
    std::optional<DWORD> attributes;    // absent = the default for the kind of entry
};

struct FileState {
    // Keyed by the normalised Windows path ("C:\WINNT35\system32\x.dll").
    std::map<std::string, FileMeta, CaseLess> meta;
    // FAT drives: sequence number of each entry written by the machine;
    // entries without one count as written before, in name order.
    std::map<std::string, std::uint64_t, CaseLess> fatOrder;
    std::uint64_t nextFatOrder = 1;
};

// Parses a file version "major.minor.build.revision" (one to four numbers
// of 0..65535; missing parts count 0) into the 64-bit form in which the
// version resource keeps it (major in the top 16 bits). False when the text
// is not such a version.
bool parseFileVersion(std::string_view text, std::uint64_t& packed);

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadFile(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveFile(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showFile(std::ostream& out, const Machine& m);

}  // namespace winsim
