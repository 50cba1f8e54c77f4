// Conformance tests of the service control manager: handles and access
// rights, stop and start in virtual time, refusals and hangs, dependents.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/services/query.h"
#include "winsim/services/state.h"
#include "sim.h"

#include <winsvc.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

using nlohmann::json;

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

constexpr DWORD kBothControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;

struct Scm : ::testing::Test {
    SC_HANDLE mgr = nullptr;

    void SetUp() override {
        winsim::loadService(json::parse(kServices), sim::fresh());
        mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(mgr, nullptr);
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
    void expectStatus(const char* name, DWORD state, DWORD checkPoint, DWORD waitHint) {
        SERVICE_STATUS st = query(name);
        EXPECT_EQ(st.dwCurrentState, state) << name;
        EXPECT_EQ(st.dwCheckPoint, checkPoint) << name;
        EXPECT_EQ(st.dwWaitHint, waitHint) << name;
    }
    // Sends a stop through a handle of its own; `st` is filled with 0xcc before.
    BOOL stop(const char* name, SERVICE_STATUS& st) {
        std::memset(&st, 0xcc, sizeof st);
        SC_HANDLE h = open(name);
        SetLastError(sim::kSentinel);
        BOOL ok = ControlService(h, SERVICE_CONTROL_STOP, &st);
        DWORD e = GetLastError();
        CloseServiceHandle(h);
        SetLastError(e);
        return ok;
    }
    // Stops the spooler's dependents, then the spooler, and waits until it stopped.
    void stopFamily() {
        SERVICE_STATUS st;
        for (const char* n : {"FaxSvc", "NetPrint", "LpdSvc"}) ASSERT_TRUE(stop(n, st)) << n;
        winsim::advance(500);
        ASSERT_TRUE(stop("Spooler", st));
        winsim::advance(5000);
        ASSERT_EQ(query("Spooler").dwCurrentState, (DWORD)SERVICE_STOPPED);
    }
    static bool untouched(const SERVICE_STATUS& st) {
        const auto* p = reinterpret_cast<const unsigned char*>(&st);
        return std::all_of(p, p + sizeof st, [](unsigned char c) { return c == 0xcc; });
    }
};

TEST_F(Scm, OpeningTheManagerAndServices) {
    SC_HANDLE h = OpenSCManagerA("\\\\varden1", "servicesactive", SC_MANAGER_CONNECT);
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(CloseServiceHandle(h));
    EXPECT_LASTERROR(OpenSCManagerA("\\\\OTHER", nullptr, SC_MANAGER_CONNECT), nullptr, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_LASTERROR(OpenSCManagerA(nullptr, "Nonsense", SC_MANAGER_CONNECT), nullptr, ERROR_INVALID_NAME);
    // Names ignore case; display names open nothing.
    h = OpenServiceA(mgr, "sPoOlEr", SERVICE_QUERY_STATUS);
    EXPECT_NE(h, nullptr);
    CloseServiceHandle(h);
    for (const char* name : {"Printer Spooler Service", "Fax Service"})
        EXPECT_LASTERROR(OpenServiceA(mgr, name, SERVICE_QUERY_STATUS), nullptr, ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_LASTERROR(OpenServiceA(mgr, std::string(300, 'x').c_str(), SERVICE_QUERY_STATUS), nullptr,
                     ERROR_INVALID_NAME);
    // The manager's grant limits what a manager handle can ask for.
    winsim::machine().services->managerGranted =
        SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
    EXPECT_LASTERROR(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr, ERROR_ACCESS_DENIED);
    h = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    EXPECT_NE(h, nullptr);
    CloseServiceHandle(h);
}

TEST_F(Scm, HandlesAreTheirOwnSpaceAndCarryTheirRights) {
    SC_HANDLE h = open("Spooler");
    SERVICE_STATUS st;
    // A service handle is not a manager handle, and no kernel handle.
    EXPECT_LASTERROR(OpenServiceA(h, "Spooler", SERVICE_QUERY_STATUS), nullptr, ERROR_INVALID_HANDLE);
    EXPECT_FAILS(CloseHandle((HANDLE)h), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(QueryServiceStatus(mgr, &st), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseServiceHandle(h));
    EXPECT_FAILS(CloseServiceHandle(h), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(QueryServiceStatus(h, &st), ERROR_INVALID_HANDLE);

    SC_HANDLE q = open("Spooler", SERVICE_QUERY_STATUS), s = open("Spooler", SERVICE_START | SERVICE_STOP);
    std::memset(&st, 0xcc, sizeof st);
    EXPECT_FAILS(ControlService(q, SERVICE_CONTROL_STOP, &st), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(untouched(st));
    EXPECT_FAILS(StartServiceA(q, 0, nullptr), ERROR_ACCESS_DENIED);
    DWORD need = 7, count = 7;
    EXPECT_FAILS(EnumDependentServicesA(q, SERVICE_ACTIVE, nullptr, 0, &need, &count), ERROR_ACCESS_DENIED);
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

TEST_F(Scm, RefusedStopsAndWhatTheyFillIn) {
    // An indirect dependent that runs blocks a stop as well.
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("LpdSvc", st));
    EXPECT_FAILS(stop("NetPrint", st), ERROR_DEPENDENT_SERVICES_RUNNING);  // FaxSvc runs on it
    // A declared fault comes first and hits only its service.
    winsim::machine().faults.push_back({"ControlService", 1, 0, ERROR_SERVICE_REQUEST_TIMEOUT, "NetPrint"});
    EXPECT_FAILS(stop("NetPrint", st), ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_TRUE(untouched(st));
    // `state` 0: the status is left untouched and the service runs on.
    const struct {
        const char* name;
        bool stoppedBefore;
        DWORD error, state;
    } rows[] = {
        {"Spooler", false, ERROR_DEPENDENT_SERVICES_RUNNING, 0},
        {"FaxSvc", true, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
        {"Stuck", true, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_STOP_PENDING},
        {"NoStop", false, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING},
        {"Stubborn", false, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_RUNNING},
        {"Locked", false, ERROR_ACCESS_DENIED, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.stoppedBefore) {
            ASSERT_TRUE(stop(r.name, st));
        }
        EXPECT_FAILS(stop(r.name, st), r.error);
        if (r.state == 0) {
            EXPECT_TRUE(untouched(st));
            EXPECT_EQ(query(r.name).dwCurrentState, (DWORD)SERVICE_RUNNING);
        } else {
            EXPECT_EQ(st.dwCurrentState, r.state);
            EXPECT_EQ(st.dwCheckPoint, r.state == SERVICE_STOP_PENDING ? 1u : 0u);
        }
    }
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
    EXPECT_EQ(query("Spooler").dwCheckPoint, 1u);
    winsim::advance(1);
    expectStatus("Spooler", SERVICE_STOP_PENDING, 2, 3000);
    EXPECT_FALSE(winsim::isServiceRunning("spooler"));
    winsim::advance(3000);
    expectStatus("Spooler", SERVICE_STOPPED, 0, 0);
    // A hung stop stays pending with its check point frozen.
    ASSERT_TRUE(stop("Stuck", st));
    EXPECT_EQ(st.dwCheckPoint, 1u);
    EXPECT_EQ(st.dwWaitHint, 4000u);
    winsim::advance(3600 * 1000);
    expectStatus("Stuck", SERVICE_STOP_PENDING, 1, 4000);
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
    EXPECT_EQ(st.dwControlsAccepted, kBothControls);
    EXPECT_FAILS(ControlService(h, SERVICE_CONTROL_SHUTDOWN, &st), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(ControlService(h, 200, &st), ERROR_INVALID_SERVICE_CONTROL);
    CloseServiceHandle(h);
    h = open("LpdSvc");
    EXPECT_FAILS(ControlService(h, SERVICE_CONTROL_PAUSE, &st), ERROR_INVALID_SERVICE_CONTROL);
    CloseServiceHandle(h);
}

// --- StartServiceA -----------------------------------------------------------

TEST_F(Scm, StartRefusals) {
    const std::pair<const char*, DWORD> rows[] = {{"Spooler", ERROR_SERVICE_ALREADY_RUNNING},
                                                  {"Off", ERROR_SERVICE_DISABLED},
                                                  {"NeedsOff", ERROR_SERVICE_DEPENDENCY_FAIL}};
    for (auto [name, error] : rows) {
        SC_HANDLE h = open(name);
        EXPECT_FAILS(StartServiceA(h, 0, nullptr), error);
        CloseServiceHandle(h);
    }
    EXPECT_EQ(query("NeedsOff").dwCurrentState, (DWORD)SERVICE_STOPPED);
}

TEST_F(Scm, StartBringsUpStoppedDependencyFirst) {
    SC_HANDLE h = open("Idle");
    std::uint64_t before = winsim::now();
    ASSERT_TRUE(StartServiceA(h, 0, nullptr));
    // The manager waited for "Base" to run before it started "Idle".
    EXPECT_EQ(winsim::now() - before, 1500u);
    EXPECT_EQ(query("Base").dwCurrentState, (DWORD)SERVICE_RUNNING);
    expectStatus("Idle", SERVICE_START_PENDING, 1, 800);
    EXPECT_FALSE(winsim::isServiceRunning("Idle"));
    winsim::advance(800);
    EXPECT_EQ(query("Idle").dwCheckPoint, 2u);
    winsim::advance(800);
    expectStatus("Idle", SERVICE_RUNNING, 0, 0);
    EXPECT_TRUE(winsim::isServiceRunning("IDLE"));
    EXPECT_FAILS(StartServiceA(h, 0, nullptr), ERROR_SERVICE_ALREADY_RUNNING);
    CloseServiceHandle(h);
}

TEST_F(Scm, StopThenStartTheSpoolerFamily) {
    stopFamily();
    SC_HANDLE h = open("Spooler");
    ASSERT_TRUE(StartServiceA(h, 0, nullptr));
    SERVICE_STATUS st = query("Spooler");
    ASSERT_EQ(st.dwCurrentState, (DWORD)SERVICE_START_PENDING);
    EXPECT_EQ(st.dwControlsAccepted, 0u);  // no control until it runs
    EXPECT_FAILS(stop("Spooler", st), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_START_PENDING);
    // Starting a dependent of a spooler still starting waits for it.
    SC_HANDLE f = open("FaxSvc");
    ASSERT_TRUE(StartServiceA(f, 0, nullptr));
    st = query("Spooler");
    EXPECT_EQ(st.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(st.dwControlsAccepted, kBothControls);
    EXPECT_EQ(query("NetPrint").dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(query("FaxSvc").dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(query("LpdSvc").dwCurrentState, (DWORD)SERVICE_STOPPED);
    CloseServiceHandle(f);
    CloseServiceHandle(h);
}

// --- EnumDependentServicesA --------------------------------------------------

TEST_F(Scm, DependentsComeInReverseStartOrderWithSizeProtocol) {
    SC_HANDLE h = open("Spooler", SERVICE_ENUMERATE_DEPENDENTS);
    const std::pair<std::string, std::string> want[] = {
        {"FaxSvc", "Fax Service"}, {"NetPrint", "Network Printing"}, {"LpdSvc", "TCP/IP Print Server"}};
    std::size_t size = 3 * sizeof(ENUM_SERVICE_STATUSA);
    for (auto& [a, b] : want) size += a.size() + 1 + b.size() + 1;

    DWORD need = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_FAILS(EnumDependentServicesA(h, SERVICE_ACTIVE, nullptr, 0, &need, &count), ERROR_MORE_DATA);
    EXPECT_EQ(need, size);
    EXPECT_EQ(count, 0u);
    // Four bytes into a block with guard bytes, as a caller that keeps a
    // count in front of it; one byte short first.
    std::vector<unsigned char> mem(4 + size + 64 + 16, 0xab);
    auto* buf = reinterpret_cast<LPENUM_SERVICE_STATUSA>(mem.data() + 4);
    auto guarded = [&](std::size_t from, std::size_t to) {
        return std::all_of(mem.begin() + from, mem.begin() + to, [](unsigned char c) { return c == 0xab; });
    };
    need = 0xdeadbeef;
    EXPECT_FAILS(EnumDependentServicesA(h, SERVICE_ACTIVE, buf, (DWORD)(size - 1), &need, &count), ERROR_MORE_DATA);
    EXPECT_EQ(need, size);
    EXPECT_TRUE(guarded(0, mem.size()));
    SetLastError(sim::kSentinel);
    ASSERT_TRUE(EnumDependentServicesA(h, SERVICE_ACTIVE, buf, (DWORD)size, &need, &count));
    EXPECT_EQ(GetLastError(), sim::kSentinel);
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(guarded(0, 4) && guarded(4 + size, mem.size()));
    const char* lo = reinterpret_cast<const char*>(mem.data() + 4 + 3 * sizeof(ENUM_SERVICE_STATUSA));
    const char* hi = reinterpret_cast<const char*>(mem.data() + 4 + size);
    std::size_t stringBytes = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        ENUM_SERVICE_STATUSA r;
        std::memcpy(&r, mem.data() + 4 + i * sizeof r, sizeof r);
        EXPECT_STREQ(r.lpServiceName, want[i].first.c_str());
        EXPECT_STREQ(r.lpDisplayName, want[i].second.c_str());
        for (const char* s : {r.lpServiceName, r.lpDisplayName}) EXPECT_TRUE(s >= lo && s < hi) << i;
        EXPECT_EQ(r.ServiceStatus.dwCurrentState, (DWORD)SERVICE_RUNNING);
        stringBytes += std::strlen(r.lpServiceName) + std::strlen(r.lpDisplayName) + 2;
    }
    EXPECT_EQ(lo + stringBytes, hi);  // the strings fill the rest exactly
    // A larger buffer: strings are packed against its end.
    std::fill(mem.begin(), mem.end(), 0xab);
    ASSERT_TRUE(EnumDependentServicesA(h, SERVICE_ACTIVE, buf, (DWORD)(size + 64), &need, &count));
    EXPECT_TRUE(guarded(4 + size + 64, mem.size()));
    EXPECT_EQ(buf[0].lpServiceName + std::strlen("FaxSvc") + 1, (const char*)mem.data() + 4 + size + 64);
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
        auto* recs = reinterpret_cast<LPENUM_SERVICE_STATUSA>(buf.data());
        if (EnumDependentServicesA(h, which, recs, need, &need, &count))
            for (DWORD i = 0; i < count; ++i) out.push_back(recs[i].lpServiceName);
        return out;
    };
    EXPECT_EQ(names(SERVICE_ACTIVE), (std::vector<std::string>{"FaxSvc", "NetPrint"}));
    EXPECT_EQ(names(SERVICE_INACTIVE), (std::vector<std::string>{"LpdSvc"}));
    EXPECT_EQ(names(SERVICE_STATE_ALL), (std::vector<std::string>{"FaxSvc", "NetPrint", "LpdSvc"}));
    DWORD need = 1, count = 1;
    EXPECT_FAILS(EnumDependentServicesA(h, 4, nullptr, 0, &need, &count), ERROR_INVALID_PARAMETER);
    CloseServiceHandle(h);
    // No dependents: success with nothing needed.
    h = open("FaxSvc", SERVICE_ENUMERATE_DEPENDENTS);
    need = count = 0xdeadbeef;
    EXPECT_LASTERROR(EnumDependentServicesA(h, SERVICE_ACTIVE, nullptr, 0, &need, &count), TRUE, sim::kSentinel);
    EXPECT_EQ(need, 0u);
    EXPECT_EQ(count, 0u);
    CloseServiceHandle(h);
}

// --- platform, defaults, image -------------------------------------------------

TEST(ScmPlatform, Windows95HasNoManagerAndNtDefaultsRunTheSpooler) {
    auto& m95 = sim::fresh(winsim::Platform::Win95);
    winsim::addDefaultServices(m95);
    EXPECT_TRUE(m95.services->services.empty());
    EXPECT_LASTERROR(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr, ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));

    winsim::addDefaultServices(sim::fresh());
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));
    EXPECT_FALSE(winsim::isServiceRunning("Nothing"));
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
}

TEST_F(Scm, ImageSectionKeepsPendingStopAcrossSave) {
    SERVICE_STATUS st;
    ASSERT_TRUE(stop("Stuck", st));
    json saved, again;
    winsim::saveService(saved, winsim::machine());
    std::uint64_t tick = winsim::machine().tickMs;
    auto& m2 = sim::fresh();
    m2.tickMs = tick;
    winsim::loadService(saved, m2);
    winsim::saveService(again, m2);
    EXPECT_EQ(saved, again);
    mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_EQ(query("Stuck").dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    std::ostringstream out;
    winsim::showService(out, m2);
    for (const char* line : {"  Spooler: running, auto start, depends on RpcSs",
                             "FaxSvc (Fax Service): running, demand start, depends on NetPrint", "Stuck: stop_pending"})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
}

TEST(ScmImage, MalformedSectionsNameTheProblem) {
    const std::pair<const char*, const char*> rows[] = {
        {R"({"list":[{"name":"A","dependencies":["B"]}]})", "unknown service \"B\""},
        {R"({"list":[{"name":"A","state":"sleeping"}]})", "/services/list/0/state"},
        {R"({"list":[{"name":"A"},{"name":"a"}]})", "declared twice"},
        {R"({"list":[{"name":"A","stop":{"refuse":0}}]})", "/services/list/0/stop/refuse"},
        {R"({"list":[{"name":"A","state":"stop_pending"}]})", "pending"},
        {R"({"list":[{"display_name":"A"}]})", "name"},
    };
    auto& m = sim::fresh();
    for (auto [text, message] : rows) {
        try {
            winsim::loadService(json::parse(text), m);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const winsim::ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

}  // namespace
