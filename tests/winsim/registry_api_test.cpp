// Conformance tests of the registry functions, grouped per function.
#include "winsim/core/machine.h"
#include "winsim/processes/perfdata.h"
#include "winsim/registry/state.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

const DWORD kSentinel = 0xdeadbeef;
const HKEY kJunkKey = (HKEY)(ULONG_PTR)0x7777;

struct Reg : ::testing::Test {
    void SetUp() override { machineFor(winsim::Platform::NT); }

    void machineFor(winsim::Platform p) {
        sim::fresh(p);
        SetLastError(kSentinel);
    }

    HKEY create(HKEY parent, const char* path) {
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS)
            << path;
        return h;
    }
    void setSz(HKEY h, const char* name, const char* text) {
        EXPECT_EQ(RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)text, (DWORD)std::strlen(text) + 1),
                  ERROR_SUCCESS);
    }
    void setDword(HKEY h, const char* name, DWORD v) {
        EXPECT_EQ(RegSetValueExA(h, name, 0, REG_DWORD, (const BYTE*)&v, 4), ERROR_SUCCESS);
    }
    // RegQueryInfoKeyA for the counts of subkeys and values and the longest data.
    static LONG info(HKEY h, DWORD* subKeys = nullptr, DWORD* values = nullptr, DWORD* maxData = nullptr) {
        return RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr, maxData,
                                nullptr, nullptr);
    }
    bool exists(HKEY parent, const char* path) {
        HKEY h;
        LONG e = RegOpenKeyExA(parent, path, 0, KEY_READ, &h);
        if (e == ERROR_SUCCESS) RegCloseKey(h);
        return e == ERROR_SUCCESS;
    }
    void TearDown() override {
        // The registry never sets the last error.
        EXPECT_EQ(GetLastError(), kSentinel);
    }
};

// --- RegOpenKeyExA / RegOpenKeyA -------------------------------------------

TEST_F(Reg, OpenExistingKeyIsCaseInsensitive) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Product"));
    HKEY h = kJunkKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\VENDOR\\product", 0, KEY_READ, &h), ERROR_SUCCESS);
    EXPECT_NE(h, kJunkKey);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
}

TEST_F(Reg, OpenMissingKeyClearsResultAndCreatesNothing) {
    HKEY h = kJunkKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    h = kJunkKey;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE"));
}

TEST_F(Reg, OpenParameterErrors) {
    HKEY h = kJunkKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "X", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "X", nullptr), ERROR_INVALID_PARAMETER);
    // An invalid handle leaves the result alone.
    EXPECT_EQ(RegOpenKeyExA(nullptr, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(kJunkKey, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(h, kJunkKey);
    // NT refuses a leading backslash; trailing ones are ignored.
    RegCloseKey(create(HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &h), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\\\", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
}

TEST_F(Reg, OpenKeyANullOrEmptySubkeyReturnsSameHandle) {
    HKEY h = kJunkKey;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, nullptr, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_CURRENT_USER);
    h = kJunkKey;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "", &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_CURRENT_USER);
    // Even a null key comes back as it was passed.
    h = kJunkKey;
    EXPECT_EQ(RegOpenKeyA(nullptr, nullptr, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, nullptr);
    // RegOpenKeyExA with an empty name opens a new handle to the same key.
    HKEY k = create(HKEY_CURRENT_USER, "A");
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(k, "", 0, KEY_READ, &again), ERROR_SUCCESS);
    EXPECT_NE(again, k);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(Reg, NtHandsOutDistinctHandlesWin95SharesOne) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "K"));
    HKEY a, b;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &a), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &b), ERROR_SUCCESS);
    EXPECT_NE(a, b);
    RegCloseKey(a);
    RegCloseKey(b);

    machineFor(winsim::Platform::Win95);
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "K"));
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &a), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &b), ERROR_SUCCESS);
    EXPECT_EQ(a, b);
    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    DWORD n = 99;
    // Still open once more.
    EXPECT_EQ(info(b, &n), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(b), ERROR_BADKEY);
}

// --- RegCreateKeyExA / RegCreateKeyA ---------------------------------------

TEST_F(Reg, CreateReportsDisposition) {
    HKEY h = nullptr;
    DWORD disp = kSentinel;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_CREATED_NEW_KEY);
    RegCloseKey(h);
    disp = kSentinel;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\a\\b", 0, nullptr, 0, KEY_READ, nullptr, &h, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_OPENED_EXISTING_KEY);
    RegCloseKey(h);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
}

