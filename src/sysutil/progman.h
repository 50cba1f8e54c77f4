// Program Manager commands over DDE: deleting a group, or an item of a group.
#pragma once

#include <windows.h>
#include <ddeml.h>

// The DDE instances, 0 until first used and then kept for the whole run:
// one for deleting groups, one for deleting items.
extern DWORD ProgmanGroupInstance;
extern DWORD ProgmanItemInstance;

// Bytes of the command buffer (terminator included).
constexpr int kProgmanCommandChars = 1024;

// Sends one command on a conversation of its own with "PROGMAN"; true when
// Program Manager accepted it.
BOOL sendProgmanCommand(DWORD instance, LPCSTR command);
// [DeleteGroup("group")]; true when the group was deleted.
BOOL deleteProgmanGroup(LPCSTR group);
// [ShowGroup("group",2)] then [DeleteItem("item")]; true when both were
// accepted. Nothing about the item is sent when the group cannot be shown.
BOOL deleteProgmanItem(LPCSTR item, LPCSTR group);
// The client's DDE callback: answers everything with a null data handle.
HDDEDATA CALLBACK ProgmanDdeCallback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                     ULONG_PTR data1, ULONG_PTR data2);
