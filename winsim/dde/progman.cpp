// The simulated Program Manager: parses DDE execute strings and carries out
// the group and item commands on the groups kept in the machine.
//
// Syntax: one or more commands, each "[Name(arg1,arg2,...)]" or "[Name]",
// blanks allowed between commands and around arguments. An argument is
// quoted with double quotes when it holds blanks, commas, brackets or
// parentheses; the quotes are removed. Command and group/item names are
// compared without regard to letter case. Processing stops at the first
// command that fails or cannot be parsed; earlier commands keep their effect.
#include "winsim/dde/state.h"

#include <cstdlib>

namespace winsim {

namespace {

DdeState& dde() { return *machine().dde; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void skipBlanks(std::string_view s, std::size_t& i) {
    while (i < s.size() && isBlank(s[i])) ++i;
}

std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

enum class Parse { Ok, End, Bad };

// Parses the command starting at `i` (blanks before it skipped). End when
// only blanks remain.
Parse parseOne(std::string_view s, std::size_t& i, ProgmanCommand& out) {
    skipBlanks(s, i);
    if (i >= s.size()) return Parse::End;
    if (s[i] != '[') return Parse::Bad;
    ++i;
    skipBlanks(s, i);
    std::size_t nameStart = i;
    while (i < s.size() && s[i] != '(' && s[i] != ']' && s[i] != '[' && s[i] != '"' && s[i] != ')' && s[i] != ',')
        ++i;
    out.name = trim(s.substr(nameStart, i - nameStart));
    out.args.clear();
    if (out.name.empty() || i >= s.size()) return Parse::Bad;
    for (char c : out.name)
        if (isBlank(c)) return Parse::Bad;
    if (s[i] == '(') {
        ++i;
        // Arguments up to the closing parenthesis.
        for (;;) {
            skipBlanks(s, i);
            std::string arg;
            if (i < s.size() && s[i] == '"') {
                std::size_t close = s.find('"', i + 1);
                if (close == std::string_view::npos) return Parse::Bad;
                arg = std::string(s.substr(i + 1, close - i - 1));
                i = close + 1;
                skipBlanks(s, i);
            } else {
                std::size_t start = i;
                while (i < s.size() && s[i] != ',' && s[i] != ')' && s[i] != '(' && s[i] != '[' && s[i] != ']' &&
                       s[i] != '"')
                    ++i;
                arg = trim(s.substr(start, i - start));
            }
            if (i >= s.size()) return Parse::Bad;
            out.args.push_back(std::move(arg));
            if (s[i] == ',') {
                ++i;
                continue;
            }
            if (s[i] == ')') {
                ++i;
                break;
            }
            return Parse::Bad;
        }
        skipBlanks(s, i);
        // "Name()" carries no argument at all.
        if (out.args.size() == 1 && out.args[0].empty()) out.args.clear();
    }
    if (i >= s.size() || s[i] != ']') return Parse::Bad;
    ++i;
    return Parse::Ok;
}

ProgmanGroup* findGroup(std::string_view name) {
    for (auto& g : dde().groups)
        if (iequals(g.name, name)) return &g;
    return nullptr;
}

// A whole-number argument; nullopt when it is not one.
std::optional<long> number(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return v;
}

bool truthy(const std::string& s) {
    auto n = number(s);
    return n && *n != 0;
}

// The item name Program Manager derives from a command line: the program's
// file name without directory and extension.
std::string nameFromCommand(const std::string& cmd) {
    std::string prog = cmd;
    if (!prog.empty() && prog[0] == '"') {
        std::size_t close = prog.find('"', 1);
        prog = prog.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else if (std::size_t sp = prog.find(' '); sp != std::string::npos) {
        prog = prog.substr(0, sp);
    }
    if (std::size_t slash = prog.find_last_of("\\/:"); slash != std::string::npos) prog = prog.substr(slash + 1);
    if (std::size_t dot = prog.rfind('.'); dot != std::string::npos && dot > 0) prog = prog.substr(0, dot);
    return prog;
}

bool createGroup(const ProgmanCommand& c) {
    if (c.args.empty() || c.args.size() > 2 || c.args[0].empty()) return false;
    DdeState& d = dde();
    if (ProgmanGroup* g = findGroup(c.args[0])) {
        d.activeGroup = g->name;  // an existing group is activated instead
        return true;
    }
    ProgmanGroup g;
    g.name = c.args[0];
    g.common = c.args.size() > 1 && truthy(c.args[1]);
    d.groups.push_back(std::move(g));
    d.activeGroup = c.args[0];
    return true;
}

bool showGroup(const ProgmanCommand& c) {
    if (c.args.size() < 2 || c.args.size() > 3) return false;
    ProgmanGroup* g = findGroup(c.args[0]);
    if (!g) return false;
    auto cmd = number(c.args[1]);
    if (!cmd || *cmd < 1 || *cmd > 8) return false;
    g->showCommand = (int)*cmd;
    // Commands that show a window without activating it (minimise, show
    // minimised without activation, show without activation) leave the
    // active group as it was.
    if (*cmd != 6 && *cmd != 7 && *cmd != 8) dde().activeGroup = g->name;
    return true;
}

bool addItem(const ProgmanCommand& c) {
    if (c.args.empty() || c.args[0].empty() || c.args.size() > 10) return false;
    ProgmanGroup* g = findGroup(dde().activeGroup);
    if (!g) return false;
    ProgmanItem it;
    it.command = c.args[0];
    it.name = c.args.size() > 1 && !c.args[1].empty() ? c.args[1] : nameFromCommand(c.args[0]);
    if (c.args.size() > 2) it.iconPath = c.args[2];
    if (c.args.size() > 3 && !c.args[3].empty()) {
        auto n = number(c.args[3]);
        if (!n) return false;
        it.iconIndex = (int)*n;
    }
    // Arguments 5 and 6 are the icon position; a position needs both.
    if (c.args.size() == 5) return false;
    if (c.args.size() > 6) it.directory = c.args[6];
    if (c.args.size() > 7) it.hotKey = c.args[7];
    if (c.args.size() > 8) it.minimize = truthy(c.args[8]);
    g->items.push_back(std::move(it));
    return true;
}

bool deleteGroup(const ProgmanCommand& c) {
    if (c.args.empty() || c.args.size() > 2) return false;
    DdeState& d = dde();
    for (auto it = d.groups.begin(); it != d.groups.end(); ++it) {
        if (!iequals(it->name, c.args[0])) continue;
        if (iequals(d.activeGroup, it->name)) d.activeGroup.clear();
        d.groups.erase(it);
        return true;
    }
    return false;
}

bool deleteItem(const ProgmanCommand& c) {
    if (c.args.size() != 1) return false;
    ProgmanGroup* g = findGroup(dde().activeGroup);
    if (!g) return false;
    for (auto it = g->items.begin(); it != g->items.end(); ++it) {
        if (iequals(it->name, c.args[0])) {
            g->items.erase(it);
            return true;
        }
    }
    return false;
}

bool runCommand(const ProgmanCommand& c) {
    if (iequals(c.name, "CreateGroup")) return createGroup(c);
    if (iequals(c.name, "ShowGroup")) return showGroup(c);
    if (iequals(c.name, "AddItem")) return addItem(c);
    if (iequals(c.name, "DeleteGroup")) return deleteGroup(c);
    if (iequals(c.name, "DeleteItem")) return deleteItem(c);
    return false;  // unknown command
}

}  // namespace

std::optional<std::vector<ProgmanCommand>> parseProgmanCommands(std::string_view text) {
    std::vector<ProgmanCommand> out;
    std::size_t i = 0;
    for (;;) {
        ProgmanCommand c;
        Parse p = parseOne(text, i, c);
        if (p == Parse::End) break;
        if (p == Parse::Bad) return std::nullopt;
        out.push_back(std::move(c));
    }
    if (out.empty()) return std::nullopt;
    return out;
}

bool progmanExecute(std::string_view text) {
    std::size_t i = 0;
    bool any = false;
    for (;;) {
        ProgmanCommand c;
        Parse p = parseOne(text, i, c);
        if (p == Parse::End) return any;
        if (p == Parse::Bad) return false;
        if (!runCommand(c)) return false;
        any = true;
    }
}

const std::vector<ProgmanGroup>& progmanGroups() { return dde().groups; }

const ProgmanGroup* findProgmanGroup(std::string_view name) { return findGroup(name); }

const std::string& progmanActiveGroup() { return dde().activeGroup; }

void setProgmanRunning(bool running) { dde().progmanRunning = running; }

const std::deque<std::string>& progmanExecutes() { return dde().executes; }

}  // namespace winsim
