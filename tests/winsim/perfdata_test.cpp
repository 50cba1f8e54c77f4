// Performance data through RegQueryValueExA(HKEY_PERFORMANCE_DATA): the
// buffer protocol, and the block parsed back by a walker of its own that
// checks Microsoft's layout (lengths, offsets, 8-byte alignment).
#include "winsim/core/machine.h"
#include "winsim/processes/perfdata.h"
#include "winsim/processes/state.h"
#include "sim.h"

#include <winperf.h>

#include <cstring>
#include <map>
#include <tuple>
#include <set>
#include <vector>

namespace {

using nlohmann::json;
using Table = std::vector<std::pair<const char*, const char*>>;
using Ids = std::vector<DWORD>;

// The standard table (names on even indexes, a few neighbours included).
const Table kStandard = {{"1", "1847"},       {"2", "System"},        {"4", "Memory"},
                         {"230", "Process"},  {"232", "Thread"},      {"238", "Processor"},
                         {"680", "Thread Count"}, {"682", "Priority Base"}, {"684", "Elapsed Time"},
                         {"784", "ID Process"}};

template <class T>
T at(const std::vector<unsigned char>& b, std::size_t off) {
    EXPECT_LE(off + sizeof(T), b.size());
    T v;
    std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}

// UTF-16 text of `bytes` bytes (its NUL counted), checked to fill them exactly.
std::string utf16(const std::vector<unsigned char>& b, std::size_t off, std::size_t bytes) {
    std::string s;
    for (std::size_t i = 0; i + 2 <= bytes && at<char16_t>(b, off + i); i += 2) s += (char)at<char16_t>(b, off + i);
    EXPECT_EQ((s.size() + 1) * 2, bytes) << s;
    return s;
}

struct Instance {
    std::string name;
    std::map<DWORD, DWORD> counters;  // counter index -> value, of the counters the program reads
};

struct Parsed {
    std::string system;
    Ids objects;         // ObjectNameTitleIndex of each object
    Ids counterIndexes;  // of the Process object: the ones the program reads
    Ids allIndexes;      // every counter of the Process object, in order
    Ids largeIndexes;    // the 64-bit ones among them
    std::vector<Instance> instances;
};

// Walks a data block, checking the layout as it goes.
Parsed walk(const std::vector<unsigned char>& b, DWORD processIndex = 230) {
    // The counters that keep their standard indexes are not the ones the program reads.
    static const std::set<DWORD> kFixed{6, 142, 144, 172, 174, 28, 178, 180, 182, 184, 186, 684, 56, 58, 952};
    Parsed r;
    auto pdb = at<PERF_DATA_BLOCK>(b, 0);
    EXPECT_EQ(std::u16string(pdb.Signature, pdb.Signature + 4), u"PERF");
    EXPECT_EQ(std::tuple(pdb.LittleEndian, pdb.Version, pdb.Revision, pdb.DefaultObject), std::tuple(1u, 1u, 1u, 238));
    EXPECT_EQ(pdb.TotalByteLength, b.size());
    EXPECT_EQ(pdb.SystemNameOffset, sizeof(PERF_DATA_BLOCK));
    EXPECT_EQ(pdb.HeaderLength, (sizeof(PERF_DATA_BLOCK) + pdb.SystemNameLength + 7) / 8 * 8);
    r.system = utf16(b, pdb.SystemNameOffset, pdb.SystemNameLength);
    std::size_t obj = pdb.HeaderLength;
    for (DWORD o = 0; o < pdb.NumObjectTypes; obj += at<PERF_OBJECT_TYPE>(b, obj).TotalByteLength, ++o) {
        EXPECT_EQ(obj % 8, 0u);
        auto ot = at<PERF_OBJECT_TYPE>(b, obj);
        EXPECT_EQ(ot.HeaderLength, sizeof(PERF_OBJECT_TYPE));
        EXPECT_EQ(ot.DefinitionLength, sizeof(PERF_OBJECT_TYPE) + ot.NumCounters * sizeof(PERF_COUNTER_DEFINITION));
        r.objects.push_back(ot.ObjectNameTitleIndex);
        if (ot.ObjectNameTitleIndex != processIndex) continue;
        std::vector<PERF_COUNTER_DEFINITION> defs;
        for (DWORD i = 0; i < ot.NumCounters; ++i) {
            auto cd = at<PERF_COUNTER_DEFINITION>(b, obj + ot.HeaderLength + i * sizeof(PERF_COUNTER_DEFINITION));
            EXPECT_EQ(cd.ByteLength, sizeof cd);
            // The size follows the type; each value sits on a boundary of its size.
            EXPECT_EQ(cd.CounterSize, (cd.CounterType & PERF_SIZE_LARGE) ? 8u : 4u);
            EXPECT_EQ(cd.CounterOffset % cd.CounterSize, 0u);
            EXPECT_GE(cd.CounterOffset, sizeof(PERF_COUNTER_BLOCK));
            r.allIndexes.push_back(cd.CounterNameTitleIndex);
            if (cd.CounterSize == 8) r.largeIndexes.push_back(cd.CounterNameTitleIndex);
            if (!kFixed.count(cd.CounterNameTitleIndex)) {
                defs.push_back(cd);
                r.counterIndexes.push_back(cd.CounterNameTitleIndex);
            }
        }
        std::size_t inst = obj + ot.DefinitionLength;
        for (LONG i = 0; i < ot.NumInstances; ++i) {
            EXPECT_EQ(inst % 8, 0u);
            auto id = at<PERF_INSTANCE_DEFINITION>(b, inst);
            EXPECT_EQ(id.ByteLength % 8, 0u);
            EXPECT_EQ(id.UniqueID, PERF_NO_UNIQUE_ID);
            EXPECT_LE(id.NameOffset + id.NameLength, id.ByteLength);
            Instance in{utf16(b, inst + id.NameOffset, id.NameLength), {}};
            std::size_t block = inst + id.ByteLength;
            auto cb = at<PERF_COUNTER_BLOCK>(b, block);
            EXPECT_EQ(cb.ByteLength % 8, 0u);
            for (auto& cd : defs) {
                EXPECT_LE(cd.CounterOffset + cd.CounterSize, cb.ByteLength);
                in.counters[cd.CounterNameTitleIndex] = at<DWORD>(b, block + cd.CounterOffset);
            }
            r.instances.push_back(in);
            inst = block + cb.ByteLength;
        }
        EXPECT_EQ(inst, obj + ot.TotalByteLength);
    }
    EXPECT_EQ(obj, b.size());
    return r;
}

struct Perf : ::testing::Test {
    void SetUp() override { machineFor(winsim::Platform::NT); }

