// The registry store, its image section (declared access refusals) and its
// registry/ folder of REGEDIT4 files.
#include "winsim/registry/state.h"

#include "winsim/image/jsonfield.h"
#include "winsim/image/regfile.h"

#include <fstream>
#include <ostream>
#include <sstream>

namespace fs = std::filesystem;

namespace winsim {

// ---------------------------------------------------------------------------
// Keys

std::size_t CaseHash::operator()(std::string_view s) const noexcept {
    // FNV-1a over the upper-cased bytes.
    std::size_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 32);
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

RegKey* RegKey::child(std::string_view n) const {
    auto it = subkeyIndex.find(n);
    return it == subkeyIndex.end() ? nullptr : it->second;
}

RegKey* RegKey::subkeyAt(std::size_t i) {
    if (i >= subkeys.size()) return nullptr;
    if (!cursorValid || cursorIndex > i) {
        // Start from whichever end is nearer.
        if (i <= subkeys.size() / 2) {
            cursorIt = subkeys.begin();
            cursorIndex = 0;
        } else {
            cursorIt = subkeys.end();
            cursorIndex = subkeys.size();
        }
        cursorValid = true;
    }
    while (cursorIndex < i) {
        ++cursorIt;
        ++cursorIndex;
    }
    while (cursorIndex > i) {
        --cursorIt;
        --cursorIndex;
    }
    return cursorIt->second.get();
}

RegKey* RegKey::addChild(std::string_view n, std::uint64_t now, bool* created) {
    if (RegKey* existing = child(n)) {
        if (created) *created = false;
        return existing;
    }
    auto k = std::make_shared<RegKey>();
    k->name = std::string(n);
    k->parent = this;
    k->lastWrite = now;
    RegKey* raw = k.get();
    subkeyIndex.emplace(std::string_view(raw->name), raw);
    subkeys.emplace(raw->name, std::move(k));
    cursorValid = false;
    lastWrite = now;
    if (created) *created = true;
    return raw;
}

namespace {
void markDeleted(RegKey& k) {
    k.deleted = true;
    for (auto& [n, c] : k.subkeys) markDeleted(*c);
    k.subkeyIndex.clear();
    k.subkeys.clear();
    k.parent = nullptr;
}
}  // namespace

bool RegKey::removeChild(std::string_view n) {
    auto it = subkeys.find(n);
    if (it == subkeys.end()) return false;
    std::shared_ptr<RegKey> k = std::move(it->second);
    subkeyIndex.erase(std::string_view(k->name));
    subkeys.erase(it);
    cursorValid = false;
    markDeleted(*k);
    return true;
}

const RegValue* RegKey::findValue(std::string_view n) const {
    auto it = valueIndex.find(n);
    return it == valueIndex.end() ? nullptr : &values[it->second];
}

void RegKey::setValue(std::string_view n, DWORD type, std::vector<BYTE> data) {
    auto it = valueIndex.find(n);
    if (it != valueIndex.end()) {
        RegValue& v = values[it->second];
        v.type = type;
        v.data = std::move(data);
        return;
    }
    values.push_back(RegValue{std::string(n), type, std::move(data)});
    valueIndex.emplace(values.back().name, values.size() - 1);
}

bool RegKey::deleteValue(std::string_view n) {
    auto it = valueIndex.find(n);
    if (it == valueIndex.end()) return false;
    std::size_t pos = it->second;
    valueIndex.erase(it);
    values.erase(values.begin() + (std::ptrdiff_t)pos);
    for (std::size_t i = pos; i < values.size(); ++i) valueIndex[values[i].name] = i;
    return true;
}

std::string RegKey::path() const {
    std::vector<const RegKey*> chain;
    for (const RegKey* k = this; k; k = k->parent) chain.push_back(k);
    std::string p;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!p.empty()) p += '\\';
        p += (*it)->name;
    }
    return p;
}

// ---------------------------------------------------------------------------
// The store

namespace {
std::shared_ptr<RegKey> makeRoot(const char* name) {
    auto k = std::make_shared<RegKey>();
    k->name = name;
    return k;
}

// Next path component of `rest` (empty components are skipped).
bool nextComponent(std::string_view& rest, std::string_view& part) {
    while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
    if (rest.empty()) return false;
    std::size_t cut = rest.find('\\');
    part = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut);
    return true;
}
}  // namespace

