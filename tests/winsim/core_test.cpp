// Injected faults and kernel handles of the simulated machine.
#include "winsim/core/handles.h"
#include "sim.h"

namespace {

TEST(Core, FaultFiresOnNthCallForItsTimesAndItsTarget) {
    auto& m = sim::fresh();
    m.faults.push_back({"Probe", 2, 2, ERROR_DISK_FULL, ""});
    m.faults.push_back({"Open", 1, 0, ERROR_ACCESS_DENIED, "Spooler"});
    for (DWORD want : {0u, (DWORD)ERROR_DISK_FULL, (DWORD)ERROR_DISK_FULL, 0u})
        EXPECT_EQ(winsim::injectedFault("Probe"), want);
    EXPECT_EQ(winsim::injectedFault("Other"), 0u);
    EXPECT_EQ(winsim::injectedFault("Open", "Other"), 0u);
    EXPECT_EQ(winsim::injectedFault("Open", "SPOOLER"), (DWORD)ERROR_ACCESS_DENIED);
}

TEST(Core, CloseHandleOnUnknownHandleFails) {
    sim::fresh();
    EXPECT_FAILS(CloseHandle((HANDLE)0x1234), ERROR_INVALID_HANDLE);
    struct Obj : winsim::KernelObject {};
    HANDLE h = winsim::addHandle(std::make_shared<Obj>());
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
}

}  // namespace
