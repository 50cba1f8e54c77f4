// winsim: prepares and inspects simulated machine images.
#include "winsim/dde/state.h"
#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/image/diff.h"
#include "winsim/image/image.h"
#include "winsim/image/newmachine.h"
#include "winsim/image/regfile.h"
#include "winsim/processes/state.h"
#include "winsim/registry/state.h"
#include "winsim/security/state.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"
#include "winsim/system/state.h"
#include "winsim/ui/state.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* kUsage =
    "usage: winsim COMMAND ...\n"
    "  new DIR --os nt351|nt350|nt31|win95|nt40 --arch x86|alpha|mips [--user admin|user]\n"
    "          [--version MAJOR.MINOR] [--build N] [--disk-free LETTER=BYTES ...]\n"
    "          [--windows-dist LETTER|none] [--ps-modules driverdir|versiondir[=NAME]|none] [--extract-ms N]\n"
    "                         create a machine with Windows installed\n"
    "  show DIR               a readable summary of the machine\n"
    "  reg export DIR [KEY]   the registry (or one key's tree) as REGEDIT4 text\n"
    "  reg import DIR FILE    merge a REGEDIT4 file into the machine's registry\n"
    "  reboot DIR             carry out what was scheduled for the next start\n"
    "  diff DIR1 DIR2         differences in registry, files and machine state\n"
    "Each command takes --help.\n"
    "Exit codes: 0 done, 1 error (a damaged image, a bad file), 2 bad command line,\n"
    "4 the image cannot be written, 5 another writer holds the image; diff: 0 same,\n"
    "1 different, 2 error. new, reg import and reboot lock the image while they work;\n"
    "show, reg export and diff only read it.\n";

constexpr int kExitNotWritable = 4;
constexpr int kExitBusy = 5;

int usage(const char* text, int code) {
    (code == 0 ? std::cout : std::cerr) << text;
    return code;
}

bool wantsHelp(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) return true;
    return false;
}

// Loads `dir` as the process-wide machine.
winsim::Machine& open(const fs::path& dir) {
    auto m = winsim::loadImage(dir);
    return winsim::install(std::move(m));
}

// Loads `dir` for a command that changes it: the lock first (held until the
// command ends), then the image, then the check that it can be saved.
winsim::Machine& openForWriting(const fs::path& dir, winsim::ImageLock& lock) {
    lock = winsim::ImageLock(dir);
    auto& m = open(dir);
    try {
        winsim::checkImageWritable(dir);
    } catch (...) {
        winsim::discardWorkingCopy(m);
        throw;
    }
    return m;
}

// Saves the image a writing command changed; a failed save leaves the image
// as it was and is the image's not being writable.
void saveWritten(winsim::Machine& m, const fs::path& dir) {
    try {
        winsim::saveImage(m, dir);
    } catch (const std::exception& e) {
        winsim::discardWorkingCopy(m);
        throw winsim::ImageNotWritable("the machine image " + dir.string() + " could not be saved: " + e.what());
    }
}

// A reader's output that could not be written (a closed pipe, a full disk)
// is the command's failure.
int outputStatus(const char* cmd, int code, int failedCode = 1) {
    std::cout.flush();
    if (std::cout) return code;
    std::fprintf(stderr, "winsim %s: the output could not be written\n", cmd);
    return failedCode;
}

void dropWorkingCopy() { winsim::discardWorkingCopy(winsim::machine()); }

