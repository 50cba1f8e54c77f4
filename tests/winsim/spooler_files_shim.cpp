// Stand-in for the three file functions the spooler calls, until the files
// family is part of the build. The definitions are weak: once the files
// family's own definitions are linked, they take over. To be removed then.
#include <windows.h>
#include "winsim/core/machine.h"
#include <filesystem>
namespace fs = std::filesystem;
namespace {
bool resolve(const char* p, fs::path& out) {
    std::string s(p);
    if (s.size() < 2 || s[1] != ':') return false;
    auto& m = winsim::machine();
    auto it = m.drives.find((char)std::toupper((unsigned char)s[0]));
    if (it == m.drives.end()) return false;
    fs::path cur = it->second.host;
    std::size_t i = 2;
    while (i < s.size()) {
        while (i < s.size() && s[i] == '\\') ++i;
        std::size_t j = s.find('\\', i);
        if (j == std::string::npos) j = s.size();
        std::string comp = s.substr(i, j - i);
        i = j;
        if (comp.empty()) continue;
        fs::path next = cur / comp;
        if (fs::is_directory(cur))
            for (auto& e : fs::directory_iterator(cur))
                if (winsim::iequals(e.path().filename().string(), comp)) next = e.path();
        cur = next;
    }
    out = cur;
    return true;
}
}  // namespace
extern "C" {
__attribute__((weak)) DWORD WINAPI GetFileAttributesA(LPCSTR n) {
    fs::path p;
    if (!resolve(n, p) || !fs::exists(p)) { SetLastError(ERROR_FILE_NOT_FOUND); return INVALID_FILE_ATTRIBUTES; }
    return fs::is_directory(p) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}
__attribute__((weak)) BOOL WINAPI CreateDirectoryA(LPCSTR n, LPSECURITY_ATTRIBUTES) {
    fs::path p;
    if (!resolve(n, p)) { SetLastError(ERROR_PATH_NOT_FOUND); return FALSE; }
    if (fs::exists(p)) { SetLastError(ERROR_ALREADY_EXISTS); return FALSE; }
    if (!fs::is_directory(p.parent_path())) { SetLastError(ERROR_PATH_NOT_FOUND); return FALSE; }
    fs::create_directory(p);
    return TRUE;
}
__attribute__((weak)) BOOL WINAPI CopyFileA(LPCSTR a, LPCSTR b, BOOL failIfExists) {
    fs::path pa, pb;
    if (!resolve(a, pa) || !fs::is_regular_file(pa)) { SetLastError(ERROR_FILE_NOT_FOUND); return FALSE; }
    if (!resolve(b, pb)) { SetLastError(ERROR_PATH_NOT_FOUND); return FALSE; }
    if (fs::exists(pb) && failIfExists) { SetLastError(ERROR_FILE_EXISTS); return FALSE; }
    fs::copy_file(pa, pb, fs::copy_options::overwrite_existing);
    return TRUE;
}
}
