// The shared part of the conformance cases: registration, failure records
// and the scratch places, in plain Win32.
#include "conformance/conformance.h"

#include <string.h>

namespace conformance {

const char kScratchKey[] = "Software\\VardenConformance";

std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

std::vector<std::string>& failures() {
    static std::vector<std::string> list;
    return list;
}

void recordFailure(const char* file, int line, const std::string& what) {
    const char* base = strrchr(file, '/');
    base = base ? base + 1 : file;
    char where[128];
    snprintf(where, sizeof where, "%s:%d: ", base, line);
    failures().push_back(where + what);
}

std::string describe(unsigned long long v) {
    char text[64];
    if (v > 0xFFFF && v <= 0xFFFFFFFFull)
        snprintf(text, sizeof text, "0x%llx", v);
    else
        snprintf(text, sizeof text, "%llu", v);
    return text;
}
std::string describe(const char* s) { return s ? std::string("\"") + s + "\"" : "(null)"; }
std::string describe(const std::string& s) { return "\"" + s + "\""; }

std::string scratchDir() {
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows) return "C:\\vconftmp";
    return std::string(windows, 3) + "vconftmp";
}

namespace {

void deleteTree(HKEY parent, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char sub[256];
    for (;;) {
        DWORD len = sizeof sub;
        if (RegEnumKeyExA(key, 0, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        deleteTree(key, sub);
        // A subkey that would not go would make the loop endless.
        HKEY still;
        if (RegOpenKeyExA(key, sub, 0, KEY_READ, &still) == ERROR_SUCCESS) {
            RegCloseKey(still);
            break;
        }
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
}

void deleteDirectory(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                deleteDirectory(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

void resetScratch() {
    deleteTree(HKEY_CURRENT_USER, kScratchKey);
    deleteDirectory(scratchDir());
}

}  // namespace conformance