TEST_F(Reg, CreateKeepsCaseAsFirstCreated) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "MixedCase"));
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "MIXEDCASE"));
    char name[32];
    memset(name, 'x', sizeof name);
    EXPECT_EQ(RegEnumKeyA(HKEY_LOCAL_MACHINE, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MixedCase");
    EXPECT_EQ(RegEnumKeyA(HKEY_LOCAL_MACHINE, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
}

TEST_F(Reg, CreateErrors) {
    HKEY h = kJunkKey;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(kJunkKey, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(h, kJunkKey);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "A", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(Reg, CreateIgnoresParentHandleRights) {
    // Windows opens the new key relative to the parent without checking the
    // parent handle's rights.
    HKEY parent = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "P", 0, nullptr, 0, KEY_NOTIFY, nullptr, &parent, nullptr),
              ERROR_SUCCESS);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, "C", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &child, nullptr), ERROR_SUCCESS);
    RegCloseKey(child);
    RegCloseKey(parent);
}

TEST_F(Reg, ClassesRootIsSoftwareClasses) {
    RegCloseKey(create(HKEY_CLASSES_ROOT, ".txt"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.txt"));
}

// --- RegCloseKey -------------------------------------------------------------

TEST_F(Reg, CloseKey) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "A");
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_PERFORMANCE_DATA), ERROR_SUCCESS);
    // A closed handle no longer works.
    DWORD n;
    EXPECT_EQ(info(h, &n), ERROR_INVALID_HANDLE);
}

// --- RegSetValueExA / RegQueryValueExA ---------------------------------------

TEST_F(Reg, QueryValueExBufferProtocol) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "V");
    setSz(h, "Name", "hello");
    DWORD type = kSentinel, cb = 0;
    // Size query.
    EXPECT_EQ(RegQueryValueExA(h, "name", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(cb, 6u);
    // Existence check.
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    // Too small: size needed, buffer untouched.
    BYTE buf[16];
    memset(buf, 0xcc, sizeof buf);
    cb = 3;
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, &type, buf, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 6u);
    EXPECT_EQ(buf[0], 0xcc);
    // Exact fit, guard byte intact.
    cb = 6;
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, &type, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 6u);
    EXPECT_STREQ((char*)buf, "hello");
    EXPECT_EQ(buf[6], 0xcc);
    RegCloseKey(h);
}

TEST_F(Reg, QueryValueExMissingValue) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "V");
    DWORD type = kSentinel, cb = 77;
    EXPECT_EQ(RegQueryValueExA(h, "none", nullptr, &type, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(cb, 0u);
    BYTE buf[4] = {1, 2, 3, 4};
    cb = 4;
    EXPECT_EQ(RegQueryValueExA(h, "none", nullptr, &type, buf, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(cb, 4u);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(type, kSentinel);
    RegCloseKey(h);
}

TEST_F(Reg, QueryValueExParameterErrors) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "V");
    setDword(h, "d", 7);
    BYTE buf[4];
    DWORD reserved = 0, cb = 4;
    EXPECT_EQ(RegQueryValueExA(h, "d", &reserved, nullptr, buf, &cb), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(h, "d", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(nullptr, "d", nullptr, nullptr, buf, &cb), ERROR_INVALID_HANDLE);
    RegCloseKey(h);
}

TEST_F(Reg, SetValueExStringSizes) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "S");
    const char text[] = "FullString";
    BYTE buf[16];
    DWORD cb;
    // Size without the NUL: NT still stores the terminated string.
    ASSERT_EQ(RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 10), ERROR_SUCCESS);
    cb = 0;
    EXPECT_EQ(RegQueryValueExA(h, "a", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 11u);
    // Shorter: the bytes given, no NUL; the query adds one when there is room.
    ASSERT_EQ(RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 9), ERROR_SUCCESS);
    memset(buf, 0xbd, sizeof buf);
    cb = 9;
    EXPECT_EQ(RegQueryValueExA(h, "a", nullptr, nullptr, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 9u);
    EXPECT_EQ(buf[9], 0xbd);
    cb = 10;
    EXPECT_EQ(RegQueryValueExA(h, "a", nullptr, nullptr, buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 9u);
    EXPECT_EQ(buf[9], 0);
    // Size 0 stores an empty value.
    ASSERT_EQ(RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 0), ERROR_SUCCESS);
    cb = 5;
    EXPECT_EQ(RegQueryValueExA(h, "a", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 0u);
    // Null data with a size is refused.
    EXPECT_EQ(RegSetValueExA(h, "b", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    RegCloseKey(h);
}

TEST_F(Reg, SetValueExReplacesTypeAndData) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "S");
    setSz(h, "v", "text");
    setDword(h, "V", 0x01020304);
    DWORD type = 0, data = 0, cb = sizeof data;
    EXPECT_EQ(RegQueryValueExA(h, "v", nullptr, &type, (BYTE*)&data, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(data, 0x01020304u);
    DWORD values = 0;
    info(h, nullptr, &values);
    EXPECT_EQ(values, 1u);
    RegCloseKey(h);
}

// --- RegSetValueA / RegQueryValueA -------------------------------------------

TEST_F(Reg, SetValueAndQueryValueUseTheDefaultValue) {
    EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Sub\\Key", REG_SZ, "data", 1), ERROR_SUCCESS);  // size ignored
    char buf[16];
    LONG cb = sizeof buf;
    EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Sub\\Key", buf, &cb), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "data");
    EXPECT_EQ(cb, 5);
    // Size query and too small.
    cb = 0;
    EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Sub\\Key", nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 5);
    buf[0] = 0;
    cb = 1;
    EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Sub\\Key", buf, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 5);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Sub\\Key", buf, nullptr), ERROR_INVALID_PARAMETER);
    // A key without a default value reads as an empty string.
    cb = sizeof buf;
    buf[0] = 'x';
    EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Sub", buf, &cb), ERROR_SUCCESS);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(cb, 1);
    EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Nope", buf, &cb), ERROR_FILE_NOT_FOUND);
}

TEST_F(Reg, SetValueAcceptsOnlyStrings) {
    EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "K", REG_DWORD, "1234", 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "K", REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "K"));
}

