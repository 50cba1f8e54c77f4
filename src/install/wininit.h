// Deferred rename on Windows 95 through the "rename" section of wininit.ini.
#pragma once

#include <windows.h>

// Adds the line `key`=`value` to the "rename" section of wininit.ini in the
// Windows directory (key "nul" deletes `value` at the next start). Returns 1
// when the line was added, 0 when nothing was done: an empty or null text, a
// text longer than 255 characters, or not Windows 95. A Windows directory
// that does not fit ends setup; a line that cannot be added ends setup
// through the toolkit error page.
int ScheduleWininitRename(LPCSTR key, LPCSTR value);
