// Spooler service control: the stop and start protocol with the spooler's
// dependents, the waits in virtual time, and the running test.
#include "printsys/fixture.h"
#include "printsys/printsys.h"
#include "winsim/processes/state.h"
#include "winsim/services/state.h"

#include <gtest/gtest.h>

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

DWORD stateOf(winsim::Machine& m, const std::string& name) {
    winsim::Service* s = winsim::findService(m, name);
    return s ? winsim::serviceStatus(m, *s).dwCurrentState : 0;
}

struct Spooler : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("spooler");
        installCounterTable();
    }
    // The spooler and three dependents that the manager lists as A, B, C.
    void withDependents() {
        declare(*m, "Spooler", SERVICE_RUNNING);
        declare(*m, "C", SERVICE_RUNNING, {"Spooler"});
        declare(*m, "B", SERVICE_RUNNING, {"Spooler"});
        declare(*m, "A", SERVICE_RUNNING, {"Spooler"});
        declare(*m, "Idle", SERVICE_STOPPED, {"Spooler"});
    }
    winsim::Machine* m = nullptr;
};

// The names EnumDependentServicesA gives for the active dependents.
std::vector<std::string> activeDependents() {
    std::vector<std::string> out;
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE sp = OpenServiceA(scm, "Spooler", SERVICE_ENUMERATE_DEPENDENTS);
    alignas(8) BYTE buf[4096];
    DWORD needed = 0, count = 0;
    if (EnumDependentServicesA(sp, SERVICE_ACTIVE, reinterpret_cast<LPENUM_SERVICE_STATUSA>(buf), sizeof buf, &needed,
                               &count)) {
        auto* rec = reinterpret_cast<LPENUM_SERVICE_STATUSA>(buf);
        for (DWORD i = 0; i < count; ++i) out.emplace_back(rec[i].lpServiceName);
    }
    CloseServiceHandle(sp);
    CloseServiceHandle(scm);
    return out;
}

// The dependent list lives until the process ends in the program; a test
// hands it back when it is done.
struct ListKeeper {
    DependentServiceList*& list;
    ~ListKeeper() { std::free(list); }
};

TEST_F(Spooler, StopsDependentsInListOrderThenSpooler) {
    withDependents();
    ASSERT_EQ(activeDependents(), (std::vector<std::string>{"A", "B", "C"}));

    DependentServiceList* list = reinterpret_cast<DependentServiceList*>(0x1);
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    ListKeeper keep{list};
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Count, 3u);
    EXPECT_STREQ(list->Services[0].lpServiceName, "A");
    EXPECT_STREQ(list->Services[1].lpServiceName, "B");
    EXPECT_STREQ(list->Services[2].lpServiceName, "C");
    EXPECT_STREQ(list->Services[2].lpDisplayName, "C service");
    // The records sit where their pointers need them, right after the count.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list->Services) % alignof(ENUM_SERVICE_STATUSA), 0u);
    EXPECT_EQ(reinterpret_cast<BYTE*>(list->Services) - reinterpret_cast<BYTE*>(list),
              (std::ptrdiff_t)(sizeof(void*) == 8 ? 8 : 4));
    for (const char* s : {"Spooler", "A", "B", "C"}) EXPECT_EQ(stateOf(*m, s), (DWORD)SERVICE_STOPPED) << s;
}

TEST_F(Spooler, StopOrderIsTheListOrder) {
    withDependents();
    // Each fault fires only if its service gets the n-th stop request:
    // all three refusals land only when the order is A, B, C.
    failNext(*m, "ControlService", 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "A");
    auto base = m->faults.back().nth;
    m->faults.push_back({"ControlService", base + 1, 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "B"});
    m->faults.push_back({"ControlService", base + 2, 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "C"});
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    // The dependents' failures are ignored; the spooler then refuses to stop
    // while they run.
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    for (const char* s : {"Spooler", "A", "B", "C"}) EXPECT_EQ(stateOf(*m, s), (DWORD)SERVICE_RUNNING) << s;
}

TEST_F(Spooler, StartsSpoolerThenDependentsInReverseOrder) {
    withDependents();
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    ASSERT_NE(list, nullptr);

    // Refusals that land only when the order is Spooler, C, B, A.
    auto starts = m->callCounts["StartServiceA"];
    m->faults.push_back({"StartServiceA", starts + 2, 1, ERROR_SERVICE_DISABLED, "C"});
    m->faults.push_back({"StartServiceA", starts + 3, 1, ERROR_SERVICE_DISABLED, "B"});
    m->faults.push_back({"StartServiceA", starts + 4, 1, ERROR_SERVICE_DISABLED, "A"});
    DWORD t0 = GetTickCount();
    EXPECT_EQ(startSpooler(&list), (DWORD)STS_DONE);
    EXPECT_EQ(GetTickCount() - t0, 3000u);
    EXPECT_EQ(stateOf(*m, "Spooler"), (DWORD)SERVICE_RUNNING);
    for (const char* s : {"A", "B", "C"}) EXPECT_EQ(stateOf(*m, s), (DWORD)SERVICE_STOPPED) << s;
}

TEST_F(Spooler, RoundTripRestoresEveryService) {
    withDependents();
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    ASSERT_EQ(startSpooler(&list), (DWORD)STS_DONE);
    for (const char* s : {"Spooler", "A", "B", "C"}) EXPECT_EQ(stateOf(*m, s), (DWORD)SERVICE_RUNNING) << s;
    EXPECT_EQ(stateOf(*m, "Idle"), (DWORD)SERVICE_STOPPED);
}

