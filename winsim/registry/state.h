// State of the registry family of the simulated machine, and how it is read
// from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>

namespace winsim {

struct RegistryState {
};

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadRegistry(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveRegistry(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showRegistry(std::ostream& out, const Machine& m);

}  // namespace winsim

namespace winsim {
// Reads every REGEDIT4 file of an image's registry/ folder into the
// machine's registry (HKEY_LOCAL_MACHINE.reg, HKEY_CURRENT_USER.reg).
// Throws ImageError naming the file and line of the first fault.
void readRegistryFolder(const std::filesystem::path& dir, Machine& m);
// Writes the registry as one REGEDIT4 file per root key into `dir`.
void writeRegistryFolder(const std::filesystem::path& dir, const Machine& m);
}  // namespace winsim
