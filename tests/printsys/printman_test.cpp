// The process walk over the performance data and the termination of every
// Print Manager process.
#include "printsys/fixture.h"
#include "printsys/printsys.h"
#include "winsim/processes/state.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace fixture;

std::shared_ptr<winsim::SimProcess> process(winsim::Machine& m, const std::string& name, DWORD threads = 3,
                                            LONG priority = 8) {
    auto p = winsim::addProcess(m, name, "");
    p->threads = threads;
    p->priority = priority;
    return p;
}

struct Seen {
    std::vector<ProcessRecord> records;
    DWORD stopAfter = 0;  // 0: never
};

DWORD collect(ProcessRecord* r, LPVOID ctx) {
    auto* seen = static_cast<Seen*>(ctx);
    seen->records.push_back(*r);
    return seen->stopAfter != 0 && seen->records.size() >= seen->stopAfter ? 0 : 1;
}

struct Walk : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("printman");
        installCounterTable();
    }
    winsim::Machine* m = nullptr;
};

TEST_F(Walk, RecordsCarryNameIdThreadsAndPriority) {
    auto a = process(*m, "EXPLORER.EXE", 7, 13);
    auto b = process(*m, "notepad.exe", 1, 8);
    Seen seen;
    ASSERT_NE(enumProcesses(nullptr, 0, collect, &seen), 0u);
    ASSERT_EQ(seen.records.size(), 3u);  // two processes and _Total
    EXPECT_STREQ(seen.records[0].Name, "EXPLORER");
    EXPECT_EQ(seen.records[0].ProcessId, a->id);
    EXPECT_EQ(seen.records[0].ThreadCount, 7u);
    EXPECT_EQ(seen.records[0].BasePriority, 13);
    EXPECT_STREQ(seen.records[1].Name, "notepad");
    EXPECT_EQ(seen.records[1].ProcessId, b->id);
    EXPECT_STREQ(seen.records[2].Name, "_Total");
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndexText, nullptr);  // freed by the walk
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndex, 230u);
}

TEST_F(Walk, CallbackReturningZeroEndsWalkWithSuccess) {
    process(*m, "A.EXE");
    process(*m, "B.EXE");
    Seen seen;
    seen.stopAfter = 1;
    EXPECT_NE(enumProcesses(nullptr, 0, collect, &seen), 0u);
    EXPECT_EQ(seen.records.size(), 1u);
}

TEST_F(Walk, FilterPassesOnlyThatProcess) {
    process(*m, "A.EXE");
    auto b = process(*m, "B.EXE");
    process(*m, "C.EXE");
    Seen seen;
    EXPECT_NE(enumProcesses(nullptr, b->id, collect, &seen), 0u);
    ASSERT_EQ(seen.records.size(), 1u);
    EXPECT_STREQ(seen.records[0].Name, "B");
}

TEST_F(Walk, DataLargerThanFirstBlockIsRead) {
    for (int i = 0; i < 1500; ++i) process(*m, "WORKER" + std::to_string(i) + ".EXE");
    Seen seen;
    ASSERT_NE(enumProcesses(nullptr, 0, collect, &seen), 0u);
    ASSERT_EQ(seen.records.size(), 1501u);
    EXPECT_STREQ(seen.records[1499].Name, "WORKER1499");
}

TEST_F(Walk, MissingCounterNameFailsTheWalk) {
    installCounterTable("Priority Base");
    process(*m, "A.EXE");
    Seen seen;
    EXPECT_EQ(enumProcesses(nullptr, 0, collect, &seen), 0u);
    EXPECT_TRUE(seen.records.empty());
    EXPECT_FALSE(initPerfIndexes(nullptr));
}

