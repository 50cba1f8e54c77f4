/* Version-installation subset. */
#pragma once
#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VIFF_FORCEINSTALL  0x0001
#define VIFF_DONTDELETEOLD 0x0002

#define VIF_TEMPFILE         0x00000001L
#define VIF_MISMATCH         0x00000002L
#define VIF_SRCOLD           0x00000004L
#define VIF_DIFFLANG         0x00000008L
#define VIF_DIFFCODEPG       0x00000010L
#define VIF_DIFFTYPE         0x00000020L
#define VIF_WRITEPROT        0x00000040L
#define VIF_FILEINUSE        0x00000080L
#define VIF_OUTOFSPACE       0x00000100L
#define VIF_ACCESSVIOLATION  0x00000200L
#define VIF_SHARINGVIOLATION 0x00000400L
#define VIF_CANNOTCREATE     0x00000800L
#define VIF_CANNOTDELETE     0x00001000L
#define VIF_CANNOTRENAME     0x00002000L
#define VIF_CANNOTDELETECUR  0x00004000L
#define VIF_OUTOFMEMORY      0x00008000L
#define VIF_CANNOTREADSRC    0x00010000L
#define VIF_CANNOTREADDST    0x00020000L
#define VIF_BUFFTOOSMALL     0x00040000L

/* Until the version-installation family is part of the library the
   function is referenced weakly, so that programs calling it still link. */
#if defined(__GNUC__) && !defined(_WIN32)
#pragma weak VerInstallFileA
#endif
DWORD WINAPI VerInstallFileA(DWORD uFlags, LPSTR szSrcFileName, LPSTR szDestFileName, LPSTR szSrcDir,
                             LPSTR szDestDir, LPSTR szCurDir, LPSTR szTmpFile, PUINT lpuTmpFileLen);

#ifdef __cplusplus
}
#endif
