// The performance data block of the Process object, in Microsoft's published
// layout (winperf.h): PERF_DATA_BLOCK and the system name, then per object a
// PERF_OBJECT_TYPE, its PERF_COUNTER_DEFINITIONs, and per instance a
// PERF_INSTANCE_DEFINITION with its UTF-16 name and a PERF_COUNTER_BLOCK.
// Every piece starts on an 8-byte boundary. All stores are copies, so the
// caller's buffer need not be aligned.
#include "winsim/processes/perfdata.h"

#include "winsim/processes/state.h"

#include <winperf.h>

#include <cstring>

namespace winsim {

namespace {

constexpr std::size_t round8(std::size_t n) { return (n + 7) & ~std::size_t(7); }

// Counters of the Process object, in the order NT 3.51 lists them, with
// their standard indexes, types and sizes: three 64-bit time counters first,
// the memory counters, then Thread Count, Priority Base, Elapsed Time (64
// bits), ID Process, the pool counters and Handle Count. The three counters
// the program reads take their indexes from the counter name table; the
// others keep the standard ones. Values come from the process where the
// simulated machine knows them and are plausible constants otherwise.
struct CounterSpec {
    std::optional<DWORD> PerfIndexes::*index;  // null: the standard index below
    DWORD standardIndex;
    DWORD type;
    DWORD detail;
    // null process: the _Total instance. `elapsedMs`: the machine's uptime.
    std::uint64_t (*value)(const SimProcess*, DWORD totalThreads, std::uint64_t elapsedMs);
};

using P = const SimProcess*;
const CounterSpec kCounters[] = {
    {nullptr, 6, PERF_100NSEC_TIMER, PERF_DETAIL_NOVICE,  // % Processor Time
     [](P p, DWORD, std::uint64_t ms) -> std::uint64_t { return (p ? p->id % 7 + 1 : 8) * ms * 10 / 100; }},
    {nullptr, 142, PERF_100NSEC_TIMER, PERF_DETAIL_ADVANCED,  // % User Time
     [](P p, DWORD, std::uint64_t ms) -> std::uint64_t { return (p ? p->id % 3 + 1 : 4) * ms * 10 / 100; }},
    {nullptr, 144, PERF_100NSEC_TIMER, PERF_DETAIL_ADVANCED,  // % Privileged Time
     [](P p, DWORD, std::uint64_t ms) -> std::uint64_t { return (p ? p->id % 5 + 1 : 6) * ms * 10 / 100; }},
    {nullptr, 172, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_EXPERT,  // Virtual Bytes Peak
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x900000u + 0x1000u * p->threads : 0x4000000u; }},
    {nullptr, 174, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_EXPERT,  // Virtual Bytes
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x800000u + 0x1000u * p->threads : 0x3800000u; }},
    {nullptr, 28, PERF_COUNTER_COUNTER, PERF_DETAIL_NOVICE,  // Page Faults/sec
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 150u + p->id : 4000u; }},
    {nullptr, 178, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Working Set Peak
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x90000u + 0x1000u * p->threads : 0x900000u; }},
    {nullptr, 180, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_NOVICE,  // Working Set
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x80000u + 0x1000u * p->threads : 0x800000u; }},
    {nullptr, 182, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Page File Bytes Peak
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x50000u : 0x500000u; }},
    {nullptr, 184, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Page File Bytes
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x40000u : 0x400000u; }},
    {nullptr, 186, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Private Bytes
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x40000u : 0x400000u; }},
    {&PerfIndexes::threadCount, 680, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_NOVICE,  // Thread Count
     [](P p, DWORD total, std::uint64_t) -> std::uint64_t { return p ? p->threads : total; }},
    {&PerfIndexes::priorityBase, 682, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Priority Base
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? (DWORD)p->priority : 0u; }},
    // Elapsed Time: the start in the object's time base (PerfTime, 100 ns
    // since the machine started); every process here started with the machine.
    {nullptr, 684, PERF_ELAPSED_TIME, PERF_DETAIL_ADVANCED, [](P, DWORD, std::uint64_t) -> std::uint64_t { return 0; }},
    {&PerfIndexes::idProcess, 784, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // ID Process
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? p->id : 0u; }},
    {nullptr, 56, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Pool Paged Bytes
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x4000u : 0x100000u; }},
    {nullptr, 58, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_ADVANCED,  // Pool Nonpaged Bytes
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 0x800u : 0x20000u; }},
    {nullptr, 952, PERF_COUNTER_RAWCOUNT, PERF_DETAIL_NOVICE,  // Handle Count
     [](P p, DWORD, std::uint64_t) -> std::uint64_t { return p ? 10u + 3u * p->threads : 500u; }},
};

