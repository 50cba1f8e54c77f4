#include "setup/harness.h"

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kit/internal.h"
#include "winsim/image/newmachine.h"
#include "winsim/services/state.h"
#include "winsim/system/state.h"
#include "winsim/ui/state.h"

namespace harness {

namespace {

std::string& reportPath() {  // the report file of the running child ("" in the parent)
    static std::string path;
    return path;
}

Lines readLines(const fs::path& file) {
    Lines out;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

Lines withPrefix(const Lines& all, const std::string& prefix) {
    Lines out;
    for (const auto& l : all)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

// The answers front-end, logging what each page call carries that the
// kit's own log leaves out: the procedure of a modeless page, the help
// page, and the cursor the page is shown under.
class RecordingFrontEnd : public kit::FrontEnd {
public:
    explicit RecordingFrontEnd(std::unique_ptr<kit::FrontEnd> inner) : inner_(std::move(inner)) {}
    std::string answer(const kit::PageCall& call) override {
        note(call);
        return inner_->answer(call);
    }
    void showModeless(const kit::PageCall& call) override {
        note(call);
        inner_->showModeless(call);
    }
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
                     " cursor " + shape);
    }
    std::unique_ptr<kit::FrontEnd> inner_;
};

}  // namespace

winsim::OsInfo nt(int major, int minor, int build, const char* arch) {
    winsim::OsInfo os;
    os.platform = winsim::Platform::NT;
    os.major = major;
    os.minor = minor;
    os.build = build;
    os.arch = arch;
    return os;
}

winsim::OsInfo win95() {
    winsim::OsInfo os = nt(4, 0, 950);
    os.platform = winsim::Platform::Win95;
    return os;
}

Lines ChildResult::lines(const std::string& prefix) const { return withPrefix(log, prefix); }
Lines ChildResult::reported(const std::string& prefix) const { return withPrefix(report, prefix); }

std::vector<int> ChildResult::pages() const {
    std::vector<int> out;
    for (const auto& l : lines("page ")) out.push_back(std::atoi(l.c_str() + 5));
    return out;
}

bool ChildResult::hasLine(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
}
bool ChildResult::hasReport(const std::string& line) const {
    return std::find(report.begin(), report.end(), line) != report.end();
}

std::string ChildResult::value(const std::string& name) const {
    Lines found = reported(name + "=");
    return found.empty() ? "" : found[0].substr(name.size() + 1);
}

void report(const char* format, ...) {
    FILE* f = reportPath().empty() ? nullptr : std::fopen(reportPath().c_str(), "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

void expectToolkitError(const ChildResult& r, int code, const Lines& boxes) {
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("error"), Lines{"error Error code = " + std::to_string(code)});
    EXPECT_EQ(r.lines("box"), boxes);
    EXPECT_EQ(r.pages().back(), 2300);
}

Harness::Harness(const winsim::OsInfo& os, bool admin) {
    char pattern[] = "/tmp/setup-test-XXXXXX";
    char* made = mkdtemp(pattern);
    root = made ? fs::path(made) : fs::temp_directory_path() / "setup-test";
    winsim::NewMachineOptions options;
    options.os = os.platform == winsim::Platform::Win95 ? "win95" : "nt351";
    // Other architecture names are set in the environment only.
    bool plainArch = os.arch == "x86" || os.arch == "alpha" || os.arch == "mips";
    options.arch = plainArch ? os.arch : "x86";
    options.admin = admin;
    options.major = os.major;
    options.minor = os.minor;
    options.build = os.build;
    auto m = winsim::newMachine(options, root);
    m->environment["PROCESSOR_ARCHITECTURE"] = os.arch;
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
    std::string rest = windowsPath.size() > 3 ? windowsPath.substr(3) : "";
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return (root / std::string(1, windowsPath[0]) / rest).lexically_normal();
}

void Harness::writeFile(const std::string& windowsPath, const std::string& text) {
    fs::path p = host(windowsPath);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

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
    std::string tag = std::to_string(++serial_);
    fs::path answersFile = root / ("answers" + tag), logFile = root / ("log" + tag);
    fs::path reportFile = root / ("report" + tag), outputFile = root / ("output" + tag);
    std::ofstream(answersFile) << answers;
    std::string options = "--answers " + answersFile.string() + " --log " + logFile.string();
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // The child never returns into the test framework.
        alarm(30);
        if (!std::freopen(outputFile.c_str(), "w", stdout)) _exit(98);
        dup2(fileno(stdout), fileno(stderr));
        reportPath() = reportFile.string();
        // Connect the machine to the toolkit's front-end and log as the host
        // does: message boxes, started programs, restarts, the exit.
        winsim::setEventListener([](std::string_view kind, std::string_view text) {
            KitLogEvent(std::string(kind).c_str(), std::string(text).c_str());
        });
        winsim::setMessageBoxHandler(
            [](const char* text, const char* caption, UINT type) { return KitMessageBox(text, caption, type); });
        KitRouteMessageBoxes(TRUE);
        winsim::addExitHandler([](UINT code) { KitLogExit(code); });
        std::vector<char> commandLine(options.begin(), options.end());
        commandLine.push_back('\0');
        if (withToolkit) {
            if (TkInitSetup(commandLine.data()) <= 0) {
                report("init=failed");
                ExitProcess(99);
            }
            std::vector<kit::Answer> parsed;
            std::string error;
            kit::parseAnswers(answers, parsed, error);
            kit::setFrontEnd(std::make_unique<RecordingFrontEnd>(
                kit::makeAnswersFrontEnd(std::move(parsed), answersFile.string(), stdout)));
        }
        ExitProcess((UINT)body(commandLine.data()));
    }
    ChildResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.log = readLines(logFile);
    r.report = readLines(reportFile);
    std::ifstream out(outputFile);
    std::stringstream text;
    text << out.rdbuf();
    r.output = text.str();
    return r;
}

ChildResult Harness::run(const std::string& answers, const std::function<void()>& body) {
    return run(answers, [&body](LPSTR) {
        body();
        report("returned=1");
        return 0;
    });
}

ChildResult Harness::runWinMain(const std::string& answers) {
    return run(answers, [](LPSTR commandLine) { return WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL); },
               false);
}

