// The printer-model name tables of this release. Every key below is a key of
// "PPD Files" in setup.inf, and every current name of an earlier release's
// driver is one too.
#include "install/namemaps.h"

// Windows 95 keeps driver names to 31 characters: "/Japanese" becomes "/J",
// "Level2" becomes "L2" (or "/L2" behind the memory size), a memory size may
// go, and so does a trailing "fonts".
const NameMapEntry Win95DriverNameMap[] = {
    {"Varden LaserStream 1200 Level2 16MB", "Varden LaserStream 1200 16MB/L2"},
    {"Varden LaserStream 1200/Japanese", "Varden LaserStream 1200/J"},
    {"Varden LaserStream 1800 Level2", "Varden LaserStream 1800 L2"},
    {"Varden ColorStream 850 Level2 fonts", "Varden ColorStream 850 Level2"},
    {"Varden ColorStream 1000/Japanese", "Varden ColorStream 1000/J"},
    {"Varden LineStream 2400 Level2 32MB", "Varden LineStream 2400 32MB/L2"},
    {"Varden LineStream 2400 32 MB RAM", "Varden LineStream 2400"},
    {"Varden PhotoStream 450 Level2 8MB fonts", "Varden PhotoStream 450 8MB/L2"},
    {NULL, NULL},
};

// Models that Windows 95 also gets as a network driver. Where the model name
// and "/Net" exceed 31 characters the name is shortened first.
const NameMapEntry Win95NetDriverNameMap[] = {
    {"Varden LaserStream 600", "Varden LaserStream 600/Net"},
    {"Varden LaserStream 1200", "Varden LaserStream 1200/Net"},
    {"Varden ColorStream 1000 Plus", "Varden ColorStream 1000Plus/Net"},
    {"Varden LineStream 2400 32 MB RAM", "Varden LineStream 2400 32MB/Net"},
    {"Varden DeskStream 1600", "Varden DeskStream 1600/Net"},
    {"Varden DeskStream 800", "Varden DeskStream 800/Net"},
    {"Varden JobStream 3000", "Varden JobStream 3000/Net"},
    {NULL, NULL},
};

// Earlier releases named each driver after the model and a version suffix;
// a few spelled the memory size differently.
const ObsoleteDriverName ObsoleteDriverNameMap[] = {
    {"Varden LaserStream 600 v48.3", "Varden LaserStream 600"},
    {"Varden LaserStream 600 v2013", "Varden LaserStream 600"},
    {"Varden LaserStream 1200 v48.3", "Varden LaserStream 1200"},
    {"Varden LaserStream 1200 v2013.113", "Varden LaserStream 1200"},
    {"Varden LaserStream 1200 Level2 16MB v2014", "Varden LaserStream 1200 Level2 16MB"},
    {"Varden LaserStream 1200 Level2 16 MB v2013", "Varden LaserStream 1200 Level2 16MB"},
    {"Varden LaserStream 1200/Japanese v2013.113", "Varden LaserStream 1200/Japanese"},
    {"Varden ColorStream 850 Level2 fonts v48.3", "Varden ColorStream 850 Level2 fonts"},
    {"Varden ColorStream 1000 Plus v2014", "Varden ColorStream 1000 Plus"},
    {"Varden LineStream 2400 Level2 32 MB v2013.113", "Varden LineStream 2400 Level2 32MB"},
    {"Varden LineStream 2400 32MB RAM v2014", "Varden LineStream 2400 32 MB RAM"},
    {"Varden DeskStream 1600 v48.3", "Varden DeskStream 1600"},
    {"", ""},
};

LPCSTR LookupNameMap(const NameMapEntry* table, LPCSTR name)
{
    for (const NameMapEntry* entry = table; entry->Key != NULL; ++entry)
        if (lstrcmpiA(entry->Key, name) == 0)
            return entry->Name;
    return NULL;
}
