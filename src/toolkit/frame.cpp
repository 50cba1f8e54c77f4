// The frame, dialog, symbol and list part of the toolkit access layer.
#include "toolkit/toolkit.h"

#include "setup/setup.h"
#include "toolkit/toolkit_internal.h"

char SourceDir[256];
INT FrameInstance;

// A value that did not fit the caller's buffer: announced, then fatal.
void TkReportOverflow(void)
{
    DoMsgBox("Buffer Overflow", "MS-Setup Error", 16);
    ShowToolkitError(TK_ERROR_FAILED);
}

static BOOL IsEmptyName(LPCSTR name)
{
    return name == NULL || name[0] == '\0';
}

INT TkInitSetup(LPSTR commandLine)
{
    if (FrameInstance > 0)
        return 0;

    INT instance = InitializeFrame(commandLine);
    if (instance == -1)
        return -1;
    if (instance <= 0 || !FInitializeInstall(HinstFrame(), HwndFrame())) {
        TkEndSetup();
        return 0;
    }
    FrameInstance = instance;

    // Critical-error boxes (an empty floppy drive as current directory)
    // would stop an unattended start: fail them silently while reading.
    UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    DWORD length = GetCurrentDirectoryA(sizeof SourceDir - 1, SourceDir);
    SetErrorMode(previousMode);
    if (length == 0 || length >= sizeof SourceDir - 1) {
        // Unreadable or too long: fall back on the current directory as a
        // relative path, which still ends in a backslash.
        lstrcpyA(SourceDir, ".");
    }
    SourceDir[sizeof SourceDir - 1] = '\0';
    OemToCharA(SourceDir, SourceDir);

    int end = lstrlenA(SourceDir);
    if (end == 0 || SourceDir[end - 1] != '\\') {
        // The read capacity leaves room for this one character.
        SourceDir[end] = '\\';
        SourceDir[end + 1] = '\0';
    }
    return FrameInstance;
}

void TkEndSetup(void)
{
    TerminateFrame();
    TerminateInstall();
    UnbindRegistryLibrary();
}

void TkSetFrameBitmap(LPCSTR library, UINT bitmapId)
{
    if (!FSetBitmap(library, bitmapId))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkSetFrameTitle(LPCSTR title)
{
    SetWindowTextA(HwndFrame(), title);
}

void TkOpenInf(LPCSTR path)
{
    if (!FOpenInf(path, TRUE, FALSE))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkPumpMessages(void)
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            ShowToolkitError(TK_ERROR_QUIT);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void TkRunDialog(LPCSTR library, UINT dialogId, LPCSTR procedure, UINT helpId, LPCSTR helpProcedure,
                 LPSTR event, INT eventCapacity)
{
    if (!FDoDialogExt(HwndFrame(), library, dialogId, procedure, library, helpId, helpProcedure))
        ShowToolkitError(TK_ERROR_FAILED);
    TkPumpMessages();
    TkGetSymbol("DLGEVENT", event, eventCapacity);
}

void TkPopDialogs(INT count)
{
    if (!FKillNDialogs(count))
        ShowToolkitError(TK_ERROR_FAILED);
    TkPumpMessages();
}

void TkPopAllDialogs(void)
{
    TkPopDialogs(-1);
}

LPSTR TkGetSymbol(LPCSTR name, LPSTR buffer, INT capacity)
{
    if (IsEmptyName(name))
        ShowToolkitError(TK_ERROR_FAILED);
    INT n = CbGetSymbolValue(name, buffer, capacity);
    if (n >= capacity)
        TkReportOverflow();
    return buffer;
}

void TkSetSymbol(LPCSTR name, LPCSTR text)
{
    if (!FSetSymbolValue(name, text))
        ShowToolkitError(TK_ERROR_FAILED);
}

USHORT TkListLength(LPCSTR list)
{
    if (IsEmptyName(list))
        ShowToolkitError(TK_ERROR_FAILED);
    return UsGetListLength(list);
}

LPSTR TkGetListItem(LPCSTR list, UINT index, LPSTR buffer, INT capacity)
{
    if (IsEmptyName(list))
        ShowToolkitError(TK_ERROR_FAILED);
    if (index < 1 || index > TkListLength(list))
        ShowToolkitError(TK_ERROR_FAILED);
    if (CbGetListItem(list, (USHORT)index, buffer, capacity) >= capacity)
        TkReportOverflow();
    return buffer;
}

void TkAddListItem(LPCSTR list, LPCSTR text)
{
    if (!FAddListItem(list, text))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkSetListItem(LPCSTR list, UINT index, LPCSTR text)
{
    // Indexes beyond the toolkit's 16-bit range can name no item.
    if (index > 0xFFFF || !FReplaceListItem(list, (USHORT)index, text))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkListFromInfKeys(LPCSTR list, LPCSTR section)
{
    if (!FSetSymbolToListOfInfKeys(list, section, TRUE))
        ShowToolkitError(TK_ERROR_FAILED);
}

HCURSOR TkWaitCursor(void)
{
    return HShowWaitCursor();
}

void TkRestoreCursor(HCURSOR previous)
{
    if (!FRestoreCursor(previous))
        ShowToolkitError(TK_ERROR_FAILED);
}
