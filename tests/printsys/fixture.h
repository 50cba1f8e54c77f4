// Shared set-up for the print-system and system-utility tests: a bare
// simulated machine per test, the setup state's platform flags to match,
// and small registry helpers working through the Win32 API.
#pragma once

#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/core/machine.h"
#include "winsim/ui/state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fixture {

// Installs a fresh bare machine (NT 3.51, or Windows 95) in a scratch folder
// and zeroes the setup state, with the platform flags set as start-up would.
inline winsim::Machine& bareMachine(const std::string& name, bool windows95 = false) {
    winsim::OsInfo os;
    if (windows95) os.platform = winsim::Platform::Win95, os.major = 4, os.minor = 0, os.build = 950;
    auto dir = std::filesystem::temp_directory_path() / ("printsys-test-" + name);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    auto& m = winsim::install(winsim::makeBareMachine(os, dir));
    std::memset(static_cast<void*>(&Setup), 0, sizeof Setup);
    Setup.IsWindows95 = windows95;
    Setup.IsNT35 = !windows95;
    Setup.IsX86 = TRUE;
    return m;
}

// Makes the next `times` calls of `call` (0: every further call) fail with
// `error`, counted from now; `target` limits the fault to one object.
inline void failNext(winsim::Machine& m, const std::string& call, std::uint32_t times, DWORD error,
                     const std::string& target = "") {
    auto it = m.callCounts.find(call);
    std::uint32_t done = it == m.callCounts.end() ? 0 : it->second;
    m.faults.push_back({call, done + 1, times, error, target});
}

inline HKEY createKey(HKEY parent, const std::string& path) {
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS)
        << path;
    return h;
}

inline void makeKey(HKEY parent, const std::string& path) { RegCloseKey(createKey(parent, path)); }

inline void setValue(HKEY parent, const std::string& path, const std::string& name, DWORD type, const void* data,
                     DWORD size) {
    HKEY h = createKey(parent, path);
    EXPECT_EQ(RegSetValueExA(h, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS) << name;
    RegCloseKey(h);
}
inline void setSz(HKEY parent, const std::string& path, const std::string& name, const std::string& text) {
    setValue(parent, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
inline void setDword(HKEY parent, const std::string& path, const std::string& name, DWORD v) {
    setValue(parent, path, name, REG_DWORD, &v, 4);
}

inline bool keyExists(HKEY parent, const std::string& path) {
    HKEY h = nullptr;
    LONG e = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &h);
    if (e == ERROR_SUCCESS) RegCloseKey(h);
    return e == ERROR_SUCCESS;
}

// The value's data, or "<missing>".
inline std::string readValue(HKEY parent, const std::string& path, const std::string& name, DWORD* type = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<missing>";
    char buf[1024] = {};
    DWORD size = sizeof buf;
    DWORD t = 0;
    LONG e = RegQueryValueExA(h, name.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (e != ERROR_SUCCESS) return "<missing>";
    if (type) *type = t;
    if (t == REG_SZ && size > 0 && buf[size - 1] == '\0') --size;
    return std::string(buf, size);
}

// Subkey names of a key in enumeration order.
inline std::vector<std::string> subkeys(HKEY parent, const std::string& path) {
    std::vector<std::string> out;
    HKEY h = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof name;
        if (RegEnumKeyExA(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        out.emplace_back(name);
    }
    RegCloseKey(h);
    return out;
}

// The tree below HKEY_LOCAL_MACHINE\<path>, one line per key in enumeration
// order: its path relative to <path> (or "." for <path> itself), then
// ` name=data` per value: REG_SZ as text, REG_DWORD as a number, anything
// else as hex bytes. "<missing>" when the key does not exist.
inline std::string regTree(const std::string& path, const std::string& rel = ".") {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<missing>";
    std::string out = rel + ":";
    char name[256];
    BYTE data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(h, i, name, &len, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out += std::string(" ") + name + "=";
        if (type == REG_SZ) out += std::string(reinterpret_cast<char*>(data), size ? size - 1 : 0);
        else if (type == REG_DWORD) out += std::to_string(*reinterpret_cast<DWORD*>(data));
        else
            for (DWORD b = 0; b < size; ++b) out += "0123456789abcdef"[data[b] >> 4] + std::string(1, "0123456789abcdef"[data[b] & 15]);
    }
    out += "\n";
    RegCloseKey(h);
    for (const auto& sub : subkeys(HKEY_LOCAL_MACHINE, path))
        out += regTree(path + "\\" + sub, rel == "." ? sub : rel + "\\" + sub);
    return out;
}

// The Perflib counter name table (pairs index, name). `skip` leaves one
// name out, to drive the walk's failure.
inline void installCounterTable(const std::string& skip = "") {
    const char* pairs[][2] = {{"1", "1847"},         {"2", "System"},        {"230", "Process"},
                              {"238", "Processor"},  {"680", "Thread Count"}, {"682", "Priority Base"},
                              {"784", "ID Process"}, {"786", "Image"}};
    std::string table;
    for (auto& p : pairs)
        if (skip != p[1]) table += std::string(p[0]) + '\0' + p[1] + '\0';
    table += '\0';
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", "Counters",
             REG_MULTI_SZ, table.data(), static_cast<DWORD>(table.size()));
}

// For death tests: starts the toolkit frame with an answers file that
// leaves the error page with CANCEL, and, when the process ends, writes the
// text the error page was given (the symbol ErrorText) to stderr, where
// EXPECT_EXIT matches it.
inline void printErrorTextAtExit() {
    auto answers = std::filesystem::temp_directory_path() / "printsys-test-error-answers.txt";
    std::ofstream(answers) << "2300 CANCEL\n";
    std::string cmd = "--answers " + answers.string();
    InitializeFrame(cmd.data());
    winsim::addExitHandler([](UINT) {
        char text[1024] = {};
        CbGetSymbolValue("ErrorText", text, sizeof text);
        std::fprintf(stderr, "ErrorText: %s\n", text);
        std::fflush(stderr);
    });
}

// The message boxes shown so far on the machine, as "caption|text".
inline std::vector<std::string> messageBoxes() {
    std::vector<std::string> out;
    for (const auto& box : winsim::machine().ui->boxes) out.push_back(box.caption + "|" + box.text);
    return out;
}

// The statement ends setup through the error page, whose text matches `text`.
#define EXPECT_ENDS_SETUP(statement, text) \
    EXPECT_EXIT(                            \
        {                                   \
            fixture::printErrorTextAtExit(); \
            statement;                      \
        },                                  \
        ::testing::ExitedWithCode(0), text)

}  // namespace fixture
