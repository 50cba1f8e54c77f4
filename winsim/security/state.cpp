// The security family's state: tokens, SIDs as text, privilege names, and the
// "security" section of machine.json.
#include "winsim/security/state.h"

#include "winsim/image/jsonfield.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace winsim {

namespace {

// NT's privilege LUIDs are small fixed numbers (the SE_*_PRIVILEGE values).
struct PrivilegeName {
    const char* name;
    DWORD luid;
};
const PrivilegeName kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},        {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},         {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},     {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},           {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},        {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},        {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},   {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},           {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},             {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22}, {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},
};

const char* canonicalPrivilegeName(std::string_view name) {
    for (const auto& p : kPrivileges)
        if (iequals(p.name, name)) return p.name;
    return nullptr;
}

struct AttributeName {
    const char* name;
    DWORD bit;
};
const AttributeName kGroupAttributes[] = {
    {"mandatory", SE_GROUP_MANDATORY}, {"enabled_by_default", SE_GROUP_ENABLED_BY_DEFAULT},
    {"enabled", SE_GROUP_ENABLED},     {"owner", SE_GROUP_OWNER},
    {"deny_only", SE_GROUP_USE_FOR_DENY_ONLY}, {"logon_id", SE_GROUP_LOGON_ID},
};

const struct {
    const char* sid;
    const char* name;
} kWellKnown[] = {
    {"S-1-1-0", "Everyone"},       {"S-1-5-4", "INTERACTIVE"},   {"S-1-5-18", "SYSTEM"},
    {"S-1-5-32-544", "Administrators"}, {"S-1-5-32-545", "Users"}, {"S-1-5-32-547", "Power Users"},
};

SidBytes sidOrThrow(const std::string& text, const JsonPointer& where) {
    auto sid = parseSid(text);
    if (!sid) badField(where, quotedExcerpt(text) + " is not a SID (expected S-1-<authority>-<sub>...)");
    return *sid;
}

DWORD attributesFromJson(const nlohmann::json& j, const JsonPointer& where) {
    if (j.is_number()) return jsonValue<DWORD>(j, where);
    if (!j.is_array()) badField(where, "expected a number or a list of attribute names");
    DWORD bits = 0;
    for (std::size_t i = 0; i < j.size(); ++i) {
        std::string n = jsonValue<std::string>(j[i], where / i);
        bool found = false;
        for (const auto& k : kGroupAttributes)
            if (n == k.name) {
                bits |= k.bit;
                found = true;
            }
        if (!found) badField(where / i, "unknown attribute " + quotedExcerpt(n));
    }
    return bits;
}

nlohmann::json attributesToJson(DWORD bits) {
    DWORD named = 0;
    nlohmann::json names = nlohmann::json::array();
    for (const auto& k : kGroupAttributes)
        if ((bits & k.bit) == k.bit) {
            names.push_back(k.name);
            named |= k.bit;
        }
    if (named != bits) return bits;  // bits without a name: keep the number
    return names;
}

Token tokenFromJson(const nlohmann::json& j, const JsonPointer& where, bool topLevel) {
    if (topLevel)
        onlyMembers(j, {"user", "groups", "privileges", "impersonation"}, where);
    else
        onlyMembers(j, {"user", "groups", "privileges"}, where);
    Token t;
    if (auto it = j.find("user"); it != j.end() && !it->is_null())
        t.user = sidOrThrow(jsonValue<std::string>(*it, where / "user"), where / "user");
    if (auto it = j.find("groups"); it != j.end() && !it->is_null()) {
        if (!it->is_array()) badField(where / "groups", "expected a list of groups");
        for (std::size_t i = 0; i < it->size(); ++i) {
            const auto& g = (*it)[i];
            const JsonPointer w = where / "groups" / i;
            onlyMembers(g, {"sid", "attributes"}, w);
            if (!g.contains("sid")) badField(w / "sid", "missing (every group needs a SID)");
            TokenGroup tg;
            tg.sid = sidOrThrow(jsonField<std::string>(g, "sid", "", w), w / "sid");
            if (g.contains("attributes")) tg.attributes = attributesFromJson(g["attributes"], w / "attributes");
            t.groups.push_back(std::move(tg));
        }
    }
    if (auto it = j.find("privileges"); it != j.end() && !it->is_null()) {
        if (!it->is_array()) badField(where / "privileges", "expected a list of privileges");
        for (std::size_t i = 0; i < it->size(); ++i) {
            const auto& p = (*it)[i];
            const JsonPointer w = where / "privileges" / i;
            onlyMembers(p, {"name", "enabled", "enabled_by_default"}, w);
            if (!p.contains("name")) badField(w / "name", "missing (every privilege needs its name)");
            std::string name = jsonField<std::string>(p, "name", "", w);
            const char* canon = canonicalPrivilegeName(name);
            if (!canon) badField(w / "name", "unknown privilege " + quotedExcerpt(name));
            if (t.findPrivilege(canon)) badField(w / "name", "privilege " + quotedExcerpt(name) + " listed twice");
            TokenPrivilege tp;
            tp.name = canon;
            if (jsonField<bool>(p, "enabled", false, w)) tp.attributes |= SE_PRIVILEGE_ENABLED;
            if (jsonField<bool>(p, "enabled_by_default", false, w)) tp.attributes |= SE_PRIVILEGE_ENABLED_BY_DEFAULT;
            t.privileges.push_back(std::move(tp));
        }
    }
    return t;
}

