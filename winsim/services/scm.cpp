// The service control manager calls of ADVAPI32 over the simulated service
// database. SC_HANDLEs are their own handle space (not kernel handles):
// CloseHandle does not close them and CloseServiceHandle closes nothing else.
//
// Windows 95 has no service control manager: its ADVAPI32 carries these
// entry points as stubs that fail with ERROR_CALL_NOT_IMPLEMENTED.
#include "winsim/services/state.h"

#include <cstring>
#include <set>

namespace winsim {

namespace {

constexpr DWORD kServiceNameMax = 256;

ScHandleEntry* entryOf(Machine& m, SC_HANDLE h) {
    auto it = m.services->handles.find((std::uintptr_t)h);
    return it == m.services->handles.end() ? nullptr : &it->second;
}

SC_HANDLE newHandle(Machine& m, ScHandleEntry e) {
    ServiceState& st = *m.services;
    std::uintptr_t h = st.nextHandle;
    st.nextHandle += 8;
    st.handles.emplace(h, std::move(e));
    return (SC_HANDLE)h;
}

// The service behind an open service handle, or null (ERROR_INVALID_HANDLE
// set) for a closed handle, a manager handle, or a service gone away.
Service* serviceOf(Machine& m, SC_HANDLE h, ScHandleEntry** entry = nullptr) {
    ScHandleEntry* e = entryOf(m, h);
    Service* s = (e && !e->isManager) ? findService(m, e->service) : nullptr;
    if (!s) SetLastError(ERROR_INVALID_HANDLE);
    if (entry) *entry = e;
    return s;
}

// The name a fault of a call on `h` is matched against.
std::string targetOf(Machine& m, SC_HANDLE h) {
    ScHandleEntry* e = entryOf(m, h);
    return e && !e->isManager ? e->service : std::string();
}

DWORD mapServiceGeneric(DWORD a) {
    if (a & GENERIC_READ)
        a |= STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
             SERVICE_ENUMERATE_DEPENDENTS;
    if (a & GENERIC_WRITE) a |= STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG;
    if (a & GENERIC_EXECUTE)
        a |= STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
             SERVICE_USER_DEFINED_CONTROL;
    if (a & GENERIC_ALL) a |= SERVICE_ALL_ACCESS;
    return a & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | SYNCHRONIZE);
}

DWORD mapManagerGeneric(DWORD a) {
    if (a & GENERIC_READ) a |= STANDARD_RIGHTS_READ | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (a & GENERIC_WRITE) a |= STANDARD_RIGHTS_WRITE | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (a & GENERIC_EXECUTE) a |= STANDARD_RIGHTS_EXECUTE | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (a & GENERIC_ALL) a |= SC_MANAGER_ALL_ACCESS;
    return a & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | SYNCHRONIZE);
}

// Grants `wanted` out of `granted`; MAXIMUM_ALLOWED takes whatever is granted.
bool grant(DWORD wanted, DWORD granted, DWORD& result) {
    if (wanted & MAXIMUM_ALLOWED) wanted = (wanted & ~MAXIMUM_ALLOWED) | granted;
    if (wanted & ~granted) return false;
    result = wanted;
    return true;
}

bool noScm(Machine& m) {
    if (m.os.isNT()) return false;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return true;
}

bool isActive(Machine& m, Service& s) { return serviceStatus(m, s).dwCurrentState != SERVICE_STOPPED; }

void begin(Machine& m, Service& s, const ServiceAnswer& a, DWORD pending, DWORD final) {
    if (a.steps.empty() && !a.hang) {
        s.state = final;
        s.transition.reset();
        serviceStateChanged(m, s.name, final);
        return;
    }
    ServiceTransition tr;
    tr.pendingState = pending;
    tr.finalState = final;
    tr.since = now();
    tr.steps = a.steps;
    tr.hang = a.hang;
    s.transition = tr;
}

// Every service in the order the manager starts them: the declared order,
// with each service moved after the services it depends on.
std::vector<Service*> startOrder(Machine& m) {
    std::vector<Service*> order, rest;
    for (Service& s : m.services->services) rest.push_back(&s);
    std::set<std::string, CaseLess> placed;
    while (!rest.empty()) {
        bool progress = false;
        for (auto it = rest.begin(); it != rest.end();) {
            bool ready = true;
            for (const std::string& d : (*it)->dependencies) ready = ready && placed.count(d);
            if (ready) {
                placed.insert((*it)->name);
                order.push_back(*it);
                it = rest.erase(it);
                progress = true;
                break;  // restart from the first declared service
            }
            ++it;
        }
        if (!progress) {  // a dependency cycle: the rest in declared order
            order.insert(order.end(), rest.begin(), rest.end());
            break;
        }
    }
    return order;
}

