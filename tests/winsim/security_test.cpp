// Conformance tests of the token, SID and privilege calls, and of the
// image's "security" section.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/security/state.h"
#include "sim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

namespace {

winsim::Machine& freshNT(const char* tag) { return sim::fresh(sim::os(), tag); }

std::string textOf(const void* sid) {
    const BYTE* b = static_cast<const BYTE*>(sid);
    return winsim::sidText(winsim::SidBytes(b, b + 8 + 4 * b[1]));
}

HANDLE openProcessToken(DWORD access = TOKEN_QUERY) {
    HANDLE h = (HANDLE)0x1;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &h));
    return h;
}

// Reads the token's groups with the two-call protocol; the block is 8-byte
// aligned (std::vector<ULONGLONG>) as a heap block would be.
std::vector<ULONGLONG> readGroups(HANDLE token, DWORD* size) {
    *size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, size);
    std::vector<ULONGLONG> buf((*size + 7) / 8);
    DWORD got = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenGroups, buf.data(), *size, &got));
    EXPECT_EQ(got, *size);
    return buf;
}

TEST(SecurityTokens, BareMachineUserIsAdministrator) {
    freshNT("bare");
    HANDLE token = openProcessToken();
    DWORD size;
    auto buf = readGroups(token, &size);
    auto* tg = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
    bool found = false;
    for (DWORD i = 0; i < tg->GroupCount; ++i)
        if (textOf(tg->Groups[i].Sid) == "S-1-5-32-544") {
            found = true;
            EXPECT_TRUE(tg->Groups[i].Attributes & SE_GROUP_ENABLED);
        }
    EXPECT_TRUE(found);
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_TRUE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));
}

TEST(SecurityTokens, OpenThreadTokenWithoutImpersonation) {
    freshNT("nothread");
    HANDLE h = (HANDLE)0x1234;
    EXPECT_FAILS(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &h), ERROR_NO_TOKEN);

    EXPECT_FAILS(OpenThreadToken((HANDLE)0x777, TOKEN_QUERY, FALSE, &h), ERROR_INVALID_HANDLE);
}

TEST(SecurityTokens, ImpersonationTokenIsTheThreadsAndDecidesPrivileges) {
    auto& m = freshNT("imp");
    m.security->impersonation = winsim::defaultToken(false);
    m.security->impersonation->privileges[1].attributes = SE_PRIVILEGE_ENABLED;  // SeShutdownPrivilege
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &h));
    DWORD size;
    auto buf = readGroups(h, &size);
    auto* tg = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
    EXPECT_EQ(tg->GroupCount, 4u);  // the plain user: no Administrators
    EXPECT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    CloseHandle(h);
}

TEST(SecurityTokens, TokenGroupsSizeProtocol) {
    freshNT("sizes");
    HANDLE token = openProcessToken();

    DWORD need = 0xdeadbeef;
    EXPECT_FAILS(GetTokenInformation(token, TokenGroups, nullptr, 0, &need), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(need, sizeof(TOKEN_GROUPS));
    ASSERT_LT(need, 4096u);

    // One byte short: the same failure, nothing written.
    std::vector<ULONGLONG> buf(need / 8 + 2);
    std::memset(buf.data(), 0xA5, buf.size() * 8);
    DWORD got = 0;
    EXPECT_FAILS(GetTokenInformation(token, TokenGroups, buf.data(), need - 1, &got), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(got, need);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(buf.data());
    for (std::size_t i = 0; i < buf.size() * 8; ++i) ASSERT_EQ(bytes[i], 0xA5) << "byte " << i;

    // Exact size: success, nothing past the block, SIDs inside it.
    SetLastError(0xdeadbeef);
    got = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenGroups, buf.data(), need, &got));
    EXPECT_EQ(got, need);
    for (std::size_t i = need; i < buf.size() * 8; ++i) ASSERT_EQ(bytes[i], 0xA5) << "guard byte " << i;
    auto* tg = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
    ASSERT_EQ(tg->GroupCount, 5u);
    const BYTE* arrayEnd = reinterpret_cast<const BYTE*>(&tg->Groups[tg->GroupCount]);
    for (DWORD i = 0; i < tg->GroupCount; ++i) {
        const BYTE* sid = static_cast<const BYTE*>(tg->Groups[i].Sid);
        EXPECT_GE(sid, arrayEnd) << "SID overlaps the array";
        EXPECT_LE(sid + 8 + 4 * sid[1], bytes + need) << "SID outside the block";
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sid) % 4, 0u);
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&tg->Groups[0]) % alignof(SID_AND_ATTRIBUTES), 0u);
    CloseHandle(token);
}