bool present(const CounterSpec& c, const PerfIndexes& ix) { return !c.index || (ix.*(c.index)).has_value(); }
DWORD indexOf(const CounterSpec& c, const PerfIndexes& ix) { return c.index ? *(ix.*(c.index)) : c.standardIndex; }
std::size_t sizeOf(const CounterSpec& c) { return (c.type & PERF_SIZE_LARGE) ? 8 : 4; }

// Offsets in the counter block: after the block's ByteLength and a pad
// word, each value in order, the 64-bit ones on 8-byte boundaries. Returns
// the block size (rounded up to 8) and fills `offsets` for the present ones.
std::size_t layoutCounters(const PerfIndexes& ix, std::vector<DWORD>* offsets) {
    std::size_t at = 8;
    for (const CounterSpec& c : kCounters) {
        if (!present(c, ix)) continue;
        std::size_t n = sizeOf(c);
        at = (at + n - 1) & ~(n - 1);
        if (offsets) offsets->push_back((DWORD)at);
        at += n;
    }
    return round8(at);
}

// Which objects a value name asks for: "Global" (or none) all, "Costly" the
// costly ones (none of ours), else the listed indexes.
bool wantsProcess(std::string_view valueName, const PerfIndexes& ix) {
    if (!ix.process) return false;
    if (valueName.empty() || valueName == "Global") return true;
    if (valueName == "Costly") return false;
    std::size_t i = 0;
    while (i < valueName.size()) {
        while (i < valueName.size() && valueName[i] == ' ') ++i;
        std::size_t start = i;
        DWORD n = 0;
        bool digits = true;
        while (i < valueName.size() && valueName[i] != ' ') {
            char c = valueName[i++];
            if (c < '0' || c > '9' || n > 100000000) digits = false;
            else n = n * 10 + (DWORD)(c - '0');
        }
        if (i > start && digits && n == *ix.process) return true;
    }
    return false;
}

// NT shows a process by its image file name without the extension.
std::string_view instanceName(const SimProcess& p) {
    std::string_view name = p.name;
    for (std::size_t i = name.size(); i-- > 0;) {
        if (name[i] == '.') return name.substr(0, i);
        if (name[i] == '\\' || name[i] == '/') break;
    }
    return name;
}

std::size_t counterCount(const PerfIndexes& ix) {
    std::size_t n = 0;
    for (const CounterSpec& c : kCounters) n += present(c, ix);
    return n;
}

std::size_t counterBlockSize(const PerfIndexes& ix) { return layoutCounters(ix, nullptr); }

std::size_t instanceSize(std::size_t nameChars) {
    return round8(sizeof(PERF_INSTANCE_DEFINITION) + (nameChars + 1) * 2);
}

std::size_t headerSize(const Machine& m) { return round8(sizeof(PERF_DATA_BLOCK) + (m.computerName.size() + 1) * 2); }

std::size_t objectSize(const Machine& m, const PerfIndexes& ix) {
    ProcessState& st = *m.processes;
    std::size_t counters = counterCount(ix);
    auto& cache = st.perfSize;
    if (cache.generation == st.generation && cache.count == st.list.size() && cache.counters == counters)
        return cache.bytes;
    std::size_t size = sizeof(PERF_OBJECT_TYPE) + counters * sizeof(PERF_COUNTER_DEFINITION);
    std::size_t block = counterBlockSize(ix);
    for (auto& p : st.list) size += instanceSize(instanceName(*p).size()) + block;
    size += instanceSize(6) + block;  // "_Total"
    cache = {st.generation, st.list.size(), counters, size};
    return size;
}

template <class T>
void put(unsigned char* at, const T& v) {
    std::memcpy(at, &v, sizeof v);
}

// ANSI text as UTF-16: our names are in the Latin range, one unit per byte.
void putName(unsigned char* at, std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) put<char16_t>(at + 2 * i, (char16_t)(unsigned char)s[i]);
    put<char16_t>(at + 2 * s.size(), 0);
}