// --- RegEnumKeyExA / RegEnumKeyA ---------------------------------------------

TEST_F(Reg, EnumKeysInCaseInsensitiveOrder) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "E");
    for (const char* n : {"delta", "Alpha", "charlie", "Bravo", "_under", "a1"}) RegCloseKey(create(h, n));
    std::vector<std::string> got;
    char name[32];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        LONG e = RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        EXPECT_EQ(cch, std::strlen(name));
        got.push_back(name);
    }
    // Upper-case folding puts '_' (0x5f) after the letters.
    std::vector<std::string> want = {"a1", "Alpha", "Bravo", "charlie", "delta", "_under"};
    EXPECT_EQ(got, want);
    RegCloseKey(h);
}

TEST_F(Reg, EnumKeyExBufferTooSmall) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "E");
    RegCloseKey(create(h, "Twelve_chars"));
    char name[16];
    memset(name, 0xcc, sizeof name);
    DWORD cch = 12;  // no room for the NUL
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 12u);
    EXPECT_EQ((BYTE)name[0], 0xcc);
    cch = 13;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(cch, 12u);
    EXPECT_EQ((BYTE)name[13], 0xcc);
    EXPECT_EQ(RegEnumKeyA(h, 0, name, 12), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(h, 0, name, 13), ERROR_SUCCESS);
    DWORD reserved = 0;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(h);
}

TEST_F(Reg, EnumKeyExReturnsClassAndTime) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "E");
    HKEY c;
    char cls[] = "MyClass";
    ASSERT_EQ(RegCreateKeyExA(h, "C", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr), ERROR_SUCCESS);
    RegCloseKey(c);
    char name[8], klass[8];
    DWORD cch = sizeof name, cchClass = 3;
    FILETIME ft{0, 0};
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, klass, &cchClass, &ft), ERROR_MORE_DATA);
    cchClass = sizeof klass;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, klass, &cchClass, &ft), ERROR_SUCCESS);
    EXPECT_STREQ(klass, "MyClass");
    EXPECT_EQ(cchClass, 7u);
    EXPECT_NE(ft.dwHighDateTime, 0u);
    RegCloseKey(h);
}

