// HKEY_PERFORMANCE_DATA: the registry family hands queries of that key here.
//
// The answer holds one object, "Process", with one instance per running
// process (named as NT names them: the image file name without its
// extension) and the "_Total" instance last, and the eighteen counters of
// NT 3.51's Process object in its order, 64-bit ones among them ("% Processor
// Time", "% User Time", "% Privileged Time", "Elapsed Time"), each at the
// offset its definition gives; "Thread Count", "Priority Base" and "ID
// Process" are DWORD raw counts.
// Object and counter indexes are taken from the registry's counter name
// table (REG_MULTI_SZ "Counters" of the key
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib\009): a name the table lacks leaves its object or
// counter out of the data (the other counters keep their standard indexes).
// Without the table the standard indexes are used (Process 230, Thread Count
// 680, Priority Base 682, ID Process 784).
#pragma once

#include "winsim/core/machine.h"

#include <optional>
#include <string>
#include <vector>

namespace winsim {

// Answers RegQueryValueExA(HKEY_PERFORMANCE_DATA, valueName, ...) with the
// Win32 result and buffer protocol of that call:
// - valueName "Global" (or null/empty), "Costly", or decimal object indexes
//   separated by blanks ("230"); objects not asked for are left out;
// - data null, or *cbData smaller than the answer: ERROR_MORE_DATA, *cbData
//   left as passed, nothing written;
// - data given without cbData: ERROR_INVALID_PARAMETER;
// - success: *type = REG_BINARY, *cbData = the block's TotalByteLength (or
//   less, see ProcessState::damagePerfData).
// Windows 95 has no performance data: ERROR_BADKEY (our choice of code).
// A declared fault of the call "PerformanceData" (target: the value name)
// fails the query with its error.
LONG queryPerformanceData(LPCSTR valueName, LPDWORD type, LPBYTE data, LPDWORD cbData);

// Indexes the data carries; a missing one leaves its object or counter out.
struct PerfIndexes {
    std::optional<DWORD> process, threadCount, priorityBase, idProcess;
};

// The indexes named in a counter name table (pairs "index", "name" of a
// REG_MULTI_SZ, up to its empty string); the first pair with a name counts.
PerfIndexes perfIndexesFromTable(const char* table, std::size_t bytes);

// The standard indexes, for a machine without a counter name table.
PerfIndexes standardPerfIndexes();

// The size of the answer, and the answer itself, for the current process
// list. `valueName` as for queryPerformanceData.
std::size_t performanceDataSize(const Machine& m, std::string_view valueName, const PerfIndexes& ix);
void writePerformanceData(const Machine& m, std::string_view valueName, const PerfIndexes& ix, unsigned char* out,
                          std::size_t size);

// Reads the counter name table through the registry API; nullopt when the
// key or value is missing or unreadable.
std::optional<std::vector<char>> readCounterTable();

}  // namespace winsim
