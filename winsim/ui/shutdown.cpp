// ExitWindowsEx of the simulated machine: the request is recorded in the
// image and announced to whoever runs the machine; nothing is shut down.
#include "winsim/security/state.h"
#include "winsim/ui/state.h"

extern "C" BOOL WINAPI ExitWindowsEx(UINT flags, DWORD) {
    using namespace winsim;
    if (DWORD err = injectedFault("ExitWindowsEx")) {
        SetLastError(err);
        return FALSE;
    }
    // NT only lets a process shut down with SeShutdownPrivilege enabled in
    // its token; Windows 95 has no such check.
    if (machine().os.isNT() && !privilegeEnabled("SeShutdownPrivilege")) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    UINT action = flags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF);
    if (action & EWX_REBOOT) {
        machine().ui->restartRequested = true;
        notifyEvent("reboot", "");
    } else if (action) {
        notifyEvent("shutdown", "");
    } else {
        notifyEvent("logoff", "");
    }
    return TRUE;
}
