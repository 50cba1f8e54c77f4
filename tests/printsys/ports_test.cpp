// The monitor's port list read from the registry.
#include "printsys/fixture.h"
#include "printsys/printsys.h"

#include <cstdlib>

namespace {

using namespace fixture;

const char kPorts[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port\\Ports";

std::string port(const std::string& name) { return std::string(kPorts) + "\\" + name; }

TEST(PortNames, ListHoldsPointersThenCommaTerminatedSlots) {
    bareMachine("ports-list");
    for (const char* p : {"NP10", "A", "LONGPORTNAME"}) makeKey(HKEY_LOCAL_MACHINE, port(p));
    LPSTR* list = reinterpret_cast<LPSTR*>(0x1);
    DWORD count = 0xdeadbeef;
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 3u);
    // Registry enumeration order; each entry ends in exactly one comma.
    EXPECT_STREQ(list[0], "A,");
    EXPECT_STREQ(list[1], "LONGPORTNAME,");
    EXPECT_STREQ(list[2], "NP10,");
    // N pointers of the build's width, then slots of the longest name + 2.
    const char* base = reinterpret_cast<const char*>(list);
    const std::size_t slot = std::strlen("LONGPORTNAME") + 2;
    for (DWORD i = 0; i < count; ++i) EXPECT_EQ(list[i], base + sizeof(LPSTR) * count + slot * i) << "slot " << i;
    EXPECT_EQ(list[1][slot - 1], '\0');  // the longest entry fills its slot exactly
    std::free(list);

    // Sixty ports of different lengths: every slot must lie inside the
    // block, which on a 64-bit build needs 8 bytes per pointer.
    for (int i = 0; i < 60; ++i) makeKey(HKEY_LOCAL_MACHINE, port("P" + std::to_string(i * 997)));
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 63u);
    for (DWORD i = 0; i < count; ++i) {
        std::size_t len = std::strlen(list[i]);
        ASSERT_GT(len, 1u);
        EXPECT_EQ(list[i][len - 1], ',');
    }
    std::free(list);
}

TEST(PortNames, EmptyOrMissingPortsKeyGivesNoPort) {
    for (bool withKey : {true, false}) {
        bareMachine("ports-empty");
        if (withKey) makeKey(HKEY_LOCAL_MACHINE, kPorts);
        LPSTR* list = reinterpret_cast<LPSTR*>(&list);
        DWORD count = 7;
        ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
        EXPECT_EQ(count, 0u) << withKey;
        EXPECT_TRUE(withKey || list == nullptr);
        std::free(list);
    }
}

TEST(PortNamesDeath, EveryRegistryFailureEndsSetup) {
    const std::pair<const char*, const char*> cases[] = {
        {"RegQueryInfoKeyA", "Invalid Ports subkey found in Registry, error = 5"},
        {"RegEnumKeyExA", "Unable to access Ports subkey names, error = 5"},
    };
    for (auto [call, text] : cases) {
        auto& m = bareMachine("ports-refused");
        makeKey(HKEY_LOCAL_MACHINE, port("NP1"));
        LPSTR* list = nullptr;
        DWORD count = 0;
        EXPECT_ENDS_SETUP(failNext(m, call, 0, ERROR_ACCESS_DENIED); getMonitorPortNames(&list, &count),
                          std::string(text) + "\\.  Please restart system before re-running program\\.")
            << call;
    }
}

}  // namespace