// The services that depend on `root`, directly or through others, in the
// order EnumDependentServices returns them: the reverse of the start order.
std::vector<Service*> dependentsOf(Machine& m, const Service& root) {
    std::set<std::string, CaseLess> found{root.name};
    bool grew = true;
    while (grew) {
        grew = false;
        for (Service& s : m.services->services) {
            if (found.count(s.name)) continue;
            for (const std::string& d : s.dependencies)
                if (found.count(d)) {
                    found.insert(s.name);
                    grew = true;
                    break;
                }
        }
    }
    std::vector<Service*> order = startOrder(m), result;
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        if (*it != &root && found.count((*it)->name)) result.push_back(*it);
    return result;
}

// Brings a dependency of a service being started to the running state, as
// the manager does before it starts the service itself; the caller waits
// meanwhile (the clock moves on by the dependency's start time).
DWORD startDependency(Machine& m, Service& s, std::set<std::string, CaseLess>& visiting) {
    if (!visiting.insert(s.name).second) return ERROR_CIRCULAR_DEPENDENCY;
    DWORD state = serviceStatus(m, s).dwCurrentState;
    if (state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_PAUSE_PENDING ||
        state == SERVICE_CONTINUE_PENDING)
        return 0;
    if (state == SERVICE_STOPPED) {
        if (s.startType == SERVICE_DISABLED) return ERROR_SERVICE_DEPENDENCY_FAIL;
        for (const std::string& d : s.dependencies) {
            Service* dep = findService(m, d);
            if (!dep) return ERROR_SERVICE_DEPENDENCY_FAIL;
            DWORD e = startDependency(m, *dep, visiting);
            if (e) return e == ERROR_CIRCULAR_DEPENDENCY ? e : ERROR_SERVICE_DEPENDENCY_FAIL;
        }
        if (s.onStart.refuse) return ERROR_SERVICE_DEPENDENCY_FAIL;
        begin(m, s, s.onStart, SERVICE_START_PENDING, SERVICE_RUNNING);
    }
    if (s.transition && s.transition->finalState == SERVICE_RUNNING) {
        std::uint64_t total = 0;
        for (DWORD st : s.transition->steps) total += st;
        std::uint64_t end = s.transition->since + total;
        if (end > now()) advance(end - now());
        settleServices(m);
    }
    return serviceStatus(m, s).dwCurrentState == SERVICE_RUNNING ? 0 : ERROR_SERVICE_DEPENDENCY_FAIL;
}

bool fail(DWORD e) {
    SetLastError(e);
    return false;
}

}  // namespace

}  // namespace winsim

using namespace winsim;

