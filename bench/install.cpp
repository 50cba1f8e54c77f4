// A typical installation of a large generated distribution (by default
// 5,000 files, 500 MB), timed side by side with `cp -r` of the same files:
//
//   setup    the whole program run by build/bin/setup on a fresh NT 3.51
//            machine (image load, pages from an answers file, copy,
//            registration, drivers, group, save);
//   engine   the kit's copy engine alone, in this process, copying the same
//            sections onto a bare simulated machine;
//   cp -r    the generated files, host directory to host directory.
//
// Targets: setup at most 1.2x the time of cp -r; the copy engine at least
// 0.9x the throughput of cp -r. The three are run in every round, in an
// order that changes from round to round, with the page cache flushed
// (sync) before each; the medians are compared. The workload lies in
// /dev/shm when there is room (see workArea); TMPDIR=/some/dir puts it on
// a disk instead.
//
// usage: bench_install [--files N] [--mb MB] [--rounds R] [--keep]
// Exit code 0 when both targets hold, 1 when one is missed, 2 when a run
// failed (nothing measured).
#include <setupkit.h>
#include <windows.h>

#include "winsim/core/machine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    int files = 5000;
    std::uint64_t megabytes = 500;
    int rounds = 3;
    bool keep = false;
};

[[noreturn]] void fatal(const std::string& what) {
    std::fprintf(stderr, "bench_install: %s\n", what.c_str());
    std::exit(2);
}

