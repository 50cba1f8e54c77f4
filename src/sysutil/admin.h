// Administrator check: does the token setup runs under hold the local
// Administrators group (S-1-5-32-544) as an enabled group?
#pragma once

#include <windows.h>

// Returns TRUE when the current thread's token (or, when the thread is not
// impersonating, the process token) lists the Administrators group and the
// first entry for that group carries SE_GROUP_ENABLED. Every failure on the
// way (token cannot be opened, group list cannot be read, SID cannot be
// built, out of memory) answers FALSE; the token is closed and every block
// released on all paths. Shows nothing. Meaningful on Windows NT only; the
// caller skips it on Windows 95.
BOOL isUserAdmin(void);
