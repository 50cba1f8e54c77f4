// The print system: monitor detection (which module the platform uses and whether any monitor key names it) and its
// port list; the process walk over the performance data and the end of every Print Manager; detaching printers from
// the monitor's ports; spooler service control (the stop and start protocol with the spooler's dependents, the waits
// in virtual time, the running test).
#include <cstdlib>
#include <thread>
#include <winperf.h>

#include "printsys/printsys.h"
#include "setup/harness.h"
#include "winsim/processes/state.h"
#include "winsim/services/state.h"

namespace {

using namespace harness;

TEST(MonitorDetection, ModuleOfThePlatformNamedByAnyKey) {
    // Keys as "name=driver" ("name" alone: no value); 17 bytes with the NUL are longer than what is read.
    const struct { bool windows95; Lines keys; bool found; } rows[] = {
        {false, {}, false},
        {false, {"Local Port=localmon.dll", "Varden Network Port=vrdpsmon.dll"}, true},
        {false, {"Earlier Name=VRDPSMON.DLL", "Zeta=zeta.dll"}, true},
        {false, {"A=c:\\vrdpsmon.dll", "B=vrdpsmon.dll.oldx", "C"}, false},
        {false, {"A=vrdpsmw4.dll"}, false},
        {true, {"A=vrdpsmon.dll"}, false},
        {true, {"A=vrdpsmon.dll", "B=vrdpsmw4.dll"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.keys));
        bareMachine("mon", row.windows95);
        for (const auto& k : row.keys) {
            auto eq = k.find('=');
            if (eq == std::string::npos) makeKey(mon(k));
            else setSz(mon(k.substr(0, eq)), "driver", k.substr(eq + 1));
        }
        // As the callers run it: the key opened for all access, the module name from getMonitorDllName.
        HKEY monitors = createKey(kMonitors);
        LPCSTR dll = nullptr;
        EXPECT_EQ(getMonitorDllName(&dll), (DWORD)STS_DONE);
        EXPECT_STREQ(dll, row.windows95 ? "vrdpsmw4.dll" : "vrdpsmon.dll");
        EXPECT_EQ(isVrdpsmonInstalled(monitors, dll) != FALSE, row.found);
        RegCloseKey(monitors);
    }
    // Sixteen bytes without a terminator: read whole, compared as text of sixteen characters, and so not the module.
    setValue(mon("A"), "driver", REG_BINARY, "vrdpsmon.dllxxxx", 16);
    HKEY monitors = createKey(kMonitors);
    EXPECT_FALSE(monitorUsesDriver(monitors, "A", "vrdpsmon.dll"));
    setValue(mon("B"), "driver", REG_BINARY, "VRDPSMON.DLL", 12);  // shorter: the rest of the buffer is zero
    EXPECT_TRUE(monitorUsesDriver(monitors, "B", "vrdpsmon.dll"));
    EXPECT_FALSE(monitorUsesDriver(monitors, "Missing", "vrdpsmon.dll"));
    RegCloseKey(monitors);
    EXPECT_ENDS_SETUP(failNext("RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED); isVrdpsmonInstalled(monitors, "vrdpsmon.dll"),
                      "isVrdpsmonInstalled -- Couldn't get subkey info, Error = 5");
}

const std::string kPorts = mon("Varden Network Port\\Ports");

// The list holds N pointers of the build's width, then slots of the longest name + 2, each entry ending in exactly
// one comma, in registry order.
TEST(PortNames, ListHoldsPointersThenCommaTerminatedSlots) {
    bareMachine("ports-list");
    LPSTR* list = reinterpret_cast<LPSTR*>(&list);
    DWORD count = 7;
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);  // no Ports key
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list, nullptr);
    makeKey(kPorts);
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);  // an empty one
    EXPECT_EQ(count, 0u);
    std::free(list);
    for (const char* p : {"NP10", "A", "LONGPORTNAME"}) makeKey(kPorts + "\\" + p);
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 3u);
    const char* base = reinterpret_cast<const char*>(list);
    std::string text;
    for (DWORD i = 0; i < count; ++i)
        text += std::string(list[i]) + " @" + std::to_string(list[i] - base) + " ";
    const std::size_t p = 3 * sizeof(LPSTR), slot = std::strlen("LONGPORTNAME") + 2;
    EXPECT_EQ(text, "A, @" + std::to_string(p) + " LONGPORTNAME, @" + std::to_string(p + slot) + " NP10, @" +
                        std::to_string(p + 2 * slot) + " ");
    EXPECT_EQ(list[1][slot - 1], '\0');  // the longest entry fills its slot exactly
    std::free(list);
    // Sixty ports of different lengths: every slot must lie inside the block, which on a 64-bit build needs 8 bytes
    // per pointer.
    for (int i = 0; i < 60; ++i) makeKey(kPorts + "\\P" + std::to_string(i * 997));
    ASSERT_EQ(getMonitorPortNames(&list, &count), (DWORD)STS_DONE);
    ASSERT_EQ(count, 63u);
    for (DWORD i = 0; i < count; ++i) EXPECT_EQ(list[i][std::strlen(list[i]) - 1], ',') << i;
    std::free(list);
    for (auto [call, text] : {std::pair{"RegQueryInfoKeyA", "Invalid Ports subkey found in Registry, error = 5"},
                              {"RegEnumKeyExA", "Unable to access Ports subkey names, error = 5"}})
        EXPECT_ENDS_SETUP(failNext(call, 0, ERROR_ACCESS_DENIED); getMonitorPortNames(&list, &count),
                          std::string(text) + "\\.  Please restart system before re-running program\\.") << call;
}

