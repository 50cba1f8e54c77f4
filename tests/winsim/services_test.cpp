// Conformance tests of the service control manager: handles and access
// rights, stop and start in virtual time, refusals and hangs, dependents.
#include "winsim/core/handles.h"
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/services/query.h"
#include "winsim/services/state.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

const DWORD kSentinel = 0xdeadbeef;

// The spooler family: two printing services depend on the spooler, a fax
// service depends on one of them. Declared out of start order on purpose.
const char* kServices = R"({
  "list": [
    {"name": "FaxSvc", "display_name": "Fax Service", "state": "running", "start_type": "demand",
     "dependencies": ["NetPrint"]},
    {"name": "RpcSs", "display_name": "Remote Procedure Call", "state": "running", "start_type": "auto"},
    {"name": "Spooler", "display_name": "Spooler", "state": "running", "start_type": "auto",
     "type": "own_process", "dependencies": ["RpcSs"], "accepts": ["stop", "pause_continue"],
     "stop": {"steps": [2000, 3000]}, "start": {"steps": [1000]}},
    {"name": "LpdSvc", "display_name": "TCP/IP Print Server", "state": "running", "start_type": "auto",
     "dependencies": ["Spooler"]},
    {"name": "NetPrint", "display_name": "Network Printing", "state": "running", "start_type": "auto",
     "dependencies": ["Spooler"], "stop": {"steps": [500]}},
    {"name": "Stuck", "state": "running", "stop": {"steps": [4000], "hang": true}},
    {"name": "Stubborn", "state": "running", "stop": {"refuse": 1061}},
    {"name": "Locked", "state": "running", "stop": {"refuse": 5}},
    {"name": "NoStop", "state": "running", "accepts": []},
    {"name": "Off", "state": "stopped", "start_type": "disabled"},
    {"name": "Idle", "state": "stopped", "start_type": "demand", "dependencies": ["Base"], "start": {"steps": [800, 800]}},
    {"name": "Base", "state": "stopped", "start_type": "demand", "start": {"steps": [1500]}},
    {"name": "NeedsOff", "state": "stopped", "dependencies": ["Off"]},
    {"name": "ReadOnly", "state": "running", "granted": ["query_status", "enumerate_dependents"]}
  ]
})";

struct Scm : ::testing::Test {
    SC_HANDLE mgr = nullptr;

    void SetUp() override { machineFor(winsim::Platform::NT, kServices); }

    void machineFor(winsim::Platform p, const char* services) {
        auto& m = sim::fresh(p);
        winsim::loadService(json::parse(services), m);
        if (p == winsim::Platform::NT) {
            mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
            ASSERT_NE(mgr, nullptr);
        }
        SetLastError(kSentinel);
    }

    SC_HANDLE open(const char* name, DWORD access = SERVICE_ALL_ACCESS) {
        SC_HANDLE h = OpenServiceA(mgr, name, access);
        EXPECT_NE(h, nullptr) << name << " error " << GetLastError();
        return h;
    }

    SERVICE_STATUS query(const char* name) {
        SERVICE_STATUS st;
        std::memset(&st, 0xcc, sizeof st);
        SC_HANDLE h = open(name, SERVICE_QUERY_STATUS);
        EXPECT_TRUE(QueryServiceStatus(h, &st));
        CloseServiceHandle(h);
        return st;
    }

    BOOL stop(const char* name, SERVICE_STATUS& st) {
        std::memset(&st, 0xcc, sizeof st);
        SC_HANDLE h = open(name);
        SetLastError(kSentinel);
        BOOL ok = ControlService(h, SERVICE_CONTROL_STOP, &st);
        DWORD e = GetLastError();
        CloseServiceHandle(h);
        SetLastError(e);
        return ok;
    }

    static bool untouched(const SERVICE_STATUS& st) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&st);
        for (std::size_t i = 0; i < sizeof st; ++i)
            if (p[i] != 0xcc) return false;
        return true;
    }
};

// --- OpenSCManagerA / OpenServiceA / CloseServiceHandle ----------------------

