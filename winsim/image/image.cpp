#include "winsim/image/image.h"

#include "winsim/image/jsonfield.h"
#include "winsim/image/store.h"

#include "winsim/dde/state.h"
#include "winsim/files/state.h"
#include "winsim/processes/state.h"
#include "winsim/registry/state.h"
#include "winsim/security/state.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"
#include "winsim/system/state.h"
#include "winsim/ui/state.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace winsim {

ImageError::ImageError(std::string f, int l, const std::string& what)
    : std::runtime_error(f + (l > 0 ? ":" + std::to_string(l) : std::string()) + ": " + what),
      file(std::move(f)),
      line(l) {}

namespace {

const char* kMachineJson = "machine.json";

struct Family {
    const char* key;
    void (*load)(const json&, Machine&);
    void (*save)(json&, const Machine&);
};

const Family kFamilies[] = {
    {"registry", loadRegistry, saveRegistry},   {"files", loadFile, saveFile},
    {"system", loadSystem, saveSystem},         {"security", loadSecurity, saveSecurity},
    {"ui", loadUi, saveUi},                     {"services", loadService, saveService},
    {"processes", loadProcess, saveProcess},    {"spooler", loadSpooler, saveSpooler},
    {"dde", loadDde, saveDde},
};

std::string platformName(const OsInfo& os) { return os.platform == Platform::Win95 ? "win95" : "nt"; }

json coreToJson(const Machine& m) {
    json j;
    j["format"] = 1;
    j["os"] = {{"platform", platformName(m.os)},
               {"major", m.os.major},
               {"minor", m.os.minor},
               {"build", m.os.build},
               {"arch", m.os.arch}};
    j["computer_name"] = m.computerName;
    j["windows_dir"] = m.windowsDir;
    j["system_dir"] = m.systemDir;
    j["current_dir"] = m.currentDir;
    json env = json::object();
    for (auto& [k, v] : m.environment) env[k] = v;
    j["environment"] = env;
    json drives = json::object();
    for (auto& [letter, d] : m.drives) {
        drives[std::string(1, letter)] = {{"total", d.total}, {"free", d.free}, {"type", d.type}, {"fat", d.fat}};
    }
    j["drives"] = drives;
    j["clock"] = {{"boot_epoch_ms", m.bootEpochMs}, {"tick_ms", m.tickMs}};
    json faults = json::array();
    for (auto& f : m.faults) {
        json fj = {{"call", f.call}, {"nth", f.nth}, {"times", f.times}, {"error", f.error}};
        if (!f.target.empty()) fj["target"] = f.target;
        faults.push_back(fj);
    }
    j["faults"] = faults;
    return j;
}

// The newest machine.json layout this program reads and writes. An image of
// a later format may hold what this program would drop on saving, so it is
// refused rather than rewritten.
constexpr int kFormat = 1;

// Members of the document besides the family sections.
const std::string_view kCoreMembers[] = {"format",     "os",          "computer_name", "windows_dir",
                                         "system_dir", "current_dir", "environment",   "drives",
                                         "clock",      "faults"};

void coreFromJson(const json& j, Machine& m, const fs::path& dir) {
    const JsonPointer top;
    int format = jsonField<int>(j, "format", kFormat, top);
    if (format > kFormat)
        badField(top / "format", "format " + std::to_string(format) + " is newer than this program reads (" +
                                     std::to_string(kFormat) + "); it would lose what it does not know");
    if (format < 1) badField(top / "format", "format " + std::to_string(format) + " does not exist (1 is the first)");

    for (auto& [key, value] : j.items()) {
        bool known = false;
        for (std::string_view k : kCoreMembers) known = known || key == k;
        for (const Family& f : kFamilies) known = known || key == f.key;
        if (!known) badField(top / key, "unknown member");
    }
    auto osIt = j.find("os");
    if (osIt == j.end()) badField(top / "os", "missing (the Windows version and processor)");
    const json& os = *osIt;
    const JsonPointer osAt = top / "os";
    onlyMembers(os, {"platform", "major", "minor", "build", "arch"}, osAt);
    m.os.platform = jsonChoice(os, "platform", "nt", {"nt", "win95"}, osAt) == "win95" ? Platform::Win95 : Platform::NT;
    // The version word packs major and minor in a byte each and the build
    // in 15 bits.
    m.os.major = jsonFieldIn<int>(os, "major", 3, 0, 255, osAt);
    m.os.minor = jsonFieldIn<int>(os, "minor", 51, 0, 255, osAt);
    m.os.build = jsonFieldIn<int>(os, "build", 1057, 0, 0x7fff, osAt);
    m.os.arch = jsonChoice(os, "arch", "x86", {"x86", "alpha", "mips"}, osAt);
    if (m.os.platform == Platform::Win95 && m.os.arch != "x86")
        badField(osAt / "arch", "Windows 95 runs on x86 processors only, not on " + quotedExcerpt(m.os.arch));

    m.computerName = jsonField<std::string>(j, "computer_name", m.computerName, top);
    m.windowsDir = jsonField<std::string>(j, "windows_dir", m.windowsDir, top);
    m.systemDir = jsonField<std::string>(j, "system_dir", m.systemDir, top);
    m.currentDir = jsonField<std::string>(j, "current_dir", m.currentDir, top);
    m.environment.clear();
    if (auto it = j.find("environment"); it != j.end() && !it->is_null()) {
        requireObject(*it, top / "environment");
        for (auto& [k, v] : it->items()) m.environment[k] = jsonValue<std::string>(v, top / "environment" / k);
    }
    m.drives.clear();
    if (auto it = j.find("drives"); it != j.end() && !it->is_null()) {
        requireObject(*it, top / "drives");
        for (auto& [k, v] : it->items()) {
            const JsonPointer at = top / "drives" / k;
            if (k.size() != 1 || !std::isalpha((unsigned char)k[0])) badField(at, "not a drive letter");
            Drive d;
            d.letter = (char)std::toupper((unsigned char)k[0]);
            if (m.drives.count(d.letter)) badField(at, "drive " + std::string(1, d.letter) + " given twice");
            onlyMembers(v, {"total", "free", "type", "fat"}, at);
            d.total = jsonField<std::uint64_t>(v, "total", 0, at);
            d.free = jsonField<std::uint64_t>(v, "free", 0, at);
            if (d.free > d.total)
                badField(at / "free", std::to_string(d.free) + " bytes free is more than the drive's total of " +
                                          std::to_string(d.total));
            d.type = jsonChoice(v, "type", "fixed", {"fixed", "cdrom", "removable", "remote", "ramdisk"}, at);
            d.fat = jsonField<bool>(v, "fat", false, at);
            d.host = dir / "drives" / std::string(1, d.letter);
            m.drives[d.letter] = d;
        }
    }
    if (auto it = j.find("clock"); it != j.end() && !it->is_null()) {
        const JsonPointer at = top / "clock";
        onlyMembers(*it, {"boot_epoch_ms", "tick_ms"}, at);
        m.bootEpochMs = jsonField<std::int64_t>(*it, "boot_epoch_ms", m.bootEpochMs, at);
        if (m.bootEpochMs < 0) badField(at / "boot_epoch_ms", "must not be negative");
        m.tickMs = jsonField<std::uint64_t>(*it, "tick_ms", 0, at);
    }
    m.faults.clear();
    if (auto it = j.find("faults"); it != j.end() && !it->is_null()) {
        if (!it->is_array()) badField(top / "faults", "expected a list of faults");
        for (std::size_t i = 0; i < it->size(); ++i) {
            const json& fj = (*it)[i];
            const JsonPointer at = top / "faults" / i;
            onlyMembers(fj, {"call", "nth", "times", "error", "target"}, at);
            Fault f;
            f.call = jsonField<std::string>(fj, "call", "", at);
            if (f.call.empty()) badField(at / "call", "names no function");
            f.nth = jsonField<std::uint32_t>(fj, "nth", 1, at);
            if (f.nth == 0) badField(at / "nth", "calls are counted from 1");
            f.times = jsonField<std::uint32_t>(fj, "times", 1, at);
            f.error = jsonField<DWORD>(fj, "error", ERROR_ACCESS_DENIED, at);
            if (f.error == 0) badField(at / "error", "0 is success; a fault needs a Win32 error code");
            f.target = jsonField<std::string>(fj, "target", "", at);
            m.faults.push_back(f);
        }
    }
}

int lineOfByte(std::string_view text, std::size_t byte) {
    int line = 1;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i)
        if (text[i] == '\n') ++line;
    return line;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw ImageError(p.filename().string(), 0, "cannot be read");
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Mirrors `from` into `to` with hard links (a copy where links fail).
void linkTree(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator(); ++it) {
        fs::path rel = fs::relative(it->path(), from);
        fs::path dst = to / rel;
        if (it->is_symlink()) continue;  // never followed out of the image
        if (it->is_directory()) {
            fs::create_directories(dst);
        } else if (it->is_regular_file()) {
            std::error_code ec;
            fs::create_hard_link(it->path(), dst, ec);
            if (ec) fs::copy_file(it->path(), dst);
        }
    }
}

}  // namespace

