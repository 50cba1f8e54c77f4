// Spooler service control: the stop and start protocol with the spooler's
// dependents, the waits in virtual time, and the running test.
#include "printsys/fixture.h"
#include "printsys/printsys.h"
#include "winsim/processes/state.h"
#include "winsim/services/state.h"

#include <cstdlib>

namespace {

using namespace fixture;

winsim::Service& declare(winsim::Machine& m, const std::string& name, DWORD state,
                         std::vector<std::string> deps = {}, std::vector<DWORD> stopSteps = {}) {
    winsim::Service s;
    s.name = name;
    s.displayName = name + " service";
    s.state = state;
    s.startType = SERVICE_AUTO_START;
    s.dependencies = std::move(deps);
    s.onStop.steps = std::move(stopSteps);
    m.services->services.push_back(s);
    return m.services->services.back();
}

struct Spooler : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("spooler");
        installCounterTable();
    }
    ~Spooler() override { std::free(list); }  // the program keeps the list until it ends
    // The spooler and three dependents that the manager lists as A, B, C.
    void withDependents() {
        declare(*m, "Spooler", SERVICE_RUNNING);
        for (const char* s : {"C", "B", "A"}) declare(*m, s, SERVICE_RUNNING, {"Spooler"});
        declare(*m, "Idle", SERVICE_STOPPED, {"Spooler"});
    }
    DWORD stateOf(const std::string& name) {
        winsim::Service* s = winsim::findService(*m, name);
        return s ? winsim::serviceStatus(*m, *s).dwCurrentState : 0;
    }
    void expectStates(std::initializer_list<const char*> names, DWORD state) {
        for (const char* s : names) EXPECT_EQ(stateOf(s), state) << s;
    }
    // Runs `call`, returning its result; `ms` gets the virtual time it took.
    DWORD timed(DWORD (*call)(DependentServiceList**), DWORD* ms, DependentServiceList** arg) {
        DWORD t0 = GetTickCount();
        DWORD r = call(arg);
        *ms = GetTickCount() - t0;
        return r;
    }
    winsim::Machine* m = nullptr;
    DependentServiceList* list = nullptr;
};

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
    EXPECT_EQ(reinterpret_cast<BYTE*>(list->Services) - reinterpret_cast<BYTE*>(list),
              (std::ptrdiff_t)(sizeof(void*) == 8 ? 8 : 4));
    expectStates({"Spooler", "A", "B", "C"}, SERVICE_STOPPED);
    // Refusals that land only when the order is Spooler, C, B, A.
    auto starts = m->callCounts["StartServiceA"];
    m->faults.push_back({"StartServiceA", starts + 2, 1, ERROR_SERVICE_DISABLED, "C"});
    m->faults.push_back({"StartServiceA", starts + 3, 1, ERROR_SERVICE_DISABLED, "B"});
    DWORD ms = 0;
    EXPECT_EQ(timed(startSpooler, &ms, &list), (DWORD)STS_DONE);
    EXPECT_EQ(ms, 3000u);
    expectStates({"Spooler", "A"}, SERVICE_RUNNING);
    expectStates({"B", "C", "Idle"}, SERVICE_STOPPED);
}

TEST_F(Spooler, StopOrderIsTheListOrder) {
    withDependents();
    // Each fault fires only if its service gets the n-th stop request:
    // all three refusals land only when the order is A, B, C.
    failNext(*m, "ControlService", 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "A");
    auto base = m->faults.back().nth;
    m->faults.push_back({"ControlService", base + 1, 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "B"});
    m->faults.push_back({"ControlService", base + 2, 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "C"});
    // The dependents' failures are ignored; the spooler then refuses to stop
    // while they run.
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    expectStates({"Spooler", "A", "B", "C"}, SERVICE_RUNNING);
}

TEST_F(Spooler, NoActiveDependentsLeavesListNullAndNullStartsOnlySpooler) {
    declare(*m, "Spooler", SERVICE_RUNNING);
    declare(*m, "Idle", SERVICE_STOPPED, {"Spooler"});
    list = reinterpret_cast<DependentServiceList*>(0x1);
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(startSpooler(nullptr), (DWORD)STS_DONE);
    expectStates({"Spooler"}, SERVICE_RUNNING);
    expectStates({"Idle"}, SERVICE_STOPPED);
}

