#include "winsim/image/image.h"

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

template <class T>
T field(const json& j, const char* key, const T& fallback) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    return it->get<T>();
}

void coreFromJson(const json& j, Machine& m, const fs::path& dir) {
    const json& os = j.at("os");
    std::string platform = field<std::string>(os, "platform", "nt");
    if (platform == "nt")
        m.os.platform = Platform::NT;
    else if (platform == "win95")
        m.os.platform = Platform::Win95;
    else
        throw ImageError(kMachineJson, 0, "os.platform: expected \"nt\" or \"win95\", found \"" + platform + "\"");
    m.os.major = field<int>(os, "major", 3);
    m.os.minor = field<int>(os, "minor", 51);
    m.os.build = field<int>(os, "build", 1057);
    m.os.arch = field<std::string>(os, "arch", "x86");
    m.computerName = field<std::string>(j, "computer_name", m.computerName);
    m.windowsDir = field<std::string>(j, "windows_dir", m.windowsDir);
    m.systemDir = field<std::string>(j, "system_dir", m.systemDir);
    m.currentDir = field<std::string>(j, "current_dir", m.currentDir);
    m.environment.clear();
    if (auto it = j.find("environment"); it != j.end())
        for (auto& [k, v] : it->items()) m.environment[k] = v.get<std::string>();
    m.drives.clear();
    if (auto it = j.find("drives"); it != j.end()) {
        for (auto& [k, v] : it->items()) {
            if (k.size() != 1 || !std::isalpha((unsigned char)k[0]))
                throw ImageError(kMachineJson, 0, "drives: \"" + k + "\" is not a drive letter");
            Drive d;
            d.letter = (char)std::toupper((unsigned char)k[0]);
            d.total = field<std::uint64_t>(v, "total", 0);
            d.free = field<std::uint64_t>(v, "free", 0);
            d.type = field<std::string>(v, "type", "fixed");
            d.fat = field<bool>(v, "fat", false);
            d.host = dir / "drives" / std::string(1, d.letter);
            m.drives[d.letter] = d;
        }
    }
    if (auto it = j.find("clock"); it != j.end()) {
        m.bootEpochMs = field<std::int64_t>(*it, "boot_epoch_ms", m.bootEpochMs);
        m.tickMs = field<std::uint64_t>(*it, "tick_ms", 0);
    }
    m.faults.clear();
    if (auto it = j.find("faults"); it != j.end()) {
        for (auto& fj : *it) {
            Fault f;
            f.call = fj.at("call").get<std::string>();
            f.nth = field<std::uint32_t>(fj, "nth", 1);
            f.times = field<std::uint32_t>(fj, "times", 1);
            f.error = field<DWORD>(fj, "error", ERROR_ACCESS_DENIED);
            f.target = field<std::string>(fj, "target", "");
            m.faults.push_back(f);
        }
    }
}

int lineOfByte(const std::string& text, std::size_t byte) {
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

namespace {

// One load of the image as the path `dir` shows it now.
std::unique_ptr<Machine> loadOnce(const fs::path& dir) {
    fs::path jsonPath = dir / kMachineJson;
    std::string text = readFile(jsonPath);
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        throw ImageError(jsonPath.string(), lineOfByte(text, e.byte ? e.byte - 1 : 0), e.what());
    }
    auto m = std::make_unique<Machine>();
    m->imageDir = fs::absolute(dir);
    try {
        if (!j.is_object()) throw ImageError(jsonPath.string(), 1, "top level must be an object");
        coreFromJson(j, *m, dir);
        for (const Family& f : kFamilies) {
            auto it = j.find(f.key);
            f.load(it == j.end() ? json() : *it, *m);
        }
    } catch (const ImageError& e) {
        if (e.file == kMachineJson) throw ImageError(jsonPath.string(), e.line, e.what());
        throw;
    } catch (const json::exception& e) {
        throw ImageError(jsonPath.string(), 0, e.what());
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
