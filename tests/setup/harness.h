// Test harness for the setup program: a simulated Windows machine with the
// distribution folder C:\dist, and a way to run a piece of the program in a
// child process (the reporters and the exit paths end the process) with the
// toolkit answering pages from an answers file and logging them.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/core/machine.h"
#include "winsim/spooler/state.h"

namespace harness {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

winsim::OsInfo nt(int major, int minor, int build, const char* arch = "x86");
inline winsim::OsInfo nt351(const char* arch = "x86") { return nt(3, 51, 1057, arch); }
inline winsim::OsInfo nt31() { return nt(3, 10, 528); }
winsim::OsInfo win95();

struct ChildResult {
    int exitCode = -1;  // exit status of the child; -1 when it did not exit normally
    Lines log;          // the toolkit's log
    Lines report;       // lines the child wrote with report()
    std::string output; // the child's stdout and stderr

    Lines lines(const std::string& prefix) const;     // log lines starting with prefix
    Lines reported(const std::string& prefix) const;  // report lines starting with prefix
    std::vector<int> pages() const;                   // dialog numbers of the modal pages shown
    bool hasLine(const std::string& line) const;      // in the log
    bool hasReport(const std::string& line) const;
    std::string value(const std::string& name) const;  // "name=value" of the report, or ""
};

// Called in the child: appends one line to the report the parent reads.
void report(const char* format, ...);

// The child ended on the toolkit error page with `code` (the access layer's
// 1024 or 1025), after exactly the message boxes `boxes`, and the code after
// the failing call never ran.
void expectToolkitError(const ChildResult& r, int code, const Lines& boxes = {});

// A usable Windows installation (spooler running, registry of a fresh
// installation) of the given platform, the user an administrator unless
// `admin` is false, C:\dist the current directory.
class Harness {
public:
    explicit Harness(const winsim::OsInfo& os = nt351(), bool admin = true);
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    winsim::Machine& machine();
    fs::path host(const std::string& windowsPath) const;  // "C:\a\b" -> <root>/C/a/b
    void writeFile(const std::string& windowsPath, const std::string& text = "x\n");
    void setInf(const std::string& text) { writeFile("C:\\dist\\setup.inf", text); }
    void setFree(char drive, std::uint64_t bytes);
    void addDrive(char letter, std::uint64_t freeBytes);

    // Runs body in a child after starting the toolkit with the answers (one
    // line per modal page) and a log. Each page the front-end is asked for
    // also logs "shown <dialog> <procedure> help <help dialog> cursor
    // <wait|arrow|other>". withToolkit false leaves the start to body (as
    // WinMain does it) and gives it the front-end options as its command
    // line. The child ends with body's result unless the program ends it.
    ChildResult run(const std::string& answers, const std::function<int(LPSTR commandLine)>& body,
                    bool withToolkit = true);
    // The same for a body that has no result: it reports "returned=1" when
    // it comes back.
    ChildResult run(const std::string& answers, const std::function<void()>& body);
    ChildResult runWinMain(const std::string& answers);

    fs::path root;

private:
    int serial_ = 0;
};

// Declares an export of a simulated module missing.
void removeExport(winsim::Machine& m, const std::string& module, const std::string& name);
// The next `times` calls of `call` (0: all further ones) fail with `error`.
void failNext(const std::string& call, std::uint32_t times, DWORD error, const std::string& target = "");

// One INF line: key = file, 13 empty fields, size in field 15.
std::string infLine(const std::string& key, const std::string& file, std::uint32_t bytes);
// The sections the program knows, in a fixed order; sampleInf gives section
// i one file of sectionSize(i) = 1024 << i bytes, so every sum names its
// sections.
extern const char* const kSections[18];
std::uint32_t sectionSize(const std::string& section);
std::uint32_t sectionSizes(std::initializer_list<const char*> sections);
std::string sampleInf(const std::string& extra = "");

// --- The installation's machine ------------------------------------------

fs::path sourceDist();
// The sample distribution's files (not its tools or answers) into C:\dist.
void copyDistribution(Harness& h);
std::string driverDir();
// The NT PostScript modules in the driver directory or its subdirectory `sub`.
void putNtModules(Harness& h, const std::string& sub = "");
void defineDriver(const std::string& name, const std::string& dataFile);
// A printer on the local port LPT1: (of the "Local Port" monitor).
void definePrinter(const std::string& name, const std::string& driver);

// In the child: the setup state after start-up on this machine, with the
// INF opened when the test wrote one.
void startupState(LONG installType = INSTALL_SYSTEM_DRIVE);
// In the child: "driver <name>|<data file>|<version>" per driver of the own
// environment, "printer <name>|<driver>|paused|running" per printer, and
// "spooler=<state number>".
void reportDrivers();
void reportPrinters();
void reportSpooler();

}  // namespace harness
