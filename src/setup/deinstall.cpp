// The removal of the package: printers and ports of the monitor, the
// monitor's and the product's registry trees, the installation directory,
// the files placed in the system and Windows directories, the Program
// Manager group, and the closing pages.
#include "setup/deinstall.h"

#include "pages/pages.h"
#include "printsys/printsys.h"
#include "setup/setup.h"
#include "sysutil/dirtree.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"
#include "sysutil/leftover.h"
#include "sysutil/progman.h"
#include "sysutil/regtree.h"
#include "toolkit/toolkit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ROOT_BUFFER_SIZE 260
/* Bytes of the Root value read behind the two characters of the drive,
   leaving room for the terminator after a value stored without one. */
#define ROOT_VALUE_LIMIT (ROOT_BUFFER_SIZE - 3)
#define FILE_PATH_SIZE 512
#define NOTE_TEXT_SIZE 512

#define SPOOLER_STOP_DIALOG 5100
#define SPOOLER_START_DIALOG 5300

static const char MonitorsRootKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
static const char MonitorsRootKeyMixed[] = "System\\CurrentControlSet\\Control\\Print\\Monitors";
static const char MonitorKey[] = "System\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port";
static const char MonitorName[] = "Varden Network Port";
static const char VendorKey[] = "SOFTWARE\\VardenWorks";
static const char ProductName[] = "Quillar";
static const char DefaultRootTail[] = "\\win32app\\vrdpsmon";
static const char ProgmanGroup[] = "Varden Network Printers";
static const char RestartPiece[] = "to a clean system before re-running this program.";

/* --- The installation root ------------------------------------------------ */

static char FoldCase(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

/* True when `dir` is `root` or lies below it (letter case ignored; `root`
   without a trailing backslash). */
static BOOL IsSameOrBelow(LPCSTR dir, LPCSTR root, size_t rootLen)
{
    size_t i;
    if (dir == NULL || dir[0] == '\0')
        return FALSE;
    for (i = 0; i < rootLen; ++i)
        if (dir[i] == '\0' || FoldCase(dir[i]) != FoldCase(root[i]))
            return FALSE;
    return dir[rootLen] == '\0' || dir[rootLen] == '\\';
}

LPCSTR refuseRemovalRoot(LPCSTR root)
{
    size_t len, start;
    if (root == NULL || root[0] == '\0')
        return "empty";
    len = strlen(root);
    if (len + 5 > MAX_PATH)
        return "too long";
    if (root[0] == '\\' && root[1] == '\\')
        return "a network path";
    if (!((root[0] >= 'A' && root[0] <= 'Z') || (root[0] >= 'a' && root[0] <= 'z')) || root[1] != ':' ||
        root[2] != '\\')
        return "not a full path on a drive";
    /* One trailing backslash is allowed; it does not count. */
    if (len > 3 && root[len - 1] == '\\')
        --len;
    if (len <= 3)
        return "a drive root";
    for (start = 3; start <= len;) {
        size_t end = start, i;
        BOOL allDots = TRUE;
        while (end < len && root[end] != '\\')
            ++end;
        if (end == start)
            return "an empty path part";
        for (i = start; i < end; ++i) {
            char c = root[i];
            if (c != '.')
                allDots = FALSE;
            if ((unsigned char)c < 32 || strchr("*?\"<>|:/", c) != NULL)
                return "characters no file name holds";
        }
        if (allDots)
            return "a . or .. part";
        start = end + 1;
    }
    if (IsSameOrBelow(Setup.WindowsDir, root, len))
        return "the Windows directory or a directory above it";
    if (IsSameOrBelow(Setup.SystemDir, root, len))
        return "the system directory or a directory above it";
    if (IsSameOrBelow(Setup.DriverDir, root, len))
        return "the printer-driver directory or a directory above it";
    return NULL;
}

/* The system drive ("C:") in the first two characters of `buffer`. A
   variable that does not expand to a drive (Windows 95 has none) gives
   the drive of the system directory, as start-up takes it for the default
   root. */
static void ReadSystemDrive(char *buffer)
{
    DWORD length = ExpandEnvironmentStringsA("%SYSTEMDRIVE%", buffer, ROOT_BUFFER_SIZE);
    if (length == 0)
        FailSetup("Couldn't expand env string, error = %d", (int)GetLastError());
    if (length != 3 || buffer[1] != ':') {
        buffer[0] = Setup.SystemDir[0];
        buffer[1] = ':';
    }
    buffer[2] = '\0';
}

[[noreturn]] static void FailRegistry(LPCSTR firstPiece, LONG error)
{
    joinMessage(firstPiece, RestartPiece);
    FailSetup(Setup.MessageBuffer, (int)error);
}

/* Fills `buffer` with the system drive and the Root value of the monitor's
   Files key and returns the installation root: the value alone when it
   begins with a drive letter and a colon, else the whole buffer. A missing
   Files key or Root value gives the default root; `*refusal` is set when
   the value cannot be a root at all (wrong type, too long). */
static LPSTR ReadInstallRoot(char *buffer, LPCSTR *refusal)
{
    ScopedKey monitor;
    ScopedKey files;
    LONG rc;
    DWORD type = 0;
    DWORD size = ROOT_VALUE_LIMIT;

    *refusal = NULL;
    ReadSystemDrive(buffer);
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, MonitorKey, 0, KEY_ALL_ACCESS, monitor.put());
    if (rc != ERROR_SUCCESS)
        FailRegistry("Unable to access Registry for de-installation, error = %d.  Please restart ", rc);
    rc = RegOpenKeyExA(monitor.get(), "Files", 0, KEY_ALL_ACCESS, files.put());
    if (rc == ERROR_FILE_NOT_FOUND) {
        /* The installation into the default root writes no Files key. */
        snprintf(buffer + 2, ROOT_BUFFER_SIZE - 2, "%s", DefaultRootTail);
        return buffer;
    }
    if (rc != ERROR_SUCCESS)
        FailRegistry("Unable to access Files subkey in Registry for de-installation, error = %d.  Please restart ", rc);
    rc = RegQueryValueExA(files.get(), "Root", NULL, &type, (LPBYTE)(buffer + 2), &size);
    if (rc == ERROR_FILE_NOT_FOUND) {
        snprintf(buffer + 2, ROOT_BUFFER_SIZE - 2, "%s", DefaultRootTail);
        return buffer;
    }
    if (rc == ERROR_MORE_DATA) {
        snprintf(buffer, ROOT_BUFFER_SIZE, "Root value");
        *refusal = "longer than the 257 characters a root may have";
        return buffer;
    }
    if (rc != ERROR_SUCCESS)
        FailRegistry("Unable to access Root value in Registry for de-installation, error = %d.  Please restart ", rc);
    buffer[2 + size] = '\0';
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        *refusal = "not a text value";
        return buffer;
    }
    if (buffer[2] != '\0' && buffer[3] == ':')
        return buffer + 2;
    return buffer;
}

