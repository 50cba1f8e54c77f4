/* The setup driver: the process-wide setup state, platform detection, the
   start-up and end of the run, restart preparation, the program starter and
   the reporters every other part uses to talk to the user about trouble and
   progress. */
#pragma once
#include <windows.h>

/* Status values of the print-system, registry-tree and driver-file
   operations. Callers never compare with them: they use stsSucceeded. */
#define STS_DONE 9
#define STS_FAILED 34

/* True when the low three bits of a status are 1 or 3 (STS_DONE has 1,
   STS_FAILED has 2). */
inline BOOL stsSucceeded(DWORD status)
{
    DWORD low = status & 7;
    return low == 1 || low == 3;
}

/* Values of SetupState.InstallType (2 is never used). */
#define INSTALL_CHOSEN_DEST 1  /* destination chosen on the path page; all sections incl. Load */
#define INSTALL_SYSTEM_DRIVE 3 /* default root on the system drive; no Load sections */
#define INSTALL_REMOVE 4       /* remove the package */

/* Sizes of the fixed text buffers. */
#define SOURCE_DIR_SIZE 256
#define PATH_BUFFER_SIZE 512
#define PATH_LIMIT 509 /* capacity handed to the calls that fill the 512-byte paths */
#define MESSAGE_BUFFER_SIZE 1024

/* Which Windows the program runs on and on which processor. Exactly one of
   IsAlpha, IsMips, IsX86 is set once start-up has read the architecture. */
struct PlatformFlags {
    BOOL IsWindows95; /* Windows 95 */
    BOOL IsNT31;      /* Windows NT 3.1x */
    BOOL IsNT35;      /* NT 3.50 build 807+ or NT 3.51 build 1057+ */
    BOOL IsAlpha;
    BOOL IsMips;
    BOOL IsX86;
};

/* The process-wide record of one setup run; zeroed at program start. The
   source directory itself is the toolkit layer's SourceDir (toolkit.h). */
struct SetupState : PlatformFlags {
    char CopySourceDir[SOURCE_DIR_SIZE]; /* source of every copy-list section */
    char SystemDir[PATH_BUFFER_SIZE];    /* Windows system directory */
    char WindowsDir[PATH_BUFFER_SIZE];   /* Windows directory, no trailing backslash */
    char DriverDir[PATH_BUFFER_SIZE];    /* local printer-driver directory (level 1) */
    char InstallRoot[PATH_BUFFER_SIZE];  /* installation root */
    const char *HelpProgram;             /* "winhelp.exe" (95) or "winhlp32.exe" (NT) */
    const char *HelpFile;                /* "vrdpsmw4.hlp" (95) or "vrdpsmon.hlp" (NT) */
    DWORD SystemDriveBytes;              /* "PPD Files", help file and monitor sections */
    DWORD UtilityBytes;                  /* "Write Files" and the utility sections */
    DWORD LoadFilesBytes;                /* the three Load sections */
    LONG PageDone;                       /* ends the installation-type loop */
    LONG InstallType;                    /* INSTALL_CHOSEN_DEST, INSTALL_SYSTEM_DRIVE or INSTALL_REMOVE */
    char MessageBuffer[MESSAGE_BUFFER_SIZE]; /* where two-piece fatal messages are joined */
    BOOL MonitorInstalled;               /* the print monitor is registered with the spooler */
    BOOL RebootPending;                  /* a restart was prepared; WinMain requests it at the end */
};

/* In a GoogleTest body write ::Setup (the fixture has a member Setup). */
extern SetupState Setup;

/* The whole setup run. Returns the exit code: 0, or 1 when the removal
   flow stops early. Fatal errors end the process from the reporters. */
extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

/* Platform tests on the GetVersion word. DetectNT35 shows the version
   warning page first for an NT newer than 3.51 (its exit button ends
   setup). Each returns 1 or 0. */
BOOL DetectWindows95(void);
BOOL DetectNT35(void);
BOOL DetectNT31(void);

/* Windows 95: restarts at once (1 when ExitWindowsEx accepted it). NT:
   enables SeShutdownPrivilege and sets Setup.RebootPending; WinMain
   requests the restart after the toolkit has ended. 0 on any failure. */
BOOL PrepareReboot(void);

/* Starts a program with the given command line in the given working
   directory, shown normally, and does not wait for it: the process and
   thread handles are closed at once. Returns the result of CreateProcessA;
   a command line of 1024 characters or more is not started (FALSE,
   ERROR_INVALID_PARAMETER). */
BOOL StartProgram(LPCSTR commandLine, LPCSTR workingDir);

/* The installation flow for InstallType 1 and 3: Files record (type 1),
   copy list, install sequence, version record, closing pages, and the
   wizard and help viewer when asked for. */
void RunInstallationFlow(void);

/* --- Reporters ----------------------------------------------------------- */

/* Non-fatal message box without owner: printf-style text (formatted with
   wvsprintfA into 1024 bytes), the caption names the operation. */
void ShowSetupMessage(LPCSTR caption, LPCSTR format, ...);

/* Fatal report of the program's own failures: shows the error page with the
   formatted text (once per process; a second call skips the page), ends
   the toolkit and the process with exit code 0. Never returns. */
[[noreturn]] void FailSetup(LPCSTR format, ...);

/* Fatal report of the toolkit access layer: error page with
   "Error code = <code>" (once per process), ends the toolkit and the
   process with exit code 0. Codes: 1024 a toolkit call failed or a value
   did not fit, 1025 a quit. Never returns. */
#define TK_ERROR_FAILED 1024
#define TK_ERROR_QUIT 1025
[[noreturn]] void ShowToolkitError(INT code);

/* A step to take before a fatal reporter ends setup: the install sequence
   uses it to start the spooler it stopped. Run at most once, at the entry
   of FailSetup or ShowToolkitError, before the error page; null clears it.
   The last error is kept across it. */
typedef void (*FatalCleanup)(void);
void SetFatalCleanup(FatalCleanup cleanup);

/* Modeless status page with a header and a message under the wait cursor.
   Returns the cursor that was current before; CloseStatusPage pops the
   page and restores that cursor. */
HCURSOR OpenStatusPage(LPCSTR header, LPCSTR message);
void CloseStatusPage(HCURSOR previousCursor);

/* --- Outcome ---------------------------------------------------------------- */

/* What the run did, as the log's result line and the closing line say it.
   The flows note what they have done once the work is over (a quit on a
   closing page does not undo it); the exit paths report it to the toolkit
   with a fallback for a run that noted nothing. */
enum Outcome {
    OUTCOME_NONE,
    OUTCOME_INSTALLED,
    OUTCOME_UPGRADED,
    OUTCOME_REMOVED,
    OUTCOME_NOTHING,   /* removal found nothing installed */
    OUTCOME_CANCELLED, /* the user quit */
    OUTCOME_REFUSED,   /* not an administrator, or a Windows setup does not serve */
    OUTCOME_FAILED,
};
/* Forgets what was noted (start-up). */
void BeginOutcome(void);
/* A later note replaces an earlier one. */
void NoteOutcome(Outcome outcome);
/* The restart the run leaves: needed (asked for and declined or failed,
   or work scheduled for the next start: a pending rename or deletion, a
   wininit.ini line) or requested (Windows was told to restart). Requested
   wins over needed. */
void NoteRestartNeeded(void);
void NoteRestartRequested(void);
/* Hands the outcome to the toolkit's log (KitSetResult): the noted one,
   else `fallback`. */
void ReportOutcome(Outcome fallback);
