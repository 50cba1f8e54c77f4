// State of the files family of the simulated machine, and how it is read
// from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>

namespace winsim {

struct FileState {
};

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadFile(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveFile(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showFile(std::ostream& out, const Machine& m);

}  // namespace winsim
