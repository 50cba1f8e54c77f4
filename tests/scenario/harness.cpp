#include "scenario/harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace scenario {

fs::path binDir() { return BIN_DIR; }
fs::path sourceRoot() { return SOURCE_ROOT; }

namespace {

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> w;
    std::istringstream in(line);
    std::string x;
    while (in >> x) w.push_back(x);
    return w;
}

std::string lowerCopy(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

// Splits an INF key line after '=' into fields (quotes as the toolkit reads them).
std::vector<std::string> infFields(const std::string& s) {
    std::vector<std::string> fields;
    std::size_t eq = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') quoted = !quoted;
        if (!quoted && s[i] == '=') {
            eq = i;
            break;
        }
    }
    if (eq == std::string::npos) return fields;
    std::string cur;
    quoted = false;
    for (std::size_t i = eq + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
                cur += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (!quoted && c == ';') break;
        if (!quoted && c == ',') {
            fields.push_back(cur);
            cur.clear();
            continue;
        }
        cur += c;
    }
    fields.push_back(cur);
    for (auto& f : fields) {
        auto b = f.find_first_not_of(" \t");
        auto e = f.find_last_not_of(" \t");
        f = b == std::string::npos ? std::string() : f.substr(b, e - b + 1);
    }
    return fields;
}

}  // namespace

