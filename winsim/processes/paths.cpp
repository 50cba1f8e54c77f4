#include "winsim/processes/paths.h"

#include "winsim/files/paths.h"

namespace winsim {

std::string absoluteWindowsPath(const Machine& m, std::string_view path, std::string_view base) {
    if (path.empty()) return {};
    bool absolute = (path.size() >= 2 && path[1] == ':') || path[0] == '\\' || path[0] == '/';
    std::string joined = absolute ? std::string(path) : std::string(base) + "\\" + std::string(path);
    std::string out;
    if (fullWindowsPath(m, joined, out) != 0) return {};
    return out;
}

FoundPath lookUpPath(const Machine& m, std::string_view fullPath) {
    FoundPath r;
    ResolvedPath rp;
    DWORD e = resolvePath(m, fullPath, rp);
    if (e != 0) {
        r.kind = PathKind::MissingDir;
        return r;
    }
    if (!rp.exists || rp.blocked) {
        r.kind = PathKind::Missing;
        return r;
    }
    r.kind = rp.isDir ? PathKind::Directory : PathKind::File;
    r.path = rp.winPath;
    r.name = rp.isRoot ? std::string() : rp.parts.back();
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