/* --- Printers and ports ----------------------------------------------------- */

/* True when one element of the comma-separated `ports` is a port of the
   monitor's list (entries end in a comma). */
static BOOL UsesMonitorPort(LPCSTR ports, LPSTR *list, DWORD count)
{
    const char *p = ports;
    while (p != NULL && *p != '\0') {
        const char *end = strchr(p, ',');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        DWORD i;
        for (i = 0; i < count; ++i)
            if (strlen(list[i]) == len + 1 && strncmp(list[i], p, len) == 0)
                return TRUE;
        p = end ? end + 1 : NULL;
    }
    return FALSE;
}

/* Hands each printer to RemovePrinter once per monitor port whose name,
   with its comma, occurs in the printer's port list with a comma
   appended; notes the printers that stay. */
static void RemovePrintersOnPorts(PRINTER_INFO_2A *printers, DWORD printerCount, LPSTR *list, DWORD count)
{
    DWORD i, j;
    for (i = 0; i < printerCount; ++i) {
        PRINTER_INFO_2A *printer = &printers[i];
        LPCSTR ports = printer->pPortName ? printer->pPortName : "";
        size_t size = strlen(ports) + 2;
        char *text = (char *)malloc(size);
        BOOL handed = FALSE;
        if (text == NULL)
            continue;
        snprintf(text, size, "%s,", ports);
        for (j = 0; j < count; ++j) {
            if (strstr(text, list[j]) != NULL) {
                RemovePrinter(printer, list[j]);
                handed = TRUE;
            }
        }
        free(text);
        if (handed && printer->pPortName != NULL && printer->pPortName[0] != '\0') {
            char what[NOTE_TEXT_SIZE];
            char reason[NOTE_TEXT_SIZE];
            snprintf(what, sizeof what, "printer %s", printer->pPrinterName ? printer->pPrinterName : "");
            snprintf(reason, sizeof reason, "%s %s",
                     UsesMonitorPort(printer->pPortName, list, count) ? "could not be deleted, prints to"
                                                                      : "kept, prints to",
                     printer->pPortName);
            noteLeft(what, reason);
        }
    }
}

