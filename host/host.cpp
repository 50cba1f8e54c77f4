// The host: loads the machine image, maps the directory it was started in
// into the machine as the next free drive from D: (a read-only "cdrom"
// drive, never saved into the image), makes that drive the machine's
// current directory, connects the machine's message boxes and events to
// the setup kit's front-end and log, runs WinMain and saves the image,
// also when the program ends through ExitProcess or exit().
#include "host/host.h"

#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/ui/state.h"

#include <setupkit.h>
#include <windows.h>

#include <sys/statvfs.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

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
};
Session session;

const char kUsage[] =
    "usage: setup --machine DIR [front-end options] [program options]\n"
    "Runs the setup program on the simulated machine stored in DIR, started in the\n"
    "current directory (the distribution), which the machine sees as a drive from D:.\n"
    "The image is saved when the program ends.\n"
    "Front-end options:\n";

void onEvent(std::string_view kind, std::string_view text) {
    std::string k(kind), t(text);
    KitLogEvent(k.c_str(), t.c_str());
}

int onMessageBox(const char* text, const char* caption, UINT type) { return KitMessageBox(text, caption, type); }

// Ends the session once: the image, then the exit line of the log with the
// code the process ends with (4 when the image could not be saved). The
// distribution drive and the current directory are put back first, so the
// image never keeps the host's directory. The lock is held until the
// process ends.
void finish(UINT code) {
    if (!session.active || session.finished) return;
    session.finished = true;
    winsim::Machine& m = winsim::machine();
    if (session.distLetter) m.drives.erase(session.distLetter);
    m.currentDir = session.savedCurrentDir;
    try {
        winsim::saveImage(m, session.imageDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "setup: the machine image %s could not be saved: %s\n", session.imageDir.string().c_str(),
                     e.what());
        session.saveFailed = 1;
        winsim::discardWorkingCopy(m);
    }
    KitLogExit(session.saveFailed ? kExitNotWritable : code);
    std::fflush(nullptr);
}

// ExitProcess ends the process with the program's code; a failed save
// changes it.
void onExitProcess(UINT code) {
    finish(code);
    if (session.saveFailed) std::_Exit(kExitNotWritable);
}

// exit() does not tell its code; the program only calls it to end with 0.
void onExit() {
    finish(0);
    if (session.saveFailed) std::_Exit(kExitNotWritable);
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
        if (!cmd.empty()) cmd += ' ';
        cmd += quoteArg(args[i]);
    }
    return cmd;
}

int run(const std::vector<std::string>& args) {
    std::string machineDir;
    bool help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--machine") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "setup: --machine needs a directory\n");
                return kExitUsage;
            }
            machineDir = args[++i];
        } else if (args[i].rfind("--machine=", 0) == 0) {
            machineDir = args[i].substr(10);
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
    // One writer at a time, from before the load to after the save; and an
    // image that could not be saved is refused before the first page.
    winsim::ImageLock lock;
    std::unique_ptr<winsim::Machine> loaded;
    try {
        lock = winsim::ImageLock(machineDir);
        loaded = winsim::loadImage(machineDir);
        winsim::checkImageWritable(machineDir);
    } catch (const winsim::ImageBusy& e) {
        std::fprintf(stderr, "setup: %s\n", e.what());
        return kExitBusy;
    } catch (const winsim::ImageNotWritable& e) {
        std::fprintf(stderr, "setup: %s\n", e.what());
        if (loaded) winsim::discardWorkingCopy(*loaded);
        return kExitNotWritable;
    } catch (const winsim::ImageError& e) {
        std::fprintf(stderr, "setup: damaged machine image: %s\n", e.what());
        return kExitImage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "setup: cannot load the machine image %s: %s\n", machineDir.c_str(), e.what());
        if (loaded) winsim::discardWorkingCopy(*loaded);
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
        return kExitImage;
    }
    char letter = 0;
    for (char c = 'D'; c <= 'Z' && !letter; ++c)
        if (!m.drives.count(c)) letter = c;
    if (!letter) {
        std::fprintf(stderr, "setup: the machine has no free drive letter for the distribution\n");
        winsim::discardWorkingCopy(m);
        return kExitImage;
    }
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
    session.active = true;
    m.currentDir = std::string(1, letter) + ":\\";

    winsim::setEventListener(onEvent);
    winsim::setMessageBoxHandler(onMessageBox);
    KitRouteMessageBoxes(TRUE);
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
    session.active = false;
    session.lock.release();
    return session.saveFailed ? kExitNotWritable : rc;
}

}  // namespace host
