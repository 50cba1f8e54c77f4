// Spooler service control: the stop and start protocol with the spooler's
// dependents, the waits in virtual time, and the running test.
#include <cstdlib>

#include "printsys/printsys.h"
#include "setup/harness.h"
#include "winsim/processes/state.h"

namespace {

using namespace harness;

struct Spooler : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("spooler");
        installCounterTable();
    }
    ~Spooler() override { std::free(list); }  // the program keeps the list until it ends
    winsim::Service& declare(const std::string& name, DWORD state, std::vector<std::string> deps = {},
                             std::vector<DWORD> stopSteps = {}) {
        winsim::Service s;
        s.name = name;
        s.displayName = name + " service";
        s.state = state;
        s.startType = SERVICE_AUTO_START;
        s.dependencies = std::move(deps);
        s.onStop.steps = std::move(stopSteps);
        m->services->services.push_back(s);
        return m->services->services.back();
    }
    // The spooler and three dependents that the manager lists as A, B, C.
    void withDependents() {
        declare("Spooler", SERVICE_RUNNING);
        for (const char* s : {"C", "B", "A"}) declare(s, SERVICE_RUNNING, {"Spooler"});
        declare("Idle", SERVICE_STOPPED, {"Spooler"});
    }
    // "name=state ..." of every service, in declaration order.
    std::string states() {
        std::string out;
        for (auto& s : m->services->services)
            out += s.name + "=" + std::to_string(winsim::serviceStatus(*m, s).dwCurrentState) + " ";
        return out;
    }
    // Runs `call`: "result, <virtual ms>".
    std::string timed(DWORD (*call)(DependentServiceList**), DependentServiceList** arg) {
        DWORD t0 = GetTickCount();
        DWORD r = call(arg);
        return std::to_string(r) + ", " + std::to_string(GetTickCount() - t0);
    }
    winsim::Machine* m = nullptr;
    DependentServiceList* list = nullptr;
};

const std::string kDone = std::to_string(STS_DONE), kFailed = std::to_string(STS_FAILED);

TEST_F(Spooler, StopsDependentsInListOrderThenSpoolerAndStartsThemBackInReverse) {
    withDependents();
    list = reinterpret_cast<DependentServiceList*>(0x1);
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    ASSERT_NE(list, nullptr);
    std::string names;
    for (DWORD i = 0; i < list->Count; ++i)
        names += std::string(list->Services[i].lpServiceName) + " (" + list->Services[i].lpDisplayName + ") ";
    EXPECT_EQ(names, "A (A service) B (B service) C (C service) ");
    // The records sit where their pointers need them, right after the count.
    EXPECT_EQ(reinterpret_cast<BYTE*>(list->Services) - reinterpret_cast<BYTE*>(list), (std::ptrdiff_t)sizeof(void*));
    EXPECT_EQ(states(), "Spooler=1 C=1 B=1 A=1 Idle=1 ");
    // Refusals that land only when the order is Spooler, C, B, A.
    auto starts = m->callCounts["StartServiceA"];
    m->faults.push_back({"StartServiceA", starts + 2, 1, ERROR_SERVICE_DISABLED, "C"});
    m->faults.push_back({"StartServiceA", starts + 3, 1, ERROR_SERVICE_DISABLED, "B"});
    EXPECT_EQ(timed(startSpooler, &list), kDone + ", 3000");
    EXPECT_EQ(states(), "Spooler=4 C=1 B=1 A=4 Idle=1 ");
}

TEST_F(Spooler, StopOrderIsTheListOrder) {
    withDependents();
    // Each fault fires only if its service gets the n-th stop request: all
    // three refusals land only when the order is A, B, C. The dependents'
    // failures are ignored; the spooler then refuses to stop while they run.
    auto base = m->callCounts["ControlService"] + 1;
    for (const char* s : {"A", "B", "C"}) m->faults.push_back({"ControlService", base++, 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, s});
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(states(), "Spooler=4 C=4 B=4 A=4 Idle=1 ");
}

