// State of the security family of the simulated machine, and how it is read
// from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>

namespace winsim {

struct SecurityState {
};

// True when the user's token holds the named privilege enabled (used by
// ExitWindowsEx, which needs SeShutdownPrivilege on NT).
bool privilegeEnabled(std::string_view name);

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadSecurity(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveSecurity(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showSecurity(std::ostream& out, const Machine& m);

}  // namespace winsim