std::string machineJsonText(const Machine& m) {
    json j = coreToJson(m);
    for (const Family& f : kFamilies) {
        json section;
        f.save(section, m);
        if (!section.is_null()) j[f.key] = section;
    }
    return j.dump(2) + "\n";
}

void machineFromJsonText(std::string_view text, Machine& m, const fs::path& dir) {
    // Nothing in an image nests deeper than a few levels; a deeper text is
    // not an image and would only cost stack.
    constexpr int kMaxDepth = 32;
    json j;
    try {
        j = json::parse(text, [&](int depth, json::parse_event_t, json&) {
            if (depth > kMaxDepth)
                throw ImageError(kMachineJson, 0, "nested deeper than " + std::to_string(kMaxDepth) + " levels");
            return true;
        });
    } catch (const json::parse_error& e) {
        // The parser's message quotes what it read last; keep it short.
        std::string what = e.what();
        if (what.size() > 200) what = what.substr(0, 200) + "...";
        throw ImageError(kMachineJson, lineOfByte(text, e.byte ? e.byte - 1 : 0), what);
    } catch (const json::exception& e) {
        // A number too large for any value (1E9999) is not a syntax error
        // but ends the parse the same way.
        std::string what = e.what();
        if (what.size() > 200) what = what.substr(0, 200) + "...";
        throw ImageError(kMachineJson, 0, what);
    }
    if (!j.is_object()) throw ImageError(kMachineJson, 1, "top level must be an object");
    try {
        coreFromJson(j, m, dir);
        for (const Family& f : kFamilies) {
            auto it = j.find(f.key);
            f.load(it == j.end() ? json() : *it, m);
        }
    } catch (const json::exception& e) {
        // Every family names its faults; this is the last guard.
        throw ImageError(kMachineJson, 0, e.what());
    }
}

