// The monitor's port list read from the registry.
#include "printsys/fixture.h"
#include "printsys/printsys.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace {

using namespace fixture;

const char kPorts[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port\\Ports";

std::string port(const std::string& name) { return std::string(kPorts) + "\\" + name; }

TEST(PortNames, ListHoldsPointersThenCommaTerminatedSlots) {
    bareMachine("ports-list");
    makeKey(HKEY_LOCAL_MACHINE, port("NP10"));
    makeKey(HKEY_LOCAL_MACHINE, port("A"));
    makeKey(HKEY_LOCAL_MACHINE, port("LONGPORTNAME"));

    LPSTR* list = reinterpret_cast<LPSTR*>(0x1);
    DWORD count = 0xdeadbeef;
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 3u);
    ASSERT_NE(list, nullptr);

    // Registry enumeration order; each entry ends in exactly one comma.
    EXPECT_STREQ(list[0], "A,");
    EXPECT_STREQ(list[1], "LONGPORTNAME,");
    EXPECT_STREQ(list[2], "NP10,");

    // N pointers of the build's width, then slots of the longest name + 2.
    const char* base = reinterpret_cast<const char*>(list);
    const std::size_t slot = std::strlen("LONGPORTNAME") + 2;
    for (DWORD i = 0; i < count; ++i)
        EXPECT_EQ(list[i], base + sizeof(LPSTR) * count + slot * i) << "slot " << i;
    // The longest entry fills its slot exactly, terminator included.
    EXPECT_EQ(list[1][slot - 1], '\0');
    std::free(list);
}

TEST(PortNames, EmptyPortsKeyGivesCountZero) {
    bareMachine("ports-empty");
    makeKey(HKEY_LOCAL_MACHINE, kPorts);
    LPSTR* list = nullptr;
    DWORD count = 0xdeadbeef;
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    EXPECT_EQ(count, 0u);
    std::free(list);
}

TEST(PortNames, ManyPortsStayInsideTheBlock) {
    // Sixty ports of different lengths: every slot must lie inside the
    // block, which on a 64-bit build needs 8 bytes per pointer.
    bareMachine("ports-many");
    for (int i = 0; i < 60; ++i) makeKey(HKEY_LOCAL_MACHINE, port("P" + std::to_string(i * 997)));
    LPSTR* list = nullptr;
    DWORD count = 0;
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 60u);
    for (DWORD i = 0; i < count; ++i) {
        std::size_t len = std::strlen(list[i]);
        ASSERT_GT(len, 1u);
        EXPECT_EQ(list[i][len - 1], ',');
    }
    std::free(list);
}

TEST(PortNames, MissingPortsKeyIsNoPort) {
    bareMachine("ports-missing");
    LPSTR* list = reinterpret_cast<LPSTR*>(&list);
    DWORD count = 7;
    EXPECT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list, nullptr);
}

TEST(PortNamesDeath, PortsKeyRefusedEndsSetup) {
    auto& m = bareMachine("ports-refused");
    makeKey(HKEY_LOCAL_MACHINE, port("NP1"));
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            failNext(m, "RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
            LPSTR* list = nullptr;
            DWORD count = 0;
            getMonitorPortNames(&list, &count);
        },
        ::testing::ExitedWithCode(0),
        "Unable to access Ports subkey in Registry, error = 5\\.  Please restart system before re-running program\\.");
}

TEST(PortNamesDeath, UnreadablePortsKeyEndsSetup) {
    auto& m = bareMachine("ports-info");
    makeKey(HKEY_LOCAL_MACHINE, port("NP1"));
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            failNext(m, "RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED);
            LPSTR* list = nullptr;
            DWORD count = 0;
            getMonitorPortNames(&list, &count);
        },
        ::testing::ExitedWithCode(0),
        "Invalid Ports subkey found in Registry, error = 5\\.  Please restart system before re-running program\\.");
}

TEST(PortNamesDeath, UnenumerablePortEndsSetup) {
    auto& m = bareMachine("ports-enum");
    makeKey(HKEY_LOCAL_MACHINE, port("NP1"));
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            failNext(m, "RegEnumKeyExA", 0, ERROR_ACCESS_DENIED);
            LPSTR* list = nullptr;
            DWORD count = 0;
            getMonitorPortNames(&list, &count);
        },
        ::testing::ExitedWithCode(0),
        "Unable to access Ports subkey names, error = 5\\.  Please restart system before re-running program\\.");
}

}  // namespace
