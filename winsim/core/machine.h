// The simulated Windows machine: one process-wide instance holding the
// state of every API family, a virtual clock, and the declared faults.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace winsim {

// Case-insensitive ordering for Windows names (ASCII folding, as NT's
// registry and file systems compare the names the program uses).
struct CaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};
bool iequals(std::string_view a, std::string_view b) noexcept;
std::string upper(std::string_view s);

enum class Platform { NT, Win95 };

struct OsInfo {
    Platform platform = Platform::NT;
    int major = 3;
    int minor = 51;
    int build = 1057;
    std::string arch = "x86";  // x86, alpha, mips (as PROCESSOR_ARCHITECTURE spells them)
    // The word GetVersion returns: NT packs major, minor and the build;
    // Windows 95 sets the top bit and the two bits below it.
    DWORD versionWord() const;
    bool isNT() const { return platform == Platform::NT; }
};

struct Drive {
    char letter = 'C';
    std::filesystem::path host;  // host folder holding the drive's files
    std::uint64_t total = 0;     // bytes
    std::uint64_t free = 0;      // bytes, shrinks as files are written
    std::string type = "fixed";  // fixed, removable, remote, cdrom, ramdisk
    bool fat = false;            // FAT keeps directory order as written
};

// A declared failure: the Nth call (1-based) of `call` fails with `error`,
// and so do the following `times - 1` calls (times 0 = every call from N on).
struct Fault {
    std::string call;
    std::uint32_t nth = 1;
    std::uint32_t times = 1;
    DWORD error = ERROR_ACCESS_DENIED;
    std::string target;  // optional: only calls naming this object (key, path, service)
};

// Per-family state lives in the family's folder; the machine owns one of each.
struct RegistryState;
struct FileState;
struct SystemState;
struct SecurityState;
struct UiState;
struct ServiceState;
struct ProcessState;
struct SpoolerState;
struct DdeState;

struct Machine {
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    OsInfo os;
    std::string computerName = "VARDEN1";
    std::string windowsDir = "C:\\WINNT35";
    std::string systemDir = "C:\\WINNT35\\system32";
    std::string currentDir = "C:\\";
    std::map<std::string, std::string, CaseLess> environment;
    std::map<char, Drive> drives;  // upper-case letter -> drive

    // Virtual clock: milliseconds since the machine started; Sleep advances it.
    std::uint64_t tickMs = 0;
    std::int64_t bootEpochMs = 0;  // local wall time at tick 0, ms since 1970

    std::vector<Fault> faults;
    std::map<std::string, std::uint32_t, std::less<>> callCounts;

    std::unique_ptr<RegistryState> registry;
    std::unique_ptr<FileState> files;
    std::unique_ptr<SystemState> system;
    std::unique_ptr<SecurityState> security;
    std::unique_ptr<UiState> ui;
    std::unique_ptr<ServiceState> services;
    std::unique_ptr<ProcessState> processes;
    std::unique_ptr<SpoolerState> spooler;
    std::unique_ptr<DdeState> dde;

    // Image this machine was loaded from (empty for machines built in code).
    std::filesystem::path imageDir;
};

// The process-wide machine. Tests and the host replace it with install().
Machine& machine();
// Replaces the current machine (the old one is destroyed) and returns it.
Machine& install(std::unique_ptr<Machine> m);

// A fresh, empty machine of the given platform with drive C: mapped to
// `hostC` (created if missing). Families start empty; see image/newmachine.h
// for a machine with Windows installed.
std::unique_ptr<Machine> makeBareMachine(const OsInfo& os, const std::filesystem::path& hostC);

// Counts a call of `call` and returns the error a declared fault makes it
// fail with, or 0. `target` lets a fault be limited to one object.
DWORD injectedFault(std::string_view call, std::string_view target = {});

// Events the front-ends log ("program <command line>", "reboot", ...):
// families report them here, whoever runs the machine listens.
using EventListener = void (*)(std::string_view kind, std::string_view text);
void setEventListener(EventListener listener);
void notifyEvent(std::string_view kind, std::string_view text);

// ExitProcess runs these (last registered first) before the process ends,
// so the host can still save the machine image.
using ExitHandler = void (*)(UINT exitCode);
void addExitHandler(ExitHandler handler);

// A service has settled in a new state (SERVICE_RUNNING, SERVICE_STOPPED):
// the families that depend on it follow (the spooler loads or lets go of
// its monitor modules).
void serviceStateChanged(Machine& m, std::string_view service, DWORD state);

// Virtual time.
std::uint64_t now();
void advance(std::uint64_t ms);

}  // namespace winsim