TEST_F(Reg, EnumKeyReindexesAfterDeletion) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "E");
    for (const char* n : {"a", "b", "c", "d"}) RegCloseKey(create(h, n));
    char name[8];
    // Deleting index 0 repeatedly walks the whole list.
    std::string order;
    while (RegEnumKeyA(h, 0, name, sizeof name) == ERROR_SUCCESS) {
        order += name;
        ASSERT_EQ(RegDeleteKeyA(h, name), ERROR_SUCCESS);
    }
    EXPECT_EQ(order, "abcd");
    // Interleaved walk with deletion behind the cursor.
    for (const char* n : {"a", "b", "c", "d"}) RegCloseKey(create(h, n));
    ASSERT_EQ(RegEnumKeyA(h, 2, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "c");
    ASSERT_EQ(RegDeleteKeyA(h, "a"), ERROR_SUCCESS);
    ASSERT_EQ(RegEnumKeyA(h, 2, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "d");
    EXPECT_EQ(RegEnumKeyA(h, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(h);
}

TEST_F(Reg, EnumKeyAnyOrderOfIndexesAgreesWithForwardWalk) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "E");
    char name[16];
    for (int i = 0; i < 50; ++i) {
        std::snprintf(name, sizeof name, "k%02d", (i * 37) % 50);
        RegCloseKey(create(h, name));
    }
    std::vector<std::string> forward;
    for (DWORD i = 0; RegEnumKeyA(h, i, name, sizeof name) == ERROR_SUCCESS; ++i) forward.push_back(name);
    ASSERT_EQ(forward.size(), 50u);
    for (std::size_t i = 0; i < forward.size(); ++i) {
        char want[32];
        std::snprintf(want, sizeof want, "k%02zu", i);
        EXPECT_EQ(forward[i], want);
    }
    // Backwards, and jumping about, give the same names.
    for (DWORD i = 50; i-- > 0;) {
        ASSERT_EQ(RegEnumKeyA(h, i, name, sizeof name), ERROR_SUCCESS);
        EXPECT_EQ(forward[i], name);
    }
    for (DWORD i : {7u, 48u, 3u, 25u, 26u, 0u, 49u}) {
        ASSERT_EQ(RegEnumKeyA(h, i, name, sizeof name), ERROR_SUCCESS);
        EXPECT_EQ(forward[i], name);
    }
    // A key added mid-walk shifts the later indexes.
    ASSERT_EQ(RegEnumKeyA(h, 10, name, sizeof name), ERROR_SUCCESS);
    RegCloseKey(create(h, "k10a"));
    ASSERT_EQ(RegEnumKeyA(h, 11, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "k10a");
    RegCloseKey(h);
}

// --- RegEnumValueA -----------------------------------------------------------

TEST_F(Reg, EnumValuesInOrderFirstWritten) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "V");
    setSz(h, "zeta", "1");
    setSz(h, "alpha", "2");
    setSz(h, "", "default");
    setSz(h, "ZETA", "3");  // rewriting keeps the place
    std::vector<std::string> names;
    char name[16];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        LONG e = RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"zeta", "alpha", ""}));
    ASSERT_EQ(RegDeleteValueA(h, "zeta"), ERROR_SUCCESS);
    DWORD cch = sizeof name;
    ASSERT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "alpha");
    // The name index follows the shift.
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExA(h, "", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 8u);
    RegCloseKey(h);
}

