// The INF, copy-list, file, INI and Program Manager part of the toolkit
// access layer, and the two text joins.
#include "toolkit/toolkit.h"

#include "setup/setup.h"
#include "toolkit/toolkit_internal.h"

static char Join2Buffer[512];
static char Join3Buffer[768];

// Reads one field of a key's line; an overflow is announced first, a
// missing section or key (-1) goes straight to the error page.
static LPSTR ReadField(LPCSTR section, LPCSTR key, USHORT field, LPSTR buffer, INT capacity)
{
    INT n = CbGetInfSectionKeyField(section, key, field, buffer, capacity);
    if (n >= capacity)
        TkReportOverflow();
    if (n < 0)
        ShowToolkitError(TK_ERROR_FAILED);
    return buffer;
}

LPSTR TkReadInfField(LPCSTR section, LPCSTR key, LPSTR buffer, INT capacity)
{
    return ReadField(section, key, 1, buffer, capacity);
}

// Base-10 value of a text as atol reads it, without atol's undefined
// behaviour on values beyond the 32-bit range: those are clamped.
static LONG ParseNumber(LPCSTR text)
{
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' || *text == '\v')
        ++text;
    BOOL negative = FALSE;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    LONGLONG value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= 0x80000000LL)
            value = value * 10 + (*text - '0');
    }
    if (negative)
        value = -value;
    if (value > 0x7FFFFFFFLL)
        return 0x7FFFFFFF;
    if (value < -0x80000000LL)
        return (LONG)(-0x7FFFFFFFLL - 1);
    return (LONG)value;
}

LONG TkReadInfNumber(LPCSTR section, LPCSTR key)
{
    char buffer[128];
    buffer[0] = '\0';
    ReadField(section, key, 15, buffer, sizeof buffer);
    return ParseNumber(buffer);
}

void TkCreateDir(LPCSTR path, INT mode)
{
    if (!FCreateDir(path, mode))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkCreateSysIniKeyValue(LPCSTR iniPath, LPCSTR section, LPCSTR key, LPCSTR value, INT mode)
{
    if (!FCreateSysIniKeyValue(iniPath, section, key, value, mode))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkCreateGroupEx(LPCSTR group, INT a, INT b)
{
    if (!FCreateProgManGroupEx(group, a, b))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkShowGroupEx(LPCSTR group, INT a, INT showCommand, INT b)
{
    char command[256];
    wsprintfA(command, "%d", showCommand);
    if (!FShowProgManGroupEx(group, a, command, b))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkCreateGroupItemEx(LPCSTR group, INT a, LPCSTR title, LPCSTR commandLine, LPCSTR extraText, INT options)
{
    LPCSTR item = title;
    if (extraText != NULL && extraText[0] != '\0')
        item = TkJoin3(title, ",", extraText);
    if (!FCreateProgManItemEx(group, a, item, commandLine, options))
        ShowToolkitError(TK_ERROR_FAILED);
}

BOOL TkResetCopyList(void)
{
    return ResetCopyList();
}

void TkAddSectionFiles(LPCSTR section, LPCSTR sourceDir, LPCSTR targetDir)
{
    if (!FAddSectionFilesToCopyList(section, sourceDir, targetDir))
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkCopyFiles(void)
{
    INT result = GrcCopyFilesInCopyList(HinstFrame());
    if (result == grcUserQuit)
        ShowToolkitError(TK_ERROR_QUIT);
    if (result > 0)
        ShowToolkitError(TK_ERROR_FAILED);
}

void TkRemoveFile(LPCSTR path, INT mode)
{
    if (YnrcRemoveFile(path, mode) == 0)
        ShowToolkitError(TK_ERROR_FAILED);
}

// Appends text at buffer[*used]; false when it does not fit with its
// terminating zero (nothing past the buffer is written).
static BOOL Append(LPSTR buffer, INT size, INT *used, LPCSTR text)
{
    if (text == NULL)
        return TRUE;
    for (; *text != '\0'; ++text) {
        if (*used >= size - 1)
            return FALSE;
        buffer[(*used)++] = *text;
    }
    buffer[*used] = '\0';
    return TRUE;
}

LPSTR TkJoin2(LPCSTR a, LPCSTR b)
{
    INT used = 0;
    Join2Buffer[0] = '\0';
    if (!Append(Join2Buffer, sizeof Join2Buffer, &used, a) || !Append(Join2Buffer, sizeof Join2Buffer, &used, b)) {
        Join2Buffer[sizeof Join2Buffer - 1] = '\0';
        TkReportOverflow();
    }
    return Join2Buffer;
}

LPSTR TkJoin3(LPCSTR a, LPCSTR b, LPCSTR c)
{
    INT used = 0;
    Join3Buffer[0] = '\0';
    if (!Append(Join3Buffer, sizeof Join3Buffer, &used, a) || !Append(Join3Buffer, sizeof Join3Buffer, &used, b) ||
        !Append(Join3Buffer, sizeof Join3Buffer, &used, c)) {
        Join3Buffer[sizeof Join3Buffer - 1] = '\0';
        TkReportOverflow();
    }
    return Join3Buffer;
}