namespace {

// One load of the image as the path `dir` shows it now.
std::unique_ptr<Machine> loadOnce(const fs::path& dir) {
    fs::path jsonPath = dir / kMachineJson;
    std::string text = readFile(jsonPath);
    auto m = std::make_unique<Machine>();
    m->imageDir = fs::absolute(dir);
    try {
        machineFromJsonText(text, *m, dir);
    } catch (const ImageError& e) {
        if (e.file != kMachineJson) throw;
        // Name the file by its full path; the reason follows "machine.json: ".
        std::string what = e.what();
        std::string prefix = e.file + (e.line > 0 ? ":" + std::to_string(e.line) : std::string()) + ": ";
        if (what.rfind(prefix, 0) == 0) what = what.substr(prefix.size());
        throw ImageError(jsonPath.string(), e.line, what);
    }
    readRegistryFolder(dir / "registry", *m);

    // Work on a hard-linked copy of the drives; the image changes on save only.
    fs::path work = store::sibling(dir, "work");
    fs::remove_all(work);
    for (auto& [letter, d] : m->drives) {
        fs::path src = dir / "drives" / std::string(1, letter);
        fs::path dst = work / std::string(1, letter);
        if (fs::is_directory(src))
            linkTree(src, dst);
        else
            fs::create_directories(dst);
        d.host = dst;
    }
    return m;
}

bool sameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether `dir` still names the folder `pinned` describes.
bool stillThere(const fs::path& dir, const struct stat& pinned) {
    struct stat now;
    return ::stat(dir.c_str(), &now) == 0 && sameInode(now, pinned);
}

}  // namespace

