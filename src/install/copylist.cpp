// Copy-list selection: which sections of setup.inf apply to this platform,
// processor and installation type, their sizes, and their destinations.
#include "install/copylist.h"

#include <stdio.h>

#include "setup/setup.h"
#include "toolkit/toolkit.h"

#define FILE_LIST "File List"

LONG SectionBytes(LPCSTR section)
{
    TkListFromInfKeys(FILE_LIST, section);
    USHORT count = TkListLength(FILE_LIST);
    // Summed wide and clamped, so that no field value can overflow the sum.
    LONGLONG total = 0;
    for (UINT i = 1; i <= count; ++i) {
        char key[64];
        TkGetListItem(FILE_LIST, i, key, sizeof key);
        total += TkReadInfNumber(section, key);
        if (total > 0x7FFFFFFFLL)
            total = 0x7FFFFFFFLL;
        else if (total < -0x80000000LL)
            total = -0x80000000LL;
    }
    return (LONG)total;
}

// The NT monitor, wizard section of the processor.
static LPCSTR NtMonitorSection(void)
{
    if (Setup.IsAlpha)
        return "Alpha Monitor";
    if (Setup.IsMips)
        return "Mips Monitor";
    return "I386 Monitor";
}

static LPCSTR WizardSection(void)
{
    if (Setup.IsWindows95)
        return "I386 Wizard";
    if (Setup.IsAlpha)
        return "Alpha Wizard";
    if (Setup.IsMips)
        return "Mips Wizard";
    return "I386 Wizard";
}

static const LPCSTR kCommonUtilitySections[] = {"Orvel", "Remote Console", "Wizard", "VB Common"};

// total += the section's bytes, held at 0xFFFFFFFF instead of wrapping
// past 4 GB; a negative field sum adds nothing.
static void AddSection(DWORD *total, LPCSTR section)
{
    LONG bytes = SectionBytes(section);
    if (bytes <= 0)
        return;
    ULONGLONG sum = (ULONGLONG)*total + (ULONGLONG)bytes;
    *total = sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)sum;
}

void ComputeSectionSizes(void)
{
    Setup.SystemDriveBytes = 0;
    Setup.UtilityBytes = 0;
    Setup.LoadFilesBytes = 0;

    AddSection(&Setup.SystemDriveBytes, "PPD Files");
    if (Setup.IsWindows95) {
        AddSection(&Setup.SystemDriveBytes, "W95 Help File");
        AddSection(&Setup.SystemDriveBytes, "W95 Monitor");
    } else {
        AddSection(&Setup.SystemDriveBytes, "NT Help File");
        AddSection(&Setup.SystemDriveBytes, NtMonitorSection());
    }

    AddSection(&Setup.UtilityBytes, "Write Files");
    DWORD utilities = 0;
    AddSection(&utilities, WizardSection());
    for (LPCSTR section : kCommonUtilitySections)
        AddSection(&utilities, section);
    ULONGLONG sum = (ULONGLONG)Setup.UtilityBytes + utilities;
    Setup.UtilityBytes = sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)sum;

    AddSection(&Setup.LoadFilesBytes, "Load PS Files");
    AddSection(&Setup.LoadFilesBytes, "Load Cat Files");
    AddSection(&Setup.LoadFilesBytes, "Load Sys Files");
}

// InstallRoot followed by a subdirectory, in a 512-byte buffer. A root so
// long that the result does not fit is a value that does not fit: the
// overflow box, then the toolkit error page.
static void SubDirectory(LPSTR buffer, LPCSTR subdirectory)
{
    int length = snprintf(buffer, PATH_BUFFER_SIZE, "%s%s", Setup.InstallRoot, subdirectory);
    if (length < 0 || length >= PATH_BUFFER_SIZE) {
        DoMsgBox("Buffer Overflow", "MS-Setup Error", 16);
        ShowToolkitError(TK_ERROR_FAILED);
    }
}

void AddUtilitySections(void)
{
    char utility[PATH_BUFFER_SIZE];
    SubDirectory(utility, "\\utility");
    TkAddSectionFiles(WizardSection(), Setup.CopySourceDir, utility);
    for (LPCSTR section : kCommonUtilitySections)
        TkAddSectionFiles(section, Setup.CopySourceDir, utility);
}

void BuildCopyList(void)
{
    TkResetCopyList();
    TkAddSectionFiles("PPD Files", Setup.CopySourceDir, Setup.DriverDir);
    if (Setup.IsWindows95) {
        TkAddSectionFiles("W95 Help File", Setup.CopySourceDir, Setup.SystemDir);
        TkAddSectionFiles("W95 Monitor", Setup.CopySourceDir, Setup.SystemDir);
    } else {
        TkAddSectionFiles("NT Help File", Setup.CopySourceDir, Setup.SystemDir);
        TkAddSectionFiles(NtMonitorSection(), Setup.CopySourceDir, Setup.SystemDir);
    }
    AddUtilitySections();
    TkAddSectionFiles("Write Files", Setup.CopySourceDir, Setup.InstallRoot);
    if (Setup.InstallType == INSTALL_CHOSEN_DEST) {
        char directory[PATH_BUFFER_SIZE];
        TkAddSectionFiles("Load PS Files", Setup.CopySourceDir, Setup.InstallRoot);
        SubDirectory(directory, "\\cat");
        TkAddSectionFiles("Load Cat Files", Setup.CopySourceDir, directory);
        SubDirectory(directory, "\\sys");
        TkAddSectionFiles("Load Sys Files", Setup.CopySourceDir, directory);
    }
}
