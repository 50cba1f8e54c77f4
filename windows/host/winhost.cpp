// The Windows host of setup.exe: what the Linux host does around WinMain,
// done on a real Win32. mingw-w64's start-up code calls main() when the
// program defines one, so this file takes the place of the library's
// default main, which would only call WinMain.
//
// Before WinMain runs, the program's own import slots of four functions
// are pointed at small forwarders, as the simulated machine announces the
// same calls to the Linux host:
//   MessageBoxA    -> the kit's front-end (KitMessageBox): an unattended run
//                     never waits on a box, an interactive one asks in the
//                     console, and every box is logged;
//   CreateProcessA -> logged as "program <command line>", then started;
//   ExitWindowsEx  -> logged as "reboot" (restart requests), then asked for;
//   ExitProcess    -> the log's "exit <code>" line, then the process ends.
// After WinMain returns, its result is logged as the exit line.
#include <windows.h>

#include <setupkit.h>

#include <string.h>

extern "C" int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

namespace {

using MessageBoxFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using CreateProcessFn = BOOL(WINAPI*)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                      LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);
using ExitWindowsFn = BOOL(WINAPI*)(UINT, DWORD);
using ExitProcessFn = void(WINAPI*)(UINT);

CreateProcessFn realCreateProcess = nullptr;
ExitWindowsFn realExitWindows = nullptr;
ExitProcessFn realExitProcess = nullptr;

int WINAPI routedMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    return KitMessageBox(text, caption, type);
}

BOOL WINAPI loggedCreateProcess(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                                BOOL inherit, DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si,
                                LPPROCESS_INFORMATION pi) {
    BOOL ok = realCreateProcess(app, cmd, pa, ta, inherit, flags, env, dir, si, pi);
    DWORD error = GetLastError();
    // The Linux machine logs the programs it starts; a failed start is not one.
    if (ok) KitLogEvent("program", cmd ? cmd : (app ? app : ""));
    SetLastError(error);
    return ok;
}

BOOL WINAPI loggedExitWindows(UINT flags, DWORD reason) {
    if (flags & EWX_REBOOT) KitLogEvent("reboot", "");
    return realExitWindows(flags, reason);
}

void WINAPI loggedExitProcess(UINT code) {
    KitLogExit(code);
    realExitProcess(KitExitCode(code));
}

// Points the import slot of `dll`!`name` in this program at `replacement`
// and returns the function it held, or nullptr when the program does not
// import it (then nothing is changed).
void* redirectImport(const char* dll, const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
        if (imp->OriginalFirstThunk == 0) continue;  // no name table to match against
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD oldProtect = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &oldProtect))
                return nullptr;
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtect, &oldProtect);
            return previous;
        }
    }
    return nullptr;
}

// The command line after the program's own name, as WinMain receives it.
LPSTR programArguments() {
    LPSTR p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

}  // namespace

int main() {
    redirectImport("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&routedMessageBox));
    realCreateProcess = reinterpret_cast<CreateProcessFn>(
        redirectImport("kernel32.dll", "CreateProcessA", reinterpret_cast<void*>(&loggedCreateProcess)));
    if (!realCreateProcess) realCreateProcess = CreateProcessA;
    realExitWindows = reinterpret_cast<ExitWindowsFn>(
        redirectImport("user32.dll", "ExitWindowsEx", reinterpret_cast<void*>(&loggedExitWindows)));
    if (!realExitWindows) realExitWindows = ExitWindowsEx;
    realExitProcess = reinterpret_cast<ExitProcessFn>(
        redirectImport("kernel32.dll", "ExitProcess", reinterpret_cast<void*>(&loggedExitProcess)));
    if (!realExitProcess) realExitProcess = ExitProcess;
    KitRouteMessageBoxes(TRUE);

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, programArguments(), show);
    KitLogExit(static_cast<UINT>(code));
    return static_cast<int>(KitExitCode(static_cast<UINT>(code)));
}
