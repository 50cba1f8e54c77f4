/* The setup toolkit: frame window, dialog stack, symbols and lists, INF
   reading, copy list and copy engine, detection, INI files, Program Manager.
   Written against Win32 only, so it runs on Windows and on the simulated
   machine alike. Result prefixes: F success flag, Cb byte count (not below
   the caller's capacity = did not fit), Lcb 32-bit byte count, Us 16-bit
   count, Grc copy result code, Ynrc file-operation result, H handle. */
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Copy-engine result codes */
#define grcOkay 0
#define grcNotOkay 1
#define grcUserQuit 48

/* Frame and install engine. InitializeFrame parses the front-end options
   (--answers, --record, --log, --help, --version) from the command line:
   > 0 frame instance, 0 failure, -1 stop (help or version was shown). */
INT WINAPI InitializeFrame(LPSTR szCmdLine);
BOOL WINAPI FInitializeInstall(HINSTANCE hinst, HWND hwndFrame);
HWND WINAPI HwndFrame(void);
HINSTANCE WINAPI HinstFrame(void);
BOOL WINAPI FSetBitmap(LPCSTR szDll, UINT idBitmap);
void WINAPI TerminateFrame(void);
void WINAPI TerminateInstall(void);

/* Dialog stack. Modeless pages return at once; modal pages return when the
   user (or the answers file) chose an event, left in the symbol DLGEVENT. */
BOOL WINAPI FDoDialogExt(HWND hwndParent, LPCSTR szDll, UINT idDlg, LPCSTR szDlgProc, LPCSTR szHelpDll,
                         UINT idHelp, LPCSTR szHelpProc);
BOOL WINAPI FKillNDialogs(INT n); /* n = -1: all */

/* Symbols and lists (items indexed from 1). */
INT WINAPI CbGetSymbolValue(LPCSTR szSymbol, LPSTR szBuf, INT cbMax);
BOOL WINAPI FSetSymbolValue(LPCSTR szSymbol, LPCSTR szValue);
USHORT WINAPI UsGetListLength(LPCSTR szList);
INT WINAPI CbGetListItem(LPCSTR szList, USHORT nItem, LPSTR szBuf, INT cbMax);
BOOL WINAPI FAddListItem(LPCSTR szList, LPCSTR szItem);
BOOL WINAPI FReplaceListItem(LPCSTR szList, USHORT nItem, LPCSTR szItem);
BOOL WINAPI FSetSymbolToListOfInfKeys(LPCSTR szList, LPCSTR szSection, BOOL fNulls);

/* INF file: field 1 is the file name, field 15 the size in bytes.
   CbGetInfSectionKeyField returns -1 when the section or key is missing. */
BOOL WINAPI FOpenInf(LPCSTR szFile, BOOL fLogFile, BOOL fSetupAll);
INT WINAPI CbGetInfSectionKeyField(LPCSTR szSection, LPCSTR szKey, USHORT iField, LPSTR szBuf, INT cbMax);

/* Copy list and engine. */
BOOL WINAPI FAddSectionFilesToCopyList(LPCSTR szSection, LPCSTR szSrcDir, LPCSTR szDestDir);
INT WINAPI GrcCopyFilesInCopyList(HINSTANCE hInstance);
BOOL WINAPI ResetCopyList(void);

/* Files, directories, INI files. */
BOOL WINAPI FCreateDir(LPCSTR szDir, INT cmo);
/* File-operation results: removed (or not there), left in place because
   it is in use or protected, failed. */
#define ynrcErr 0
#define ynrcYes 1
#define ynrcNo 2
INT WINAPI YnrcRemoveFile(LPCSTR szFullPath, INT cmo);
BOOL WINAPI FCreateSysIniKeyValue(LPCSTR szFile, LPCSTR szSection, LPCSTR szKey, LPCSTR szValue, INT cmo);