RegistryState::RegistryState()
    : localMachine(makeRoot("HKEY_LOCAL_MACHINE")),
      currentUser(makeRoot("HKEY_CURRENT_USER")),
      users(makeRoot("HKEY_USERS")) {}

bool splitRootPath(std::string_view fullPath, std::string& root, std::string_view& rest, bool abbreviations) {
    std::size_t cut = fullPath.find('\\');
    std::string_view r = fullPath.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : fullPath.substr(cut + 1);
    static const std::pair<const char*, const char*> kRoots[] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"},
        {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_CLASSES_ROOT", "HKCR"},
        {"HKEY_USERS", "HKU"},
    };
    for (auto& [full, abbr] : kRoots) {
        if (iequals(r, full) || (abbreviations && iequals(r, abbr))) {
            root = full;
            return true;
        }
    }
    return false;
}

RegKey* RegistryState::root(std::string_view name) const {
    if (iequals(name, "HKEY_LOCAL_MACHINE")) return localMachine.get();
    if (iequals(name, "HKEY_CURRENT_USER")) return currentUser.get();
    if (iequals(name, "HKEY_USERS")) return users.get();
    return nullptr;
}

RegKey* RegistryState::find(std::string_view fullPath) const {
    std::string rootName;
    std::string_view rest;
    if (!splitRootPath(fullPath, rootName, rest)) return nullptr;
    RegKey* k;
    if (rootName == "HKEY_CLASSES_ROOT") {
        k = localMachine->child("SOFTWARE");
        k = k ? k->child("Classes") : nullptr;
    } else {
        k = root(rootName);
    }
    std::string_view part;
    while (k && nextComponent(rest, part)) k = k->child(part);
    return k;
}

RegKey* RegistryState::create(std::string_view fullPath, std::uint64_t now) {
    std::string rootName;
    std::string_view rest;
    if (!splitRootPath(fullPath, rootName, rest)) return nullptr;
    RegKey* k;
    if (rootName == "HKEY_CLASSES_ROOT")
        k = localMachine->addChild("SOFTWARE", now)->addChild("Classes", now);
    else
        k = root(rootName);
    std::string_view part;
    while (nextComponent(rest, part)) k = k->addChild(part, now);
    return k;
}

bool RegistryState::removeTree(std::string_view fullPath) {
    RegKey* k = find(fullPath);
    if (!k || !k->parent) return false;
    return k->parent->removeChild(k->name);
}

const RegDenyRule* RegistryState::denied(const RegKey& key) const {
    if (deny.empty() || key.deleted) return nullptr;
    return deniedPath(key.path());
}

bool RegistryState::anyRuleWithin(std::string_view p) const {
    for (const RegDenyRule& r : deny) {
        if (r.key.size() < p.size()) continue;
        if (!iequals(std::string_view(r.key).substr(0, p.size()), p)) continue;
        if (r.key.size() == p.size() || r.key[p.size()] == '\\') return true;
    }
    return false;
}

const RegDenyRule* RegistryState::deniedPath(std::string_view p) const {
    for (const RegDenyRule& r : deny) {
        if (p.size() < r.key.size()) continue;
        if (!iequals(std::string_view(p).substr(0, r.key.size()), r.key)) continue;
        if (p.size() == r.key.size() || p[r.key.size()] == '\\') return &r;
    }
    return nullptr;
}

void RegistryState::count(const RegKey& k, std::size_t& keys, std::size_t& values) {
    ++keys;
    values += k.values.size();
    for (auto& [n, c] : k.subkeys) count(*c, keys, values);
}

std::uint64_t registryNow(const Machine& m) {
    // FILETIME counts 100 ns ticks from 1601; the machine's clock counts ms from 1970.
    std::int64_t ms = m.bootEpochMs + (std::int64_t)m.tickMs;
    return (std::uint64_t)ms * 10000ull + 116444736000000000ull;
}

