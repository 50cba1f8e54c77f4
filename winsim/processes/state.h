// State of the processes family of the simulated machine (the running
// processes and the programs started), and how it is read from and written
// to a machine image.
//
// Image section "processes" of machine.json:
//
//   "processes": {
//     "list": [
//       { "id": 2, "name": "System", "threads": 24, "priority": 8 },
//       { "id": 91, "name": "PRINTMAN.EXE", "threads": 2, "priority": 8,
//         "protected": false, "command_line": "printman.exe" }, ...
//     ],
//     "started": ["C:\\WINNT35\\system32\\write.exe readme.wri", ...],
//     "ended": [ { "id": 91, "name": "PRINTMAN.EXE", "exit_code": 1067 } ],
//     "programs": { "extract.exe": { "run_ms": 4000 } }
//   }
//
// "programs" declares how long a simulated program runs before it ends by
// itself (and, for the cabinet tool, writes its files).
//
// "name" is the image file name as the process was started from it
// ("PRINTMAN.EXE"); the performance data shows it without its extension
// ("PRINTMAN"), as NT's Process object does. A "protected" process refuses
// TerminateProcess with ERROR_ACCESS_DENIED.
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim {

struct SimProcess {
    DWORD id = 0;
    std::string name;         // image file name, e.g. "PRINTMAN.EXE"
    std::string commandLine;  // as started (may be empty for declared processes)
    std::string currentDir;   // working directory it was started in (empty: the machine's)
    DWORD threads = 1;
    LONG priority = 8;        // base priority (NORMAL_PRIORITY_CLASS foreground: 8)
    bool isProtected = false;
    bool running = true;
    DWORD exitCode = STILL_ACTIVE;
    DWORD mainThreadId = 0;
    // A simulated program ends by itself at this tick (0 = runs until ended),
    // then runs onExit (e.g. writes its output file). Set by its behaviour's
    // start; the timer is not kept in the image.
    std::uint64_t endsAt = 0;
    DWORD exitCodeAtEnd = 0;
    std::function<void(Machine&, SimProcess&)> onExit;
};

// What a simulated program does when started, looked up by its file name
// (e.g. "extract.exe"). `start` may set endsAt/exitCodeAtEnd/onExit on the
// new process; a program without an entry simply runs until terminated.
struct ProgramBehaviour {
    std::function<void(Machine&, SimProcess&)> start;
};

struct ProcessState {
    std::vector<std::shared_ptr<SimProcess>> list;  // running, in creation order
    std::vector<std::shared_ptr<SimProcess>> ended; // terminated, with exit codes
    std::vector<std::string> started;               // command lines of programs started
    DWORD nextId = 0;  // 0: chosen from the list on first use
    std::map<std::string, std::uint64_t, CaseLess> runTimes;  // program file name -> run time in ms

    // Bumped by every change of the list made through the functions below;
    // code that edits `list` or a listed process directly calls changed().
    // The performance data keeps its size per generation (a program asks
    // for it again and again while it grows its buffer).
    std::uint64_t generation = 0;
    std::size_t timed = 0;  // listed processes that end by themselves (endsAt set)
    void changed() { ++generation; }
    struct SizeCache {
        std::uint64_t generation = ~0ull;
        std::size_t count = 0, counters = 0, bytes = 0;
    } perfSize;
    // Not kept in the image: edits each answer of the performance data after
    // it is written, as a faulty counter provider leaves it (a field changed,
    // fewer bytes answered than the header states). `size` may only shrink.
    std::function<void(unsigned char* block, DWORD& size)> damagePerfData;
};

// Registers the behaviour of a simulated program (file name, any case).
// Process-wide: it outlives machine replacement.
void registerProgram(const std::string& fileName, ProgramBehaviour behaviour);

// Ends every simulated program whose time has come (see SimProcess::endsAt),
// running its exit action. Every process function calls it first; families
// that observe a program's effects (files) may call it too.
void runDuePrograms(Machine& m);

// The running process with this id, or null.
std::shared_ptr<SimProcess> findProcess(Machine& m, DWORD id);

// Adds a running process with a fresh id and returns it.
// `currentDir` is its working directory (empty: the machine's current one).
std::shared_ptr<SimProcess> addProcess(Machine& m, const std::string& name, const std::string& commandLine,
                                       const std::string& currentDir = {});

// Ends a running process with the exit code: it leaves the list.
void endProcess(Machine& m, const std::shared_ptr<SimProcess>& p, DWORD exitCode);

// Lists the processes a freshly started system runs (NT: Idle, System, the
// session manager, the Win32 subsystem, logon, services, spooler, Program
// Manager; Windows 95: its kernel, message server and Program Manager),
// the system's own ones protected. For 'winsim new'.
void addDefaultProcesses(Machine& m);

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadProcess(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveProcess(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showProcess(std::ostream& out, const Machine& m);

}  // namespace winsim
