// State of the registry family of the simulated machine, and how it is read
// from and written to a machine image.
//
// The store is a tree of keys per root (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
// HKEY_USERS; HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes).
// Names compare case-insensitively and keep the case they were created with.
// Subkeys sit in a case-insensitively sorted map (NT's enumeration order);
// values keep the order they were first written, with a name index beside
// them, so no lookup scans siblings.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace winsim {

struct RegValue {
    std::string name;  // "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Case-insensitive hashing and equality for the subkey index.
struct CaseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept;
};
struct CaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return iequals(a, b); }
};

struct RegKey : std::enable_shared_from_this<RegKey> {
    using Children = std::map<std::string, std::shared_ptr<RegKey>, CaseLess>;

    std::string name;          // as created; a root's name is HKEY_...
    RegKey* parent = nullptr;  // null for a root; not to be used once deleted
    bool deleted = false;      // set when the key leaves the tree
    std::string className;
    // Created with REG_OPTION_VOLATILE (NT): only volatile subkeys may be
    // created below it. Kept in memory only, as NT drops such keys at restart.
    bool isVolatile = false;
    std::uint64_t lastWrite = 0;  // FILETIME ticks
    Children subkeys;          // sorted: enumeration order
    // The same subkeys by name, for lookups in constant time whatever the
    // number of siblings (the views point into each child's own name).
    std::unordered_map<std::string_view, RegKey*, CaseHash, CaseEqual> subkeyIndex;
    std::vector<RegValue> values;                      // in the order first written
    std::map<std::string, std::size_t, CaseLess> valueIndex;  // name -> position in values

    // The subkey `name`, or null.
    RegKey* child(std::string_view name) const;
    // The subkey at enumeration index `i` (sorted order), or null past the
    // end. Walking 0, 1, 2, ... costs O(1) per step: the last position is kept.
    RegKey* subkeyAt(std::size_t i);
    // Adds (or finds) the subkey `name`; `created` tells which.
    RegKey* addChild(std::string_view name, std::uint64_t now, bool* created = nullptr);
    // Detaches the subkey `name` with its whole subtree, marking every key in
    // it deleted. False when there is no such subkey.
    bool removeChild(std::string_view name);

    const RegValue* findValue(std::string_view name) const;
    // Replaces the value's data, or appends a new value at the end.
    void setValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool deleteValue(std::string_view name);

    // Full path from the root, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\X".
    std::string path() const;

private:
    // Enumeration cursor: iterator at index cursorIndex (valid while
    // cursorValid; any change to `subkeys` drops it).
    bool cursorValid = false;
    std::size_t cursorIndex = 0;
    Children::iterator cursorIt;
};

// A declared refusal from the image: the key and everything below it.
struct RegDenyRule {
    std::string key;    // full path, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Locked
    bool all = false;   // false: writes refused; true: even opening for read
};

struct RegistryState {
    RegistryState();

    std::shared_ptr<RegKey> localMachine;
    std::shared_ptr<RegKey> currentUser;
    std::shared_ptr<RegKey> users;
    std::vector<RegDenyRule> deny;

    // Open handles (HKEY value -> key, granted access, reference count; the
    // count only exceeds 1 on Windows 95, which hands out one shared handle
    // per key).
    struct Open {
        std::shared_ptr<RegKey> key;
        REGSAM access = 0;
        unsigned refs = 1;
    };
    std::unordered_map<std::uintptr_t, Open> handles;
    std::unordered_map<const RegKey*, std::uintptr_t> sharedHandles;  // Windows 95
    std::uintptr_t nextHandle = 0x10000;

    // The root named by its full name (HKEY_LOCAL_MACHINE, ...), or null.
    RegKey* root(std::string_view name) const;
    // Resolves a full path (root name first; HKEY_CLASSES_ROOT maps onto
    // HKEY_LOCAL_MACHINE\SOFTWARE\Classes). Null when any part is missing.
    RegKey* find(std::string_view fullPath) const;
    // Creates every missing key along a full path; null for an unknown root.
    RegKey* create(std::string_view fullPath, std::uint64_t now);
    // Deletes the key at `fullPath` with its subtree; false when missing or a root.
    bool removeTree(std::string_view fullPath);

    // The declared rule covering `key` (itself or an ancestor), or null.
    const RegDenyRule* denied(const RegKey& key) const;
    // The same for a full key path (which need not exist).
    const RegDenyRule* deniedPath(std::string_view fullPath) const;
    // True when some rule names `fullPath` or a key below it.
    bool anyRuleWithin(std::string_view fullPath) const;

    // Counts keys (the root included) and values below a root.
    static void count(const RegKey& root, std::size_t& keys, std::size_t& values);
};

// FILETIME ticks of the machine's virtual clock.
std::uint64_t registryNow(const Machine& m);

// Splits a full key path into root name and the rest (without the backslash).
// Abbreviations (HKLM, HKCU, HKCR, HKU) are accepted when `abbreviations`.
bool splitRootPath(std::string_view fullPath, std::string& root, std::string_view& rest, bool abbreviations = false);

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadRegistry(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveRegistry(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showRegistry(std::ostream& out, const Machine& m);

}  // namespace winsim

namespace winsim {
// Reads every REGEDIT4 file of an image's registry/ folder into the
// machine's registry (HKEY_LOCAL_MACHINE.reg, HKEY_CURRENT_USER.reg, and
// HKEY_USERS.reg when present). A missing folder means an empty registry.
// All files are parsed before any is applied. Throws ImageError naming the
// file and line of the first fault; the machine is then left unchanged.
void readRegistryFolder(const std::filesystem::path& dir, Machine& m);
// Writes the registry as one REGEDIT4 file per root key into `dir`
// (HKEY_USERS.reg only when that root holds anything).
// Throws std::runtime_error when a file cannot be written.
void writeRegistryFolder(const std::filesystem::path& dir, const Machine& m);
}  // namespace winsim
