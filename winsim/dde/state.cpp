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

#include "winsim/image/jsonfield.h"

#include <ostream>

namespace winsim {

void loadDde(const nlohmann::json& section, Machine& m) {
    DdeState& d = *m.dde;
    d = DdeState();
    if (section.is_null()) return;
    const JsonPointer at = JsonPointer() / "dde";
    onlyMembers(section, {"progman"}, at);
    auto pm = section.find("progman");
    if (pm == section.end() || pm->is_null()) return;
    const JsonPointer pat = at / "progman";
    onlyMembers(*pm, {"running", "active_group", "groups"}, pat);
    d.progmanRunning = jsonField<bool>(*pm, "running", false, pat);
    d.activeGroup = jsonField<std::string>(*pm, "active_group", "", pat);
    if (auto gs = pm->find("groups"); gs != pm->end() && !gs->is_null()) {
        if (!gs->is_array()) badField(pat / "groups", "expected a list of groups");
        for (std::size_t gi = 0; gi < gs->size(); ++gi) {
            const auto& gj = (*gs)[gi];
            const JsonPointer where = pat / "groups" / gi;
            onlyMembers(gj, {"name", "common", "show", "items"}, where);
            ProgmanGroup g;
            g.name = jsonField<std::string>(gj, "name", "", where);
            if (g.name.empty()) badField(where / "name", "a group needs a name");
            for (const auto& other : d.groups)
                if (iequals(other.name, g.name)) badField(where / "name", "group " + quotedExcerpt(g.name) + " twice");
            g.common = jsonField<bool>(gj, "common", false, where);
            // ShowWindow commands run from SW_HIDE (0) to SW_FORCEMINIMIZE (11).
            g.showCommand = jsonFieldIn<int>(gj, "show", 1, 0, 11, where);
            if (auto is = gj.find("items"); is != gj.end() && !is->is_null()) {
                if (!is->is_array()) badField(where / "items", "expected a list of items");
                for (std::size_t ii = 0; ii < is->size(); ++ii) {
                    const auto& ij = (*is)[ii];
                    const JsonPointer iw = where / "items" / ii;
                    onlyMembers(ij, {"name", "command", "icon_path", "icon_index", "directory", "hot_key", "minimize"},
                                iw);
                    ProgmanItem it;
                    it.name = jsonField<std::string>(ij, "name", "", iw);
                    it.command = jsonField<std::string>(ij, "command", "", iw);
                    it.iconPath = jsonField<std::string>(ij, "icon_path", "", iw);
                    it.iconIndex = jsonField<int>(ij, "icon_index", 0, iw);
                    it.directory = jsonField<std::string>(ij, "directory", "", iw);
                    it.hotKey = jsonField<std::string>(ij, "hot_key", "", iw);
                    it.minimize = jsonField<bool>(ij, "minimize", false, iw);
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