TEST_F(Reg, EnumValueBufferProtocol) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "V");
    setSz(h, "name", "some data");
    char name[8];
    BYTE data[16];
    memset(name, 0xcc, sizeof name);
    memset(data, 0xcc, sizeof data);
    DWORD cch = 4, cb = sizeof data, type = kSentinel;
    // Name too small: its length stays as passed, nothing written.
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, &type, data, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 4u);
    EXPECT_EQ((BYTE)name[0], 0xcc);
    EXPECT_EQ(data[0], 0xcc);
    // Data too small: size needed, neither buffer written.
    cch = sizeof name;
    cb = 4;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, &type, data, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 10u);
    EXPECT_EQ((BYTE)name[0], 0xcc);
    EXPECT_EQ(data[0], 0xcc);
    // Fits exactly.
    cch = 5;
    cb = 10;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, &type, data, &cb), ERROR_SUCCESS);
    EXPECT_STREQ(name, "name");
    EXPECT_EQ(cch, 4u);
    EXPECT_EQ((BYTE)name[5], 0xcc);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_STREQ((char*)data, "some data");
    EXPECT_EQ(data[10], 0xcc);
    // Size only.
    cch = sizeof name;
    cb = 0;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 10u);
    cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(h, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueA(h, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(h);
}

// --- RegQueryInfoKeyA --------------------------------------------------------

TEST_F(Reg, QueryInfoKeyCountsAndMaxima) {
    HKEY h;
    char cls[] = "Cls";
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "I", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(create(h, "short"));
    RegCloseKey(create(h, "muchlonger"));
    setSz(h, "", "0123456789");      // 11 bytes, the default value's name counts 0
    setSz(h, "valuename", "x");
    setDword(h, "d", 1);
    DWORD subKeys = kSentinel, maxSub = kSentinel, maxClass = kSentinel, values = kSentinel, maxName = kSentinel,
          maxData = kSentinel, sd = kSentinel, cchClass = 8;
    char klass[8];
    FILETIME ft{0, 0};
    ASSERT_EQ(RegQueryInfoKeyA(h, klass, &cchClass, nullptr, &subKeys, &maxSub, &maxClass, &values, &maxName, &maxData,
                               &sd, &ft),
              ERROR_SUCCESS);
    EXPECT_STREQ(klass, "Cls");
    EXPECT_EQ(cchClass, 3u);
    EXPECT_EQ(subKeys, 2u);
    EXPECT_EQ(maxSub, 10u);
    EXPECT_EQ(maxClass, 0u);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(maxName, 9u);
    EXPECT_EQ(maxData, 22u);  // NT: the Unicode size of the string
    EXPECT_NE(ft.dwHighDateTime, 0u);
    // Class buffer without its length, reserved, bad handle.
    EXPECT_EQ(RegQueryInfoKeyA(h, klass, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, &reserved, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(info(nullptr, &subKeys), ERROR_INVALID_HANDLE);
    cchClass = 2;
    EXPECT_EQ(RegQueryInfoKeyA(h, klass, &cchClass, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_MORE_DATA);
    RegCloseKey(h);
}

TEST_F(Reg, QueryInfoKeyWin95ReportsAnsiDataSize) {
    machineFor(winsim::Platform::Win95);
    HKEY h = create(HKEY_LOCAL_MACHINE, "I");
    setSz(h, "s", "0123456789");
    DWORD maxData = 0;
    ASSERT_EQ(info(h, nullptr, nullptr, &maxData), ERROR_SUCCESS);
    EXPECT_EQ(maxData, 11u);
    RegCloseKey(h);
}

// --- RegDeleteKeyA -----------------------------------------------------------

TEST_F(Reg, DeleteKeyWithSubkeysNtRefuses) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "T\\Parent\\Child"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "T\\Parent"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "T\\Parent\\Child"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "T\\Parent\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "T\\Parent"), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "T\\Parent"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "T\\Parent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Reg, DeleteKeyWin95DeletesTree) {
    machineFor(winsim::Platform::Win95);
    HKEY child = create(HKEY_LOCAL_MACHINE, "T\\Parent\\Child");
    setSz(child, "v", "x");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "T\\Parent"), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "T\\Parent"));
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "T"));
    // The open handle now names a deleted key.
    EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_SZ, (const BYTE*)"y", 2), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
}

TEST_F(Reg, DeleteKeyArguments) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "Self");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);  // a root stays
    EXPECT_EQ(RegDeleteKeyA(kJunkKey, "Self"), ERROR_INVALID_HANDLE);
    // An empty name deletes the key of the handle itself.
    EXPECT_EQ(RegDeleteKeyA(h, ""), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "Self"));
    DWORD n;
    EXPECT_EQ(info(h, &n), ERROR_KEY_DELETED);
    HKEY sub;
    EXPECT_EQ(RegCreateKeyExA(h, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
}

TEST_F(Reg, RecreatedKeyIsNotTheDeletedOne) {
    HKEY old = create(HKEY_LOCAL_MACHINE, "R");
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "R"), ERROR_SUCCESS);
    HKEY fresh = create(HKEY_LOCAL_MACHINE, "R");
    EXPECT_EQ(RegSetValueExA(old, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExA(fresh, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_SUCCESS);
    RegCloseKey(old);
    RegCloseKey(fresh);
}

// --- RegDeleteValueA ---------------------------------------------------------

TEST_F(Reg, DeleteValue) {
    HKEY h = create(HKEY_LOCAL_MACHINE, "D");
    setSz(h, "a", "1");
    setSz(h, nullptr, "default");
    EXPECT_EQ(RegDeleteValueA(h, "A"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(h, "a"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(h, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(h, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);
}

// --- Access masks ------------------------------------------------------------

TEST_F(Reg, ReadHandleRefusesWrites) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "M"));
    HKEY r;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "M", 0, KEY_READ, &r), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(r, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(r, "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueA(r, nullptr, REG_SZ, "a", 1), ERROR_ACCESS_DENIED);
    RegCloseKey(r);
    HKEY w;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "M", 0, KEY_SET_VALUE, &w), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(w, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_SUCCESS);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExA(w, "v", nullptr, nullptr, nullptr, &cb), ERROR_ACCESS_DENIED);
    char name[8];
    EXPECT_EQ(RegEnumKeyA(w, 0, name, sizeof name), ERROR_ACCESS_DENIED);
    RegCloseKey(w);
    HKEY g;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "M", 0, GENERIC_READ, &g), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(g, "v", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(g, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_ACCESS_DENIED);
    RegCloseKey(g);
}

TEST_F(Reg, Win95IgnoresAccessMasks) {
    machineFor(winsim::Platform::Win95);
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "M"));
    HKEY r;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "M", 0, KEY_READ, &r), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(r, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_SUCCESS);
    RegCloseKey(r);
}

