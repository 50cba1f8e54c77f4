// Compiles against the real Windows headers: every header the program uses.
#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <winperf.h>
#include <winspool.h>
#include <winsvc.h>
#include <winver.h>

int main() { return GetVersion() == 0; }
