#include "setup/harness.h"

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/image/newmachine.h"
#include "winsim/ui/state.h"
#include "winsim/system/state.h"

namespace harness {

namespace {

// The report file of the running child (empty in the parent).
std::string& reportPath() {
    static std::string path;
    return path;
}

std::vector<std::string> readLines(const fs::path& file) {
    std::vector<std::string> out;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::unique_ptr<winsim::Machine> makeWindowsMachine(const winsim::OsInfo& os, const fs::path& driveRoot,
                                                    bool admin) {
    winsim::NewMachineOptions options;
    options.os = os.platform == winsim::Platform::Win95 ? "win95" : "nt351";
    bool plainArch = os.arch == "x86" || os.arch == "alpha" || os.arch == "mips";
    options.arch = plainArch ? os.arch : "x86";
    options.admin = admin;
    options.major = os.major;
    options.minor = os.minor;
    options.build = os.build;
    auto m = winsim::newMachine(options, driveRoot);
    m->environment["PROCESSOR_ARCHITECTURE"] = os.arch;
    return m;
}

void removeExport(winsim::Machine& m, const std::string& module, const std::string& name) {
    m.system->modules[module].missingExports.insert(name);
}

std::string frontEndOptions(const fs::path& answers, const fs::path& log) {
    return "--answers " + answers.string() + " --log " + log.string();
}

winsim::OsInfo nt(int major, int minor, int build, const char* arch) {
    winsim::OsInfo os;
    os.platform = winsim::Platform::NT;
    os.major = major;
    os.minor = minor;
    os.build = build;
    os.arch = arch;
    return os;
}

winsim::OsInfo nt351(const char* arch) { return nt(3, 51, 1057, arch); }

winsim::OsInfo win95() {
    winsim::OsInfo os;
    os.platform = winsim::Platform::Win95;
    os.major = 4;
    os.minor = 0;
    os.build = 950;
    os.arch = "x86";
    return os;
}

std::vector<std::string> ChildResult::lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : log)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

std::vector<int> ChildResult::pages() const {
    std::vector<int> out;
    for (const auto& l : lines("page ")) out.push_back(std::atoi(l.c_str() + 5));
    return out;
}

bool ChildResult::hasLine(const std::string& line) const {
    for (const auto& l : log)
        if (l == line) return true;
    return false;
}

std::string ChildResult::value(const std::string& name) const {
    for (const auto& l : report)
        if (l.compare(0, name.size() + 1, name + "=") == 0) return l.substr(name.size() + 1);
    return "";
}

void report(const char* format, ...) {
    if (reportPath().empty()) return;
    FILE* f = std::fopen(reportPath().c_str(), "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

Harness::Harness(const winsim::OsInfo& os, bool admin) {
    char pattern[] = "/tmp/setup-test-XXXXXX";
    char* made = mkdtemp(pattern);
    root = made ? fs::path(made) : fs::temp_directory_path() / "setup-test";
    auto m = makeWindowsMachine(os, root, admin);
    winsim::install(std::move(m));
    fs::create_directories(host("C:\\dist"));
    machine().currentDir = "C:\\dist";
}

Harness::~Harness() {
    std::error_code ec;
    fs::remove_all(root, ec);
}

winsim::Machine& Harness::machine() { return winsim::machine(); }

fs::path Harness::host(const std::string& windowsPath) const {
    // "C:\a\b" -> <root>/C/a/b
    fs::path p = root / std::string(1, windowsPath[0]);
    std::string rest = windowsPath.size() > 3 ? windowsPath.substr(3) : "";
    std::string part;
    for (char c : rest) {
        if (c == '\\') {
            if (!part.empty()) p /= part;
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) p /= part;
    return p;
}

void Harness::writeFile(const std::string& windowsPath, const std::string& text) {
    fs::path p = host(windowsPath);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

void Harness::setInf(const std::string& text) { writeFile("C:\\dist\\setup.inf", text); }

void Harness::setFree(char drive, std::uint64_t bytes) { machine().drives.at(drive).free = bytes; }

void Harness::addDrive(char letter, std::uint64_t freeBytes) {
    winsim::Drive d;
    d.letter = letter;
    d.host = root / std::string(1, letter);
    fs::create_directories(d.host);
    d.total = freeBytes + 1024 * 1024;
    d.free = freeBytes;
    machine().drives[letter] = d;
}

ChildResult Harness::run(const std::string& answers, const std::function<int(LPSTR)>& body, bool withToolkit) {
    ++serial_;
    std::string tag = std::to_string(serial_);
    fs::path answersFile = root / ("answers" + tag + ".txt");
    fs::path logFile = root / ("log" + tag + ".txt");
    fs::path reportFile = root / ("report" + tag + ".txt");
    fs::path outputFile = root / ("output" + tag + ".txt");
    std::ofstream(answersFile) << answers;

    std::string options = frontEndOptions(answersFile, logFile);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // Child: never returns into the test framework.
        alarm(30);
        FILE* out = std::freopen(outputFile.c_str(), "w", stdout);
        (void)out;
        dup2(fileno(stdout), fileno(stderr));
        reportPath() = reportFile.string();
        // Connect the machine to the toolkit's front-end and log, as the
        // host does: message boxes, started programs, restarts, the exit.
        winsim::setEventListener([](std::string_view kind, std::string_view text) {
            std::string k(kind), t(text);
            KitLogEvent(k.c_str(), t.c_str());
        });
        winsim::setMessageBoxHandler(
            [](const char* text, const char* caption, UINT type) { return KitMessageBox(text, caption, type); });
        KitRouteMessageBoxes(TRUE);
        winsim::addExitHandler([](UINT code) { KitLogExit(code); });
        std::vector<char> commandLine(options.begin(), options.end());
        commandLine.push_back('\0');
        int code = 0;
        if (withToolkit) {
            if (TkInitSetup(commandLine.data()) <= 0) {
                report("init=failed");
                ExitProcess(99);
            }
        }
        code = body(commandLine.data());
        ExitProcess((UINT)code);
    }
    ChildResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.log = readLines(logFile);
    r.report = readLines(reportFile);
    r.output = readAll(outputFile);
    return r;
}

ChildResult Harness::runWinMain(const std::string& answers) {
    return run(answers, [](LPSTR commandLine) { return WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL); },
               false);
}

const char* const kSections[18] = {
    "PPD Files",     "NT Help File",   "Alpha Monitor", "Mips Monitor", "I386 Monitor", "W95 Help File",
    "W95 Monitor",   "Alpha Wizard",   "Mips Wizard",   "I386 Wizard",  "Orvel",        "Remote Console",
    "Wizard",        "VB Common",      "Write Files",   "Load PS Files", "Load Cat Files", "Load Sys Files"};

std::uint32_t sectionSize(const std::string& section) {
    for (int i = 0; i < 18; ++i)
        if (section == kSections[i]) return 1024u << i;
    return 0;
}

std::string sampleInf(const std::string& extra) {
    std::string text = "; sample distribution for the tests\n";
    int n = 0;
    for (const char* s : kSections) {
        text += "[";
        text += s;
        text += "]\n";
        ++n;
        text += infLine("file" + std::to_string(n), "f" + std::to_string(n) + ".dat", sectionSize(s));
    }
    return text + extra;
}

std::string infLine(const std::string& key, const std::string& file, std::uint32_t bytes) {
    std::string line = key + " = " + file;
    for (int field = 2; field < 15; ++field) line += ",";
    return line + "," + std::to_string(bytes) + "\n";
}

}  // namespace harness
