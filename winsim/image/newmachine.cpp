#include "winsim/image/newmachine.h"

#include "winsim/dde/state.h"
#include "winsim/files/state.h"
#include "winsim/image/regfile.h"
#include "winsim/processes/state.h"
#include "winsim/services/state.h"
#include "winsim/security/state.h"
#include "winsim/services/query.h"
#include "winsim/spooler/state.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace winsim {

namespace {

struct OsPreset {
    const char* name;
    Platform platform;
    int major, minor, build;
};

const OsPreset kPresets[] = {
    {"nt351", Platform::NT, 3, 51, 1057},
    {"nt350", Platform::NT, 3, 50, 807},
    {"nt31", Platform::NT, 3, 10, 528},
    {"win95", Platform::Win95, 4, 0, 950},
    {"nt40", Platform::NT, 4, 0, 1381},
};

const OsPreset* findPreset(const std::string& os) {
    for (const auto& p : kPresets)
        if (os == p.name) return &p;
    return nullptr;
}

// Host path of a Windows path on one of the machine's drives.
fs::path hostPath(const Machine& m, const std::string& winPath) {
    fs::path p = m.drives.at((char)std::toupper((unsigned char)winPath[0])).host;
    std::size_t start = 3;
    while (start < winPath.size()) {
        std::size_t bs = winPath.find('\\', start);
        if (bs == std::string::npos) bs = winPath.size();
        if (bs > start) p /= winPath.substr(start, bs - start);
        start = bs + 1;
    }
    return p;
}

void putDir(const Machine& m, const std::string& winPath) { fs::create_directories(hostPath(m, winPath)); }

// Writes a small file of our own, creating its directories.
void putFile(const Machine& m, const std::string& winPath, const std::string& content) {
    fs::path p = hostPath(m, winPath);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string escapeReg(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == '\\' || c == '"') r += '\\';
        r += c;
    }
    return r;
}

// hex(7) text of a REG_MULTI_SZ value.
std::string multiSz(const std::vector<std::string>& items) {
    std::string bytes;
    for (auto& i : items) {
        bytes += i;
        bytes += '\0';
    }
    bytes += '\0';
    std::string r = "hex(7):";
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", (unsigned char)bytes[i]);
        if (i) r += ",";
        r += buf;
    }
    return r;
}

std::string driverEnvironment(const Machine& m) {
    if (m.os.platform == Platform::Win95) return "Windows 4.0";
    if (m.os.arch == "alpha") return "Windows NT Alpha_AXP";
    if (m.os.arch == "mips") return "Windows NT R4000";
    return "Windows NT x86";
}

std::string driverSubdir(const Machine& m) {
    if (m.os.arch == "alpha") return "W32ALPHA";
    if (m.os.arch == "mips") return "W32MIPS";
    return "W32X86";
}

// The processor folders of an NT distribution, as NT CDs have them.
struct ProcessorDir {
    const char* arch;
    const char* dir;
};
const ProcessorDir kProcessorDirs[] = {{"x86", "I386"}, {"alpha", "ALPHA"}, {"mips", "MIPS"}};

// Where Windows was installed from: "X:\I386" (the machine's own processor
// folder) on NT, "X:\WIN95" on Windows 95.
std::string distributionDir(const Machine& m, char letter) {
    std::string root = std::string(1, letter) + ":\\";
    if (m.os.platform == Platform::Win95) return root + "WIN95";
    for (const auto& p : kProcessorDirs)
        if (m.os.arch == p.arch) return root + p.dir;
    return root + "I386";
}

// The version the image records for the PostScript modules of this Windows.
std::string moduleVersion(const Machine& m) {
    return std::to_string(m.os.major) + "." + std::to_string(m.os.minor) + "." + std::to_string(m.os.build) + ".1";
}

// A file with a version record.
void putVersioned(Machine& m, const std::string& winPath, const std::string& content) {
    putFile(m, winPath, content);
    m.files->meta[winPath].version = moduleVersion(m);
}

// The Windows 95 driver files of the cabinet win95_02.cab.
const std::pair<const char*, const char*> kCabinetFiles[] = {
    {"PSCRIPT.DRV", "PostScript printer driver\n"},  {"PSCRIPT.HLP", "PostScript driver help\n"},
    {"PSCRIPT.INI", "[PostScript]\nsoftfonts=0\n"},   {"ICONLIB.DLL", "printer icon library\n"},
    {"FONTS.MFM", "font metrics\n"},                   {"TESTPS.TXT", "PostScript test page\n"},
    {"APPLE380.SPD", "*PPD printer description\n"},    {"UNIDRV.DLL", "universal printer driver\n"},
    {"UNIDRV.HLP", "universal driver help\n"},
};