TEST_F(Walk, UnreadablePerformanceDataFailsTheWalk) {
    process(*m, "A.EXE");
    failNext(*m, "PerformanceData", 0, ERROR_ACCESS_DENIED);
    Seen seen;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(enumProcesses(nullptr, 0, collect, &seen), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(Walk, EachThreadHasItsOwnLookupState) {
    PerfWalkContext* mine = perfWalkContext();
    PerfWalkContext* other = nullptr;
    std::thread t([&] { other = perfWalkContext(); });
    t.join();
    EXPECT_NE(mine, other);
}

TEST(CounterTable, IndexLookups) {
    const char table[] = "2\0System\0" "230\0Process\0" "12ab\0Odd\0" "784\0ID Process\0" "\0";
    EXPECT_EQ(findCounterIndex(table, "Process"), 230);
    EXPECT_EQ(findCounterIndex(table, "ID Process"), 784);
    EXPECT_EQ(findCounterIndex(table, "Odd"), 12);
    EXPECT_EQ(findCounterIndex(table, "process"), -1);  // exact comparison
    EXPECT_EQ(findCounterIndex(table, "Missing"), -1);
    LPSTR text = findCounterIndexText(table, "Process");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "230");
    LocalFree((HLOCAL)text);
    EXPECT_EQ(parseIndex("784"), 784u);
    EXPECT_EQ(parseIndex("12ab"), 12u);
    EXPECT_EQ(parseIndex("x12"), 0u);
    EXPECT_EQ(parseIndex(""), 0u);
    // A table that ends after an index (no name) ends the search.
    const char odd[] = "230\0Process\0" "999\0" "\0";
    EXPECT_EQ(findCounterIndex(odd, "Nothing"), -1);
}

// --- killPrintManager ------------------------------------------------------

TEST_F(Walk, EveryPrintManagerIsTerminatedWith1067) {
    auto p1 = process(*m, "PRINTMAN.EXE");
    auto p2 = process(*m, "printman.exe");
    auto p3 = process(*m, "PrintMan.Exe");
    auto other = process(*m, "PRINTMAN2.EXE");
    auto shell = process(*m, "PROGMAN.EXE");
    EXPECT_NE(killPrintManager(), 0u);
    for (auto& p : {p1, p2, p3}) {
        EXPECT_FALSE(p->running) << p->name;
        EXPECT_EQ(p->exitCode, 1067u) << p->name;
    }
    EXPECT_TRUE(other->running);
    EXPECT_TRUE(shell->running);
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(Walk, NoPrintManagerTerminatesNothing) {
    auto shell = process(*m, "PROGMAN.EXE");
    EXPECT_NE(killPrintManager(), 0u);
    EXPECT_TRUE(shell->running);
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(Walk, ProtectedPrintManagerIsReportedAndWalkGoesOn) {
    auto guarded = process(*m, "PRINTMAN.EXE");
    guarded->isProtected = true;
    auto plain = process(*m, "PRINTMAN.EXE");
    EXPECT_NE(killPrintManager(), 0u);
    EXPECT_TRUE(guarded->running);
    EXPECT_FALSE(plain->running);
    EXPECT_EQ(messageBoxes(),
              std::vector<std::string>{"KillPrintManagerCallback|Couldn't terminate process (error = 5)"});
}

TEST_F(Walk, UnopenablePrintManagerIsReported) {
    auto p = process(*m, "PRINTMAN.EXE");
    failNext(*m, "OpenProcess", 1, ERROR_INVALID_PARAMETER);
    EXPECT_NE(killPrintManager(), 0u);
    EXPECT_TRUE(p->running);
    EXPECT_EQ(messageBoxes(),
              std::vector<std::string>{"KillPrintManagerCallback|Couldn't open process handle (error = 87)"});
}

TEST(WalkDeath, CounterTableWithoutPriorityBaseEndsSetup) {
    auto& m = bareMachine("printman-death");
    installCounterTable("Priority Base");
    process(m, "PRINTMAN.EXE");
    EXPECT_EXIT(
        {
            printErrorTextAtExit();
            killPrintManager();
        },
        ::testing::ExitedWithCode(0),
        "Unable to stop Print Manager, error = [0-9]+\\.  Please restart to a clean system before re-running this "
        "program\\.");
}

}  // namespace