int cmdNew(int argc, char** argv) {
    const char* help =
        "usage: winsim new DIR --os nt351|nt350|nt31|win95|nt40 --arch x86|alpha|mips [--user admin|user]\n"
        "                  [--version MAJOR.MINOR] [--build N] [--disk-free LETTER=BYTES ...]\n"
        "                  [--windows-dist LETTER|none] [--ps-modules driverdir|versiondir[=NAME]|none]\n"
        "                  [--extract-ms N]\n"
        "Creates DIR holding a machine with Windows installed in its classic places.\n"
        "--version and --build pose any version word; --disk-free sets a drive's free space.\n"
        "--windows-dist: the CD-ROM drive holding the Windows distribution (default E; none for no\n"
        "  drive). NT: folders I386, ALPHA and MIPS, each with pscript.dll, pscrptui.dll and\n"
        "  pscript.hlp; WinntPath names the machine's own folder. Windows 95: WIN95 with extract.exe\n"
        "  and the cabinet win95_02.cab (built with gcab); SourcePath names it.\n"
        "--ps-modules: where the PostScript driver modules already stand: in the printer-driver\n"
        "  directory (driverdir; on Windows 95 pscript.drv in the system directory), only in its\n"
        "  version folder (versiondir: 1 on NT 3.5x, 0 on NT 3.1x, or versiondir=NAME), or nowhere\n"
        "  (none, the default).\n"
        "--extract-ms: how long the cabinet tool runs before its files appear (default 2000).\n";
    if (wantsHelp(argc, argv)) return usage(help, 0);
    if (argc < 1) return usage(help, 2);
    fs::path dir = argv[0];
    winsim::NewMachineOptions opt;
    bool haveOs = false, haveArch = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--os") {
            opt.os = value();
            haveOs = true;
        } else if (a == "--arch") {
            opt.arch = value();
            haveArch = true;
        } else if (a == "--user") {
            std::string u = value();
            if (u != "admin" && u != "user") throw std::invalid_argument("--user must be admin or user");
            opt.admin = u == "admin";
        } else if (a == "--version") {
            std::string v = value();
            int major = 0, minor = 0;
            char extra;
            if (std::sscanf(v.c_str(), "%d.%d%c", &major, &minor, &extra) != 2 || major < 0 || major > 255 ||
                minor < 0 || minor > 255)
                throw std::invalid_argument("--version wants MAJOR.MINOR, e.g. 3.51");
            opt.major = major;
            opt.minor = minor;
        } else if (a == "--build") {
            std::string v = value();
            char* end = nullptr;
            long b = std::strtol(v.c_str(), &end, 10);
            if (*end || b < 0 || b > 0x7fff) throw std::invalid_argument("--build wants a number 0..32767");
            opt.build = (int)b;
        } else if (a == "--windows-dist") {
            std::string v = value();
            if (v == "none")
                opt.windowsDist = 0;
            else if (v.size() == 1 || (v.size() == 2 && v[1] == ':'))
                opt.windowsDist = (char)std::toupper((unsigned char)v[0]);
            else
                throw std::invalid_argument("--windows-dist wants a drive letter or none");
        } else if (a == "--ps-modules") {
            opt.psModules = value();
        } else if (a == "--extract-ms") {
            std::string v = value();
            char* end = nullptr;
            unsigned long long ms = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end || ms == 0) throw std::invalid_argument("--extract-ms wants a number of ms");
            opt.extractMs = ms;
        } else if (a == "--disk-free") {
            std::string v = value();
            char* end = nullptr;
            if (v.size() < 3 || v[1] != '=' || !std::isalpha((unsigned char)v[0]))
                throw std::invalid_argument("--disk-free wants LETTER=BYTES");
            unsigned long long bytes = std::strtoull(v.c_str() + 2, &end, 10);
            if (*end) throw std::invalid_argument("--disk-free wants LETTER=BYTES");
            opt.diskFree[(char)std::toupper((unsigned char)v[0])] = bytes;
        } else {
            throw std::invalid_argument("unknown option " + a);
        }
    }
    if (!haveOs || !haveArch) return usage(help, 2);
    fs::create_directories(fs::absolute(dir).parent_path());
    winsim::ImageLock lock(dir);
    if (fs::exists(dir) && !fs::is_empty(dir)) {
        std::cerr << "winsim new: " << dir.string() << " already exists and is not empty\n";
        return 1;
    }
    fs::path scratch = fs::absolute(dir).parent_path() / (".winsim-new-" + std::to_string(::getpid()));
    fs::remove_all(scratch);
    try {
        auto m = winsim::newMachine(opt, scratch);
        auto& live = winsim::install(std::move(m));
        winsim::startMachine(live);
        if (fs::exists(dir)) fs::remove(dir);
        winsim::saveImage(live, dir);
    } catch (...) {
        fs::remove_all(scratch);
        throw;
    }
    fs::remove_all(scratch);
    return 0;
}

void showCore(std::ostream& out, const winsim::Machine& m) {
    out << "Windows " << (m.os.isNT() ? "NT " : "") << m.os.major << "." << (m.os.minor < 10 ? "0" : "")
        << m.os.minor << " build " << m.os.build << " (" << m.os.arch << "), version word 0x" << std::hex
        << m.os.versionWord() << std::dec << "\n";
    out << "computer " << m.computerName << ", Windows directory " << m.windowsDir << ", system directory "
        << m.systemDir << ", current directory " << m.currentDir << "\n";
    out << "drives:\n";
    for (auto& [l, d] : m.drives)
        out << "  " << l << ": " << d.type << ", " << d.free << " of " << d.total << " bytes free"
            << (d.fat ? ", FAT" : "") << "\n";
    out << "clock: " << m.tickMs << " ms since start\n";
    if (!m.faults.empty()) {
        out << "faults:\n";
        for (auto& f : m.faults)
            out << "  " << f.call << (f.target.empty() ? "" : " on " + f.target) << ": call " << f.nth << " fails"
                << (f.times == 0 ? " and every later one" : f.times > 1 ? " and the next " + std::to_string(f.times - 1) : "")
                << " with error " << f.error << "\n";
    }
}

int cmdShow(int argc, char** argv) {
    const char* help = "usage: winsim show DIR\nA readable summary of the machine image in DIR.\n";
    if (wantsHelp(argc, argv)) return usage(help, 0);
    if (argc != 1) return usage(help, 2);
    auto& m = open(argv[0]);
    std::ostream& out = std::cout;
    showCore(out, m);
    winsim::showRegistry(out, m);
    winsim::showSystem(out, m);
    winsim::showFile(out, m);
    winsim::showSecurity(out, m);
    winsim::showService(out, m);
    winsim::showProcess(out, m);
    winsim::showSpooler(out, m);
    winsim::showDde(out, m);
    winsim::showUi(out, m);
    dropWorkingCopy();
    return outputStatus("show", 0);
}