void removeExport(winsim::Machine& m, const std::string& module, const std::string& name) {
    m.system->modules[module].missingExports.insert(name);
}

void failNext(const std::string& call, std::uint32_t times, DWORD error, const std::string& target) {
    auto& m = winsim::machine();
    auto it = m.callCounts.find(call);
    std::uint32_t done = it == m.callCounts.end() ? 0 : it->second;
    m.faults.push_back({call, done + 1, times, error, target});
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

std::uint32_t sectionSizes(std::initializer_list<const char*> sections) {
    std::uint32_t total = 0;
    for (const char* s : sections) total += sectionSize(s);
    return total;
}

std::string sampleInf(const std::string& extra) {
    std::string text = "; sample distribution for the tests\n";
    for (int n = 1; n <= 18; ++n)
        text += std::string("[") + kSections[n - 1] + "]\n" +
                infLine("file" + std::to_string(n), "f" + std::to_string(n) + ".dat", sectionSize(kSections[n - 1]));
    return text + extra;
}

std::string infLine(const std::string& key, const std::string& file, std::uint32_t bytes) {
    return key + " = " + file + std::string(14, ',') + std::to_string(bytes) + "\n";
}

// --- The installation's machine ------------------------------------------

fs::path sourceDist() { return fs::path(SOURCE_ROOT) / "dist"; }

void copyDistribution(Harness& h) {
    for (const auto& e : fs::directory_iterator(sourceDist()))
        if (e.is_regular_file())
            fs::copy_file(e.path(), h.host("C:\\dist\\" + e.path().filename().string()),
                          fs::copy_options::overwrite_existing);
}

std::string driverDir() { return *winsim::printerDriverDirectory(""); }

void putNtModules(Harness& h, const std::string& sub) {
    std::string dir = driverDir() + (sub.empty() ? "" : "\\" + sub);
    h.writeFile(dir + "\\pscript.dll");
    h.writeFile(dir + "\\pscrptui.dll");
}

void defineDriver(const std::string& name, const std::string& dataFile) {
    winsim::SpoolDriver d;
    d.name = name;
    d.driverPath = "pscript.dll";
    d.dataFile = dataFile;
    d.configFile = "pscrptui.dll";
    d.version = 1;
    winsim::defineDriver(winsim::ownEnvironment(), d);
}

void definePrinter(const std::string& name, const std::string& driver) {
    winsim::defineMonitor("Local Port", winsim::machine().os.isNT() ? "localmon.dll" : "spoolss.dll", {"LPT1:"});
    winsim::SpoolPrinter p;
    p.name = name;
    p.port = "LPT1:";
    p.driver = driver;
    winsim::definePrinter(p);
}

void startupState(LONG installType) {
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

void reportDrivers() {
    std::vector<winsim::SpoolDriver> all;
    winsim::spoolerDrivers(winsim::ownEnvironment(), all);
    for (const auto& d : all) report("driver %s|%s|%u", d.name.c_str(), d.dataFile.c_str(), (unsigned)d.version);
}

void reportPrinters() {
    std::vector<winsim::SpoolPrinter> all;
    winsim::spoolerPrinters(all);
    for (const auto& p : all)
        report("printer %s|%s|%s", p.name.c_str(), p.driver.c_str(),
               (p.status & PRINTER_STATUS_PAUSED) ? "paused" : "running");
}

void reportSpooler() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    if (service && QueryServiceStatus(service, &status)) report("spooler=%u", (unsigned)status.dwCurrentState);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
}

}  // namespace harness
