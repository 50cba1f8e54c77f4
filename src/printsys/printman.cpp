// Print Manager termination: a walk over the "Process" object of the
// performance data, handing one record per process to a callback, and the
// callback that ends every process named PRINTMAN.
#include "printsys/printsys.h"

#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"

#include <winperf.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

const char kPerflibKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";
const DWORD kFirstPerfBlockBytes = 30720;
const DWORD kPerfBlockGrowth = 1024;
const UINT kPrintManagerExitCode = 1067;  // ERROR_PROCESS_ABORTED

thread_local PerfWalkContext tlsContext = {-1, -1, -1, 0, nullptr, HKEY_PERFORMANCE_DATA};

// Bytes of the last block queryPerfData returned on this thread, so that the
// walk can keep every offset inside the block.
thread_local DWORD tlsPerfBlockBytes = 0;

void freeIndexText(PerfWalkContext* ctx) {
    if (ctx->ProcessObjectIndexText) LocalFree((HLOCAL)ctx->ProcessObjectIndexText);
    ctx->ProcessObjectIndexText = nullptr;
}

// True when [offset, offset + length) lies inside a block of `total` bytes.
bool inside(std::size_t offset, std::size_t length, std::size_t total) {
    return offset <= total && length <= total - offset;
}

template <class T>
T readAt(const BYTE* base, std::size_t offset) {
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

// Converts the UTF-16 instance name (bytes, terminator included or not) into
// the record's ANSI name; a name that does not convert leaves it empty.
void convertName(const BYTE* name, DWORD nameBytes, CHAR* out, int capacity) {
    int chars = static_cast<int>(nameBytes / sizeof(WCHAR));
    const WCHAR* wide = reinterpret_cast<const WCHAR*>(name);
    WCHAR last = 0;
    if (chars > 0) std::memcpy(&last, name + (chars - 1) * sizeof(WCHAR), sizeof last);
    if (chars > 0 && last == 0) --chars;
    out[0] = '\0';
    if (chars == 0) return;
    int written = WideCharToMultiByte(CP_ACP, 0, wide, chars, out, capacity - 1, nullptr, nullptr);
    out[written > 0 ? written : 0] = '\0';
}

// Registry calls return their error instead of setting the last error; the
// walk's failure report formats the last error, so it is set here.
LPSTR failedWith(LONG rc) {
    SetLastError(static_cast<DWORD>(rc));
    return nullptr;
}

bool isDigit(unsigned char c) {
    // The multibyte-aware test where the code page has lead bytes; both agree
    // on the ASCII digits this walk reads.
    return c >= '0' && c <= '9' && std::isdigit(c);
}

}  // namespace

PerfWalkContext* perfWalkContext(void) { return &tlsContext; }

DWORD parseIndex(LPCSTR text) {
    DWORD value = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); isDigit(*p); ++p)
        value = value * 10 + static_cast<DWORD>(*p - '0');
    return value;
}

LPSTR findCounterIndexText(LPCSTR table, LPCSTR name) {
    if (table == nullptr) return nullptr;
    const CHAR* p = table;
    while (*p != '\0') {
        const CHAR* index = p;
        p += std::strlen(p) + 1;
        if (*p == '\0') return nullptr;  // an index without a name ends the table
        const CHAR* entry = p;
        p += std::strlen(p) + 1;
        if (lstrcmpA(entry, name) == 0) {
            std::size_t len = std::strlen(index);
            LPSTR copy = static_cast<LPSTR>(LocalAlloc(LPTR, len + 1));
            if (copy) std::memcpy(copy, index, len);
            return copy;
        }
    }
    return nullptr;
}

LONG findCounterIndex(LPCSTR table, LPCSTR name) {
    LPSTR text = findCounterIndexText(table, name);
    if (text == nullptr) return -1;
    LONG index = static_cast<LONG>(parseIndex(text));
    LocalFree((HLOCAL)text);
    return index;
}

