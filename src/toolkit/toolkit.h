/* The program's access layer over the setup toolkit (setupkit.h): one
   operation per toolkit call. Failure rule for every operation that does
   not say otherwise: when the toolkit reports failure (a false result, a
   missing INF field, an invalid name or index) the operation does not
   return; it ends setup through ShowToolkitError with code 1024. A value
   that does not fit the caller's buffer is first announced with the box
   "Buffer Overflow" (caption "MS-Setup Error") where noted. A WM_QUIT met
   while messages are pumped, or a copy result of 48, ends setup with 1025.
   Callers therefore never test these operations for failure. */
#pragma once
#include <windows.h>

#include "setupkit.h"

/* The dialog library every page comes from. */
#define TK_DIALOG_LIBRARY "mscuistf.dll"
/* Capacity of the buffer the page event (DLGEVENT) is read into. */
#define TK_EVENT_CAPACITY 15

/* The current directory at start-up (OEM converted to ANSI), ending in a
   backslash; empty until TkInitSetup has succeeded. */
extern char SourceDir[256];
/* The positive frame instance once TkInitSetup has succeeded, else 0. */
extern INT FrameInstance;

/* --- Start, end and frame ------------------------------------------------ */

/* Starts the frame and the install engine with the command line and records
   SourceDir. Returns FrameInstance (> 0), 0 when already started or on
   failure (the toolkit is then ended), -1 when the frame asked to stop
   (help or version shown; nothing is torn down). Never ends the process. */
INT TkInitSetup(LPSTR commandLine);
/* TerminateFrame, TerminateInstall, UnbindRegistryLibrary; never fails. */
void TkEndSetup(void);
void TkSetFrameBitmap(LPCSTR library, UINT bitmapId);
void TkSetFrameTitle(LPCSTR title); /* SetWindowTextA on the frame; result ignored */
void TkOpenInf(LPCSTR path);

/* --- Dialogs and messages ------------------------------------------------ */

/* Runs a page (help page from the same library; helpId 0 = none), pumps
   messages and reads DLGEVENT into event (capacity, overflow = 1024 with
   the box). The page stays on the stack until popped. */
void TkRunDialog(LPCSTR library, UINT dialogId, LPCSTR procedure, UINT helpId, LPCSTR helpProcedure,
                 LPSTR event, INT eventCapacity);
void TkPopDialogs(INT count); /* closes count dialogs, then pumps messages */
void TkPopAllDialogs(void);
/* Dispatches every waiting message without blocking; WM_QUIT ends setup
   with 1025. */
void TkPumpMessages(void);

/* --- Symbols, lists and cursor ------------------------------------------- */

/* Reads a symbol; a value of capacity bytes or more is an overflow (box,
   then 1024). Returns buffer. */
LPSTR TkGetSymbol(LPCSTR name, LPSTR buffer, INT capacity);
void TkSetSymbol(LPCSTR name, LPCSTR text);
USHORT TkListLength(LPCSTR list);
/* Reads item index (from 1); index outside 1..length is 1024; overflow as
   TkGetSymbol. Returns buffer. */
LPSTR TkGetListItem(LPCSTR list, UINT index, LPSTR buffer, INT capacity);
void TkAddListItem(LPCSTR list, LPCSTR text);
void TkSetListItem(LPCSTR list, UINT index, LPCSTR text);
void TkListFromInfKeys(LPCSTR list, LPCSTR section); /* list = the section's keys, INF order */
HCURSOR TkWaitCursor(void);                          /* previous cursor; never fails */
void TkRestoreCursor(HCURSOR previous);

/* --- INF, copy list, files, INI, Program Manager ------------------------- */

/* Field 1 of a key's line into buffer; overflow (box first) or a missing
   section or key is 1024. Returns buffer. */
LPSTR TkReadInfField(LPCSTR section, LPCSTR key, LPSTR buffer, INT capacity);
/* Field 15 of a key's line (128-byte buffer) as a base-10 number: leading
   blanks, optional sign, digits up to the first non-digit, 0 when none;
   clamped to the 32-bit range. */
LONG TkReadInfNumber(LPCSTR section, LPCSTR key);
void TkCreateDir(LPCSTR path, INT mode);
void TkCreateSysIniKeyValue(LPCSTR iniPath, LPCSTR section, LPCSTR key, LPCSTR value, INT mode);
void TkCreateGroupEx(LPCSTR group, INT a, INT b);
void TkShowGroupEx(LPCSTR group, INT a, INT showCommand, INT b);
/* Item text = title + "," + extraText when extraText is present and not
   empty, else the title. */
void TkCreateGroupItemEx(LPCSTR group, INT a, LPCSTR title, LPCSTR commandLine, LPCSTR extraText, INT options);
BOOL TkResetCopyList(void); /* result passed back, not tested */
void TkAddSectionFiles(LPCSTR section, LPCSTR sourceDir, LPCSTR targetDir);
/* Runs the copy engine: 48 ends setup with 1025, any other positive result
   with 1024; 0 and negative results return. */
void TkCopyFiles(void);
void TkRemoveFile(LPCSTR path, INT mode);
/* Join two or three texts into a process-wide buffer of 512 (TkJoin2) or
   768 (TkJoin3) bytes, overwritten by the next call of the same join. A
   result that does not fit is an overflow (box, then 1024). */
LPSTR TkJoin2(LPCSTR a, LPCSTR b);
LPSTR TkJoin3(LPCSTR a, LPCSTR b, LPCSTR c);

/* --- Detection ----------------------------------------------------------- */

/* Drive numbers: upper-cased first character of the path minus 64 (A = 1). */
/* Upper-cases the first character of path in place; true when the toolkit
   says the drive is valid. */
BOOL TkIsValidDrive(LPSTR path);
LONG TkDriveFreeBytes(LPCSTR path); /* the caller's text is left unchanged */
void TkListLocalHardDrives(LPCSTR list);
BOOL TkFileExists(LPCSTR path, INT mode); /* 0 for a text that is not a valid path */
BOOL TkDirExists(LPCSTR path);

/* --- Registry library binding -------------------------------------------- */

/* ADVAPI32.DLL loaded at run time, null when unbound, and its registry
   functions. The first six are required; the other six may stay null. */
extern HMODULE RegistryLibrary;
extern decltype(&RegCloseKey) pfnRegCloseKey;
extern decltype(&RegCreateKeyA) pfnRegCreateKeyA;
extern decltype(&RegDeleteKeyA) pfnRegDeleteKeyA;
extern decltype(&RegOpenKeyA) pfnRegOpenKeyA;
extern decltype(&RegQueryValueA) pfnRegQueryValueA;
extern decltype(&RegSetValueA) pfnRegSetValueA;
extern decltype(&RegCreateKeyExA) pfnRegCreateKeyExA;
extern decltype(&RegOpenKeyExA) pfnRegOpenKeyExA;
extern decltype(&RegQueryValueExA) pfnRegQueryValueExA;
extern decltype(&RegSetValueExA) pfnRegSetValueExA;
extern decltype(&RegEnumKeyA) pfnRegEnumKeyA;
extern decltype(&RegQueryInfoKeyA) pfnRegQueryInfoKeyA;

/* 1 when ADVAPI32.DLL and the six required functions were found; 0
   otherwise, with the library released. */
BOOL BindRegistryLibrary(void);
/* Frees the library when loaded; a second call does nothing. */
void UnbindRegistryLibrary(void);
