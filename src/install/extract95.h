// Windows 95: the PostScript driver files unpacked from the distribution's
// cabinet by the distribution's own cabinet tool.
#pragma once

#include <windows.h>

// Polls for the target every 500 ms, at most 41 times, then waits 25 s more
// once it is there.
#define EXTRACT_POLL_MS 500
#define EXTRACT_POLL_LIMIT 40
#define EXTRACT_SETTLE_MS 25000

// Starts distDir\extract.exe hidden to unpack fileName's files ("name.*")
// and the companion files missing in destDir from distDir\win95_02.cab into
// destDir, shows a status page while it waits, and returns non-zero when
// destDir\fileName exists at the end. 0 without a message when the tool or
// the cabinet is missing, the tool does not start, a path does not fit, or
// the file has not arrived after the wait.
int ExtractWin95DriverFiles(LPCSTR fileName, LPCSTR distDir, LPCSTR destDir);
