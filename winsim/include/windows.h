/* The Win32 subset the setup program uses, as provided by the simulated
   machine. Spooler, services, DDE, shell, performance data and version
   functions have their own headers, as on Windows. */
#pragma once
#include "windef.h"
#include "winnt.h"
#include "winerror.h"
#include "winbase.h"
#include "winuser.h"
#include "winnls.h"
#include "winreg.h"