    void machineFor(winsim::Platform p) {
        winsim::loadProcess(json::parse(R"({"list": [
            {"id": 0, "name": "Idle", "threads": 1, "priority": 0},
            {"id": 2, "name": "System", "threads": 24, "priority": 8},
            {"id": 91, "name": "PRINTMAN.EXE", "threads": 2, "priority": 8},
            {"id": 120, "name": "PrintMan.exe", "threads": 3, "priority": 9},
            {"id": 140, "name": "PRINTMAN2.EXE", "threads": 1, "priority": 7},
            {"id": 150, "name": "nt.dll.exe", "threads": 5, "priority": 13}
        ]})"),
                            sim::fresh(p));
        setTable(kStandard);
    }

    void setTable(const Table& pairs) {
        std::string text;
        for (auto& [i, n] : pairs) text += std::string(i) + '\0' + n + '\0';
        text += '\0';
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009",
                                  0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(k, "Counters", 0, REG_MULTI_SZ, (const BYTE*)text.data(), (DWORD)text.size()),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }

    // The whole answer for `name`, grown as a program grows its buffer.
    std::vector<unsigned char> query(const char* name) {
        std::vector<unsigned char> buf(64);
        for (;;) {
            DWORD size = (DWORD)buf.size(), type = 0xdeadbeef;
            LONG e = RegQueryValueExA(HKEY_PERFORMANCE_DATA, name, nullptr, &type, buf.data(), &size);
            if (e != ERROR_MORE_DATA) {
                EXPECT_EQ(e, ERROR_SUCCESS);
                EXPECT_EQ(type, (DWORD)REG_BINARY);
                buf.resize(size);
                return buf;
            }
            EXPECT_EQ(size, buf.size());  // left as passed
            buf.resize(buf.size() + 1024);
        }
    }
};

// "name 680=2 682=8 784=91; ..." of every instance.
std::string instances(const Parsed& p) {
    std::string out;
    for (const auto& i : p.instances) {
        out += i.name;
        for (auto [index, value] : i.counters) out += " " + std::to_string(index) + "=" + std::to_string(value);
        out += "; ";
    }
    return out;
}