// Writes a real Microsoft cabinet (MSZIP) holding `files`, with the gcab
// tool. Throws std::runtime_error when gcab cannot be run.
void writeCabinet(const fs::path& cab, const fs::path& scratch,
                  const std::vector<std::pair<std::string, std::string>>& files) {
    fs::create_directories(scratch);
    std::vector<std::string> args = {"gcab", "-c", "-z", fs::absolute(cab).string()};
    for (const auto& [name, content] : files) {
        std::ofstream(scratch / name, std::ios::binary) << content;
        args.push_back(name);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("cannot start gcab to build " + cab.string());
    if (pid == 0) {
        if (::chdir(scratch.c_str()) == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, 1);
            ::execvp("gcab", argv.data());
        }
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("gcab could not build " + cab.string() +
                                 " (the Windows 95 distribution needs it: apt-get install gcab)");
}

// The Windows distribution on drive `letter`: an NT CD with a folder per
// processor, each holding the PostScript driver modules; or the Windows 95
// CD's WIN95 folder with the cabinet tool and the cabinet of the printer
// drivers.
void installDistribution(Machine& m, char letter, const fs::path& scratch) {
    std::string root = std::string(1, letter) + ":\\";
    if (m.os.isNT()) {
        for (const auto& p : kProcessorDirs) {
            std::string dir = root + p.dir;
            putVersioned(m, dir + "\\pscript.dll", std::string("PostScript driver module (") + p.arch + ")\n");
            putVersioned(m, dir + "\\pscrptui.dll", std::string("PostScript driver user interface (") + p.arch + ")\n");
            putVersioned(m, dir + "\\pscript.hlp", "PostScript driver help\n");
        }
        return;
    }
    std::string dir = distributionDir(m, letter);
    putFile(m, dir + "\\extract.exe", "cabinet tool\n");
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [name, content] : kCabinetFiles) files.emplace_back(name, content);
    writeCabinet(hostPath(m, dir + "\\win95_02.cab"), scratch, files);
}

// The PostScript modules already in the printer-driver directory (or only
// in a version subdirectory), as on a machine that has printed to
// PostScript printers.
void installPsModules(Machine& m, const std::string& where) {
    if (where == "none") return;
    if (!m.os.isNT()) {
        if (where != "driverdir") throw std::invalid_argument("--ps-modules: Windows 95 knows only driverdir or none");
        putVersioned(m, m.systemDir + "\\pscript.drv", "PostScript printer driver\n");
        return;
    }
    std::string dir = m.systemDir + "\\spool\\DRIVERS\\" + driverSubdir(m);
    if (where.rfind("versiondir", 0) == 0) {
        std::string sub = m.os.minor >= 50 ? "1" : "0";
        if (where.size() > 10) {
            if (where[10] != '=' || where.size() == 11 || where.find_first_of("\\/:", 11) != std::string::npos)
                throw std::invalid_argument("--ps-modules: versiondir=NAME wants a folder name");
            sub = where.substr(11);
        }
        dir += "\\" + sub;
    } else if (where != "driverdir") {
        throw std::invalid_argument("--ps-modules: driverdir, versiondir[=NAME] or none");
    }
    putVersioned(m, dir + "\\pscript.dll", "PostScript driver module\n");
    putVersioned(m, dir + "\\pscrptui.dll", "PostScript driver user interface\n");
    putVersioned(m, dir + "\\pscript.hlp", "PostScript driver help\n");
}

