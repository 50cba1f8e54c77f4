// Helpers shared by the installation-type and destination pages.
#pragma once
#include <windows.h>

#define kSystemDriveTooSmall "The system drive does not have enough space to perform the installation."

// bytes / 1024 (truncated) in the given "%Nu Kb" format, bounded by size.
void FormatKb(LPSTR buffer, INT size, LPCSTR format, DWORD bytes);

// a + b, held at 0xFFFFFFFF instead of wrapping past 4 GB.
inline DWORD SaturatedSum(DWORD a, DWORD b)
{
    ULONGLONG sum = (ULONGLONG)a + b;
    return sum > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)sum;
}

// True when a drive's free bytes (as the toolkit reports them, signed
// 32-bit) are not less than the bytes needed. The need is compared as the
// full unsigned sum, so a need beyond 2 GB is never taken for enough.
BOOL HasEnoughSpace(LONG freeBytes, ULONGLONG neededBytes);

// Message box owned by the frame window, information icon.
void ShowSpaceBox(LPCSTR text, LPCSTR title);
