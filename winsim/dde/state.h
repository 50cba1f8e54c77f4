// State of the DDE family of the simulated machine: the simulated Program
// Manager (running or not, its groups and items, the active group), the
// DDE management library's run-time tables (instances, string handles,
// conversations) and a record of the execute strings Program Manager got.
// Also how the persistent part is read from and written to a machine image.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

struct ProgmanItem {
    std::string name;
    std::string command;      // command line
    std::string iconPath;     // empty: the command's own icon
    int iconIndex = 0;
    std::string directory;    // default (working) directory
    std::string hotKey;       // as given, not interpreted
    bool minimize = false;
};

struct ProgmanGroup {
    std::string name;
    bool common = false;
    int showCommand = 1;  // last ShowGroup command (SW_* value)
    std::vector<ProgmanItem> items;
};

struct DdeInstance {
    void* callback = nullptr;  // PFNCALLBACK, never called: the library here is a client only
    DWORD flags = 0;
    UINT lastError = 0;
};

struct DdeConversation {
    DWORD instance = 0;
    std::string service;
    std::string topic;
};

struct DdeString {
    std::string text;
    int refs = 0;
};

struct DdeState {
    // Persistent (machine.json "dde" section).
    bool progmanRunning = false;
    std::vector<ProgmanGroup> groups;  // in creation order
    std::string activeGroup;           // empty: none

    // Run time only.
    static constexpr std::size_t kExecuteHistory = 64;
    std::deque<std::string> executes;  // raw bytes of the last execute transactions, oldest first
    std::map<DWORD, DdeInstance> instances;
    DWORD nextInstance = 1;
    // String handles are shared by all instances, like atoms: one handle per
    // text (letter case ignored), reference counted per instance.
    std::map<std::uintptr_t, DdeString> strings;
    std::map<std::pair<DWORD, std::uintptr_t>, int> stringRefs;
    std::uintptr_t nextString = 0xC000;
    std::map<std::uintptr_t, DdeConversation> conversations;
    std::uintptr_t nextConversation = 0x2000;
};

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadDde(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveDde(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showDde(std::ostream& out, const Machine& m);

// --- Program Manager, for tests, other families and 'winsim show' ---------

// The groups of the current machine's Program Manager, in creation order.
const std::vector<ProgmanGroup>& progmanGroups();
// The group of that name (letter case ignored), or null.
const ProgmanGroup* findProgmanGroup(std::string_view name);
// The active group's name (empty when none).
const std::string& progmanActiveGroup();
void setProgmanRunning(bool running);
// The raw bytes of the most recent execute transactions sent to Program
// Manager (at most DdeState::kExecuteHistory), oldest first, exactly as the
// client passed them (a terminating NUL included when it was counted).
const std::deque<std::string>& progmanExecutes();

// Carries out an execute string as Program Manager does: the commands in
// order, stopping at the first one that fails. Returns true when every
// command succeeded (an empty or malformed string fails). Commands before a
// failure keep their effect.
bool progmanExecute(std::string_view text);

// One parsed command: its name and its arguments with quotes removed.
struct ProgmanCommand {
    std::string name;
    std::vector<std::string> args;
};
// Splits an execute string into commands; nullopt when the syntax is bad.
std::optional<std::vector<ProgmanCommand>> parseProgmanCommands(std::string_view text);

}  // namespace winsim