double cpuSeconds(const struct rusage& ru) {
    return (double)ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + (double)ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

// Time taken by one contestant: elapsed and CPU (user + system) seconds.
struct Took {
    double wall = 0;
    double cpu = 0;
};

// Runs argv[0] with the arguments in `cwd`, output to /dev/null (or to
// `outFile`); returns the exit code (-1 when it did not end normally).
// `cpu` (when given) receives the child's user and system time.
int spawn(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& outFile = "/dev/null",
          double* cpu = nullptr) {
    pid_t pid = ::fork();
    if (pid < 0) fatal("fork failed");
    if (pid == 0) {
        int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<std::string> store = args;
        std::vector<char*> argv;
        for (auto& s : store) argv.push_back(s.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    while (::wait4(pid, &status, 0, &ru) < 0) {
    }
    if (cpu) *cpu = cpuSeconds(ru);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The built programs stand beside this one.
fs::path binDir() {
    static fs::path dir = fs::read_symlink("/proc/self/exe").parent_path();
    return dir;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void flushDirtyPages() { ::sync(); }

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// --- the workload ---------------------------------------------------------

struct Workload {
    fs::path root;       // everything of this run
    fs::path dist;       // the distribution: the sample one plus big/
    fs::path machine0;   // the fresh machine every setup run starts from
    fs::path answers;    // a typical installation, unattended
    std::uint64_t bytes = 0;
    int files = 0;
    int utilityFiles = 0;  // of them queued with the utilities, the rest with the documents
};

// Sizes between 0.2 and 1.8 times the mean, deterministic, summing to
// exactly `total`.
std::vector<std::uint64_t> fileSizes(int n, std::uint64_t total) {
    std::vector<std::uint64_t> sizes(n);
    std::uint64_t x = 0x9e3779b97f4a7c15ull, sum = 0, mean = total / n;
    for (int i = 0; i < n; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        sizes[i] = mean / 5 + x % (mean * 8 / 5 + 1);
        sum += sizes[i];
    }
    // Scale to the total, the remainder on the last file.
    std::uint64_t scaled = 0;
    for (int i = 0; i < n; ++i) {
        sizes[i] = (std::uint64_t)((long double)sizes[i] * total / sum);
        scaled += sizes[i];
    }
    sizes[n - 1] += total - scaled;
    return sizes;
}

std::string fileName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "B%05d.DAT", i);
    return name;
}

// Writes `size` bytes of varied content, taken from `pool` at an offset
// that differs from file to file.
void writeFile(const fs::path& p, std::uint64_t size, const std::vector<char>& pool, std::uint64_t seed) {
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) fatal("cannot create " + p.string());
    std::uint64_t off = (seed * 7919) % (pool.size() / 2);
    while (size > 0) {
        std::size_t chunk = (std::size_t)std::min<std::uint64_t>(size, pool.size() - off);
        ssize_t w = ::write(fd, pool.data() + off, chunk);
        if (w <= 0) fatal("cannot write " + p.string());
        size -= (std::uint64_t)w;
        off = 0;
    }
    ::close(fd);
}

// The sample distribution's setup.inf with the generated files added to
// [VB Common] (to <root>\utility) and [Write Files] (to <root>); field 3
// names the subdirectory big\ of the distribution that holds them.
void writeInf(const Workload& w, const std::vector<std::uint64_t>& sizes) {
    std::string text = readText(w.dist / "setup.inf");
    auto keys = [&](int from, int to) {
        std::string s;
        for (int i = from; i < to; ++i)
            s += fileName(i) + " = " + fileName(i) + ", , big, , , , , , , , , , , , " + std::to_string(sizes[i]) + "\r\n";
        return s;
    };
    auto insertAfter = [&](const std::string& header, const std::string& lines) {
        std::size_t at = text.find(header);
        if (at == std::string::npos) fatal("setup.inf has no " + header);
        at = text.find('\n', at);
        text.insert(at == std::string::npos ? text.size() : at + 1, lines);
    };
    insertAfter("[VB Common]", keys(0, w.utilityFiles));
    insertAfter("[Write Files]", keys(w.utilityFiles, w.files));
    std::ofstream(w.dist / "setup.inf", std::ios::binary | std::ios::trunc) << text;
}

// Where the workload goes: $TMPDIR when set; otherwise /dev/shm when it
// has room for the distribution and two copies (the numbers then show the
// programs, not the disk shared with other users), else the temporary
// directory.
fs::path workArea(const Options& o) {
    if (std::getenv("TMPDIR")) return fs::temp_directory_path();
    std::error_code ec;
    auto space = fs::space("/dev/shm", ec);
    if (!ec && space.available / (1024 * 1024) > 3 * o.megabytes + 256) return "/dev/shm";
    return fs::temp_directory_path();
}

Workload generate(const Options& o) {
    Workload w;
    w.root = workArea(o) / ("bench-install-" + std::to_string(::getpid()));
    fs::remove_all(w.root);
    fs::create_directories(w.root);
    w.dist = w.root / "dist";
    fs::copy(fs::path(SOURCE_ROOT) / "dist", w.dist, fs::copy_options::recursive);
    fs::remove_all(w.dist / "tools");
    fs::remove_all(w.dist / "answers");
    fs::create_directories(w.dist / "big");
    w.files = o.files;
    w.utilityFiles = o.files * 4 / 5;
    w.bytes = o.megabytes * 1024 * 1024;
    std::vector<std::uint64_t> sizes = fileSizes(w.files, w.bytes);
    std::vector<char> pool(8 << 20);
    std::uint64_t x = 88172645463325252ull;
    for (std::size_t i = 0; i < pool.size(); i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(&pool[i], &x, 8);
    }
    for (int i = 0; i < w.files; ++i) writeFile(w.dist / "big" / fileName(i), sizes[i], pool, (std::uint64_t)i);
    writeInf(w, sizes);

    // The typical installation: everything into the default root on the
    // system drive, no program started at the end.
    w.answers = w.root / "typical.ans";
    fs::copy_file(fs::path(SOURCE_ROOT) / "dist" / "answers" / "install-default.ans", w.answers);

    w.machine0 = w.root / "machine0";
    std::string winsim = (binDir() / "winsim").string();
    if (spawn({winsim, "new", w.machine0.string(), "--os", "nt351", "--arch", "x86", "--user", "admin",
               "--disk-free", "C=2000000000"},
              w.root) != 0)
        fatal("winsim new failed");
    // The spooler keeps the PostScript modules in its version subdirectory,
    // as on a machine where printers were set up before.
    fs::path version = w.machine0 / "drives" / "C" / "WINNT35" / "system32" / "spool" / "DRIVERS" / "W32X86" / "1";
    fs::create_directories(version);
    std::ofstream(version / "pscript.dll") << std::string(60000, 'p');
    std::ofstream(version / "pscrptui.dll") << std::string(30000, 'u');
    return w;
}

// Regular files below `dir` and their bytes.
std::pair<int, std::uint64_t> countFiles(const fs::path& dir, const std::string& prefix = "") {
    int n = 0;
    std::uint64_t bytes = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        if (!prefix.empty() && it->path().filename().string().rfind(prefix, 0) != 0) continue;
        ++n;
        bytes += it->file_size();
    }
    return {n, bytes};
}

// --- the three contestants -------------------------------------------------

Took runCp(const Workload& w) {
    fs::path target = w.root / "cp-target";
    fs::remove_all(target);
    flushDirtyPages();
    Took took;
    auto t0 = Clock::now();
    int rc = spawn({"cp", "-r", (w.dist / "big").string(), target.string()}, w.root, "/dev/null", &took.cpu);
    auto t1 = Clock::now();
    took.wall = seconds(t0, t1);
    if (rc != 0) fatal("cp -r failed");
    auto [n, bytes] = countFiles(target);
    if (n != w.files || bytes != w.bytes) fatal("cp -r copied " + std::to_string(n) + " files");
    fs::remove_all(target);
    return took;
}

Took runSetup(const Workload& w, int round) {
    fs::path machine = w.root / ("machine-" + std::to_string(round));
    fs::path log = w.root / ("setup-" + std::to_string(round) + ".log");
    fs::remove_all(machine);
    if (spawn({"cp", "-a", w.machine0.string(), machine.string()}, w.root) != 0) fatal("cannot copy the machine");
    flushDirtyPages();
    std::string setup = (binDir() / "setup").string();
    Took took;
    auto t0 = Clock::now();
    int rc = spawn({setup, "--machine", machine.string(), "--answers", w.answers.string(), "--log", log.string()},
                   w.dist, w.root / "setup.out", &took.cpu);
    auto t1 = Clock::now();
    took.wall = seconds(t0, t1);
    // The run counts only when it installed the whole distribution.
    auto [n, bytes] = countFiles(machine / "drives" / "C", "B");
    if (rc != 0 || n != w.files || bytes != w.bytes)
        fatal("the setup run did not install the distribution (exit code " + std::to_string(rc) + ", " +
              std::to_string(n) + " of " + std::to_string(w.files) + " files; log " + log.string() + "):\n" +
              readText(log));
    if (!readText(log).empty() && readText(log).find("exit 0") == std::string::npos) fatal("no exit line in " + log.string());
    fs::remove_all(machine);
    return took;
}

Took runEngine(const Workload& w, int round) {
    fs::path c = w.root / ("engine-" + std::to_string(round));
    fs::remove_all(c);
    KitReset();
    auto& m = winsim::install(winsim::makeBareMachine(winsim::OsInfo{}, c));
    m.drives['C'].total = m.drives['C'].free = 2000000000ull;
    winsim::Drive d;
    d.letter = 'D';
    d.host = w.dist;
    d.type = "cdrom";
    m.drives['D'] = d;
    // The console front-end's progress lines (the gauge a user sees) go
    // to /dev/null here.
    std::fflush(stdout);
    int savedOut = ::dup(1);
    int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    ::close(devNull);
    if (!FOpenInf("D:\\setup.inf", FALSE, FALSE)) fatal("the kit cannot open setup.inf");
    if (!FAddSectionFilesToCopyList("VB Common", "D:\\", "C:\\VARDEN\\utility") ||
        !FAddSectionFilesToCopyList("Write Files", "D:\\", "C:\\VARDEN"))
        fatal("the kit cannot queue the sections");
    flushDirtyPages();
    struct rusage r0 {}, r1 {};
    ::getrusage(RUSAGE_SELF, &r0);
    auto t0 = Clock::now();
    int grc = GrcCopyFilesInCopyList(nullptr);
    auto t1 = Clock::now();
    ::getrusage(RUSAGE_SELF, &r1);
    Took took{seconds(t0, t1), cpuSeconds(r1) - cpuSeconds(r0)};
    std::fflush(stdout);
    ::dup2(savedOut, 1);
    ::close(savedOut);
    auto [n, bytes] = countFiles(c, "B");
    if (grc != grcOkay || n != w.files || bytes != w.bytes)
        fatal("the copy engine ended with " + std::to_string(grc) + " after " + std::to_string(n) + " files");
    KitReset();
    fs::remove_all(c);
    return took;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto number = [&]() -> long {
            if (i + 1 >= argc) fatal(a + " needs a number");
            char* end = nullptr;
            long v = std::strtol(argv[++i], &end, 10);
            if (*end || v <= 0) fatal(a + " needs a positive number");
            return v;
        };
        if (a == "--files") o.files = (int)number();
        else if (a == "--mb") o.megabytes = (std::uint64_t)number();
        else if (a == "--rounds") o.rounds = (int)number();
        else if (a == "--keep") o.keep = true;
        else if (a.rfind("--benchmark", 0) == 0) continue;  // make bench passes nothing, others may
        else fatal("usage: bench_install [--files N] [--mb MB] [--rounds R] [--keep]");
    }
    if (o.files < 5) fatal("--files wants at least 5");
    return o;
}

}  // namespace

