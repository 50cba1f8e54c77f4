#include "winsim/processes/paths.h"

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace winsim {

namespace {

std::vector<std::string> components(std::string_view p) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : p) {
        if (c == '\\' || c == '/') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

}  // namespace

std::string absoluteWindowsPath(const Machine& m, std::string_view path, std::string_view base) {
    if (path.empty()) return {};
    std::string full;
    if (path.size() >= 2 && path[1] == ':') {
        char drive = (char)std::toupper((unsigned char)path[0]);
        std::string_view rest = path.substr(2);
        if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
            // "C:NAME": relative to that drive's directory; only the base's drive is known.
            if (base.size() >= 2 && std::toupper((unsigned char)base[0]) == drive)
                full = std::string(base) + "\\" + std::string(rest);
            else
                full = std::string(1, drive) + ":\\" + std::string(rest);
        } else {
            full = std::string(1, drive) + ":" + std::string(rest);
        }
    } else if (path[0] == '\\' || path[0] == '/') {
        if (path.size() > 1 && (path[1] == '\\' || path[1] == '/')) return {};  // UNC paths are not simulated
        if (base.size() < 2) return {};
        full = std::string(base.substr(0, 2)) + std::string(path);
    } else {
        full = std::string(base) + "\\" + std::string(path);
    }
    char drive = (char)std::toupper((unsigned char)full[0]);
    if (drive < 'A' || drive > 'Z' || !m.drives.count(drive)) return {};
    std::vector<std::string> parts;
    for (std::string& c : components(std::string_view(full).substr(2))) {
        if (c == ".") continue;
        if (c == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(c);
    }
    std::string out(1, drive);
    out += ":";
    for (auto& c : parts) out += "\\" + c;
    if (parts.empty()) out += "\\";
    return out;
}

FoundPath lookUpPath(const Machine& m, std::string_view absolutePath) {
    FoundPath r;
    if (absolutePath.size() < 3 || absolutePath[1] != ':') return r;
    auto d = m.drives.find((char)std::toupper((unsigned char)absolutePath[0]));
    if (d == m.drives.end()) return r;
    std::vector<std::string> parts = components(absolutePath.substr(2));
    fs::path host = d->second.host;
    std::string shown = std::string(1, d->first) + ":";
    std::error_code ec;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        fs::path next;
        std::string name;
        for (auto it = fs::directory_iterator(host, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string entry = it->path().filename().string();
            if (!iequals(entry, parts[i])) continue;
            next = it->path();
            name = entry;
            if (entry == parts[i]) break;  // an exact match wins over a case-folded one
        }
        ec.clear();
        fs::file_status st = next.empty() ? fs::file_status{} : fs::symlink_status(next, ec);
        if (next.empty() || ec || fs::is_symlink(st)) {
            r.kind = last ? PathKind::Missing : PathKind::MissingDir;
            return r;
        }
        shown += "\\" + name;
        if (!last && !fs::is_directory(st)) {
            r.kind = PathKind::MissingDir;
            return r;
        }
        host = next;
        r.name = name;
        if (last) r.kind = fs::is_directory(st) ? PathKind::Directory : PathKind::File;
    }
    if (parts.empty()) r.kind = PathKind::Directory;
    r.path = parts.empty() ? shown + "\\" : shown;
    return r;
}

std::vector<std::string> programSearchDirs(const Machine& m) {
    std::vector<std::string> dirs{m.currentDir, m.systemDir};
    if (m.os.isNT()) dirs.push_back(m.windowsDir + "\\system");
    dirs.push_back(m.windowsDir);
    auto p = m.environment.find("PATH");
    if (p != m.environment.end()) {
        std::string cur;
        for (char c : p->second + ";") {
            if (c == ';') {
                if (!cur.empty()) dirs.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
    }
    return dirs;
}

}  // namespace winsim
