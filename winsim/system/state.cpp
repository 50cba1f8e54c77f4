// Image section of the system family: modules declared missing, or with
// exports missing.
#include "winsim/system/state.h"

#include "winsim/image/jsonfield.h"

#include <ostream>

namespace winsim {

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
    const JsonPointer at = JsonPointer() / "system";
    onlyMembers(section, {"modules"}, at);
    auto mods = section.find("modules");
    if (mods == section.end() || mods->is_null()) return;
    if (!mods->is_object()) badField(at / "modules", "expected an object of module names");
    for (auto& [name, v] : mods->items()) {
        const JsonPointer where = at / "modules" / name;
        onlyMembers(v, {"missing", "missing_exports"}, where);
        ModuleDecl d;
        d.missing = jsonField<bool>(v, "missing", false, where);
        for (const std::string& e : jsonField<std::vector<std::string>>(v, "missing_exports", {}, where))
            d.missingExports.insert(e);
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
