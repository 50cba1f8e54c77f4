// LoadLibraryA, GetProcAddress and FreeLibrary over a table of the system
// modules the program uses. Each export is the address of the simulated
// function itself, so a pointer obtained by name calls the same code as a
// direct call. The image can declare a module missing, or some of its
// exports missing (system section of machine.json).
#include "winsim/system/state.h"

#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <winspool.h>
#include <winsvc.h>
#include <winver.h>

#include <cstring>

// Every export is stored as the generic FARPROC, as GetProcAddress returns it.
#pragma GCC diagnostic ignored "-Wcast-function-type"

namespace winsim {

namespace {

struct Export {
    const char* name;
    FARPROC proc;
};

const Export kKernel32[] = {
    {"GetLastError", (FARPROC)&GetLastError},
    {"SetLastError", (FARPROC)&SetLastError},
    {"SetErrorMode", (FARPROC)&SetErrorMode},
    {"GetVersion", (FARPROC)&GetVersion},
    {"ExpandEnvironmentStringsA", (FARPROC)&ExpandEnvironmentStringsA},
    {"GetSystemDirectoryA", (FARPROC)&GetSystemDirectoryA},
    {"GetWindowsDirectoryA", (FARPROC)&GetWindowsDirectoryA},
    {"GetCurrentDirectoryA", (FARPROC)&GetCurrentDirectoryA},
    {"SetCurrentDirectoryA", (FARPROC)&SetCurrentDirectoryA},
    {"Sleep", (FARPROC)&Sleep},
    {"GetLocalTime", (FARPROC)&GetLocalTime},
    {"GetTickCount", (FARPROC)&GetTickCount},
    {"LocalAlloc", (FARPROC)&LocalAlloc},
    {"LocalFree", (FARPROC)&LocalFree},
    {"GlobalAlloc", (FARPROC)&GlobalAlloc},
    {"GlobalFree", (FARPROC)&GlobalFree},
    {"lstrcmpA", (FARPROC)&lstrcmpA},
    {"lstrcmpiA", (FARPROC)&lstrcmpiA},
    {"lstrlenA", (FARPROC)&lstrlenA},
    {"lstrcpyA", (FARPROC)&lstrcpyA},
    {"LoadLibraryA", (FARPROC)&LoadLibraryA},
    {"GetProcAddress", (FARPROC)&GetProcAddress},
    {"FreeLibrary", (FARPROC)&FreeLibrary},
    {"CreateFileA", (FARPROC)&CreateFileA},
    {"ReadFile", (FARPROC)&ReadFile},
    {"WriteFile", (FARPROC)&WriteFile},
    {"CloseHandle", (FARPROC)&CloseHandle},
    {"FindFirstFileA", (FARPROC)&FindFirstFileA},
    {"FindNextFileA", (FARPROC)&FindNextFileA},
    {"FindClose", (FARPROC)&FindClose},
    {"CopyFileA", (FARPROC)&CopyFileA},
    {"MoveFileA", (FARPROC)&MoveFileA},
    {"MoveFileExA", (FARPROC)&MoveFileExA},
    {"DeleteFileA", (FARPROC)&DeleteFileA},
    {"CreateDirectoryA", (FARPROC)&CreateDirectoryA},
    {"RemoveDirectoryA", (FARPROC)&RemoveDirectoryA},
    {"GetFileAttributesA", (FARPROC)&GetFileAttributesA},
    {"GetDiskFreeSpaceA", (FARPROC)&GetDiskFreeSpaceA},
    {"GetDriveTypeA", (FARPROC)&GetDriveTypeA},
    {"CreateProcessA", (FARPROC)&CreateProcessA},
    {"OpenProcess", (FARPROC)&OpenProcess},
    {"TerminateProcess", (FARPROC)&TerminateProcess},
    {"GetExitCodeProcess", (FARPROC)&GetExitCodeProcess},
    {"GetCurrentProcess", (FARPROC)&GetCurrentProcess},
    {"ExitProcess", (FARPROC)&ExitProcess},
    {"GetCurrentThread", (FARPROC)&GetCurrentThread},
    {"MultiByteToWideChar", (FARPROC)&MultiByteToWideChar},
    {"WideCharToMultiByte", (FARPROC)&WideCharToMultiByte},
};

const Export kAdvapi32[] = {
    {"RegOpenKeyA", (FARPROC)&RegOpenKeyA},
    {"RegOpenKeyExA", (FARPROC)&RegOpenKeyExA},
    {"RegCreateKeyA", (FARPROC)&RegCreateKeyA},
    {"RegCreateKeyExA", (FARPROC)&RegCreateKeyExA},
    {"RegCloseKey", (FARPROC)&RegCloseKey},
    {"RegQueryValueA", (FARPROC)&RegQueryValueA},
    {"RegQueryValueExA", (FARPROC)&RegQueryValueExA},
    {"RegSetValueA", (FARPROC)&RegSetValueA},
    {"RegSetValueExA", (FARPROC)&RegSetValueExA},
    {"RegEnumKeyA", (FARPROC)&RegEnumKeyA},
    {"RegEnumKeyExA", (FARPROC)&RegEnumKeyExA},
    {"RegEnumValueA", (FARPROC)&RegEnumValueA},
    {"RegQueryInfoKeyA", (FARPROC)&RegQueryInfoKeyA},
    {"RegDeleteKeyA", (FARPROC)&RegDeleteKeyA},
    {"RegDeleteValueA", (FARPROC)&RegDeleteValueA},
    {"RegConnectRegistryA", (FARPROC)&RegConnectRegistryA},
    {"OpenProcessToken", (FARPROC)&OpenProcessToken},
    {"OpenThreadToken", (FARPROC)&OpenThreadToken},
    {"GetTokenInformation", (FARPROC)&GetTokenInformation},
    {"AllocateAndInitializeSid", (FARPROC)&AllocateAndInitializeSid},
    {"EqualSid", (FARPROC)&EqualSid},
    {"FreeSid", (FARPROC)&FreeSid},
    {"LookupPrivilegeValueA", (FARPROC)&LookupPrivilegeValueA},
    {"AdjustTokenPrivileges", (FARPROC)&AdjustTokenPrivileges},
    {"OpenSCManagerA", (FARPROC)&OpenSCManagerA},
    {"OpenServiceA", (FARPROC)&OpenServiceA},
    {"ControlService", (FARPROC)&ControlService},
    {"QueryServiceStatus", (FARPROC)&QueryServiceStatus},
    {"StartServiceA", (FARPROC)&StartServiceA},
    {"EnumDependentServicesA", (FARPROC)&EnumDependentServicesA},
    {"CloseServiceHandle", (FARPROC)&CloseServiceHandle},
};

const Export kUser32[] = {
    {"CharUpperA", (FARPROC)&CharUpperA},
    {"CharLowerA", (FARPROC)&CharLowerA},
    {"CharUpperBuffA", (FARPROC)&CharUpperBuffA},
    {"CharNextA", (FARPROC)&CharNextA},
    {"OemToCharA", (FARPROC)&OemToCharA},
    {"wsprintfA", (FARPROC)&wsprintfA},
    {"wvsprintfA", (FARPROC)&wvsprintfA},
    {"ShowWindow", (FARPROC)&ShowWindow},
    {"SetWindowTextA", (FARPROC)&SetWindowTextA},
    {"PeekMessageA", (FARPROC)&PeekMessageA},
    {"TranslateMessage", (FARPROC)&TranslateMessage},
    {"DispatchMessageA", (FARPROC)&DispatchMessageA},
    {"PostMessageA", (FARPROC)&PostMessageA},
    {"PostQuitMessage", (FARPROC)&PostQuitMessage},
    {"MessageBoxA", (FARPROC)&MessageBoxA},
    {"LoadCursorA", (FARPROC)&LoadCursorA},
    {"SetCursor", (FARPROC)&SetCursor},
    {"ExitWindowsEx", (FARPROC)&ExitWindowsEx},
    {"DdeInitializeA", (FARPROC)&DdeInitializeA},
    {"DdeUninitialize", (FARPROC)&DdeUninitialize},
    {"DdeCreateStringHandleA", (FARPROC)&DdeCreateStringHandleA},
    {"DdeFreeStringHandle", (FARPROC)&DdeFreeStringHandle},
    {"DdeConnect", (FARPROC)&DdeConnect},
    {"DdeDisconnect", (FARPROC)&DdeDisconnect},
    {"DdeClientTransaction", (FARPROC)&DdeClientTransaction},
    {"DdeGetLastError", (FARPROC)&DdeGetLastError},
    {"DdeFreeDataHandle", (FARPROC)&DdeFreeDataHandle},
};

const Export kWinspool[] = {
    {"AddMonitorA", (FARPROC)&AddMonitorA},
    {"DeletePortA", (FARPROC)&DeletePortA},
    {"EnumPrintersA", (FARPROC)&EnumPrintersA},
    {"OpenPrinterA", (FARPROC)&OpenPrinterA},
    {"SetPrinterA", (FARPROC)&SetPrinterA},
    {"EnumJobsA", (FARPROC)&EnumJobsA},
    {"SetJobA", (FARPROC)&SetJobA},
    {"DeletePrinter", (FARPROC)&DeletePrinter},
    {"ClosePrinter", (FARPROC)&ClosePrinter},
    {"AddPrinterDriverA", (FARPROC)&AddPrinterDriverA},
    {"DeletePrinterDriverA", (FARPROC)&DeletePrinterDriverA},
    {"GetPrinterDriverDirectoryA", (FARPROC)&GetPrinterDriverDirectoryA},
};

const Export kVersion[] = {
    {"VerInstallFileA", (FARPROC)&VerInstallFileA},
};

const Export kShell32[] = {
    {"ShellExecuteA", (FARPROC)&ShellExecuteA},
};

struct Module {
    const char* name;      // file name, upper case
    const Export* exports;
    std::size_t count;
    bool resident;         // loaded in every process, never unloaded
};

template <std::size_t N>
constexpr Module module(const char* name, const Export (&e)[N], bool resident) {
    return Module{name, e, N, resident};
}

const Module kModules[] = {
    module("KERNEL32.DLL", kKernel32, true), module("ADVAPI32.DLL", kAdvapi32, false),
    module("USER32.DLL", kUser32, false),    module("WINSPOOL.DRV", kWinspool, false),
    module("VERSION.DLL", kVersion, false),  module("SHELL32.DLL", kShell32, false),
};

const Module* byName(const std::string& name) {
    for (const Module& m : kModules)
        if (iequals(m.name, name)) return &m;
    return nullptr;
}

const Module* byHandle(HMODULE h) {
    for (const Module& m : kModules)
        if ((HMODULE)(void*)&m == h) return &m;
    return nullptr;
}

const ModuleDecl* declared(const char* name) {
    auto& mods = machine().system->modules;
    auto it = mods.find(name);
    return it == mods.end() ? nullptr : &it->second;
}

bool isLoaded(const Module& mod) {
    if (mod.resident) return true;
    auto& counts = machine().system->loadCounts;
    auto it = counts.find(mod.name);
    return it != counts.end() && it->second > 0;
}

}  // namespace

}  // namespace winsim

