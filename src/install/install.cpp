// The install sequence.
#include "install/install.h"

#include <stdio.h>
#include <string.h>
#include <winspool.h>

#include "install/driverfiles.h"
#include "install/driverrename.h"
#include "install/paths.h"
#include "install/printerdrivers.h"
#include "install/wininit.h"
#include "pages/pages.h"
#include "printsys/printsys.h"
#include "setup/setup.h"
#include "sysutil/progman.h"
#include "sysutil/regtree.h"
#include "toolkit/toolkit.h"

namespace {

// Paths of the monitor module and of its side name ("new" on Windows 95,
// "old" on NT); SystemDir (at most 509 characters) and a file name always fit.
#define MODULE_PATH_SIZE (PATH_BUFFER_SIZE + MAX_PATH)
char MonitorPath[MODULE_PATH_SIZE];
char SidePath[MODULE_PATH_SIZE];

// The spooler's active dependents from the stop, for the start.
DependentServiceList* Dependents;

// Run by the fatal reporters while the spooler is stopped: the machine must
// not be left unable to print until the next restart.
void restartSpoolerBeforeExit(void)
{
    startSpooler(&Dependents);
}

void setModulePaths(LPCSTR module, LPCSTR side)
{
    JoinPath(MonitorPath, sizeof MonitorPath, Setup.SystemDir, module);
    JoinPath(SidePath, sizeof SidePath, Setup.SystemDir, side);
}

// 1. Is the monitor registered already?
void detectMonitor(LPCSTR module)
{
    HKEY monitors = NULL;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, MONITORS_KEY_PATH, 0, KEY_ALL_ACCESS, &monitors);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        FailSetup("Install -- Couldn't open registry root, Error = %d", (int)error);
    }
    Setup.MonitorInstalled = isVrdpsmonInstalled(monitors, module);
    RegCloseKey(monitors);
}

// 2. The PostScript driver modules for the platform.
void prepareDriverFiles(DWORD* version)
{
    DWORD status = STS_DONE;
    if (Setup.IsNT35)
        status = setupForPPDInstallNT35(version);
    else if (Setup.IsNT31)
        status = setupForPPDInstallNT31(version);
    else if (Setup.IsWindows95)
        status = setupForPPDInstallWin95(version);
    if (!stsSucceeded(status))
        FailSetup("setupForPPDInstall failed, error = %d", (int)GetLastError());
}

// 4. An installed monitor module makes way for the new one.
void prepareUpgrade(void)
{
    if (Setup.IsNT35) {
        HCURSOR cursor = TkWaitCursor();
        SpoolerStopPage();
        // From here until the spooler runs again a fatal error restarts it.
        SetFatalCleanup(restartSpoolerBeforeExit);
        if (!stsSucceeded(stopSpooler(&Dependents)))
            FailSetup("Install -- Couldn't stop spooler, error = %d", (int)GetLastError());
        TkRestoreCursor(cursor);
        TkPopDialogs(1);
    }
    if (Setup.IsWindows95)
        ScheduleWininitRename(MonitorPath, SidePath);
    if (!Setup.IsWindows95) {
        // A module that is not loaded simply goes; a loaded one is moved
        // aside under the "old" name and deleted now or at the next start.
        setModulePaths("vrdpsmon.dll", "vrdpsmon.old");
        DeleteFileA(MonitorPath);
        DeleteFileA(SidePath);
        MoveFileExA(MonitorPath, SidePath, MOVEFILE_REPLACE_EXISTING);
        if (!DeleteFileA(SidePath)) {
            // Only a module still there (in use) waits for the restart.
            DWORD why = GetLastError();
            if (MoveFileExA(SidePath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) && why != ERROR_FILE_NOT_FOUND)
                NoteRestartNeeded();
        }
    }
}

// 7. The monitor registered with the spooler, or its key repaired.
void registerMonitor(LPCSTR module)
{
    if (Setup.MonitorInstalled) {
        if (!stsSucceeded(FixReg(MONITORS_KEY_PATH, MONITOR_NAME)))
            FailSetup("Install -- FixReg failed, error = %d", (int)GetLastError());
        return;
    }
    if (Setup.IsWindows95 && !MoveFileA(SidePath, MonitorPath)) {
        DWORD error = GetLastError();
        if (TkFileExists(MonitorPath, 0))
            ScheduleWininitRename(MonitorPath, SidePath);
        else
            ShowSetupMessage("Install", "Couldn't rename %s to %s\n(error = %d)", SidePath, MonitorPath, (int)error);
    }

    MONITOR_INFO_2A info;
    info.pName = (LPSTR)MONITOR_NAME;
    info.pEnvironment = (LPSTR)(Setup.IsWindows95 ? "Windows 4.0" : NULL);
    info.pDLLName = (LPSTR)module;
    if (AddMonitorA(NULL, 2, (LPBYTE)&info))
        return;
    DWORD error = GetLastError();
    if (Setup.IsWindows95 && error == ERROR_ALREADY_EXISTS) {
        char text[MESSAGE_BUFFER_SIZE];
        snprintf(text, sizeof text, "%s%s%s", "An instance of the Brevant Moniter was still residing in memory.  ",
                 "An incomplete installation or de-installation was detected.  Please reboot ",
                 "the computer before re-running this installation program.");
        FailSetup("%s", text);
    }
    FailSetup("Install -- AddMonitor failed, error = %d", (int)error);
}

