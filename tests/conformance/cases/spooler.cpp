// Spooler cases: sizes and levels of the enumerations, monitor and driver
// errors, the driver directory, and opening the print server.
#include "conformance/conformance.h"

#include <winspool.h>

using conformance::isWin95;

CASE(spooler, levels) {
    DWORD needed = 0, returned = 0;
    // The documented levels of EnumPrinters answer a size query (success when
    // there is no printer, ERROR_INSUFFICIENT_BUFFER otherwise); level 3 does
    // not exist, nor do the other levels asked for below.
    for (DWORD level : {1u, 2u, 4u, 5u}) {
        SetLastError(0xdeadbeef);
        BOOL ok = EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, nullptr, 0, &needed, &returned);
        if (!ok) CHECK_ERROR(ERROR_INSUFFICIENT_BUFFER);
    }
    CHECK_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 3, nullptr, 0, &needed, &returned), FALSE,
                ERROR_INVALID_LEVEL);
    char dir[MAX_PATH];
    CHECK_FAILS(GetPrinterDriverDirectoryA(nullptr, nullptr, 2, (BYTE*)dir, sizeof dir, &needed), FALSE,
                ERROR_INVALID_LEVEL);
    MONITOR_INFO_2A monitor = {(LPSTR) "Conformance Port", nullptr, (LPSTR) "vconfmon.dll"};
    CHECK_FAILS(AddMonitorA(nullptr, 1, (BYTE*)&monitor), FALSE, ERROR_INVALID_LEVEL);
    DRIVER_INFO_2A driver = {};
    driver.cVersion = 1;
    driver.pName = (LPSTR) "Conformance Driver";
    CHECK_FAILS(AddPrinterDriverA(nullptr, 5, (BYTE*)&driver), FALSE, ERROR_INVALID_LEVEL);
}

CASE(spooler, enum_printers_null_buffer_with_size) {
    DWORD needed = 0, returned = 0;
    CHECK_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 100, &needed, &returned), FALSE,
                ERROR_INVALID_USER_BUFFER);
}

CASE(spooler, driver_directory_size_query) {
    DWORD needed = 0;
    CHECK_FAILS(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, nullptr, 0, &needed), FALSE,
                ERROR_INSUFFICIENT_BUFFER);
    CHECK_TRUE(needed > 3);
    char dir[MAX_PATH];
    CHECK_EQ(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, (BYTE*)dir, sizeof dir, &needed), TRUE);
    CHECK_EQ(lstrlenA(dir) + 1, needed);
}

CASE(spooler, driver_directory_nt_environment) {
    char dir[MAX_PATH];
    DWORD needed = 0;
    SetLastError(0xdeadbeef);
    BOOL ok = GetPrinterDriverDirectoryA(nullptr, (LPSTR) "Windows NT x86", 1, (BYTE*)dir, sizeof dir, &needed);
    if (isWin95()) {
        CHECK_EQ(ok, FALSE);
        CHECK_ERROR(ERROR_INVALID_ENVIRONMENT);
    } else {
        CHECK_EQ(ok, TRUE);
    }
    CHECK_FAILS(GetPrinterDriverDirectoryA(nullptr, (LPSTR) "No Such Environment", 1, (BYTE*)dir, sizeof dir, &needed),
                FALSE, ERROR_INVALID_ENVIRONMENT);
}

CASE(spooler, add_monitor_missing_module) {
    MONITOR_INFO_2A info = {(LPSTR) "Conformance Port", nullptr, (LPSTR) "vconfmon.dll"};
    CHECK_FAILS(AddMonitorA(nullptr, 2, (BYTE*)&info), FALSE, ERROR_MOD_NOT_FOUND);
}

CASE(spooler, delete_unknown_driver) {
    CHECK_FAILS(DeletePrinterDriverA(nullptr, nullptr, (LPSTR) "No Such Conformance Driver"), FALSE,
                ERROR_UNKNOWN_PRINTER_DRIVER);
}

CASE(spooler, delete_unknown_port) {
    CHECK_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "VCONF99:"), FALSE, ERROR_INVALID_PARAMETER);
}

// No name opens the print server; an unknown name nothing.
CASE(spooler, open_printer_names) {
    HANDLE printer = nullptr;
    CHECK_EQ(OpenPrinterA(nullptr, &printer, nullptr), TRUE);
    CHECK_TRUE(printer != nullptr);
    if (printer) CHECK_EQ(ClosePrinter(printer), TRUE);
    printer = (HANDLE)(ULONG_PTR)0x1234;
    CHECK_FAILS(OpenPrinterA((LPSTR) "No Such Conformance Printer", &printer, nullptr), FALSE,
                ERROR_INVALID_PRINTER_NAME);
}
