// Joins the two pieces of a fatal message in the setup state's
// MessageBuffer. Both pieces are constant texts far below its size; a join
// that would not fit keeps what fits and stays terminated.
#pragma once

#include "setup/setup.h"

#include <cstdio>

inline LPCSTR joinMessage(LPCSTR first, LPCSTR second) {
    std::snprintf(Setup.MessageBuffer, sizeof Setup.MessageBuffer, "%s%s", first, second);
    return Setup.MessageBuffer;
}
