// Directories, file removal and INI lines on the machine's file system.
#include "internal.h"

#include <setupkit.h>

namespace kit {

bool readMachineFile(const char* path, std::string& out, DWORD& err);  // inf_open.cpp

bool isDirectory(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates `path` and every missing directory above it. True when the
// directory exists afterwards; the last error tells why it does not.
bool createDirectories(const std::string& path) {
    if (path.empty() || path.size() >= MAX_PATH) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (isDirectory(path)) return true;
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') start = 2;
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share: the share itself cannot be created.
        std::size_t server = path.find('\\', 2);
        start = server == std::string::npos ? path.size() : path.find('\\', server + 1);
        if (start == std::string::npos) start = path.size();
    }
    for (std::size_t i = start; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '\\' && path[i] != '/') continue;
        if (i == start || path[i - 1] == '\\' || path[i - 1] == '/') continue;  // root or doubled separator
        std::string part = path.substr(0, i);
        if (isDirectory(part)) continue;
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    if (isDirectory(path)) return true;
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
}

namespace {

std::string trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool writeMachineFile(const char* path, const std::string& text) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = text.empty() || WriteFile(h, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(h);
    return ok && written == text.size();
}

}  // namespace

}  // namespace kit

using namespace kit;

extern "C" {

BOOL WINAPI FCreateDir(LPCSTR dir, INT) {
    if (!dir || !*dir) return FALSE;
    std::string p(dir);
    while (p.size() > 3 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    return createDirectories(p) ? TRUE : FALSE;
}

// Removing a file that is not there succeeds: there is nothing to remove.
INT WINAPI YnrcRemoveFile(LPCSTR path, INT) {
    if (!path || !*path) return ynrcErr;
    if (DeleteFileA(path)) return ynrcYes;
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND) return ynrcYes;
    logLine(std::string("remove ") + path + ": error " + std::to_string(err));
    // A file that is in use or protected stays where it is; the caller
    // sees it still there and deals with it (schedules it for the next
    // start). Anything else is a failure of the removal.
    if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) return ynrcNo;
    return ynrcErr;
}

// Adds the line key=value to [section] of the INI file, creating the file
// and the section when missing. Lines are added, never replaced: several
// lines with one key may stand together (the [rename] section of
// wininit.ini holds several NUL= lines). A line that is already there,
// word for word, is not written twice.
BOOL WINAPI FCreateSysIniKeyValue(LPCSTR file, LPCSTR section, LPCSTR key, LPCSTR value, INT) {
    if (!file || !*file || !section || !*section || !key || !*key || !value) return FALSE;
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) || std::string_view(key).find('=') != std::string_view::npos ||
        std::string_view(section).find(']') != std::string_view::npos)
        return FALSE;
    std::string text;
    DWORD err = 0;
    if (!readMachineFile(file, text, err) && err != ERROR_FILE_NOT_FOUND) return FALSE;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t nl = text.find('\n', at);
        std::string l = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(l);
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    std::string wantSection = lowerAscii(section);
    std::string newLine = std::string(key) + "=" + value;
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string t = trimBlanks(lines[i]);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']' && lowerAscii(trimBlanks(t.substr(1, t.size() - 2))) == wantSection) {
            header = i;
            break;
        }
    }
    if (header == lines.size()) {
        if (!lines.empty() && !trimBlanks(lines.back()).empty()) lines.push_back("");
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(newLine);
    } else {
        std::size_t end = header + 1;
        while (end < lines.size() && trimBlanks(lines[end]).rfind("[", 0) != 0) ++end;
        std::size_t insertAt = header + 1;
        for (std::size_t i = header + 1; i < end; ++i) {
            std::string t = trimBlanks(lines[i]);
            if (t.empty()) continue;
            insertAt = i + 1;
            std::size_t eq = t.find('=');
            if (eq != std::string::npos && lowerAscii(trimBlanks(t.substr(0, eq))) == lowerAscii(key) &&
                trimBlanks(t.substr(eq + 1)) == trimBlanks(value))
                return TRUE;  // already there
        }
        lines.insert(lines.begin() + (std::ptrdiff_t)insertAt, newLine);
    }
    std::string out;
    for (auto& l : lines) out += l + "\r\n";
    return writeMachineFile(file, out) ? TRUE : FALSE;
}

}  // extern "C"