LPSTR readCounterNames(LPCSTR machine) {
    LONG rc = ERROR_SUCCESS;
    ScopedKey remote;
    HKEY root = HKEY_LOCAL_MACHINE;
    if (machine != nullptr) {
        rc = RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, remote.put());
        if (rc != ERROR_SUCCESS) return failedWith(rc);
        root = remote.get();
    }
    ScopedKey perflib;
    rc = RegOpenKeyExA(root, kPerflibKey, 0, KEY_QUERY_VALUE, perflib.put());
    if (rc != ERROR_SUCCESS) return failedWith(rc);

    DWORD size = 0;
    DWORD type = 0;
    rc = RegQueryValueExA(perflib.get(), "Counters", nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return failedWith(rc);
    // Two zero bytes beyond the value keep the pair walk inside the block
    // even when the stored list lacks its closing terminators.
    LPSTR table = static_cast<LPSTR>(GlobalAlloc(GPTR, static_cast<SIZE_T>(size) + 2));
    if (table == nullptr) return nullptr;
    DWORD got = size;
    rc = RegQueryValueExA(perflib.get(), "Counters", nullptr, &type, reinterpret_cast<LPBYTE>(table), &got);
    if (rc != ERROR_SUCCESS) {
        GlobalFree((HGLOBAL)table);
        return failedWith(rc);
    }
    return table;
}

BOOL initPerfIndexes(LPCSTR machine) {
    LPSTR table = readCounterNames(machine);
    if (table == nullptr) return FALSE;

    PerfWalkContext* ctx = perfWalkContext();
    ctx->ThreadCountIndex = findCounterIndex(table, "Thread Count");
    ctx->PriorityBaseIndex = findCounterIndex(table, "Priority Base");
    ctx->IdProcessIndex = findCounterIndex(table, "ID Process");
    freeIndexText(ctx);
    ctx->ProcessObjectIndexText = findCounterIndexText(table, "Process");
    if (ctx->ProcessObjectIndexText) ctx->ProcessObjectIndex = parseIndex(ctx->ProcessObjectIndexText);

    GlobalFree((HGLOBAL)table);
    return ctx->ThreadCountIndex != -1 && ctx->PriorityBaseIndex != -1 && ctx->IdProcessIndex != -1 &&
           ctx->ProcessObjectIndexText != nullptr;
}

LPBYTE queryPerfData(LPCSTR machine, LPCSTR valueName) {
    PerfWalkContext* ctx = perfWalkContext();
    ScopedKey remote;
    ctx->PerfKey = HKEY_PERFORMANCE_DATA;
    if (machine != nullptr) {
        LONG rc = RegConnectRegistryA(machine, HKEY_PERFORMANCE_DATA, remote.put());
        if (rc != ERROR_SUCCESS) return reinterpret_cast<LPBYTE>(failedWith(rc));
        ctx->PerfKey = remote.get();
    }

    DWORD size = kFirstPerfBlockBytes;
    LPBYTE block = static_cast<LPBYTE>(LocalAlloc(LMEM_FIXED, size));
    if (block == nullptr) return nullptr;
    DWORD allocated = size;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(ctx->PerfKey, valueName, nullptr, &type, block, &size);
    while (rc == ERROR_MORE_DATA) {
        LocalFree((HLOCAL)block);
        if (size > 0xFFFFFFFFu - kPerfBlockGrowth) return nullptr;
        size += kPerfBlockGrowth;
        block = static_cast<LPBYTE>(LocalAlloc(LMEM_FIXED, size));
        if (block == nullptr) return nullptr;
        allocated = size;
        rc = RegQueryValueExA(ctx->PerfKey, valueName, nullptr, &type, block, &size);
    }
    if (remote) ctx->PerfKey = HKEY_PERFORMANCE_DATA;  // the remote handle closes here
    if (rc != ERROR_SUCCESS) {
        LocalFree((HLOCAL)block);
        SetLastError(static_cast<DWORD>(rc));
        return nullptr;
    }
    tlsPerfBlockBytes = size < allocated ? size : allocated;
    return block;
}

