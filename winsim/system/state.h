// State of the system family of the simulated machine, and how it is read
// from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <map>
#include <set>
#include <string>

namespace winsim {

// What the image declares about a module: missing altogether, or some of
// its exports missing (GetProcAddress names are case-sensitive).
struct ModuleDecl {
    bool missing = false;
    std::set<std::string> missingExports;
};

struct SystemState {
    UINT errorMode = 0;
    // Keyed by the module's file name in upper case ("ADVAPI32.DLL").
    std::map<std::string, ModuleDecl, CaseLess> modules;
    // Load counts of the modules LoadLibraryA has handed out.
    std::map<std::string, int, CaseLess> loadCounts;
};

// Reads this family's section of machine.json (null when absent), e.g.
// {"modules": {"ADVAPI32.DLL": {"missing_exports": ["RegOpenKeyExA"]},
//              "VERSION.DLL": {"missing": true}}}.
// Throws ImageError on malformed content.
void loadSystem(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveSystem(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showSystem(std::ostream& out, const Machine& m);

// "advapi32" -> "ADVAPI32.DLL", "C:\x\winspool.drv" -> "WINSPOOL.DRV".
std::string normalModuleName(std::string_view name);

}  // namespace winsim
