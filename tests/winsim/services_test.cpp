// The service control manager: the controls and what they fill in, Windows
// 95 and the defaults of a fresh machine, the image section.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/services/query.h"
#include "winsim/services/state.h"
#include "sim.h"

#include <winsvc.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <tuple>

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
    {"name": "Deep", "state": "stopped", "dependencies": ["NeedsOff"]},
    {"name": "Loop1", "state": "stopped", "dependencies": ["Loop2"]},
    {"name": "Loop2", "state": "stopped", "dependencies": ["Loop1"]},
    {"name": "ReadOnly", "state": "running", "granted": ["query_status", "enumerate_dependents"]}
  ]
})";

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
    // "STOP_PENDING 1/2000 accepts 0": state, check point, wait hint and the
    // controls accepted; "untouched" when a call left the status alone.
    static std::string text(const SERVICE_STATUS& st) {
        const auto* p = reinterpret_cast<const unsigned char*>(&st);
        if (std::all_of(p, p + sizeof st, [](unsigned char c) { return c == 0xcc; })) return "untouched";
        static const char* names[] = {"?", "STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING",
                                      "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
        return std::string(st.dwCurrentState < 8 ? names[st.dwCurrentState] : "?") + " " +
               std::to_string(st.dwCheckPoint) + "/" + std::to_string(st.dwWaitHint) + " accepts " +
               std::to_string(st.dwControlsAccepted);
    }
    std::string status(const char* name) {
        SERVICE_STATUS st;
        std::memset(&st, 0xcc, sizeof st);
        SC_HANDLE h = open(name, SERVICE_QUERY_STATUS);
        EXPECT_TRUE(QueryServiceStatus(h, &st));
        CloseServiceHandle(h);
        return text(st);
    }
    // Sends the control through a handle of its own: "ok: <status>" or
    // "error N: <status>" with the status the call filled in.
    std::string control(const char* name, DWORD code = SERVICE_CONTROL_STOP) {
        SERVICE_STATUS st;
        std::memset(&st, 0xcc, sizeof st);
        SC_HANDLE h = open(name);
        std::string r = ControlService(h, code, &st) ? "ok" : err(GetLastError());
        r += ": " + text(st);
        CloseServiceHandle(h);
        return r;
    }
    std::string start(const char* name) {
        SC_HANDLE h = open(name);
        std::string r = StartServiceA(h, 0, nullptr) ? "ok" : err(GetLastError());
        CloseServiceHandle(h);
        return r;
    }
    static std::string err(DWORD e) { return "error " + std::to_string(e); }
};

TEST_F(Scm, ControlsAndWhatTheyFillIn) {
    EXPECT_EQ(control("Spooler", SERVICE_CONTROL_PAUSE), "ok: PAUSED 0/0 accepts 3");
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));
    const DWORD stop = SERVICE_CONTROL_STOP;
    const std::tuple<const char*, DWORD, std::string> rows[] = {
        {"Spooler", SERVICE_CONTROL_CONTINUE, "ok: RUNNING 0/0 accepts 3"},
        {"Spooler", SERVICE_CONTROL_INTERROGATE, "ok: RUNNING 0/0 accepts 3"},
        {"Spooler", SERVICE_CONTROL_SHUTDOWN, err(ERROR_INVALID_PARAMETER) + ": untouched"},
        {"Spooler", 200, err(ERROR_INVALID_SERVICE_CONTROL) + ": RUNNING 0/0 accepts 3"},
        {"LpdSvc", SERVICE_CONTROL_PAUSE, err(ERROR_INVALID_SERVICE_CONTROL) + ": RUNNING 0/0 accepts 1"},
        {"LpdSvc", stop, "ok: STOPPED 0/0 accepts 0"},
        // An indirect dependent that runs blocks a stop as well.
        {"NetPrint", stop, err(ERROR_DEPENDENT_SERVICES_RUNNING) + ": untouched"},  // FaxSvc runs on it
        {"Spooler", stop, err(ERROR_DEPENDENT_SERVICES_RUNNING) + ": untouched"},
        {"FaxSvc", stop, "ok: STOPPED 0/0 accepts 0"},  // no steps: stops at once
        {"FaxSvc", stop, err(ERROR_SERVICE_NOT_ACTIVE) + ": STOPPED 0/0 accepts 0"},
        {"Stuck", stop, "ok: STOP_PENDING 1/4000 accepts 0"},
        {"Stuck", stop, err(ERROR_SERVICE_CANNOT_ACCEPT_CTRL) + ": STOP_PENDING 1/4000 accepts 0"},
        {"NoStop", stop, err(ERROR_INVALID_SERVICE_CONTROL) + ": RUNNING 0/0 accepts 0"},
        {"Stubborn", stop, err(ERROR_SERVICE_CANNOT_ACCEPT_CTRL) + ": RUNNING 0/0 accepts 1"},
        {"Locked", stop, err(ERROR_ACCESS_DENIED) + ": untouched"},
    };
    for (const auto& [name, code, want] : rows) EXPECT_EQ(control(name, code), want) << name << " " << code;
    for (const char* name : {"Locked", "NoStop", "Stubborn"}) EXPECT_EQ(status(name).rfind("RUNNING", 0), 0u);
    // A declared fault comes first and hits only its service.
    winsim::machine().faults.push_back({"ControlService", 1, 0, ERROR_SERVICE_REQUEST_TIMEOUT, "NetPrint"});
    EXPECT_EQ(control("NetPrint"), err(ERROR_SERVICE_REQUEST_TIMEOUT) + ": untouched");
    EXPECT_EQ(status("NetPrint"), "RUNNING 0/0 accepts 1");
    winsim::machine().faults.push_back({"OpenServiceA", 1, 0, ERROR_NOT_ENOUGH_MEMORY, "Idle"});
    EXPECT_FAILS(OpenServiceA(mgr, "Idle", SERVICE_QUERY_STATUS), ERROR_NOT_ENOUGH_MEMORY);
    // A hung stop stays pending with its check point frozen.
    winsim::advance(3600 * 1000);
    EXPECT_EQ(status("Stuck"), "STOP_PENDING 1/4000 accepts 0");
}

