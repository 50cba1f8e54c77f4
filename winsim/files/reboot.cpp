#include "winsim/files/reboot.h"

#include "winsim/files/ops.h"
#include "winsim/files/shortnames.h"
#include "winsim/services/query.h"
#include "winsim/spooler/state.h"

#include <windows.h>

namespace winsim {

namespace {

std::string errorText(DWORD e) { return "error " + std::to_string(e); }

std::string stripNtPrefix(std::string s) {
    if (s.rfind("\\??\\", 0) == 0) s.erase(0, 4);
    return s;
}

// Deletes a file, or a directory when it is empty.
std::string deleteAtBoot(Machine& m, const std::string& path) {
    ResolvedPath p;
    DWORD e = resolvePath(m, path, p);
    if (!e && !p.exists) e = ERROR_FILE_NOT_FOUND;
    if (!e) e = p.isDir ? removeDirectoryOp(m, path) : deleteFileOp(m, path);
    return e ? "delete " + path + ": " + errorText(e) : "deleted " + path;
}

std::string moveAtBoot(Machine& m, const std::string& from, const std::string& to, bool replace) {
    DWORD e = moveOp(m, from, to, replace, true);
    return e ? "move " + from + " -> " + to + ": " + errorText(e) : "moved " + from + " -> " + to;
}

}  // namespace

std::vector<std::string> rebootMachine(Machine& m) {
    std::vector<std::string> done;
    // Every process ends: nothing is loaded or open any more.
    for (auto it = m.files->meta.begin(); it != m.files->meta.end();) {
        it->second.inUse = InUse::None;
        it->second.loadedBy.clear();
        if (it->second.version.empty() && !it->second.attributes)
            it = m.files->meta.erase(it);
        else
            ++it;
    }
    if (m.os.isNT()) {
        if (&m != &machine()) {
            done.push_back("pending renames not read: the machine is not the installed one");
        } else {
            for (auto& [src, dst] : pendingRenames()) {
                std::string from = stripNtPrefix(src);
                if (dst.empty()) {
                    done.push_back(deleteAtBoot(m, from));
                } else {
                    bool replace = dst[0] == '!';
                    done.push_back(moveAtBoot(m, from, stripNtPrefix(replace ? dst.substr(1) : dst), replace));
                }
            }
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, "PendingFileRenameOperations");
                RegCloseKey(key);
            }
        }
    } else {
        std::string ini = m.windowsDir + "\\wininit.ini";
        ResolvedPath p;
        if (resolvePath(m, ini, p) == 0 && p.exists && !p.isDir) {
            for (auto& [key, value] : wininitRenames(m)) {
                // Carried out before long names are available: a line naming
                // a long name finds nothing.
                if ((!iequals(key, "NUL") && !isShortPath(key)) || !isShortPath(value))
                    done.push_back("refused " + key + "=" + value + ": long name");
                else if (iequals(key, "NUL"))
                    done.push_back(deleteAtBoot(m, value));
                else
                    done.push_back(moveAtBoot(m, value, key, true));
            }
            std::string bak = m.windowsDir + "\\WININIT.BAK";
            DWORD e = moveOp(m, ini, bak, true, false);
            done.push_back(e ? "rename " + ini + " -> " + bak + ": " + errorText(e)
                             : "renamed " + ini + " -> " + bak);
        }
    }
    // The system starts: the spooler loads the registered monitors (NT:
    // when its service runs, which a restart leaves as it was declared).
    m.spooler->loadedMonitors.clear();
    if (&m == &machine() && (!m.os.isNT() || isServiceRunning("Spooler"))) spoolerLoadMonitors(m);
    // The new start: the clock counts again from zero.
    m.bootEpochMs += (std::int64_t)m.tickMs;
    m.tickMs = 0;
    return done;
}

}  // namespace winsim