std::string missingPieces() {
    for (const char* p : {"setup", "winsim"})
        if (!fs::exists(binDir() / p)) return std::string("build/bin/") + p + " is not built yet";
    static std::string probe = [] {
        Scenario s("probe");
        if (!s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"}))
            return "winsim new does not work: " + s.error;
        return std::string();
    }();
    return probe;
}

std::string spoolerMissing(const Scenario& s) {
    nlohmann::json j = s.machineJson();
    if (j["os"]["platform"] != "nt") return {};
    auto services = j.find("services");
    if (services != j.end() && services->contains("list"))
        for (const auto& svc : (*services)["list"])
            if (svc.value("name", "") == "Spooler" && svc.value("state", "") == "running") return {};
    return "winsim new declares no running Spooler service, so the spooler calls of start-up fail";
}

std::vector<int> RunResult::pages() const {
    std::vector<int> r;
    for (const auto& l : log) {
        auto w = words(l);
        if (w.size() >= 2 && w[0] == "page") r.push_back(std::atoi(w[1].c_str()));
    }
    return r;
}

std::vector<std::string> RunResult::page(std::size_t n) const {
    std::size_t seen = 0;
    for (const auto& l : log) {
        auto w = words(l);
        if (w.size() >= 2 && w[0] == "page" && seen++ == n) return w;
    }
    return {};
}

bool RunResult::hasLine(const std::string& line) const {
    for (const auto& l : log)
        if (l == line) return true;
    return false;
}

bool RunResult::hasLineStarting(const std::string& prefix) const { return indexOf(prefix) >= 0; }

bool RunResult::hasLineContaining(const std::string& text) const {
    for (const auto& l : log)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

int RunResult::indexOf(const std::string& prefix) const {
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0) return (int)i;
    return -1;
}

std::string RunResult::describe() const {
    std::string s = "exit code " + std::to_string(exitCode) + "\n--- log\n";
    for (const auto& l : log) s += l + "\n";
    s += "--- stdout\n" + out.substr(0, 4000) + "\n--- stderr\n" + err.substr(0, 4000) + "\n";
    return s;
}

Scenario::Scenario(const std::string& name) {
    root_ = fs::temp_directory_path() / ("scenario-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::copy(sourceRoot() / "dist", distDir(), fs::copy_options::recursive);
    fs::remove_all(distDir() / "answers");
    fs::remove_all(distDir() / "tools");
}

Scenario::~Scenario() {
    std::error_code ec;
    if (!std::getenv("SCENARIO_KEEP")) fs::remove_all(root_, ec);
}

bool Scenario::newMachine(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"new", machineDir().string()};
    all.insert(all.end(), args.begin(), args.end());
    std::string out, err;
    int rc = runProgram(binDir() / "winsim", all, root_, out, err);
    if (rc != 0) {
        error = "winsim new exited with " + std::to_string(rc) + ": " + err;
        return false;
    }
    return true;
}

nlohmann::json Scenario::machineJson() const { return nlohmann::json::parse(readText(machineDir() / "machine.json")); }

void Scenario::editMachine(const std::function<void(nlohmann::json&)>& edit) {
    nlohmann::json j = machineJson();
    edit(j);
    std::ofstream(machineDir() / "machine.json", std::ios::binary | std::ios::trunc) << j.dump(2) << "\n";
}

void Scenario::setFree(char letter, std::uint64_t bytes) {
    std::string l(1, letter);
    editMachine([&](nlohmann::json& j) {
        auto& d = j["drives"][l];
        if (!d.is_object()) {
            d = {{"total", bytes}, {"free", bytes}, {"type", "fixed"}, {"fat", false}};
            fs::create_directories(machineDir() / "drives" / l);
        }
        d["free"] = bytes;
        if (d["total"].get<std::uint64_t>() < bytes) d["total"] = bytes;
    });
}

RunResult Scenario::run(const std::string& answers, const std::vector<std::string>& extra) {
    fs::path answersFile = root_ / "run.ans";
    fs::path logFile = root_ / "run.log";
    std::ofstream(answersFile, std::ios::binary | std::ios::trunc) << answers;
    fs::remove(logFile);
    std::vector<std::string> args = {"--machine", machineDir().string(), "--answers", answersFile.string(),
                                     "--log", logFile.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r;
    r.exitCode = runProgram(binDir() / "setup", args, distDir(), r.out, r.err);
    r.log = splitLines(readText(logFile));
    return r;
}

RunResult Scenario::runInteractive(const std::string& input, const std::vector<std::string>& extra) {
    fs::path logFile = root_ / "run.log";
    fs::remove(logFile);
    std::vector<std::string> args = {"--machine", machineDir().string(), "--log", logFile.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r;
    r.exitCode = runProgram(binDir() / "setup", args, distDir(), r.out, r.err, 60, &input);
    r.log = splitLines(readText(logFile));
    return r;
}

void Scenario::roundSectionSizes(std::uint64_t unit) {
    fs::path inf = distDir() / "setup.inf";
    auto lines = splitLines(readText(inf));
    // Last key line of each section, and the section's sum.
    std::map<std::string, std::pair<std::size_t, std::uint64_t>> last;
    std::string section;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& raw = lines[i];
        auto b = raw.find_first_not_of(" \t");
        if (b == std::string::npos || raw[b] == ';') continue;
        if (raw[b] == '[') {
            section = raw.substr(b + 1, raw.find(']') - b - 1);
            continue;
        }
        auto f = infFields(raw);
        if (f.size() < 15) continue;
        auto& [line, sum] = last[section];
        line = i;
        sum += (std::uint64_t)std::atol(f[14].c_str());
    }
    for (auto& [name, entry] : last) {
        auto [line, sum] = entry;
        std::uint64_t extra = (unit - sum % unit) % unit;
        if (extra == 0) continue;
        std::string& raw = lines[line];
        std::size_t comma = raw.rfind(',');
        auto f = infFields(raw);
        raw = raw.substr(0, comma + 1) + " " + std::to_string(std::atol(f[14].c_str()) + extra);
    }
    std::ofstream outFile(inf, std::ios::binary | std::ios::trunc);
    for (const auto& l : lines) outFile << l << "\r\n";
}

Figures Scenario::figures(Platform p) const { return figuresFor(readInfSizes(distDir() / "setup.inf"), p); }

fs::path Scenario::hostPath(const std::string& windowsPath) const {
    // drives/<LETTER>/ then the components, matched case-insensitively.
    fs::path p = machineDir() / "drives" / std::string(1, (char)std::toupper((unsigned char)windowsPath[0]));
    std::string rest = windowsPath.size() > 3 ? windowsPath.substr(3) : std::string();
    std::stringstream in(rest);
    std::string part;
    while (std::getline(in, part, '\\')) {
        if (part.empty()) continue;
        fs::path next = p / part;
        if (!fs::exists(next) && fs::is_directory(p))
            for (const auto& e : fs::directory_iterator(p))
                if (lowerCopy(e.path().filename().string()) == lowerCopy(part)) next = e.path();
        p = next;
    }
    return p;
}

int runProgram(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd,
               std::string& out, std::string& err, int timeoutSec, const std::string* input) {
    std::string inName = "/dev/null";
    if (input) {
        char name[] = "/tmp/scenario-in-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) return -1;
        if (::write(fd, input->data(), input->size()) != (ssize_t)input->size()) {
            ::close(fd);
            return -1;
        }
        ::close(fd);
        inName = name;
    }
    char outName[] = "/tmp/scenario-out-XXXXXX";
    char errName[] = "/tmp/scenario-err-XXXXXX";
    int outFd = ::mkstemp(outName);
    int errFd = ::mkstemp(errName);
    if (outFd < 0 || errFd < 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        int in = ::open(inName.c_str(), O_RDONLY);
        ::dup2(in, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<std::string> store = {program.string()};
        store.insert(store.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& s : store) argv.push_back(s.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    int code = -1;
    if (pid > 0) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
        for (;;) {
            pid_t w = ::waitpid(pid, &status, WNOHANG);
            if (w == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (w < 0 && errno != EINTR) break;
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ::close(outFd);
    ::close(errFd);
    out = readText(outName);
    err = readText(errName);
    ::unlink(outName);
    ::unlink(errName);
    if (input) ::unlink(inName.c_str());
    return code;
}

std::uint64_t InfSizes::operator[](const std::string& section) const {
    for (const auto& [name, bytes] : sectionBytes)
        if (lowerCopy(name) == lowerCopy(section)) return bytes;
    return 0;
}

InfSizes readInfSizes(const fs::path& inf) {
    InfSizes r;
    std::string section;
    for (const auto& raw : splitLines(readText(inf))) {
        auto b = raw.find_first_not_of(" \t");
        if (b == std::string::npos || raw[b] == ';') continue;
        if (raw[b] == '[') {
            section = raw.substr(b + 1, raw.find(']') - b - 1);
            r.sectionBytes[section];
            continue;
        }
        auto f = infFields(raw);
        if (f.size() >= 15) r.sectionBytes[section] += (std::uint64_t)std::atol(f[14].c_str());
    }
    return r;
}

Figures figuresFor(const InfSizes& s, Platform p) {
    Figures f;
    f.systemDrive = s["PPD Files"];
    const char* wizard = "I386 Wizard";
    if (p == Platform::Win95) {
        f.systemDrive += s["W95 Help File"] + s["W95 Monitor"];
    } else {
        f.systemDrive += s["NT Help File"];
        f.systemDrive += s[p == Platform::Alpha ? "Alpha Monitor" : p == Platform::Mips ? "Mips Monitor" : "I386 Monitor"];
        if (p == Platform::Alpha) wizard = "Alpha Wizard";
        if (p == Platform::Mips) wizard = "Mips Wizard";
    }
    f.utility = s["Write Files"] + s[wizard] + s["Orvel"] + s["Remote Console"] + s["Wizard"] + s["VB Common"];
    f.loadFiles = s["Load PS Files"] + s["Load Cat Files"] + s["Load Sys Files"];
    return f;
}

}  // namespace scenario
