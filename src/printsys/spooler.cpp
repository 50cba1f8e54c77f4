// Spooler service control: stopping the "Spooler" service with its active
// dependents and starting them again, and asking whether it runs.
#include "printsys/printsys.h"

#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kSpooler[] = "Spooler";
const DWORD kDependentWaitCapMs = 5000;
const DWORD kSettleMs = 3000;

// The stop waits refresh the status with QueryServiceStatus, which the
// service control manager refuses on a handle without SERVICE_QUERY_STATUS;
// without it every wait would end after its first pass, and a spooler that
// takes more than one pass to stop would count as not stopped.
const DWORD kStopAccess = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;
const DWORD kStartAccess = SERVICE_START | SERVICE_STOP;

// Waits while `service` reports progress on its way to SERVICE_STOPPED: the
// check point grows and the wait hint is not 0. Each pass sleeps the hint,
// capped at `capMs` when that is not 0, then refreshes `status`. A failed
// query leaves the record unchanged, which ends the loop at the check point.
void waitForStop(SC_HANDLE service, SERVICE_STATUS* status, DWORD capMs) {
    DWORD previousCheckPoint = 0;
    while (status->dwCurrentState != SERVICE_STOPPED && status->dwCheckPoint > previousCheckPoint &&
           status->dwWaitHint != 0) {
        DWORD wait = status->dwWaitHint;
        if (capMs != 0 && wait > capMs) wait = capMs;
        Sleep(wait);
        previousCheckPoint = status->dwCheckPoint;
        QueryServiceStatus(service, status);
    }
}

// Joins the two pieces of a restart message in MessageBuffer and ends setup
// with `error` as its argument.
[[noreturn]] void failWithRestart(const char* firstPiece, DWORD error) {
    joinMessage(firstPiece, "to a clean system before re-running this program.");
    FailSetup(Setup.MessageBuffer, error);
}

}  // namespace

DWORD stopNamedService(SC_HANDLE manager, LPCSTR serviceName) {
    ScopedService service(OpenServiceA(manager, serviceName, kStopAccess));
    if (!service) return STS_FAILED;

    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return STS_FAILED;

    waitForStop(service.get(), &status, kDependentWaitCapMs);
    return STS_DONE;
}

DWORD stopSpooler(DependentServiceList** list) {
    if (list == nullptr) return STS_FAILED;

    ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return STS_FAILED;
    ScopedService spooler(
        OpenServiceA(manager.get(), kSpooler, kStopAccess | SERVICE_ENUMERATE_DEPENDENTS));
    if (!spooler) return STS_FAILED;

    DWORD needed = 0;
    DWORD count = 0;
    BOOL none = EnumDependentServicesA(spooler.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count);
    // A manager that answers "more data" with nothing needed has no active
    // dependents either.
    if (!none && GetLastError() == ERROR_MORE_DATA && needed == 0) none = TRUE;
    if (none) {
        *list = nullptr;
    } else {
        DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA) failWithRestart("Unable to check spooler dependents, error = %d.  Please restart ", error);

        // The records follow the count at the offset their pointers need;
        // the block is zero-filled and lives until the process ends.
        auto* block = static_cast<DependentServiceList*>(std::calloc(1, needed + kDependentRecordsOffset));
        if (block == nullptr) {
            failWithRestart("Unable to access spooler dependents, error = %d.  Please restart ",
                            ERROR_NOT_ENOUGH_MEMORY);
        }
        *list = block;
        DWORD needed2 = 0;
        if (!EnumDependentServicesA(spooler.get(), SERVICE_ACTIVE, block->Services, needed, &needed2, &block->Count)) {
            failWithRestart("Unable to access spooler dependents, error = %d.  Please restart ", GetLastError());
        }
        for (DWORD i = 0; i < block->Count; ++i) stopNamedService(manager.get(), block->Services[i].lpServiceName);
    }

    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    if (!ControlService(spooler.get(), SERVICE_CONTROL_STOP, &status)) return STS_FAILED;

    waitForStop(spooler.get(), &status, 0);
    spooler.reset();
    manager.reset();
    if (status.dwCurrentState != SERVICE_STOPPED) return STS_FAILED;

    Sleep(kSettleMs);
    killPrintManager();
    return STS_DONE;
}

DWORD startNamedService(SC_HANDLE manager, LPCSTR serviceName) {
    ScopedService service(OpenServiceA(manager, serviceName, kStartAccess));
    if (!service) return STS_FAILED;
    BOOL started = StartServiceA(service.get(), 0, nullptr);
    // Closing must not disturb the error a failed start left for the caller.
    DWORD error = GetLastError();
    service.reset();
    SetLastError(error);
    return started ? STS_DONE : STS_FAILED;
}

DWORD startSpooler(DependentServiceList** list) {
    ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return STS_FAILED;

    if (!stsSucceeded(startNamedService(manager.get(), kSpooler))) {
        DWORD error = GetLastError();
        manager.reset();
        SetLastError(error);
        return STS_FAILED;
    }

    if (list != nullptr && *list != nullptr) {
        DependentServiceList* dependents = *list;
        for (DWORD i = dependents->Count; i > 0; --i)
            startNamedService(manager.get(), dependents->Services[i - 1].lpServiceName);
    }

    manager.reset();
    Sleep(kSettleMs);
    return STS_DONE;
}

BOOL isSpoolerRunning(void) {
    ScopedService manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return FALSE;
    ScopedService spooler(OpenServiceA(manager.get(), kSpooler, SERVICE_QUERY_STATUS));
    if (!spooler) return FALSE;

    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    BOOL queried = QueryServiceStatus(spooler.get(), &status);
    return queried && (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_START_PENDING);
}