SYSTEMTIME systemTimeOf(std::int64_t ms) {
    std::int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
    std::int64_t rest = ms - days * 86400000;
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    std::int64_t d = doy - (153 * mp + 2) / 5 + 1, mo = mp < 10 ? mp + 3 : mp - 9, y = yoe + era * 400 + (mo <= 2);
    SYSTEMTIME st{};
    st.wYear = (WORD)y;
    st.wMonth = (WORD)mo;
    st.wDay = (WORD)d;
    st.wDayOfWeek = (WORD)(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    st.wHour = (WORD)(rest / 3600000);
    st.wMinute = (WORD)(rest / 60000 % 60);
    st.wSecond = (WORD)(rest / 1000 % 60);
    st.wMilliseconds = (WORD)(rest % 1000);
    return st;
}

}  // namespace

PerfIndexes standardPerfIndexes() {
    PerfIndexes ix;
    ix.process = 230;
    ix.threadCount = 680;
    ix.priorityBase = 682;
    ix.idProcess = 784;
    return ix;
}

PerfIndexes perfIndexesFromTable(const char* table, std::size_t bytes) {
    PerfIndexes ix;
    std::size_t i = 0;
    auto next = [&](std::string_view& out) {
        if (i >= bytes) return false;
        const char* s = table + i;
        std::size_t len = strnlen(s, bytes - i);
        out = std::string_view(s, len);
        i += len + 1;
        return true;
    };
    std::string_view index, name;
    while (next(index) && !index.empty() && next(name)) {
        DWORD n = 0;
        bool ok = true;
        for (char c : index) {
            if (c < '0' || c > '9' || n > 100000000) ok = false;
            else n = n * 10 + (DWORD)(c - '0');
        }
        if (!ok) continue;
        if (name == "Process" && !ix.process) ix.process = n;
        else if (name == "Thread Count" && !ix.threadCount) ix.threadCount = n;
        else if (name == "Priority Base" && !ix.priorityBase) ix.priorityBase = n;
        else if (name == "ID Process" && !ix.idProcess) ix.idProcess = n;
    }
    return ix;
}

std::size_t performanceDataSize(const Machine& m, std::string_view valueName, const PerfIndexes& ix) {
    std::size_t size = headerSize(m);
    if (wantsProcess(valueName, ix)) size += objectSize(m, ix);
    return size;
}

