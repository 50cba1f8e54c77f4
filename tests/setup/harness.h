// Test harness for the setup program: a simulated machine with the
// distribution in C:\dist, and a way to run a piece of the program in a
// child process (the reporters and the exit paths end the process) with
// the toolkit answering pages from an answers file and logging them.
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "winsim/core/machine.h"

namespace harness {

namespace fs = std::filesystem;

winsim::OsInfo nt(int major, int minor, int build, const char* arch = "x86");
winsim::OsInfo nt351(const char* arch = "x86");
winsim::OsInfo win95();

struct ChildResult {
    int exitCode = -1;              // exit status of the child; -1 when it did not exit normally
    std::vector<std::string> log;   // the toolkit's log, one entry per line
    std::vector<std::string> report;  // lines the child wrote with report()
    std::string output;             // what the child wrote to stdout and stderr

    // Log lines starting with the given prefix, in order.
    std::vector<std::string> lines(const std::string& prefix) const;
    // Dialog numbers of the modal pages shown, in order ("page <n> ...").
    std::vector<int> pages() const;
    bool hasLine(const std::string& line) const;
    // The value of "name=value" in the report, or "" when absent.
    std::string value(const std::string& name) const;
};

// Called in the child: appends one line to the report the parent reads.
void report(const char* format, ...);

// Pre-fills the machine: a usable Windows installation (spooler running,
// registry of a fresh installation) with the given platform, the user an
// administrator, and the distribution folder C:\dist as current directory.
class Harness {
public:
    // admin false: the user is no member of Administrators.
    explicit Harness(const winsim::OsInfo& os = nt351(), bool admin = true);
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    winsim::Machine& machine();
    // Host path of a Windows path on drive C.
    fs::path host(const std::string& windowsPath) const;
    void writeFile(const std::string& windowsPath, const std::string& text);
    void setInf(const std::string& text);  // C:\dist\setup.inf
    // Free bytes of drive C (and other drives with addDrive).
    void setFree(char drive, std::uint64_t bytes);
    void addDrive(char letter, std::uint64_t freeBytes);

    // Runs body in a child process after starting the toolkit with the
    // answers (one line per modal page) and a log. withToolkit false leaves
    // the start to body (WinMain does it itself); then body gets the
    // front-end options as its command line. The child ends through
    // ExitProcess with body's result unless the program ends it first.
    ChildResult run(const std::string& answers, const std::function<int(LPSTR commandLine)>& body,
                    bool withToolkit = true);
    // Runs WinMain with the answers.
    ChildResult runWinMain(const std::string& answers);

    fs::path root;

private:
    int serial_ = 0;
};

// A machine of the given platform with Windows installed in its classic
// places, drives under driveRoot/<letter>. An architecture other than
// x86, alpha and mips (in that spelling) is set in the environment only.
std::unique_ptr<winsim::Machine> makeWindowsMachine(const winsim::OsInfo& os, const fs::path& driveRoot,
                                                    bool admin);

// Declares an export of a simulated module missing.
void removeExport(winsim::Machine& m, const std::string& module, const std::string& name);

// The toolkit's front-end options for an answers file and a log.
std::string frontEndOptions(const fs::path& answers, const fs::path& log);

// One INF line: key = file, 13 empty fields, size in field 15.
std::string infLine(const std::string& key, const std::string& file, std::uint32_t bytes);

// The sections the program knows, in a fixed order; sampleInf gives
// section i one file of sectionSize(i) bytes, so every sum names its
// sections.
extern const char* const kSections[18];
std::uint32_t sectionSize(const std::string& section);
// Every section with its one file; `extra` is appended as it is.
std::string sampleInf(const std::string& extra = "");

}  // namespace harness
