// Conformance tests of the token, SID and privilege calls, and of the
// image's "security" section.
#include "winsim/image/image.h"
#include "winsim/security/state.h"
#include "sim.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace {

std::string textOf(const void* sid) {
    const BYTE* b = static_cast<const BYTE*>(sid);
    return winsim::sidText(winsim::SidBytes(b, b + 8 + 4 * b[1]));
}

// One privilege in a TOKEN_PRIVILEGES block.
TOKEN_PRIVILEGES one(const char* name, DWORD attributes) {
    TOKEN_PRIVILEGES tp;
    tp.PrivilegeCount = 1;
    LUID_AND_ATTRIBUTES la;
    EXPECT_TRUE(LookupPrivilegeValueA(nullptr, name, &la.Luid));
    la.Attributes = attributes;
    std::memcpy(&tp.Privileges[0], &la, sizeof la);
    return tp;
}

// Entry `i` of a block of privileges, copied out as it may be unaligned.
LUID_AND_ATTRIBUTES entry(const TOKEN_PRIVILEGES& tp, DWORD i) {
    LUID_AND_ATTRIBUTES la;
    std::memcpy(&la, &tp.Privileges[i], sizeof la);
    return la;
}

// "luid:attributes " of each privilege of a block.
std::string listed(const TOKEN_PRIVILEGES& tp) {
    std::string out;
    for (DWORD i = 0; i < tp.PrivilegeCount; ++i)
        out += std::to_string(entry(tp, i).Luid.LowPart) + ":" + std::to_string(entry(tp, i).Attributes) + " ";
    return out;
}

struct Security : ::testing::Test {
    winsim::Machine* m = nullptr;
    void SetUp() override { m = &sim::fresh(); }
    HANDLE token(DWORD access = TOKEN_QUERY) {
        HANDLE h = (HANDLE)0x1;
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &h));
        return h;
    }
    // A class of the token read with the two-call protocol, into a block
    // 8-byte aligned (std::vector<ULONGLONG>) as a heap block would be.
    std::vector<ULONGLONG> read(HANDLE h, TOKEN_INFORMATION_CLASS what, DWORD* size) {
        *size = 0;
        EXPECT_FALSE(GetTokenInformation(h, what, nullptr, 0, size));
        std::vector<ULONGLONG> buf((*size + 7) / 8);
        DWORD got = 0;
        EXPECT_TRUE(GetTokenInformation(h, what, buf.data(), *size, &got));
        EXPECT_EQ(got, *size);
        return buf;
    }
    // The SIDs of the token's groups, each with its attributes.
    std::vector<std::pair<std::string, DWORD>> groups(HANDLE h) {
        DWORD size;
        auto buf = read(h, TokenGroups, &size);
        auto* tg = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
        std::vector<std::pair<std::string, DWORD>> out;
        for (DWORD i = 0; i < tg->GroupCount; ++i) out.emplace_back(textOf(tg->Groups[i].Sid), tg->Groups[i].Attributes);
        return out;
    }
    // AdjustTokenPrivileges, expecting success and `error` as the last error.
    void adjust(HANDLE h, BOOL disableAll, TOKEN_PRIVILEGES* tp, DWORD error = ERROR_SUCCESS, DWORD cb = 0,
                TOKEN_PRIVILEGES* prev = nullptr, DWORD* len = nullptr) {
        EXPECT_LASTERROR(AdjustTokenPrivileges(h, disableAll, tp, cb, prev, len), TRUE, error);
    }
};

TEST_F(Security, TokensOfTheProcessAndTheThread) {
    // Which groups make an administrator is the administrator check's matter.
    HANDLE h = token();
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_TRUE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    // No thread token without impersonation.
    h = (HANDLE)0x1234;
    EXPECT_FAILS(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &h), ERROR_NO_TOKEN);
    EXPECT_FAILS(OpenThreadToken((HANDLE)0x777, TOKEN_QUERY, FALSE, &h), ERROR_INVALID_HANDLE);
    // The impersonation token is the thread's, and decides the privileges.
    m->security->impersonation = winsim::defaultToken(false);
    m->security->impersonation->privileges[1].attributes = SE_PRIVILEGE_ENABLED;  // SeShutdownPrivilege
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &h));
    EXPECT_EQ(groups(h).size(), 4u);  // the plain user: no Administrators
    EXPECT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    CloseHandle(h);
    // Windows 95 has no tokens, and every privilege.
    sim::fresh(winsim::Platform::Win95);
    h = (HANDLE)0x1;
    EXPECT_FAILS(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &h), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(h, (HANDLE)0x1);
    EXPECT_FAILS(AdjustTokenPrivileges(h, TRUE, nullptr, 0, nullptr, nullptr), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
}