TEST(SecurityTokens, GetTokenInformationRefusals) {
    freshNT("refuse");
    DWORD got = 0;
    std::vector<ULONGLONG> buf(64);

    EXPECT_FAILS(GetTokenInformation((HANDLE)0x999, TokenGroups, buf.data(), 512, &got), ERROR_INVALID_HANDLE);

    HANDLE adjustOnly = openProcessToken(TOKEN_ADJUST_PRIVILEGES);
    EXPECT_FAILS(GetTokenInformation(adjustOnly, TokenGroups, buf.data(), 512, &got), ERROR_ACCESS_DENIED);
    CloseHandle(adjustOnly);

    HANDLE token = openProcessToken();
    EXPECT_FAILS(GetTokenInformation(token, TokenGroups, buf.data(), 512, nullptr), ERROR_NOACCESS);

    EXPECT_FAILS(GetTokenInformation(token, TokenStatistics, buf.data(), 512, &got), ERROR_INVALID_PARAMETER);

    // A block with pointers cannot go to an odd address.
    EXPECT_FAILS(GetTokenInformation(token, TokenGroups, reinterpret_cast<BYTE*>(buf.data()) + 1, 500, &got),
                 ERROR_NOACCESS);
    CloseHandle(token);
}

TEST(SecurityTokens, TokenPrivilegesAndUser) {
    freshNT("privs");
    HANDLE token = openProcessToken();
    DWORD need = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, nullptr, 0, &need));
    std::vector<ULONGLONG> buf(need / 8 + 1);
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buf.data(), need, &need));
    auto* tp = reinterpret_cast<TOKEN_PRIVILEGES*>(buf.data());
    EXPECT_EQ(need, 4u + 12u * tp->PrivilegeCount);
    bool shutdown = false;
    for (DWORD i = 0; i < tp->PrivilegeCount; ++i) {
        LUID_AND_ATTRIBUTES la;
        std::memcpy(&la, &tp->Privileges[i], sizeof la);
        if (la.Luid.LowPart == 19) {
            shutdown = true;
            EXPECT_EQ(la.Attributes & SE_PRIVILEGE_ENABLED, 0u);
        }
    }
    EXPECT_TRUE(shutdown);

    ASSERT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &need));
    std::vector<ULONGLONG> ubuf(need / 8 + 1);
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, ubuf.data(), need, &need));
    auto* tu = reinterpret_cast<TOKEN_USER*>(ubuf.data());
    EXPECT_EQ(textOf(tu->User.Sid).substr(0, 9), "S-1-5-21-");
    CloseHandle(token);
}

TEST(SecuritySids, AllocateEqualFree) {
    freshNT("sids");
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID a = nullptr, b = nullptr, c = nullptr;
    std::size_t before = winsim::allocatedSidCount();
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 0, 0, 0, 0, 0, 0, &a));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 544, 9, 9, 9, 9, 9, 9, &b));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, 32, 545, 0, 0, 0, 0, 0, 0, &c));
    EXPECT_EQ(winsim::allocatedSidCount(), before + 3);
    EXPECT_EQ(textOf(a), "S-1-5-32-544");

    SetLastError(0xdeadbeef);
    EXPECT_TRUE(EqualSid(a, b));  // unused sub-authorities do not count
    EXPECT_FALSE(EqualSid(a, c));
    BYTE broken[16] = {7, 1};
    EXPECT_FAILS(EqualSid(a, broken), ERROR_INVALID_SID);

    PSID d = (PSID)0x1;
    EXPECT_FAILS(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &d), ERROR_INVALID_SID);
    EXPECT_EQ(d, (PSID)0x1);

    EXPECT_EQ(FreeSid(a), nullptr);
    EXPECT_EQ(FreeSid(a), a) << "a second free is refused";
    EXPECT_EQ(FreeSid(b), nullptr);
    EXPECT_EQ(FreeSid(c), nullptr);
    EXPECT_EQ(winsim::allocatedSidCount(), before);
}

TEST(SecurityPrivileges, LookupPrivilegeValue) {
    freshNT("lookup");
    LUID luid = {0xdeadbeef, 0x1234};
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
    EXPECT_EQ(luid.LowPart, 19u);
    EXPECT_EQ(luid.HighPart, 0);
    ASSERT_TRUE(LookupPrivilegeValueA("\\\\VARDEN1", "seshutdownprivilege", &luid));
    EXPECT_EQ(luid.LowPart, 19u);

    luid = {0xdeadbeef, 0x1234};
    EXPECT_FAILS(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid), ERROR_NO_SUCH_PRIVILEGE);
    EXPECT_EQ(luid.LowPart, 0xdeadbeefu);

    EXPECT_FAILS(LookupPrivilegeValueA("\\\\OTHERHOST", "SeShutdownPrivilege", &luid), RPC_S_SERVER_UNAVAILABLE);
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

