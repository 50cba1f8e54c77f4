// The administrator check on tokens built in the test.
#include "setup/harness.h"
#include "sysutil/admin.h"
#include "winsim/security/state.h"

namespace {

using namespace harness;

const DWORD kOn = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

winsim::TokenGroup group(const char* sid, DWORD attributes) { return {*winsim::parseSid(sid), attributes}; }

// Runs the check: "1" or "0", with what it left open or allocated.
std::string check() {
    std::size_t sids = winsim::allocatedSidCount(), tokens = winsim::openTokenCount();
    std::string r = std::to_string(isUserAdmin() != FALSE);
    if (winsim::allocatedSidCount() != sids) r += " SID not freed";
    if (winsim::openTokenCount() != tokens) r += " token not closed";
    return r;
}

// The impersonated user's token is examined; a refused thread token other
// than ERROR_NO_TOKEN does not fall back to the process's.
TEST(AdminCheck, KindsOfUserAndImpersonation) {
    auto& m = bareMachine("admin");
    std::string answers = check();
    winsim::setUserKind(m, false);
    answers += check();
    winsim::setUserKind(m, true);
    answers += check();
    m.security->impersonation = winsim::defaultToken(false);  // administrator process impersonating a plain user
    answers += check();
    winsim::setUserKind(m, false);
    m.security->impersonation = winsim::defaultToken(true);  // and the other way round
    answers += check();
    failNext("OpenThreadToken", 1, ERROR_ACCESS_DENIED);
    auto processTokens = m.callCounts["OpenProcessToken"];
    answers += check();
    EXPECT_EQ(answers, "101010");
    EXPECT_EQ(m.callCounts["OpenProcessToken"], processTokens);
}

TEST(AdminCheck, GroupMustBeEnabledAndFirstEntryDecides) {
    const struct { std::vector<winsim::TokenGroup> groups; const char* admin; } rows[] = {
        {{group("S-1-1-0", kOn), group("S-1-5-32-544", SE_GROUP_MANDATORY)}, "0"},  // present but not enabled
        {{group("S-1-5-32-544", SE_GROUP_USE_FOR_DENY_ONLY), group("S-1-5-32-544", kOn)}, "0"},  // deny-only entry first
        {{group("S-1-5-32-545", kOn), group("S-1-5-32-544", SE_GROUP_ENABLED)}, "1"},  // enabled alone is enough
        // Near misses of the SID: another alias, another authority, a longer SID.
        {{group("S-1-5-32-545", kOn), group("S-1-1-32-544", kOn), group("S-1-5-32-544-1", kOn)}, "0"},
        {{}, "0"},
    };
    auto& m = bareMachine("admin");
    for (const auto& row : rows) {
        m.security->process.groups = row.groups;
        m.security->resetLive();
        EXPECT_EQ(check(), row.admin) << &row - rows;
    }
}

// Each failing call answers "not an administrator"; the next check, without
// the fault, answers yes again.
TEST(AdminCheck, FailuresAnswerFalse) {
    const struct { const char* call; std::uint32_t nth; DWORD error; } rows[] = {
        {"OpenThreadToken", 1, ERROR_ACCESS_DENIED},     {"OpenProcessToken", 1, ERROR_ACCESS_DENIED},
        {"GetTokenInformation", 1, ERROR_ACCESS_DENIED}, {"GetTokenInformation", 2, ERROR_NOT_ENOUGH_MEMORY},
        {"AllocateAndInitializeSid", 1, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& row : rows) {
        auto& m = bareMachine("admin");
        m.faults.push_back({row.call, row.nth, 1, row.error, ""});
        std::string first = check();
        EXPECT_EQ(first + check(), "01") << row.call << " " << row.nth;
    }
}

}  // namespace
