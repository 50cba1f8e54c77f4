// Performance data cases: the size protocol of HKEY_PERFORMANCE_DATA and
// the Process object (index 230) the program walks on NT.
#include "conformance/conformance.h"

#include <winperf.h>

#include <vector>

CASE(perfdata, null_buffer_asks_for_more) {
    if (conformance::isWin95()) return;  // NT only
    DWORD size = 0;
    CHECK_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, nullptr, &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 0);  // left as passed
    RegCloseKey(HKEY_PERFORMANCE_DATA);
}

CASE(perfdata, process_object_present) {
    if (conformance::isWin95()) return;
    std::vector<BYTE> buffer(16384);
    LONG rc;
    for (;;) {
        DWORD size = (DWORD)buffer.size();
        DWORD type = 0;
        rc = RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, &type, buffer.data(), &size);
        if (rc != ERROR_MORE_DATA || buffer.size() > (1u << 24)) break;
        buffer.resize(buffer.size() * 2);
    }
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    CHECK_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) return;
    auto* block = (PERF_DATA_BLOCK*)buffer.data();
    CHECK_TRUE(block->Signature[0] == 'P' && block->Signature[1] == 'E' && block->Signature[2] == 'R' &&
               block->Signature[3] == 'F');
    bool found = false;
    auto* object = (PERF_OBJECT_TYPE*)(buffer.data() + block->HeaderLength);
    for (DWORD i = 0; i < block->NumObjectTypes; ++i) {
        if (object->ObjectNameTitleIndex == 230) {
            found = true;
            CHECK_TRUE(object->NumInstances >= 2);  // at least Idle and System
            CHECK_TRUE(object->NumCounters >= 3);
        }
        object = (PERF_OBJECT_TYPE*)((BYTE*)object + object->TotalByteLength);
    }
    CHECK_TRUE(found);
}
