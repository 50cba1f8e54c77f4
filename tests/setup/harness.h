// Test harness for the setup program, shared by every area that tests it: a usable Windows installation with C:\dist,
// where a piece of the program runs in a child process (the reporters and the exit paths end the process) with the
// toolkit answering pages from an answers file and logging them; and a bare machine in the test's own process, with
// registry helpers.
#pragma once

#include <gtest/gtest.h>
#include <stdarg.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common.h"
#include "kit/internal.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/core/machine.h"
#include "winsim/image/diff.h"
#include "winsim/image/newmachine.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"
#include "winsim/system/state.h"
#include "winsim/ui/state.h"

namespace harness {

namespace fs = std::filesystem;
using common::Lines;

inline winsim::OsInfo nt(int major, int minor, int build, const char* arch = "x86") {
    return {winsim::Platform::NT, major, minor, build, arch};
}
inline winsim::OsInfo nt351(const char* arch = "x86") { return nt(3, 51, 1057, arch); }
inline winsim::OsInfo nt31() { return nt(3, 10, 528); }
inline winsim::OsInfo win95() { return {winsim::Platform::Win95, 4, 0, 950, "x86"}; }

inline Lines withPrefix(const Lines& all, const std::string& prefix) {
    Lines out;
    for (const auto& l : all)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

struct ChildResult {
    int exitCode = -1;  // exit status of the child; -1 when it did not exit normally
    Lines log;          // the toolkit's log
    Lines report;       // lines the child wrote with report()
    std::string output; // the child's stdout and stderr
    std::vector<int> answered;  // the dialog number of each answer given

    Lines lines(const std::string& prefix) const { return withPrefix(log, prefix); }
    // Dialog numbers of the modal pages shown.
    std::vector<int> pages() const {
        std::vector<int> out;
        for (const auto& l : lines("page ")) out.push_back(std::atoi(l.c_str() + 5));
        return out;
    }
    // The value of "name=value" in the report, or "".
    std::string value(const std::string& name) const {
        Lines found = withPrefix(report, name + "=");
        return found.empty() ? "" : found[0].substr(name.size() + 1);
    }
};

inline std::string reportPath;  // the report file of the running child ("" in the parent)

// Called in the child: appends one line to the report the parent reads.
inline void report(const char* format, ...) {
    FILE* f = std::fopen(reportPath.c_str(), "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

// The box the toolkit shows before its error page when a text does not fit its buffer.
inline const std::string kOverflowBox = "box MS-Setup Error: Buffer Overflow";

// The child ended on the toolkit error page with `code` (1024 or 1025), after exactly the message boxes `boxes`;
// nothing after the failure ran.
inline void expectToolkitError(const ChildResult& r, int code, const Lines& boxes = {}) {
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("error"), Lines{"error Error code = " + std::to_string(code)});
    EXPECT_EQ(r.lines("box"), boxes);
    EXPECT_EQ(r.pages().back(), 2300);
}

// The toolkit's pages open on the frame: a page the program does not take down stays.
inline int openPages() {
    int pages = 0;
    for (const auto& [h, w] : winsim::machine().ui->windows) pages += w.className == "KitPage" && w.parent == HwndFrame();
    return pages;
}

// The answers front-end, logging what each page call carries that the kit's own log leaves out: "shown <dialog>
// <procedure> help <help dialog> cursor <wait|arrow|other> pages <pages open on the frame>".
class RecordingFrontEnd : public kit::FrontEnd {
public:
    explicit RecordingFrontEnd(std::unique_ptr<kit::FrontEnd> inner) : inner_(std::move(inner)) {}
    std::string answer(const kit::PageCall& call) override { return note(call), inner_->answer(call); }
    void showModeless(const kit::PageCall& call) override { note(call), inner_->showModeless(call); }
    int messageBox(const char* text, const char* caption, UINT type) override {
        return inner_->messageBox(text, caption, type);
    }
    void progress(const kit::Gauge& gauge) override { inner_->progress(gauge); }
    std::string leftOver() const override { return inner_->leftOver(); }

private:
    static void note(const kit::PageCall& call) {
        HCURSOR cursor = SetCursor(nullptr);
        SetCursor(cursor);
        const char* shape = cursor == LoadCursorA(nullptr, IDC_WAIT)    ? "wait"
                            : cursor == LoadCursorA(nullptr, IDC_ARROW) ? "arrow"
                                                                        : "other";
        kit::logLine("shown " + std::to_string(call.id) + " " + call.proc + " help " + std::to_string(call.helpId) +
                     " cursor " + shape + " pages " + std::to_string(openPages()));
    }
    std::unique_ptr<kit::FrontEnd> inner_;
};

inline Lines readLines(const fs::path& file) { return common::splitLines(common::readText(file)); }

// Each run of a Harness is also written down whole (exit code, log, report, output and the changes it made to the
// machine) and compared, when the Harness ends, with the reviewed transcript tests/setup/golden/<suite>/<test>.txt
// (<test>-<n>.txt for the n-th Harness of a test from the second on).
inline winsim::MachineSnapshot childBefore;  // the machine as the child's body starts
inline std::string childChanges;             // where the child writes its changes as it ends

// A usable Windows installation (spooler running, registry of a fresh installation) of the given platform, the user
// an administrator unless `admin` is false, C:\dist the current directory. Architectures other than x86, alpha and
// mips are set in the environment only.
class Harness {
public:
    explicit Harness(const winsim::OsInfo& os = nt351(), bool admin = true) {
        char pattern[] = "/tmp/setup-test-XXXXXX";
        char* made = mkdtemp(pattern);
        root = made ? fs::path(made) : fs::temp_directory_path() / "setup-test";
        winsim::NewMachineOptions options;
        options.os = os.platform == winsim::Platform::Win95 ? "win95" : "nt351";
        options.arch = os.arch == "x86" || os.arch == "alpha" || os.arch == "mips" ? os.arch : "x86";
        options.admin = admin, options.major = os.major, options.minor = os.minor, options.build = os.build;
        auto m = winsim::newMachine(options, root);
        m->environment["PROCESSOR_ARCHITECTURE"] = os.arch;
        winsim::install(std::move(m));
        fs::create_directories(host("C:\\dist"));
        machine().currentDir = "C:\\dist";
    }
    ~Harness() {
        if (serial_ > 0) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            std::string test = info ? info->name() : "none";
            std::replace(test.begin(), test.end(), '/', '.');
            static std::map<std::string, int> harnesses;  // per test, in case a process runs several
            const int n = ++harnesses[test + "@" + (info ? info->test_suite_name() : "")];
            common::compareWithGolden(transcript_, "setup", test + (n > 1 ? "-" + std::to_string(n) : ""), root.string());
        }
        fs::remove_all(root, ignored_);
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    winsim::Machine& machine() { return winsim::machine(); }
    fs::path host(const std::string& windowsPath) const {  // "C:\a\b" -> <root>/C/a/b
        std::string rest = windowsPath.size() > 3 ? windowsPath.substr(3) : "";
        std::replace(rest.begin(), rest.end(), '\\', '/');
        return (root / std::string(1, windowsPath[0]) / rest).lexically_normal();
    }
    void writeFile(const std::string& windowsPath, const std::string& text = "x\n") { common::writeText(host(windowsPath), text); }
    void setInf(const std::string& text) { writeFile("C:\\dist\\setup.inf", text); }
    void setFree(char drive, std::uint64_t bytes) { machine().drives.at(drive).free = bytes; }
    void addDrive(char letter, std::uint64_t freeBytes) {
        fs::create_directories(root / std::string(1, letter));
        machine().drives[letter] = {letter, root / std::string(1, letter), freeBytes + 1024 * 1024, freeBytes};
    }

    // Runs body in a child after starting the toolkit with the answers (one line per modal page), a log and the
    // RecordingFrontEnd. withToolkit false leaves the start to body (as WinMain does it) and gives it the front-end
    // options as its command line. The child ends with body's result unless the program ends it.
    ChildResult run(const std::string& answers, const std::function<int(LPSTR commandLine)>& body,
                    bool withToolkit = true) {
        std::string tag = std::to_string(++serial_);
        fs::path answersFile = root / ("answers" + tag), logFile = root / ("log" + tag);
        fs::path reportFile = root / ("report" + tag), outputFile = root / ("output" + tag), changesFile = root / ("changes" + tag);
        std::ofstream(answersFile) << answers;
        std::string options = "--answers " + answersFile.string() + " --log " + logFile.string();
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {  // the child never returns into the test framework
            alarm(30);
            if (!std::freopen(outputFile.c_str(), "w", stdout)) _exit(98);
            dup2(fileno(stdout), fileno(stderr));
            reportPath = reportFile.string();
            // Connect the machine to the toolkit's front-end and log as the host does: message boxes, started
            // programs, restarts, the exit.
            winsim::setEventListener([](std::string_view kind, std::string_view text) {
                KitLogEvent(std::string(kind).c_str(), std::string(text).c_str());
            });
            winsim::setMessageBoxHandler([](const char* t, const char* c, UINT type) { return KitMessageBox(t, c, type); });
            KitRouteMessageBoxes(TRUE);
            winsim::addExitHandler([](UINT code) { KitLogExit(code); });
            std::vector<char> commandLine(options.begin(), options.end());
            commandLine.push_back('\0');
            if (withToolkit) {
                if (TkInitSetup(commandLine.data()) <= 0) ExitProcess(99);
                std::vector<kit::Answer> parsed;
                std::string error;
                kit::parseAnswers(answers, parsed, error);
                kit::setFrontEnd(std::make_unique<RecordingFrontEnd>(
                    kit::makeAnswersFrontEnd(std::move(parsed), answersFile.string(), stdout)));
            }
            childBefore = winsim::snapshotMachine(winsim::machine());
            childChanges = changesFile.string();
            winsim::addExitHandler([](UINT) {
                std::string text;
                const winsim::MachineSnapshot after = winsim::snapshotMachine(winsim::machine());
                for (const auto& c : winsim::diffMachines(childBefore, after)) {
                    text += winsim::changeLine(c);
                    if (c.sign == '+' && c.kind == "file" && !c.what.ends_with("\\"))
                        text += "  " + std::to_string(after.files.at(c.what).size) + " bytes";
                    text += "\n";
                }
                common::writeText(childChanges, text);
            });
            ExitProcess((UINT)body(commandLine.data()));
        }
        ChildResult r;
        for (const auto& line : common::splitLines(answers)) r.answered.push_back(std::atoi(line.c_str()));
        int status = 0;
        waitpid(pid, &status, 0);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.log = readLines(logFile);
        r.report = readLines(reportFile);
        r.output = common::readText(outputFile);
        transcript_ += "== run " + tag + "\n" + answers + "-- exit " + std::to_string(r.exitCode) + "\n-- log\n" +
                       common::joined(r.log) + "-- report\n" + common::joined(r.report) + "-- output\n" + r.output + "-- changes\n" +
                       common::readText(changesFile);
        return r;
    }
    // The same for a body without a result: it reports "returned=1" when it comes back, and logs the pages it left
    // open.
    ChildResult run(const std::string& answers, const std::function<void()>& body) {
        return run(answers, [&body](LPSTR) {
            body();
            report("returned=1");
            kit::logLine("pages left open " + std::to_string(openPages()));
            return 0;
        });
    }

    fs::path root;

private:
    int serial_ = 0;
    std::string transcript_;
    std::error_code ignored_;
};

// The next `times` calls of `call` (0: all further ones) fail with `error`; `target` limits the fault to one object.
inline void failNext(const std::string& call, std::uint32_t times, DWORD error, const std::string& target = "") {
    auto& m = winsim::machine();
    m.faults.push_back({call, m.callCounts[call] + 1, times, error, target});
}

// One INF line: key = file, 13 empty fields, size in field 15.
inline std::string infLine(const std::string& key, const std::string& file, std::uint32_t bytes) {
    return key + " = " + file + std::string(14, ',') + std::to_string(bytes) + "\n";
}

// The sections the program knows, in a fixed order; sampleInf gives section i one file of sectionSize(i) = 1024 << i
// bytes, so every sum names its sections.
inline constexpr const char* kSections[18] = {
    "PPD Files", "NT Help File", "Alpha Monitor", "Mips Monitor", "I386 Monitor", "W95 Help File", "W95 Monitor",
    "Alpha Wizard", "Mips Wizard", "I386 Wizard", "Orvel", "Remote Console", "Wizard", "VB Common", "Write Files",
    "Load PS Files", "Load Cat Files", "Load Sys Files"};
inline std::uint32_t sectionSize(const std::string& section) {
    for (int i = 0; i < 18; ++i)
        if (section == kSections[i]) return 1024u << i;
    return 0;
}
inline std::uint32_t sectionSizes(std::initializer_list<const char*> sections) {
    std::uint32_t total = 0;
    for (const char* s : sections) total += sectionSize(s);
    return total;
}
inline std::string sampleInf() {
    std::string text;
    for (int n = 1; n <= 18; ++n)
        text += std::string("[") + kSections[n - 1] + "]\n" +
                infLine("file" + std::to_string(n), "f" + std::to_string(n) + ".dat", sectionSize(kSections[n - 1]));
    return text;
}

// The sample distribution's files (not its tools or answers) into C:\dist.
inline void copyDistribution(Harness& h) {
    for (const auto& e : fs::directory_iterator(fs::path(SOURCE_ROOT) / "dist"))
        if (e.is_regular_file())
            fs::copy_file(e.path(), h.host("C:\\dist\\" + e.path().filename().string()),
                          fs::copy_options::overwrite_existing);
}
inline std::string driverDir() { return *winsim::printerDriverDirectory(""); }
// The NT PostScript modules in the driver directory or its subdirectory `sub`.
inline void putNtModules(Harness& h, const std::string& sub = "") {
    std::string dir = driverDir() + (sub.empty() ? "" : "\\" + sub);
    h.writeFile(dir + "\\pscript.dll");
    h.writeFile(dir + "\\pscrptui.dll");
}

// In the child: the setup state after start-up on this machine, with the INF opened when the test wrote one.
inline void startupState(LONG installType = INSTALL_SYSTEM_DRIVE) {
    const winsim::Machine& m = winsim::machine();
    std::memset(static_cast<void*>(&::Setup), 0, sizeof ::Setup);
    ::Setup.IsWindows95 = !m.os.isNT();
    ::Setup.IsNT35 = m.os.isNT() && m.os.major == 3 && m.os.minor >= 50;
    ::Setup.IsNT31 = m.os.isNT() && m.os.major == 3 && m.os.minor < 50;
    ::Setup.IsAlpha = m.os.isNT() && m.os.arch == "alpha";
    ::Setup.IsMips = m.os.isNT() && m.os.arch == "mips";
    ::Setup.IsX86 = !::Setup.IsAlpha && !::Setup.IsMips;
    ::Setup.HelpProgram = ::Setup.IsWindows95 ? "winhelp.exe" : "winhlp32.exe";
    ::Setup.HelpFile = ::Setup.IsWindows95 ? "vrdpsmw4.hlp" : "vrdpsmon.hlp";
    std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
    std::strcpy(::Setup.SystemDir, m.systemDir.c_str());
    std::strcpy(::Setup.WindowsDir, m.windowsDir.c_str());
    std::strcpy(::Setup.DriverDir, driverDir().c_str());
    std::strcpy(::Setup.InstallRoot, "C:\\win32app\\vrdpsmon");
    ::Setup.InstallType = installType;
    if (GetFileAttributesA("C:\\dist\\setup.inf") != INVALID_FILE_ATTRIBUTES) TkOpenInf("C:\\dist\\setup.inf");
}

// In the child: "spooler=<state number>" of the Spooler service, if any.
inline void reportSpooler() {
    if (winsim::Service* s = winsim::findService(winsim::machine(), "Spooler"))
        report("spooler=%u", (unsigned)winsim::serviceStatus(winsim::machine(), *s).dwCurrentState);
}

// --- A bare machine in the test's process ---------------------------------

inline const std::string kMonitors = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
inline std::string mon(const std::string& sub) { return kMonitors + "\\" + sub; }

// Installs a fresh bare machine (NT 3.51, or Windows 95) in a scratch folder and zeroes the setup state, with the
// platform flags set as start-up would.
inline winsim::Machine& bareMachine(const std::string& name, bool windows95 = false) {
    winsim::OsInfo os;
    if (windows95) os = win95();
    auto& m = winsim::install(winsim::makeBareMachine(os, common::scratchDir("setup-bare-", "-" + name)));
    std::memset(static_cast<void*>(&Setup), 0, sizeof Setup);
    Setup.IsWindows95 = windows95;
    Setup.IsNT35 = !windows95;
    Setup.IsX86 = TRUE;
    return m;
}

inline HKEY createKey(const std::string& path) {
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS) << path;
    return h;
}
inline void makeKey(const std::string& path) { RegCloseKey(createKey(path)); }
inline void setValue(const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY h = createKey(path);
    EXPECT_EQ(RegSetValueExA(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS) << name;
    RegCloseKey(h);
}
inline void setSz(const std::string& path, const std::string& name, const std::string& text) {
    setValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// The tree below HKEY_LOCAL_MACHINE\<path>, one line per key in enumeration order: its path relative to <path> (or
// "." for <path> itself), then ` name=data` per value: REG_SZ as text, REG_DWORD as a number, anything else as hex
// bytes. "" when the key does not exist.
inline std::string regTree(const std::string& path, const std::string& rel = ".") {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "";
    std::string out = rel + ":";
    char name[256];
    BYTE data[1024];
    DWORD len = sizeof name, size = sizeof data, type = 0;
    for (DWORD i = 0; RegEnumValueA(h, i, name, &len, nullptr, &type, data, &size) == ERROR_SUCCESS; ++i) {
        out += std::string(" ") + name + "=";
        if (type == REG_SZ) out += std::string(reinterpret_cast<char*>(data), size ? size - 1 : 0);
        else if (type == REG_DWORD) out += std::to_string(*reinterpret_cast<DWORD*>(data));
        else
            for (DWORD b = 0; b < size; ++b) out += "0123456789abcdef"[data[b] >> 4] + std::string(1, "0123456789abcdef"[data[b] & 15]);
        len = sizeof name, size = sizeof data;
    }
    out += "\n";
    for (DWORD i = 0; len = sizeof name, RegEnumKeyExA(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i)
        out += regTree(path + "\\" + name, rel == "." ? std::string(name) : rel + "\\" + name);
    RegCloseKey(h);
    return out;
}

// The Perflib counter name table (pairs index, name). `skip` leaves one name out, to drive the walk's failure.
inline void installCounterTable(const std::string& skip = "") {
    const char* pairs[][2] = {{"1", "1847"},         {"2", "System"},         {"230", "Process"}, {"238", "Processor"},
                              {"680", "Thread Count"}, {"682", "Priority Base"}, {"784", "ID Process"}, {"786", "Image"}};
    std::string table;
    for (auto& p : pairs)
        if (skip != p[1]) table += std::string(p[0]) + '\0' + p[1] + '\0';
    table += '\0';
    setValue("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", "Counters", REG_MULTI_SZ, table.data(),
             static_cast<DWORD>(table.size()));
}

// For death tests: starts the toolkit frame with an answers file that leaves the error page with CANCEL, and, when
// the process ends, writes the text the error page was given (the symbol ErrorText) to stderr, where EXPECT_EXIT
// matches it.
inline void printErrorTextAtExit() {
    auto answers = fs::temp_directory_path() / "setup-bare-error-answers.txt";
    std::ofstream(answers) << "2300 CANCEL\n";
    std::string cmd = "--answers " + answers.string();
    InitializeFrame(cmd.data());
    winsim::addExitHandler([](UINT) {
        char text[1024] = {};
        CbGetSymbolValue("ErrorText", text, sizeof text);
        std::fprintf(stderr, "ErrorText: %s\n", text);
        std::fflush(stderr);
    });
}

// The message boxes shown so far on the machine, as "caption|text".
inline Lines messageBoxes() {
    Lines out;
    for (const auto& box : winsim::machine().ui->boxes) out.push_back(box.caption + "|" + box.text);
    return out;
}

// The statement ends setup through the error page, whose text matches `text`.
#define EXPECT_ENDS_SETUP(statement, text) \
    EXPECT_EXIT(                            \
        {                                   \
            harness::printErrorTextAtExit(); \
            statement;                      \
        },                                  \
        ::testing::ExitedWithCode(0), text)

}  // namespace harness
