// Image section of the DDE family: Program Manager's state.
//
//   "dde": {
//     "progman": {
//       "running": true,
//       "active_group": "Main",
//       "groups": [ { "name": "Main", "common": false, "show": 1,
//                     "items": [ { "name": "File Manager", "command": "WINFILE.EXE",
//                                  "icon_path": "", "icon_index": 0, "directory": "",
//                                  "hot_key": "", "minimize": false } ] } ]
//     }
//   }
#include "winsim/dde/state.h"

#include "winsim/image/image.h"
#include "winsim/image/jsonfield.h"

#include <ostream>

namespace winsim {

namespace {

const char* kFile = "machine.json";

template <class T>
T get(const nlohmann::json& j, const char* key, const T& fallback, const std::string& where) {
    return jsonField<T>(j, key, fallback, where);
}

}  // namespace

void loadDde(const nlohmann::json& section, Machine& m) {
    DdeState& d = *m.dde;
    d = DdeState();
    if (section.is_null()) return;
    if (!section.is_object()) throw ImageError(kFile, 0, "dde: expected an object");
    auto pm = section.find("progman");
    if (pm == section.end() || pm->is_null()) return;
    if (!pm->is_object()) throw ImageError(kFile, 0, "dde.progman: expected an object");
    d.progmanRunning = get<bool>(*pm, "running", false, "dde.progman");
    d.activeGroup = get<std::string>(*pm, "active_group", "", "dde.progman");
    if (auto gs = pm->find("groups"); gs != pm->end() && !gs->is_null()) {
        if (!gs->is_array()) throw ImageError(kFile, 0, "dde.progman.groups: expected an array");
        for (std::size_t gi = 0; gi < gs->size(); ++gi) {
            const auto& gj = (*gs)[gi];
            std::string where = "dde.progman.groups[" + std::to_string(gi) + "]";
            if (!gj.is_object()) throw ImageError(kFile, 0, where + ": expected an object");
            ProgmanGroup g;
            g.name = get<std::string>(gj, "name", "", where);
            if (g.name.empty()) throw ImageError(kFile, 0, where + ": a group needs a name");
            for (const auto& other : d.groups)
                if (iequals(other.name, g.name)) throw ImageError(kFile, 0, where + ": group \"" + g.name + "\" twice");
            g.common = get<bool>(gj, "common", false, where);
            g.showCommand = get<int>(gj, "show", 1, where);
            if (auto is = gj.find("items"); is != gj.end() && !is->is_null()) {
                if (!is->is_array()) throw ImageError(kFile, 0, where + ".items: expected an array");
                for (std::size_t ii = 0; ii < is->size(); ++ii) {
                    const auto& ij = (*is)[ii];
                    std::string iw = where + ".items[" + std::to_string(ii) + "]";
                    if (!ij.is_object()) throw ImageError(kFile, 0, iw + ": expected an object");
                    ProgmanItem it;
                    it.name = get<std::string>(ij, "name", "", iw);
                    it.command = get<std::string>(ij, "command", "", iw);
                    it.iconPath = get<std::string>(ij, "icon_path", "", iw);
                    it.iconIndex = get<int>(ij, "icon_index", 0, iw);
                    it.directory = get<std::string>(ij, "directory", "", iw);
                    it.hotKey = get<std::string>(ij, "hot_key", "", iw);
                    it.minimize = get<bool>(ij, "minimize", false, iw);
                    g.items.push_back(std::move(it));
                }
            }
            d.groups.push_back(std::move(g));
        }
    }
}

void saveDde(nlohmann::json& section, const Machine& m) {
    const DdeState& d = *m.dde;
    if (!d.progmanRunning && d.groups.empty() && d.activeGroup.empty()) return;
    nlohmann::json groups = nlohmann::json::array();
    for (const auto& g : d.groups) {
        nlohmann::json items = nlohmann::json::array();
        for (const auto& it : g.items) {
            items.push_back({{"name", it.name},
                             {"command", it.command},
                             {"icon_path", it.iconPath},
                             {"icon_index", it.iconIndex},
                             {"directory", it.directory},
                             {"hot_key", it.hotKey},
                             {"minimize", it.minimize}});
        }
        groups.push_back({{"name", g.name}, {"common", g.common}, {"show", g.showCommand}, {"items", items}});
    }
    section = {{"progman", {{"running", d.progmanRunning}, {"active_group", d.activeGroup}, {"groups", groups}}}};
}

void showDde(std::ostream& out, const Machine& m) {
    const DdeState& d = *m.dde;
    out << "Program Manager: " << (d.progmanRunning ? "running" : "not running");
    if (!d.activeGroup.empty()) out << ", active group \"" << d.activeGroup << "\"";
    out << "\n";
    for (const auto& g : d.groups) {
        out << "  group \"" << g.name << "\"" << (g.common ? " (common)" : "") << ", " << g.items.size()
            << (g.items.size() == 1 ? " item\n" : " items\n");
        for (const auto& it : g.items) {
            out << "    \"" << it.name << "\": " << it.command;
            if (!it.iconPath.empty()) out << "  icon " << it.iconPath << "," << it.iconIndex;
            if (!it.directory.empty()) out << "  in " << it.directory;
            out << "\n";
        }
    }
}

}  // namespace winsim