TEST_F(Spooler, NoActiveDependentsLeavesListNull) {
    declare(*m, "Spooler", SERVICE_RUNNING);
    declare(*m, "Idle", SERVICE_STOPPED, {"Spooler"});
    DependentServiceList* list = reinterpret_cast<DependentServiceList*>(0x1);
    ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(startSpooler(&list), (DWORD)STS_DONE);
    EXPECT_EQ(stateOf(*m, "Spooler"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(stateOf(*m, "Idle"), (DWORD)SERVICE_STOPPED);
}

TEST_F(Spooler, StartWithNullArgumentStartsOnlySpooler) {
    declare(*m, "Spooler", SERVICE_STOPPED);
    declare(*m, "A", SERVICE_STOPPED, {"Spooler"});
    EXPECT_EQ(startSpooler(nullptr), (DWORD)STS_DONE);
    EXPECT_EQ(stateOf(*m, "Spooler"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(stateOf(*m, "A"), (DWORD)SERVICE_STOPPED);
}

TEST_F(Spooler, StartOfRunningSpoolerFailsAndStartsNoDependent) {
    declare(*m, "Spooler", SERVICE_RUNNING);
    declare(*m, "A", SERVICE_STOPPED, {"Spooler"});
    alignas(8) BYTE block[256] = {};
    auto* list = reinterpret_cast<DependentServiceList*>(block);
    list->Count = 1;
    char name[] = "A";
    list->Services[0].lpServiceName = name;
    list->Services[0].lpDisplayName = name;
    SetLastError(0xdeadbeef);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(startSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(GetTickCount() - t0, 0u);
    EXPECT_EQ(stateOf(*m, "A"), (DWORD)SERVICE_STOPPED);
}

TEST_F(Spooler, DependentWaitIsCappedAtFiveSeconds) {
    declare(*m, "Slow", SERVICE_RUNNING, {}, {8000});
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(stopNamedService(scm, "Slow"), (DWORD)STS_DONE);
    // One pass of 5000 ms; the check point has not moved then, so the wait ends.
    EXPECT_EQ(GetTickCount() - t0, 5000u);
    EXPECT_EQ(stateOf(*m, "Slow"), (DWORD)SERVICE_STOP_PENDING);
    CloseServiceHandle(scm);
}

TEST_F(Spooler, DependentPolledUntilStopped) {
    declare(*m, "Steps", SERVICE_RUNNING, {}, {2000, 3000});
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(stopNamedService(scm, "Steps"), (DWORD)STS_DONE);
    EXPECT_EQ(GetTickCount() - t0, 5000u);
    EXPECT_EQ(stateOf(*m, "Steps"), (DWORD)SERVICE_STOPPED);
    CloseServiceHandle(scm);
}

TEST_F(Spooler, SpoolerSleepsItsFullWaitHint) {
    declare(*m, "Spooler", SERVICE_RUNNING, {}, {8000, 8000});
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    DWORD t0 = GetTickCount();
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    // Two passes of the full 8000 ms hint, then the 3000 ms pause.
    EXPECT_EQ(GetTickCount() - t0, 19000u);
    EXPECT_EQ(stateOf(*m, "Spooler"), (DWORD)SERVICE_STOPPED);
}

TEST_F(Spooler, SpoolerWithoutProgressIsNotStopped) {
    // A zero check point ends the wait at once; the spooler is still stopping.
    winsim::Service& s = declare(*m, "Spooler", SERVICE_RUNNING, {}, {});
    s.onStop.hang = true;
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    DWORD t0 = GetTickCount();
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_LT(GetTickCount() - t0, 3000u + 3000u);
}

TEST_F(Spooler, RefusedStopFails) {
    winsim::Service& s = declare(*m, "Spooler", SERVICE_RUNNING);
    s.onStop.refuse = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_TRUE(m->services->handles.empty());  // every handle closed
}

TEST_F(Spooler, MissingSpoolerFailsWithHandlesClosed) {
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(startSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_FALSE(isSpoolerRunning());
    EXPECT_EQ(stopSpooler(nullptr), (DWORD)STS_FAILED);
    EXPECT_TRUE(m->services->handles.empty());
}

TEST_F(Spooler, StopEndsPrintManager) {
    declare(*m, "Spooler", SERVICE_RUNNING);
    auto pm = winsim::addProcess(*m, "PRINTMAN.EXE", "printman.exe");
    DependentServiceList* list = nullptr;
    ListKeeper keep{list};
    DWORD t0 = GetTickCount();
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_DONE);
    EXPECT_EQ(GetTickCount() - t0, 3000u);
    EXPECT_FALSE(pm->running);
    EXPECT_EQ(pm->exitCode, 1067u);
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
    auto& m = bareMachine("spooler-death");
    declare(m, "Spooler", SERVICE_RUNNING);
    declare(m, "A", SERVICE_RUNNING, {"Spooler"});
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            failNext(m, "EnumDependentServicesA", 1, ERROR_ACCESS_DENIED);
            DependentServiceList* list = nullptr;
    ListKeeper keep{list};
            stopSpooler(&list);
        },
        ::testing::ExitedWithCode(0),
        "Unable to check spooler dependents, error = 5\\.  Please restart to a clean system before re-running this "
        "program\\.");
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            failNext(m, "EnumDependentServicesA", 1, ERROR_INVALID_HANDLE);
            m.faults.back().nth += 1;  // the second call
            DependentServiceList* list = nullptr;
    ListKeeper keep{list};
            stopSpooler(&list);
        },
        ::testing::ExitedWithCode(0),
        "Unable to access spooler dependents, error = 6\\.  Please restart to a clean system before re-running this "
        "program\\.");
}

}  // namespace
