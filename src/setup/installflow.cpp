// The installation flow: where the package goes, the copy list, the install
// sequence, the version record and the closing pages, then the wizard and
// the help viewer when the user asked for them.
#include "setup/setup.h"

#include <stdio.h>

#include "install/copylist.h"
#include "install/install.h"
#include "install/records.h"
#include "pages/pages.h"
#include "toolkit/toolkit.h"

#define COMMAND_LINE_SIZE 1024

// Formats into a 1024-character buffer; FALSE when the text does not fit,
// in which case the program is not started.
static BOOL formatCommand(LPSTR out, LPCSTR format, LPCSTR a, LPCSTR b, LPCSTR c)
{
    int n = snprintf(out, COMMAND_LINE_SIZE, format, a, b, c);
    return n >= 0 && n < COMMAND_LINE_SIZE;
}

// Upgrade on NT 3.1x or Windows 95: the new monitor takes effect after a
// restart, which the restart page offers.
static void UpgradeClosingPages(void)
{
    UpgradeNoticePage();
    InstallRebootPage();
    if (!Setup.RebootPending)
        InstallDonePage();
}

static void ClosingPagesAndPrograms(void)
{
    LONG runWizard = 0;
    LONG showHelp = 0;
    AskWizardPage(&runWizard);
    AskHelpPage(&showHelp);
    InstallDonePage();

    char commandLine[COMMAND_LINE_SIZE];
    char workingDir[COMMAND_LINE_SIZE];
    // A program that cannot be started is passed over without a message.
    if (runWizard && formatCommand(commandLine, "%s\\%s\\%s", Setup.InstallRoot, "utility", "vrdpswiz.exe") &&
        formatCommand(workingDir, "%s\\%s%s", Setup.InstallRoot, "utility", ""))
        StartProgram(commandLine, workingDir);
    if (showHelp && formatCommand(commandLine, "%s %s%s", Setup.HelpProgram, Setup.HelpFile, ""))
        StartProgram(commandLine, Setup.SystemDir);
}

void RunInstallationFlow(void)
{
    if (Setup.InstallType == INSTALL_CHOSEN_DEST)
        SetFilesKeyInfo(FILES_KEY_PATH, Setup.InstallRoot);

    HCURSOR cursor = TkWaitCursor();
    BuildCopyList();
    TkRestoreCursor(cursor);

    Install();
    SetVersionInfo(VERSION_KEY_PATH);
    NoteOutcome(Setup.MonitorInstalled ? OUTCOME_UPGRADED : OUTCOME_INSTALLED);

    if ((Setup.IsNT31 || Setup.IsWindows95) && Setup.MonitorInstalled)
        UpgradeClosingPages();
    else
        ClosingPagesAndPrograms();
}
