// Error and status reporting: the non-fatal message box, the two fatal
// reporters with their error page, and the modeless status page.
#include "setup/setup.h"

#include <stdarg.h>
#include <stdio.h>

#include "pages/pages.h"
#include "toolkit/toolkit.h"

#define ERROR_DIALOG 2300
#define STATUS_DIALOG 7804

// One-shot guards: once a fatal report has shown its page, a second entry
// (from a toolkit failure on the way out) ends the process at once.
static BOOL FailureShown;
static BOOL ToolkitErrorShown;

static FatalCleanup PendingCleanup;

void SetFatalCleanup(FatalCleanup cleanup)
{
    PendingCleanup = cleanup;
}

// Takes the pending step once, keeping the last error the caller reports.
static void RunFatalCleanup(void)
{
    FatalCleanup cleanup = PendingCleanup;
    PendingCleanup = NULL;
    if (cleanup == NULL)
        return;
    DWORD error = GetLastError();
    cleanup();
    SetLastError(error);
}

void ShowSetupMessage(LPCSTR caption, LPCSTR format, ...)
{
    char text[MESSAGE_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    MessageBoxA(NULL, text, caption, MB_OK);
}

// Shows the error page (ErrorText already set) until it is left with
// cancel or continue, then pops it.
static void RunErrorPage(LPCSTR text)
{
    char event[TK_EVENT_CAPACITY];
    for (;;) {
        if (text != NULL)
            FSetSymbolValue("ErrorText", text);
        TkRunDialog(TK_DIALOG_LIBRARY, ERROR_DIALOG, "FErrorDlgProc", 0, "", event, sizeof event);
        INT eventClass = ClassifyEvent(event);
        if (eventClass == EVENT_CANCEL || eventClass == EVENT_CONTINUE)
            break;
    }
    TkPopDialogs(1);
}

void FailSetup(LPCSTR format, ...)
{
    char text[MESSAGE_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    NoteOutcome(OUTCOME_FAILED);
    RunFatalCleanup();
    FSetSymbolValue("ErrorText", "Unexpected or Unknown Error");
    if (!FailureShown) {
        FailureShown = TRUE;
        FSetSymbolValue("ErrorText", text);
        TkPopAllDialogs();
        RunErrorPage(NULL);
    }
    TkEndSetup();
    ReportOutcome(OUTCOME_FAILED);
    ExitProcess(0);
}

void ShowToolkitError(INT code)
{
    // A quit message is the user (or Windows) closing setup, not a fault.
    NoteOutcome(code == TK_ERROR_QUIT ? OUTCOME_CANCELLED : OUTCOME_FAILED);
    RunFatalCleanup();
    if (!ToolkitErrorShown) {
        ToolkitErrorShown = TRUE;
        TkPopAllDialogs();
        char text[MESSAGE_BUFFER_SIZE];
        snprintf(text, sizeof text, "Error code = %d", (int)code);
        RunErrorPage(text);
    }
    TkEndSetup();
    ReportOutcome(OUTCOME_FAILED);
    ExitProcess(0);
}

HCURSOR OpenStatusPage(LPCSTR header, LPCSTR message)
{
    HCURSOR previous = TkWaitCursor();
    TkSetSymbol("StatusHeader", header);
    TkSetSymbol("StatusMessage", message);
    char event[TK_EVENT_CAPACITY];
    TkRunDialog(TK_DIALOG_LIBRARY, STATUS_DIALOG, "FStatusDlgProc", 0, "", event, sizeof event);
    return previous;
}

void CloseStatusPage(HCURSOR previousCursor)
{
    TkPopDialogs(1);
    TkRestoreCursor(previousCursor);
}