/* Program Manager groups and items. */
BOOL WINAPI FCreateProgManGroupEx(LPCSTR szGroup, INT a, INT cmo);
BOOL WINAPI FShowProgManGroupEx(LPCSTR szGroup, INT a, LPCSTR szShowCmd, INT cmo);
BOOL WINAPI FCreateProgManItemEx(LPCSTR szGroup, INT a, LPCSTR szItem, LPCSTR szCmdLine, INT cmo);

/* Cursor and message box. */
HCURSOR WINAPI HShowWaitCursor(void);
BOOL WINAPI FRestoreCursor(HCURSOR hcurPrev);
void WINAPI DoMsgBox(LPCSTR szText, LPCSTR szCaption, UINT fuStyle);

/* Detection. Drives are numbered A = 1 .. Z = 26. */
BOOL WINAPI FDoesFileExist(LPCSTR szFile, INT mode);
BOOL WINAPI FDirExists(LPCSTR szDir);
BOOL WINAPI FValidPath(LPCSTR szPath);
BOOL WINAPI FValidDir(LPCSTR szDir);
BOOL WINAPI FIsValidDrive(INT nDrive);
LONG WINAPI LcbFreeDrive(INT nDrive);
BOOL WINAPI FGetLocalHardDrivesList(LPCSTR szList);

/* Hooks for the host that runs the program (the Linux host of the
   simulated machine) and for tests. */
/* Answers a message box through the active front-end and logs it
   ("box <caption>: <text>"); returns the button chosen (IDOK, ...). */
int WINAPI KitMessageBox(LPCSTR szText, LPCSTR szCaption, UINT uType);
/* TRUE: MessageBoxA reaches KitMessageBox (the host connected them), so the
   kit shows its own boxes with MessageBoxA. FALSE (default): the kit hands
   its boxes to the front-end directly. */
void WINAPI KitRouteMessageBoxes(BOOL fViaMessageBoxA);
/* Log lines for what the machine reports: kind "program" (text = command
   line) and "reboot"; kind "left" (text = "<what>: <reason>", what a
   removal leaves behind) goes to the log and the console; other kinds are
   ignored. */
void WINAPI KitLogEvent(LPCSTR szKind, LPCSTR szText);
/* What the run did, told by the program before it ends: szOutcome is one
   of "installed", "upgraded", "removed", "nothing", "cancelled", "refused",
   "failed"; szRestart one of "no", "needed", "requested". A later call
   replaces an earlier one. KitLogExit writes it as the log's result line. */
void WINAPI KitSetResult(LPCSTR szOutcome, LPCSTR szRestart);
/* Ends the run's record once (later calls do nothing): the line
   "result <outcome> restart=<restart>" (without a KitSetResult: "failed"
   for a code other than 0, else "nothing", and "no"), then "exit <code>",
   in the log, which is then closed; an interactive or unattended run also
   ends its output with one line saying what happened and the code. */
void WINAPI KitLogExit(UINT uCode);
/* The code the process ends with for the program's code uCode: uCode
   itself, or with --deploy-exit-codes the deployment code of the result
   (0, 3010, 1641, 1602, 1603). The log's exit line and the closing line
   give this code. */
UINT WINAPI KitExitCode(UINT uCode);
/* A word of the host on the whole run, put in brackets into the closing
   line (for a dry run: nothing was saved). */
void WINAPI KitSetClosingNote(LPCSTR szNote);
/* Called when the user stops the run at once (a second Ctrl-C): the host
   drops what the run changed, so the machine stays as it was. The kit
   then writes the result and exit lines itself and ends the process with
   code 130. */
typedef void (WINAPI *KITABANDONPROC)(void);
void WINAPI KitSetAbandonHandler(KITABANDONPROC pfnAbandon);
/* The front-end options, one per line, for --help texts. */
LPCSTR WINAPI KitUsage(void);
/* Forgets every symbol, the INF, the copy list, the dialog stack, the
   front-end and the log: the kit as before InitializeFrame. */
void WINAPI KitReset(void);

#ifdef __cplusplus
}
#endif
