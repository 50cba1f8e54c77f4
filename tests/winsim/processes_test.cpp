// The processes' image section and defaults; the cabinet tool EXTRACT.EXE;
// performance data through RegQueryValueExA(HKEY_PERFORMANCE_DATA),
// the block parsed back by a walker of its own that checks Microsoft's layout
// (lengths, offsets, 8-byte alignment).
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/processes/perfdata.h"
#include "winsim/processes/state.h"
#include "sim.h"

#include <shellapi.h>
#include <winperf.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using Table = std::vector<std::pair<const char*, const char*>>;

// The standard table (names on even indexes, a few neighbours included).
const Table kStandard = {{"1", "1847"},       {"2", "System"},        {"4", "Memory"},
                         {"230", "Process"},  {"232", "Thread"},      {"238", "Processor"},
                         {"680", "Thread Count"}, {"682", "Priority Base"}, {"684", "Elapsed Time"},
                         {"784", "ID Process"}};

void setTable(const Table& pairs) {
    std::string text;
    for (auto& [i, n] : pairs) text += std::string(i) + '\0' + n + '\0';
    text += '\0';
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", &k), 0);
    ASSERT_EQ(RegSetValueExA(k, "Counters", 0, REG_MULTI_SZ, (const BYTE*)text.data(), (DWORD)text.size()),
              ERROR_SUCCESS);
    RegCloseKey(k);
}

struct Proc : sim::MachineTest {
    void SetUp() override {
        make();
        winsim::loadProcess(json::parse(R"({"list": [
            {"id": 0, "name": "Idle", "threads": 1, "priority": 0, "protected": true},
            {"id": 2, "name": "System", "threads": 24, "priority": 8, "protected": true},
            {"id": 91, "name": "PRINTMAN.EXE", "threads": 2, "priority": 8},
            {"id": 120, "name": "PrintMan.exe", "threads": 3, "priority": 9},
            {"id": 140, "name": "NOTEPAD.EXE", "threads": 1, "priority": 8},
            {"id": 150, "name": "nt.dll.exe", "threads": 5, "priority": 13}
        ]})"),
                            m());
        hostFile("WINNT35/system32/WRITE.EXE", "MZ");
    }
    std::string nameOf(DWORD id) {
        auto p = winsim::findProcess(m(), id);
        return p ? p->name : "<none>";
    }
};

// The section's round trip with `show`; malformed sections; the defaults
// of a fresh system: CSRSS cannot be ended, Program Manager can.
TEST_F(Proc, ImageSectionAndDefaults) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 91);
    TerminateProcess(h, 1067);
    CloseHandle(h);
    ShellExecuteA(nullptr, nullptr, "write.exe", "a.wri", nullptr, SW_SHOWNORMAL);
    json saved;
    winsim::saveProcess(saved, m());
    auto& m2 = winsim::install(winsim::makeBareMachine({}, c));
    winsim::loadProcess(saved, m2);
    std::ostringstream out;
    winsim::showProcess(out, m2);
    for (const char* line : {"140 NOTEPAD.EXE, 1 thread, priority 8", "2 System, 24 threads, priority 8, protected",
                             "91 PRINTMAN.EXE, exit code 1067", "Programs started:\n  write.exe a.wri"})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    // New ids do not reuse those of the image.
    EXPECT_GT((INT_PTR)ShellExecuteA(nullptr, nullptr, "write.exe", nullptr, nullptr, SW_SHOWNORMAL), 32);
    EXPECT_GT((INT_PTR)ShellExecuteA(nullptr, nullptr, "write", nullptr, nullptr, SW_SHOWNORMAL), 32);  // ".exe" added
    EXPECT_EQ((INT_PTR)ShellExecuteA(nullptr, nullptr, "C:\\none\\a.exe", nullptr, nullptr, 0), SE_ERR_PNF);
    EXPECT_EQ((INT_PTR)ShellExecuteA(nullptr, nullptr, "C:\\WINNT35\\none.exe", nullptr, nullptr, 0), SE_ERR_FNF);
    std::set<DWORD> seen;
    for (const auto* list : {&m2.processes->list, &m2.processes->ended})
        for (const auto& p : *list) EXPECT_TRUE(seen.insert(p->id).second) << p->id;

    auto& m3 = sim::fresh();
    for (auto [text, message] : {std::pair{R"({"list":[{"name":"A.EXE"}]})", "/processes/list/0/id: missing"},
                                 {R"({"list":[{"id":4,"name":""}]})", "/processes/list/0/name"}}) {
        const std::string said = sim::refusal([&] { winsim::loadProcess(json::parse(text), m3); });
        EXPECT_NE(said.find(message), std::string::npos) << said;
    }
    winsim::addDefaultProcesses(m3);
    EXPECT_EQ(nameOf(27) + " " + nameOf(90), "CSRSS.EXE PROGMAN.EXE");
    h = OpenProcess(PROCESS_TERMINATE, FALSE, 27);
    EXPECT_FAILS(TerminateProcess(h, 1), ERROR_ACCESS_DENIED);
    CloseHandle(h);
    h = OpenProcess(PROCESS_TERMINATE, FALSE, 90);
    EXPECT_TRUE(TerminateProcess(h, 0));
    CloseHandle(h);
}