// The size query itself is the conformance cases' matter.
TEST_F(Security, TokenGroupsBlock) {
    HANDLE h = token(), adjustOnly = token(TOKEN_ADJUST_PRIVILEGES);
    DWORD need = 0, got = 0;
    GetTokenInformation(h, TokenGroups, nullptr, 0, &need);
    ASSERT_GT(need, sizeof(TOKEN_GROUPS));
    ASSERT_LT(need, 4096u);
    std::vector<ULONGLONG> buf(need / 8 + 2);
    std::memset(buf.data(), 0xA5, buf.size() * 8);
    BYTE* block = reinterpret_cast<BYTE*>(buf.data());
    const std::string guard((const char*)block, buf.size() * 8);
    // One byte short, or anything refused: the failure, nothing written.
    EXPECT_FAILS(GetTokenInformation(h, TokenGroups, block, need - 1, &got), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(got, need);
    EXPECT_FAILS(GetTokenInformation((HANDLE)0x999, TokenGroups, block, need, &got), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(GetTokenInformation(adjustOnly, TokenGroups, block, need, &got), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(GetTokenInformation(h, TokenGroups, block, need, nullptr), ERROR_NOACCESS);
    EXPECT_FAILS(GetTokenInformation(h, TokenStatistics, block, need, &got), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(GetTokenInformation(h, TokenGroups, block + 1, need, &got), ERROR_NOACCESS);  // odd address
    EXPECT_EQ(std::string((const char*)block, buf.size() * 8), guard);
    // Exact size: nothing past the block, the SIDs aligned inside it after the array.
    EXPECT_TRUE(GetTokenInformation(h, TokenGroups, block, need, &got));
    EXPECT_EQ(got, need);
    EXPECT_EQ(std::string((const char*)block + need, buf.size() * 8 - need), guard.substr(need));
    auto* tg = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
    ASSERT_EQ(tg->GroupCount, 5u);
    const BYTE* arrayEnd = reinterpret_cast<const BYTE*>(&tg->Groups[tg->GroupCount]);
    for (DWORD i = 0; i < tg->GroupCount; ++i) {
        const BYTE* sid = static_cast<const BYTE*>(tg->Groups[i].Sid);
        EXPECT_TRUE(sid >= arrayEnd && sid + 8 + 4 * sid[1] <= block + need) << "SID " << i << " outside the block";
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sid) % 4, 0u);
    }
    CloseHandle(adjustOnly);
    CloseHandle(h);
}

TEST_F(Security, TokenPrivilegesAndUser) {
    HANDLE h = token();
    DWORD need;
    auto buf = read(h, TokenPrivileges, &need);
    auto* tp = reinterpret_cast<TOKEN_PRIVILEGES*>(buf.data());
    EXPECT_EQ(need, 4u + 12u * tp->PrivilegeCount);
    EXPECT_EQ(listed(*tp), "23:3 19:0 8:0 17:0 18:0 12:0 24:0 9:0 20:0 11:0 13:0 14:0 10:0 15:0 5:0 ");  // an administrator
    auto user = read(h, TokenUser, &need);
    EXPECT_EQ(textOf(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid).substr(0, 9), "S-1-5-21-");
    CloseHandle(h);
}

TEST_F(Security, Sids) {
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID a = nullptr, b = nullptr, c = nullptr;
    std::size_t before = winsim::allocatedSidCount();
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &a));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 9, 9, 9, 9, 9, 9, &b));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 545, 0, 0, 0, 0, 0, 0, &c));
    EXPECT_EQ(winsim::allocatedSidCount(), before + 3);
    EXPECT_EQ(textOf(a), "S-1-5-32-544");
    SetLastError(sim::kSentinel);
    EXPECT_TRUE(EqualSid(a, b));  // unused sub-authorities do not count
    EXPECT_FALSE(EqualSid(a, c));
    BYTE broken[16] = {7, 1};
    EXPECT_FAILS(EqualSid(a, broken), ERROR_INVALID_SID);
    PSID d = (PSID)0x1;
    EXPECT_FAILS(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &d), ERROR_INVALID_SID);
    EXPECT_EQ(d, (PSID)0x1);
    // A second free is refused.
    EXPECT_EQ(std::vector<PSID>({FreeSid(a), FreeSid(a), FreeSid(b), FreeSid(c)}), std::vector<PSID>({nullptr, a, nullptr, nullptr}));
    EXPECT_EQ(winsim::allocatedSidCount(), before);
    // Their text form.
    for (const char* good : {"S-1-5-32-544", "S-1-0x1234567890AB-1", "S-1-1"})
        EXPECT_EQ(winsim::sidText(*winsim::parseSid(good)), good);
    for (const char* bad : {"", "S-", "S-2-5-32", "S-1-5-", "S-1-5-32-4294967296", "S-1-5--3", "S-1-5-32x",
                            "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"})
        EXPECT_FALSE(winsim::parseSid(bad).has_value()) << bad;
}