/* Deletes every port of the list under the status page, reporting each one
   that cannot be deleted. The entries lose their commas. */
static void DeletePorts(LPSTR *list, DWORD count)
{
    HCURSOR previous;
    DWORD i;
    if (count == 0)
        return;
    previous = OpenStatusPage("Deleting ports...", "Please wait while existing Brevant ports are deleted");
    for (i = 0; i < count; ++i) {
        size_t len = strlen(list[i]);
        if (len > 0)
            list[i][len - 1] = '\0';
        if (!DeletePortA(NULL, HwndFrame(), list[i])) {
            DWORD error = GetLastError();
            char what[NOTE_TEXT_SIZE];
            char reason[64];
            ShowSetupMessage("Deinstall", "Couldn't delete port \"%s\" (error = %d)", list[i], (int)error);
            snprintf(what, sizeof what, "port %s", list[i]);
            snprintf(reason, sizeof reason, "could not be deleted (error = %d)", (int)error);
            noteLeft(what, reason);
        }
    }
    CloseStatusPage(previous);
}

/* --- Registry trees ------------------------------------------------------------ */

static void DeleteMonitorTree(void)
{
    ScopedKey monitors;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MonitorsRootKeyMixed, 0, KEY_ALL_ACCESS, monitors.put()) != ERROR_SUCCESS) {
        ShowSetupMessage("DeInstall", "Couldn't open monitor root");
        noteLeft("registry key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port",
                 "could not be opened");
        return;
    }
    if (!stsSucceeded(deleteRegTree(monitors.get(), MonitorName))) {
        ShowSetupMessage("DeInstall", "Couldn't delete registry tree");
        noteLeft("registry key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Varden Network Port",
                 "could not be deleted");
    }
}

/* Deletes the product's tree and then the vendor's key when nothing else
   is left in it. */
static void DeleteVersionTree(void)
{
    ScopedKey vendor;
    DWORD subkeys = 1, longest = 0, values = 1, longestValue = 0, largest = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, VendorKey, 0, KEY_ALL_ACCESS, vendor.put()) != ERROR_SUCCESS) {
        ShowSetupMessage("DeInstall", "Couldn't open version root");
        return;
    }
    if (!stsSucceeded(deleteRegTree(vendor.get(), ProductName))) {
        ShowSetupMessage("DeInstall", "Couldn't delete version tree");
        noteLeft("registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar", "could not be deleted");
        return;
    }
    if (!stsSucceeded(querySubkeyInfo(vendor.get(), &subkeys, &longest)) ||
        !stsSucceeded(queryValueInfo(vendor.get(), &values, &longestValue, &largest)) || subkeys != 0 || values != 0)
        return;
    vendor.reset();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, VendorKey);
}

/* --- Files ----------------------------------------------------------------------- */

/* Deletes `name` in `dir`; one that is there but cannot be deleted now is
   deleted at the next start. */