TEST(SecurityPrivileges, AdjustEnablesHeldPrivilege) {
    freshNT("adjust");
    HANDLE token = openProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    TOKEN_PRIVILEGES tp = one("SeShutdownPrivilege", SE_PRIVILEGE_ENABLED);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
    EXPECT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));

    // Previous state: the privilege that changed, as it was.
    struct {
        TOKEN_PRIVILEGES tp;
        BYTE guard[16];
    } prev;
    std::memset(&prev, 0xA5, sizeof prev);
    TOKEN_PRIVILEGES off = one("SeShutdownPrivilege", 0);
    DWORD len = 0;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &off, sizeof prev.tp, &prev.tp, &len));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
    EXPECT_EQ(len, sizeof(TOKEN_PRIVILEGES));
    ASSERT_EQ(prev.tp.PrivilegeCount, 1u);
    LUID_AND_ATTRIBUTES la;
    std::memcpy(&la, &prev.tp.Privileges[0], sizeof la);
    EXPECT_EQ(la.Luid.LowPart, 19u);
    EXPECT_TRUE(la.Attributes & SE_PRIVILEGE_ENABLED);
    for (BYTE g : prev.guard) EXPECT_EQ(g, 0xA5);
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    CloseHandle(token);
}

TEST(SecurityPrivileges, AdjustPrivilegeNotHeldSucceedsWithNotAllAssigned) {
    auto& m = freshNT("notheld");
    winsim::setUserKind(m, false);
    HANDLE token = openProcessToken(TOKEN_ADJUST_PRIVILEGES);
    TOKEN_PRIVILEGES tp = one("SeDebugPrivilege", SE_PRIVILEGE_ENABLED);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ALL_ASSIGNED);
    EXPECT_FALSE(winsim::privilegeEnabled("SeDebugPrivilege"));
    CloseHandle(token);
}

TEST(SecurityPrivileges, AdjustRefusals) {
    freshNT("adjrefuse");
    TOKEN_PRIVILEGES tp = one("SeShutdownPrivilege", SE_PRIVILEGE_ENABLED);

    HANDLE queryOnly = openProcessToken(TOKEN_QUERY);
    EXPECT_FAILS(AdjustTokenPrivileges(queryOnly, FALSE, &tp, 0, nullptr, nullptr), ERROR_ACCESS_DENIED);
    CloseHandle(queryOnly);

    EXPECT_FAILS(AdjustTokenPrivileges((HANDLE)0x999, FALSE, &tp, 0, nullptr, nullptr), ERROR_INVALID_HANDLE);

    // Previous-state buffer too small: fails, reports the size, changes nothing.
    HANDLE token = openProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    TOKEN_PRIVILEGES prev;
    DWORD len = 0;
    EXPECT_FAILS(AdjustTokenPrivileges(token, FALSE, &tp, 4, &prev, &len), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, sizeof(TOKEN_PRIVILEGES));
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    CloseHandle(token);
}

TEST(SecurityPrivileges, AdjustmentsAreNotSavedWithTheImage) {
    auto& m = freshNT("notsaved");
    HANDLE token = openProcessToken(TOKEN_ADJUST_PRIVILEGES);
    TOKEN_PRIVILEGES tp = one("SeShutdownPrivilege", SE_PRIVILEGE_ENABLED);
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    CloseHandle(token);
    nlohmann::json section;
    winsim::saveSecurity(section, m);
    for (auto& p : section["privileges"])
        if (p["name"] == "SeShutdownPrivilege") {
            EXPECT_FALSE(p["enabled"].get<bool>());
        }
}

TEST(SecurityTokens, Windows95HasNoTokens) {
    sim::fresh(winsim::Platform::Win95);
    HANDLE h = (HANDLE)0x1;
    EXPECT_FAILS(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &h), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(h, (HANDLE)0x1);
    EXPECT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
}