std::string registryText(const Machine& m, char distLetter) {
    const bool nt = m.os.isNT();
    const std::string print = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print";
    std::string t = "REGEDIT4\n\n";
    auto key = [&](const std::string& k) { t += "[" + k + "]\n"; };
    auto sz = [&](const std::string& n, const std::string& v) {
        t += (n.empty() ? std::string("@") : "\"" + escapeReg(n) + "\"") + "=\"" + escapeReg(v) + "\"\n";
    };
    auto end = [&] { t += "\n"; };

    key(print + "\\Monitors\\Local Port");
    sz("Driver", nt ? "localmon.dll" : "spoolss.dll");
    end();
    // The local ports every fresh system has: NT keeps them as values of
    // their own key, Windows 95 as the Local Port monitor's port keys.
    const std::pair<const char*, const char*> localPorts[] = {
        {"COM1:", "9600,n,8,1"}, {"COM2:", "9600,n,8,1"}, {"FILE:", ""}, {"LPT1:", ""}, {"LPT2:", ""}, {"LPT3:", ""}};
    key(print + "\\Monitors\\Local Port\\Ports");
    end();
    if (nt) {
        key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports");
        for (auto [port, settings] : localPorts) sz(port, settings);
        end();
    } else {
        for (auto [port, settings] : localPorts) {
            key(print + "\\Monitors\\Local Port\\Ports\\" + port);
            end();
        }
    }
    key(print + "\\Environments\\" + driverEnvironment(m) + "\\Drivers");
    end();
    key(print + "\\Environments\\" + driverEnvironment(m) + "\\Print Processors\\winprint");
    sz("Driver", "winprint.dll");
    end();
    key(print + "\\Printers");
    end();
    if (nt) {
        key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager");
        t += "\"BootExecute\"=" + multiSz({"autocheck autochk *"}) + "\n";
        end();
        key("HKEY_LOCAL_MACHINE\\SYSTEM\\Setup");
        sz("WinntPath", distributionDir(m, distLetter));
        end();
        key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
        sz("CurrentVersion", std::to_string(m.os.major) + "." + std::to_string(m.os.minor));
        sz("CurrentBuildNumber", std::to_string(m.os.build));
        sz("SystemRoot", m.windowsDir);
        end();
        key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib");
        t += "\"Last Counter\"=dword:00000326\n\"Last Help\"=dword:00000327\n";
        end();
        key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009");
        t += "\"Counters\"=" +
             multiSz({"1", "1847", "2", "System", "4", "Memory", "6", "% Processor Time", "230", "Process", "232",
                      "Thread", "238", "Processor", "680", "Thread Count", "682", "Priority Base", "684",
                      "Elapsed Time", "784", "ID Process", "786", "Creating Process ID"}) +
             "\n";
        t += "\"Help\"=" + multiSz({"3", "The System object type.", "231", "A process is a running program."}) + "\n";
        end();
        for (const char* svc : {"Spooler", "LanmanServer", "LanmanWorkstation", "EventLog"}) {
            key(std::string("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\") + svc);
            t += "\"Start\"=dword:00000002\n\"Type\"=dword:00000010\n";
            end();
        }
    } else {
        key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
        sz("VersionNumber", "4.00.950");
        sz("SystemRoot", m.windowsDir);
        end();
        key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup");
        sz("SourcePath", distributionDir(m, distLetter) + "\\");
        end();
    }
    // Keys every fresh system has, whether or not anything is registered.
    key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID");
    end();
    key("HKEY_USERS\\.Default");
    end();
    key("HKEY_CURRENT_USER\\Software\\Microsoft");
    end();
    key("HKEY_CURRENT_USER\\Control Panel\\Desktop");
    sz("Wallpaper", "(None)");
    end();
    return t;
}

void installFiles(Machine& m) {
    const bool nt = m.os.isNT();
    const std::string sys = m.systemDir;
    const std::string marker = "simulated module\n";
    for (const char* f : {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "winspool.drv", "version.dll",
                          "shell32.dll", "spoolss.dll"})
        putFile(m, sys + "\\" + f, marker);
    if (nt) {
        for (const char* f : {"localmon.dll", "winprint.dll", "spoolss.exe", "services.exe", "winlogon.exe"})
            putFile(m, sys + "\\" + f, marker);
        putDir(m, sys + "\\spool\\PRINTERS");
        putDir(m, sys + "\\spool\\DRIVERS\\" + driverSubdir(m));
        putFile(m, m.windowsDir + "\\progman.exe", marker);
        putFile(m, m.windowsDir + "\\winhelp.exe", marker);
        putFile(m, sys + "\\winhlp32.exe", marker);
        putFile(m, m.windowsDir + "\\write.exe", marker);
    } else {
        putFile(m, m.windowsDir + "\\progman.exe", marker);
        putFile(m, m.windowsDir + "\\winhelp.exe", marker);
        putFile(m, m.windowsDir + "\\winhlp32.exe", marker);
        putFile(m, m.windowsDir + "\\write.exe", marker);
        putFile(m, m.windowsDir + "\\COMMAND\\extract.exe", marker);
        putFile(m, m.windowsDir + "\\win.ini", "[windows]\nload=\nrun=\n");
        putFile(m, m.windowsDir + "\\system.ini", "[boot]\nshell=Explorer.exe\n");
    }
}

// The services, processes and Program Manager of a machine just started.
void installRunningSystem(Machine& m) {
    const bool nt = m.os.isNT();
    json processes = json::array();
    int id = 2;
    auto proc = [&](const char* name, int threads, int priority) {
        processes.push_back({{"id", (unsigned)id}, {"name", name}, {"threads", (unsigned)threads}, {"priority", (unsigned)priority}});
        id += 0x1c;
    };
    if (nt) {
        // The idle process (id 0) comes first, as NT lists it.
        processes.push_back({{"id", 0u}, {"name", "Idle"}, {"threads", 1u}, {"priority", 0u}});
        proc("System", 24, 8);
        proc("SMSS.EXE", 6, 11);
        proc("CSRSS.EXE", 14, 13);
        proc("WINLOGON.EXE", 3, 13);
        proc("SERVICES.EXE", 18, 9);
        proc("SPOOLSS.EXE", 6, 8);
        proc("PROGMAN.EXE", 1, 13);
        json services = json::array();
        auto svc = [&](const char* name, const char* display, const char* state, const char* start,
                       std::vector<std::string> deps, json stop, json startAnswer) {
            json j = {{"name", name},         {"display_name", display}, {"type", "own_process"},
                      {"state", state},       {"start_type", start},     {"dependencies", deps},
                      {"accepts", json::array({"stop"})}};
            if (!stop.is_null()) j["stop"] = stop;
            if (!startAnswer.is_null()) j["start"] = startAnswer;
            services.push_back(j);
        };
        svc("EventLog", "EventLog", "running", "auto", {}, nullptr, nullptr);
        svc("Spooler", "Spooler", "running", "auto", {}, json{{"steps", json::array({2000u})}}, json{{"steps", json::array({2000u})}});
        svc("LanmanWorkstation", "Workstation", "running", "auto", {}, nullptr, nullptr);
        svc("LanmanServer", "Server", "running", "auto", {}, nullptr, nullptr);
        loadService(json{{"list", services}}, m);
    } else {
        proc("KERNEL32.DLL", 4, 13);
        proc("MSGSRV32.EXE", 1, 8);
        proc("MPREXE.EXE", 2, 8);
        proc("SPOOL32.EXE", 2, 8);
        proc("PROGMAN.EXE", 1, 8);
    }
    loadProcess(json{{"list", processes}}, m);
    json main = {{"name", "Main"}, {"common", true}, {"show", 1},
                 {"items", json::array({json{{"name", "File Manager"}, {"command", "WINFILE.EXE"}},
                                        json{{"name", "Control Panel"}, {"command", "CONTROL.EXE"}}})}};
    json accessories = {{"name", "Accessories"}, {"common", true}, {"show", 2},
                        {"items", json::array({json{{"name", "Write"}, {"command", "WRITE.EXE"}}})}};
    json startup = {{"name", "Startup"}, {"common", false}, {"show", 2}, {"items", json::array()}};
    loadDde(json{{"progman", {{"running", true}, {"active_group", "Main"}, {"groups", {main, accessories, startup}}}}}, m);
}

}  // namespace

bool knownOs(const std::string& os) { return findPreset(os) != nullptr; }

std::unique_ptr<Machine> newMachine(const NewMachineOptions& opt, const fs::path& driveRoot) {
    const OsPreset* preset = findPreset(opt.os);
    if (!preset) throw std::invalid_argument("unknown --os '" + opt.os + "' (nt351, nt350, nt31, win95, nt40)");
    if (opt.arch != "x86" && opt.arch != "alpha" && opt.arch != "mips")
        throw std::invalid_argument("unknown --arch '" + opt.arch + "' (x86, alpha, mips)");
    OsInfo os;
    os.platform = preset->platform;
    os.major = opt.major.value_or(preset->major);
    os.minor = opt.minor.value_or(preset->minor);
    os.build = opt.build.value_or(preset->build);
    os.arch = opt.arch;
    auto m = makeBareMachine(os, driveRoot / "C");
    // NT spells the processor as x86, MIPS or ALPHA.
    m->environment["PROCESSOR_ARCHITECTURE"] = opt.arch == "x86" ? "x86" : upper(opt.arch);

    char dist = (char)std::toupper((unsigned char)opt.windowsDist);
    if (dist) {
        if (dist < 'D' || dist > 'Z') throw std::invalid_argument("--windows-dist wants a drive letter D..Z or none");
        Drive e;
        e.letter = dist;
        e.host = fs::absolute(driveRoot / std::string(1, dist));
        fs::create_directories(e.host);
        e.type = "cdrom";
        e.total = 650ull * 1024 * 1024;
        e.free = 0;
        m->drives[dist] = e;
    }
    for (auto& [letter, bytes] : opt.diskFree) {
        char l = (char)std::toupper((unsigned char)letter);
        auto it = m->drives.find(l);
        if (it == m->drives.end()) throw std::invalid_argument(std::string("--disk-free: no drive ") + l + ":");
        it->second.free = bytes;
        if (it->second.total < bytes) it->second.total = bytes;
    }

    installFiles(*m);
    if (dist) installDistribution(*m, dist, driveRoot / ".cabinet");
    installPsModules(*m, opt.psModules);
    importRegistry(*m, registryText(*m, dist ? dist : 'E'), "default registry");
    installRunningSystem(*m);
    if (opt.extractMs) m->processes->runTimes["extract.exe"] = opt.extractMs;
    setUserKind(*m, opt.admin);
    return m;
}

void startMachine(Machine& m) {
    if (!m.os.isNT() || isServiceRunning("Spooler")) spoolerLoadMonitors(m);
}

}  // namespace winsim
