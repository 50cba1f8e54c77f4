// The process walk over the performance data and the termination of every
// Print Manager process.
#include "printsys/fixture.h"
#include "printsys/printsys.h"
#include "winsim/processes/state.h"

#include <thread>

namespace {

using namespace fixture;

struct Walk : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("printman");
        installCounterTable();
    }
    std::shared_ptr<winsim::SimProcess> process(const std::string& name, DWORD threads = 3, LONG priority = 8) {
        auto p = winsim::addProcess(*m, name, "");
        p->threads = threads;
        p->priority = priority;
        return p;
    }
    // The records the walk hands over; the callback ends the walk after
    // `stopAfter` of them (0: never).
    std::vector<ProcessRecord> walk(DWORD filter = 0, std::size_t stopAfter = 0, DWORD* result = nullptr) {
        struct Seen {
            std::vector<ProcessRecord> records;
            std::size_t stopAfter;
        } seen{{}, stopAfter};
        DWORD r = enumProcesses(
            nullptr, filter,
            [](ProcessRecord* rec, LPVOID ctx) -> DWORD {
                auto* s = static_cast<Seen*>(ctx);
                s->records.push_back(*rec);
                return s->stopAfter != 0 && s->records.size() >= s->stopAfter ? 0 : 1;
            },
            &seen);
        if (result) *result = r;
        else EXPECT_NE(r, 0u);
        return seen.records;
    }
    static std::string describe(const ProcessRecord& r) {
        return std::string(r.Name) + " " + std::to_string(r.ProcessId) + ", " + std::to_string(r.ThreadCount) +
               " threads, priority " + std::to_string(r.BasePriority);
    }
    winsim::Machine* m = nullptr;
};

TEST_F(Walk, RecordsCarryNameIdThreadsAndPriorityAndObeyFilterAndStop) {
    auto a = process("EXPLORER.EXE", 7, 13);
    auto b = process("notepad.exe", 1, 8);
    auto all = walk();
    ASSERT_EQ(all.size(), 3u);  // two processes and _Total
    EXPECT_EQ(describe(all[0]), "EXPLORER " + std::to_string(a->id) + ", 7 threads, priority 13");
    EXPECT_EQ(describe(all[1]), "notepad " + std::to_string(b->id) + ", 1 threads, priority 8");
    EXPECT_STREQ(all[2].Name, "_Total");
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndexText, nullptr);  // freed by the walk
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndex, 230u);
    // A callback answering 0 ends the walk with success; a filter passes one process.
    EXPECT_EQ(walk(0, 1).size(), 1u);
    auto only = walk(b->id);
    ASSERT_EQ(only.size(), 1u);
    EXPECT_STREQ(only[0].Name, "notepad");
}

TEST_F(Walk, DataLargerThanFirstBlockIsRead) {
    for (int i = 0; i < 1500; ++i) process("WORKER" + std::to_string(i) + ".EXE");
    auto all = walk();
    ASSERT_EQ(all.size(), 1501u);
    EXPECT_STREQ(all[1499].Name, "WORKER1499");
}

TEST_F(Walk, MissingCounterOrUnreadableDataFailsTheWalk) {
    process("A.EXE");
    DWORD r = 1;
    failNext(*m, "PerformanceData", 0, ERROR_ACCESS_DENIED);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(walk(0, 0, &r).empty());
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    m->faults.clear();
    installCounterTable("Priority Base");
    r = 1;
    EXPECT_TRUE(walk(0, 0, &r).empty());
    EXPECT_EQ(r, 0u);
    EXPECT_FALSE(initPerfIndexes(nullptr));
    // Each thread has its own lookup state.
    PerfWalkContext* other = nullptr;
    std::thread t([&] { other = perfWalkContext(); });
    t.join();
    EXPECT_NE(perfWalkContext(), other);
}

TEST(CounterTable, IndexLookups) {
    const char table[] = "2\0System\0" "230\0Process\0" "12ab\0Odd\0" "784\0ID Process\0" "\0";
    const std::pair<const char*, int> lookups[] = {
        {"Process", 230}, {"ID Process", 784}, {"Odd", 12}, {"process", -1} /* exact comparison */, {"Missing", -1}};
    for (auto [name, index] : lookups) EXPECT_EQ(findCounterIndex(table, name), index) << name;
    LPSTR text = findCounterIndexText(table, "Process");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "230");
    LocalFree((HLOCAL)text);
    for (auto [digits, value] : {std::pair{"784", 784u}, {"12ab", 12u}, {"x12", 0u}, {"", 0u}})
        EXPECT_EQ(parseIndex(digits), value) << digits;
    // A table that ends after an index (no name) ends the search.
    const char odd[] = "230\0Process\0" "999\0" "\0";
    EXPECT_EQ(findCounterIndex(odd, "Nothing"), -1);
}

// --- killPrintManager ------------------------------------------------------

// Every Print Manager, whatever the case of its name, ends with 1067; one
// that cannot be opened or ended is reported and the walk goes on.
TEST_F(Walk, EveryPrintManagerIsTerminatedWith1067) {
    EXPECT_NE(killPrintManager(), 0u);  // none running: nothing to do
    auto other = process("PRINTMAN2.EXE"), shell = process("PROGMAN.EXE"), guarded = process("PRINTMAN.EXE");
    guarded->isProtected = true;
    auto p1 = process("PRINTMAN.EXE"), p2 = process("printman.exe"), p3 = process("PrintMan.Exe");
    EXPECT_NE(killPrintManager(), 0u);
    for (auto& p : {p1, p2, p3}) {
        EXPECT_FALSE(p->running) << p->name;
        EXPECT_EQ(p->exitCode, 1067u) << p->name;
    }
    EXPECT_TRUE(other->running && shell->running && guarded->running);
    guarded->isProtected = false;
    failNext(*m, "OpenProcess", 1, ERROR_INVALID_PARAMETER);
    EXPECT_NE(killPrintManager(), 0u);
    EXPECT_TRUE(guarded->running);
    EXPECT_EQ(messageBoxes(), (std::vector<std::string>{
                                  "KillPrintManagerCallback|Couldn't terminate process (error = 5)",
                                  "KillPrintManagerCallback|Couldn't open process handle (error = 87)"}));
}

TEST(WalkDeath, CounterTableWithoutPriorityBaseEndsSetup) {
    auto& m = bareMachine("printman-death");
    installCounterTable("Priority Base");
    winsim::addProcess(m, "PRINTMAN.EXE", "");
    EXPECT_ENDS_SETUP(killPrintManager(), "Unable to stop Print Manager, error = [0-9]+\\.  Please restart to a "
                                          "clean system before re-running this program\\.");
}

}  // namespace
