// LoadLibraryA / GetProcAddress / FreeLibrary over the simulated modules.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/system/state.h"
#include "sim.h"

#include <windows.h>
#include <winspool.h>
#include <winsvc.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <filesystem>

#pragma GCC diagnostic ignored "-Wcast-function-type"

namespace fs = std::filesystem;

namespace {

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        sim::fresh();
    }
    void TearDown() override { winsim::install(std::make_unique<winsim::Machine>()); }
    void declare(const char* json) {
        winsim::loadSystem(nlohmann::json::parse(json), winsim::machine());
    }
};

TEST_F(Modules, NamesAreCaseInsensitiveWithOrWithoutExtension) {
    HMODULE a = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(LoadLibraryA("advapi32"), a);
    EXPECT_EQ(LoadLibraryA("C:\\WINNT35\\system32\\AdvApi32.Dll"), a);
    EXPECT_NE(LoadLibraryA("winspool.drv"), nullptr);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadLibraryA("winspool"), nullptr);  // ".DLL" is added, and there is no WINSPOOL.DLL
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    EXPECT_LASTERROR(LoadLibraryA("nosuch.dll"), nullptr, ERROR_MOD_NOT_FOUND);
}

TEST_F(Modules, ExportsAreTheSimulatedFunctions) {
    HMODULE k = LoadLibraryA("kernel32");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(GetProcAddress(k, "GetVersion"), (FARPROC)&GetVersion);
    auto getVersion = (DWORD(WINAPI*)(void))GetProcAddress(k, "GetVersion");
    EXPECT_EQ(getVersion(), GetVersion());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetProcAddress(k, "getversion"), nullptr);  // export names are case-sensitive
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    EXPECT_LASTERROR(GetProcAddress(k, (LPCSTR)(ULONG_PTR)5), nullptr, ERROR_PROC_NOT_FOUND);
    HMODULE u = LoadLibraryA("USER32.DLL");
    EXPECT_EQ(GetProcAddress(u, "wsprintfA"), (FARPROC)&wsprintfA);
    HMODULE a = LoadLibraryA("ADVAPI32.DLL");
    EXPECT_EQ(GetProcAddress(a, "RegOpenKeyA"), (FARPROC)&RegOpenKeyA);
    EXPECT_EQ(GetProcAddress(a, "RegQueryInfoKeyA"), (FARPROC)&RegQueryInfoKeyA);
    EXPECT_EQ(GetProcAddress(a, "OpenSCManagerA"), (FARPROC)&OpenSCManagerA);
    EXPECT_EQ(GetProcAddress(a, "AdjustTokenPrivileges"), (FARPROC)&AdjustTokenPrivileges);
    HMODULE s = LoadLibraryA("WINSPOOL.DRV");
    EXPECT_EQ(GetProcAddress(s, "AddMonitorA"), (FARPROC)&AddMonitorA);
    HMODULE v = LoadLibraryA("VERSION.DLL");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(GetProcAddress(v, "VerInstallFileA"), (FARPROC)&VerInstallFileA);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetProcAddress(a, "GetVersion"), nullptr);  // not an ADVAPI32 export
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
}

TEST_F(Modules, ReferenceCounted) {
    HMODULE v = LoadLibraryA("VERSION.DLL");
    ASSERT_EQ(LoadLibraryA("version"), v);
    EXPECT_TRUE(FreeLibrary(v));
    EXPECT_TRUE(FreeLibrary(v));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FreeLibrary(v));  // unloaded now
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    EXPECT_LASTERROR(GetProcAddress(v, "VerInstallFileA"), nullptr, ERROR_MOD_NOT_FOUND);
    HMODULE k = LoadLibraryA("KERNEL32.DLL");
    EXPECT_TRUE(FreeLibrary(k));
    EXPECT_TRUE(FreeLibrary(k));  // never unloaded
    EXPECT_NE(GetProcAddress(k, "Sleep"), nullptr);
}

TEST_F(Modules, ImageDeclaresModulesAndExportsMissing) {
    declare(R"({"modules": {"advapi32.dll": {"missing_exports": ["RegOpenKeyExA", "GetVersion"]},
                            "VERSION": {"missing": true}}})");
    EXPECT_LASTERROR(LoadLibraryA("version.dll"), nullptr, ERROR_MOD_NOT_FOUND);
    HMODULE a = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(a, nullptr);
    EXPECT_LASTERROR(GetProcAddress(a, "RegOpenKeyExA"), nullptr, ERROR_PROC_NOT_FOUND);
    nlohmann::json out;
    winsim::saveSystem(out, winsim::machine());
    EXPECT_EQ(out, nlohmann::json::parse(R"({"modules": {"ADVAPI32.DLL": {"missing_exports": ["GetVersion", "RegOpenKeyExA"]},
                                                          "VERSION.DLL": {"missing": true}}})"));
    EXPECT_THROW(declare(R"({"modules": {"X.DLL": {"missing": "yes"}}})"), winsim::ImageError);
    EXPECT_THROW(declare(R"({"modules": {"X.DLL": {"missing_exports": "RegOpenKeyA"}}})"), winsim::ImageError);
}

TEST_F(Modules, InjectedFault) {
    winsim::machine().faults.push_back({"LoadLibraryA", 1, 1, ERROR_DLL_INIT_FAILED, "ADVAPI32.DLL"});
    EXPECT_LASTERROR(LoadLibraryA("advapi32"), nullptr, ERROR_DLL_INIT_FAILED);
    EXPECT_NE(LoadLibraryA("advapi32"), nullptr);
}

}  // namespace
