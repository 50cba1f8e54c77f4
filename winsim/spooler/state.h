// State of the spooler family of the simulated machine, and how it is read
// from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>

namespace winsim {

struct SpoolerState {
};

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadSpooler(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveSpooler(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showSpooler(std::ostream& out, const Machine& m);

}  // namespace winsim
