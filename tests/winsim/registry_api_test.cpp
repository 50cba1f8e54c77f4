// Conformance tests of the registry functions, grouped per function.
#include "winsim/registry/state.h"
#include "sim.h"

#include <cstdio>
#include <cstring>

namespace {

using sim::kSentinel;
const HKEY kJunkKey = (HKEY)(ULONG_PTR)0x7777;
const HKEY LM = HKEY_LOCAL_MACHINE, CU = HKEY_CURRENT_USER;

// "rc cb type bytes": what a call answered, and the bytes of a buffer
// filled with 0xcc up to the first 0xcc left, so a byte written past what
// was reported, or into a buffer that should stay untouched, shows.
std::string bytes(const BYTE* buf) {
    std::string out;
    for (int i = 0; i < 16 && buf[i] != 0xcc; ++i) out += buf[i] ? std::string(1, (char)buf[i]) : "\\0";
    return out;
}
std::string said(LONG rc, DWORD cb, DWORD type, const BYTE* buf) {
    return std::to_string(rc) + " " + std::to_string(cb) + " " + std::to_string(type) + " " + bytes(buf);
}
std::string want(LONG rc, DWORD cb, DWORD type, const std::string& bytes = "") {
    return std::to_string(rc) + " " + std::to_string(cb) + " " + std::to_string(type) + " " + bytes;
}

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
    LONG setSz(HKEY h, const char* name, const char* text) {
        return RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)text, (DWORD)std::strlen(text) + 1);
    }
    void setDword(HKEY h, const char* name, DWORD v) {
        EXPECT_EQ(RegSetValueExA(h, name, 0, REG_DWORD, (const BYTE*)&v, 4), ERROR_SUCCESS);
    }
    LONG open(HKEY parent, const char* path, REGSAM sam = KEY_READ, HKEY* out = nullptr) {
        HKEY h = kJunkKey;
        LONG e = RegOpenKeyExA(parent, path, 0, sam, &h);
        if (out) *out = h;
        else if (e == ERROR_SUCCESS) RegCloseKey(h);
        return e;
    }
    bool exists(HKEY parent, const char* path) { return open(parent, path) == ERROR_SUCCESS; }
    // RegQueryInfoKeyA for the counts of subkeys and values and the longest data.
    static LONG info(HKEY h, DWORD* subKeys = nullptr, DWORD* values = nullptr, DWORD* maxData = nullptr) {
        return RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr, maxData,
                                nullptr, nullptr);
    }
    // RegQueryValueExA into a buffer of `cb` bytes, or none (the size 77 passed) when `cb` is ~0.
    std::string query(HKEY h, const char* name, DWORD cb) {
        BYTE buf[32];
        std::memset(buf, 0xcc, sizeof buf);
        DWORD type = kSentinel, n = cb == ~0u ? 77 : cb;
        LONG rc = RegQueryValueExA(h, name, nullptr, &type, cb == ~0u ? nullptr : buf, &n);
        return said(rc, n, type, buf);
    }
    // RegEnumValueA with a name buffer of `cch` and a data buffer of `cb`.
    std::string enumValue(HKEY h, DWORD i, DWORD cch, DWORD cb) {
        char name[16];
        BYTE data[32];
        std::memset(name, 0xcc, sizeof name);
        std::memset(data, 0xcc, sizeof data);
        DWORD type = kSentinel;
        LONG rc = RegEnumValueA(h, i, name, &cch, nullptr, &type, data, &cb);
        return std::to_string(cch) + " " + bytes((BYTE*)name) + "|" + said(rc, cb, type, data);
    }
    std::vector<std::string> subkeys(HKEY h) {
        std::vector<std::string> got;
        char name[32];
        for (DWORD i = 0;; ++i) {
            DWORD cch = sizeof name;
            LONG e = RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
            if (e != ERROR_SUCCESS) {
                EXPECT_EQ(e, ERROR_NO_MORE_ITEMS);
                return got;
            }
            EXPECT_EQ(cch, std::strlen(name));
            got.push_back(name);
        }
    }
    void TearDown() override { EXPECT_EQ(GetLastError(), kSentinel) << "the registry never sets the last error"; }
};