TEST_F(Perf, ProcessObjectListsEveryProcessAndTotalWithTheCountersOfNt) {
    Parsed p = walk(query("230"));
    EXPECT_EQ(p.system, "VARDEN1");
    EXPECT_EQ(p.objects, Ids{230});
    EXPECT_EQ(p.counterIndexes, (Ids{680, 682, 784}));
    // NT 3.51's Process object in its order; a walk must take every offset
    // from the definitions, as 64-bit counters come before the ones it reads.
    EXPECT_EQ(p.allIndexes, (Ids{6, 142, 144, 172, 174, 28, 178, 180, 182, 184, 186, 680, 682, 684, 784, 56, 58, 952}));
    EXPECT_EQ(p.largeIndexes, (Ids{6, 142, 144, 684}));
    EXPECT_EQ(instances(p), "Idle 680=1 682=0 784=0; System 680=24 682=8 784=2; PRINTMAN 680=2 682=8 784=91; "
                            "PrintMan 680=3 682=9 784=120; PRINTMAN2 680=1 682=7 784=140; nt.dll 680=5 682=13 784=150; "
                            "_Total 680=36 682=0 784=0; ");
    // Ended processes leave the data.
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 91);
    ASSERT_TRUE(TerminateProcess(h, ERROR_PROCESS_ABORTED));
    CloseHandle(h);
    EXPECT_EQ(instances(walk(query("230"))).find("PRINTMAN "), std::string::npos);
    winsim::machine().processes->list.clear();
    winsim::machine().processes->changed();
    EXPECT_EQ(instances(walk(query("230"))), "_Total 680=0 682=0 784=0; ");
}

// The value name selects the objects; the indexes follow the table.
TEST_F(Perf, ValueNameSelectsObjectsAndIndexesFollowTheTable) {
    for (const char* name : {"Global", "2 4 230"}) EXPECT_EQ(walk(query(name)).objects, Ids{230}) << name;
    for (const char* name : {"Costly", "238", "2300"}) EXPECT_TRUE(walk(query(name)).objects.empty()) << name;
    auto table = kStandard;
    table.erase(table.begin() + 7);  // "Priority Base"
    setTable(table);
    EXPECT_EQ(instances(walk(query("230"))), "Idle 680=1 784=0; System 680=24 784=2; PRINTMAN 680=2 784=91; "
                                             "PrintMan 680=3 784=120; PRINTMAN2 680=1 784=140; nt.dll 680=5 784=150; "
                                             "_Total 680=36 784=0; ");
    setTable({{"232", "Process"}, {"10", "Thread Count"}, {"12", "Priority Base"}, {"14", "ID Process"},
              {"16", "ID Process"}});
    EXPECT_TRUE(walk(query("230"), 232).objects.empty());
    Parsed p = walk(query("232"), 232);
    EXPECT_EQ(p.objects, Ids{232});
    EXPECT_EQ(p.counterIndexes, (Ids{10, 12, 14}));  // the first "ID Process" counts
}

// The null-buffer query is a conformance case; here: a short buffer and the
// exact size, with guard bytes, in a buffer that is not 8-aligned.
TEST_F(Perf, SizeProtocolLeavesSizeAndBufferAlone) {
    DWORD size = 12345, type = 0xdeadbeef;
    EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, &type, nullptr, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size + type, 12345u + 0xdeadbeefu);
    std::vector<unsigned char> whole = query("230");
    std::vector<unsigned char> buf(whole.size() + 16, 0xab), guard = buf;
    size = (DWORD)whole.size() - 1;
    EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, &type, buf.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, whole.size() - 1);
    EXPECT_EQ(buf, guard);
    size = (DWORD)whole.size();
    ASSERT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, &type, buf.data() + 4, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, whole.size());
    std::copy(whole.begin(), whole.end(), guard.begin() + 4);
    EXPECT_EQ(buf, guard);
    EXPECT_EQ(winsim::queryPerformanceData("230", nullptr, buf.data(), nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(Perf, DeclaredFaultFailsTheQueryAndWindows95HasNoData) {
    winsim::machine().faults.push_back({"PerformanceData", 1, 1, ERROR_NOT_ENOUGH_MEMORY, "230"});
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, nullptr, &size), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(walk(query("230")).instances.size(), 7u);
    machineFor(winsim::Platform::Win95);
    size = 100;
    DWORD type = 0xdeadbeef;
    unsigned char buf[100];
    EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, &type, buf, &size), ERROR_BADKEY);
    EXPECT_EQ(size, 100u);
}

TEST(PerfTable, ParsesPairsUpToTheEmptyString) {
    const char table[] = "230\0Process\0" "680\0Thread Count\0" "\0" "682\0Priority Base\0";
    winsim::PerfIndexes ix = winsim::perfIndexesFromTable(table, sizeof table);
    EXPECT_EQ(ix.process, 230u);
    EXPECT_EQ(ix.threadCount, 680u);
    EXPECT_FALSE(ix.priorityBase.has_value());
    // A table cut short (no terminating NUL) is read within its bytes.
    const char cut[] = {'7', '8', '4', '\0', 'I', 'D', ' ', 'P', 'r', 'o', 'c'};
    EXPECT_FALSE(winsim::perfIndexesFromTable(cut, sizeof cut).idProcess.has_value());
}

}  // namespace
