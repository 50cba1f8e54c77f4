// PPD printer driver installation.
#include "install/printerdrivers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "install/namemaps.h"
#include "install/paths.h"
#include "install/driverrename.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

#define PPD_SECTION "PPD Files"
#define PPD_LIST "PPDList"

namespace {

// Drivers that are in use and are replaced after the pass: entry i belongs
// to key i (from 1); both texts are heap copies.
struct ReplaceList {
    char** PpdFiles;
    char** DriverNames;
    UINT Size;
};

char* copyText(LPCSTR text)
{
    size_t length = strlen(text);
    char* copy = (char*)malloc(length + 1);
    if (copy != NULL)
        memcpy(copy, text, length + 1);
    return copy;
}

void clearEntry(ReplaceList& list, UINT i)
{
    free(list.PpdFiles[i]);
    free(list.DriverNames[i]);
    list.PpdFiles[i] = NULL;
    list.DriverNames[i] = NULL;
}

// NT 3.5x: the spooler has copied the PPD file into its version
// subdirectory; the copy in DriverDir goes.
void deletePpdCopy(LPCSTR ppdFile)
{
    if (!Setup.IsNT35)
        return;
    char path[PATH_BUFFER_SIZE + PPD_NAME_SIZE];
    if (JoinPath(path, sizeof path, Setup.DriverDir, ppdFile))
        DeleteFileA(path);
}

// Deletes and adds the driver record->pName with record->pDataFile; a
// driver in use goes to entry i of the list.
void addDriver(DRIVER_INFO_2A* record, ReplaceList& list, UINT i)
{
    DeletePrinterDriverA(NULL, record->pEnvironment, record->pName);
    if (AddPrinterDriverA(NULL, 2, (LPBYTE)record)) {
        deletePpdCopy(record->pDataFile);
        return;
    }
    DWORD error = GetLastError();
    if (error == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        list.PpdFiles[i] = copyText(record->pDataFile);
        list.DriverNames[i] = copyText(record->pName);
        if (list.PpdFiles[i] != NULL && list.DriverNames[i] != NULL)
            return;
        // Without the copies the driver cannot be replaced: say so.
        clearEntry(list, i);
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    ShowSetupMessage("Install", "AddPrinterDriver (%s)failed\nerror = %d", record->pName, (int)error);
    deletePpdCopy(record->pDataFile);
}

void replaceInUse(DRIVER_INFO_2A* record, ReplaceList& list)
{
    for (UINT i = 1; i < list.Size; ++i) {
        if (list.DriverNames[i] == NULL)
            continue;
        ReplaceInstalledDriver(list.PpdFiles[i], list.DriverNames[i], record);
        deletePpdCopy(list.PpdFiles[i]);
        clearEntry(list, i);
    }
}

// Driver name (key i) and PPD file (its field 1) into the record's buffers.
void readKey(DRIVER_INFO_2A* record, UINT i)
{
    TkGetListItem(PPD_LIST, i, record->pName, DRIVER_NAME_SIZE);
    TkReadInfField(PPD_SECTION, record->pName, record->pDataFile, PPD_NAME_SIZE);
}

}  // namespace

void FillDriverRecord(DRIVER_INFO_2A* record, LPSTR nameBuffer, LPSTR ppdBuffer)
{
    if (Setup.IsWindows95)
        record->pEnvironment = (LPSTR) "Windows 4.0";
    else if (Setup.IsNT31)
        record->pEnvironment = (LPSTR)(Setup.IsX86     ? "Windows NT x86"
                                       : Setup.IsAlpha ? "Windows NT Alpha_AXP"
                                       : Setup.IsMips  ? "Windows NT R4000"
                                                       : NULL);
    else
        record->pEnvironment = NULL;
    record->pDriverPath = (LPSTR)(Setup.IsWindows95 ? "pscript.drv" : "pscript.dll");
    record->pConfigFile = (LPSTR)(Setup.IsWindows95 ? "pscript.drv" : "pscrptui.dll");
    nameBuffer[0] = '\0';
    ppdBuffer[0] = '\0';
    record->pName = nameBuffer;
    record->pDataFile = ppdBuffer;
}

void InstallPrinterDrivers(DRIVER_INFO_2A* record)
{
    TkListFromInfKeys(PPD_LIST, PPD_SECTION);
    UINT count = TkListLength(PPD_LIST);
    ReplaceList list;
    list.Size = count + 1;
    list.PpdFiles = (char**)calloc(list.Size, sizeof(char*));
    list.DriverNames = (char**)calloc(list.Size, sizeof(char*));
    if (list.PpdFiles == NULL || list.DriverNames == NULL) {
        free(list.PpdFiles);
        free(list.DriverNames);
        ShowSetupMessage("Install", "AddPrinterDriver (%s)failed\nerror = %d", PPD_SECTION,
                         (int)ERROR_NOT_ENOUGH_MEMORY);
        return;
    }

    for (UINT i = 1; i <= count; ++i) {
        readKey(record, i);
        if (Setup.IsWindows95) {
            LPCSTR mapped = LookupNameMap(Win95DriverNameMap, record->pName);
            if (mapped != NULL)
                snprintf(record->pName, DRIVER_NAME_SIZE, "%s", mapped);
        }
        addDriver(record, list, i);
    }
    replaceInUse(record, list);

    // Windows 95: the network drivers, on the same PPD files.
    if (Setup.IsWindows95) {
        for (UINT i = 1; i <= count; ++i) {
            readKey(record, i);
            LPCSTR net = LookupNameMap(Win95NetDriverNameMap, record->pName);
            if (net == NULL)
                continue;
            snprintf(record->pName, DRIVER_NAME_SIZE, "%s", net);
            addDriver(record, list, i);
        }
        replaceInUse(record, list);
    }

    free(list.PpdFiles);
    free(list.DriverNames);
}