TEST_F(Scm, ManagerOpensForLocalMachineAndActiveDatabaseOnly) {
    SC_HANDLE h = OpenSCManagerA("\\\\varden1", "servicesactive", SC_MANAGER_CONNECT);
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(CloseServiceHandle(h));
    EXPECT_LASTERROR(OpenSCManagerA("\\\\OTHER", nullptr, SC_MANAGER_CONNECT), nullptr, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_LASTERROR(OpenSCManagerA(nullptr, "Nonsense", SC_MANAGER_CONNECT), nullptr, ERROR_INVALID_NAME);
}

TEST_F(Scm, ManagerAccessBeyondGrantIsDenied) {
    auto& m = winsim::machine();
    m.services->managerGranted = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
    EXPECT_LASTERROR(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr, ERROR_ACCESS_DENIED);
    SC_HANDLE h = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    EXPECT_NE(h, nullptr);
    CloseServiceHandle(h);
}

TEST_F(Scm, OpenServiceNamesAreCaseInsensitiveAndUnknownFails) {
    SC_HANDLE h = OpenServiceA(mgr, "sPoOlEr", SERVICE_QUERY_STATUS);
    ASSERT_NE(h, nullptr);
    CloseServiceHandle(h);
    EXPECT_LASTERROR(OpenServiceA(mgr, "Printer Spooler Service", SERVICE_QUERY_STATUS), nullptr,
                     ERROR_SERVICE_DOES_NOT_EXIST);
    // Display names do not open a service.
    EXPECT_LASTERROR(OpenServiceA(mgr, "Fax Service", SERVICE_QUERY_STATUS), nullptr, ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_LASTERROR(OpenServiceA(mgr, std::string(300, 'x').c_str(), SERVICE_QUERY_STATUS), nullptr,
                     ERROR_INVALID_NAME);
}

TEST_F(Scm, HandlesAreTheirOwnSpace) {
    SC_HANDLE h = open("Spooler");
    // A service handle is not a manager handle, and no kernel handle.
    EXPECT_LASTERROR(OpenServiceA(h, "Spooler", SERVICE_QUERY_STATUS), nullptr, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(CloseHandle((HANDLE)h), ERROR_INVALID_HANDLE);
    SERVICE_STATUS st;
    EXPECT_FAILS(QueryServiceStatus(mgr, &st), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseServiceHandle(h));
    EXPECT_FAILS(CloseServiceHandle(h), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(QueryServiceStatus(h, &st), ERROR_INVALID_HANDLE);
}

TEST_F(Scm, RightsAreCheckedPerHandle) {
    SC_HANDLE q = open("Spooler", SERVICE_QUERY_STATUS);
    SERVICE_STATUS st;
    std::memset(&st, 0xcc, sizeof st);
    EXPECT_FAILS(ControlService(q, SERVICE_CONTROL_STOP, &st), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(untouched(st));
    EXPECT_FAILS(StartServiceA(q, 0, nullptr), ERROR_ACCESS_DENIED);
    DWORD need = 7, count = 7;
    EXPECT_FAILS(EnumDependentServicesA(q, SERVICE_ACTIVE, nullptr, 0, &need, &count), ERROR_ACCESS_DENIED);
    SC_HANDLE s = open("Spooler", SERVICE_START | SERVICE_STOP);
    EXPECT_FAILS(QueryServiceStatus(s, &st), ERROR_ACCESS_DENIED);
    CloseServiceHandle(q);
    CloseServiceHandle(s);
    // The grant of a service limits what can be asked for.
    EXPECT_LASTERROR(OpenServiceA(mgr, "ReadOnly", SERVICE_START | SERVICE_STOP), nullptr, ERROR_ACCESS_DENIED);
    SC_HANDLE r = OpenServiceA(mgr, "ReadOnly", SERVICE_QUERY_STATUS);
    EXPECT_NE(r, nullptr);
    CloseServiceHandle(r);
    r = OpenServiceA(mgr, "ReadOnly", MAXIMUM_ALLOWED);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(QueryServiceStatus(r, &st));
    EXPECT_FAILS(ControlService(r, SERVICE_CONTROL_STOP, &st), ERROR_ACCESS_DENIED);
    CloseServiceHandle(r);
}

// --- ControlService ----------------------------------------------------------

TEST_F(Scm, StopWithRunningDependentsIsRefused) {
    SERVICE_STATUS st;
    EXPECT_FAILS(stop("Spooler", st), ERROR_DEPENDENT_SERVICES_RUNNING);
    EXPECT_TRUE(untouched(st));
    EXPECT_EQ(query("Spooler").dwCurrentState, (DWORD)SERVICE_RUNNING);
    // An indirect dependent that runs blocks it as well.
    ASSERT_TRUE(stop("LpdSvc", st));
    ASSERT_TRUE(stop("NetPrint", st) == FALSE);  // FaxSvc still runs on it
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEPENDENT_SERVICES_RUNNING);
}

TEST_F(Scm, StopRunsItsCheckPointsInVirtualTime) {
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("FaxSvc", st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOPPED);  // no steps: stops at once
    ASSERT_TRUE(stop("LpdSvc", st));
    ASSERT_TRUE(stop("NetPrint", st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    winsim::advance(500);
    ASSERT_TRUE(stop("Spooler", st));
    EXPECT_EQ(st.dwServiceType, (DWORD)SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(st.dwCheckPoint, 1u);
    EXPECT_EQ(st.dwWaitHint, 2000u);
    EXPECT_EQ(st.dwControlsAccepted, 0u);
    EXPECT_EQ(st.dwWin32ExitCode, 0u);
    winsim::advance(1999);
    st = query("Spooler");
    EXPECT_EQ(st.dwCheckPoint, 1u);
    winsim::advance(1);
    st = query("Spooler");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(st.dwCheckPoint, 2u);
    EXPECT_EQ(st.dwWaitHint, 3000u);
    EXPECT_FALSE(winsim::isServiceRunning("spooler"));
    winsim::advance(3000);
    st = query("Spooler");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(st.dwCheckPoint, 0u);
    EXPECT_EQ(st.dwWaitHint, 0u);
}

TEST_F(Scm, StopOfStoppedOrStoppingServiceFillsStatus) {
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("FaxSvc", st));
    EXPECT_FAILS(stop("FaxSvc", st), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOPPED);
    EXPECT_EQ(st.dwCheckPoint, 0u);
    ASSERT_TRUE(stop("Stuck", st));
    EXPECT_FAILS(stop("Stuck", st), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_FAILS(stop("NoStop", st), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);
}

TEST_F(Scm, StartingServiceTakesNoControlUntilItRuns) {
    SERVICE_STATUS st;
    for (const char* n : {"FaxSvc", "NetPrint", "LpdSvc"}) ASSERT_TRUE(stop(n, st)) << n;
    winsim::advance(500);
    ASSERT_TRUE(stop("Spooler", st));
    winsim::advance(5000);
    SC_HANDLE h = open("Spooler");
    ASSERT_TRUE(StartServiceA(h, 0, nullptr));
    st = query("Spooler");
    ASSERT_EQ(st.dwCurrentState, (DWORD)SERVICE_START_PENDING);
    EXPECT_EQ(st.dwControlsAccepted, 0u);
    EXPECT_FAILS(stop("Spooler", st), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_START_PENDING);
    winsim::advance(5000);
    st = query("Spooler");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(st.dwControlsAccepted, (DWORD)(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE));
    CloseServiceHandle(h);
}

TEST_F(Scm, RefusalsFillStatusOnlyForTheDocumentedCodes) {
    SERVICE_STATUS st;
    EXPECT_FAILS(stop("Stubborn", st), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_FAILS(stop("Locked", st), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(untouched(st));
    EXPECT_EQ(query("Locked").dwCurrentState, (DWORD)SERVICE_RUNNING);
}

TEST_F(Scm, HungStopStaysPendingWithFrozenCheckPoint) {
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("Stuck", st));
    EXPECT_EQ(st.dwCheckPoint, 1u);
    EXPECT_EQ(st.dwWaitHint, 4000u);
    winsim::advance(3600 * 1000);
    st = query("Stuck");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(st.dwCheckPoint, 1u);
}

TEST_F(Scm, PauseContinueInterrogateAndBadControls) {
    SC_HANDLE h = open("Spooler");
    SERVICE_STATUS st;
    EXPECT_TRUE(ControlService(h, SERVICE_CONTROL_PAUSE, &st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_PAUSED);
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));
    EXPECT_TRUE(ControlService(h, SERVICE_CONTROL_CONTINUE, &st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_TRUE(ControlService(h, SERVICE_CONTROL_INTERROGATE, &st));
    EXPECT_EQ(st.dwControlsAccepted, (DWORD)(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE));
    EXPECT_FAILS(ControlService(h, SERVICE_CONTROL_SHUTDOWN, &st), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(ControlService(h, 200, &st), ERROR_INVALID_SERVICE_CONTROL);
    CloseServiceHandle(h);
    h = open("LpdSvc");
    EXPECT_FAILS(ControlService(h, SERVICE_CONTROL_PAUSE, &st), ERROR_INVALID_SERVICE_CONTROL);
    CloseServiceHandle(h);
}

// --- StartServiceA -----------------------------------------------------------

TEST_F(Scm, StartRefusesRunningAndDisabledServices) {
    SC_HANDLE h = open("Spooler");
    EXPECT_FAILS(StartServiceA(h, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);
    CloseServiceHandle(h);
    h = open("Off");
    EXPECT_FAILS(StartServiceA(h, 0, nullptr), ERROR_SERVICE_DISABLED);
    CloseServiceHandle(h);
    h = open("NeedsOff");
    EXPECT_FAILS(StartServiceA(h, 0, nullptr), ERROR_SERVICE_DEPENDENCY_FAIL);
    EXPECT_EQ(query("NeedsOff").dwCurrentState, (DWORD)SERVICE_STOPPED);
    CloseServiceHandle(h);
}

TEST_F(Scm, StartBringsUpStoppedDependencyFirst) {
    SC_HANDLE h = open("Idle");
    std::uint64_t before = winsim::now();
    ASSERT_TRUE(StartServiceA(h, 0, nullptr));
    // The manager waited for "Base" to run before it started "Idle".
    EXPECT_EQ(winsim::now() - before, 1500u);
    EXPECT_EQ(query("Base").dwCurrentState, (DWORD)SERVICE_RUNNING);
    SERVICE_STATUS st = query("Idle");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_START_PENDING);
    EXPECT_EQ(st.dwCheckPoint, 1u);
    EXPECT_EQ(st.dwWaitHint, 800u);
    EXPECT_FALSE(winsim::isServiceRunning("Idle"));
    winsim::advance(800);
    EXPECT_EQ(query("Idle").dwCheckPoint, 2u);
    winsim::advance(800);
    st = query("Idle");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(st.dwCheckPoint, 0u);
    EXPECT_TRUE(winsim::isServiceRunning("IDLE"));
    // Starting again while it runs.
    EXPECT_FAILS(StartServiceA(h, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);
    CloseServiceHandle(h);
}

TEST_F(Scm, StopThenStartTheSpoolerFamily) {
    SERVICE_STATUS st;
    for (const char* n : {"FaxSvc", "NetPrint", "LpdSvc"}) ASSERT_TRUE(stop(n, st)) << n;
    winsim::advance(500);
    ASSERT_TRUE(stop("Spooler", st));
    winsim::advance(5000);
    ASSERT_EQ(query("Spooler").dwCurrentState, (DWORD)SERVICE_STOPPED);
    SC_HANDLE h = open("Spooler");
    ASSERT_TRUE(StartServiceA(h, 0, nullptr));
    EXPECT_EQ(query("Spooler").dwCurrentState, (DWORD)SERVICE_START_PENDING);
    // Starting a dependent of a spooler still starting waits for it.
    SC_HANDLE f = open("FaxSvc");
    ASSERT_TRUE(StartServiceA(f, 0, nullptr));
    EXPECT_EQ(query("Spooler").dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(query("NetPrint").dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(query("FaxSvc").dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(query("LpdSvc").dwCurrentState, (DWORD)SERVICE_STOPPED);
    CloseServiceHandle(f);
    CloseServiceHandle(h);
}

// --- EnumDependentServicesA --------------------------------------------------

struct Guarded {
    std::vector<unsigned char> mem;
    std::size_t offset, size;
    Guarded(std::size_t size, std::size_t offset = 0) : mem(offset + size + 16, 0xab), offset(offset), size(size) {}
    LPENUM_SERVICE_STATUSA buf() { return reinterpret_cast<LPENUM_SERVICE_STATUSA>(mem.data() + offset); }
    bool guardIntact() const {
        for (std::size_t i = offset + size; i < mem.size(); ++i)
            if (mem[i] != 0xab) return false;
        for (std::size_t i = 0; i < offset; ++i)
            if (mem[i] != 0xab) return false;
        return true;
    }
    bool untouched() const {
        for (unsigned char c : mem)
            if (c != 0xab) return false;
        return true;
    }
    ENUM_SERVICE_STATUSA record(std::size_t i) const {
        ENUM_SERVICE_STATUSA r;
        std::memcpy(&r, mem.data() + offset + i * sizeof r, sizeof r);
        return r;
    }
};

std::size_t expectedSize(const std::vector<std::pair<std::string, std::string>>& names) {
    std::size_t n = names.size() * sizeof(ENUM_SERVICE_STATUSA);
    for (auto& [a, b] : names) n += a.size() + 1 + b.size() + 1;
    return n;
}

TEST_F(Scm, DependentsComeInReverseStartOrderWithSizeProtocol) {
    SC_HANDLE h = open("Spooler", SERVICE_ENUMERATE_DEPENDENTS);
    const std::vector<std::pair<std::string, std::string>> want = {
        {"FaxSvc", "Fax Service"}, {"NetPrint", "Network Printing"}, {"LpdSvc", "TCP/IP Print Server"}};
    const std::size_t size = expectedSize(want);

    DWORD need = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_FAILS(EnumDependentServicesA(h, SERVICE_ACTIVE, nullptr, 0, &need, &count), ERROR_MORE_DATA);
    EXPECT_EQ(need, size);
    EXPECT_EQ(count, 0u);

    Guarded small(size - 1);
    SetLastError(kSentinel);
    need = count = 0xdeadbeef;
    EXPECT_FAILS(EnumDependentServicesA(h, SERVICE_ACTIVE, small.buf(), (DWORD)(size - 1), &need, &count),
                 ERROR_MORE_DATA);
    EXPECT_EQ(need, size);
    EXPECT_TRUE(small.untouched());

    // Four bytes into the block, as a caller that keeps a count in front of it.
    Guarded exact(size, 4);
    SetLastError(kSentinel);
    ASSERT_TRUE(EnumDependentServicesA(h, SERVICE_ACTIVE, exact.buf(), (DWORD)size, &need, &count));
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(exact.guardIntact());
    const char* lo = reinterpret_cast<const char*>(exact.mem.data() + 4 + 3 * sizeof(ENUM_SERVICE_STATUSA));
    const char* hi = reinterpret_cast<const char*>(exact.mem.data() + 4 + size);
    std::size_t stringBytes = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        ENUM_SERVICE_STATUSA r = exact.record(i);
        EXPECT_STREQ(r.lpServiceName, want[i].first.c_str());
        EXPECT_STREQ(r.lpDisplayName, want[i].second.c_str());
        EXPECT_GE(r.lpServiceName, lo);
        EXPECT_LT(r.lpServiceName, hi);
        EXPECT_GE(r.lpDisplayName, lo);
        EXPECT_LT(r.lpDisplayName, hi);
        EXPECT_EQ(r.ServiceStatus.dwCurrentState, (DWORD)SERVICE_RUNNING);
        stringBytes += std::strlen(r.lpServiceName) + std::strlen(r.lpDisplayName) + 2;
    }
    EXPECT_EQ(lo + stringBytes, hi);  // the strings fill the rest exactly

    // A larger buffer: strings are packed against its end.
    Guarded big(size + 64);
    ASSERT_TRUE(EnumDependentServicesA(h, SERVICE_ACTIVE, big.buf(), (DWORD)(size + 64), &need, &count));
    EXPECT_TRUE(big.guardIntact());
    const char* end = reinterpret_cast<const char*>(big.mem.data() + size + 64);
    ENUM_SERVICE_STATUSA first = big.record(0);
    EXPECT_EQ(first.lpServiceName + std::strlen(first.lpServiceName) + 1, end);
    CloseServiceHandle(h);
}

TEST_F(Scm, DependentsFilteredByState) {
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("LpdSvc", st));
    SC_HANDLE h = open("Spooler", SERVICE_ENUMERATE_DEPENDENTS);
    auto names = [&](DWORD which) {
        DWORD need = 0, count = 0;
        std::vector<std::string> out;
        EnumDependentServicesA(h, which, nullptr, 0, &need, &count);
        std::vector<unsigned char> buf(need + 1);
        if (!EnumDependentServicesA(h, which, reinterpret_cast<LPENUM_SERVICE_STATUSA>(buf.data()), need, &need, &count))
            return out;
        for (DWORD i = 0; i < count; ++i) out.push_back(reinterpret_cast<ENUM_SERVICE_STATUSA*>(buf.data())[i].lpServiceName);
        return out;
    };
    EXPECT_EQ(names(SERVICE_ACTIVE), (std::vector<std::string>{"FaxSvc", "NetPrint"}));
    EXPECT_EQ(names(SERVICE_INACTIVE), (std::vector<std::string>{"LpdSvc"}));
    EXPECT_EQ(names(SERVICE_STATE_ALL), (std::vector<std::string>{"FaxSvc", "NetPrint", "LpdSvc"}));
    DWORD need = 1, count = 1;
    EXPECT_FAILS(EnumDependentServicesA(h, 4, nullptr, 0, &need, &count), ERROR_INVALID_PARAMETER);
    CloseServiceHandle(h);
}

TEST_F(Scm, NoDependentsSucceedsWithNothingNeeded) {
    SC_HANDLE h = open("FaxSvc", SERVICE_ENUMERATE_DEPENDENTS);
    DWORD need = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_TRUE(EnumDependentServicesA(h, SERVICE_ACTIVE, nullptr, 0, &need, &count));
    EXPECT_EQ(need, 0u);
    EXPECT_LASTERROR(count, 0u, kSentinel);
    CloseServiceHandle(h);
}

// --- faults, platform, image -------------------------------------------------

TEST_F(Scm, DeclaredFaultHitsOnlyItsService) {
    winsim::machine().faults.push_back({"ControlService", 1, 0, ERROR_SERVICE_REQUEST_TIMEOUT, "LpdSvc"});
    SERVICE_STATUS st;
    EXPECT_FAILS(stop("LpdSvc", st), ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_TRUE(untouched(st));
    EXPECT_TRUE(stop("FaxSvc", st));
}

TEST_F(Scm, Windows95HasNoServiceManager) {
    machineFor(winsim::Platform::Win95, "null");
    EXPECT_LASTERROR(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr, ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));
}

TEST_F(Scm, UnknownServiceIsNotRunning) { EXPECT_FALSE(winsim::isServiceRunning("Nothing")); }

TEST_F(Scm, ImageSectionKeepsPendingStopAcrossSave) {
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("Stuck", st));
    auto& m = winsim::machine();
    json saved;
    winsim::saveService(saved, m);
    std::uint64_t tick = m.tickMs;
    auto& m2 = sim::fresh();
    m2.tickMs = tick;
    winsim::loadService(saved, m2);
    json again;
    winsim::saveService(again, m2);
    EXPECT_EQ(saved, again);
    mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_EQ(query("Stuck").dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    std::ostringstream out;
    winsim::showService(out, m2);
    EXPECT_NE(out.str().find("  Spooler: running, auto start, depends on RpcSs"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("FaxSvc (Fax Service): running, demand start, depends on NetPrint"), std::string::npos);
    EXPECT_NE(out.str().find("Stuck: stop_pending"), std::string::npos);
}

TEST(ScmImage, MalformedSectionsNameTheProblem) {
    auto& m = sim::fresh();
    auto message = [&](const char* text) {
        try {
            winsim::loadService(json::parse(text), m);
        } catch (const winsim::ImageError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message(R"({"list":[{"name":"A","dependencies":["B"]}]})").find("unknown service \"B\""), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"name":"A","state":"sleeping"}]})").find("A.state"), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"name":"A"},{"name":"a"}]})").find("declared twice"), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"name":"A","stop":{"refuse":0}}]})").find("A.stop.refuse"), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"name":"A","state":"stop_pending"}]})").find("pending"), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"display_name":"A"}]})").find("name"), std::string::npos);
}

}  // namespace

namespace {

TEST(ScmDefaults, FreshNtRunsTheSpoolerAndItStopsInTime) {
    auto& m = sim::fresh();
    winsim::addDefaultServices(m);
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));
    SC_HANDLE mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE h = OpenServiceA(mgr, "Spooler", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    Sleep(st.dwWaitHint);
    ASSERT_TRUE(QueryServiceStatus(h, &st));
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_STOPPED);
    CloseServiceHandle(h);
    CloseServiceHandle(mgr);
    auto& m95 = sim::fresh(winsim::Platform::Win95);
    winsim::addDefaultServices(m95);
    EXPECT_TRUE(m95.services->services.empty());
}

}  // namespace