TEST(SecurityImage, SectionRoundTripsAndDefaultsToAdministrator) {
    auto& m = freshNT("image");
    nlohmann::json in = nlohmann::json::parse(R"({
      "user": "S-1-5-21-1-2-3-1001",
      "groups": [
        {"sid": "S-1-1-0", "attributes": ["mandatory", "enabled_by_default", "enabled"]},
        {"sid": "S-1-5-32-544", "attributes": ["deny_only"]},
        {"sid": "S-1-5-32-545", "attributes": 7}
      ],
      "privileges": [{"name": "seshutdownprivilege", "enabled": true}],
      "impersonation": {"groups": [{"sid": "S-1-5-32-544", "attributes": ["enabled"]}]}
    })");
    winsim::loadSecurity(in, m);
    ASSERT_EQ(m.security->process.groups.size(), 3u);
    EXPECT_EQ(m.security->process.groups[1].attributes, (DWORD)SE_GROUP_USE_FOR_DENY_ONLY);
    EXPECT_EQ(m.security->process.privileges[0].name, "SeShutdownPrivilege");
    ASSERT_TRUE(m.security->impersonation.has_value());

    nlohmann::json out;
    winsim::saveSecurity(out, m);
    EXPECT_EQ(out["groups"][1]["sid"], "S-1-5-32-544");
    EXPECT_EQ(out["groups"][1]["attributes"], nlohmann::json::array({"deny_only"}));
    EXPECT_EQ(out["user"], "S-1-5-21-1-2-3-1001");
    winsim::loadSecurity(out, m);
    nlohmann::json again;
    winsim::saveSecurity(again, m);
    EXPECT_EQ(out, again);

    std::ostringstream shown;
    winsim::showSecurity(shown, m);
    EXPECT_NE(shown.str().find("S-1-5-32-544 (Administrators) [deny_only]"), std::string::npos) << shown.str();

    winsim::loadSecurity(nlohmann::json(), m);
    EXPECT_FALSE(m.security->impersonation.has_value());
    EXPECT_EQ(winsim::sidText(m.security->process.groups[1].sid), "S-1-5-32-544");
}

TEST(SecurityImage, MalformedSectionNamesThePlace) {
    auto& m = freshNT("badimage");
    struct Case {
        const char* json;
        const char* expected;
    } cases[] = {
        {R"({"groups": [{"sid": "S-1-5-32-544"}, {"sid": "X-1-5"}]})", "security.groups[1].sid"},
        {R"({"groups": [{"sid": "S-1-5-32-544", "attributes": ["shiny"]}]})", "unknown attribute \"shiny\""},
        {R"({"privileges": [{"name": "SeFlyPrivilege"}]})", "security.privileges[0].name"},
        {R"({"privileges": [{"name": "SeShutdownPrivilege", "enabled": "yes"}]})", "privileges[0].enabled"},
        {R"({"impersonation": {"groups": 3}})", "security.impersonation.groups"},
        {R"([1, 2])", "security: expected an object"},
    };
    for (const auto& c : cases) {
        try {
            winsim::loadSecurity(nlohmann::json::parse(c.json), m);
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const winsim::ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("machine.json"), std::string::npos) << e.what();
        }
    }
}

TEST(SecuritySids, ParseAndFormat) {
    EXPECT_EQ(winsim::sidText(*winsim::parseSid("S-1-5-32-544")), "S-1-5-32-544");
    EXPECT_EQ(winsim::sidText(*winsim::parseSid("S-1-0x1234567890AB-1")), "S-1-0x1234567890AB-1");
    EXPECT_EQ(winsim::sidText(*winsim::parseSid("S-1-1")), "S-1-1");
    for (const char* bad : {"", "S-", "S-2-5-32", "S-1-5-", "S-1-5-32-4294967296", "S-1-5--3", "S-1-5-32x",
                            "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"})
        EXPECT_FALSE(winsim::parseSid(bad).has_value()) << bad;
}

}  // namespace

namespace {

// The way a program restarts NT: enable SeShutdownPrivilege in its own
// token, then ask for the restart. Without the privilege enabled the
// request is refused.
TEST(SecurityPrivileges, ShutdownPrivilegeGatesExitWindowsEx) {
    auto& m = freshNT("shutdown");
    EXPECT_FAILS(ExitWindowsEx(EWX_REBOOT, 0), ERROR_PRIVILEGE_NOT_HELD);

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES tp = one(SE_SHUTDOWN_NAME, SE_PRIVILEGE_ENABLED);
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));

    // A plain user without the privilege held cannot enable it.
    winsim::setUserKind(m, false);
    auto& tok = m.security->process.privileges;
    std::erase_if(tok, [](const winsim::TokenPrivilege& p) { return p.name == "SeShutdownPrivilege"; });
    m.security->resetLive();
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ALL_ASSIGNED);
    CloseHandle(token);
    EXPECT_FAILS(ExitWindowsEx(EWX_REBOOT, 0), ERROR_PRIVILEGE_NOT_HELD);
}

TEST(SecurityPrivileges, DisableAllReportsWhatWasEnabled) {
    freshNT("disableall");
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    struct {
        TOKEN_PRIVILEGES tp;
        LUID_AND_ATTRIBUTES more[4];
    } prev;
    DWORD len = 0;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, sizeof prev, &prev.tp, &len));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
    ASSERT_EQ(prev.tp.PrivilegeCount, 1u);  // only SeChangeNotifyPrivilege was enabled
    LUID_AND_ATTRIBUTES la;
    std::memcpy(&la, &prev.tp.Privileges[0], sizeof la);
    EXPECT_EQ(la.Luid.LowPart, 23u);
    EXPECT_FALSE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
    CloseHandle(token);
}

}  // namespace
