// Run-time binding of the registry functions of ADVAPI32.DLL.
#include "toolkit/toolkit.h"

HMODULE RegistryLibrary;
decltype(&RegCloseKey) pfnRegCloseKey;
decltype(&RegCreateKeyA) pfnRegCreateKeyA;
decltype(&RegDeleteKeyA) pfnRegDeleteKeyA;
decltype(&RegOpenKeyA) pfnRegOpenKeyA;
decltype(&RegQueryValueA) pfnRegQueryValueA;
decltype(&RegSetValueA) pfnRegSetValueA;
decltype(&RegCreateKeyExA) pfnRegCreateKeyExA;
decltype(&RegOpenKeyExA) pfnRegOpenKeyExA;
decltype(&RegQueryValueExA) pfnRegQueryValueExA;
decltype(&RegSetValueExA) pfnRegSetValueExA;
decltype(&RegEnumKeyA) pfnRegEnumKeyA;
decltype(&RegQueryInfoKeyA) pfnRegQueryInfoKeyA;

template <class T>
static void Bind(T &pointer, LPCSTR name)
{
    pointer = reinterpret_cast<T>(reinterpret_cast<void (*)(void)>(GetProcAddress(RegistryLibrary, name)));
}

static void ClearPointers(void)
{
    pfnRegCloseKey = NULL;
    pfnRegCreateKeyA = NULL;
    pfnRegDeleteKeyA = NULL;
    pfnRegOpenKeyA = NULL;
    pfnRegQueryValueA = NULL;
    pfnRegSetValueA = NULL;
    pfnRegCreateKeyExA = NULL;
    pfnRegOpenKeyExA = NULL;
    pfnRegQueryValueExA = NULL;
    pfnRegSetValueExA = NULL;
    pfnRegEnumKeyA = NULL;
    pfnRegQueryInfoKeyA = NULL;
}

BOOL BindRegistryLibrary(void)
{
    RegistryLibrary = LoadLibraryA("ADVAPI32.DLL");
    if (RegistryLibrary == NULL)
        return FALSE;

    Bind(pfnRegCloseKey, "RegCloseKey");
    Bind(pfnRegCreateKeyA, "RegCreateKeyA");
    Bind(pfnRegDeleteKeyA, "RegDeleteKeyA");
    Bind(pfnRegOpenKeyA, "RegOpenKeyA");
    Bind(pfnRegQueryValueA, "RegQueryValueA");
    Bind(pfnRegSetValueA, "RegSetValueA");
    if (pfnRegCloseKey == NULL || pfnRegCreateKeyA == NULL || pfnRegDeleteKeyA == NULL || pfnRegOpenKeyA == NULL ||
        pfnRegQueryValueA == NULL || pfnRegSetValueA == NULL) {
        FreeLibrary(RegistryLibrary);
        RegistryLibrary = NULL;
        // No pointer into a released library is kept.
        ClearPointers();
        return FALSE;
    }

    // Optional: left null when missing.
    Bind(pfnRegCreateKeyExA, "RegCreateKeyExA");
    Bind(pfnRegOpenKeyExA, "RegOpenKeyExA");
    Bind(pfnRegQueryValueExA, "RegQueryValueExA");
    Bind(pfnRegSetValueExA, "RegSetValueExA");
    Bind(pfnRegEnumKeyA, "RegEnumKeyA");
    Bind(pfnRegQueryInfoKeyA, "RegQueryInfoKeyA");
    return TRUE;
}

void UnbindRegistryLibrary(void)
{
    if (RegistryLibrary != NULL) {
        FreeLibrary(RegistryLibrary);
        RegistryLibrary = NULL;
        ClearPointers();
    }
}
