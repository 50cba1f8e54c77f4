// Opening the INF file (read with Win32 calls, so the machine's file
// system is used on both platforms) and the toolkit calls that read it.
#include "internal.h"

#include <setupkit.h>

namespace kit {

// Reads a whole file of the machine. False with the Win32 error in `err`.
bool readMachineFile(const char* path, std::string& out, DWORD& err) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err = GetLastError();
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
            err = GetLastError();
            CloseHandle(h);
            return false;
        }
        if (got == 0) break;
        out.append(buf, got);
    }
    CloseHandle(h);
    return true;
}

}  // namespace kit

extern "C" {

BOOL WINAPI FOpenInf(LPCSTR file, BOOL, BOOL) {
    auto& cur = kit::currentInf();
    if (!file || !*file) {
        kit::logLine("inf (no file name): cannot open");
        return FALSE;
    }
    std::string text;
    DWORD err = 0;
    if (!kit::readMachineFile(file, text, err)) {
        kit::logLine(std::string("inf ") + file + ": cannot be read (error " + std::to_string(err) + ")");
        std::fprintf(stderr, "setup: %s cannot be read (error %u)\n", file, (unsigned)err);
        return FALSE;
    }
    auto inf = std::make_unique<kit::Inf>();
    inf->path = file;
    kit::InfError e;
    if (!kit::parseInf(text, *inf, e)) {
        kit::logLine(std::string("inf ") + file + ": line " + std::to_string(e.line) + ": " + e.reason);
        std::fprintf(stderr, "setup: %s, line %d: %s\n", file, e.line, e.reason.c_str());
        return FALSE;
    }
    cur = std::move(inf);
    return TRUE;
}

INT WINAPI CbGetInfSectionKeyField(LPCSTR section, LPCSTR key, USHORT field, LPSTR buf, INT cbMax) {
    const auto& inf = kit::currentInf();
    const kit::InfSection* s = inf && section ? inf->section(section) : nullptr;
    const kit::InfLine* l = s && key ? inf->line(*s, key) : nullptr;
    if (!l) {
        kit::copyOut("", buf, cbMax);
        return -1;
    }
    return kit::copyOut(inf->field(*l, field), buf, cbMax);
}

BOOL WINAPI FSetSymbolToListOfInfKeys(LPCSTR list, LPCSTR section, BOOL) {
    const auto& inf = kit::currentInf();
    if (!list || !*list || !section) return FALSE;
    if (!inf) {
        kit::logLine(std::string("inf: no INF file open for [") + section + "]");
        return FALSE;
    }
    const kit::InfSection* s = inf->section(section);
    if (!s) {
        kit::logLine("inf " + inf->path + ": no section [" + section + "]");
        return FALSE;
    }
    if (s->lines.size() > 0xffff) return FALSE;  // list items are numbered in 16 bits
    auto& items = kit::symbols().get(list);
    items.clear();
    items.reserve(s->lines.size());
    for (std::uint32_t li : s->lines) items.emplace_back(inf->field(inf->lines[li], 0));
    return TRUE;
}

}  // extern "C"
