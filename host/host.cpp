// The host: loads the machine image, maps the directory it was started in
// into the machine as the next free drive from D: (a read-only "cdrom"
// drive, never saved into the image), makes that drive the machine's
// current directory, connects the machine's message boxes and events to
// the setup kit's front-end and log, runs WinMain and saves the image,
// also when the program ends through ExitProcess or exit(). With --report
// it writes what the run changed on the machine; with --dry-run it shows
// that instead of saving.
#include "host/host.h"

#include "winsim/core/machine.h"
#include "winsim/image/diff.h"
#include "winsim/image/image.h"
#include "winsim/ui/state.h"

#include <setupkit.h>
#include <windows.h>

#include <sys/statvfs.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

// The program's own declaration of WinMain, so that the host calls it with
// whatever linkage the program gives it.
#include "setup/setup.h"

namespace host {

namespace {

namespace fs = std::filesystem;

struct Session {
    fs::path imageDir;
    winsim::ImageLock lock;
    char distLetter = 0;
    std::string savedCurrentDir;
    bool active = false;
    bool finished = false;
    int saveFailed = 0;
    UINT exitCode = 0;  // what the process ends with
    bool dryRun = false;
    std::string reportPath;  // --report FILE ("" = none)
    FILE* report = nullptr;  // opened before the run, so a bad name stops it at once
    winsim::MachineSnapshot before;  // the machine as loaded, for the changes
};
Session session;

const char kUsage[] =
    "usage: setup --machine DIR [front-end options] [program options]\n"
    "Runs the setup program on the simulated machine stored in DIR, started in the\n"
    "current directory (the distribution), which the machine sees as a drive from D:.\n"
    "The image is saved when the program ends.\n"
    "Host options:\n"
    "  --report FILE   after the run, write every change it made to the machine, one line\n"
    "                  each (the lines of 'winsim diff'); JSON when FILE ends in .json\n"
    "  --dry-run       run on a scratch copy: show the changes the run would make and\n"
    "                  leave the image as it is\n"
    "Exit codes: 0 or 1 the setup program's result; 2 a bad command line, or the answers,\n"
    "log, record or report file cannot be used, or the answers do not fit the run; 3 the\n"
    "image is damaged or cannot be loaded; 4 the image cannot be written (refused before\n"
    "the first page, or the save failed; the image is left as it was); 5 another writer\n"
    "holds the image; 130 stopped at once by a second Ctrl-C (the image is left as it\n"
    "was); with --deploy-exit-codes: 0, 3010, 1641, 1602, 1603 (see below).\n"
    "Front-end options:\n";

void onEvent(std::string_view kind, std::string_view text) {
    std::string k(kind), t(text);
    KitLogEvent(k.c_str(), t.c_str());
}

int onMessageBox(const char* text, const char* caption, UINT type) { return KitMessageBox(text, caption, type); }

// The changes the run made, from the machine as loaded to `m` now, to
// the report file and, for a dry run, to the console.
void reportChanges(const winsim::Machine* m) {
    if (!session.report && !session.dryRun) return;
    std::vector<winsim::Change> changes;
    if (m) changes = winsim::diffMachines(session.before, winsim::snapshotMachine(*m));
    if (session.report) {
        bool json = session.reportPath.size() >= 5 &&
                    session.reportPath.compare(session.reportPath.size() - 5, 5, ".json") == 0;
        std::ostringstream text;
        winsim::writeChanges(changes, text, json);
        std::string t = text.str();
        bool ok = std::fwrite(t.data(), 1, t.size(), session.report) == t.size();
        ok = std::fclose(session.report) == 0 && ok;
        session.report = nullptr;
        if (!ok) std::fprintf(stderr, "setup: the report %s could not be written\n", session.reportPath.c_str());
    }
    if (session.dryRun) {
        std::printf("\nDry run: the image was left as it was. The run would make %zu change%s:\n", changes.size(),
                    changes.size() == 1 ? "" : "s");
        std::ostringstream text;
        winsim::writeChanges(changes, text, false);
        std::fputs(text.str().c_str(), stdout);
    }
}

// Ends the session once: the image (unless this is a dry run), the report,
// then the result and exit lines of the log with the code the process ends
// with (4 when the image could not be saved). The distribution drive and
// the current directory are put back first, so the image never keeps the
// host's directory. The lock is held until the process ends.
void finish(UINT code) {
    if (!session.active || session.finished) return;
    session.finished = true;
    winsim::Machine& m = winsim::machine();
    if (session.distLetter) m.drives.erase(session.distLetter);
    m.currentDir = session.savedCurrentDir;
    reportChanges(&m);
    if (session.dryRun) {
        winsim::discardWorkingCopy(m);
    } else {
        try {
            winsim::saveImage(m, session.imageDir);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "setup: the machine image %s could not be saved: %s\n",
                         session.imageDir.string().c_str(), e.what());
            session.saveFailed = 1;
            winsim::discardWorkingCopy(m);
        }
    }
    if (session.saveFailed) {
        // Nothing of the run reached the image.
        KitSetResult("failed", "no");
        code = kExitNotWritable;
    }
    KitLogExit(code);
    session.exitCode = KitExitCode(code);
    std::fflush(nullptr);
}

// ExitProcess ends the process with the program's code; a failed save or
// the deployment codes change it.
void onExitProcess(UINT code) {
    finish(code);
    if (session.exitCode != code) {
        std::fflush(nullptr);
        std::_Exit((int)session.exitCode);
    }
}

// exit() does not tell its code; the program only calls it to end with 0.
void onExit() {
    finish(0);
    if (session.exitCode != 0) std::_Exit((int)session.exitCode);
}

// A second Ctrl-C: the run ends at once and nothing it did is kept.
void WINAPI onAbandon() {
    if (!session.active || session.finished) return;
    session.finished = true;
    winsim::Machine& m = winsim::machine();
    reportChanges(nullptr);
    winsim::discardWorkingCopy(m);
    session.exitCode = KitExitCode(130);
}

std::string quoteArg(const std::string& a) {
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
    std::string s = "\"";
    for (char c : a) {
        if (c == '"') s += '\\';
        s += c;
    }
    return s + "\"";
}

}  // namespace