nlohmann::json tokenToJson(const Token& t) {
    nlohmann::json j = nlohmann::json::object();
    if (!t.user.empty()) j["user"] = sidText(t.user);
    nlohmann::json groups = nlohmann::json::array();
    for (const auto& g : t.groups) groups.push_back({{"sid", sidText(g.sid)}, {"attributes", attributesToJson(g.attributes)}});
    j["groups"] = groups;
    nlohmann::json privs = nlohmann::json::array();
    for (const auto& p : t.privileges) {
        nlohmann::json pj = {{"name", p.name}, {"enabled", p.enabled()}};
        if (p.attributes & SE_PRIVILEGE_ENABLED_BY_DEFAULT) pj["enabled_by_default"] = true;
        privs.push_back(pj);
    }
    j["privileges"] = privs;
    return j;
}

void showToken(std::ostream& out, const Token& t, const char* indent) {
    out << indent << "user: " << (t.user.empty() ? std::string("(none)") : sidText(t.user)) << "\n";
    out << indent << "groups:\n";
    for (const auto& g : t.groups) {
        std::string text = sidText(g.sid);
        out << indent << "  " << text;
        for (const auto& w : kWellKnown)
            if (text == w.sid) out << " (" << w.name << ")";
        out << " [";
        bool first = true;
        for (const auto& k : kGroupAttributes)
            if ((g.attributes & k.bit) == k.bit) {
                out << (first ? "" : " ") << k.name;
                first = false;
            }
        out << "]\n";
    }
    out << indent << "privileges:\n";
    for (const auto& p : t.privileges) out << indent << "  " << p.name << (p.enabled() ? " enabled" : " held") << "\n";
}

TokenGroup group(const char* sid, DWORD attributes) { return {*parseSid(sid), attributes}; }

}  // namespace

std::optional<SidBytes> parseSid(std::string_view text) {
    auto number = [&](std::uint64_t& out, std::uint64_t max) {
        if (text.empty()) return false;
        int base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            text.remove_prefix(2);
        }
        std::uint64_t v = 0;
        std::size_t n = 0;
        for (; n < text.size(); ++n) {
            char c = text[n];
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else break;
            v = v * base + d;
            if (v > max) return false;
        }
        if (n == 0) return false;
        text.remove_prefix(n);
        out = v;
        return true;
    };
    if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return std::nullopt;
    text.remove_prefix(2);
    std::uint64_t revision, authority;
    if (!number(revision, 255) || revision != SID_REVISION) return std::nullopt;
    if (text.empty() || text[0] != '-') return std::nullopt;
    text.remove_prefix(1);
    if (!number(authority, 0xFFFFFFFFFFFFull)) return std::nullopt;
    std::vector<DWORD> subs;
    while (!text.empty()) {
        if (text[0] != '-') return std::nullopt;
        text.remove_prefix(1);
        std::uint64_t sub;
        if (!number(sub, 0xFFFFFFFFull)) return std::nullopt;
        if (subs.size() == 15) return std::nullopt;
        subs.push_back((DWORD)sub);
    }
    SidBytes sid(8 + 4 * subs.size());
    sid[0] = SID_REVISION;
    sid[1] = (BYTE)subs.size();
    for (int i = 0; i < 6; ++i) sid[2 + i] = (BYTE)(authority >> (8 * (5 - i)));
    for (std::size_t i = 0; i < subs.size(); ++i)
        for (int b = 0; b < 4; ++b) sid[8 + 4 * i + b] = (BYTE)(subs[i] >> (8 * b));  // little-endian DWORDs
    return sid;
}

