// LoadLibraryA / GetProcAddress / FreeLibrary over the simulated modules.
#include "winsim/image/image.h"
#include "winsim/system/state.h"
#include "sim.h"

#include <winspool.h>
#include <winsvc.h>
#include <winver.h>

#pragma GCC diagnostic ignored "-Wcast-function-type"

namespace {

using Modules = sim::MachineTest;

TEST_F(Modules, NamesAreCaseInsensitiveWithOrWithoutExtension) {
    HMODULE a = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(LoadLibraryA("advapi32"), a);
    EXPECT_EQ(LoadLibraryA("C:\\WINNT35\\system32\\AdvApi32.Dll"), a);
    EXPECT_NE(LoadLibraryA("winspool.drv"), nullptr);
    EXPECT_LASTERROR(LoadLibraryA("winspool"), nullptr, ERROR_MOD_NOT_FOUND);  // ".DLL" is added: no WINSPOOL.DLL
    EXPECT_LASTERROR(LoadLibraryA("nosuch.dll"), nullptr, ERROR_MOD_NOT_FOUND);
    // An injected fault.
    m().faults.push_back({"LoadLibraryA", m().callCounts["LoadLibraryA"] + 1, 1, ERROR_DLL_INIT_FAILED, "ADVAPI32.DLL"});
    EXPECT_LASTERROR(LoadLibraryA("advapi32"), nullptr, ERROR_DLL_INIT_FAILED);
    EXPECT_EQ(LoadLibraryA("advapi32"), a);
}

TEST_F(Modules, ExportsAreTheSimulatedFunctions) {
    const struct {
        const char *module, *name;
        FARPROC function;
    } exports[] = {
        {"kernel32", "GetVersion", (FARPROC)&GetVersion},
        {"USER32.DLL", "wsprintfA", (FARPROC)&wsprintfA},
        {"ADVAPI32.DLL", "RegOpenKeyA", (FARPROC)&RegOpenKeyA},
        {"ADVAPI32.DLL", "RegQueryInfoKeyA", (FARPROC)&RegQueryInfoKeyA},
        {"ADVAPI32.DLL", "OpenSCManagerA", (FARPROC)&OpenSCManagerA},
        {"ADVAPI32.DLL", "AdjustTokenPrivileges", (FARPROC)&AdjustTokenPrivileges},
        {"WINSPOOL.DRV", "AddMonitorA", (FARPROC)&AddMonitorA},
        {"VERSION.DLL", "VerInstallFileA", (FARPROC)&VerInstallFileA},
    };
    for (auto& e : exports) EXPECT_EQ(GetProcAddress(LoadLibraryA(e.module), e.name), e.function) << e.name;
    HMODULE k = LoadLibraryA("kernel32");
    auto getVersion = (DWORD(WINAPI*)(void))GetProcAddress(k, "GetVersion");
    EXPECT_EQ(getVersion(), GetVersion());
    EXPECT_LASTERROR(GetProcAddress(k, "getversion"), nullptr, ERROR_PROC_NOT_FOUND);  // names are case-sensitive
    EXPECT_LASTERROR(GetProcAddress(k, (LPCSTR)(ULONG_PTR)5), nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_LASTERROR(GetProcAddress(LoadLibraryA("ADVAPI32.DLL"), "GetVersion"), nullptr, ERROR_PROC_NOT_FOUND);
}

TEST_F(Modules, ReferenceCounted) {
    HMODULE v = LoadLibraryA("VERSION.DLL");
    ASSERT_EQ(LoadLibraryA("version"), v);
    EXPECT_TRUE(FreeLibrary(v));
    EXPECT_TRUE(FreeLibrary(v));
    EXPECT_FAILS(FreeLibrary(v), ERROR_MOD_NOT_FOUND);  // unloaded now
    EXPECT_LASTERROR(GetProcAddress(v, "VerInstallFileA"), nullptr, ERROR_MOD_NOT_FOUND);
    HMODULE k = LoadLibraryA("KERNEL32.DLL");
    EXPECT_TRUE(FreeLibrary(k));
    EXPECT_TRUE(FreeLibrary(k));  // never unloaded
    EXPECT_NE(GetProcAddress(k, "Sleep"), nullptr);
}

TEST_F(Modules, ImageDeclaresModulesAndExportsMissing) {
    auto declare = [&](const char* json) { winsim::loadSystem(nlohmann::json::parse(json), m()); };
    declare(R"({"modules": {"advapi32.dll": {"missing_exports": ["RegOpenKeyExA", "GetVersion"]},
                            "VERSION": {"missing": true}}})");
    EXPECT_LASTERROR(LoadLibraryA("version.dll"), nullptr, ERROR_MOD_NOT_FOUND);
    HMODULE a = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(a, nullptr);
    EXPECT_LASTERROR(GetProcAddress(a, "RegOpenKeyExA"), nullptr, ERROR_PROC_NOT_FOUND);
    nlohmann::json out;
    winsim::saveSystem(out, m());
    EXPECT_EQ(out, nlohmann::json::parse(R"({"modules": {"ADVAPI32.DLL": {"missing_exports": ["GetVersion", "RegOpenKeyExA"]},
                                                          "VERSION.DLL": {"missing": true}}})"));
    EXPECT_THROW(declare(R"({"modules": {"X.DLL": {"missing_exports": "RegOpenKeyA"}}})"), winsim::ImageError);
}

}  // namespace