// ---------------------------------------------------------------------------
// Image section of machine.json:
//
//   "registry": {
//     "deny": [
//       {"key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked", "access": "write"},
//       {"key": "HKEY_CURRENT_USER\\Secret", "access": "all"}
//     ]
//   }
//
// A rule covers the key and every key below it. "write": opening with any
// write right (set value, create subkey, delete, ...) and creating, deleting
// or setting anything there fails with ERROR_ACCESS_DENIED, while opening for
// reading works; "all": every open fails with ERROR_ACCESS_DENIED.
// HKEY_CLASSES_ROOT\... in a rule is stored as HKEY_LOCAL_MACHINE\SOFTWARE\Classes\...

void loadRegistry(const nlohmann::json& section, Machine& m) {
    RegistryState& r = *m.registry;
    r.deny.clear();
    if (section.is_null()) return;
    const JsonPointer at = JsonPointer() / "registry";
    onlyMembers(section, {"deny"}, at);
    auto it = section.find("deny");
    if (it == section.end() || it->is_null()) return;
    if (!it->is_array()) badField(at / "deny", "expected a list of rules");
    for (std::size_t i = 0; i < it->size(); ++i) {
        const auto& rule = (*it)[i];
        const JsonPointer where = at / "deny" / i;
        onlyMembers(rule, {"key", "access"}, where);
        if (!rule.contains("key")) badField(where / "key", "missing (the key the rule protects)");
        std::string key = jsonField<std::string>(rule, "key", "", where);
        std::string rootName;
        std::string_view rest;
        if (!splitRootPath(key, rootName, rest))
            badField(where / "key", quotedExcerpt(key) + " does not start with a root key");
        std::string normal = rootName == "HKEY_CLASSES_ROOT" ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes" : rootName;
        std::string_view part;
        while (nextComponent(rest, part)) normal += "\\" + std::string(part);
        RegDenyRule d;
        d.key = normal;
        d.all = jsonChoice(rule, "access", "write", {"write", "all"}, where) == "all";
        r.deny.push_back(d);
    }
}

void saveRegistry(nlohmann::json& section, const Machine& m) {
    const RegistryState& r = *m.registry;
    if (r.deny.empty()) return;
    nlohmann::json rules = nlohmann::json::array();
    for (const RegDenyRule& d : r.deny) rules.push_back({{"key", d.key}, {"access", d.all ? "all" : "write"}});
    section = {{"deny", rules}};
}

void showRegistry(std::ostream& out, const Machine& m) {
    const RegistryState& r = *m.registry;
    out << "Registry:\n";
    for (const RegKey* root : {r.localMachine.get(), r.currentUser.get(), r.users.get()}) {
        std::size_t keys = 0, values = 0;
        RegistryState::count(*root, keys, values);
        if (root == r.users.get() && keys == 1 && values == 0) continue;
        out << "  " << root->name << ": " << (keys - 1) << " keys, " << values << " values\n";
    }
    for (const RegDenyRule& d : r.deny)
        out << "  access refused (" << (d.all ? "all" : "write") << "): " << d.key << "\n";
}

// ---------------------------------------------------------------------------
// registry/ folder

namespace {
const char* const kRootFiles[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"};
}

void readRegistryFolder(const fs::path& dir, Machine& m) {
    if (!fs::is_directory(dir)) return;
    std::vector<std::vector<RegFileOp>> parsed;
    for (const char* root : kRootFiles) {
        fs::path p = dir / (std::string(root) + ".reg");
        if (!fs::exists(p)) continue;
        std::ifstream in(p, std::ios::binary);
        if (!in) throw ImageError(p.string(), 0, "cannot be read");
        std::ostringstream ss;
        ss << in.rdbuf();
        parsed.push_back(parseRegFile(ss.str(), p.string()));
    }
    std::uint64_t now = registryNow(m);
    for (const auto& ops : parsed) applyRegFile(*m.registry, ops, now);
}

void writeRegistryFolder(const fs::path& dir, const Machine& m) {
    const RegistryState& r = *m.registry;
    fs::create_directories(dir);
    for (const RegKey* root : {r.localMachine.get(), r.currentUser.get(), r.users.get()}) {
        if (root == r.users.get() && root->subkeys.empty() && root->values.empty()) continue;
        std::string text = "REGEDIT4\n\n";
        appendRegKeyTree(text, *root);
        fs::path p = dir / (root->name + ".reg");
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(text.data(), (std::streamsize)text.size());
        out.close();
        if (!out) throw std::runtime_error("cannot write " + p.string());
    }
}

}  // namespace winsim
