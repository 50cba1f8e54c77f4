// Shared by the Windows gate and the Linux declaration test.
#pragma once
#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <winperf.h>
#include <winspool.h>
#include <winsvc.h>
#include <winver.h>

#include <cstddef>
#include <type_traits>

#define SIG(name, result, params) \
    static_assert(std::is_same_v<decltype(&name), result(WINAPI*) params>, #name " is declared differently");
#define SIGV(name, result, params) \
    static_assert(std::is_same_v<decltype(&name), result(WINAPIV*) params>, #name " is declared differently");
#define SIG_LATER SIG
#include "signatures.inc"
#undef SIG
#undef SIGV
#undef SIG_LATER

// Structures that cross into data keep the Windows x64 layout: checked by the
// 64-bit compilers (the Linux build and the x86_64 mingw-w64 syntax pass).
#if !defined(_WIN32) || defined(_WIN64)
static_assert(sizeof(PRINTER_INFO_2A) == 136 && sizeof(JOB_INFO_1A) == 96 && sizeof(DRIVER_INFO_2A) == 48);
static_assert(sizeof(MONITOR_INFO_2A) == 24 && sizeof(PRINTER_DEFAULTSA) == 24);
static_assert(sizeof(SERVICE_STATUS) == 28 && sizeof(ENUM_SERVICE_STATUSA) == 48);
static_assert(sizeof(PERF_DATA_BLOCK) == 88 && offsetof(PERF_DATA_BLOCK, SystemNameLength) == 80);
static_assert(sizeof(PERF_OBJECT_TYPE) == 64 && offsetof(PERF_OBJECT_TYPE, PerfTime) == 48);
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40 && sizeof(PERF_INSTANCE_DEFINITION) == 24);
static_assert(sizeof(WIN32_FIND_DATAA) == 320 && sizeof(STARTUPINFOA) == 104 && sizeof(PROCESS_INFORMATION) == 24);
static_assert(sizeof(MSG) == 48 && sizeof(SYSTEMTIME) == 16 && sizeof(SECURITY_ATTRIBUTES) == 24);
static_assert(sizeof(TOKEN_GROUPS) == 24 && sizeof(SID_AND_ATTRIBUTES) == 16);
static_assert(sizeof(TOKEN_PRIVILEGES) == 16 && sizeof(LUID_AND_ATTRIBUTES) == 12 && offsetof(TOKEN_PRIVILEGES, Privileges) == 4);
static_assert(sizeof(SID) == 12 && sizeof(WCHAR) == 2 && sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(WORD) == 2);
#endif

// Constant values both sides must agree on.
static_assert(ERROR_MORE_DATA == 234 && ERROR_NO_MORE_ITEMS == 259 && ERROR_KEY_DELETED == 1018);
static_assert(ERROR_PRINTER_DRIVER_ALREADY_INSTALLED == 1795 && ERROR_PRINT_MONITOR_ALREADY_INSTALLED == 3006);
static_assert(DRIVE_FIXED == 3 && DRIVE_CDROM == 5 && DRIVE_NO_ROOT_DIR == 1 && DRIVE_RAMDISK == 6);
static_assert(ERROR_PRINTER_DRIVER_IN_USE == 3001 && ERROR_UNKNOWN_PRINTER_DRIVER == 1797 && RPC_S_SERVER_UNAVAILABLE == 1722);
static_assert(ERROR_DEPENDENT_SERVICES_RUNNING == 1051 && ERROR_SERVICE_NOT_ACTIVE == 1062 && ERROR_NOT_ALL_ASSIGNED == 1300);
static_assert(KEY_READ == 0x20019 && KEY_WRITE == 0x20006 && KEY_ALL_ACCESS == 0xF003F);
static_assert(SC_MANAGER_ALL_ACCESS == 0xF003F && SERVICE_ALL_ACCESS == 0xF01FF && PRINTER_ALL_ACCESS == 0xF000C);
static_assert(XTYP_EXECUTE == 0x4050 && DMLERR_NOTPROCESSED == 0x4009 && CP_WINANSI == 1004 && CF_TEXT == 1);
static_assert(MOVEFILE_DELAY_UNTIL_REBOOT == 4 && MOVEFILE_REPLACE_EXISTING == 1 && FILE_ATTRIBUTE_DIRECTORY == 16);
static_assert(SE_GROUP_ENABLED == 4 && SE_GROUP_USE_FOR_DENY_ONLY == 16 && SE_PRIVILEGE_ENABLED == 2);
static_assert(DOMAIN_ALIAS_RID_ADMINS == 0x220 && SECURITY_BUILTIN_DOMAIN_RID == 0x20 && TOKEN_QUERY == 8);
static_assert(EWX_REBOOT == 2 && WM_QUIT == 0x12 && PM_REMOVE == 1 && MB_ICONSTOP == 0x10);
static_assert(PERF_NO_INSTANCES == -1 && VIF_CANNOTREADSRC == 0x10000 && VIF_OUTOFSPACE == 0x100);