TEST_F(Security, LookupPrivilegeValue) {
    LUID luid = {sim::kSentinel, 0x1234};
    ASSERT_TRUE(LookupPrivilegeValueA("\\\\VARDEN1", "seshutdownprivilege", &luid));
    EXPECT_EQ(std::to_string(luid.LowPart) + " " + std::to_string(luid.HighPart), "19 0");
    luid = {sim::kSentinel, 0x1234};
    EXPECT_FAILS(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid), ERROR_NO_SUCH_PRIVILEGE);
    EXPECT_EQ(luid.LowPart, sim::kSentinel);
    EXPECT_FAILS(LookupPrivilegeValueA("\\\\OTHERHOST", "SeShutdownPrivilege", &luid), RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(Security, AdjustTokenPrivileges) {
    HANDLE h = token(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY), queryOnly = token(TOKEN_QUERY);
    TOKEN_PRIVILEGES on = one("SeShutdownPrivilege", SE_PRIVILEGE_ENABLED), off = one("SeShutdownPrivilege", 0), small;
    // The previous state, in a block with room to spare that must stay untouched.
    struct {
        TOKEN_PRIVILEGES tp;
        LUID_AND_ATTRIBUTES more[4];
    } prev;
    std::memset(&prev, 0xA5, sizeof prev);
    const std::string spare((const char*)prev.more, sizeof prev.more);
    DWORD len = 0;
    std::string seen;
    auto enabled = [&] { seen += winsim::privilegeEnabled("SeShutdownPrivilege") ? "on " : "off "; };
    // Previous-state buffer too small: fails, reports the size, changes nothing.
    EXPECT_FAILS(AdjustTokenPrivileges(h, FALSE, &on, 4, &small, &len), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, sizeof(TOKEN_PRIVILEGES));
    enabled();
    adjust(h, FALSE, &on);
    enabled();
    // The previous state: the privilege that changed, as it was.
    adjust(h, FALSE, &off, ERROR_SUCCESS, sizeof prev.tp, &prev.tp, &len);
    enabled();
    seen += std::to_string(len) + " " + listed(prev.tp) + "| ";
    EXPECT_EQ(std::string((const char*)prev.more, sizeof prev.more), spare);
    // Disabling all reports what was enabled: only SeChangeNotifyPrivilege.
    adjust(h, TRUE, nullptr, ERROR_SUCCESS, sizeof prev, &prev.tp, &len);
    seen += listed(prev.tp) + (winsim::privilegeEnabled("SeChangeNotifyPrivilege") ? "on" : "off");
    EXPECT_EQ(seen, "off on off 16 19:2 | 23:3 off");
    EXPECT_FAILS(AdjustTokenPrivileges(queryOnly, FALSE, &on, 0, nullptr, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(AdjustTokenPrivileges((HANDLE)0x999, FALSE, &on, 0, nullptr, nullptr), ERROR_INVALID_HANDLE);
    CloseHandle(queryOnly);
    // Adjustments are not saved with the image.
    adjust(h, FALSE, &on);
    CloseHandle(h);
    nlohmann::json section;
    winsim::saveSecurity(section, *m);
    for (auto& p : section["privileges"])
        if (p["name"] == "SeShutdownPrivilege") {
            EXPECT_FALSE(p["enabled"].get<bool>());
        }
}

// The way a program restarts NT: enable SeShutdownPrivilege in its own
// token, then ask for the restart. Without the privilege enabled the
// request is refused; a plain user without it held cannot enable it.
TEST_F(Security, ShutdownPrivilegeGatesExitWindowsEx) {
    EXPECT_FAILS(ExitWindowsEx(EWX_REBOOT, 0), ERROR_PRIVILEGE_NOT_HELD);
    TOKEN_PRIVILEGES tp = one(SE_SHUTDOWN_NAME, SE_PRIVILEGE_ENABLED);
    HANDLE h = token(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    adjust(h, FALSE, &tp);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));

    winsim::setUserKind(*m, false);
    std::erase_if(m->security->process.privileges,
                  [](const winsim::TokenPrivilege& p) { return p.name == "SeShutdownPrivilege"; });
    m->security->resetLive();
    h = token(TOKEN_ADJUST_PRIVILEGES);
    adjust(h, FALSE, &tp, ERROR_NOT_ALL_ASSIGNED);
    TOKEN_PRIVILEGES debug = one("SeDebugPrivilege", SE_PRIVILEGE_ENABLED);
    adjust(h, FALSE, &debug, ERROR_NOT_ALL_ASSIGNED);
    EXPECT_FALSE(winsim::privilegeEnabled("SeDebugPrivilege"));
    CloseHandle(h);
    EXPECT_FAILS(ExitWindowsEx(EWX_REBOOT, 0), ERROR_PRIVILEGE_NOT_HELD);
}

// The section's place-by-place checks and round trip are the machine.json
// tests'; here the attribute forms, the default and the names shown.
TEST_F(Security, ImageSectionAttributesDefaultsAndShow) {
    winsim::loadSecurity(nlohmann::json::parse(R"({
      "groups": [{"sid": "S-1-1-0", "attributes": 7}, {"sid": "S-1-5-32-544", "attributes": ["deny_only"]}],
      "privileges": [{"name": "seshutdownprivilege", "enabled": true}],
      "impersonation": {"groups": [{"sid": "S-1-5-32-544", "attributes": ["enabled"]}]}})"), *m);
    ASSERT_TRUE(m->security->impersonation.has_value());
    nlohmann::json out;
    winsim::saveSecurity(out, *m);
    EXPECT_EQ(out["groups"].dump() + out["privileges"][0]["name"].dump(),
              R"([{"attributes":["mandatory","enabled_by_default","enabled"],"sid":"S-1-1-0"},)"
              R"({"attributes":["deny_only"],"sid":"S-1-5-32-544"}]"SeShutdownPrivilege")");
    std::ostringstream shown;
    winsim::showSecurity(shown, *m);
    EXPECT_EQ(shown.str(), R"(security:
  user: (none)
  groups:
    S-1-1-0 (Everyone) [mandatory enabled_by_default enabled]
    S-1-5-32-544 (Administrators) [deny_only]
  privileges:
    SeShutdownPrivilege enabled
  impersonating:
    user: (none)
    groups:
      S-1-5-32-544 (Administrators) [enabled]
    privileges:
)");
    winsim::loadSecurity(nlohmann::json(), *m);
    EXPECT_FALSE(m->security->impersonation.has_value());
    EXPECT_EQ(winsim::sidText(m->security->process.groups[1].sid), "S-1-5-32-544");
    EXPECT_THROW(winsim::loadSecurity(nlohmann::json::parse(R"({"groups": [{"sid": "S-1-1-0", "attributes": ["shiny"]}]})"), *m),
                 winsim::ImageError);
}

}  // namespace
