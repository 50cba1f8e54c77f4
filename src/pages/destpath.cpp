// The destination-path page (where the package goes when the user chooses
// it) and the distribution-path page (where the Windows distribution files
// are).
#include "pages/pages.h"

#include <stdio.h>
#include <string.h>

#include "pages/space.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

#define DRIVES_LIST "Disk Drives"
#define SPACE_LIST "Available Space"

// Fills the drive list and its matching free-space list.
static void FillDriveLists(void)
{
    TkSetSymbol(SPACE_LIST, "");
    TkListLocalHardDrives(DRIVES_LIST);
    USHORT count = UsGetListLength(DRIVES_LIST);
    for (USHORT i = 1; i <= count && i != 0; ++i) {
        char item[8];
        item[0] = '\0';
        CbGetListItem(DRIVES_LIST, i, item, sizeof item);
        item[sizeof item - 1] = '\0';

        // Signed division: truncation toward zero.
        char space[32];
        snprintf(space, sizeof space, "%9u Kb", (unsigned)(TkDriveFreeBytes(item) / 1024));
        TkAddListItem(SPACE_LIST, space);

        char drive[2] = {item[0], '\0'};
        CharLowerA(drive);
        char label[16];
        snprintf(label, sizeof label, "[-%c-]", drive[0]);
        TkSetListItem(DRIVES_LIST, i, label);
    }
}

void DestinationPathPage(void)
{
    FillDriveLists();

    char text[32];
    char drive[2] = {Setup.InstallRoot[0], '\0'};
    CharLowerA(drive);
    snprintf(text, sizeof text, "[-%c-]", drive[0]);
    TkSetSymbol("SysDisk", text);
    ULONGLONG otherNeeded = (ULONGLONG)Setup.LoadFilesBytes + Setup.UtilityBytes;
    ULONGLONG allNeeded = otherNeeded + Setup.SystemDriveBytes;
    FormatKb(text, sizeof text, "%6u Kb", SaturatedSum(SaturatedSum(Setup.LoadFilesBytes, Setup.UtilityBytes), Setup.SystemDriveBytes));
    TkSetSymbol("SysSpaceNeeded", text);
    FormatKb(text, sizeof text, "%6u Kb", SaturatedSum(Setup.LoadFilesBytes, Setup.UtilityBytes));
    TkSetSymbol("OtherSpaceNeeded", text);

    char event[TK_EVENT_CAPACITY];
    for (;;) {
        TkSetSymbol("EditTextIn", Setup.InstallRoot);
        TkSetSymbol("EditFocus", "ALL");
        event[0] = '\0';
        TkRunDialog(TK_DIALOG_LIBRARY, 300, "FChoosePathDlgProc", 7805, "FHelpDlgProc", event, sizeof event);
        INT eventClass = ClassifyEvent(event);
        if (eventClass == EVENT_BACK) {
            Setup.PageDone = 0;
            TkPopDialogs(1);
            return;
        }
        if (eventClass == EVENT_CANCEL || eventClass == EVENT_EXIT) {
            Setup.PageDone = 0;
            QuitConfirmPage();
            continue;
        }
        if (eventClass != EVENT_CONTINUE)
            continue;

        Setup.PageDone = 1;
        char path[PATH_BUFFER_SIZE];
        path[0] = '\0';
        TkGetSymbol("EditTextOut", path, PATH_LIMIT);

        if (!TkIsValidDrive(path)) {
            Setup.PageDone = 0;
            ShowSpaceBox("The drive specified is invalid.", "Setup Message");
            continue;
        }
        if (path[0] == Setup.SystemDir[0]) {
            if (!HasEnoughSpace(TkDriveFreeBytes(path), allNeeded)) {
                ShowSpaceBox(kSystemDriveTooSmall, "Insufficient Disk Space");
                continue;
            }
        } else {
            if (!HasEnoughSpace(TkDriveFreeBytes(Setup.SystemDir), Setup.SystemDriveBytes)) {
                ShowSpaceBox(kSystemDriveTooSmall, "Insufficient Disk Space");
                continue;
            }
            if (!HasEnoughSpace(TkDriveFreeBytes(path), otherNeeded)) {
                ShowSpaceBox("The specified drive does not have enough space to perform the installation.",
                             "Insufficient Disk Space");
                continue;
            }
        }
        if (!TkDirExists(path)) {
            TkCreateDir(path, 0);
            if (!TkDirExists(path)) {
                Setup.PageDone = 0;
                ShowSpaceBox("Could not create directory.", "Setup Message");
                continue;
            }
        }
        lstrcpyA(Setup.InstallRoot, path);
        TkPopDialogs(1);
        return;
    }
}

void StripTrailingBackslash(LPSTR path)
{
    if (path[0] == '\0')
        return;
    LPSTR last = path;
    for (LPSTR next = CharNextA(path); *next != '\0'; next = CharNextA(next))
        last = next;
    // Only a single-byte character can be the backslash: a double-byte
    // character whose second byte has the same code is stepped over whole.
    if (last[0] == '\\' && CharNextA(last) == last + 1)
        *last = '\0';
}

void DistributionPathPage(LPSTR path)
{
    char local[DISTRIBUTION_PATH_SIZE];
    snprintf(local, sizeof local, "%s", path);
    StripTrailingBackslash(local);
    TkSetSymbol("EditTextIn", local);
    TkSetSymbol("EditFocus", "ALL");

    UINT dialog = Setup.IsWindows95 ? 102 : 1100;
    char event[TK_EVENT_CAPACITY];
    for (;;) {
        event[0] = '\0';
        TkRunDialog(TK_DIALOG_LIBRARY, dialog, "FEditDlgProc", 0, "", event, sizeof event);
        INT eventClass = ClassifyEvent(event);
        if (eventClass == EVENT_EXIT || eventClass == EVENT_CANCEL || eventClass == EVENT_BACK) {
            QuitConfirmPage();
            continue;
        }
        local[0] = '\0';
        TkGetSymbol("EditTextOut", local, 255);
        if (local[0] == '\0' || !FValidDir(local)) {
            PathNoticePage();
            continue;
        }
        lstrcpyA(path, local);
        TkPopDialogs(1);
        return;
    }
}
