// Service control manager cases: opening, status, start and stop errors,
// the order of parameter checks. Windows 95 has no service control manager:
// every case but the last returns at once there (see services.none_on_windows95).
#include "conformance/conformance.h"

#include <winsvc.h>

namespace {

// A connected service control manager, closed on every path.
struct Manager {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    Manager() { CHECK_TRUE(scm != nullptr); }
    ~Manager() {
        if (scm) CloseServiceHandle(scm);
    }
};

// The spooler's service opened with `rights` through a connected manager;
// both handles are closed on every path.
struct Spooler {
    Manager m;
    SC_HANDLE svc = nullptr;
    explicit Spooler(DWORD rights) {
        svc = m.scm ? OpenServiceA(m.scm, "Spooler", rights) : nullptr;
        CHECK_TRUE(svc != nullptr);
    }
    ~Spooler() {
        if (svc) CloseServiceHandle(svc);
    }
};

}  // namespace

// The manager's databases and services by name.
CASE(services, open_by_name) {
    if (conformance::isWin95()) return;
    CHECK_FAILS(OpenSCManagerA(nullptr, "NoSuchDatabase", SC_MANAGER_CONNECT), nullptr, ERROR_INVALID_NAME);
    SC_HANDLE scm = OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_CONNECT);
    CHECK_TRUE(scm != nullptr);
    if (scm) CloseServiceHandle(scm);
    Manager m;
    if (m.scm)
        CHECK_FAILS(OpenServiceA(m.scm, "NoSuchConformanceService", SERVICE_QUERY_STATUS), nullptr,
                    ERROR_SERVICE_DOES_NOT_EXIST);
}

// The spooler runs; calls that succeed leave the last error alone.
CASE(services, spooler_running_status) {
    if (conformance::isWin95()) return;
    Manager m;
    if (!m.scm) return;
    SetLastError(0xdeadbeef);
    SC_HANDLE svc = OpenServiceA(m.scm, "Spooler", SERVICE_QUERY_STATUS);
    CHECK_TRUE(svc != nullptr);
    CHECK_ERROR(0xdeadbeef);
    if (!svc) return;
    SERVICE_STATUS status = {};
    CHECK_EQ(QueryServiceStatus(svc, &status), TRUE);
    CHECK_EQ(status.dwCurrentState, SERVICE_RUNNING);
    CHECK_EQ(status.dwCheckPoint, 0);
    CHECK_TRUE((status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0);
    CHECK_EQ(CloseServiceHandle(svc), TRUE);
    CHECK_ERROR(0xdeadbeef);
}

CASE(services, refusals) {
    if (conformance::isWin95()) return;
    SERVICE_STATUS status;
    CHECK_FAILS(QueryServiceStatus(nullptr, &status), FALSE, ERROR_INVALID_HANDLE);
    CHECK_FAILS(CloseServiceHandle(nullptr), FALSE, ERROR_INVALID_HANDLE);
    Spooler s(SERVICE_START | SERVICE_QUERY_STATUS);
    if (!s.svc) return;
    CHECK_FAILS(StartServiceA(s.svc, 0, nullptr), FALSE, ERROR_SERVICE_ALREADY_RUNNING);
    CHECK_FAILS(ControlService(s.svc, SERVICE_CONTROL_STOP, &status), FALSE, ERROR_ACCESS_DENIED);
    // Opened without SERVICE_QUERY_STATUS: a null status pointer is
    // reported before the missing right.
    Spooler t(SERVICE_START);
    if (!t.svc) return;
    CHECK_FAILS(QueryServiceStatus(t.svc, nullptr), FALSE, ERROR_INVALID_ADDRESS);
    CHECK_FAILS(QueryServiceStatus(t.svc, &status), FALSE, ERROR_ACCESS_DENIED);
}

CASE(services, dependents_size_query) {
    if (conformance::isWin95()) return;
    Spooler s(SERVICE_ENUMERATE_DEPENDENTS);
    DWORD needed = 77, count = 77;
    if (!s.svc) return;
    // Nothing depends on the spooler on a fresh system.
    CHECK_EQ(EnumDependentServicesA(s.svc, SERVICE_ACTIVE, nullptr, 0, &needed, &count), TRUE);
    CHECK_EQ(needed, 0);
    CHECK_EQ(count, 0);
}

CASE(services, none_on_windows95) {
    if (!conformance::isWin95()) return;
    CHECK_FAILS(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT), nullptr, ERROR_CALL_NOT_IMPLEMENTED);
}