std::unique_ptr<Machine> loadImage(const fs::path& dir) {
    // A writer switching a new version in is waited for this many times 5 ms.
    constexpr int kAttempts = 400;
    for (int attempt = 0;; ++attempt) {
        std::string recovered = store::recoverLeftovers(dir);
        if (!recovered.empty()) std::fprintf(stderr, "winsim: %s: %s\n", dir.string().c_str(), recovered.c_str());
        if (!fs::is_directory(dir)) {
            if (attempt < kAttempts && store::switchInProgress(dir)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            throw ImageError(dir.string(), 0, "not a machine image (no such directory)");
        }
        // The open folder keeps its inode while we read, so a switch during
        // the load shows as the path naming another folder afterwards.
        int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat pinned {};
        if (fd < 0 || ::fstat(fd, &pinned) != 0) {
            if (fd >= 0) ::close(fd);
            if (attempt < kAttempts) continue;
            throw ImageError(dir.string(), 0, std::string("cannot be opened: ") + std::strerror(errno));
        }
        std::unique_ptr<Machine> m;
        try {
            m = loadOnce(dir);
        } catch (...) {
            bool switched = !stillThere(dir, pinned);
            ::close(fd);
            std::error_code ec;
            fs::remove_all(store::sibling(dir, "work"), ec);
            if (switched && attempt < kAttempts) continue;
            throw;
        }
        bool switched = !stillThere(dir, pinned);
        ::close(fd);
        if (!switched) return m;
        discardWorkingCopy(*m);
        if (attempt >= kAttempts) throw ImageError(dir.string(), 0, "keeps changing while it is read");
    }
}

void discardWorkingCopy(Machine& m) {
    if (m.imageDir.empty()) return;
    std::error_code ec;
    fs::remove_all(store::sibling(m.imageDir, "work"), ec);
}

void saveImage(Machine& m, const fs::path& dir) {
    fs::path target = store::normalized(dir);
    fs::path stage = store::sibling(target, "save");
    fs::path work = m.imageDir.empty() ? fs::path() : store::sibling(m.imageDir, "work");
    // Where the drives were, to put them back if the save fails.
    std::map<char, fs::path> original;
    for (auto& [letter, d] : m.drives) original[letter] = d.host;
    try {
        fs::remove_all(stage);
        fs::create_directories(stage / "registry");
        fs::create_directories(stage / "drives");
        {
            std::ofstream out(stage / kMachineJson, std::ios::binary);
            out << machineJsonText(m);
            out.close();
            if (!out) throw std::runtime_error("cannot write " + (stage / kMachineJson).string());
        }
        writeRegistryFolder(stage / "registry", m);
        for (auto& [letter, d] : m.drives) {
            fs::path dst = stage / "drives" / std::string(1, letter);
            bool isWorkCopy = !work.empty() && d.host.parent_path() == work;
            if (isWorkCopy) {
                fs::rename(d.host, dst);
            } else {
                linkTree(d.host, dst);
            }
            d.host = dst;
        }
        // Whole on the disk before it becomes the image; and the image, once
        // the old version, must be removable, or it is not replaced at all.
        store::syncTree(stage);
        if (fs::exists(target))
            if (std::string bad = store::unwritableFolder(target); !bad.empty())
                throw std::runtime_error("the image cannot be replaced: " + bad);
        store::switchIn(stage, target);
    } catch (...) {
        // The image on disk is untouched; the machine keeps its working copy.
        std::error_code ec;
        for (auto& [letter, d] : m.drives) {
            const fs::path& from = original[letter];
            if (d.host != from && !fs::exists(from)) fs::rename(d.host, from, ec);
            d.host = from;
        }
        fs::remove_all(stage, ec);
        throw;
    }
    for (auto& [letter, d] : m.drives) d.host = target / "drives" / std::string(1, letter);
    if (!work.empty()) {
        std::error_code ec;
        fs::remove_all(work, ec);
    }
    m.imageDir = target;
}

}  // namespace winsim