struct Walk : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("printman");
        installCounterTable();
    }
    std::shared_ptr<winsim::SimProcess> process(const std::string& name, DWORD threads = 3, LONG priority = 8) {
        auto p = winsim::addProcess(*m, name, "");
        p->threads = threads, p->priority = priority;
        return p;
    }
    // The records the walk of `machine` hands over as "name id threads priority; ...", then "= result"; the callback
    // ends the walk after `stopAfter` of them (0: never).
    std::string walk(DWORD filter = 0, std::size_t stopAfter = 0, LPCSTR machine = nullptr) {
        struct Seen { std::string text; std::size_t count, stopAfter; } seen{"", 0, stopAfter};
        DWORD r = enumProcesses(machine, filter, [](ProcessRecord* rec, LPVOID ctx) -> DWORD {
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
    auto b = process("n.exe", 1, 8);  // a name of one letter
    const std::string ea = "EXPLORER " + std::to_string(a->id) + " 7 13; ", nb = "n " + std::to_string(b->id) + " 1 8; ";
    const std::string all = walk();
    EXPECT_EQ(all.substr(0, ea.size() + nb.size() + 7), ea + nb + "_Total ");
    EXPECT_EQ(all.substr(all.size() - 3), "= 1");
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndexText, nullptr);  // freed by the walk
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndex, 230u);
    EXPECT_EQ(walk(0, 1), ea + "= 1");  // a callback answering 0 ends the walk with success
    const std::string self = "\\\\" + m->computerName;
    EXPECT_EQ(walk(b->id, 0, self.c_str()), nb + "= 1");  // this machine by its name
    // Another machine, its data that cannot be reached, the counter names that cannot be opened or read (size, then
    // data), the data refused.
    for (auto [machine, call, later, error] : {std::tuple{"\\\\ELSEWHERE", "", 0u, ERROR_BAD_NETPATH},
                                               {self.c_str(), "RegConnectRegistryA", 1u, ERROR_ACCESS_DENIED},
                                               {nullptr, "RegOpenKeyExA", 0u, ERROR_ACCESS_DENIED},
                                               {nullptr, "RegQueryValueExA", 0u, ERROR_ACCESS_DENIED},
                                               {nullptr, "RegQueryValueExA", 1u, ERROR_INVALID_HANDLE},
                                               {nullptr, "PerformanceData", 0u, ERROR_ACCESS_DENIED}}) {
        failNext(call, 1, error);
        m->faults.back().nth += later;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(walk(0, 0, machine), "= 0") << call;
        EXPECT_EQ(GetLastError(), error) << call;
        m->faults.clear();
    }
    // A block cut short (the size the simulation states for it, which it caches, made smaller) fails the walk unless
    // the cut takes only counters the walk does not read: the last record is handed over exactly when it succeeds.
    walk();  // states the block's size
    const std::size_t full = m->processes->perfSize.bytes;
    for (std::size_t cut = 1; cut <= 160; ++cut) {
        m->processes->perfSize.bytes = full - cut;
        const std::string cutShort = walk();
        EXPECT_EQ(cutShort.find("_Total") != std::string::npos, cutShort.back() == '1') << cut;
    }
    m->processes->changed();
    // Damaged answers, as a faulty counter provider leaves them: the second instance's name length in bytes (2: "n"
    // without its terminator, 1: not one character) or offset (0: no name; far: outside the block), the ID Process
    // definition one byte long (the walk steps into its middle), only 15 counter definitions (ID Process the last),
    // no object with the Process index (its length 0, or a second object said to follow), fewer bytes answered than
    // the header states (the last instance lies outside).
    enum { kNameLength, kNameOffset, kIdDefinitionLength, kNumCounters, kObjectIndex, kObjectLength, kNumObjects,
           kShortBy };
    const struct { std::vector<std::pair<int, DWORD>> edits; std::string starts; char result; } damaged[] = {
        {{{kNameLength, 2}}, ea + "n ", '1'}, {{{kNameLength, 1}}, ea + " ", '1'}, {{{kNameLength, 0}}, ea + " ", '1'},
        {{{kNameOffset, 0}}, ea + " ", '1'}, {{{kNameLength, 1}, {kNameOffset, 0x10000}}, ea + "= 0", '0'},
        {{{kIdDefinitionLength, 1}}, "= 0", '0'}, {{{kNumCounters, 15}}, ea + nb, '1'},
        {{{kObjectIndex, 0}}, "= 0", '0'}, {{{kObjectIndex, 0}, {kObjectLength, 0}}, "= 0", '0'},
        {{{kObjectIndex, 0}, {kNumObjects, 2}}, "= 0", '0'}, {{{kShortBy, 40}}, ea + nb + "= 0", '0'}};
    for (const auto& row : damaged) {
        m->processes->damagePerfData = [&row](unsigned char* block, DWORD& size) {
            auto* header = reinterpret_cast<PERF_DATA_BLOCK*>(block);
            auto* type = reinterpret_cast<PERF_OBJECT_TYPE*>(block + header->HeaderLength);
            BYTE* first = block + header->HeaderLength + type->DefinitionLength;
            BYTE* counters = first + reinterpret_cast<PERF_INSTANCE_DEFINITION*>(first)->ByteLength;
            const DWORD countersLength = reinterpret_cast<PERF_COUNTER_BLOCK*>(counters)->ByteLength;
            auto* second = reinterpret_cast<PERF_INSTANCE_DEFINITION*>(counters + countersLength);
            auto* id = reinterpret_cast<PERF_COUNTER_DEFINITION*>(block + header->HeaderLength + type->HeaderLength);
            while (id->CounterNameTitleIndex != 784) ++id;
            DWORD* fields[] = {&second->NameLength, &second->NameOffset, &id->ByteLength, &type->NumCounters,
                               &type->ObjectNameTitleIndex, &type->TotalByteLength, &header->NumObjectTypes, nullptr};
            for (auto [field, value] : row.edits)
                if (field == kShortBy) size -= value;
                else *fields[field] = value;
        };
        const std::string seen = walk();
        EXPECT_EQ(seen.substr(0, row.starts.size()), row.starts) << &row - damaged;
        EXPECT_EQ(seen.back(), row.result) << &row - damaged;
    }
    m->processes->damagePerfData = nullptr;
    // Instances without any of the three counters fail it too (the walk reads "680x" as 680, the data leaves out a
    // counter whose index is not a number).
    const char odd[] = "230\0Process\0" "680x\0Thread Count\0" "682x\0Priority Base\0" "784x\0ID Process\0";
    setValue("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", "Counters", REG_MULTI_SZ, odd,
             sizeof odd);
    EXPECT_EQ(walk(), "= 0");
    installCounterTable();
    for (int i = 0; i < 1500; ++i) process("WORKER" + std::to_string(i) + ".EXE");  // more than the first block
    EXPECT_NE(walk().find("WORKER1499 "), std::string::npos);
    installCounterTable("Priority Base");
    EXPECT_EQ(walk(), "= 0");
    EXPECT_EQ(perfWalkContext()->ProcessObjectIndexText, nullptr);
    EXPECT_FALSE(initPerfIndexes(nullptr));
    // Each thread has its own lookup state.
    PerfWalkContext* other = nullptr;
    std::thread t([&] { other = perfWalkContext(); });
    t.join();
    EXPECT_NE(perfWalkContext(), other);
}

