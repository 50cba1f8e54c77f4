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
};

// Parses the --os value; false when unknown.
bool knownOs(const std::string& os);

// Builds the machine with its drives under `driveRoot/<letter>`.
// Throws std::invalid_argument for unknown options.
std::unique_ptr<Machine> newMachine(const NewMachineOptions& opt, const std::filesystem::path& driveRoot);

}  // namespace winsim