TEST_F(Reg, DeclaredDenialsFromTheImage) {
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner"));
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Secret"));
    auto& r = *winsim::machine().registry;
    r.deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked", false});
    r.deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Secret", true});
    HKEY h = kJunkKey;
    // "write": reading works, every write is refused, also below the key.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
    h = kJunkKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\locked\\inner", 0, KEY_SET_VALUE, &h),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\New", 0, nullptr, 0, KEY_READ, nullptr, &h,
                              nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\New"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked\\Inner"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", REG_SZ, "x", 1), ERROR_ACCESS_DENIED);
    // RegOpenKeyA asks for the most it may have: read access here.
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", &h), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(h, "v", 0, REG_SZ, (const BYTE*)"a", 2), ERROR_ACCESS_DENIED);
    RegCloseKey(h);
    // "all": not even opening for read.
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Secret", 0, KEY_READ, &h), ERROR_ACCESS_DENIED);
    // Creating a key that a rule names is refused too.
    r.deny.push_back({"HKEY_CURRENT_USER\\Future", false});
    EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Future", &h), ERROR_ACCESS_DENIED);
}

// --- Faults ------------------------------------------------------------------

TEST_F(Reg, InjectedFaultsNameTheFunctionAndKey) {
    auto& m = winsim::machine();
    m.faults.push_back({"RegOpenKeyExA", 1, 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\X"});
    m.faults.push_back({"RegSetValueExA", 2, 1, ERROR_DISK_FULL, ""});
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\X"));
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Y"));
    HKEY h = kJunkKey;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\x", 0, KEY_READ, &h), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Y", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    setSz(h, "one", "1");
    EXPECT_EQ(RegSetValueExA(h, "two", 0, REG_SZ, (const BYTE*)"2", 2), ERROR_DISK_FULL);
    setSz(h, "three", "3");
    RegCloseKey(h);
}

TEST_F(Reg, EveryFunctionAsksForFaultsUnderItsOwnName) {
    auto& m = winsim::machine();
    HKEY h = create(HKEY_CURRENT_USER, "F");
    setSz(h, "v", "1");
    RegCloseKey(create(h, "sub"));
    m.callCounts.clear();
    HKEY o;
    char buf[32];
    DWORD cch = sizeof buf, cb = sizeof buf;
    LONG lcb = sizeof buf;
    RegOpenKeyA(HKEY_CURRENT_USER, "F", &o);
    RegCloseKey(o);
    RegOpenKeyExA(HKEY_CURRENT_USER, "F", 0, KEY_READ, &o);
    RegCloseKey(o);
    RegCreateKeyA(h, "c1", &o);
    RegCloseKey(o);
    RegCreateKeyExA(h, "c2", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &o, nullptr);
    RegCloseKey(o);
    RegQueryValueA(h, nullptr, buf, &lcb);
    RegQueryValueExA(h, "v", nullptr, nullptr, (BYTE*)buf, &cb);
    RegSetValueA(h, nullptr, REG_SZ, "x", 1);
    RegSetValueExA(h, "w", 0, REG_SZ, (const BYTE*)"x", 2);
    RegEnumKeyA(h, 0, buf, sizeof buf);
    RegEnumKeyExA(h, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr);
    cch = sizeof buf;
    RegEnumValueA(h, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr);
    info(h);
    RegDeleteKeyA(h, "c1");
    RegDeleteValueA(h, "w");
    RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &o);
    for (const char* name : {"RegOpenKeyA", "RegOpenKeyExA", "RegCreateKeyA", "RegCreateKeyExA", "RegQueryValueA",
                             "RegQueryValueExA", "RegSetValueA", "RegSetValueExA", "RegEnumKeyA", "RegEnumKeyExA",
                             "RegEnumValueA", "RegQueryInfoKeyA", "RegDeleteKeyA", "RegDeleteValueA",
                             "RegConnectRegistryA"}) {
        auto it = m.callCounts.find(name);
        ASSERT_NE(it, m.callCounts.end()) << name;
        EXPECT_EQ(it->second, 1u) << name;
    }
    EXPECT_EQ(m.callCounts["RegCloseKey"], 4u);
    RegCloseKey(h);
}

TEST_F(Reg, FaultTargetsAreFullPathsThroughHandles) {
    HKEY h = create(HKEY_CLASSES_ROOT, ".txt");
    winsim::machine().faults.push_back(
        {"RegSetValueExA", 1, 0, ERROR_WRITE_PROTECT, "hkey_local_machine\\software\\classes\\.TXT"});
    winsim::machine().faults.push_back(
        {"RegDeleteKeyA", 1, 0, ERROR_BUSY, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt\\Sub"});
    EXPECT_EQ(RegSetValueExA(h, "v", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_WRITE_PROTECT);
    RegCloseKey(create(h, "Sub"));
    RegCloseKey(create(h, "Other"));
    EXPECT_EQ(RegDeleteKeyA(h, "Sub\\\\"), ERROR_BUSY);
    EXPECT_EQ(RegDeleteKeyA(h, "Other"), ERROR_SUCCESS);
    RegCloseKey(h);
}

// --- HKEY_PERFORMANCE_DATA and RegConnectRegistryA ---------------------------

TEST_F(Reg, ConnectRegistryLocalAndRemote) {
    HKEY h = kJunkKey;
    EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_LOCAL_MACHINE);
    h = kJunkKey;
    EXPECT_EQ(RegConnectRegistryA("", HKEY_PERFORMANCE_DATA, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_PERFORMANCE_DATA);
    std::string local = winsim::machine().computerName;
    EXPECT_EQ(RegConnectRegistryA(local.c_str(), HKEY_LOCAL_MACHINE, &h), ERROR_SUCCESS);
    EXPECT_EQ(RegConnectRegistryA(("\\\\" + winsim::lower(local)).c_str(), HKEY_USERS, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_USERS);
    h = kJunkKey;
    EXPECT_EQ(RegConnectRegistryA("\\\\OTHERBOX", HKEY_LOCAL_MACHINE, &h), ERROR_BAD_NETPATH);
    EXPECT_EQ(h, kJunkKey);
}

TEST_F(Reg, PerformanceDataQueriesGoToTheProcessFamily) {
    // Whatever the performance-data provider answers reaches the caller
    // unchanged, with the same buffer and size.
    BYTE viaRegistry[64], direct[64];
    memset(viaRegistry, 0xaa, sizeof viaRegistry);
    memset(direct, 0xaa, sizeof direct);
    DWORD cbReg = sizeof viaRegistry, cbDirect = sizeof direct, typeReg = kSentinel, typeDirect = kSentinel;
    LONG viaResult = RegQueryValueExA(HKEY_PERFORMANCE_DATA, "Global", nullptr, &typeReg, viaRegistry, &cbReg);
    LONG directResult = winsim::queryPerformanceData("Global", &typeDirect, direct, &cbDirect);
    EXPECT_EQ(viaResult, directResult);
    EXPECT_EQ(cbReg, cbDirect);
    EXPECT_EQ(typeReg, typeDirect);
    EXPECT_EQ(memcmp(viaRegistry, direct, sizeof direct), 0);
}

TEST_F(Reg, PerformanceDataIsNotAnOrdinaryKey) {
    HKEY h;
    EXPECT_EQ(RegOpenKeyExA(HKEY_PERFORMANCE_DATA, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
    char name[8];
    EXPECT_EQ(RegEnumKeyA(HKEY_PERFORMANCE_DATA, 0, name, sizeof name), ERROR_INVALID_HANDLE);
}

}  // namespace
