// State of the security family of the simulated machine (the user's access
// token: groups, privileges, impersonation), and how it is read from and
// written to a machine image.
//
// Image section "security" of machine.json:
//   {
//     "user": "S-1-5-21-...-500",
//     "groups": [ { "sid": "S-1-5-32-544",
//                   "attributes": ["mandatory", "enabled_by_default", "enabled"] }, ... ],
//     "privileges": [ { "name": "SeShutdownPrivilege", "enabled": false }, ... ],
//     "impersonation": null | { "user": ..., "groups": [...], "privileges": [...] }
//   }
// Group attributes are names (mandatory, enabled_by_default, enabled, owner,
// deny_only, logon_id) or a number. A privilege listed is held; "enabled"
// says whether it is enabled at process start. "impersonation" declares the
// token the thread impersonates; absent or null, the thread has none.
// A missing section gives the default: an administrator.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// A SID in its binary form (the bytes of a SID structure).
using SidBytes = std::vector<BYTE>;

// Parses "S-1-5-32-544" (authority in decimal, or hex with 0x); nullopt when
// malformed or with more than 15 sub-authorities.
std::optional<SidBytes> parseSid(std::string_view text);
// Formats a binary SID as text; "(invalid SID)" for a damaged one.
std::string sidText(const SidBytes& sid);

struct TokenGroup {
    SidBytes sid;
    DWORD attributes = 0;
};

struct TokenPrivilege {
    std::string name;  // as LookupPrivilegeValueA knows it
    DWORD attributes = 0;  // SE_PRIVILEGE_ENABLED, SE_PRIVILEGE_ENABLED_BY_DEFAULT
    bool enabled() const { return (attributes & SE_PRIVILEGE_ENABLED) != 0; }
};

struct Token {
    SidBytes user;
    std::vector<TokenGroup> groups;
    std::vector<TokenPrivilege> privileges;  // the privileges held
    TokenPrivilege* findPrivilege(std::string_view name);
    const TokenPrivilege* findPrivilege(std::string_view name) const;
};

// The token an administrator or a plain user of a fresh NT 3.51 installation
// logs on with: Everyone, Users, INTERACTIVE, a logon SID and, for the
// administrator, Administrators (enabled); SeChangeNotifyPrivilege enabled
// and SeShutdownPrivilege held but not enabled, plus the administrator's
// privileges for the administrator.
Token defaultToken(bool admin);

struct SecurityState {
    SecurityState();

    // Declared tokens, as the image describes them: the process token at
    // start, and the token the thread impersonates (none when empty).
    Token process;
    std::optional<Token> impersonation;

    // The running process's tokens: copies of the declared ones, taken on
    // first use. Privilege changes (AdjustTokenPrivileges) act on these and
    // are not saved, as a new process starts from the declared token again.
    std::shared_ptr<Token> liveProcess;
    std::shared_ptr<Token> liveThread;

    // The live token of the process (created from `process` when needed).
    std::shared_ptr<Token> processToken();
    // The live impersonation token, or null when the thread impersonates nobody.
    std::shared_ptr<Token> threadToken();
    // Drops the live copies, so the next use starts from the declared tokens.
    void resetLive();
};

// Makes the machine's user an administrator (admin) or a plain user, without
// impersonation; used by 'winsim new --user admin|user'.
void setUserKind(Machine& m, bool admin);

// True when the token the current thread runs under (the impersonation token
// if there is one, else the process token) holds the named privilege enabled.
// Used by ExitWindowsEx, which needs SeShutdownPrivilege on NT. On Windows 95,
// which has no privileges, every name answers true.
bool privilegeEnabled(std::string_view name);

// The fixed LUID of a privilege name (case-insensitive), or nullopt.
std::optional<LUID> privilegeLuid(std::string_view name);
// The name of a privilege LUID, or null when no privilege has it.
const char* privilegeName(const LUID& luid);

// Number of SIDs handed out by AllocateAndInitializeSid and not yet freed
// (process-wide); lets tests check that callers release them.
std::size_t allocatedSidCount();
// Number of token handles open (process-wide); lets tests check that callers
// close them.
std::size_t openTokenCount();

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadSecurity(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveSecurity(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showSecurity(std::ostream& out, const Machine& m);

}  // namespace winsim
