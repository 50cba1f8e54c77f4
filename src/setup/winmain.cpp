// The setup run: start-up, platform detection, the environment of the
// setup state, the installation-type loop and the end steps; restart
// preparation and the program starter.
#include "setup/setup.h"

#include <stdio.h>
#include <string.h>
#include <winspool.h>

#include "install/copylist.h"
#include "pages/pages.h"
#include "setup/deinstall.h"
#include "toolkit/toolkit.h"

#include "printsys/printsys.h"
#include "sysutil/admin.h"

SetupState Setup;

#define SPOOLER_START_DIALOG 5300

/* --- Platform tests ------------------------------------------------------- */

BOOL DetectWindows95(void)
{
    return (GetVersion() & 0x80000000u) != 0;
}

BOOL DetectNT35(void)
{
    DWORD version = GetVersion();
    DWORD major = version & 0xFF;
    DWORD minor = (version >> 8) & 0xFF;
    DWORD build = (version >> 16) & 0x0FFF;
    if ((version & 0x80000000u) != 0 || major < 3 || minor < 50)
        return FALSE;
    if (major > 3 || minor > 51)
        VersionWarningPage();
    if (minor == 50)
        return build >= 807;
    if (minor == 51)
        return build >= 1057;
    return FALSE;
}

BOOL DetectNT31(void)
{
    DWORD version = GetVersion();
    if ((version & 0x80000000u) != 0 || (version & 0xFF) != 3)
        return FALSE;
    // Only the first decimal digit of the minor version counts: 1, 10..19
    // and 100..199 are all NT 3.1x.
    char digits[8];
    snprintf(digits, sizeof digits, "%u", (unsigned)((version >> 8) & 0xFF));
    return digits[0] == '1';
}

/* --- Restart and program start ------------------------------------------ */

BOOL PrepareReboot(void)
{
    if (Setup.IsWindows95) {
        if (!ExitWindowsEx(EWX_REBOOT, 0))
            return FALSE;
        NoteRestartRequested();
        return TRUE;
    }

    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return FALSE;
    TOKEN_PRIVILEGES privileges;
    memset(&privileges, 0, sizeof privileges);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL ok = LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
    if (!ok)
        return FALSE;
    Setup.RebootPending = TRUE;
    return TRUE;
}

BOOL StartProgram(LPCSTR commandLine, LPCSTR workingDir)
{
    // CreateProcessA may write into the command line: hand it a copy.
    char command[1024];
    if (lstrlenA(commandLine) >= (int)sizeof command) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lstrcpyA(command, commandLine);

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    BOOL started = CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, workingDir, &startup, &process);
    // Setup does not wait for the program: its handles are not needed.
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return started;
}

/* --- Start-up steps ------------------------------------------------------ */

// Reads %PROCESSOR_ARCHITECTURE% (NT only) and sets exactly one of the
// three processor flags.
static void DetectProcessor(void)
{
    char value[16];
    value[0] = '\0';
    DWORD length = ExpandEnvironmentStringsA("%PROCESSOR_ARCHITECTURE%", value, sizeof value);
    if (length == 0)
        FailSetup("Couldn't expand env string, error = %d", (int)GetLastError());
    Setup.IsAlpha = FALSE;
    Setup.IsMips = FALSE;
    Setup.IsX86 = FALSE;
    // A value that does not fit (an unset variable stays unexpanded and
    // does not fit either) counts as x86.
    if (length > sizeof value) {
        Setup.IsX86 = TRUE;
        return;
    }
    value[sizeof value - 1] = '\0';
    CharLowerA(value);
    if (lstrcmpA(value, "alpha") == 0)
        Setup.IsAlpha = TRUE;
    else if (lstrcmpA(value, "mips") == 0)
        Setup.IsMips = TRUE;
    else
        Setup.IsX86 = TRUE;
}

// System, Windows and printer-driver directories and the default root.
static void FillDirectories(void)
{
    UINT length = GetSystemDirectoryA(Setup.SystemDir, PATH_LIMIT);
    if (length == 0 || length > PATH_LIMIT)
        FailSetup("System path string too small");
    length = GetWindowsDirectoryA(Setup.WindowsDir, PATH_LIMIT);
    if (length == 0 || length > PATH_LIMIT)
        FailSetup("Windows path string too small");
    int end = lstrlenA(Setup.WindowsDir);
    if (end > 0 && Setup.WindowsDir[end - 1] == '\\')
        Setup.WindowsDir[end - 1] = '\0';
}

