// Paths joined from a directory and a file name into fixed buffers.
#pragma once

#include <windows.h>

#include <stdio.h>

// out = dir + "\" + name. A result that does not fit the buffer leaves out
// empty, sets ERROR_FILENAME_EXCED_RANGE and returns FALSE: the caller's
// operation fails rather than work on a shortened path.
inline BOOL JoinPath(LPSTR out, size_t capacity, LPCSTR dir, LPCSTR name)
{
    int n = snprintf(out, capacity, "%s\\%s", dir, name);
    if (n < 0 || (size_t)n >= capacity) {
        if (capacity > 0)
            out[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

// True when FindFirstFileA on path finds an entry (the search is closed at
// once).
inline BOOL PathFound(LPCSTR path)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path, &data);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(search);
    return TRUE;
}

// dir\name exists; a path that does not fit counts as missing.
inline BOOL FileInDirFound(LPCSTR dir, LPCSTR name)
{
    char path[MAX_PATH * 2];
    return JoinPath(path, sizeof path, dir, name) && PathFound(path);
}