// --- RegOpenKeyExA / RegOpenKeyA / RegCreateKeyExA / RegCreateKeyA -----------

TEST_F(Reg, OpenAndCreate) {
    HKEY h = kJunkKey;
    RegCloseKey(create(LM, "SOFTWARE\\Vendor\\Product"));
    EXPECT_EQ(open(LM, "software\\VENDOR\\product", KEY_READ, &h), ERROR_SUCCESS);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    // A missing key: the result cleared, nothing created.
    EXPECT_EQ(RegOpenKeyA(LM, "SOFTWARE\\Missing", &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(exists(LM, "SOFTWARE\\Missing"));
    // The case of the first creation stays.
    RegCloseKey(create(CU, "MixedCase"));
    RegCloseKey(create(CU, "MIXEDCASE"));
    EXPECT_EQ(subkeys(CU), std::vector<std::string>{"MixedCase"});
    // HKEY_CLASSES_ROOT is SOFTWARE\Classes.
    RegCloseKey(create(HKEY_CLASSES_ROOT, ".txt"));
    EXPECT_TRUE(exists(LM, "SOFTWARE\\Classes\\.txt"));
    // A parent handle's rights are not checked when a key is created below it.
    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegCreateKeyExA(CU, "P", 0, nullptr, 0, KEY_NOTIFY, nullptr, &parent, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(parent, "C", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &child, nullptr), ERROR_SUCCESS);
    RegCloseKey(child);
    RegCloseKey(parent);
}

TEST_F(Reg, OpenAndCreateParameterErrors) {
    HKEY h = kJunkKey, bad;
    const struct {
        const char* call;
        LONG got, want;
    } rows[] = {
        {"open, no result", RegOpenKeyExA(LM, "X", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER},
        {"RegOpenKeyA, no result", RegOpenKeyA(LM, "X", nullptr), ERROR_INVALID_PARAMETER},
        {"open a null key", RegOpenKeyExA(nullptr, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE},
        {"open below a junk key", RegOpenKeyExA(kJunkKey, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE},
        {"create, no result", RegCreateKeyExA(LM, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
         ERROR_INVALID_PARAMETER},
        {"create below a junk key", RegCreateKeyExA(kJunkKey, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
         ERROR_INVALID_HANDLE},
        {"create, leading backslash", RegCreateKeyExA(LM, "\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad, nullptr),
         ERROR_BAD_PATHNAME},
        {"RegCreateKeyA, no result", RegCreateKeyA(LM, "A", nullptr), ERROR_INVALID_PARAMETER},
    };
    for (auto& r : rows) EXPECT_EQ(r.got, r.want) << r.call;
    EXPECT_EQ(h, kJunkKey) << "an invalid handle leaves the result alone";
    // NT refuses a leading backslash; trailing ones are ignored.
    RegCloseKey(create(CU, "Software"));
    EXPECT_EQ(open(CU, "\\Software"), ERROR_BAD_PATHNAME);
    EXPECT_EQ(open(CU, "Software\\\\"), ERROR_SUCCESS);
}

TEST_F(Reg, EmptySubkeyNamesSharedHandlesAndClosing) {
    // RegOpenKeyA with no or an empty name returns the handle passed, even null.
    for (HKEY parent : {CU, (HKEY) nullptr})
        for (const char* name : {(const char*)nullptr, ""}) {
            HKEY h = kJunkKey;
            EXPECT_EQ(RegOpenKeyA(parent, name, &h), ERROR_SUCCESS);
            EXPECT_EQ(h, parent);
        }
    // RegOpenKeyExA with an empty name opens a new handle to the same key.
    HKEY k = create(CU, "A"), again = nullptr;
    EXPECT_EQ(open(k, "", KEY_READ, &again), ERROR_SUCCESS);
    EXPECT_NE(again, k);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    // NT hands out a handle per open, Windows 95 one per key, counted.
    HKEY a, b;
    for (auto p : {winsim::Platform::NT, winsim::Platform::Win95}) {
        machineFor(p);
        RegCloseKey(create(LM, "K"));
        ASSERT_EQ(open(LM, "K", KEY_READ, &a), ERROR_SUCCESS);
        ASSERT_EQ(open(LM, "K", KEY_READ, &b), ERROR_SUCCESS);
        EXPECT_EQ(a == b, p == winsim::Platform::Win95);
    }
    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    DWORD n = 99;
    EXPECT_EQ(info(b, &n), ERROR_SUCCESS) << "still open once more";
    EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(b), ERROR_BADKEY);
    machineFor(winsim::Platform::NT);
    HKEY h = create(LM, "A");
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(LM), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_PERFORMANCE_DATA), ERROR_SUCCESS);
    EXPECT_EQ(info(h, &n), ERROR_INVALID_HANDLE) << "a closed handle no longer works";
}

// --- RegSetValueExA / RegQueryValueExA / RegSetValueA / RegQueryValueA -------

TEST_F(Reg, QueryValueExBufferProtocol) {
    HKEY h = create(LM, "V");
    ASSERT_EQ(setSz(h, "Name", "hello"), ERROR_SUCCESS);
    EXPECT_EQ(query(h, "name", 3), want(ERROR_MORE_DATA, 6, REG_SZ));            // too small: untouched
    EXPECT_EQ(query(h, "Name", 6), want(ERROR_SUCCESS, 6, REG_SZ, "hello\\0"));  // exact fit
    // A missing value: the size cleared only without a buffer, nothing else touched.
    EXPECT_EQ(query(h, "none", ~0u), want(ERROR_FILE_NOT_FOUND, 0, kSentinel));
    EXPECT_EQ(query(h, "none", 4), want(ERROR_FILE_NOT_FOUND, 4, kSentinel));
    setDword(h, "d", 7);
    BYTE buf[4];
    DWORD reserved = 0, cb = 4;
    EXPECT_EQ(RegQueryValueExA(h, "d", &reserved, nullptr, buf, &cb), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(h, "d", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(nullptr, "d", nullptr, nullptr, buf, &cb), ERROR_INVALID_HANDLE);
    RegCloseKey(h);
}

TEST_F(Reg, SetValueExStringSizesAndReplacement) {
    HKEY h = create(LM, "S");
    const char text[] = "FullString";
    // Size without the NUL: NT still stores the terminated string.
    ASSERT_EQ(RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 10), ERROR_SUCCESS);
    EXPECT_EQ(query(h, "a", ~0u), want(ERROR_SUCCESS, 11, REG_SZ));
    // Shorter: the bytes given, no NUL; the query adds one when there is room.
    ASSERT_EQ(RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 9), ERROR_SUCCESS);
    EXPECT_EQ(query(h, "a", 9), want(ERROR_SUCCESS, 9, REG_SZ, "FullStrin"));
    EXPECT_EQ(query(h, "a", 10), want(ERROR_SUCCESS, 9, REG_SZ, "FullStrin\\0"));
    ASSERT_EQ(RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 0), ERROR_SUCCESS);
    EXPECT_EQ(query(h, "a", ~0u), want(ERROR_SUCCESS, 0, REG_SZ));
    EXPECT_EQ(RegSetValueExA(h, "b", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    // A value written again under another case takes the new type and data.
    setDword(h, "A", 0x01020304);
    DWORD data = 0, cb = sizeof data, type = 0, values = 0;
    EXPECT_EQ(RegQueryValueExA(h, "a", nullptr, &type, (BYTE*)&data, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(data, 0x01020304u);
    info(h, nullptr, &values);
    EXPECT_EQ(values, 1u);
    RegCloseKey(h);
}

TEST_F(Reg, SetValueAndQueryValueUseTheDefaultValue) {
    EXPECT_EQ(RegSetValueA(CU, "Sub\\Key", REG_SZ, "data", 1), ERROR_SUCCESS);  // the size is ignored
    // RegQueryValueA into a buffer of `cb` bytes, or none when `cb` is negative.
    auto query = [](const char* sub, LONG cb) {
        BYTE buf[32];
        std::memset(buf, 0xcc, sizeof buf);
        LONG n = cb < 0 ? 0 : cb;
        LONG rc = RegQueryValueA(CU, sub, cb < 0 ? nullptr : (char*)buf, &n);
        return said(rc, n, 0, buf);
    };
    EXPECT_EQ(query("Sub\\Key", 16), want(ERROR_SUCCESS, 5, 0, "data\\0"));
    EXPECT_EQ(query("Sub\\Key", -1), want(ERROR_SUCCESS, 5, 0));
    EXPECT_EQ(query("Sub\\Key", 1), want(ERROR_MORE_DATA, 5, 0));
    EXPECT_EQ(query("Sub", 0), want(ERROR_MORE_DATA, 1, 0));
    EXPECT_EQ(query("Sub", 16), want(ERROR_SUCCESS, 1, 0, "\\0")) << "no default value reads as an empty string";
    char buf[16];
    EXPECT_EQ(RegQueryValueA(CU, "Sub\\Key", buf, nullptr), ERROR_INVALID_PARAMETER);
    LONG cb = sizeof buf;
    EXPECT_EQ(RegQueryValueA(CU, "Nope", buf, &cb), ERROR_FILE_NOT_FOUND);
    // Strings only.
    EXPECT_EQ(RegSetValueA(CU, "K", REG_DWORD, "1234", 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueA(CU, "K", REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(exists(CU, "K"));
}

// --- RegEnumKeyExA / RegEnumKeyA ---------------------------------------------

TEST_F(Reg, EnumKeys) {
    HKEY h = create(LM, "E");
    for (const char* n : {"delta", "Alpha", "charlie", "Bravo", "_under", "a1"}) RegCloseKey(create(h, n));
    // Upper-case folding puts '_' (0x5f) after the letters.
    EXPECT_EQ(subkeys(h), (std::vector<std::string>{"a1", "Alpha", "Bravo", "charlie", "delta", "_under"}));
    HKEY e = create(LM, "E2"), c;
    char cls[] = "MyClass";
    ASSERT_EQ(RegCreateKeyExA(e, "Twelve_chars", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr), ERROR_SUCCESS);
    RegCloseKey(c);
    char name[16], klass[8];
    std::memset(name, 0xcc, sizeof name);
    DWORD cch = 12, cchClass = sizeof klass;  // no room for the NUL
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 12u);
    EXPECT_EQ((BYTE)name[0], 0xcc);
    FILETIME ft{0, 0};
    cch = 13;
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &cch, nullptr, klass, &cchClass, &ft), ERROR_SUCCESS);
    EXPECT_EQ(cch, 12u);
    EXPECT_EQ((BYTE)name[13], 0xcc);
    EXPECT_STREQ(klass, "MyClass");
    EXPECT_EQ(cchClass, 7u);
    EXPECT_NE(ft.dwHighDateTime, 0u);
    cchClass = 3;
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &cch, nullptr, klass, &cchClass, &ft), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(e, 0, name, 12), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(e, 0, name, 13), ERROR_SUCCESS);
    DWORD reserved = 0;
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &cch, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(e);
    RegCloseKey(h);
}

TEST_F(Reg, EnumKeyIndexesFollowDeletionsAndAdditions) {
    HKEY h = create(LM, "E");
    for (const char* n : {"a", "b", "c", "d"}) RegCloseKey(create(h, n));
    char name[16];
    // Deleting index 0 repeatedly walks the whole list.
    std::string order;
    while (RegEnumKeyA(h, 0, name, sizeof name) == ERROR_SUCCESS) {
        order += name;
        ASSERT_EQ(RegDeleteKeyA(h, name), ERROR_SUCCESS);
    }
    EXPECT_EQ(order, "abcd");
    // A deletion behind the cursor shifts the later indexes.
    for (const char* n : {"a", "b", "c", "d"}) RegCloseKey(create(h, n));
    ASSERT_EQ(RegEnumKeyA(h, 2, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "c");
    ASSERT_EQ(RegDeleteKeyA(h, "a"), ERROR_SUCCESS);
    ASSERT_EQ(RegEnumKeyA(h, 2, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "d");
    EXPECT_EQ(RegEnumKeyA(h, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);
    // Fifty keys: any order of indexes agrees with the forward walk.
    HKEY f = create(LM, "F");
    for (int i = 0; i < 50; ++i) {
        std::snprintf(name, sizeof name, "k%02d", (i * 37) % 50);
        RegCloseKey(create(f, name));
    }
    std::vector<std::string> forward = subkeys(f);
    ASSERT_EQ(forward.size(), 50u);
    for (DWORD i : {49u, 48u, 7u, 3u, 25u, 26u, 0u, 10u, 1u}) {
        ASSERT_EQ(RegEnumKeyA(f, i, name, sizeof name), ERROR_SUCCESS);
        EXPECT_EQ(forward[i], name);
        EXPECT_EQ(forward[i], (i < 10 ? "k0" : "k") + std::to_string(i));
    }
    // A key added mid-walk shifts the later indexes.
    RegCloseKey(create(f, "k10a"));
    ASSERT_EQ(RegEnumKeyA(f, 11, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "k10a");
    RegCloseKey(f);
    RegCloseKey(h);
}

// --- RegEnumValueA -----------------------------------------------------------

TEST_F(Reg, EnumValues) {
    HKEY h = create(LM, "V");
    for (const char* n : {"zeta", "alpha", "", "ZETA"}) setSz(h, n, "default");  // rewriting keeps the place
    std::vector<std::string> names;
    char name[16];
    DWORD cch = sizeof name;
    for (DWORD i = 0; RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names.push_back(name);
        cch = sizeof name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"zeta", "alpha", ""}));
    ASSERT_EQ(RegDeleteValueA(h, "zeta"), ERROR_SUCCESS);
    EXPECT_EQ(enumValue(h, 0, 16, 32), "5 alpha\\0|0 8 1 default\\0");
    EXPECT_EQ(query(h, "", ~0u), want(ERROR_SUCCESS, 8, REG_SZ)) << "the name index follows the shift";
    // Data too small: the size needed, neither buffer written; both fitting exactly.
    HKEY b = create(LM, "B");
    setSz(b, "name", "some data");
    EXPECT_EQ(enumValue(b, 0, 16, 4).rfind("16 |234 10 ", 0), 0u) << enumValue(b, 0, 16, 4);
    EXPECT_EQ(enumValue(b, 0, 5, 10), "4 name\\0|0 10 1 some data\\0");
    cch = sizeof name;
    DWORD cb = 0;
    EXPECT_EQ(RegEnumValueA(b, 0, name, &cch, nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 10u);
    EXPECT_EQ(RegEnumValueA(b, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueA(b, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumValueA(b, 0, name, &cch, nullptr, nullptr, (BYTE*)name, nullptr), ERROR_INVALID_PARAMETER);
    RegCloseKey(b);
    RegCloseKey(h);
}

// --- RegQueryInfoKeyA --------------------------------------------------------

TEST_F(Reg, QueryInfoKeyCountsAndMaxima) {
    HKEY h;
    char cls[] = "Cls";
    ASSERT_EQ(RegCreateKeyExA(LM, "I", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
    RegCloseKey(create(h, "short"));
    RegCloseKey(create(h, "muchlonger"));
    setSz(h, "", "0123456789");  // 11 bytes, the default value's name counts 0
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
    EXPECT_EQ((std::vector<DWORD>{cchClass, subKeys, maxSub, maxClass, values, maxName}),
              (std::vector<DWORD>{3, 2, 10, 0, 3, 9}));
    EXPECT_EQ(maxData, 22u);  // NT: the Unicode size of the string
    EXPECT_NE(ft.dwHighDateTime, 0u);
    DWORD reserved = 0;
    for (auto [cch, rsv] : {std::pair<DWORD*, DWORD*>{nullptr, nullptr}, {&cchClass, &reserved}})
        EXPECT_EQ(RegQueryInfoKeyA(h, klass, cch, rsv, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr),
                  ERROR_INVALID_PARAMETER);
    EXPECT_EQ(info(nullptr, &subKeys), ERROR_INVALID_HANDLE);
    RegCloseKey(h);
}

// --- RegDeleteKeyA / RegDeleteValueA -----------------------------------------

TEST_F(Reg, DeleteKeyAndValue) {
    RegCloseKey(create(LM, "T\\Parent\\Child"));
    EXPECT_EQ(RegDeleteKeyA(LM, "T\\Parent\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(LM, "T\\Parent"), ERROR_SUCCESS);
    EXPECT_FALSE(exists(LM, "T\\Parent"));
    // Arguments; an empty name deletes the key of the handle itself.
    HKEY h = create(LM, "Self");
    EXPECT_EQ(RegDeleteKeyA(LM, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(LM, ""), ERROR_ACCESS_DENIED);  // a root stays
    EXPECT_EQ(RegDeleteKeyA(kJunkKey, "Self"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyA(h, ""), ERROR_SUCCESS);
    EXPECT_FALSE(exists(LM, "Self"));
    DWORD n;
    EXPECT_EQ(info(h, &n), ERROR_KEY_DELETED);
    HKEY sub;
    EXPECT_EQ(RegCreateKeyExA(h, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    // A key created again under the name is not the deleted one.
    HKEY old = create(LM, "R");
    ASSERT_EQ(RegDeleteKeyA(LM, "R"), ERROR_SUCCESS);
    HKEY fresh = create(LM, "R");
    EXPECT_EQ(setSz(old, "v", "a"), ERROR_KEY_DELETED);
    EXPECT_EQ(setSz(fresh, "v", "a"), ERROR_SUCCESS);
    RegCloseKey(old);
    RegCloseKey(fresh);
    // Windows 95 deletes the whole tree; an open handle then names a deleted key.
    machineFor(winsim::Platform::Win95);
    HKEY child = create(LM, "T\\Parent\\Child");
    EXPECT_EQ(RegDeleteKeyA(LM, "T\\Parent"), ERROR_SUCCESS);
    EXPECT_TRUE(exists(LM, "T"));
    EXPECT_EQ(setSz(child, "v", "y"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    h = create(LM, "D");
    setSz(h, "a", "1");
    setSz(h, nullptr, "default");
    EXPECT_EQ(RegDeleteValueA(h, "A"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(h, "a"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(h, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(h, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);
}

// --- Access masks and declared denials ---------------------------------------

TEST_F(Reg, HandleRightsDecideOnNt) {
    RegCloseKey(create(LM, "M"));
    HKEY r, w, g;
    ASSERT_EQ(open(LM, "M", KEY_READ, &r), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(r, "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueA(r, nullptr, REG_SZ, "a", 1), ERROR_ACCESS_DENIED);
    RegCloseKey(r);
    ASSERT_EQ(open(LM, "M", KEY_SET_VALUE, &w), ERROR_SUCCESS);
    EXPECT_EQ(setSz(w, "v", "a"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(w, "v", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    char name[8];
    EXPECT_EQ(RegEnumKeyA(w, 0, name, sizeof name), ERROR_ACCESS_DENIED);
    RegCloseKey(w);
    ASSERT_EQ(open(LM, "M", GENERIC_READ, &g), ERROR_SUCCESS);
    EXPECT_EQ(query(g, "v", ~0u), want(ERROR_SUCCESS, 2, REG_SZ));
    EXPECT_EQ(setSz(g, "v", "a"), ERROR_ACCESS_DENIED);
    RegCloseKey(g);
}

TEST_F(Reg, DeclaredDenialsFromTheImage) {
    RegCloseKey(create(LM, "SOFTWARE\\Locked\\Inner"));
    RegCloseKey(create(LM, "SOFTWARE\\Secret"));
    auto& r = *winsim::machine().registry;
    r.deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked", false});
    r.deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Secret", true});
    r.deny.push_back({"HKEY_CURRENT_USER\\Future", false});
    HKEY h = kJunkKey;
    // "write": reading works, every write is refused, also below the key.
    EXPECT_EQ(open(LM, "SOFTWARE\\Locked"), ERROR_SUCCESS);
    EXPECT_EQ(open(LM, "software\\locked\\inner", KEY_SET_VALUE, &h), ERROR_ACCESS_DENIED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(RegCreateKeyExA(LM, "SOFTWARE\\Locked\\New", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(exists(LM, "SOFTWARE\\Locked\\New"));
    EXPECT_EQ(RegDeleteKeyA(LM, "SOFTWARE\\Locked\\Inner"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueA(LM, "SOFTWARE\\Locked", REG_SZ, "x", 1), ERROR_ACCESS_DENIED);
    // RegOpenKeyA asks for the most it may have: read access here.
    ASSERT_EQ(RegOpenKeyA(LM, "SOFTWARE\\Locked", &h), ERROR_SUCCESS);
    EXPECT_EQ(setSz(h, "v", "a"), ERROR_ACCESS_DENIED);
    RegCloseKey(h);
    // "all": not even opening for read. Creating a key a rule names is refused too.
    EXPECT_EQ(open(LM, "SOFTWARE\\Secret"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyA(CU, "Future", &h), ERROR_ACCESS_DENIED);
}

// --- Faults ------------------------------------------------------------------

// Counting calls is the core's matter, faults on keys the program opens the
// scenarios'; here the full path of a key reached through a handle.
TEST_F(Reg, InjectedFaultsNameTheFullPath) {
    auto& m = winsim::machine();
    HKEY h = create(HKEY_CLASSES_ROOT, ".txt");
    m.faults.push_back({"RegSetValueExA", 1, 0, ERROR_WRITE_PROTECT, "hkey_local_machine\\software\\classes\\.TXT"});
    m.faults.push_back({"RegDeleteKeyA", 1, 0, ERROR_BUSY, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt\\Sub"});
    EXPECT_EQ(setSz(h, "v", "x"), ERROR_WRITE_PROTECT);
    RegCloseKey(create(h, "Sub"));
    RegCloseKey(create(h, "Other"));
    EXPECT_EQ(RegDeleteKeyA(h, "Sub\\\\"), ERROR_BUSY);
    EXPECT_EQ(RegDeleteKeyA(h, "Other"), ERROR_SUCCESS);
    RegCloseKey(h);
}

TEST_F(Reg, EveryFunctionAsksForFaultsUnderItsOwnName) {
    auto& m = winsim::machine();
    HKEY h = create(CU, "F");
    setSz(h, "v", "1");
    RegCloseKey(create(h, "sub"));
    m.callCounts.clear();
    HKEY o;
    char buf[32];
    DWORD cch = sizeof buf, cb = sizeof buf;
    LONG lcb = sizeof buf;
    RegOpenKeyA(CU, "F", &o);
    RegCloseKey(o);
    RegOpenKeyExA(CU, "F", 0, KEY_READ, &o);
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
    RegConnectRegistryA(nullptr, LM, &o);
    std::string counted;
    for (auto& [name, n] : m.callCounts) counted += name + "=" + std::to_string(n) + " ";
    EXPECT_EQ(counted,
              "RegCloseKey=4 RegConnectRegistryA=1 RegCreateKeyA=1 RegCreateKeyExA=1 RegDeleteKeyA=1 RegDeleteValueA=1 "
              "RegEnumKeyA=1 RegEnumKeyExA=1 RegEnumValueA=1 RegOpenKeyA=1 RegOpenKeyExA=1 RegQueryInfoKeyA=1 "
              "RegQueryValueA=1 RegQueryValueExA=1 RegSetValueA=1 RegSetValueExA=1 ");
    RegCloseKey(h);
}

// --- HKEY_PERFORMANCE_DATA and RegConnectRegistryA ---------------------------

TEST_F(Reg, ConnectRegistryLocalAndRemote) {
    HKEY h = kJunkKey;
    EXPECT_EQ(RegConnectRegistryA(nullptr, LM, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, LM);
    h = kJunkKey;
    EXPECT_EQ(RegConnectRegistryA("", HKEY_PERFORMANCE_DATA, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_PERFORMANCE_DATA);
    std::string local = winsim::machine().computerName;
    EXPECT_EQ(RegConnectRegistryA(local.c_str(), LM, &h), ERROR_SUCCESS);
    EXPECT_EQ(RegConnectRegistryA(("\\\\" + winsim::lower(local)).c_str(), HKEY_USERS, &h), ERROR_SUCCESS);
    EXPECT_EQ(h, HKEY_USERS);
    h = kJunkKey;
    EXPECT_EQ(RegConnectRegistryA("\\\\OTHERBOX", LM, &h), ERROR_BAD_NETPATH);
    EXPECT_EQ(h, kJunkKey);
}

// What a query of it answers is the performance-data cases' matter.
TEST_F(Reg, PerformanceDataIsNoOrdinaryKey) {
    char name[8];
    EXPECT_EQ(open(HKEY_PERFORMANCE_DATA, "X"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyA(HKEY_PERFORMANCE_DATA, 0, name, sizeof name), ERROR_INVALID_HANDLE);
}

}  // namespace
