// What differs between two machines: machine state (services, processes,
// spooler, Program Manager, ...), registry keys and values, and files, one
// change per line. `winsim diff` compares two images with it; setup's
// --report and --dry-run compare the machine before and after the run.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace winsim {

struct FileStamp {
    std::uintmax_t size = 0;
    std::size_t hash = 0;
    bool directory = false;
};

// Everything a comparison looks at, read from a machine at one moment.
struct MachineSnapshot {
    nlohmann::json state;                                         // machine.json
    std::map<std::string, std::vector<std::string>> registry;    // "[key]" -> its value lines
    std::map<std::string, FileStamp> files;                      // "C:\dir\file" ("...\" for a folder)
};
MachineSnapshot snapshotMachine(const Machine& m);

// One difference: sign '+' (added), '-' (removed) or '~' (changed); kind
// "state", "key", "value" or "file"; and what it is about.
struct Change {
    char sign;
    std::string kind;
    std::string what;
};
std::vector<Change> diffMachines(const MachineSnapshot& before, const MachineSnapshot& after);

// "<sign> <kind> <what>": the line `winsim diff` prints.
std::string changeLine(const Change& c);
// The changes as text, one line each, or as a JSON array with one object
// ({"change": "added|removed|changed", "kind": ..., "what": ...}) a line.
void writeChanges(const std::vector<Change>& changes, std::ostream& out, bool asJson);

}  // namespace winsim
