#include "winsim/services/query.h"

#include "winsim/services/state.h"

namespace winsim {

bool isServiceRunning(std::string_view name) {
    Machine& m = machine();
    if (!m.os.isNT()) return true;  // Windows 95 has no services: these parts of the system always run
    Service* s = findService(m, name);
    if (!s) return false;
    DWORD st = serviceStatus(m, *s).dwCurrentState;
    return st == SERVICE_RUNNING || st == SERVICE_PAUSE_PENDING || st == SERVICE_PAUSED || st == SERVICE_CONTINUE_PENDING;
}

}  // namespace winsim
