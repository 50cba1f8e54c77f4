// State of the services family of the simulated machine, and how it is read
// from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>

namespace winsim {

struct ServiceState {
};

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadService(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveService(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showService(std::ostream& out, const Machine& m);

}  // namespace winsim