// Every Print Manager, whatever the case of its name, ends with 1067; one that cannot be opened or ended is reported
// and the walk goes on; a walk that cannot run ends setup.
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
    EXPECT_ENDS_SETUP(failNext("PerformanceData", 1, ERROR_ACCESS_DENIED); killPrintManager(),
                      "Unable to stop Print Manager, error = 5\\.  Please restart to a clean system before re-running "
                      "this program\\.");
}

struct RemovePrinters : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("removeprinter");
        winsim::loadService(nlohmann::json{{"list", {{{"name", "Spooler"}, {"state", "running"}}}}}, *m);
        ASSERT_EQ(winsim::defineMonitor("Varden Network Port", "vrdpsmon.dll", {"NP1", "NP2", "NP3", "NP20"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Other Port", "othermon.dll", {"XNP2"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"}), 0u);
        ASSERT_EQ(winsim::defineDriver(winsim::ownEnvironment(), {"Laser", "pscript.dll", "laser.ppd", "pscrptui.dll", 1}), 0u);
    }
    void addPrinter(const std::string& name, const std::string& ports) {
        winsim::SpoolPrinter p;
        p.name = name, p.port = ports, p.driver = "Laser";
        ASSERT_EQ(winsim::definePrinter(p), 0u);
    }
    // The stored printer's ports ("<deleted>" when it is gone), " paused" added when it is.
    std::string stored(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return p.port + (p.status & PRINTER_STATUS_PAUSED ? " paused" : "");
        return "<deleted>";
    }
    // The level-2 record of `name` as EnumPrintersA returns it.
    PRINTER_INFO_2A* record(const std::string& name) {
        DWORD needed = 0, count = 0;
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
        buffer.assign(needed + 1, 0);
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count));
        auto* printers = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            if (name == printers[i].pPrinterName) return &printers[i];
        ADD_FAILURE() << "no printer " << name;
        return nullptr;
    }
    // RemovePrinter on `name` with `entry`: "record's ports|stored ports".
    std::string removeOne(const std::string& name, const char* entry) {
        PRINTER_INFO_2A* rec = record(name);
        RemovePrinter(rec, entry);
        return std::string(rec->pPortName) + "|" + stored(name);
    }
    winsim::Machine* m = nullptr;
    std::vector<BYTE> buffer;
};

