// The Files subkey of the monitor's key and the version key.
#include "install/records.h"

#include <stdio.h>
#include <string.h>

#include "setup/setup.h"
#include "sysutil/guards.h"
#include "sysutil/joinmsg.h"

namespace {

const char kRestartTail[] = "a clean system before re-running this program.";

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Opens keyPath under HKEY_LOCAL_MACHINE, creating it when missing; the
// disposition is not looked at.
LONG createKey(LPCSTR keyPath, ScopedKey& key)
{
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, (LPSTR) "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           NULL, key.put(), NULL);
}

// A REG_SZ value with its terminating zero.
void setText(HKEY key, LPCSTR name, LPCSTR text)
{
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
}

}  // namespace

int SetFilesKeyInfo(LPCSTR keyPath, LPCSTR root)
{
    ScopedKey key;
    LONG error = createKey(keyPath, key);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        FailSetup(joinMessage("Unable to access Registry to set files subkey, error = %d.  Please restart to ",
                              kRestartTail),
                  (int)error);
    }
    setText(key.get(), "Mgmt Sess Key", "mqtv42");
    setText(key.get(), "Root", root);
    return 1;
}

void FormatInstallDate(const SYSTEMTIME& t, LPSTR out, int capacity)
{
    const char* month = (t.wMonth >= 1 && t.wMonth <= 12) ? kMonths[t.wMonth - 1] : "???";
    snprintf(out, (size_t)capacity, "%02d-%s-%4d %02d:%02d:%02d", t.wDay, month, t.wYear, t.wHour, t.wMinute,
             t.wSecond);
}

int SetVersionInfo(LPCSTR keyPath)
{
    ScopedKey key;
    LONG error = createKey(keyPath, key);
    if (error != ERROR_SUCCESS) {
        SetLastError((DWORD)error);
        FailSetup(joinMessage("Unable to access Registry to set version, error = %d.  Please restart to ",
                              kRestartTail),
                  (int)error);
    }
    setText(key.get(), "Title", "Quillar for Windows");
    setText(key.get(), "Software Type", "Print Monitor");
    setText(key.get(), "Installation Version", "V5.1-11i");
    setText(key.get(), "Description", "Native support for Varden's network printers");
    setText(key.get(), "Version Installed", "V5.1-1");

    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[32];
    FormatInstallDate(now, date, sizeof date);
    setText(key.get(), "Install Date", date);
    return 1;
}
