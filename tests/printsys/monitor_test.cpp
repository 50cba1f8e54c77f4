// Print monitor detection (which module the platform uses and whether any
// monitor key names it) and the monitor's port list read from the registry.
#include <cstdlib>

#include "printsys/printsys.h"
#include "setup/harness.h"

namespace {

using namespace harness;

TEST(MonitorDetection, ModuleOfThePlatformNamedByAnyKey) {
    // Keys as "name=driver" ("name" alone: no value); 17 bytes with the NUL
    // are longer than what is read.
    const struct { bool windows95; Lines keys; bool found; } rows[] = {
        {false, {}, false},
        {false, {"Local Port=localmon.dll", "Varden Network Port=vrdpsmon.dll"}, true},
        {false, {"Earlier Name=VRDPSMON.DLL", "Zeta=zeta.dll"}, true},
        {false, {"A=c:\\vrdpsmon.dll", "B=vrdpsmon.dll.oldx", "C"}, false},
        {false, {"A=vrdpsmw4.dll"}, false},
        {true, {"A=vrdpsmon.dll"}, false},
        {true, {"A=vrdpsmon.dll", "B=vrdpsmw4.dll"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.keys));
        bareMachine("mon", row.windows95);
        for (const auto& k : row.keys) {
            auto eq = k.find('=');
            if (eq == std::string::npos) makeKey(mon(k));
            else setSz(mon(k.substr(0, eq)), "driver", k.substr(eq + 1));
        }
        // As the callers run it: the key opened for all access, the module
        // name from getMonitorDllName.
        HKEY monitors = createKey(kMonitors);
        LPCSTR dll = nullptr;
        EXPECT_EQ(getMonitorDllName(&dll), (DWORD)STS_DONE);
        EXPECT_STREQ(dll, row.windows95 ? "vrdpsmw4.dll" : "vrdpsmon.dll");
        EXPECT_EQ(isVrdpsmonInstalled(monitors, dll) != FALSE, row.found);
        RegCloseKey(monitors);
    }
    // Sixteen bytes without a terminator: read whole, compared as text of
    // sixteen characters, and so not the module.
    setValue(mon("A"), "driver", REG_BINARY, "vrdpsmon.dllxxxx", 16);
    HKEY monitors = createKey(kMonitors);
    EXPECT_FALSE(monitorUsesDriver(monitors, "A", "vrdpsmon.dll"));
    EXPECT_FALSE(monitorUsesDriver(monitors, "Missing", "vrdpsmon.dll"));
    RegCloseKey(monitors);
    EXPECT_ENDS_SETUP(failNext("RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED); isVrdpsmonInstalled(monitors, "vrdpsmon.dll"),
                      "isVrdpsmonInstalled -- Couldn't get subkey info, Error = 5");
}

const std::string kPorts = mon("Varden Network Port\\Ports");

// The list holds N pointers of the build's width, then slots of the longest
// name + 2, each entry ending in exactly one comma, in registry order.
TEST(PortNames, ListHoldsPointersThenCommaTerminatedSlots) {
    bareMachine("ports-list");
    LPSTR* list = reinterpret_cast<LPSTR*>(&list);
    DWORD count = 7;
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);  // no Ports key
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list, nullptr);
    makeKey(kPorts);
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);  // an empty one
    EXPECT_EQ(count, 0u);
    std::free(list);
    for (const char* p : {"NP10", "A", "LONGPORTNAME"}) makeKey(kPorts + "\\" + p);
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 3u);
    const char* base = reinterpret_cast<const char*>(list);
    std::string text;
    for (DWORD i = 0; i < count; ++i)
        text += std::string(list[i]) + " @" + std::to_string(list[i] - base) + " ";
    const std::size_t p = 3 * sizeof(LPSTR), slot = std::strlen("LONGPORTNAME") + 2;
    EXPECT_EQ(text, "A, @" + std::to_string(p) + " LONGPORTNAME, @" + std::to_string(p + slot) + " NP10, @" +
                        std::to_string(p + 2 * slot) + " ");
    EXPECT_EQ(list[1][slot - 1], '\0');  // the longest entry fills its slot exactly
    std::free(list);
    // Sixty ports of different lengths: every slot must lie inside the
    // block, which on a 64-bit build needs 8 bytes per pointer.
    for (int i = 0; i < 60; ++i) makeKey(kPorts + "\\P" + std::to_string(i * 997));
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 63u);
    for (DWORD i = 0; i < count; ++i) EXPECT_EQ(list[i][std::strlen(list[i]) - 1], ',') << i;
    std::free(list);
    for (auto [call, text] : {std::pair{"RegQueryInfoKeyA", "Invalid Ports subkey found in Registry, error = 5"},
                              {"RegEnumKeyExA", "Unable to access Ports subkey names, error = 5"}})
        EXPECT_ENDS_SETUP(failNext(call, 0, ERROR_ACCESS_DENIED); getMonitorPortNames(&list, &count),
                          std::string(text) + "\\.  Please restart system before re-running program\\.") << call;
}

}  // namespace
