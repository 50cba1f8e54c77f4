// The monitor modules the spooler holds loaded (see state.h).
#include "winsim/files/paths.h"
#include "winsim/spooler/state.h"

#include <winsvc.h>

namespace winsim {

namespace {

constexpr const char* kHolder = "spooler";

// Marks the module file as loaded by the spooler; false when it is not in
// the system directory.
bool markLoaded(Machine& m, const std::string& module) {
    ResolvedPath p;
    std::string path = module.find('\\') == std::string::npos ? m.systemDir + "\\" + module : module;
    if (resolvePath(m, path, p) != 0 || !p.exists || p.isDir) return false;
    FileMeta& f = metaFor(m, p.winPath);
    // A file some other process already holds stays held by it.
    if (f.inUse == InUse::None) {
        f.inUse = InUse::Loaded;
        f.loadedBy = kHolder;
    }
    return true;
}

}  // namespace

void spoolerLoadMonitor(Machine& m, const std::string& name, const std::string& module) {
    if (markLoaded(m, module)) m.spooler->loadedMonitors[name] = module;
}

void spoolerLoadMonitors(Machine& m) {
    // Reading the registry through the Win32 functions must not change the
    // caller's last error (this runs inside other calls).
    DWORD saved = GetLastError();
    std::vector<SpoolMonitor> monitors;
    if (spoolerMonitors(monitors) == ERROR_SUCCESS)
        for (const auto& mon : monitors)
            if (!mon.driver.empty()) spoolerLoadMonitor(m, mon.name, mon.driver);
    SetLastError(saved);
}

void spoolerUnloadMonitors(Machine& m) {
    m.spooler->loadedMonitors.clear();
    for (auto it = m.files->meta.begin(); it != m.files->meta.end();) {
        FileMeta& f = it->second;
        if (f.inUse == InUse::Loaded && f.loadedBy == kHolder) {
            f.inUse = InUse::None;
            f.loadedBy.clear();
            if (f.version.empty() && !f.attributes) {
                it = m.files->meta.erase(it);
                continue;
            }
        }
        ++it;
    }
}

void spoolerServiceChanged(Machine& m, std::string_view service, DWORD state) {
    if (!m.os.isNT() || !iequals(service, "Spooler") || &m != &machine()) return;
    if (state == SERVICE_RUNNING) spoolerLoadMonitors(m);
    if (state == SERVICE_STOPPED) spoolerUnloadMonitors(m);
}

}  // namespace winsim
