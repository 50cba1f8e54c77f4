// The page protocol and the simple pages: welcome, quit confirmation,
// refusal and information pages, restart pages, questions, done pages and
// the modeless spooler pages.
#include "pages/pages.h"

#include "setup/setup.h"
#include "toolkit/toolkit.h"

INT ClassifyEvent(LPCSTR event)
{
    // Each character counts as a signed 8-bit value; an empty word has no
    // second character.
    INT first = (signed char)event[0];
    INT second = first != 0 ? (signed char)event[1] : 0;
    return (first + second) & 0xFFFF;
}

namespace {

// What a page does with one event class.
enum PageAction {
    AGAIN,     // show the page again
    QUIT,      // quit confirmation, then again
    DONE,      // pop the page and return
    END_SETUP, // pop every dialog, end the toolkit, exit code 0
};

struct PageDescription {
    UINT dialog;
    LPCSTR procedure;
    UINT helpDialog;       // 0 = none
    LPCSTR helpProcedure;  // "" or null when there is none
    PageAction onBack, onCancel, onContinue, onExit;
};

const PageDescription kWelcome = {100, "FWelcomeDlgProc", 900, "FHelpDlgProc", AGAIN, QUIT, DONE, QUIT};
const PageDescription kVersionWarning = {2100, "FQuitDlgProc", 0, "", AGAIN, DONE, DONE, END_SETUP};
const PageDescription kNotAdministrator = {2400, "FInfoDlgProc", 0, "", AGAIN, AGAIN, END_SETUP, AGAIN};
const PageDescription kUnsupportedPlatform = {2000, "FInfoDlgProc", 0, "", AGAIN, AGAIN, DONE, AGAIN};
const PageDescription kUpgradeNotice = {1000, "FInfoDlgProc", 0, "", AGAIN, AGAIN, DONE, AGAIN};
const PageDescription kRebootFailed = {1600, "FInfoDlgProc", 0, "", AGAIN, AGAIN, DONE, AGAIN};
const PageDescription kInstallReboot = {1500, "FInfoDlgProc", 0, "", AGAIN, DONE, DONE, AGAIN};
const PageDescription kRemoveReboot = {7803, "FInfoDlgProc", 0, "", AGAIN, DONE, DONE, AGAIN};
const PageDescription kAskWizard = {1200, "FInfoDlgProc", 0, "", AGAIN, DONE, DONE, AGAIN};
const PageDescription kAskHelp = {1400, "FInfoDlgProc", 0, "", AGAIN, DONE, DONE, AGAIN};
const PageDescription kDriverFilesFailedNT = {1300, "FInfoDlgProc", 0, "", AGAIN, QUIT, DONE, QUIT};
const PageDescription kDriverFilesFailed95 = {103, "FInfoDlgProc", 0, "", AGAIN, QUIT, DONE, QUIT};
const PageDescription kInstallDone = {700, "FInfoDlgProc", 0, "", AGAIN, QUIT, DONE, QUIT};
const PageDescription kRemoveDone = {7802, "FInfoDlgProc", 0, "", AGAIN, QUIT, DONE, QUIT};
const PageDescription kPathNotice = {6400, "FInfo0DlgProc", 0, NULL, AGAIN, DONE, DONE, QUIT};

[[noreturn]] void EndSetupNow(void)
{
    TkPopAllDialogs();
    TkEndSetup();
    // Unless the flow already did its work (or refused to), the user quit.
    ReportOutcome(OUTCOME_CANCELLED);
    ExitProcess(0);
}

// Runs a modal page until one of its events finishes it; returns that
// event's class (EVENT_CANCEL or EVENT_CONTINUE, or EVENT_BACK / EVENT_EXIT
// for pages that finish on those). The page is popped before returning.
INT RunModalPage(const PageDescription &page)
{
    char event[TK_EVENT_CAPACITY];
    for (;;) {
        event[0] = '\0';
        TkRunDialog(TK_DIALOG_LIBRARY, page.dialog, page.procedure, page.helpDialog, page.helpProcedure, event,
                    sizeof event);
        INT eventClass = ClassifyEvent(event);
        PageAction action;
        switch (eventClass) {
        case EVENT_BACK: action = page.onBack; break;
        case EVENT_CANCEL: action = page.onCancel; break;
        case EVENT_CONTINUE: action = page.onContinue; break;
        case EVENT_EXIT: action = page.onExit; break;
        default: action = AGAIN; break;
        }
        switch (action) {
        case AGAIN: break;
        case QUIT: QuitConfirmPage(); break;
        case DONE: TkPopDialogs(1); return eventClass;
        case END_SETUP: EndSetupNow();
        }
    }
}

// The two restart pages: continue prepares the restart (or, on Windows 95,
// starts it); when that fails the user is told.
void RunRebootPage(const PageDescription &page)
{
    // Whatever the answer, the work done waits for a restart.
    NoteRestartNeeded();
    if (RunModalPage(page) == EVENT_CONTINUE && !PrepareReboot())
        RebootFailedPage();
}

// The two question pages: the answer is 1 only when the user continued.
void RunQuestionPage(const PageDescription &page, LONG *answer)
{
    *answer = 0;
    if (RunModalPage(page) == EVENT_CONTINUE)
        *answer = 1;
}

void RunModelessPage(UINT dialog)
{
    char event[TK_EVENT_CAPACITY];
    TkRunDialog(TK_DIALOG_LIBRARY, dialog, "FModelessDlgProc", 0, "", event, sizeof event);
}

}  // namespace

void QuitConfirmPage(void)
{
    char event[TK_EVENT_CAPACITY];
    for (;;) {
        event[0] = '\0';
        TkRunDialog(TK_DIALOG_LIBRARY, 200, "FQuitDlgProc", 900, "FHelpDlgProc", event, sizeof event);
        INT eventClass = ClassifyEvent(event);
        if (eventClass == EVENT_CANCEL || eventClass == EVENT_CONTINUE) {
            TkPopDialogs(1);
            return;
        }
        if (eventClass == EVENT_EXIT)
            EndSetupNow();
    }
}

void WelcomePage(void) { RunModalPage(kWelcome); }
void VersionWarningPage(void) { RunModalPage(kVersionWarning); }
void NotAdministratorPage(void) { RunModalPage(kNotAdministrator); }
void UnsupportedPlatformPage(void) { RunModalPage(kUnsupportedPlatform); }
void UpgradeNoticePage(void) { RunModalPage(kUpgradeNotice); }
void RebootFailedPage(void) { RunModalPage(kRebootFailed); }
void InstallRebootPage(void) { RunRebootPage(kInstallReboot); }
void RemoveRebootPage(void) { RunRebootPage(kRemoveReboot); }
void AskWizardPage(LONG *answer) { RunQuestionPage(kAskWizard, answer); }
void AskHelpPage(LONG *answer) { RunQuestionPage(kAskHelp, answer); }
void DriverFilesFailedPage(void) { RunModalPage(Setup.IsWindows95 ? kDriverFilesFailed95 : kDriverFilesFailedNT); }
void InstallDonePage(void) { RunModalPage(kInstallDone); }
void RemoveDonePage(void) { RunModalPage(kRemoveDone); }
void PathNoticePage(void) { RunModalPage(kPathNotice); }

void SpoolerStopPage(void) { RunModelessPage(5100); }
void SpoolerStartPage(void) { RunModelessPage(5300); }
void DriverInstallPage(void) { RunModelessPage(1800); }
void ProgramGroupPage(void) { RunModelessPage(1700); }
