// The installation-type page: shows the space each kind of installation
// needs, checks the system drive, and sets InstallType and PageDone.
#include "pages/pages.h"

#include <stdio.h>

#include "pages/space.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

void FormatKb(LPSTR buffer, INT size, LPCSTR format, DWORD bytes)
{
    snprintf(buffer, size, format, (unsigned)(bytes >> 10));
}

BOOL HasEnoughSpace(LONG freeBytes, ULONGLONG neededBytes)
{
    return (LONGLONG)freeBytes >= 0 && (ULONGLONG)(LONGLONG)freeBytes >= neededBytes;
}

void ShowSpaceBox(LPCSTR text, LPCSTR title)
{
    MessageBoxA(HwndFrame(), text, title, MB_ICONINFORMATION);
}

void InstallTypePage(void)
{
    char printOnly[32], both[32], other[32];
    FormatKb(printOnly, sizeof printOnly, "%6u Kb", SaturatedSum(Setup.UtilityBytes, Setup.SystemDriveBytes));
    FormatKb(both, sizeof both, "%6u Kb", Setup.SystemDriveBytes);
    FormatKb(other, sizeof other, "%6u Kb", SaturatedSum(Setup.LoadFilesBytes, Setup.UtilityBytes));

    char event[TK_EVENT_CAPACITY];
    for (;;) {
        TkSetSymbol("RadioDefault", "1");
        TkSetSymbol("SysSpacePrintOnlyKb", printOnly);
        TkSetSymbol("SysSpaceBothKb", both);
        TkSetSymbol("SysOtherSpaceKb", other);
        event[0] = '\0';
        TkRunDialog(TK_DIALOG_LIBRARY, 800, "FInstallTypeDlgProc", 7805, "FHelpDlgProc", event, sizeof event);
        INT eventClass = ClassifyEvent(event);
        if (eventClass == EVENT_CANCEL || eventClass == EVENT_EXIT) {
            QuitConfirmPage();
            continue;
        }
        if (eventClass != EVENT_CONTINUE)
            continue;

        char checked[TK_EVENT_CAPACITY];
        checked[0] = '\0';
        TkGetSymbol("ButtonChecked", checked, sizeof checked);
        if (checked[0] == '1') {
            ULONGLONG needed = (ULONGLONG)Setup.UtilityBytes + Setup.SystemDriveBytes;
            if (!HasEnoughSpace(TkDriveFreeBytes(Setup.SystemDir), needed)) {
                ShowSpaceBox(kSystemDriveTooSmall, "Insufficient Disk Space");
                continue;
            }
            Setup.InstallType = INSTALL_SYSTEM_DRIVE;
            Setup.PageDone = 1;
        } else if (checked[0] == '2') {
            if (!HasEnoughSpace(TkDriveFreeBytes(Setup.SystemDir), Setup.SystemDriveBytes)) {
                ShowSpaceBox(kSystemDriveTooSmall, "Insufficient Disk Space");
                continue;
            }
            Setup.InstallType = INSTALL_CHOSEN_DEST;
            Setup.PageDone = 0;
        } else {
            Setup.InstallType = INSTALL_REMOVE;
            Setup.PageDone = 1;
        }
        TkPopDialogs(1);
        return;
    }
}