TEST_F(Spooler, StartOfRunningSpoolerFailsAndStartsNoDependent) {
    declare(*m, "Spooler", SERVICE_RUNNING);
    declare(*m, "A", SERVICE_STOPPED, {"Spooler"});
    alignas(8) BYTE block[256] = {};
    auto* given = reinterpret_cast<DependentServiceList*>(block);
    given->Count = 1;
    char name[] = "A";
    given->Services[0].lpServiceName = name;
    given->Services[0].lpDisplayName = name;
    SetLastError(0xdeadbeef);
    DWORD ms = 1;
    EXPECT_EQ(timed(startSpooler, &ms, &given), (DWORD)STS_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(ms, 0u);
    EXPECT_EQ(stateOf("A"), (DWORD)SERVICE_STOPPED);
}

TEST_F(Spooler, DependentWaitIsCappedAtFiveSecondsPerPass) {
    // 8000: one pass of 5000 ms, the check point has not moved then, so the
    // wait ends with the service still stopping. 2000+3000: polled until stopped.
    const struct {
        std::vector<DWORD> steps;
        DWORD state;
    } cases[] = {{{8000}, SERVICE_STOP_PENDING}, {{2000, 3000}, SERVICE_STOPPED}};
    for (const auto& c : cases) {
        SetUp();
        declare(*m, "Svc", SERVICE_RUNNING, {}, c.steps);
        SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        DWORD t0 = GetTickCount();
        EXPECT_EQ(stopNamedService(scm, "Svc"), (DWORD)STS_DONE);
        EXPECT_EQ(GetTickCount() - t0, 5000u) << c.steps.size();
        EXPECT_EQ(stateOf("Svc"), c.state) << c.steps.size();
        CloseServiceHandle(scm);
    }
}

TEST_F(Spooler, SpoolerSleepsItsFullWaitHintThenEndsPrintManager) {
    declare(*m, "Spooler", SERVICE_RUNNING, {}, {8000, 8000});
    auto pm = winsim::addProcess(*m, "PRINTMAN.EXE", "printman.exe");
    DWORD ms = 0;
    EXPECT_EQ(timed(stopSpooler, &ms, &list), (DWORD)STS_DONE);
    // Two passes of the full 8000 ms hint, then the 3000 ms pause.
    EXPECT_EQ(ms, 19000u);
    EXPECT_EQ(stateOf("Spooler"), (DWORD)SERVICE_STOPPED);
    EXPECT_FALSE(pm->running);
    EXPECT_EQ(pm->exitCode, 1067u);
}

TEST_F(Spooler, StopFailures) {
    // A zero check point ends the wait at once; the spooler is still stopping.
    declare(*m, "Spooler", SERVICE_RUNNING).onStop.hang = true;
    DWORD ms = 0;
    EXPECT_EQ(timed(stopSpooler, &ms, &list), (DWORD)STS_FAILED);
    EXPECT_LT(ms, 3000u + 3000u);

    SetUp();
    declare(*m, "Spooler", SERVICE_RUNNING).onStop.refuse = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
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
}

TEST_F(Spooler, RunningMeansRunningOrStartPending) {
    winsim::Service& s = declare(*m, "Spooler", SERVICE_RUNNING);
    EXPECT_TRUE(isSpoolerRunning());
    s.state = SERVICE_PAUSED;
    EXPECT_FALSE(isSpoolerRunning());
    s.state = SERVICE_STOPPED;
    EXPECT_FALSE(isSpoolerRunning());
    s.transition = winsim::ServiceTransition{SERVICE_START_PENDING, SERVICE_RUNNING, winsim::now(), {3000}, true};
    EXPECT_TRUE(isSpoolerRunning());
    s.transition = winsim::ServiceTransition{SERVICE_STOP_PENDING, SERVICE_STOPPED, winsim::now(), {3000}, true};
    EXPECT_FALSE(isSpoolerRunning());
    EXPECT_TRUE(m->services->handles.empty());
}

TEST(SpoolerDeath, FailedDependentsQueryEndsSetup) {
    // The size query, then the second call that reads the records.
    const struct {
        std::uint32_t later;
        DWORD error;
        const char* text;
    } cases[] = {{0, ERROR_ACCESS_DENIED, "Unable to check spooler dependents, error = 5"},
                 {1, ERROR_INVALID_HANDLE, "Unable to access spooler dependents, error = 6"}};
    for (const auto& c : cases) {
        auto& m = bareMachine("spooler-death");
        declare(m, "Spooler", SERVICE_RUNNING);
        declare(m, "A", SERVICE_RUNNING, {"Spooler"});
        DependentServiceList* list = nullptr;
        EXPECT_ENDS_SETUP(failNext(m, "EnumDependentServicesA", 1, c.error); m.faults.back().nth += c.later;
                          stopSpooler(&list),
                          std::string(c.text) +
                              "\\.  Please restart to a clean system before re-running this program\\.");
    }
}

}  // namespace
