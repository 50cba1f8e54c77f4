// The process walk over the performance data, the counter table lookups,
// and the termination of every Print Manager process.
#include <thread>

#include "printsys/printsys.h"
#include "setup/harness.h"
#include "winsim/processes/state.h"

namespace {

using namespace harness;

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
    // The records the walk hands over as "name id threads priority; ...",
    // then "= result"; the callback ends the walk after `stopAfter` of them
    // (0: never).
    std::string walk(DWORD filter = 0, std::size_t stopAfter = 0) {
        struct Seen { std::string text; std::size_t count, stopAfter; } seen{"", 0, stopAfter};
        DWORD r = enumProcesses(nullptr, filter, [](ProcessRecord* rec, LPVOID ctx) -> DWORD {
            auto* s = static_cast<Seen*>(ctx);
            s->text += std::string(rec->Name) + " " + std::to_string(rec->ProcessId) + " " +
                       std::to_string(rec->ThreadCount) + " " + std::to_string(rec->BasePriority) + "; ";
            return s->stopAfter != 0 && ++s->count >= s->stopAfter ? 0 : 1;
        }, &seen);
        return seen.text + "= " + std::to_string(r);
    }
    winsim::Machine* m = nullptr;
};

TEST_F(Walk, RecordsCarryNameIdThreadsAndPriorityAndObeyFilterStopAndFailures) {
    auto a = process("EXPLORER.EXE", 7, 13);
    auto b = process("notepad.exe", 1, 8);
    const std::string ea = "EXPLORER " + std::to_string(a->id) + " 7 13; ", nb = "notepad " + std::to_string(b->id) + " 1 8; ";
    EXPECT_EQ(walk().substr(0, ea.size() + nb.size() + 7), ea + nb + "_Total ");
    EXPECT_EQ(walk().substr(walk().size() - 3), "= 1");
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndexText, nullptr);  // freed by the walk
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndex, 230u);
    EXPECT_EQ(walk(0, 1), ea + "= 1");  // a callback answering 0 ends the walk with success
    EXPECT_EQ(walk(b->id), nb + "= 1");
    failNext("PerformanceData", 0, ERROR_ACCESS_DENIED);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(walk(), "= 0");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    m->faults.clear();
    for (int i = 0; i < 1500; ++i) process("WORKER" + std::to_string(i) + ".EXE");  // more than the first block
    EXPECT_NE(walk().find("WORKER1499 "), std::string::npos);
    installCounterTable("Priority Base");
    EXPECT_EQ(walk(), "= 0");
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

// Every Print Manager, whatever the case of its name, ends with 1067; one
// that cannot be opened or ended is reported and the walk goes on; a walk
// that cannot run ends setup.
TEST_F(Walk, EveryPrintManagerIsTerminatedWith1067) {
    EXPECT_NE(killPrintManager(), 0u);  // none running: nothing to do
    auto other = process("PRINTMAN2.EXE"), shell = process("PROGMAN.EXE"), guarded = process("PRINTMAN.EXE");
    guarded->isProtected = true;
    auto p1 = process("PRINTMAN.EXE"), p2 = process("printman.exe"), p3 = process("PrintMan.Exe");
    EXPECT_NE(killPrintManager(), 0u);
    std::string states;
    for (auto& p : {other, shell, guarded, p1, p2, p3}) states += std::to_string(p->running) + std::to_string(p->exitCode) + " ";
    EXPECT_EQ(states, "1259 1259 1259 01067 01067 01067 ");  // 259: still active
    guarded->isProtected = false;
    failNext("OpenProcess", 1, ERROR_INVALID_PARAMETER);
    EXPECT_NE(killPrintManager(), 0u);
    EXPECT_TRUE(guarded->running);
    EXPECT_EQ(messageBoxes(), (Lines{"KillPrintManagerCallback|Couldn't terminate process (error = 5)",
                                     "KillPrintManagerCallback|Couldn't open process handle (error = 87)"}));
    installCounterTable("Priority Base");
    EXPECT_ENDS_SETUP(killPrintManager(), "Unable to stop Print Manager, error = [0-9]+\\.  Please restart to a "
                                          "clean system before re-running this program\\.");
}

}  // namespace
