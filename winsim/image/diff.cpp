// The comparison of two machines, for `winsim diff` and setup's reports.
#include "winsim/image/diff.h"

#include "winsim/image/image.h"
#include "winsim/image/regfile.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace winsim {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// What names an element of a list of objects: the first of these fields
// that every element of both lists has, unique within each list.
const char* const kIdentityFields[] = {"id", "pid", "name", "sid", "path"};

std::string elementKey(const json& e, const std::string& field) {
    const json& v = e.at(field);
    return field + "=" + (v.is_string() ? v.get<std::string>() : v.dump());
}

std::string identityOf(const json& a, const json& b) {
    for (const char* field : kIdentityFields) {
        bool usable = true;
        for (const json* list : {&a, &b}) {
            std::set<std::string> seen;
            for (const json& e : *list)
                if (!e.is_object() || !e.contains(field) || !seen.insert(elementKey(e, field)).second) {
                    usable = false;
                    break;
                }
            if (!usable) break;
        }
        if (usable) return field;
    }
    return "";
}

// An entry only one side has: one change per field of an object, one for
// anything else (a list element, a value, a whole list).
void entry(char sign, const json& v, const std::string& path, std::vector<Change>& out) {
    if (v.is_object() && !v.empty()) {
        for (auto& [k, field] : v.items()) entry(sign, field, path + "." + k, out);
        return;
    }
    out.push_back({sign, "state", path + " = " + v.dump()});
}

// A value that changed, a field added or removed, or a whole element of a
// list (matched by what names it) added or removed.
void diffState(const json& a, const json& b, const std::string& path, std::vector<Change>& out) {
    auto child = [&](const std::string& key) { return path.empty() ? key : path + "." + key; };
    if (a.is_object() && b.is_object()) {
        for (auto& [k, v] : a.items()) {
            if (!b.contains(k))
                entry('-', v, child(k), out);
            else
                diffState(v, b.at(k), child(k), out);
        }
        for (auto& [k, v] : b.items())
            if (!a.contains(k)) entry('+', v, child(k), out);
        return;
    }
    if (a.is_array() && b.is_array() && !a.empty() && !b.empty() && a != b) {
        std::string field = identityOf(a, b);
        if (!field.empty()) {
            std::map<std::string, const json*> ia, ib;
            for (const json& e : a) ia[elementKey(e, field)] = &e;
            for (const json& e : b) ib[elementKey(e, field)] = &e;
            for (auto& [k, e] : ia) {
                auto it = ib.find(k);
                if (it == ib.end())
                    out.push_back({'-', "state", path + "[" + k + "] = " + e->dump()});
                else
                    diffState(*e, *it->second, path + "[" + k + "]", out);
            }
            for (auto& [k, e] : ib)
                if (!ia.count(k)) out.push_back({'+', "state", path + "[" + k + "] = " + e->dump()});
            return;
        }
    }
    if (a == b) return;
    out.push_back({'~', "state", path + ": " + a.dump() + " -> " + b.dump()});
}

// Splits REGEDIT4 text into key -> its value lines.
std::map<std::string, std::vector<std::string>> regBlocks(const std::string& text) {
    std::map<std::string, std::vector<std::string>> blocks;
    std::istringstream in(text);
    std::string line, key, pending;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            key = line;
            blocks[key];
            continue;
        }
        if (key.empty() || line.empty()) continue;
        pending += line;
        if (pending.back() == '\\') {
            pending.pop_back();
            continue;
        }
        blocks[key].push_back(pending);
        pending.clear();
    }
    return blocks;
}

// The value lines of a key by value name (`@` or the quoted name as written).
std::map<std::string, std::string> valuesByName(const std::vector<std::string>& lines) {
    std::map<std::string, std::string> values;
    for (const std::string& l : lines) {
        std::size_t end = 0;
        if (!l.empty() && l[0] == '"') {
            end = 1;
            while (end < l.size() && l[end] != '"') end += l[end] == '\\' ? 2 : 1;
            ++end;
        } else {
            end = l.find('=');
        }
        if (end == std::string::npos || end > l.size()) end = l.size();
        values[l.substr(0, end)] = l;
    }
    return values;
}

std::map<std::string, FileStamp> fileTree(const Machine& m) {
    std::map<std::string, FileStamp> files;
    for (auto& [letter, d] : m.drives) {
        if (!fs::is_directory(d.host)) continue;
        for (auto it = fs::recursive_directory_iterator(d.host); it != fs::recursive_directory_iterator(); ++it) {
            std::string rel = fs::relative(it->path(), d.host).string();
            for (auto& c : rel)
                if (c == '/') c = '\\';
            std::string name = std::string(1, letter) + ":\\" + rel;
            if (it->is_directory()) {
                files[name + "\\"] = {0, 0, true};
            } else if (it->is_regular_file()) {
                std::ifstream in(it->path(), std::ios::binary);
                std::stringstream ss;
                ss << in.rdbuf();
                files[name] = {it->file_size(), std::hash<std::string>{}(ss.str()), false};
            }
        }
    }
    return files;
}

}  // namespace

MachineSnapshot snapshotMachine(const Machine& m) {
    MachineSnapshot s;
    s.state = json::parse(machineJsonText(m));
    s.registry = regBlocks(exportRegistry(m, ""));
    s.files = fileTree(m);
    return s;
}

std::vector<Change> diffMachines(const MachineSnapshot& before, const MachineSnapshot& after) {
    std::vector<Change> out;
    diffState(before.state, after.state, "", out);
    for (auto& [k, lines] : before.registry) {
        auto it = after.registry.find(k);
        if (it == after.registry.end()) {
            out.push_back({'-', "key", k});
            continue;
        }
        std::map<std::string, std::string> a = valuesByName(lines), b = valuesByName(it->second);
        for (auto& [name, l] : a) {
            auto other = b.find(name);
            if (other == b.end())
                out.push_back({'-', "value", k + " " + l});
            else if (other->second != l)
                out.push_back({'~', "value", k + " " + l + " -> " + other->second.substr(name.size() + 1)});
        }
        for (auto& [name, l] : b)
            if (!a.count(name)) out.push_back({'+', "value", k + " " + l});
    }
    for (auto& [k, lines] : after.registry)
        if (!before.registry.count(k)) {
            out.push_back({'+', "key", k});
            for (auto& l : lines) out.push_back({'+', "value", k + " " + l});
        }
    for (auto& [k, info] : before.files) {
        auto it = after.files.find(k);
        if (it == after.files.end())
            out.push_back({'-', "file", k});
        else if (it->second.size != info.size || it->second.hash != info.hash)
            out.push_back({'~', "file", k + " (" + std::to_string(info.size) + " -> " +
                                            std::to_string(it->second.size) + " bytes)"});
    }
    for (auto& [k, info] : after.files)
        if (!before.files.count(k)) out.push_back({'+', "file", k});
    return out;
}

std::string changeLine(const Change& c) { return std::string(1, c.sign) + " " + c.kind + " " + c.what; }

void writeChanges(const std::vector<Change>& changes, std::ostream& out, bool asJson) {
    if (!asJson) {
        for (const Change& c : changes) out << changeLine(c) << "\n";
        return;
    }
    out << "[";
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        json j = {{"change", c.sign == '+' ? "added" : c.sign == '-' ? "removed" : "changed"},
                  {"kind", c.kind},
                  {"what", c.what}};
        // Names are ANSI text, not always UTF-8: such bytes are replaced.
        out << (i ? ",\n" : "\n") << j.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    out << (changes.empty() ? "]\n" : "\n]\n");
}

}  // namespace winsim
