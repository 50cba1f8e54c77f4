/* Shell subset. */
#pragma once
#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ShellExecute results: values above 32 mean success. */
#define SE_ERR_FNF             2
#define SE_ERR_PNF             3
#define SE_ERR_ACCESSDENIED    5
#define SE_ERR_OOM             8
#define SE_ERR_SHARE           26
#define SE_ERR_ASSOCINCOMPLETE 27
#define SE_ERR_DDETIMEOUT      28
#define SE_ERR_DDEFAIL         29
#define SE_ERR_DDEBUSY         30
#define SE_ERR_NOASSOC         31
#define SE_ERR_DLLNOTFOUND     32

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd);

#ifdef __cplusplus
}
#endif