std::string sidText(const SidBytes& sid) {
    if (sid.size() < 8 || sid[0] != SID_REVISION || sid.size() != 8u + 4u * sid[1]) return "(invalid SID)";
    std::uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
    std::string s = "S-1-";
    char buf[32];
    if (authority >> 32)
        std::snprintf(buf, sizeof buf, "0x%012" PRIX64, authority);
    else
        std::snprintf(buf, sizeof buf, "%" PRIu64, authority);
    s += buf;
    for (std::size_t i = 0; i < sid[1]; ++i) {
        DWORD v = 0;
        for (int b = 0; b < 4; ++b) v |= (DWORD)sid[8 + 4 * i + b] << (8 * b);
        std::snprintf(buf, sizeof buf, "-%u", (unsigned)v);
        s += buf;
    }
    return s;
}

TokenPrivilege* Token::findPrivilege(std::string_view name) {
    for (auto& p : privileges)
        if (iequals(p.name, name)) return &p;
    return nullptr;
}

const TokenPrivilege* Token::findPrivilege(std::string_view name) const {
    return const_cast<Token*>(this)->findPrivilege(name);
}

Token defaultToken(bool admin) {
    const DWORD on = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    Token t;
    t.user = *parseSid(admin ? "S-1-5-21-1751863219-2093611207-1330237004-500"
                             : "S-1-5-21-1751863219-2093611207-1330237004-1001");
    t.groups.push_back(group("S-1-1-0", on));
    if (admin) t.groups.push_back(group("S-1-5-32-544", on | SE_GROUP_OWNER));
    t.groups.push_back(group("S-1-5-32-545", on));
    t.groups.push_back(group("S-1-5-4", on));
    t.groups.push_back(group("S-1-5-5-0-31337", on | SE_GROUP_LOGON_ID));
    const DWORD enabled = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
    t.privileges.push_back({"SeChangeNotifyPrivilege", enabled});
    t.privileges.push_back({"SeShutdownPrivilege", 0});
    if (admin) {
        for (const char* n : {"SeSecurityPrivilege", "SeBackupPrivilege", "SeRestorePrivilege",
                              "SeSystemtimePrivilege", "SeRemoteShutdownPrivilege", "SeTakeOwnershipPrivilege",
                              "SeDebugPrivilege", "SeSystemProfilePrivilege", "SeProfileSingleProcessPrivilege",
                              "SeIncreaseBasePriorityPrivilege", "SeLoadDriverPrivilege",
                              "SeCreatePagefilePrivilege", "SeIncreaseQuotaPrivilege"})
            t.privileges.push_back({n, 0});
    }
    return t;
}

SecurityState::SecurityState() : process(defaultToken(true)) {}

std::shared_ptr<Token> SecurityState::processToken() {
    if (!liveProcess) liveProcess = std::make_shared<Token>(process);
    return liveProcess;
}

std::shared_ptr<Token> SecurityState::threadToken() {
    if (!impersonation) return nullptr;
    if (!liveThread) liveThread = std::make_shared<Token>(*impersonation);
    return liveThread;
}

void SecurityState::resetLive() {
    liveProcess.reset();
    liveThread.reset();
}

void setUserKind(Machine& m, bool admin) {
    m.security->process = defaultToken(admin);
    m.security->impersonation.reset();
    m.security->resetLive();
}

std::optional<LUID> privilegeLuid(std::string_view name) {
    for (const auto& p : kPrivileges)
        if (iequals(p.name, name)) return LUID{p.luid, 0};
    return std::nullopt;
}

const char* privilegeName(const LUID& luid) {
    for (const auto& p : kPrivileges)
        if (luid.HighPart == 0 && luid.LowPart == p.luid) return p.name;
    return nullptr;
}

bool privilegeEnabled(std::string_view name) {
    Machine& m = machine();
    if (!m.os.isNT()) return true;
    auto token = m.security->threadToken();
    if (!token) token = m.security->processToken();
    const TokenPrivilege* p = token->findPrivilege(name);
    return p && p->enabled();
}

void loadSecurity(const nlohmann::json& section, Machine& m) {
    m.security->resetLive();
    if (section.is_null()) {
        m.security->process = defaultToken(true);
        m.security->impersonation.reset();
        return;
    }
    const JsonPointer at = JsonPointer() / "security";
    m.security->process = tokenFromJson(section, at, true);
    m.security->impersonation.reset();
    if (auto it = section.find("impersonation"); it != section.end() && !it->is_null())
        m.security->impersonation = tokenFromJson(*it, at / "impersonation", false);
}

void saveSecurity(nlohmann::json& section, const Machine& m) {
    section = tokenToJson(m.security->process);
    section["impersonation"] =
        m.security->impersonation ? tokenToJson(*m.security->impersonation) : nlohmann::json();
}

void showSecurity(std::ostream& out, const Machine& m) {
    out << "security:\n";
    showToken(out, m.security->process, "  ");
    if (m.security->impersonation) {
        out << "  impersonating:\n";
        showToken(out, *m.security->impersonation, "    ");
    }
}

}  // namespace winsim