DWORD enumProcesses(LPCSTR machine, DWORD filter, ProcessCallback callback, LPVOID context) {
    PerfWalkContext* ctx = perfWalkContext();
    if (!initPerfIndexes(machine)) {
        freeIndexText(ctx);
        return 0;
    }

    ProcessRecord record;
    std::memset(&record, 0, sizeof record);

    LocalBlock<BYTE> data(queryPerfData(machine, ctx->ProcessObjectIndexText));
    freeIndexText(ctx);
    if (!data) return 0;

    // Every structure is checked against the bytes the block holds, so a
    // damaged block fails the walk instead of leading it astray.
    const BYTE* base = data.get();
    std::size_t total = tlsPerfBlockBytes;
    if (!inside(0, sizeof(PERF_DATA_BLOCK), total)) return 0;
    const auto header = readAt<PERF_DATA_BLOCK>(base, 0);
    if (header.TotalByteLength < total) total = header.TotalByteLength;

    std::size_t object = header.HeaderLength;
    bool found = false;
    PERF_OBJECT_TYPE type;
    for (DWORD i = 0; i < header.NumObjectTypes; ++i) {
        if (!inside(object, sizeof(PERF_OBJECT_TYPE), total)) return 0;
        type = readAt<PERF_OBJECT_TYPE>(base, object);
        if (type.ObjectNameTitleIndex == ctx->ProcessObjectIndex) {
            found = true;
            break;
        }
        if (type.TotalByteLength == 0) return 0;
        object += type.TotalByteLength;
    }
    if (!found) return 0;
    if (inside(object, type.TotalByteLength, total)) total = object + type.TotalByteLength;

    std::size_t instance = object + type.DefinitionLength;
    for (LONG n = 0; n < type.NumInstances; ++n) {
        if (!inside(instance, sizeof(PERF_INSTANCE_DEFINITION), total)) return 0;
        const auto inst = readAt<PERF_INSTANCE_DEFINITION>(base, instance);

        if (inst.NameLength != 0 && inst.NameOffset != 0) {
            if (!inside(instance + inst.NameOffset, inst.NameLength, total)) return 0;
            convertName(base + instance + inst.NameOffset, inst.NameLength, record.Name, sizeof record.Name);
        } else {
            record.Name[0] = '\0';
        }

        std::size_t counters = instance + inst.ByteLength;
        if (!inside(counters, sizeof(PERF_COUNTER_BLOCK), total)) return 0;
        const auto counterBlock = readAt<PERF_COUNTER_BLOCK>(base, counters);

        bool any = false;
        std::size_t definition = object + type.HeaderLength;
        for (DWORD c = 0; c < type.NumCounters; ++c) {
            if (!inside(definition, sizeof(PERF_COUNTER_DEFINITION), total)) return 0;
            const auto def = readAt<PERF_COUNTER_DEFINITION>(base, definition);
            DWORD* target = nullptr;
            if (static_cast<LONG>(def.CounterNameTitleIndex) == ctx->ThreadCountIndex)
                target = &record.ThreadCount;
            else if (static_cast<LONG>(def.CounterNameTitleIndex) == ctx->PriorityBaseIndex)
                target = reinterpret_cast<DWORD*>(&record.BasePriority);
            else if (static_cast<LONG>(def.CounterNameTitleIndex) == ctx->IdProcessIndex)
                target = &record.ProcessId;
            if (target != nullptr) {
                if (!inside(counters + def.CounterOffset, sizeof(DWORD), total)) return 0;
                *target = readAt<DWORD>(base, counters + def.CounterOffset);
                any = true;
            }
            if (def.ByteLength == 0) break;
            definition += def.ByteLength;
        }
        if (!any) return 0;

        if (filter == 0 || filter == record.ProcessId) {
            if (callback(&record, context) == 0) break;
        }
        if (counterBlock.ByteLength == 0) return 0;
        instance = counters + counterBlock.ByteLength;
    }
    return 1;
}

DWORD KillPrintManagerCallback(ProcessRecord* record, LPVOID context) {
    CharUpperBuffA(record->Name, static_cast<DWORD>(lstrlenA(record->Name)));
    if (lstrcmpA(record->Name, "PRINTMAN") != 0) return 1;

    ScopedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, record->ProcessId));
    if (!process) {
        ShowSetupMessage("KillPrintManagerCallback", "Couldn't open process handle (error = %d)", GetLastError());
        return 1;
    }
    if (!TerminateProcess(process.get(), kPrintManagerExitCode))
        ShowSetupMessage("KillPrintManagerCallback", "Couldn't terminate process (error = %d)", GetLastError());
    return 1;
}

DWORD killPrintManager(void) {
    DWORD result = enumProcesses(nullptr, 0, KillPrintManagerCallback, nullptr);
    if (result != 0) return result;
    DWORD error = GetLastError();
    joinMessage("Unable to stop Print Manager, error = %d.  Please restart ",
                "to a clean system before re-running this program.");
    FailSetup(Setup.MessageBuffer, error);
}
