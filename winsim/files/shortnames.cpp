#include "winsim/files/shortnames.h"

#include "winsim/files/paths.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace winsim {

namespace {

// Characters FAT refuses in a short name besides those Windows refuses in
// every name.
bool refusedInShortName(unsigned char c) {
    return c <= ' ' || c == '+' || c == ',' || c == ';' || c == '=' || c == '[' || c == ']' || c == '.' ||
           c == '"' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|' || c == '\\' || c == '/' ||
           c == ':';
}

std::string upperName(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = (char)std::toupper((unsigned char)c);
    return r;
}

// Upper case, blanks and dots dropped, other refused characters as '_'.
std::string usable(std::string_view s) {
    std::string r;
    for (unsigned char c : s) {
        if (c == ' ' || c == '.') continue;
        r += refusedInShortName(c) ? '_' : (char)std::toupper(c);
    }
    return r;
}

struct Entry {
    std::string name;
    std::uint64_t order;  // FAT: sequence written, 0 = before the machine's records
};

// The directory's entries in the order FindFirstFile lists them.
std::vector<Entry> entriesOf(const Machine& m, const fs::path& hostDir, const std::string& dirWinPath) {
    std::vector<Entry> out;
    bool fat = false;
    if (!dirWinPath.empty()) {
        auto d = m.drives.find((char)std::toupper((unsigned char)dirWinPath[0]));
        fat = d != m.drives.end() && d->second.fat;
    }
    std::string prefix = dirWinPath.size() > 3 ? dirWinPath + "\\" : dirWinPath;
    std::error_code ec;
    for (auto it = fs::directory_iterator(hostDir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string n = it->path().filename().string();
        if (isHiddenHostName(n)) continue;
        auto st = it->symlink_status(ec);
        if (ec) break;
        if (!fs::is_regular_file(st) && !fs::is_directory(st)) continue;
        std::uint64_t order = 0;
        if (fat) {
            auto o = m.files->fatOrder.find(prefix + n);
            if (o != m.files->fatOrder.end()) order = o->second;
        }
        out.push_back({n, order});
    }
    std::sort(out.begin(), out.end(), [&](const Entry& a, const Entry& b) {
        if (fat && a.order != b.order) return a.order < b.order;
        CaseLess less;
        if (less(a.name, b.name)) return true;
        if (less(b.name, a.name)) return false;
        return a.name < b.name;
    });
    return out;
}

// Every entry's alias, in the listing order.
std::vector<std::pair<std::string, std::string>> aliasesOf(const Machine& m, const fs::path& hostDir,
                                                          const std::string& dirWinPath) {
    std::vector<Entry> entries = entriesOf(m, hostDir, dirWinPath);
    std::set<std::string> taken;
    for (const auto& e : entries)
        if (isShortName(e.name)) taken.insert(upperName(e.name));
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : entries) {
        if (isShortName(e.name)) {
            out.emplace_back(e.name, upperName(e.name));
            continue;
        }
        std::string name = e.name;
        std::size_t lead = name.find_first_not_of('.');
        name = lead == std::string::npos ? std::string() : name.substr(lead);
        std::size_t dot = name.rfind('.');
        std::string stem = usable(dot == std::string::npos ? name : name.substr(0, dot));
        std::string ext = dot == std::string::npos ? std::string() : usable(name.substr(dot + 1)).substr(0, 3);
        if (stem.empty()) stem = "_";
        std::string alias;
        for (unsigned n = 1;; ++n) {
            std::string tail = "~" + std::to_string(n);
            alias = stem.substr(0, 8 - tail.size()) + tail + (ext.empty() ? "" : "." + ext);
            if (!taken.count(alias)) break;
        }
        taken.insert(alias);
        out.emplace_back(e.name, alias);
    }
    return out;
}

}  // namespace

bool isShortName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    std::size_t dot = name.find('.');
    std::string_view stem = name.substr(0, dot);
    std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (stem.empty() || stem.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string_view::npos && ext.empty()) return false;
    for (std::string_view part : {stem, ext})
        for (unsigned char c : part)
            if (refusedInShortName(c)) return false;
    return true;
}

bool isShortPath(std::string_view path) {
    std::string_view rest = path;
    if (rest.size() >= 2 && rest[1] == ':') rest.remove_prefix(2);
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('\\', start);
        if (end == std::string_view::npos) end = rest.size();
        std::string_view part = rest.substr(start, end - start);
        if (!part.empty() && !isShortName(part)) return false;
        start = end + 1;
    }
    return true;
}

std::string shortAliasOf(const Machine& m, const fs::path& hostDir, const std::string& dirWinPath,
                         const std::string& name) {
    if (isShortName(name)) return name;
    for (auto& [entry, alias] : aliasesOf(m, hostDir, dirWinPath))
        if (entry == name) return alias;
    return upperName(name);
}

std::string entryWithAlias(const Machine& m, const fs::path& hostDir, const std::string& dirWinPath,
                           std::string_view alias) {
    for (auto& [entry, a] : aliasesOf(m, hostDir, dirWinPath))
        if (iequals(a, alias)) return entry;
    return {};
}

}  // namespace winsim