std::string programCommandLine(const std::vector<std::string>& args) {
    std::string cmd;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--machine") {
            ++i;
            continue;
        }
        if (args[i].rfind("--machine=", 0) == 0) continue;
        // The host's own options are not the program's.
        if (args[i] == "--report") {
            ++i;
            continue;
        }
        if (args[i] == "--dry-run") continue;
        if (!cmd.empty()) cmd += ' ';
        cmd += quoteArg(args[i]);
    }
    return cmd;
}

int run(const std::vector<std::string>& args) {
    std::string machineDir, reportPath;
    bool help = false, dryRun = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--machine") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "setup: --machine needs a directory\n");
                return kExitUsage;
            }
            machineDir = args[++i];
        } else if (args[i].rfind("--machine=", 0) == 0) {
            machineDir = args[i].substr(10);
        } else if (args[i] == "--report") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                std::fprintf(stderr, "setup: --report needs a file name\n");
                return kExitUsage;
            }
            reportPath = args[++i];
        } else if (args[i] == "--dry-run") {
            dryRun = true;
        } else if (args[i] == "--help" || args[i] == "-h") {
            help = true;
        }
    }
    if (help && machineDir.empty()) {
        std::printf("%s%s", kUsage, KitUsage());
        return 0;
    }
    if (machineDir.empty()) {
        std::fprintf(stderr, "setup: no machine given (setup --machine DIR ...; see setup --help)\n");
        return kExitUsage;
    }
    FILE* report = nullptr;
    if (!reportPath.empty() && !(report = std::fopen(reportPath.c_str(), "w"))) {
        std::fprintf(stderr, "setup: cannot write the report file %s\n", reportPath.c_str());
        return kExitUsage;
    }
    auto dropReport = [&] {
        if (report) std::fclose(report);
    };
    // One writer at a time, from before the load to after the save; and an
    // image that could not be saved is refused before the first page (a dry
    // run saves nothing, but its working copy lies beside the image too).
    winsim::ImageLock lock;
    std::unique_ptr<winsim::Machine> loaded;
    try {
        lock = winsim::ImageLock(machineDir);
        loaded = winsim::loadImage(machineDir);
        if (!dryRun) winsim::checkImageWritable(machineDir);
    } catch (const winsim::ImageBusy& e) {
        std::fprintf(stderr, "setup: %s\n", e.what());
        dropReport();
        return kExitBusy;
    } catch (const winsim::ImageNotWritable& e) {
        std::fprintf(stderr, "setup: %s\n", e.what());
        if (loaded) winsim::discardWorkingCopy(*loaded);
        dropReport();
        return kExitNotWritable;
    } catch (const winsim::ImageError& e) {
        std::fprintf(stderr, "setup: damaged machine image: %s\n", e.what());
        dropReport();
        return kExitImage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "setup: cannot load the machine image %s: %s\n", machineDir.c_str(), e.what());
        if (loaded) winsim::discardWorkingCopy(*loaded);
        dropReport();
        return kExitImage;
    }
    winsim::Machine& m = winsim::install(std::move(loaded));

    // The distribution: the host's current directory as the first free
    // drive letter from D:.
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    if (ec) {
        std::fprintf(stderr, "setup: cannot read the current directory: %s\n", ec.message().c_str());
        winsim::discardWorkingCopy(m);
        dropReport();
        return kExitImage;
    }
    char letter = 0;
    for (char c = 'D'; c <= 'Z' && !letter; ++c)
        if (!m.drives.count(c)) letter = c;
    if (!letter) {
        std::fprintf(stderr, "setup: the machine has no free drive letter for the distribution\n");
        winsim::discardWorkingCopy(m);
        dropReport();
        return kExitImage;
    }
    // The machine as loaded, before the distribution is mapped in, for the
    // changes the run makes.
    winsim::MachineSnapshot before;
    if (report || dryRun) before = winsim::snapshotMachine(m);

    winsim::Drive dist;
    dist.letter = letter;
    dist.host = cwd;
    dist.type = "cdrom";
    struct statvfs st {};
    if (statvfs(cwd.c_str(), &st) == 0) dist.total = (std::uint64_t)st.f_blocks * st.f_frsize;
    dist.free = 0;
    m.drives[letter] = dist;

    session = Session{};
    session.imageDir = machineDir;
    session.lock = std::move(lock);
    session.distLetter = letter;
    session.savedCurrentDir = m.currentDir;
    session.dryRun = dryRun;
    session.reportPath = reportPath;
    session.report = report;
    session.before = std::move(before);
    session.active = true;
    m.currentDir = std::string(1, letter) + ":\\";

    winsim::setEventListener(onEvent);
    winsim::setMessageBoxHandler(onMessageBox);
    KitRouteMessageBoxes(TRUE);
    KitSetAbandonHandler(onAbandon);
    if (dryRun) KitSetClosingNote("dry run: nothing was saved");
    static bool hooked = false;
    if (!hooked) {
        winsim::addExitHandler(onExitProcess);
        std::atexit(onExit);
        hooked = true;
    }

    std::string cmd = programCommandLine(args);
    std::vector<char> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back(0);
    int rc = WinMain((HINSTANCE)(std::uintptr_t)0x400000, nullptr, cmdBuf.data(), SW_SHOWNORMAL);
    finish((UINT)rc);
    winsim::setEventListener(nullptr);
    winsim::setMessageBoxHandler(nullptr);
    KitRouteMessageBoxes(FALSE);
    KitSetAbandonHandler(nullptr);
    KitSetClosingNote(nullptr);
    session.active = false;
    session.lock.release();
    return (int)session.exitCode;
}

}  // namespace host