extern "C" {

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
    Machine& m = machine();
    if (DWORD e = injectedFault("OpenSCManagerA", lpMachineName ? lpMachineName : "")) {
        SetLastError(e);
        return nullptr;
    }
    if (noScm(m)) return nullptr;
    if (lpMachineName && *lpMachineName) {
        std::string_view name = lpMachineName;
        if (name.substr(0, 2) == "\\\\") name.remove_prefix(2);
        if (!iequals(name, m.computerName)) {
            SetLastError(RPC_S_SERVER_UNAVAILABLE);
            return nullptr;
        }
    }
    if (lpDatabaseName && !iequals(lpDatabaseName, SERVICES_ACTIVE_DATABASEA)) {
        SetLastError(iequals(lpDatabaseName, "ServicesFailed") ? ERROR_ACCESS_DENIED : ERROR_INVALID_NAME);
        return nullptr;
    }
    DWORD access = 0;
    // Connecting is always granted and always part of the handle.
    if (!grant(mapManagerGeneric(dwDesiredAccess) | SC_MANAGER_CONNECT, m.services->managerGranted | SC_MANAGER_CONNECT,
               access)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ScHandleEntry e;
    e.isManager = true;
    e.access = access;
    return newHandle(m, e);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    Machine& m = machine();
    if (DWORD e = injectedFault("OpenServiceA", lpServiceName ? lpServiceName : "")) {
        SetLastError(e);
        return nullptr;
    }
    if (noScm(m)) return nullptr;
    ScHandleEntry* mgr = entryOf(m, hSCManager);
    if (!mgr || !mgr->isManager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!lpServiceName) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    if (std::strlen(lpServiceName) > kServiceNameMax) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    Service* s = findService(m, lpServiceName);
    if (!s) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    DWORD access = 0;
    if (!grant(mapServiceGeneric(dwDesiredAccess), s->granted, access)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ScHandleEntry e;
    e.service = s->name;
    e.access = access;
    return newHandle(m, e);
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    Machine& m = machine();
    if (DWORD e = injectedFault("ControlService", targetOf(m, hService))) return fail(e);
    if (noScm(m)) return FALSE;
    ScHandleEntry* h = nullptr;
    Service* s = serviceOf(m, hService, &h);
    if (!s) return FALSE;
    DWORD needed = 0;
    switch (dwControl) {
        case SERVICE_CONTROL_STOP: needed = SERVICE_STOP; break;
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE: needed = SERVICE_PAUSE_CONTINUE; break;
        case SERVICE_CONTROL_INTERROGATE: needed = SERVICE_INTERROGATE; break;
        default:
            // User-defined controls are 128 to 255; shutdown cannot be sent.
            if (dwControl < 128 || dwControl > 255) return fail(ERROR_INVALID_PARAMETER);
            needed = SERVICE_USER_DEFINED_CONTROL;
    }
    if ((h->access & needed) != needed) return fail(ERROR_ACCESS_DENIED);
    if (!lpServiceStatus) return fail(ERROR_INVALID_ADDRESS);

    // Failures that still report the status: 1052, 1061, 1062.
    auto refuse = [&](DWORD e) {
        if (e == ERROR_INVALID_SERVICE_CONTROL || e == ERROR_SERVICE_CANNOT_ACCEPT_CTRL || e == ERROR_SERVICE_NOT_ACTIVE)
            *lpServiceStatus = serviceStatus(m, *s);
        return fail(e);
    };
    SERVICE_STATUS cur = serviceStatus(m, *s);
    switch (cur.dwCurrentState) {
        case SERVICE_STOPPED: return refuse(ERROR_SERVICE_NOT_ACTIVE);
        // Until its start is done a service takes no control, STOP included.
        case SERVICE_STOP_PENDING:
        case SERVICE_START_PENDING: return refuse(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
        default: break;
    }
    switch (dwControl) {
        case SERVICE_CONTROL_STOP: {
            if (!(s->accepts & SERVICE_ACCEPT_STOP)) return refuse(ERROR_INVALID_SERVICE_CONTROL);
            for (Service* d : dependentsOf(m, *s))
                if (isActive(m, *d)) return fail(ERROR_DEPENDENT_SERVICES_RUNNING);
            if (s->onStop.refuse) return refuse(s->onStop.refuse);
            begin(m, *s, s->onStop, SERVICE_STOP_PENDING, SERVICE_STOPPED);
            break;
        }
        case SERVICE_CONTROL_PAUSE:
            if (!(s->accepts & SERVICE_ACCEPT_PAUSE_CONTINUE)) return refuse(ERROR_INVALID_SERVICE_CONTROL);
            s->state = SERVICE_PAUSED;
            break;
        case SERVICE_CONTROL_CONTINUE:
            if (!(s->accepts & SERVICE_ACCEPT_PAUSE_CONTINUE)) return refuse(ERROR_INVALID_SERVICE_CONTROL);
            s->state = SERVICE_RUNNING;
            break;
        case SERVICE_CONTROL_INTERROGATE: break;  // every running service answers it
        default: return refuse(ERROR_INVALID_SERVICE_CONTROL);  // our services define no controls of their own
    }
    *lpServiceStatus = serviceStatus(m, *s);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    Machine& m = machine();
    if (DWORD e = injectedFault("QueryServiceStatus", targetOf(m, hService))) return fail(e);
    if (noScm(m)) return FALSE;
    ScHandleEntry* h = nullptr;
    Service* s = serviceOf(m, hService, &h);
    if (!s) return FALSE;
    // The status pointer is checked before the access right.
    if (!lpServiceStatus) return fail(ERROR_INVALID_ADDRESS);
    if (!(h->access & SERVICE_QUERY_STATUS)) return fail(ERROR_ACCESS_DENIED);
    *lpServiceStatus = serviceStatus(m, *s);
    return TRUE;
}

BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors) {
    Machine& m = machine();
    if (DWORD e = injectedFault("StartServiceA", targetOf(m, hService))) return fail(e);
    if (noScm(m)) return FALSE;
    ScHandleEntry* h = nullptr;
    Service* s = serviceOf(m, hService, &h);
    if (!s) return FALSE;
    if (!(h->access & SERVICE_START)) return fail(ERROR_ACCESS_DENIED);
    if (dwNumServiceArgs && !lpServiceArgVectors) return fail(ERROR_INVALID_PARAMETER);
    if (s->startType == SERVICE_DISABLED) return fail(ERROR_SERVICE_DISABLED);
    if (serviceStatus(m, *s).dwCurrentState != SERVICE_STOPPED) return fail(ERROR_SERVICE_ALREADY_RUNNING);
    std::set<std::string, CaseLess> visiting{s->name};
    std::string name = s->name;
    for (std::string d : std::vector<std::string>(s->dependencies)) {
        Service* dep = findService(m, d);
        DWORD e = dep ? startDependency(m, *dep, visiting) : ERROR_SERVICE_DEPENDENCY_FAIL;
        if (e) return fail(e);
    }
    s = findService(m, name);
    if (s->onStart.refuse) return fail(s->onStart.refuse);
    begin(m, *s, s->onStart, SERVICE_START_PENDING, SERVICE_RUNNING);
    return TRUE;
}

BOOL WINAPI EnumDependentServicesA(SC_HANDLE hService, DWORD dwServiceState, LPENUM_SERVICE_STATUSA lpServices,
                                   DWORD cbBufSize, LPDWORD pcbBytesNeeded, LPDWORD lpServicesReturned) {
    Machine& m = machine();
    if (DWORD e = injectedFault("EnumDependentServicesA", targetOf(m, hService))) return fail(e);
    if (noScm(m)) return FALSE;
    ScHandleEntry* h = nullptr;
    Service* s = serviceOf(m, hService, &h);
    if (!s) return FALSE;
    if (!(h->access & SERVICE_ENUMERATE_DEPENDENTS)) return fail(ERROR_ACCESS_DENIED);
    if (dwServiceState == 0 || (dwServiceState & ~SERVICE_STATE_ALL)) return fail(ERROR_INVALID_PARAMETER);
    if (!pcbBytesNeeded || !lpServicesReturned) return fail(ERROR_INVALID_ADDRESS);

    std::vector<Service*> list;
    for (Service* d : dependentsOf(m, *s)) {
        bool active = isActive(m, *d);
        if ((active && (dwServiceState & SERVICE_ACTIVE)) || (!active && (dwServiceState & SERVICE_INACTIVE)))
            list.push_back(d);
    }
    std::uint64_t need = list.size() * sizeof(ENUM_SERVICE_STATUSA);
    for (Service* d : list) need += d->name.size() + 1 + d->displayName.size() + 1;
    *pcbBytesNeeded = 0;
    *lpServicesReturned = 0;
    if (need > 0xFFFFFFFFull) return fail(ERROR_NOT_ENOUGH_MEMORY);
    if (cbBufSize < need || (!lpServices && need > 0)) {
        *pcbBytesNeeded = (DWORD)need;
        return fail(ERROR_MORE_DATA);
    }
    // Records from the start of the buffer, their strings packed against its
    // end. The caller's buffer need not be aligned: every store is a copy.
    auto* base = reinterpret_cast<unsigned char*>(lpServices);
    unsigned char* strings = base + cbBufSize;
    auto put = [&](const std::string& text) {
        strings -= text.size() + 1;
        std::memcpy(strings, text.c_str(), text.size() + 1);
        return reinterpret_cast<LPSTR>(strings);
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        ENUM_SERVICE_STATUSA rec{};
        rec.lpServiceName = put(list[i]->name);
        rec.lpDisplayName = put(list[i]->displayName);
        rec.ServiceStatus = serviceStatus(m, *list[i]);
        std::memcpy(base + i * sizeof rec, &rec, sizeof rec);
    }
    *lpServicesReturned = (DWORD)list.size();
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    Machine& m = machine();
    if (DWORD e = injectedFault("CloseServiceHandle", targetOf(m, hSCObject))) return fail(e);
    if (noScm(m)) return FALSE;
    if (!m.services->handles.erase((std::uintptr_t)hSCObject)) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

}  // extern "C"