int cmdReg(int argc, char** argv) {
    const char* help =
        "usage: winsim reg export DIR [KEY]\n"
        "       winsim reg import DIR FILE\n"
        "export prints the registry (or KEY's tree) as REGEDIT4 text; import merges FILE into it.\n";
    if (wantsHelp(argc, argv)) return usage(help, 0);
    if (argc < 2) return usage(help, 2);
    std::string verb = argv[0];
    if (verb == "export" && (argc == 2 || argc == 3)) {
        auto& m = open(argv[1]);
        std::cout << winsim::exportRegistry(m, argc == 3 ? argv[2] : "");
        dropWorkingCopy();
        return outputStatus("reg export", 0);
    }
    if (verb == "import" && argc == 3) {
        std::ifstream in(argv[2], std::ios::binary);
        if (!in) {
            std::cerr << "winsim reg import: cannot read " << argv[2] << "\n";
            return 1;
        }
        std::stringstream ss;
        ss << in.rdbuf();
        winsim::ImageLock lock;
        auto& m = openForWriting(argv[1], lock);
        try {
            winsim::importRegistry(m, ss.str(), argv[2]);
        } catch (...) {
            dropWorkingCopy();
            throw;
        }
        saveWritten(m, argv[1]);
        return 0;
    }
    return usage(help, 2);
}

int cmdReboot(int argc, char** argv) {
    const char* help =
        "usage: winsim reboot DIR\n"
        "Restarts the machine: carries out the renames and deletions scheduled for the next start\n"
        "(PendingFileRenameOperations on NT, wininit.ini on Windows 95), then clears them.\n";
    if (wantsHelp(argc, argv)) return usage(help, 0);
    if (argc != 1) return usage(help, 2);
    winsim::ImageLock lock;
    auto& m = openForWriting(argv[0], lock);
    std::vector<std::string> done;
    try {
        done = winsim::rebootMachine(m);
    } catch (...) {
        dropWorkingCopy();
        throw;
    }
    saveWritten(m, argv[0]);
    // Saved first: what was done is told after, and a reader that went
    // away does not change the outcome.
    for (const std::string& line : done) std::cout << line << "\n";
    std::cout.flush();
    return 0;
}

// --- diff -----------------------------------------------------------------

int cmdDiff(int argc, char** argv) {
    const char* help =
        "usage: winsim diff DIR1 DIR2\n"
        "Lists what differs between two machine images: machine state (services, processes, spooler,\n"
        "Program Manager, ...), registry keys and values, and files, one line per difference; entries of\n"
        "lists are matched by what names them (process id, service name, ...).\n"
        "Exit code 0 when they are the same, 1 when they differ, 2 on an error.\n";
    if (wantsHelp(argc, argv)) return usage(help, 0);
    if (argc != 2) return usage(help, 2);
    winsim::MachineSnapshot snapshots[2];
    for (int i = 0; i < 2; ++i) {
        snapshots[i] = winsim::snapshotMachine(open(argv[i]));
        dropWorkingCopy();
    }
    std::vector<winsim::Change> changes = winsim::diffMachines(snapshots[0], snapshots[1]);
    winsim::writeChanges(changes, std::cout, false);
    std::size_t differences = changes.size();
    return outputStatus("diff", differences ? 1 : 0, 2);
}

}  // namespace

int main(int argc, char** argv) {
    // Output into a pipe whose reader went away fails instead of killing
    // the command halfway through a save.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) return usage(kUsage, 2);
    std::string cmd = argv[1];
    // diff follows diff(1): 2 for every error.
    const int errorCode = cmd == "diff" ? 2 : 1;
    try {
        if (cmd == "--help" || cmd == "-h" || cmd == "help") return usage(kUsage, 0);
        if (cmd == "new") return cmdNew(argc - 2, argv + 2);
        if (cmd == "show") return cmdShow(argc - 2, argv + 2);
        if (cmd == "reg") return cmdReg(argc - 2, argv + 2);
        if (cmd == "reboot") return cmdReboot(argc - 2, argv + 2);
        if (cmd == "diff") return cmdDiff(argc - 2, argv + 2);
    } catch (const winsim::ImageBusy& e) {
        std::cerr << "winsim " << cmd << ": " << e.what() << "\n";
        return kExitBusy;
    } catch (const winsim::ImageNotWritable& e) {
        std::cerr << "winsim " << cmd << ": " << e.what() << "\n";
        return kExitNotWritable;
    } catch (const winsim::ImageError& e) {
        std::cerr << "winsim " << cmd << ": " << e.what() << "\n";
        return errorCode;
    } catch (const std::exception& e) {
        std::cerr << "winsim " << cmd << ": " << e.what() << "\n";
        return errorCode;
    }
    std::cerr << "winsim: unknown command '" << cmd << "'\n";
    return usage(kUsage, 2);
}