void writePerformanceData(const Machine& m, std::string_view valueName, const PerfIndexes& ix, unsigned char* out,
                          std::size_t size) {
    std::memset(out, 0, size);
    const std::int64_t wallMs = m.bootEpochMs + (std::int64_t)m.tickMs;
    const LONGLONG perfFreq = 10000000;  // the counter runs in 100 ns units
    const LONGLONG perfTime = (LONGLONG)m.tickMs * 10000;
    const LONGLONG time100ns = (wallMs + 11644473600000LL) * 10000;  // since 1601

    bool process = wantsProcess(valueName, ix);
    PERF_DATA_BLOCK pdb{};
    const char16_t sig[4] = {u'P', u'E', u'R', u'F'};
    std::memcpy(pdb.Signature, sig, sizeof sig);
    pdb.LittleEndian = 1;
    pdb.Version = PERF_DATA_VERSION;
    pdb.Revision = PERF_DATA_REVISION;
    pdb.TotalByteLength = (DWORD)size;
    pdb.HeaderLength = (DWORD)headerSize(m);
    pdb.NumObjectTypes = process ? 1 : 0;
    pdb.DefaultObject = 238;  // "Processor", as NT names it even when not returned
    pdb.SystemTime = systemTimeOf(wallMs);
    pdb.PerfTime.QuadPart = perfTime;
    pdb.PerfFreq.QuadPart = perfFreq;
    pdb.PerfTime100nSec.QuadPart = time100ns;
    pdb.SystemNameLength = (DWORD)((m.computerName.size() + 1) * 2);
    pdb.SystemNameOffset = sizeof(PERF_DATA_BLOCK);
    put(out, pdb);
    putName(out + sizeof(PERF_DATA_BLOCK), m.computerName);
    if (!process) return;

    unsigned char* obj = out + pdb.HeaderLength;
    const std::size_t nCounters = counterCount(ix);
    const std::size_t block = counterBlockSize(ix);
    PERF_OBJECT_TYPE ot{};
    ot.TotalByteLength = (DWORD)objectSize(m, ix);
    ot.DefinitionLength = (DWORD)(sizeof(PERF_OBJECT_TYPE) + nCounters * sizeof(PERF_COUNTER_DEFINITION));
    ot.HeaderLength = sizeof(PERF_OBJECT_TYPE);
    ot.ObjectNameTitleIndex = *ix.process;
    ot.ObjectHelpTitleIndex = *ix.process + 1;
    ot.DetailLevel = PERF_DETAIL_NOVICE;
    ot.NumCounters = (DWORD)nCounters;
    ot.DefaultCounter = nCounters ? 0 : -1;
    ot.NumInstances = (LONG)(m.processes->list.size() + 1);
    ot.CodePage = 0;  // instance names are UTF-16
    ot.PerfTime.QuadPart = perfTime;
    ot.PerfFreq.QuadPart = perfFreq;
    put(obj, ot);

    // Counter definitions, each with its offset in the counter block.
    std::vector<DWORD> offsets;
    layoutCounters(ix, &offsets);
    std::vector<const CounterSpec*> shown;
    unsigned char* def = obj + sizeof(PERF_OBJECT_TYPE);
    for (const CounterSpec& c : kCounters) {
        if (!present(c, ix)) continue;
        PERF_COUNTER_DEFINITION cd{};
        cd.ByteLength = sizeof(PERF_COUNTER_DEFINITION);
        cd.CounterNameTitleIndex = indexOf(c, ix);
        cd.CounterHelpTitleIndex = indexOf(c, ix) + 1;
        cd.DetailLevel = c.detail;
        cd.CounterType = c.type;
        cd.CounterSize = (DWORD)sizeOf(c);
        cd.CounterOffset = offsets[shown.size()];
        put(def, cd);
        def += sizeof cd;
        shown.push_back(&c);
    }


    DWORD totalThreads = 0;
    for (auto& p : m.processes->list) totalThreads += p->threads;
    unsigned char* at = obj + ot.DefinitionLength;
    auto instance = [&](std::string_view name, const SimProcess* p) {
        PERF_INSTANCE_DEFINITION id{};
        id.ByteLength = (DWORD)instanceSize(name.size());
        id.UniqueID = PERF_NO_UNIQUE_ID;
        id.NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
        id.NameLength = (DWORD)((name.size() + 1) * 2);
        put(at, id);
        putName(at + sizeof id, name);
        at += id.ByteLength;
        put(at, PERF_COUNTER_BLOCK{(DWORD)block});
        for (std::size_t i = 0; i < shown.size(); ++i) {
            std::uint64_t v = shown[i]->value(p, totalThreads, m.tickMs);
            if (sizeOf(*shown[i]) == 8) put<std::uint64_t>(at + offsets[i], v);
            else put<DWORD>(at + offsets[i], (DWORD)v);
        }
        at += block;
    };
    for (auto& p : m.processes->list) instance(instanceName(*p), p.get());
    instance("_Total", nullptr);
}

LONG queryPerformanceData(LPCSTR valueName, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    Machine& m = machine();
    std::string_view name = valueName ? valueName : "";
    if (DWORD e = injectedFault("PerformanceData", name)) return (LONG)e;
    if (!m.os.isNT()) return ERROR_BADKEY;
    if (data && !cbData) return ERROR_INVALID_PARAMETER;
    runDuePrograms(m);
    std::optional<std::vector<char>> table = readCounterTable();
    PerfIndexes ix = table ? perfIndexesFromTable(table->data(), table->size()) : standardPerfIndexes();
    std::size_t size = performanceDataSize(m, name, ix);
    if (size > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    if (!data || !cbData || *cbData < size) return ERROR_MORE_DATA;
    writePerformanceData(m, name, ix, data, size);
    DWORD answered = (DWORD)size;
    if (m.processes->damagePerfData) m.processes->damagePerfData(data, answered);
    if (type) *type = REG_BINARY;
    *cbData = answered < size ? answered : (DWORD)size;
    return ERROR_SUCCESS;
}

}  // namespace winsim