TEST_F(Spooler, NoActiveDependentsLeavesListNullAndNullStartsOnlySpooler) {
    declare("Spooler", SERVICE_RUNNING);
    declare("Idle", SERVICE_STOPPED, {"Spooler"});
    list = reinterpret_cast<DependentServiceList*>(0x1);
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(startSpooler(nullptr), (DWORD)STS_DONE);
    EXPECT_EQ(states(), "Spooler=4 Idle=1 ");
    // Started again while running: fails at once and starts no dependent.
    alignas(8) BYTE block[256] = {};
    auto* given = reinterpret_cast<DependentServiceList*>(block);
    given->Count = 1;
    char name[] = "Idle";
    given->Services[0].lpServiceName = name;
    given->Services[0].lpDisplayName = name;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(timed(startSpooler, &given), kFailed + ", 0");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(states(), "Spooler=4 Idle=1 ");
}

// A dependent's wait is capped at 5000 ms a pass: 8000 is one pass and the
// check point has not moved, so the service is still stopping; 2000+3000
// is polled until stopped. The spooler's own wait sleeps its full hint
// (two passes of 8000) then the 3000 ms pause, and Print Manager ends.
TEST_F(Spooler, WaitsInVirtualTime) {
    declare("Slow", SERVICE_RUNNING, {}, {8000});
    declare("Steps", SERVICE_RUNNING, {}, {2000, 3000});
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::string waits;
    for (const char* s : {"Slow", "Steps"}) {
        DWORD t0 = GetTickCount();
        EXPECT_EQ(stopNamedService(scm, s), (DWORD)STS_DONE);
        waits += std::to_string(GetTickCount() - t0) + " " + states();
    }
    CloseServiceHandle(scm);
    EXPECT_EQ(waits, "5000 Slow=3 Steps=4 5000 Slow=1 Steps=1 ");
    declare("Spooler", SERVICE_RUNNING, {}, {8000, 8000});
    auto pm = winsim::addProcess(*m, "PRINTMAN.EXE", "printman.exe");
    EXPECT_EQ(timed(stopSpooler, &list), kDone + ", 19000");
    EXPECT_EQ(states(), "Slow=1 Steps=1 Spooler=1 ");
    EXPECT_EQ(std::to_string(pm->running) + " " + std::to_string(pm->exitCode), "0 1067");
}

TEST_F(Spooler, StopFailures) {
    // A zero check point ends the wait at once; the spooler is still stopping.
    declare("Spooler", SERVICE_RUNNING).onStop.hang = true;
    DWORD t0 = GetTickCount();
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_LT(GetTickCount() - t0, 6000u);
    SetUp();
    declare("Spooler", SERVICE_RUNNING).onStop.refuse = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_TRUE(m->services->handles.empty());  // every handle closed
    SetUp();  // no spooler at all
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(startSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_FALSE(isSpoolerRunning());
    EXPECT_EQ(stopSpooler(nullptr), (DWORD)STS_FAILED);
    EXPECT_TRUE(m->services->handles.empty());
    // The dependents' size query, then the second call that reads the records.
    declare("Spooler", SERVICE_RUNNING);
    declare("A", SERVICE_RUNNING, {"Spooler"});
    for (auto [later, error, text] : {std::tuple{0u, ERROR_ACCESS_DENIED, "Unable to check spooler dependents, error = 5"},
                                      {1u, ERROR_INVALID_HANDLE, "Unable to access spooler dependents, error = 6"}})
        EXPECT_ENDS_SETUP(failNext("EnumDependentServicesA", 1, error); m->faults.back().nth += later; stopSpooler(&list),
                          std::string(text) + "\\.  Please restart to a clean system before re-running this program\\.");
}

// Running means running or start pending.
TEST_F(Spooler, RunningMeansRunningOrStartPending) {
    winsim::Service& s = declare("Spooler", SERVICE_RUNNING);
    std::string answers = std::to_string(isSpoolerRunning());
    for (DWORD state : {SERVICE_PAUSED, SERVICE_STOPPED}) s.state = state, answers += std::to_string(isSpoolerRunning());
    for (DWORD pending : {SERVICE_START_PENDING, SERVICE_STOP_PENDING}) {
        s.transition = winsim::ServiceTransition{pending, pending == SERVICE_START_PENDING ? (DWORD)SERVICE_RUNNING : (DWORD)SERVICE_STOPPED,
                                                 winsim::now(), {3000}, true};
        answers += std::to_string(isSpoolerRunning());
    }
    EXPECT_EQ(answers, "10010");
    EXPECT_TRUE(m->services->handles.empty());
}

}  // namespace
