// Cabinet extraction of the Windows 95 PostScript driver files.
#include "install/extract95.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include "install/paths.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

namespace {

// The companion files the driver needs, fetched only when missing.
const char* const kCompanionFiles[] = {"iconlib.dll", "fonts.mfm", "testps.txt", "apple380.spd"};

// Appends text to out; FALSE when it does not fit.
BOOL append(LPSTR out, size_t capacity, LPCSTR text)
{
    size_t used = strlen(out);
    size_t add = strlen(text);
    if (used + add >= capacity)
        return FALSE;
    memcpy(out + used, text, add + 1);
    return TRUE;
}

}  // namespace

int ExtractWin95DriverFiles(LPCSTR fileName, LPCSTR distDir, LPCSTR destDir)
{
    // The distribution directory with exactly one trailing backslash.
    char dist[MAX_PATH];
    dist[0] = '\0';
    if (!append(dist, sizeof dist, distDir))
        return 0;
    size_t length = strlen(dist);
    if (length == 0 || dist[length - 1] != '\\')
        if (!append(dist, sizeof dist, "\\"))
            return 0;

    char tool[MAX_PATH];
    char cabinet[MAX_PATH];
    int n1 = snprintf(tool, sizeof tool, "%sextract.exe", dist);
    int n2 = snprintf(cabinet, sizeof cabinet, "%swin95_02.cab", dist);
    if (n1 < 0 || n1 >= (int)sizeof tool || n2 < 0 || n2 >= (int)sizeof cabinet)
        return 0;
    if (!TkFileExists(tool, 0) || !TkFileExists(cabinet, 0))
        return 0;

    // "pscript.*", then the companion files the destination lacks.
    char files[MAX_PATH];
    const char* dot = strchr(fileName, '.');
    int stem = dot ? (int)(dot - fileName) : (int)strlen(fileName);
    int n3 = snprintf(files, sizeof files, "%.*s.*", stem, fileName);
    if (n3 < 0 || n3 >= (int)sizeof files)
        return 0;
    for (const char* companion : kCompanionFiles) {
        char present[MAX_PATH * 2];
        if (JoinPath(present, sizeof present, destDir, companion) && TkFileExists(present, 0))
            continue;
        if (!append(files, sizeof files, " ") || !append(files, sizeof files, companion))
            return 0;
    }

    char parameters[MESSAGE_BUFFER_SIZE + MAX_PATH];
    int n4 = snprintf(parameters, sizeof parameters, "/Y /A /L %s %s %s", destDir, cabinet, files);
    if (n4 < 0 || n4 >= (int)sizeof parameters)
        return 0;
    char target[MAX_PATH * 2];
    if (!JoinPath(target, sizeof target, destDir, fileName))
        return 0;

    HINSTANCE started = ShellExecuteA(NULL, NULL, tool, parameters, dist, SW_HIDE);
    if ((ULONG_PTR)started <= 32)
        return 0;

    HCURSOR cursor = OpenStatusPage("Copying Postscript Driver File",
                                    "Please wait while we copy all necessary PostScript driver files.");
    for (int polls = 0; polls <= EXTRACT_POLL_LIMIT && !TkFileExists(target, 0); ++polls)
        Sleep(EXTRACT_POLL_MS);
    BOOL arrived = TkFileExists(target, 0);
    if (arrived)
        Sleep(EXTRACT_SETTLE_MS);
    CloseStatusPage(cursor);
    return TkFileExists(target, 0) ? 1 : 0;
}
