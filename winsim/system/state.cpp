// Image section of the system family: modules declared missing, or with
// exports missing.
#include "winsim/system/state.h"

#include "winsim/image/image.h"

#include <ostream>

namespace winsim {

namespace {
[[noreturn]] void bad(const std::string& what) { throw ImageError("machine.json", 0, "system: " + what); }
}  // namespace

std::string normalModuleName(std::string_view name) {
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string_view::npos) name = name.substr(slash + 1);
    std::string n = upper(name);
    while (!n.empty() && n.back() == ' ') n.pop_back();
    if (!n.empty() && n.back() == '.')
        n.pop_back();  // a trailing dot means "no extension"
    else if (n.find('.') == std::string::npos)
        n += ".DLL";
    return n;
}

void loadSystem(const nlohmann::json& section, Machine& m) {
    m.system = std::make_unique<SystemState>();
    if (section.is_null()) return;
    if (!section.is_object()) bad("expected an object");
    auto mods = section.find("modules");
    if (mods == section.end() || mods->is_null()) return;
    if (!mods->is_object()) bad("modules: expected an object of module names");
    for (auto& [name, v] : mods->items()) {
        if (!v.is_object()) bad("modules: \"" + name + "\": expected an object");
        ModuleDecl d;
        if (auto it = v.find("missing"); it != v.end()) {
            if (!it->is_boolean()) bad("modules: \"" + name + "\": missing must be true or false");
            d.missing = it->get<bool>();
        }
        if (auto it = v.find("missing_exports"); it != v.end()) {
            if (!it->is_array()) bad("modules: \"" + name + "\": missing_exports must be an array of names");
            for (auto& e : *it) {
                if (!e.is_string()) bad("modules: \"" + name + "\": missing_exports must be an array of names");
                d.missingExports.insert(e.get<std::string>());
            }
        }
        m.system->modules[normalModuleName(name)] = d;
    }
}

void saveSystem(nlohmann::json& section, const Machine& m) {
    if (!m.system || m.system->modules.empty()) return;
    nlohmann::json mods = nlohmann::json::object();
    for (auto& [name, d] : m.system->modules) {
        nlohmann::json j = nlohmann::json::object();
        if (d.missing) j["missing"] = true;
        if (!d.missingExports.empty()) j["missing_exports"] = d.missingExports;
        mods[name] = j;
    }
    section = nlohmann::json::object();
    section["modules"] = mods;
}

void showSystem(std::ostream& out, const Machine& m) {
    for (auto& [name, d] : m.system->modules) {
        if (d.missing) {
            out << "Module missing: " << name << "\n";
            continue;
        }
        if (d.missingExports.empty()) continue;
        out << "Module " << name << " lacks:";
        for (auto& e : d.missingExports) out << " " << e;
        out << "\n";
    }
}

}  // namespace winsim
