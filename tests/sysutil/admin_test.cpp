// The administrator check on tokens built in the test.
#include "sysutil/admin.h"

#include "winsim/core/machine.h"
#include "winsim/security/state.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const DWORD kOn = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

winsim::Machine& freshNT() {
    auto dir = std::filesystem::temp_directory_path() / "sysutil-admin";
    std::filesystem::remove_all(dir);
    return winsim::install(winsim::makeBareMachine(winsim::OsInfo{}, dir));
}

winsim::TokenGroup group(const char* sid, DWORD attributes) { return {*winsim::parseSid(sid), attributes}; }

// Runs the check and verifies it left no token open and no SID allocated.
BOOL check() {
    std::size_t sids = winsim::allocatedSidCount(), tokens = winsim::openTokenCount();
    BOOL r = isUserAdmin();
    EXPECT_EQ(winsim::allocatedSidCount(), sids) << "SID not freed";
    EXPECT_EQ(winsim::openTokenCount(), tokens) << "token not closed";
    return r;
}

TEST(AdminCheck, KindsOfUserAndImpersonation) {
    auto& m = freshNT();
    EXPECT_TRUE(check());
    winsim::setUserKind(m, false);
    EXPECT_FALSE(check());
    winsim::setUserKind(m, true);
    EXPECT_TRUE(check());
    // The impersonated user's token is examined.
    m.security->impersonation = winsim::defaultToken(false);
    EXPECT_FALSE(check()) << "administrator process impersonating a plain user";
    winsim::setUserKind(m, false);
    m.security->impersonation = winsim::defaultToken(true);
    EXPECT_TRUE(check()) << "plain process impersonating an administrator";
    // A refused thread token other than ERROR_NO_TOKEN does not fall back to the process's.
    m.faults.push_back({"OpenThreadToken", m.callCounts["OpenThreadToken"] + 1, 1, ERROR_ACCESS_DENIED, ""});
    auto processTokens = m.callCounts["OpenProcessToken"];
    EXPECT_FALSE(check());
    EXPECT_EQ(m.callCounts["OpenProcessToken"], processTokens);
}

TEST(AdminCheck, GroupMustBeEnabledAndFirstEntryDecides) {
    const struct {
        std::vector<winsim::TokenGroup> groups;
        bool admin;
        const char* what;
    } rows[] = {
        {{group("S-1-1-0", kOn), group("S-1-5-32-544", SE_GROUP_MANDATORY)}, false, "present but not enabled"},
        {{group("S-1-5-32-544", SE_GROUP_USE_FOR_DENY_ONLY), group("S-1-5-32-544", kOn)}, false, "deny-only entry first"},
        {{group("S-1-5-32-545", kOn), group("S-1-5-32-544", SE_GROUP_ENABLED)}, true, "enabled alone is enough"},
        // Near misses of the SID: another alias, another authority, a longer SID.
        {{group("S-1-5-32-545", kOn), group("S-1-1-32-544", kOn), group("S-1-5-32-544-1", kOn)}, false, "near misses"},
        {{}, false, "no groups at all"},
    };
    auto& m = freshNT();
    for (const auto& r : rows) {
        m.security->process.groups = r.groups;
        m.security->resetLive();
        EXPECT_EQ(check() != FALSE, r.admin) << r.what;
    }
}

TEST(AdminCheck, FailuresAnswerFalse) {
    const struct {
        const char* call;
        std::uint32_t nth;
        DWORD error;
        const char* what;
    } cases[] = {
        {"OpenThreadToken", 1, ERROR_ACCESS_DENIED, "thread token refused (not ERROR_NO_TOKEN)"},
        {"OpenProcessToken", 1, ERROR_ACCESS_DENIED, "process token refused"},
        {"GetTokenInformation", 1, ERROR_ACCESS_DENIED, "size query fails otherwise"},
        {"GetTokenInformation", 2, ERROR_NOT_ENOUGH_MEMORY, "second query fails"},
        {"AllocateAndInitializeSid", 1, ERROR_NOT_ENOUGH_MEMORY, "SID cannot be built"},
    };
    for (const auto& c : cases) {
        auto& m = freshNT();
        m.faults.push_back({c.call, c.nth, 1, c.error, ""});
        EXPECT_FALSE(check()) << c.what;
        EXPECT_TRUE(check()) << c.what << ": only the faulty call made it fail";
    }
}

}  // namespace