// The record loses the entry, and the spooler stores what is left; a printer left without a port is deleted with its
// jobs.
TEST_F(RemovePrinters, PortListExamples) {
    const struct { const char *ports, *entry, *left; } rows[] = {
        {"NP2,NP3", "NP2,", "NP3"},   {"NP1,NP2,NP3", "NP2,", "NP1,NP3"}, {"NP1,NP2", "NP2,", "NP1"},
        {"NP20,NP2", "NP2,", "NP20"}, {"XNP2,NP3", "NP2,", "XNP2,NP3"},   {"NP1,LPT1:", "NP1,", "LPT1:"}};
    for (const auto& row : rows) addPrinter("P" + std::to_string(&row - rows), row.ports);
    for (const auto& row : rows)
        EXPECT_EQ(removeOne("P" + std::to_string(&row - rows), row.entry), std::string(row.left) + "|" + row.left);
    addPrinter("Only", "NP1");
    winsim::SpoolJob job;
    job.document = "Quarterly report";
    ASSERT_NE(winsim::addSpoolJob("Only", job), 0u);
    ASSERT_NE(winsim::addSpoolJob("Only", job), 0u);
    auto setJobsBefore = m->callCounts["SetJobA"];
    PRINTER_INFO_2A* rec = record("Only");
    RemovePrinter(rec, "NP1,");
    EXPECT_EQ(std::string(rec->pPortName) + "|" + stored("Only"), "|<deleted>");
    EXPECT_EQ(rec->pSecurityDescriptor, nullptr);
    // The level-1 record with its strings does not fit 64 bytes: no job command was sent, the purge emptied the
    // queue.
    EXPECT_EQ(m->callCounts["SetJobA"], setJobsBefore);
    // A second call finds the printer gone and says nothing; no record, or one without ports, is left alone.
    RemovePrinter(rec, "NP1,");
    PRINTER_INFO_2A portless{};
    RemovePrinter(&portless, "NP1,");
    RemovePrinter(nullptr, "NP1,");
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_TRUE(m->spooler->handles.empty());
}

TEST_F(RemovePrinters, FailuresAreReportedAndTheWorkGoesOn) {
    const struct { const char* ports; const char* call; std::uint32_t times; DWORD error; const char* after; Lines boxes; } rows[] = {
        {"NP1", "DeletePrinter", 1, ERROR_ACCESS_DENIED, "NP1|NP1 paused", {"Remove Printer|Couldn't delete printer X (Error = 5)"}},
        {"NP1", "SetPrinterA", 2, ERROR_INVALID_PARAMETER, "|<deleted>",
         {"Remove Printer|Couldn't pause printer X (Error = 87)", "Remove Printer|Couldn't purge printer X (Error = 87)"}},
        {"NP1,LPT1:", "ClosePrinter", 1, ERROR_INVALID_HANDLE, "LPT1:|LPT1:", {"RemovePrinter|Couldn't close printer handle (error = 6)"}},
        {"NP1", "OpenPrinterA", 1, ERROR_ACCESS_DENIED, "NP1|NP1", {}},  // skipped silently
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        SetUp();
        addPrinter("X", row.ports);
        failNext(row.call, row.times, row.error);
        EXPECT_EQ(removeOne("X", "NP1,"), row.after);
        EXPECT_EQ(messageBoxes(), row.boxes);
        EXPECT_EQ(m->spooler->handles.empty(), std::string(row.call) != "ClosePrinter");
    }
}