// The median of one measure over the rounds.
double median(const std::vector<Took>& v, double Took::*what) {
    std::vector<double> x;
    for (const Took& t : v) x.push_back(t.*what);
    std::sort(x.begin(), x.end());
    return x.size() % 2 ? x[x.size() / 2] : (x[x.size() / 2 - 1] + x[x.size() / 2]) / 2;
}

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    std::printf("generating %d files, %llu MB ...\n", o.files, (unsigned long long)o.megabytes);
    std::fflush(stdout);
    Workload w = generate(o);
    std::printf("workload in %s\n", w.root.c_str());
    std::vector<Took> cp, setup, engine;
    for (int r = 0; r < o.rounds; ++r) {
        // Each contestant goes first in some round.
        std::vector<std::function<void()>> order = {
            [&] { cp.push_back(runCp(w)); },
            [&] { setup.push_back(runSetup(w, r)); },
            [&] { engine.push_back(runEngine(w, r)); },
        };
        std::rotate(order.begin(), order.begin() + r % 3, order.end());
        for (auto& f : order) f();
        std::printf("round %d (elapsed / CPU): cp -r %.3f / %.3f s, setup %.3f / %.3f s, copy engine %.3f / %.3f s\n",
                    r + 1, cp.back().wall, cp.back().cpu, setup.back().wall, setup.back().cpu, engine.back().wall,
                    engine.back().cpu);
        std::fflush(stdout);
    }
    double mb = (double)w.bytes / (1024.0 * 1024.0);
    std::printf("\n%d files, %.0f MB in %s, median of %d rounds\n", w.files, mb, w.root.parent_path().c_str(),
                o.rounds);
    std::printf("                 elapsed              CPU (user + system)\n");
    auto row = [&](const char* name, const std::vector<Took>& t) {
        double wall = median(t, &Took::wall), cpu = median(t, &Took::cpu);
        std::printf("  %-12s %7.3f s %7.1f MB/s   %7.3f s %7.1f MB/s\n", name, wall, mb / wall, cpu, mb / cpu);
    };
    row("cp -r", cp);
    row("setup run", setup);
    row("copy engine", engine);
    // On a shared machine elapsed time follows the other programs' load;
    // the CPU time each side spends is the steadier measure and decides.
    double setupWall = median(setup, &Took::wall) / median(cp, &Took::wall);
    double setupCpu = median(setup, &Took::cpu) / median(cp, &Took::cpu);
    double engineWall = median(cp, &Took::wall) / median(engine, &Took::wall);
    double engineCpu = median(cp, &Took::cpu) / median(engine, &Took::cpu);
    bool setupMet = setupCpu <= 1.2, engineMet = engineCpu >= 0.9;
    std::printf("setup run:   %.2fx the time of cp -r (CPU; elapsed %.2fx), target at most 1.20x: %s\n", setupCpu,
                setupWall, setupMet ? "met" : "MISSED");
    std::printf("copy engine: %.2fx the throughput of cp -r (CPU; elapsed %.2fx), target at least 0.90x: %s\n",
                engineCpu, engineWall, engineMet ? "met" : "MISSED");
    if (!o.keep) fs::remove_all(w.root);
    return setupMet && engineMet ? 0 : 1;
}