// The installation scenarios wait for the tool's target in virtual time;
// here: only the asked files the cabinet holds are written, when the run
// time has passed (2 s unless declared), existing ones only with /Y, and the
// drive's free space follows; a failure writes nothing and exits with 1.
TEST_F(Proc, ExtractWritesTheMatchingFilesWhenItsTimeHasCome) {
    make(winsim::Platform::Win95);
    fs::create_directories(c / "WINDOWS" / "SYSTEM");
    hostFile("win95/extract.exe", "tool");
    // A compressed cabinet made with gcab, and one that is none.
    const std::pair<const char*, const char*> cabFiles[] = {{"PSCRIPT.DRV", "postscript driver"},
        {"PSCRIPT.HLP", "postscript help"}, {"ICONLIB.DLL", "icons"}, {"TESTPS.TXT", "test page"}, {"UNIDRV.DLL", "another driver"}};
    std::string cmd = "cd '" + root.string() + "' && gcab -c -z '" + (c / "win95" / "win95_02.cab").string() + "'";
    for (auto [name, text] : cabFiles) {
        std::ofstream(root / name, std::ios::binary) << text;
        cmd += std::string(" '") + name + "'";
    }
    ASSERT_EQ(std::system((cmd + " >/dev/null").c_str()), 0) << "gcab is needed: " << cmd;
    std::ofstream(c / "win95" / "broken.cab") << "MSCF but not really";
    auto run = [](const char* params) {
        return (INT_PTR)ShellExecuteA(nullptr, nullptr, "C:\\win95\\extract.exe", params, "C:\\win95\\", SW_HIDE);
    };
    // The files in the target folder, and the exit code of the extract.exe that ended.
    auto files = [&] {
        std::string out;
        for (const char* name : {"PSCRIPT.DRV", "PSCRIPT.HLP", "ICONLIB.DLL", "UNIDRV.DLL", "TESTPS.TXT", "fonts.mfm"}) {
            fs::path p = c / "WINDOWS" / "SYSTEM" / name;
            out += (fs::exists(p) ? sim::readText(p) : "<missing>") + "; ";
        }
        out += "exit";
        for (auto& p : m().processes->ended) out += " " + std::to_string(p->exitCode);
        m().processes->ended.clear();
        return out;
    };
    const std::string none = "<missing>; <missing>; <missing>; <missing>; <missing>; <missing>; exit";
    m().processes->runTimes["extract.exe"] = 3000;
    std::uint64_t freeBefore = m().drives['C'].free;
    ASSERT_GT(run("/Y /A /L C:\\WINDOWS\\SYSTEM C:\\win95\\win95_02.cab pscript.* iconlib.dll fonts.mfm"), 32);
    Sleep(2999);
    EXPECT_EQ(files(), none);
    Sleep(1);
    EXPECT_EQ(files(), "postscript driver; postscript help; icons; <missing>; <missing>; <missing>; exit 0");
    EXPECT_EQ(m().drives['C'].free, freeBefore - std::string("postscript driverpostscript helpicons").size());
    m().processes->runTimes.clear();
    fs::remove_all(c / "WINDOWS" / "SYSTEM");
    fs::create_directories(c / "WINDOWS" / "SYSTEM");
    for (const char* params : {"/Y /L C:\\WINDOWS\\SYSTEM C:\\win95\\missing.cab pscript.*",
                               "/Y /L C:\\WINDOWS\\SYSTEM C:\\win95\\broken.cab pscript.*",  // not a cabinet
                               "/Y /L C:\\nowhere C:\\win95\\win95_02.cab pscript.*",
                               "/Y /Q /L C:\\WINDOWS\\SYSTEM C:\\win95\\win95_02.cab pscript.*",  // unknown option
                               "/Y /L"}) {
        ASSERT_GT(run(params), 32);
        Sleep(2000);
        EXPECT_EQ(files(), none + " 1") << params;
    }
    // Without /Y an existing file is kept.
    std::ofstream(c / "WINDOWS" / "SYSTEM" / "PSCRIPT.DRV") << "mine";
    ASSERT_GT(run("/L C:\\WINDOWS\\SYSTEM win95_02.cab pscript.*"), 32);
    Sleep(2000);
    EXPECT_EQ(files(), "mine; postscript help; <missing>; <missing>; <missing>; <missing>; exit 0");
    ASSERT_GT(run("/Y /L C:\\WINDOWS\\SYSTEM win95_02.cab pscript.drv"), 32);
    Sleep(2000);
    EXPECT_EQ(files(), "postscript driver; postscript help; <missing>; <missing>; <missing>; <missing>; exit 0");
}

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

