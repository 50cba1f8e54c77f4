/* DDE management library subset (client side). */
#pragma once
#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

DECLARE_HANDLE(HCONV);
DECLARE_HANDLE(HSZ);
DECLARE_HANDLE(HDDEDATA);
typedef struct tagCONVCONTEXT CONVCONTEXT, *PCONVCONTEXT;
typedef HDDEDATA (CALLBACK *PFNCALLBACK)(UINT wType, UINT wFmt, HCONV hConv, HSZ hsz1, HSZ hsz2,
                                         HDDEDATA hData, ULONG_PTR dwData1, ULONG_PTR dwData2);

#define CP_WINANSI 1004
#define CP_WINUNICODE 1200

#define APPCLASS_STANDARD  0x00000000L
#define APPCMD_CLIENTONLY  0x00000010L
#define APPCMD_FILTERINITS 0x00000020L

#define XCLASS_BOOL     0x1000
#define XCLASS_DATA     0x2000
#define XCLASS_FLAGS    0x4000
#define XCLASS_NOTIFICATION 0x8000
#define XTYP_EXECUTE    (0x0050 | XCLASS_FLAGS)
#define XTYP_REQUEST    (0x00B0 | XCLASS_DATA)
#define TIMEOUT_ASYNC   0xFFFFFFFF

#define DMLERR_NO_ERROR            0
#define DMLERR_FIRST               0x4000
#define DMLERR_ADVACKTIMEOUT       0x4000
#define DMLERR_BUSY                0x4001
#define DMLERR_DATAACKTIMEOUT      0x4002
#define DMLERR_DLL_NOT_INITIALIZED 0x4003
#define DMLERR_DLL_USAGE           0x4004
#define DMLERR_EXECACKTIMEOUT      0x4005
#define DMLERR_INVALIDPARAMETER    0x4006
#define DMLERR_LOW_MEMORY          0x4007
#define DMLERR_MEMORY_ERROR        0x4008
#define DMLERR_NOTPROCESSED        0x4009
#define DMLERR_NO_CONV_ESTABLISHED 0x400a
#define DMLERR_POKEACKTIMEOUT      0x400b
#define DMLERR_POSTMSG_FAILED      0x400c
#define DMLERR_REENTRANCY          0x400d
#define DMLERR_SERVER_DIED         0x400e
#define DMLERR_SYS_ERROR           0x400f
#define DMLERR_UNADVACKTIMEOUT     0x4010
#define DMLERR_UNFOUND_QUEUE_ID    0x4011
#define DMLERR_LAST                0x4011

UINT WINAPI DdeInitializeA(LPDWORD pidInst, PFNCALLBACK pfnCallback, DWORD afCmd, DWORD ulRes);
BOOL WINAPI DdeUninitialize(DWORD idInst);
HSZ WINAPI DdeCreateStringHandleA(DWORD idInst, LPCSTR psz, int iCodePage);
BOOL WINAPI DdeFreeStringHandle(DWORD idInst, HSZ hsz);
HCONV WINAPI DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT pCC);
BOOL WINAPI DdeDisconnect(HCONV hConv);
HDDEDATA WINAPI DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                                     UINT wType, DWORD dwTimeout, LPDWORD pdwResult);
UINT WINAPI DdeGetLastError(DWORD idInst);
BOOL WINAPI DdeFreeDataHandle(HDDEDATA hData);

#ifdef __cplusplus
}
#endif
