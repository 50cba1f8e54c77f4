// A fresh machine with Windows installed in its classic places, as
// 'winsim new' creates it.
#pragma once

#include "winsim/core/machine.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace winsim {

struct NewMachineOptions {
    std::string os = "nt351";  // nt351, nt350, nt31, win95, nt40
    std::string arch = "x86";  // x86, alpha, mips
    bool admin = true;
    std::optional<int> major, minor, build;           // pose any version word
    std::map<char, std::uint64_t> diskFree;            // letter -> free bytes
    // The drive holding the Windows distribution (a CD-ROM), or 0 for none.
    // The registry records its path either way (WinntPath / SourcePath).
    char windowsDist = 'E';
    // Where the PostScript driver modules of Windows stand: "none", the
    // printer-driver directory itself ("driverdir"), or only its version
    // subdirectory ("versiondir": 1 on NT 3.5x, 0 on NT 3.1x; or a folder
    // name given as "versiondir=NAME").
    std::string psModules = "none";
    // Run time of the cabinet tool in ms (0: not declared, winsim's default).
    std::uint64_t extractMs = 0;
};

// Parses the --os value; false when unknown.
bool knownOs(const std::string& os);

// Builds the machine with its drives under `driveRoot/<letter>`.
// Throws std::invalid_argument for unknown options.
std::unique_ptr<Machine> newMachine(const NewMachineOptions& opt, const std::filesystem::path& driveRoot);

// What the system does once it has started, on the installed (current)
// machine: the spooler loads the registered print monitors (NT: when its
// service runs; Windows 95: always).
void startMachine(Machine& m);

}  // namespace winsim
