// Process calls of KERNEL32 (and ShellExecuteA of SHELL32) over the
// simulated process list. Process and thread handles are kernel handles
// (winsim/core/handles.h), so CloseHandle closes them.
#include "winsim/core/handles.h"
#include "winsim/processes/paths.h"
#include "winsim/processes/state.h"

#include <shellapi.h>

#include <cstring>

namespace winsim {

namespace {

struct ProcessObject : KernelObject {
    std::shared_ptr<SimProcess> process;
    DWORD access = 0;
};

struct ThreadObject : KernelObject {
    std::shared_ptr<SimProcess> process;
};

bool fail(DWORD e) {
    SetLastError(e);
    return false;
}

bool hasExtension(std::string_view name) {
    std::size_t slash = name.find_last_of("\\/:");
    std::size_t dot = name.find_last_of('.');
    return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

bool hasPath(std::string_view name) { return name.find_first_of("\\/:") != std::string_view::npos; }

// The first token of a command line: quoted, or up to the first blank.
std::string firstToken(std::string_view cmd) {
    std::size_t i = 0;
    while (i < cmd.size() && (cmd[i] == ' ' || cmd[i] == '\t')) ++i;
    if (i < cmd.size() && cmd[i] == '"') {
        std::size_t end = cmd.find('"', i + 1);
        return std::string(cmd.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
    }
    std::size_t end = cmd.find_first_of(" \t", i);
    return std::string(cmd.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
}

// Finds a program: a name with a path is taken from `base`; a bare name is
// searched in `firstDir` (if any) and the program search directories.
// Returns the lookup of the file, or the reason it was not found.
FoundPath findProgram(Machine& m, const std::string& name, std::string_view base, std::string_view firstDir) {
    FoundPath none;
    if (name.empty() || name.size() >= MAX_PATH) return none;
    if (hasPath(name)) {
        std::string abs = absoluteWindowsPath(m, name, base);
        return abs.empty() ? FoundPath{PathKind::MissingDir, {}, {}} : lookUpPath(m, abs);
    }
    std::vector<std::string> dirs = programSearchDirs(m);
    if (!firstDir.empty()) dirs.insert(dirs.begin(), std::string(firstDir));
    for (const std::string& d : dirs) {
        std::string abs = absoluteWindowsPath(m, name, d);
        if (abs.empty()) continue;
        FoundPath f = lookUpPath(m, abs);
        if (f.kind == PathKind::File) return f;
    }
    return none;
}

void record(Machine& m, const std::string& text) {
    m.processes->started.push_back(text);
    notifyEvent("program", text);
}

std::shared_ptr<SimProcess> processOf(HANDLE h, DWORD& access) {
    auto obj = findHandleAs<ProcessObject>(h);
    if (!obj) return nullptr;
    access = obj->access;
    return obj->process;
}

std::string processName(HANDLE h) {
    auto obj = findHandleAs<ProcessObject>(h);
    return obj ? obj->process->name : std::string();
}

}  // namespace

}  // namespace winsim

using namespace winsim;

extern "C" {

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    Machine& m = machine();
    std::string cmd = lpCommandLine ? lpCommandLine : "";
    std::string shown = !cmd.empty() ? cmd : (lpApplicationName ? lpApplicationName : "");
    if (DWORD e = injectedFault("CreateProcessA", shown)) return fail(e);
    runDuePrograms(m);
    if ((!lpApplicationName || !*lpApplicationName) && cmd.empty()) return fail(ERROR_INVALID_PARAMETER);
    if (!lpStartupInfo || !lpProcessInformation) return fail(ERROR_NOACCESS);
    if (lpCurrentDirectory) {
        std::string abs = absoluteWindowsPath(m, lpCurrentDirectory, m.currentDir);
        if (abs.empty() || lookUpPath(m, abs).kind != PathKind::Directory) return fail(ERROR_DIRECTORY);
    }
    FoundPath exe;
    if (lpApplicationName && *lpApplicationName) {
        // The application name is used as given: no search, no extension added.
        std::string abs = absoluteWindowsPath(m, lpApplicationName, m.currentDir);
        exe = abs.empty() ? FoundPath{PathKind::MissingDir, {}, {}} : lookUpPath(m, abs);
    } else {
        std::string name = firstToken(cmd);
        if (!hasExtension(name)) name += ".exe";
        exe = findProgram(m, name, m.currentDir, {});
    }
    if (exe.kind != PathKind::File) return fail(exe.kind == PathKind::MissingDir ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);

    record(m, shown);
    auto p = addProcess(m, exe.name, shown);
    auto po = std::make_shared<ProcessObject>();
    po->process = p;
    po->access = PROCESS_ALL_ACCESS;
    auto to = std::make_shared<ThreadObject>();
    to->process = p;
    lpProcessInformation->hProcess = addHandle(po);
    lpProcessInformation->hThread = addHandle(to);
    lpProcessInformation->dwProcessId = p->id;
    lpProcessInformation->dwThreadId = p->mainThreadId;
    return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    Machine& m = machine();
    runDuePrograms(m);
    auto p = dwProcessId ? findProcess(m, dwProcessId) : nullptr;
    if (DWORD e = injectedFault("OpenProcess", p ? p->name : std::string())) {
        SetLastError(e);
        return nullptr;
    }
    if (!p) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto obj = std::make_shared<ProcessObject>();
    obj->process = p;
    obj->access = (dwDesiredAccess & MAXIMUM_ALLOWED) ? (DWORD)PROCESS_ALL_ACCESS : dwDesiredAccess;
    return addHandle(obj);
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    Machine& m = machine();
    if (DWORD e = injectedFault("TerminateProcess", processName(hProcess))) return fail(e);
    if (hProcess == currentProcessHandle()) ExitProcess(uExitCode);
    runDuePrograms(m);
    DWORD access = 0;
    auto p = processOf(hProcess, access);
    if (!p) return fail(ERROR_INVALID_HANDLE);
    if (!(access & PROCESS_TERMINATE)) return fail(ERROR_ACCESS_DENIED);
    // A process that has ended, or one the system protects, cannot be ended.
    if (!p->running || p->isProtected) return fail(ERROR_ACCESS_DENIED);
    endProcess(m, p, uExitCode);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    Machine& m = machine();
    if (DWORD e = injectedFault("GetExitCodeProcess", processName(hProcess))) return fail(e);
    runDuePrograms(m);
    if (hProcess == currentProcessHandle()) {
        if (!lpExitCode) return fail(ERROR_NOACCESS);
        *lpExitCode = STILL_ACTIVE;
        return TRUE;
    }
    DWORD access = 0;
    auto p = processOf(hProcess, access);
    if (!p) return fail(ERROR_INVALID_HANDLE);
    if (!(access & PROCESS_QUERY_INFORMATION)) return fail(ERROR_ACCESS_DENIED);
    if (!lpExitCode) return fail(ERROR_NOACCESS);
    *lpExitCode = p->running ? STILL_ACTIVE : p->exitCode;
    return TRUE;
}

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd) {
    Machine& m = machine();
    auto result = [](DWORD code) {
        SetLastError(code);
        return (HINSTANCE)(ULONG_PTR)code;
    };
    if (DWORD e = injectedFault("ShellExecuteA", lpFile ? lpFile : "")) {
        // Results above 32 mean success: a larger error comes back as 0
        // ("out of memory or resources") with the error as the last error.
        if (e <= 32) return result(e);
        SetLastError(e);
        return (HINSTANCE)0;
    }
    runDuePrograms(m);
    if (!lpFile || !*lpFile) return result(SE_ERR_FNF);
    if (lpOperation && *lpOperation && !iequals(lpOperation, "open")) return result(SE_ERR_NOASSOC);
    std::string base = m.currentDir;
    if (lpDirectory && *lpDirectory) {
        std::string abs = absoluteWindowsPath(m, lpDirectory, m.currentDir);
        if (abs.empty() || lookUpPath(m, abs).kind != PathKind::Directory) return result(SE_ERR_PNF);
        base = abs;
    }
    std::string file = lpFile;
    FoundPath f = findProgram(m, file, base, lpDirectory && *lpDirectory ? base : std::string());
    if (f.kind != PathKind::File && !hasExtension(file)) f = findProgram(m, file + ".exe", base, base);
    if (f.kind != PathKind::File) return result(f.kind == PathKind::MissingDir ? SE_ERR_PNF : SE_ERR_FNF);

    std::string text = file;
    if (lpParameters && *lpParameters) text += std::string(" ") + lpParameters;
    record(m, text);
    // A program runs as a process of its own; a document opens in the program
    // associated with it, which we do not model beyond the record.
    std::string ext = f.name.size() >= 4 ? upper(f.name.substr(f.name.size() - 4)) : std::string();
    if (ext == ".EXE" || ext == ".COM") addProcess(m, f.name, text, base);
    return (HINSTANCE)(ULONG_PTR)42;
}

}  // extern "C"