using namespace winsim;

extern "C" {

// Names are case-insensitive, may carry a path, and get ".DLL" when they
// have no extension. A module the table does not know, or one the image
// declares missing, fails with ERROR_MOD_NOT_FOUND on NT and
// ERROR_DLL_NOT_FOUND on Windows 95 (as Wine reproduces when it poses as 95).
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName) return SetLastError(ERROR_INVALID_PARAMETER), nullptr;
    std::string name = normalModuleName(lpLibFileName);
    if (DWORD e = injectedFault("LoadLibraryA", name)) return SetLastError(e), nullptr;
    const Module* mod = byName(name);
    const ModuleDecl* decl = mod ? declared(mod->name) : nullptr;
    if (!mod || (decl && decl->missing))
        return SetLastError(machine().os.isNT() ? ERROR_MOD_NOT_FOUND : ERROR_DLL_NOT_FOUND), nullptr;
    if (!mod->resident) ++machine().system->loadCounts[mod->name];
    return (HMODULE)(void*)mod;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    bool byOrdinal = ((ULONG_PTR)lpProcName >> 16) == 0;
    if (DWORD e = injectedFault("GetProcAddress", byOrdinal ? "" : lpProcName)) return SetLastError(e), nullptr;
    const Module* mod = byHandle(hModule);
    if (!mod || !isLoaded(*mod)) return SetLastError(hModule ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND), nullptr;
    // Ordinals are not modelled: no export is found by number.
    if (byOrdinal) return SetLastError(ERROR_PROC_NOT_FOUND), nullptr;
    const ModuleDecl* decl = declared(mod->name);
    if (decl && decl->missingExports.count(lpProcName)) return SetLastError(ERROR_PROC_NOT_FOUND), nullptr;
    for (std::size_t i = 0; i < mod->count; ++i)
        if (std::strcmp(mod->exports[i].name, lpProcName) == 0) {
            if (!mod->exports[i].proc) break;
            return mod->exports[i].proc;
        }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

// Counts down a LoadLibraryA; at zero the module is unloaded and its
// handle no longer valid (KERNEL32 stays loaded for good).
BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (DWORD e = injectedFault("FreeLibrary")) return SetLastError(e), FALSE;
    const Module* mod = byHandle(hLibModule);
    if (!mod || !isLoaded(*mod)) return SetLastError(ERROR_MOD_NOT_FOUND), FALSE;
    if (!mod->resident) --machine().system->loadCounts[mod->name];
    return TRUE;
}

}  // extern "C"
