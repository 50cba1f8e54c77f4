// Driver renaming on upgrade and replacement of a driver in use.
#include "install/driverrename.h"

#include <stdlib.h>
#include <string.h>

#include "install/namemaps.h"
#include "setup/setup.h"
#include "sysutil/guards.h"

namespace {

// The local printers at level 2 in a zeroed block one record larger than
// the spooler asked for; null (and *count 0) when there is none or the list
// cannot be had. The caller frees the block.
PRINTER_INFO_2A* enumerateLocalPrinters(DWORD* count)
{
    *count = 0;
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
    size_t size = (size_t)needed + sizeof(PRINTER_INFO_2A);
    BYTE* block = (BYTE*)calloc(1, size);
    if (block == NULL)
        return NULL;
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, block, (DWORD)size, &needed, &returned) || returned == 0) {
        free(block);
        return NULL;
    }
    *count = returned;
    return (PRINTER_INFO_2A*)block;
}

HANDLE openPrinter(LPSTR name)
{
    PRINTER_DEFAULTSA defaults;
    defaults.pDatatype = NULL;
    defaults.pDevMode = NULL;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;
    HANDLE printer = NULL;
    if (!OpenPrinterA(name, &printer, &defaults))
        return NULL;
    return printer;
}

// The printer's data with pDriverName = driver, then command; the record's
// own driver name is put back afterwards.
BOOL setPrinterDriver(HANDLE printer, PRINTER_INFO_2A* info, LPCSTR driver, DWORD command)
{
    LPSTR previous = info->pDriverName;
    info->pDriverName = (LPSTR)driver;
    BOOL ok = SetPrinterA(printer, 2, (LPBYTE)info, command);
    info->pDriverName = previous;
    return ok;
}

BOOL concerned(const PRINTER_INFO_2A& info)
{
    return info.pDriverName != NULL && info.pDriverName[0] != '\0';
}

// Moves every concerned printer onto `driver` with `command`. On resume, a
// printer whose driver cannot be set back at least prints again on the
// driver it was parked on.
void moveConcernedPrinters(PRINTER_INFO_2A* list, DWORD count, LPCSTR driver, DWORD command)
{
    for (DWORD i = 0; i < count; ++i) {
        if (!concerned(list[i]))
            continue;
        HANDLE printer = openPrinter(list[i].pPrinterName);
        if (printer == NULL)
            continue;
        if (!setPrinterDriver(printer, &list[i], driver, command) && command == PRINTER_CONTROL_RESUME)
            SetPrinterA(printer, 0, NULL, PRINTER_CONTROL_RESUME);
        ClosePrinter(printer);
    }
}

}  // namespace

void RenameObsoleteDrivers(DRIVER_INFO_2A* record)
{
    DWORD count = 0;
    CBlock<PRINTER_INFO_2A> printers(enumerateLocalPrinters(&count));
    if (!printers)
        return;
    for (const ObsoleteDriverName* pair = ObsoleteDriverNameMap; pair->Old[0] != '\0'; ++pair) {
        for (DWORD i = 0; i < count; ++i) {
            PRINTER_INFO_2A& info = printers.get()[i];
            if (info.pDriverName == NULL || strcmp(info.pDriverName, pair->Old) != 0)
                continue;
            HANDLE printer = openPrinter(info.pPrinterName);
            if (printer == NULL)
                continue;
            // From now on the record names the current driver, as the
            // printer does when SetPrinter succeeded.
            info.pDriverName = (LPSTR)pair->Current;
            SetPrinterA(printer, 2, (LPBYTE)&info, 0);
            ClosePrinter(printer);
        }
        DeletePrinterDriverA(NULL, record->pEnvironment, (LPSTR)pair->Old);
    }
}

void ReplaceInstalledDriver(LPCSTR ppdFile, LPCSTR driverName, DRIVER_INFO_2A* record)
{
    DWORD count = 0;
    CBlock<PRINTER_INFO_2A> printers(enumerateLocalPrinters(&count));
    if (!printers)
        return;
    PRINTER_INFO_2A* list = printers.get();

    // The first printer on another driver lends its driver as the parking
    // place; every printer on another driver is marked as not concerned.
    CBlock<char> parking;
    for (DWORD i = 0; i < count; ++i) {
        if (list[i].pDriverName == NULL)
            continue;
        if (strcmp(list[i].pDriverName, driverName) == 0)
            continue;
        if (!parking) {
            size_t length = strlen(list[i].pDriverName);
            parking.reset((char*)malloc(length + 1));
            if (!parking)
                return;
            memcpy(parking.get(), list[i].pDriverName, length + 1);
        }
        list[i].pDriverName[0] = '\0';
    }
    if (!parking)
        return;

    moveConcernedPrinters(list, count, parking.get(), PRINTER_CONTROL_PAUSE);

    DeletePrinterDriverA(NULL, record->pEnvironment, (LPSTR)driverName);

    LPSTR previousName = record->pName;
    LPSTR previousData = record->pDataFile;
    record->pName = (LPSTR)driverName;
    record->pDataFile = (LPSTR)ppdFile;
    BOOL added = AddPrinterDriverA(NULL, 2, (LPBYTE)record);
    DWORD addError = added ? ERROR_SUCCESS : GetLastError();
    record->pName = previousName;
    record->pDataFile = previousData;

    // Back onto the driver and resumed.
    moveConcernedPrinters(list, count, driverName, PRINTER_CONTROL_RESUME);

    if (!added)
        ShowSetupMessage("Install", "AddPrinterDriver (%s)failed\nerror = %d", driverName, (int)addError);
}