// 8. The spooler runs again, with its dependents.
void restartSpooler(void)
{
    HCURSOR cursor = TkWaitCursor();
    SpoolerStartPage();
    // This is the one start attempt: a failure is reported, not retried.
    SetFatalCleanup(NULL);
    if (!stsSucceeded(startSpooler(&Dependents)))
        FailSetup("Install -- Couldn't start spooler, error = %d", (int)GetLastError());
    TkRestoreCursor(cursor);
    TkPopDialogs(1);
}

// One item of the group; "%s\\%s" joins that do not fit end setup as a
// value that does not fit.
void joinOrFail(LPSTR out, size_t capacity, LPCSTR format, LPCSTR a, LPCSTR b)
{
    int n = snprintf(out, capacity, format, a, b);
    if (n < 0 || (size_t)n >= capacity) {
        DoMsgBox("Buffer Overflow", "MS-Setup Error", 16);
        ShowToolkitError(TK_ERROR_FAILED);
    }
}

// 12. The Program Manager group with its six items.
void buildProgramGroup(void)
{
    HCURSOR cursor = TkWaitCursor();
    ProgramGroupPage();
    if ((Setup.IsNT31 || Setup.IsWindows95) && Setup.MonitorInstalled)
        TkCreateGroupItemEx("Startup", 0, "Varden Network Printing Help", Setup.HelpFile, Setup.HelpProgram, 1024);
    deleteProgmanGroup(PROGRAM_GROUP);
    deleteProgmanGroup(PROGRAM_GROUP);
    TkCreateGroupEx(PROGRAM_GROUP, 1, 1);
    TkShowGroupEx(PROGRAM_GROUP, 1, 1, 1);

    char utility[MESSAGE_BUFFER_SIZE];
    char command[MESSAGE_BUFFER_SIZE];
    joinOrFail(utility, sizeof utility, "%s\\%s", Setup.InstallRoot, "utility");
    TkCreateGroupItemEx(PROGRAM_GROUP, 1, "Varden Network Printing Help", Setup.HelpFile, Setup.HelpProgram, 1024);
    static const struct {
        LPCSTR Title;
        LPCSTR Program;
    } kUtilities[] = {
        {"Varden Network Printer Setup Wizard", "vrdpswiz.exe"},
        {"Varden Remote Console for Windows", "vrdrcons.exe"},
        {"Varden ORVEL for Windows", "vrdorvel.exe"},
    };
    for (const auto& item : kUtilities) {
        joinOrFail(command, sizeof command, "%s\\%s", utility, item.Program);
        TkCreateGroupItemEx(PROGRAM_GROUP, 1, item.Title, command, command, 1024);
    }
    static const struct {
        LPCSTR Title;
        LPCSTR Document;
    } kDocuments[] = {
        {"READ ME! Release notes for Version 5.1", "qlrrn51.wri"},
        {"Version 5.1 Software Product Description", "sp480907.wri"},
    };
    for (const auto& item : kDocuments) {
        joinOrFail(command, sizeof command, Setup.IsWindows95 ? "%s\\%s" : "WRITE %s\\%s", Setup.InstallRoot,
                   item.Document);
        TkCreateGroupItemEx(PROGRAM_GROUP, 1, item.Title, command, "write.exe", 1024);
    }
    Sleep(2000);
    TkRestoreCursor(cursor);
    TkPopDialogs(1);
}

}  // namespace

void Install(void)
{
    LPCSTR module = NULL;
    getMonitorDllName(&module);
    DRIVER_INFO_2A record;
    memset(&record, 0, sizeof record);
    char driverName[DRIVER_NAME_SIZE];
    char ppdFile[PPD_NAME_SIZE];

    detectMonitor(module);
    prepareDriverFiles(&record.cVersion);
    if (Setup.IsWindows95)
        setModulePaths("vrdpsmw4.dll", "vrdpsmw4.new");
    if (Setup.MonitorInstalled)
        prepareUpgrade();

    TkCopyFiles();
    Sleep(1000);
    registerMonitor(module);
    if (Setup.MonitorInstalled && Setup.IsNT35)
        restartSpooler();

    FillDriverRecord(&record, driverName, ppdFile);
    HCURSOR cursor = TkWaitCursor();
    DriverInstallPage();
    InstallPrinterDrivers(&record);
    if (Setup.IsNT35) {
        static const LPCSTR kModules[] = {"pscript.hlp", "pscript.dll", "pscrptui.dll"};
        char path[MODULE_PATH_SIZE];
        for (LPCSTR file : kModules)
            if (JoinPath(path, sizeof path, Setup.DriverDir, file))
                DeleteFileA(path);
    }
    RenameObsoleteDrivers(&record);
    TkRestoreCursor(cursor);
    TkPopDialogs(1);

    buildProgramGroup();
}