static void DeletePlacedFile(LPCSTR dir, LPCSTR name)
{
    char path[FILE_PATH_SIZE];
    int n = snprintf(path, sizeof path, "%s\\%s", dir, name);
    if (n < 0 || n >= (int)sizeof path) {
        char what[FILE_PATH_SIZE];
        snprintf(what, sizeof what, "%s in %.400s", name, dir);
        noteLeft(what, "path too long, not removed");
        return;
    }
    clearReadOnly(path);
    if (DeleteFileA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    deleteAtNextStart(path, "in use, deleted at the next start");
}

/* The monitor module: on Windows 95 the spooler holds it while Windows
   runs, so an existing module is only ever deleted at the next start. */
static void DeleteMonitorModule(LPCSTR module)
{
    char path[FILE_PATH_SIZE];
    int n = snprintf(path, sizeof path, "%s\\%s", Setup.SystemDir, module);
    if (n < 0 || n >= (int)sizeof path)
        return;
    if (Setup.IsWindows95 && TkFileExists(path, 0)) {
        deleteAtNextStart(path, "monitor module in use by the spooler, deleted at the next start");
        return;
    }
    if (Setup.IsWindows95) {
        DeleteFileA(path);
        return;
    }
    DeletePlacedFile(Setup.SystemDir, module);
}

static void DeleteFiles(LPCSTR root, LPCSTR refusal, LPCSTR module)
{
    if (refusal == NULL)
        refusal = refuseRemovalRoot(root);
    if (refusal != NULL) {
        char reason[NOTE_TEXT_SIZE];
        ShowSetupMessage("Deinstall",
                         "The installation directory \"%s\" recorded in the registry is %s; it is not removed.",
                         root, refusal);
        snprintf(reason, sizeof reason, "installation directory not removed: %s", refusal);
        noteLeft(root[0] ? root : "(empty installation directory)", reason);
    } else {
        removeDirTree(root, 0);
    }
    DeleteMonitorModule(module);
    DeletePlacedFile(Setup.SystemDir, Setup.HelpFile);
    DeletePlacedFile(Setup.WindowsDir, "vrdpswiz.ini");
    DeletePlacedFile(Setup.WindowsDir, "vrdorvel.ini");
    DeletePlacedFile(Setup.WindowsDir, "vrdrcons.ini");
}

/* --- The flow -------------------------------------------------------------------- */

int DeinstallFlow(void)
{
    LPCSTR module = NULL;
    char rootBuffer[ROOT_BUFFER_SIZE];
    LPSTR root;
    LPCSTR refusal = NULL;
    LPSTR *ports = NULL;
    DWORD portCount = 0;
    DWORD needed = 0, returned = 0;
    PRINTER_INFO_2A *printers;
    DependentServiceList *dependents = NULL;
    LONG rc;

    clearLeftNotes();
    getMonitorDllName(&module);
    {
        ScopedKey monitors;
        rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, MonitorsRootKey, 0, KEY_ALL_ACCESS, monitors.put());
        if (rc != ERROR_SUCCESS)
            FailSetup("DeInstall -- Couldn't open registry root, Error = %d", (int)rc);
        Setup.MonitorInstalled = isVrdpsmonInstalled(monitors.get(), module);
    }

    if (Setup.MonitorInstalled) {
        if (Setup.IsNT35)
            killPrintManager();

        root = ReadInstallRoot(rootBuffer, &refusal);
        getMonitorPortNames(&ports, &portCount);

        /* One more record than the spooler asked for, of this build's size. */
        EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &needed, &returned);
        printers = (PRINTER_INFO_2A *)calloc(1, (size_t)needed + sizeof(PRINTER_INFO_2A));
        if (printers == NULL) {
            ShowSetupMessage("Deinstall", "Couldn't allocate mem for printers (error = %d)", (int)GetLastError());
            free(ports);
            return 1;
        }
        if (!EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, (LPBYTE)printers, needed + (DWORD)sizeof(PRINTER_INFO_2A),
                           &needed, &returned)) {
            DWORD error = GetLastError();
            free(printers);
            free(ports);
            ShowSetupMessage("Deinstall", "Couldn't enumerate printers (error = %d)", (int)error);
            return 1;
        }
        RemovePrintersOnPorts(printers, returned, ports, portCount);
        free(printers);

        DeletePorts(ports, portCount);
        free(ports);

        if (Setup.IsNT35) {
            HCURSOR previous = TkWaitCursor();
            SpoolerStopPage();
            if (!stsSucceeded(stopSpooler(&dependents)))
                FailSetup("Deinstall -- Couldn't stop spooler, error = %d", (int)GetLastError());
            TkRestoreCursor(previous);
            TkPopDialogs(1);
        }

        DeleteMonitorTree();
        DeleteVersionTree();

        if (Setup.IsNT35) {
            HCURSOR previous = TkWaitCursor();
            SpoolerStartPage();
            if (!stsSucceeded(startSpooler(&dependents)))
                FailSetup("Deinstall -- Couldn't start spooler, error = %d", (int)GetLastError());
            TkRestoreCursor(previous);
            TkPopDialogs(1);
        }

        DeleteFiles(root, refusal, module);

        if (!deleteProgmanGroup(ProgmanGroup)) {
            ShowSetupMessage("Deinstall", "Couldn't delete program mgr group (error = %d)", (int)GetLastError());
            noteLeft("Program Manager group Varden Network Printers", "could not be deleted");
        }
        deleteProgmanItem("Varden Network Printing Help", "Startup");

        reportLeftNotes();
        NoteOutcome(OUTCOME_REMOVED);

        if (Setup.IsNT31 || Setup.IsWindows95)
            RemoveRebootPage();
    } else {
        NoteOutcome(OUTCOME_NOTHING);
    }

    if (!Setup.RebootPending)
        RemoveDonePage();
    return 0;
}