static void FillDriverDirectory(void)
{
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(NULL, NULL, 1, (LPBYTE)Setup.DriverDir, PATH_LIMIT, &needed))
        FailSetup("PPD path string too small");
    Setup.DriverDir[PATH_BUFFER_SIZE - 1] = '\0';
}

static void FillInstallRoot(void)
{
    // Drive, colon and backslash of the system directory.
    snprintf(Setup.InstallRoot, sizeof Setup.InstallRoot, "%.3swin32app\\vrdpsmon", Setup.SystemDir);
}

// NT 3.5x: the spooler must run before anything is installed or removed.
static void EnsureSpoolerRunning(void)
{
    if (isSpoolerRunning())
        return;
    HCURSOR previous = TkWaitCursor();
    SpoolerStartPage();
    if (!stsSucceeded(startSpooler(NULL)))
        FailSetup("startSpooler failed, error = %d", (int)GetLastError());
    TkRestoreCursor(previous);
    TkPopDialogs(1);
}

// End steps: release the registry binding, end the toolkit, and request
// the restart that PrepareReboot prepared on NT.
static int EndSetup(void)
{
    UnbindRegistryLibrary();
    TkEndSetup();
    if (Setup.RebootPending) {
        if (ExitWindowsEx(EWX_REBOOT, 0)) {
            NoteRestartRequested();
        } else {
            NoteRestartNeeded();
            MessageBoxA(NULL, "Unable to reboot automatically.  Please reboot manually.", "Reboot Required",
                        MB_ICONWARNING);
        }
    }
    ReportOutcome(OUTCOME_NOTHING);
    return 0;
}

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    if (TkInitSetup(lpCmdLine) <= 0)
        return 0;
    BeginOutcome();
    ShowWindow(HwndFrame(), SW_SHOWMAXIMIZED);
    if (!BindRegistryLibrary()) {
        TkEndSetup();
        ReportOutcome(OUTCOME_FAILED);
        return 0;
    }
    TkSetFrameBitmap(TK_DIALOG_LIBRARY, 1);
    TkSetFrameTitle("Varden Network Printing Setup");
    TkOpenInf(TkJoin2(SourceDir, "setup.inf"));

    WelcomePage();

    Setup.IsWindows95 = DetectWindows95();
    Setup.IsNT35 = DetectNT35();
    Setup.IsNT31 = DetectNT31();

    if (!Setup.IsWindows95 && !isUserAdmin()) {
        NoteOutcome(OUTCOME_REFUSED);
        NotAdministratorPage();
    }

    if (Setup.IsWindows95) {
        Setup.IsX86 = TRUE;
        Setup.IsAlpha = FALSE;
        Setup.IsMips = FALSE;
        Setup.HelpProgram = "winhelp.exe";
        Setup.HelpFile = "vrdpsmw4.hlp";
    } else {
        Setup.HelpProgram = "winhlp32.exe";
        Setup.HelpFile = "vrdpsmon.hlp";
        DetectProcessor();
    }

    if (!Setup.IsWindows95 && !Setup.IsNT35 && !Setup.IsNT31) {
        NoteOutcome(OUTCOME_REFUSED);
        UnsupportedPlatformPage();
        return EndSetup();
    }

    lstrcpyA(Setup.CopySourceDir, SourceDir);
    FillDirectories();
    if (Setup.IsNT35)
        EnsureSpoolerRunning();
    FillDriverDirectory();
    FillInstallRoot();
    ComputeSectionSizes();

    Setup.PageDone = 0;
    while (Setup.PageDone == 0) {
        InstallTypePage();
        if (Setup.InstallType == INSTALL_CHOSEN_DEST)
            DestinationPathPage();
    }

    if (Setup.InstallType == INSTALL_REMOVE) {
        // Printers that cannot be listed end the run at once with 1.
        if (DeinstallFlow() != 0) {
            NoteOutcome(OUTCOME_FAILED);
            ReportOutcome(OUTCOME_FAILED);
            return 1;
        }
        return EndSetup();
    }
    RunInstallationFlow();
    return EndSetup();
}
