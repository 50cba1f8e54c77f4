// Image section of the files family: per-file metadata keyed by Windows
// path, e.g. {"C:\\WINNT35\\system32\\vrdpsmon.dll": {"in_use": "loaded",
// "version": "1.2.0.0", "attributes": ["readonly"]}}, and, for FAT drives,
// "fat_order": the entries in the order the machine wrote them.
#include "winsim/files/state.h"

#include "winsim/files/ops.h"
#include "winsim/image/jsonfield.h"

#include <algorithm>
#include <ostream>

namespace winsim {

namespace {

struct AttrName {
    const char* name;
    DWORD bit;
};
const AttrName kAttrs[] = {
    {"readonly", FILE_ATTRIBUTE_READONLY}, {"hidden", FILE_ATTRIBUTE_HIDDEN},
    {"system", FILE_ATTRIBUTE_SYSTEM},     {"directory", FILE_ATTRIBUTE_DIRECTORY},
    {"archive", FILE_ATTRIBUTE_ARCHIVE},   {"normal", FILE_ATTRIBUTE_NORMAL},
    {"temporary", FILE_ATTRIBUTE_TEMPORARY},
};

bool looksLikePath(const std::string& k) { return k.size() >= 3 && k[1] == ':' && k[2] == '\\'; }

}  // namespace

void loadFile(const nlohmann::json& section, Machine& m) {
    m.files = std::make_unique<FileState>();
    if (section.is_null()) return;
    const JsonPointer at = JsonPointer() / "files";
    if (!section.is_object()) badField(at, "expected an object of paths");
    for (auto& [key, v] : section.items()) {
        const JsonPointer where = at / key;
        if (key == "fat_order") {
            for (const std::string& p : jsonValue<std::vector<std::string>>(v, where))
                m.files->fatOrder[p] = m.files->nextFatOrder++;
            continue;
        }
        if (!looksLikePath(key)) badField(where, "not a full Windows path");
        onlyMembers(v, {"in_use", "loaded_by", "version", "attributes"}, where);
        FileMeta f;
        std::string u = jsonChoice(v, "in_use", "none", {"loaded", "open", "none"}, where);
        if (u == "loaded")
            f.inUse = InUse::Loaded;
        else if (u == "open")
            f.inUse = InUse::Open;
        if (auto it = v.find("loaded_by"); it != v.end() && !it->is_null()) {
            if (f.inUse != InUse::Loaded)
                badField(where / "loaded_by", "names the process holding a file whose in_use is \"loaded\"");
            f.loadedBy = jsonValue<std::string>(*it, where / "loaded_by");
        }
        if (auto it = v.find("version"); it != v.end() && !it->is_null()) {
            f.version = jsonValue<std::string>(*it, where / "version");
            std::uint64_t packed = 0;
            if (!parseFileVersion(f.version, packed))
                badField(where / "version", quotedExcerpt(f.version) + " is not of the form 1.2.3.4");
        }
        if (auto it = v.find("attributes"); it != v.end() && !it->is_null()) {
            if (!it->is_array()) badField(where / "attributes", "expected a list of attribute names");
            DWORD a = 0;
            for (std::size_t i = 0; i < it->size(); ++i) {
                std::string name = jsonValue<std::string>((*it)[i], where / "attributes" / i);
                bool known = false;
                for (auto& an : kAttrs)
                    if (iequals(an.name, name)) a |= an.bit, known = true;
                if (!known) badField(where / "attributes" / i, "unknown attribute " + quotedExcerpt(name));
            }
            f.attributes = a;
        }
        m.files->meta[key] = f;
    }
}

void saveFile(nlohmann::json& section, const Machine& m) {
    if (!m.files || (m.files->meta.empty() && m.files->fatOrder.empty())) return;
    section = nlohmann::json::object();
    for (auto& [path, f] : m.files->meta) {
        nlohmann::json j = nlohmann::json::object();
        if (f.inUse == InUse::Loaded) j["in_use"] = "loaded";
        if (f.inUse == InUse::Loaded && !f.loadedBy.empty()) j["loaded_by"] = f.loadedBy;
        if (f.inUse == InUse::Open) j["in_use"] = "open";
        if (!f.version.empty()) j["version"] = f.version;
        if (f.attributes) {
            nlohmann::json names = nlohmann::json::array();
            for (auto& an : kAttrs)
                if (*f.attributes & an.bit) names.push_back(an.name);
            j["attributes"] = names;
        }
        section[path] = j;
    }
    if (!m.files->fatOrder.empty()) {
        std::vector<std::pair<std::uint64_t, std::string>> order;
        for (auto& [path, n] : m.files->fatOrder) order.emplace_back(n, path);
        std::sort(order.begin(), order.end());
        nlohmann::json a = nlohmann::json::array();
        for (auto& [n, path] : order) a.push_back(path);
        section["fat_order"] = a;
    }
}

void showFile(std::ostream& out, const Machine& m) {
    // The drives and their free space are part of the machine's own summary.
    for (auto& [letter, d] : m.drives)
        if (d.fat) out << "Drive " << letter << ": keeps directory entries in the order written (FAT)\n";
    bool any = false;
    for (auto& [path, f] : m.files->meta) {
        if (f.inUse == InUse::None) continue;
        if (!any) out << "Files in use:\n";
        any = true;
        out << "  " << path << " (" << (f.inUse == InUse::Loaded ? "loaded" : "open")
            << (f.loadedBy.empty() ? "" : " by the " + f.loadedBy) << ")\n";
    }
    std::size_t versions = 0, attributes = 0;
    for (auto& [path, f] : m.files->meta) {
        versions += !f.version.empty();
        attributes += f.attributes.has_value();
    }
    if (versions || attributes)
        out << "File records: " << versions << " with a version, " << attributes << " with attributes\n";
    if (&m == &machine()) {
        Machine& mm = machine();
        if (m.os.isNT()) {
            auto pending = pendingRenames();
            if (!pending.empty()) out << "Pending file rename operations:\n";
            for (auto& [s, d] : pending) out << "  " << s << " -> " << (d.empty() ? "(delete)" : d) << "\n";
        } else {
            auto lines = wininitRenames(mm);
            if (!lines.empty()) out << "wininit.ini [rename]:\n";
            for (auto& [k, v] : lines) out << "  " << k << "=" << v << "\n";
        }
    }
}

}  // namespace winsim
