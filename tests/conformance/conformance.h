// Conformance cases: plain Win32 programs that check what a call returns,
// the last error it leaves and what it writes. The same sources run on the
// simulated machine (built natively, one test per case and platform) and on
// a real Win32 (built with mingw-w64, run under Wine by `make wine-test`).
//
// A case sets the last error to 0xdeadbeef before the call under test, so a
// call that leaves it alone is seen as such, and reads version differences
// from GetVersion() (top bit set: Windows 95).
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace conformance {

using CaseFn = void (*)();

struct Case {
    const char* family;
    const char* name;
    CaseFn fn;
};

std::vector<Case>& cases();

// Called for every case as it registers (during static initialisation):
// the Linux runner makes its tests here, the Windows runner does nothing.
void onCaseRegistered(const Case& c);

struct Registrar {
    Registrar(const char* family, const char* name, CaseFn fn) {
        cases().push_back({family, name, fn});
        onCaseRegistered(cases().back());
    }
};

// Failures of the case that runs now; the runner reads and clears them.
std::vector<std::string>& failures();

void recordFailure(const char* file, int line, const std::string& what);

inline bool isWin95() { return (GetVersion() & 0x80000000u) != 0; }

// Scratch places each case may use; the runner empties them before and
// after every case.
extern const char kScratchKey[];  // below HKEY_CURRENT_USER
std::string scratchDir();         // a directory on the system drive

// Empties the scratch key and directory (recursively, also on NT, where
// RegDeleteKey refuses keys with subkeys).
void resetScratch();

std::string describe(unsigned long long v);
std::string describe(const char* s);
std::string describe(const std::string& s);

}  // namespace conformance

#define CONF_CAT2(a, b) a##b
#define CONF_CAT(a, b) CONF_CAT2(a, b)

// CASE(family, name) { ... } defines and registers one case.
#define CASE(family, name)                                                                   \
    static void conf_##family##_##name();                                                    \
    static conformance::Registrar CONF_CAT(conf_reg_, __LINE__)(#family, #name, conf_##family##_##name); \
    static void conf_##family##_##name()

// CHECK_EQ(actual, expected): compares as unsigned 64-bit numbers.
#define CHECK_EQ(actual, expected)                                                                      \
    do {                                                                                                \
        unsigned long long conf_a = (unsigned long long)(actual);                                       \
        unsigned long long conf_e = (unsigned long long)(expected);                                     \
        if (conf_a != conf_e)                                                                           \
            conformance::recordFailure(__FILE__, __LINE__,                                              \
                                       std::string(#actual " is ") + conformance::describe(conf_a) +    \
                                           ", expected " + conformance::describe(conf_e));              \
    } while (0)

#define CHECK_TRUE(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) conformance::recordFailure(__FILE__, __LINE__, "not true: " #cond);      \
    } while (0)

#define CHECK_STR(actual, expected)                                                                     \
    do {                                                                                                \
        std::string conf_a = (actual) ? std::string(actual) : std::string("(null)");                    \
        std::string conf_e = (expected);                                                                \
        if (lstrcmpiA(conf_a.c_str(), conf_e.c_str()) != 0)                                             \
            conformance::recordFailure(__FILE__, __LINE__,                                              \
                                       std::string(#actual " is \"") + conf_a + "\", expected \"" + conf_e + "\""); \
    } while (0)

// The last error, checked only where it is the point: a call that fails
// must say why.
#define CHECK_ERROR(expected) CHECK_EQ(GetLastError(), (expected))

// CHECK_FAILS(call, failed, error): with the last error set to 0xdeadbeef
// first, the call returns `failed` and leaves `error` as the last error.
#define CHECK_FAILS(call, failed, error) \
    do {                                 \
        SetLastError(0xdeadbeef);        \
        CHECK_EQ((call), (failed));      \
        CHECK_ERROR(error);              \
    } while (0)