// A start waits for the stopped dependencies to run first; what cannot start is
// refused with its reason, and nothing starts then.
TEST_F(Scm, StartRunsTheDependenciesFirstAndRefusesWhatCannotStart) {
    const std::pair<const char*, std::string> rows[] = {
        {"Off", err(ERROR_SERVICE_DISABLED)},
        {"NeedsOff", err(ERROR_SERVICE_DEPENDENCY_FAIL)},
        {"Deep", err(ERROR_SERVICE_DEPENDENCY_FAIL)},
        {"Loop1", err(ERROR_CIRCULAR_DEPENDENCY)},
        {"Idle", "ok"},
    };
    for (const auto& [name, want] : rows) EXPECT_EQ(start(name), want) << name;
    EXPECT_EQ(status("NeedsOff") + ", " + status("Loop2") + ", " + status("Base") + ", " + status("Idle"),
              "STOPPED 0/0 accepts 0, STOPPED 0/0 accepts 0, RUNNING 0/0 accepts 1, START_PENDING 1/800 accepts 0");
    SC_HANDLE queryOnly = open("Base", SERVICE_QUERY_STATUS), base = open("Base");
    LPCSTR args[] = {"-v"};
    EXPECT_FAILS(StartServiceA(queryOnly, 0, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(StartServiceA(base, 1, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(StartServiceA(base, 1, args), ERROR_SERVICE_ALREADY_RUNNING);
    CloseServiceHandle(queryOnly);
    CloseServiceHandle(base);
}

TEST_F(Scm, Windows95HasNoServicesAndNtDefaultsStopTheSpoolerInItsHint) {
    winsim::addDefaultServices(sim::fresh(winsim::Platform::Win95));
    json none;
    winsim::saveService(none, winsim::machine());
    EXPECT_TRUE(winsim::machine().services->services.empty() && none.is_null());
    EXPECT_TRUE(winsim::isServiceRunning("Spooler"));
    SERVICE_STATUS st;
    EXPECT_FAILS(ControlService(nullptr, SERVICE_CONTROL_STOP, &st), ERROR_CALL_NOT_IMPLEMENTED);
    winsim::addDefaultServices(sim::fresh());
    EXPECT_FALSE(winsim::isServiceRunning("Nothing"));
    mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    const std::string stopping = control("Spooler");
    ASSERT_EQ(stopping.substr(0, 19), "ok: STOP_PENDING 1/");
    Sleep(std::stoul(stopping.substr(19)));
    EXPECT_EQ(status("Spooler"), "STOPPED 0/0 accepts 0");
}

// The section's round trip is the machine image's test; here: a pending
// stop goes on after a load, what `show` prints, and malformed sections.
TEST_F(Scm, ImageSectionKeepsPendingStopAcrossSaveAndNamesProblems) {
    ASSERT_EQ(control("Stuck").substr(0, 3), "ok:");
    json saved;
    winsim::saveService(saved, winsim::machine());
    std::uint64_t tick = winsim::machine().tickMs;
    auto& m2 = sim::fresh();
    m2.tickMs = tick;
    winsim::loadService(saved, m2);
    mgr = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_EQ(status("Stuck"), "STOP_PENDING 1/4000 accepts 0");
    std::ostringstream out;
    winsim::showService(out, m2);
    for (const char* line : {"  Spooler: running, auto start, depends on RpcSs",
                             "FaxSvc (Fax Service): running, demand start, depends on NetPrint", "Stuck: stop_pending"})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    for (auto [text, message] : {std::pair{R"({"list":[{"name":"A","stop":{"refuse":0}}]})",
                                           "/services/list/0/stop/refuse"},
                                 {R"({"list":[{"display_name":"A"}]})", "/services/list/0/name"}}) {
        const std::string said = sim::refusal([&] { winsim::loadService(json::parse(text), m2); });
        EXPECT_NE(said.find(message), std::string::npos) << said;
    }
}

}  // namespace
