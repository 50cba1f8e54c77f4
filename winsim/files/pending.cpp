// Operations scheduled for the next start: PendingFileRenameOperations on
// NT (written through the registry functions, as NT's MoveFileEx does) and
// the [rename] section of wininit.ini on Windows 95.
#include "winsim/files/ops.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace winsim {

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

// Reads the raw bytes of the value (empty when missing).
LONG readPending(HKEY key, std::string& data) {
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(key, kPendingValue, nullptr, &type, nullptr, &size);
    data.clear();
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    data.resize(size);
    if (size) {
        r = RegQueryValueExA(key, kPendingValue, nullptr, &type, (LPBYTE)data.data(), &size);
        if (r != ERROR_SUCCESS) return r;
        data.resize(size);
    }
    return ERROR_SUCCESS;
}

// Source/destination pairs of the multi-string; an empty source ends it.
std::vector<std::pair<std::string, std::string>> parsePairs(const std::string& data) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t pos = 0;
    auto next = [&](std::string& out) {
        if (pos >= data.size()) return false;
        std::size_t end = data.find('\0', pos);
        if (end == std::string::npos) end = data.size();
        out = data.substr(pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string src, dst;
    while (next(src) && !src.empty()) {
        if (!next(dst)) dst.clear();
        pairs.emplace_back(src, dst);
    }
    return pairs;
}

}  // namespace

DWORD schedulePendingRename(Machine& m, std::string_view from, const char* to, bool replace) {
    std::string src, dst;
    if (DWORD e = fullWindowsPath(m, from, src)) return e;
    if (to && *to) {
        if (DWORD e = fullWindowsPath(m, to, dst)) return e;
        dst = (replace ? "!\\??\\" : "\\??\\") + dst;
    }
    HKEY key = nullptr;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) return (DWORD)r;
    std::string data;
    r = readPending(key, data);
    if (r == ERROR_SUCCESS) {
        std::string out;
        for (auto& [s, d] : parsePairs(data)) {
            out += s;
            out += '\0';
            out += d;
            out += '\0';
        }
        out += "\\??\\" + src;
        out += '\0';
        out += dst;
        out += '\0';
        out += '\0';
        r = RegSetValueExA(key, kPendingValue, 0, REG_MULTI_SZ, (const BYTE*)out.data(), (DWORD)out.size());
    }
    RegCloseKey(key);
    return (DWORD)r;
}

std::vector<std::pair<std::string, std::string>> pendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    std::string data;
    LONG r = readPending(key, data);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return {};
    return parsePairs(data);
}

std::vector<std::pair<std::string, std::string>> wininitRenames(Machine& m) {
    std::vector<std::pair<std::string, std::string>> out;
    ResolvedPath p;
    if (resolvePath(m, m.windowsDir + "\\wininit.ini", p) != 0 || !p.exists || p.isDir) return out;
    std::ifstream in(p.host, std::ios::binary);
    std::string line;
    bool inRename = false;
    auto trim = [](std::string s) {
        while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
        std::size_t b = s.find_first_not_of(" \t");
        return b == std::string::npos ? std::string() : s.substr(b);
    };
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            inRename = close != std::string::npos && iequals(trim(line.substr(1, close - 1)), "rename");
            continue;
        }
        if (!inRename) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        out.emplace_back(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
    }
    return out;
}

}  // namespace winsim
