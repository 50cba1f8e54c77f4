// The Windows 95 cabinet tool EXTRACT.EXE as a simulated program.
//
//   EXTRACT [/Y] [/A] [/D | /E] [/L dir] cabinet [filename ...]
//
// It unpacks the files of a Microsoft cabinet whose names match the file
// patterns ('*' and '?', letter case ignored; /E or no pattern with /E:
// every file) into the directory given after /L (else its working
// directory). /A follows the cabinet set into the next cabinets of the
// same directory; /Y overwrites existing files without asking. Without /Y
// an existing file is kept: the real tool would ask, and a hidden process
// cannot be answered. /D only lists, which writes nothing.
//
// The tool works in virtual time: it runs for the time the image declares
// for it ("processes": {"programs": {"extract.exe": {"run_ms": N}}}, 2000 ms
// when not declared) and writes its files when it ends, all at once. A
// file the cabinet lacks is simply not written. Exit code 0, or 1 for a
// bad command line, a cabinet that cannot be read or a missing target
// directory (then nothing is written).
//
// The cabinet is read with libmspack; files go through the file family, so
// drive free space and the machine's file records are kept.
#include "winsim/files/ops.h"
#include "winsim/files/paths.h"
#include "winsim/processes/paths.h"
#include "winsim/processes/programs.h"

#include <mspack.h>

#include <memory>

namespace fs = std::filesystem;

namespace winsim {

namespace {

struct ExtractJob {
    bool overwrite = false;  // /Y
    bool all = false;        // /A
    bool every = false;      // /E
    bool listOnly = false;   // /D
    std::string target;      // /L, or the working directory
    std::string workDir;     // where a relative cabinet name is looked for
    std::string cabinet;
    std::vector<std::string> patterns;
};

// Splits a command line into arguments (double quotes group blanks).
std::vector<std::string> splitArgs(std::string_view cmd) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < cmd.size()) {
        while (i < cmd.size() && (cmd[i] == ' ' || cmd[i] == '\t')) ++i;
        if (i >= cmd.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < cmd.size() && (quoted || (cmd[i] != ' ' && cmd[i] != '\t'))) {
            if (cmd[i] == '"')
                quoted = !quoted;
            else
                arg += cmd[i];
            ++i;
        }
        out.push_back(arg);
    }
    return out;
}

// Reads the command line; false for one the tool refuses.
bool parse(const std::string& commandLine, const std::string& workDir, ExtractJob& job) {
    auto args = splitArgs(commandLine);
    if (args.empty()) return false;
    job.target = workDir;
    job.workDir = workDir;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() == 2 && (a[0] == '/' || a[0] == '-')) {
            switch (std::toupper((unsigned char)a[1])) {
                case 'Y': job.overwrite = true; continue;
                case 'A': job.all = true; continue;
                case 'E': job.every = true; continue;
                case 'D': job.listOnly = true; continue;
                case 'L':
                    if (++i >= args.size()) return false;
                    job.target = args[i];
                    continue;
                default: return false;
            }
        }
        if (job.cabinet.empty())
            job.cabinet = a;
        else
            job.patterns.push_back(a);
    }
    return !job.cabinet.empty() && !job.target.empty();
}

bool wanted(const ExtractJob& job, std::string_view name) {
    if (job.patterns.empty()) return job.every;
    for (const auto& p : job.patterns)
        if (matchesWildcard(p, name)) return true;
    return false;
}

struct Decompressor {
    mscab_decompressor* d = mspack_create_cab_decompressor(nullptr);
    std::vector<mscabd_cabinet*> opened;
    ~Decompressor() {
        if (!d) return;
        for (auto it = opened.rbegin(); it != opened.rend(); ++it) d->close(d, *it);
        mspack_destroy_cab_decompressor(d);
    }
};

// Carries out the job; returns the tool's exit code.
DWORD runExtract(Machine& m, const ExtractJob& job) {
    ResolvedPath cab, dir;
    if (resolvePath(m, absoluteWindowsPath(m, job.cabinet, job.workDir), cab) != 0 || !cab.exists || cab.isDir)
        return 1;
    if (resolvePath(m, job.target, dir) != 0 || !dir.exists || !dir.isDir) return 1;
    Decompressor dc;
    if (!dc.d) return 1;
    mscabd_cabinet* first = dc.d->open(dc.d, cab.host.c_str());
    if (!first) return 1;
    dc.opened.push_back(first);
    if (job.all) {
        // The next cabinets of the set, found beside the first one.
        mscabd_cabinet* last = first;
        while (last->nextname && dc.opened.size() < 64) {
            std::string hostName = findHostEntry(cab.hostParent().native(), last->nextname);
            if (hostName.empty()) break;
            mscabd_cabinet* next = dc.d->open(dc.d, (cab.hostParent() / hostName).c_str());
            if (!next) break;
            if (dc.d->append(dc.d, last, next) != MSPACK_ERR_OK) {
                dc.d->close(dc.d, next);
                break;
            }
            dc.opened.push_back(next);
            last = next;
        }
    }
    if (job.listOnly) return 0;
    DWORD code = 0;
    for (mscabd_file* f = first->files; f; f = f->next) {
        std::string name = f->filename;
        std::size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        if (name.empty() || !wanted(job, name)) continue;
        std::string to = dir.winPath + (dir.isRoot ? "" : "\\") + name;
        ResolvedPath existing;
        if (resolvePath(m, to, existing) != 0) {
            code = 1;
            continue;
        }
        if (existing.exists && !job.overwrite) continue;
        fs::path tmp = tempHostPath(dir.host);
        if (dc.d->extract(dc.d, f, tmp.c_str()) != MSPACK_ERR_OK) {
            std::error_code ec;
            fs::remove(tmp, ec);
            code = 1;
            continue;
        }
        if (placeHostFileOp(m, tmp, to, true) != 0) code = 1;
    }
    return code;
}

void startExtract(Machine& m, SimProcess& p) {
    auto job = std::make_shared<ExtractJob>();
    bool ok = parse(p.commandLine, p.currentDir.empty() ? m.currentDir : p.currentDir, *job);
    p.endsAt = now() + programRunTime(m, "extract.exe", 2000);
    if (p.endsAt <= now()) p.endsAt = now() + 1;
    p.exitCodeAtEnd = ok ? 0 : 1;
    if (!ok) return;
    p.onExit = [job](Machine& mm, SimProcess& self) { self.exitCode = runExtract(mm, *job); };
}

}  // namespace

ProgramBehaviour extractProgram() { return ProgramBehaviour{startExtract}; }

}  // namespace winsim
