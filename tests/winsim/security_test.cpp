// The process and thread tokens, the token-groups block and the image's
// "security" section; the calls' refusals are the conformance cases'.
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
};

TEST_F(Security, TokensOfTheProcessAndTheThread) {
    // Which groups make an administrator is the administrator check's matter.
    HANDLE h = token();
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_TRUE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FAILS(OpenThreadToken((HANDLE)0x777, TOKEN_QUERY, FALSE, &h), ERROR_INVALID_HANDLE);
    // The impersonation token is the thread's, and decides the privileges.
    m->security->impersonation = winsim::defaultToken(false);
    m->security->impersonation->privileges[1].attributes = SE_PRIVILEGE_ENABLED;  // SeShutdownPrivilege
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &h));
    EXPECT_EQ(groups(h).size(), 4u);  // the plain user: no Administrators
    EXPECT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    DWORD size;
    auto privs = read(h, TokenPrivileges, &size);
    const auto& shutdown = reinterpret_cast<TOKEN_PRIVILEGES*>(privs.data())->Privileges[1];
    EXPECT_EQ(std::to_string(shutdown.Luid.LowPart) + " " + std::to_string(shutdown.Attributes), "19 2");
    const BYTE badSid[8] = {2, 0, 0, 0, 0, 0, 0, 5};  // revision 2
    EXPECT_FAILS(EqualSid((PSID)badSid, (PSID)badSid), ERROR_INVALID_SID);
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

// SID text both ways: either case of the prefix, hexadecimal numbers, the
// limits of each part, and the texts refused.
TEST(Sids, TextBothWaysAndRefusals) {
    const std::string subs15 = "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15";
    const std::pair<std::string, std::string> read[] = {
        {"S-1-5-32-544", "S-1-5-32-544"},
        {"s-1-0x10-0X1f-0xffffffff", "S-1-16-31-4294967295"},
        {"S-1-0xFFFFFFFFFFFF-4294967295", "S-1-0xFFFFFFFFFFFF-4294967295"},
        {"S-1-4294967296", "S-1-0x000100000000"},
        {subs15, subs15},
    };
    for (const auto& [text, shown] : read) {
        auto sid = winsim::parseSid(text);
        EXPECT_EQ(sid ? winsim::sidText(*sid) : "refused", shown) << text;
    }
    for (const char* text : {"", "S", "S1-5", "X-1-5", "S-2-5", "S-1", "S-1-", "S-1-5-", "S-1-5--1", "S-1-5-1x",
                             "S-1-x5", "S-1-0x", "S-1-5-4294967296", "S-1-0x1000000000000"})
        EXPECT_FALSE(winsim::parseSid(text).has_value()) << text;
    EXPECT_FALSE(winsim::parseSid(subs15 + "-16").has_value());
    using winsim::SidBytes;
    for (const SidBytes& bad : {SidBytes{1, 1, 0, 0, 0, 0, 0, 5}, SidBytes{2, 0, 0, 0, 0, 0, 0, 5}, SidBytes{1, 0, 0}})
        EXPECT_EQ(winsim::sidText(bad), "(invalid SID)");
}

}  // namespace