// The walk's machine (the spooler stop ends Print Manager through the process walk).
struct Spooler : Walk {
    ~Spooler() override { std::free(list); }  // the program keeps the list until it ends
    winsim::Service& declare(const std::string& name, DWORD state, std::vector<std::string> deps = {},
                             std::vector<DWORD> stopSteps = {}) {
        winsim::Service s;
        s.name = name, s.displayName = name + " service", s.state = state, s.startType = SERVICE_AUTO_START;
        s.dependencies = std::move(deps);
        s.onStop.steps = std::move(stopSteps);
        m->services->services.push_back(s);
        return m->services->services.back();
    }
    // The spooler and three dependents that the manager lists as A, B, C; the spooler takes 1 s to stop, B two steps
    // of 2 s.
    void withDependents() {
        declare("Spooler", SERVICE_RUNNING, {}, {1000});
        for (const char* s : {"C", "B", "A"})
            declare(s, SERVICE_RUNNING, {"Spooler"}, *s == 'B' ? std::vector<DWORD>{2000, 2000} : std::vector<DWORD>{});
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
    DependentServiceList* list = nullptr;
};

const std::string kDone = std::to_string(STS_DONE), kFailed = std::to_string(STS_FAILED);

TEST_F(Spooler, StopsDependentsInListOrderThenSpoolerAndStartsThemBackInReverse) {
    withDependents();
    auto printman = process("PRINTMAN.EXE");  // ended with the spooler
    list = reinterpret_cast<DependentServiceList*>(0x1);
    ASSERT_EQ(timed(stopSpooler, &list), kDone + ", 8000");  // B's 4 s, the spooler's 1 s, 3 s to settle
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(printman->running);
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

TEST_F(Spooler, NoActiveDependentsRestartWhileRunningAndTheRunningTest) {
    declare("Spooler", SERVICE_RUNNING);
    declare("Idle", SERVICE_STOPPED, {"Spooler"});
    // The second time the manager answers "more data" with nothing needed: no dependents either.
    for (bool moreData : {false, true}) {
        if (moreData) failNext("EnumDependentServicesA", 1, ERROR_MORE_DATA);
        list = reinterpret_cast<DependentServiceList*>(0x1);
        ASSERT_EQ(stopSpooler(&list), (DWORD)STS_DONE) << moreData;
        EXPECT_EQ(list, nullptr) << moreData;
        EXPECT_EQ(startSpooler(nullptr), (DWORD)STS_DONE) << moreData;
    }
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
    // Running means running or start pending.
    winsim::Service& s = m->services->services[0];
    std::string answers = std::to_string(isSpoolerRunning());
    for (DWORD state : {SERVICE_PAUSED, SERVICE_STOPPED}) s.state = state, answers += std::to_string(isSpoolerRunning());
    for (DWORD pending : {SERVICE_START_PENDING, SERVICE_STOP_PENDING}) {
        s.transition = winsim::ServiceTransition{pending, pending == SERVICE_START_PENDING ? (DWORD)SERVICE_RUNNING : (DWORD)SERVICE_STOPPED,
                                                 winsim::now(), {3000}, true};
        answers += std::to_string(isSpoolerRunning());
    }
    failNext("OpenSCManagerA", 1, ERROR_ACCESS_DENIED);  // not known to run
    EXPECT_EQ(answers + std::to_string(isSpoolerRunning()), "100100");
    EXPECT_TRUE(m->services->handles.empty());
}

TEST_F(Spooler, StopFailuresAndTheStopOrder) {
    // A zero check point ends the wait at once; the spooler is still stopping.
    declare("Spooler", SERVICE_RUNNING).onStop.hang = true;
    EXPECT_EQ(timed(stopSpooler, &list), kFailed + ", 0");
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
    SetUp();
    withDependents();
    // Each fault fires only if its service gets the n-th stop request: all three refusals land only when the order is
    // A, B, C. The dependents' failures are ignored; the spooler then refuses to stop while they run.
    auto base = m->callCounts["ControlService"] + 1;
    for (const char* s : {"A", "B", "C"}) m->faults.push_back({"ControlService", base++, 1, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, s});
    EXPECT_EQ(stopSpooler(&list), (DWORD)STS_FAILED);
    EXPECT_EQ(states(), "Spooler=4 C=4 B=4 A=4 Idle=1 ");
}

}  // namespace