// Walks a data block, checking the layout as it goes: "<system>: <object
// indexes>", then the Process object's counters in order (L: 64-bit, *: one
// the program reads, not one that keeps its standard index), then its
// instances with the values of the counters read.
std::string walk(const std::vector<unsigned char>& b, DWORD processIndex = 230) {
    static const std::set<DWORD> kFixed{6, 142, 144, 172, 174, 28, 178, 180, 182, 184, 186, 684, 56, 58, 952};
    auto pdb = at<PERF_DATA_BLOCK>(b, 0);
    EXPECT_EQ(std::u16string(pdb.Signature, pdb.Signature + 4), u"PERF");
    EXPECT_EQ(std::tuple(pdb.LittleEndian, pdb.Version, pdb.Revision, pdb.DefaultObject), std::tuple(1u, 1u, 1u, 238));
    EXPECT_EQ(pdb.TotalByteLength, b.size());
    SYSTEMTIME now;  // the machine's clock has no time zone
    GetLocalTime(&now);
    EXPECT_EQ(std::memcmp(&pdb.SystemTime, &now, sizeof now), 0) << pdb.SystemTime.wYear;
    EXPECT_EQ(pdb.SystemNameOffset, sizeof(PERF_DATA_BLOCK));
    EXPECT_EQ(pdb.HeaderLength, (sizeof(PERF_DATA_BLOCK) + pdb.SystemNameLength + 7) / 8 * 8);
    std::string out = utf16(b, pdb.SystemNameOffset, pdb.SystemNameLength) + ":", counters, instances;
    std::size_t obj = pdb.HeaderLength;
    for (DWORD o = 0; o < pdb.NumObjectTypes; obj += at<PERF_OBJECT_TYPE>(b, obj).TotalByteLength, ++o) {
        EXPECT_EQ(obj % 8, 0u);
        auto ot = at<PERF_OBJECT_TYPE>(b, obj);
        EXPECT_EQ(ot.HeaderLength, sizeof(PERF_OBJECT_TYPE));
        EXPECT_EQ(ot.DefinitionLength, sizeof(PERF_OBJECT_TYPE) + ot.NumCounters * sizeof(PERF_COUNTER_DEFINITION));
        out += " " + std::to_string(ot.ObjectNameTitleIndex);
        if (ot.ObjectNameTitleIndex != processIndex) continue;
        std::vector<PERF_COUNTER_DEFINITION> defs;
        for (DWORD i = 0; i < ot.NumCounters; ++i) {
            auto cd = at<PERF_COUNTER_DEFINITION>(b, obj + ot.HeaderLength + i * sizeof(PERF_COUNTER_DEFINITION));
            EXPECT_EQ(cd.ByteLength, sizeof cd);
            // The size follows the type; each value sits on a boundary of its size.
            EXPECT_EQ(cd.CounterSize, (cd.CounterType & PERF_SIZE_LARGE) ? 8u : 4u);
            EXPECT_EQ(cd.CounterOffset % cd.CounterSize, 0u);
            EXPECT_GE(cd.CounterOffset, sizeof(PERF_COUNTER_BLOCK));
            const bool read = !kFixed.count(cd.CounterNameTitleIndex);
            counters += " " + std::to_string(cd.CounterNameTitleIndex) + (cd.CounterSize == 8 ? "L" : "") + (read ? "*" : "");
            if (read) defs.push_back(cd);
        }
        std::size_t inst = obj + ot.DefinitionLength;
        for (LONG i = 0; i < ot.NumInstances; ++i) {
            EXPECT_EQ(inst % 8, 0u);
            auto id = at<PERF_INSTANCE_DEFINITION>(b, inst);
            EXPECT_EQ(id.ByteLength % 8, 0u);
            EXPECT_EQ(id.UniqueID, PERF_NO_UNIQUE_ID);
            EXPECT_LE(id.NameOffset + id.NameLength, id.ByteLength);
            instances += utf16(b, inst + id.NameOffset, id.NameLength);
            std::size_t block = inst + id.ByteLength;
            auto cb = at<PERF_COUNTER_BLOCK>(b, block);
            EXPECT_EQ(cb.ByteLength % 8, 0u);
            for (auto& cd : defs) {
                EXPECT_LE(cd.CounterOffset + cd.CounterSize, cb.ByteLength);
                instances += " " + std::to_string(at<DWORD>(b, block + cd.CounterOffset));
            }
            instances += "; ";
            inst = block + cb.ByteLength;
        }
        EXPECT_EQ(inst, obj + ot.TotalByteLength);
    }
    EXPECT_EQ(obj, b.size());
    return out + "\n" + counters + "\n" + instances;
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

// NT 3.51's Process object in its order: a walk must take every offset from
// the definitions, as 64-bit counters come before the ones it reads. Ended
// processes leave the data. The value name selects the objects; the indexes
// follow the table.
TEST_F(Proc, PerfProcessObjectListsEveryProcessAndTotal) {
    const std::string counters = "\n 6L 142L 144L 172 174 28 178 180 182 184 186 680* 682* 684L 784* 56 58 952\n";
    EXPECT_EQ(walk(query("230")), "VARDEN1: 230" + counters +
                                      "Idle 1 0 0; System 24 8 2; PRINTMAN 2 8 91; PrintMan 3 9 120; NOTEPAD 1 8 140; "
                                      "nt.dll 5 13 150; _Total 36 0 0; ");
    for (const char* name : {"Global", "2 4 230"}) EXPECT_EQ(walk(query(name)), walk(query("230"))) << name;
    for (const char* name : {"Costly", "238", "2300"}) EXPECT_EQ(walk(query(name)), "VARDEN1:\n\n") << name;
    auto table = kStandard;
    table.erase(table.begin() + 7);  // "Priority Base"
    setTable(table);
    EXPECT_EQ(walk(query("230")), "VARDEN1: 230\n 6L 142L 144L 172 174 28 178 180 182 184 186 680* 684L 784* 56 58 "
                                  "952\nIdle 1 0; System 24 2; PRINTMAN 2 91; PrintMan 3 120; NOTEPAD 1 140; "
                                  "nt.dll 5 150; _Total 36 0; ");
    setTable({{"2x", "Process"}, {"232", "Process"}, {"10", "Thread Count"}, {"12", "Priority Base"}, {"14", "ID Process"},
              {"16", "ID Process"}});  // the first "ID Process" counts; an index that is no number none
    EXPECT_EQ(walk(query("230"), 232), "VARDEN1:\n\n");
    EXPECT_EQ(walk(query("232"), 232), "VARDEN1: 232\n 6L 142L 144L 172 174 28 178 180 182 184 186 10* 12* 684L 14* 56 "
                                       "58 952\nIdle 1 0 0; System 24 8 2; PRINTMAN 2 8 91; PrintMan 3 9 120; "
                                       "NOTEPAD 1 8 140; nt.dll 5 13 150; _Total 36 0 0; ");
    setTable({{"230", "Processes"}, {"680", "Thread Count"}});  // no "Process": no object
    EXPECT_EQ(walk(query("230")), "VARDEN1:\n\n");
    setTable(kStandard);
    m().processes->list[5]->name = "longer.dll.exe";  // as many processes, a longer name
    m().processes->changed();
    EXPECT_NE(walk(query("230")).find("; longer.dll 5 13 150; "), std::string::npos);
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 91);
    ASSERT_TRUE(TerminateProcess(h, ERROR_PROCESS_ABORTED));
    CloseHandle(h);
    EXPECT_EQ(walk(query("230")), "VARDEN1: 230" + counters +
                                      "Idle 1 0 0; System 24 8 2; PrintMan 3 9 120; NOTEPAD 1 8 140; longer.dll 5 13 150; "
                                      "_Total 34 0 0; ");
    m().processes->list.clear();
    m().processes->changed();
    EXPECT_EQ(walk(query("230")), "VARDEN1: 230" + counters + "_Total 0 0 0; ");
}


}  // namespace
