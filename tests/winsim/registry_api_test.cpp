// The registry functions on NT and Windows 95: what the conformance cases do
// not reach (parameter errors, buffer bytes, handles, denials, faults).
#include "winsim/registry/state.h"
#include "sim.h"

#include <cstdio>
#include <cstring>

namespace {

using sim::kSentinel;
const HKEY kJunkKey = (HKEY)(ULONG_PTR)0x7777;
const HKEY LM = HKEY_LOCAL_MACHINE, CU = HKEY_CURRENT_USER;

// A call's result and the one expected; rows are checked in order.
struct Rc {
    LONG got, want;
};
void check(std::initializer_list<Rc> rows) {
    int i = 0;
    for (const Rc& r : rows) EXPECT_EQ(r.got, r.want) << "row " << i++;
}

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

struct Reg : ::testing::Test {
    void SetUp() override { machineFor(winsim::Platform::NT); }
    void machineFor(winsim::Platform p) {
        sim::fresh(p);
        SetLastError(kSentinel);
    }
    HKEY create(HKEY parent, const char* path, const char* cls = nullptr, REGSAM sam = KEY_ALL_ACCESS) {
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(parent, path, 0, (LPSTR)cls, 0, sam, nullptr, &h, nullptr), ERROR_SUCCESS) << path;
        return h;
    }
    LONG setSz(HKEY h, const char* name, const char* text) {
        return RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)text, (DWORD)std::strlen(text) + 1);
    }
    LONG setDword(HKEY h, const char* name, DWORD v) { return RegSetValueExA(h, name, 0, REG_DWORD, (BYTE*)&v, 4); }
    LONG open(HKEY parent, const char* path, REGSAM sam = KEY_READ, HKEY* out = nullptr) {
        HKEY h = kJunkKey;
        LONG e = RegOpenKeyExA(parent, path, 0, sam, &h);
        if (out) *out = h;
        else if (e == ERROR_SUCCESS) RegCloseKey(h);
        return e;
    }
    bool exists(HKEY parent, const char* path) { return open(parent, path) == ERROR_SUCCESS; }
    static LONG info(HKEY h, DWORD* subKeys = nullptr, DWORD* values = nullptr) {
        return RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr, nullptr,
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
    // The subkey names, space-separated, through RegEnumKeyExA.
    std::string subkeys(HKEY h) {
        std::string got;
        char name[32];
        for (DWORD i = 0;; ++i) {
            DWORD cch = sizeof name;
            LONG e = RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
            if (e != ERROR_SUCCESS) {
                EXPECT_EQ(e, ERROR_NO_MORE_ITEMS);
                return got;
            }
            EXPECT_EQ(cch, std::strlen(name));
            got += (i ? " " : "") + std::string(name);
        }
    }
    void TearDown() override { EXPECT_EQ(GetLastError(), kSentinel) << "the registry never sets the last error"; }
};

TEST_F(Reg, OpenAndCreate) {
    HKEY h = kJunkKey, bad = kJunkKey;
    RegCloseKey(create(LM, "SOFTWARE\\Vendor\\Product"));
    RegCloseKey(create(CU, "MixedCase"));
    RegCloseKey(create(CU, "MIXEDCASE"));
    RegCloseKey(create(HKEY_CLASSES_ROOT, ".txt"));
    RegCloseKey(create(CU, "Software"));
    HKEY parent = create(CU, "P", nullptr, KEY_NOTIFY), child;
    check({
        {open(LM, "software\\VENDOR\\product"), ERROR_SUCCESS},
        {open(LM, "SOFTWARE\\Classes\\.txt"), ERROR_SUCCESS},  // HKEY_CLASSES_ROOT is SOFTWARE\Classes
        {open(CU, "\\Software"), ERROR_BAD_PATHNAME},          // NT refuses a leading backslash
        {open(CU, "Software\\\\"), ERROR_SUCCESS},             // trailing ones are ignored
        // A parent handle's rights are not checked when a key is created below it.
        {RegCreateKeyExA(parent, "C", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &child, nullptr), ERROR_SUCCESS},
        {RegOpenKeyExA(LM, "X", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER},
        {RegOpenKeyA(LM, "X", nullptr), ERROR_INVALID_PARAMETER},
        {RegOpenKeyExA(nullptr, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE},
        {RegOpenKeyExA(kJunkKey, "X", 0, KEY_READ, &h), ERROR_INVALID_HANDLE},
        {RegCreateKeyExA(LM, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER},
        {RegCreateKeyExA(kJunkKey, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_INVALID_HANDLE},
        {RegCreateKeyExA(LM, "\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &bad, nullptr), ERROR_BAD_PATHNAME},
        {RegCreateKeyA(LM, "A", nullptr), ERROR_INVALID_PARAMETER},
    });
    EXPECT_EQ(h, kJunkKey) << "an invalid handle leaves the result alone";
    EXPECT_EQ(subkeys(CU), "MixedCase P Software") << "the case of the first creation stays";
    // A missing key: the result cleared, nothing created.
    EXPECT_EQ(RegOpenKeyA(LM, "SOFTWARE\\Missing", &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_FALSE(exists(LM, "SOFTWARE\\Missing"));
    RegCloseKey(child);
    RegCloseKey(parent);
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
    check({{RegCloseKey(again), ERROR_SUCCESS}, {RegCloseKey(k), ERROR_SUCCESS}});
    // NT hands out a handle per open, Windows 95 one per key, counted.
    HKEY a, b;
    for (auto p : {winsim::Platform::NT, winsim::Platform::Win95}) {
        machineFor(p);
        RegCloseKey(create(LM, "K"));
        ASSERT_EQ(open(LM, "K", KEY_READ, &a), ERROR_SUCCESS);
        ASSERT_EQ(open(LM, "K", KEY_READ, &b), ERROR_SUCCESS);
        EXPECT_EQ(a == b, p == winsim::Platform::Win95);
    }
    DWORD n = 99;
    check({
        {RegCloseKey(a), ERROR_SUCCESS},
        {info(b, &n), ERROR_SUCCESS},  // still open once more
        {RegCloseKey(b), ERROR_SUCCESS},
        {RegCloseKey(b), ERROR_BADKEY},
    });
    machineFor(winsim::Platform::NT);
    HKEY h = create(LM, "A");
    check({
        {RegCloseKey(h), ERROR_SUCCESS},
        {RegCloseKey(h), ERROR_INVALID_HANDLE},
        {RegCloseKey(nullptr), ERROR_INVALID_HANDLE},
        {RegCloseKey(LM), ERROR_SUCCESS},
        {RegCloseKey(HKEY_PERFORMANCE_DATA), ERROR_SUCCESS},
        {info(h, &n), ERROR_INVALID_HANDLE},  // a closed handle no longer works
    });
}

TEST_F(Reg, SetAndQueryValueBuffers) {
    HKEY h = create(LM, "V");
    const char text[] = "FullString";
    BYTE buf[4];
    DWORD reserved = 0, cb = 4;
    ASSERT_EQ(setSz(h, "Name", "hello"), ERROR_SUCCESS);
    ASSERT_EQ(setDword(h, "d", 7), ERROR_SUCCESS);
    check({
        {RegQueryValueExA(h, "d", &reserved, nullptr, buf, &cb), ERROR_INVALID_PARAMETER},
        {RegQueryValueExA(h, "d", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER},
        {RegQueryValueExA(nullptr, "d", nullptr, nullptr, buf, &cb), ERROR_INVALID_HANDLE},
        {RegSetValueExA(h, "b", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS},
    });
    // Each row: what the call before it left, read into a buffer of the size given.
    std::string got = query(h, "name", 3) + "\n" + query(h, "Name", 6) + "\n" + query(h, "none", ~0u) + "\n" +
                      query(h, "none", 4) + "\n";
    // Size without the NUL: NT still stores the terminated string.
    RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 10);
    got += query(h, "a", ~0u) + "\n";
    // Shorter: the bytes given, no NUL; the query adds one when there is room.
    RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 9);
    got += query(h, "a", 9) + "\n" + query(h, "a", 10) + "\n";
    RegSetValueExA(h, "a", 0, REG_SZ, (const BYTE*)text, 0);
    got += query(h, "a", ~0u) + "\n";
    // A value written again under another case takes the new type and data.
    setDword(h, "A", 0x34333231);
    got += query(h, "a", 8) + "\n";
    EXPECT_EQ(got, R"(234 6 1 
0 6 1 hello\0
2 0 3735928559 
2 4 3735928559 
0 11 1 
0 9 1 FullStrin
0 9 1 FullStrin\0
0 0 1 
0 4 4 1234
)");
    DWORD values = 0;
    info(h, nullptr, &values);
    EXPECT_EQ(values, 3u);
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
        return said(rc, n, 0, buf) + "\n";
    };
    // No default value reads as an empty string.
    EXPECT_EQ(query("Sub\\Key", 16) + query("Sub\\Key", -1) + query("Sub\\Key", 1) + query("Sub", 0) + query("Sub", 16),
              R"(0 5 0 data\0
0 5 0 
234 5 0 
234 1 0 
0 1 0 \0
)");
    char buf[16];
    LONG cb = sizeof buf;
    check({
        {RegQueryValueA(CU, "Sub\\Key", buf, nullptr), ERROR_INVALID_PARAMETER},
        {RegQueryValueA(CU, "Nope", buf, &cb), ERROR_FILE_NOT_FOUND},
        {RegSetValueA(CU, "K", REG_DWORD, "1234", 4), ERROR_INVALID_PARAMETER},  // strings only
        {RegSetValueA(CU, "K", REG_SZ, nullptr, 0), ERROR_INVALID_PARAMETER},
    });
    EXPECT_FALSE(exists(CU, "K"));
}

TEST_F(Reg, EnumKeys) {
    HKEY h = create(LM, "E");
    for (const char* n : {"delta", "Alpha", "charlie", "Bravo", "_under", "a1"}) RegCloseKey(create(h, n));
    // Upper-case folding puts '_' (0x5f) after the letters.
    EXPECT_EQ(subkeys(h), "a1 Alpha Bravo charlie delta _under");
    HKEY e = create(LM, "E2");
    RegCloseKey(create(e, "Twelve_chars", "MyClass"));
    char name[16], klass[8];
    std::memset(name, 0xcc, sizeof name);
    DWORD cch = 12, cchClass = sizeof klass, reserved = 0;  // no room for the NUL
    FILETIME ft{0, 0};
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(std::to_string(cch) + bytes((BYTE*)name), "12");
    cch = 13;
    EXPECT_EQ(RegEnumKeyExA(e, 0, name, &cch, nullptr, klass, &cchClass, &ft), ERROR_SUCCESS);
    EXPECT_EQ(std::to_string(cch) + bytes((BYTE*)name) + std::to_string(cchClass) + klass, "12Twelve_chars\\07MyClass");
    EXPECT_NE(ft.dwHighDateTime, 0u);
    cchClass = 3;
    check({
        {RegEnumKeyExA(e, 0, name, &cch, nullptr, klass, &cchClass, &ft), ERROR_MORE_DATA},
        {RegEnumKeyA(e, 0, name, 12), ERROR_MORE_DATA},
        {RegEnumKeyA(e, 0, name, 13), ERROR_SUCCESS},
        {RegEnumKeyExA(e, 0, name, &cch, &reserved, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER},
        {RegEnumKeyExA(e, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER},
    });
    RegCloseKey(e);
    RegCloseKey(h);
}

TEST_F(Reg, EnumKeyIndexesFollowDeletionsAndAdditions) {
    HKEY h = create(LM, "E");
    for (const char* n : {"a", "b", "c", "d"}) RegCloseKey(create(h, n));
    char name[16];
    auto at = [&](HKEY k, DWORD i) { return RegEnumKeyA(k, i, name, sizeof name) ? "-" : std::string(name); };
    // A deletion behind the cursor shifts the later indexes; deleting index 0 repeatedly walks the whole list.
    std::string walk = at(h, 2);
    RegDeleteKeyA(h, "a");
    walk += at(h, 2) + at(h, 3);
    while (at(h, 0) != "-") {
        walk += name;
        ASSERT_EQ(RegDeleteKeyA(h, name), ERROR_SUCCESS);
    }
    EXPECT_EQ(walk, "cd-bcd");
    // Fifty keys: any order of indexes agrees with the forward walk.
    HKEY f = create(LM, "F");
    for (int i = 0; i < 50; ++i) {
        std::snprintf(name, sizeof name, "k%02d", (i * 37) % 50);
        RegCloseKey(create(f, name));
    }
    walk = "";
    for (DWORD i : {49u, 48u, 7u, 3u, 25u, 26u, 0u, 10u, 1u}) walk += at(f, i) + " ";
    EXPECT_EQ(walk, "k49 k48 k07 k03 k25 k26 k00 k10 k01 ");
    // A key added mid-walk shifts the later indexes.
    RegCloseKey(create(f, "k10a"));
    EXPECT_EQ(at(f, 11), "k10a");
    RegCloseKey(f);
    RegCloseKey(h);
}

TEST_F(Reg, EnumValues) {
    HKEY h = create(LM, "V");
    for (const char* n : {"zeta", "alpha", "", "ZETA"}) setSz(h, n, "default");  // rewriting keeps the place
    std::string names;
    char name[16];
    DWORD cch = sizeof name;
    for (DWORD i = 0; RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
        names += std::string(name) + ",";
        cch = sizeof name;
    }
    EXPECT_EQ(names, "zeta,alpha,,");
    ASSERT_EQ(RegDeleteValueA(h, "zeta"), ERROR_SUCCESS);
    EXPECT_EQ(enumValue(h, 0, 16, 32), "5 alpha\\0|0 8 1 default\\0");
    EXPECT_EQ(query(h, "", ~0u), "0 8 1 ") << "the name index follows the shift";
    // Both buffers fitting exactly (too small ones are the conformance cases' matter).
    HKEY b = create(LM, "B");
    setSz(b, "name", "some data");
    EXPECT_EQ(enumValue(b, 0, 5, 10), "4 name\\0|0 10 1 some data\\0");
    cch = sizeof name;
    DWORD cb = 0;
    EXPECT_EQ(RegEnumValueA(b, 0, name, &cch, nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 10u);
    check({
        {RegEnumValueA(b, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS},
        {RegEnumValueA(b, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER},
        {RegEnumValueA(b, 0, name, &cch, nullptr, nullptr, (BYTE*)name, nullptr), ERROR_INVALID_PARAMETER},
    });
    RegCloseKey(b);
    RegCloseKey(h);
}

// The counts and maxima are the conformance cases' matter.
TEST_F(Reg, QueryInfoKeyClassTimeAndParameters) {
    HKEY h = create(LM, "I", "Cls");
    DWORD cchClass = 8, reserved = 0, n, maxSub = 9, maxName = 9, maxData = 9;
    char klass[8];
    FILETIME ft{0, 0};
    ASSERT_EQ(RegQueryInfoKeyA(h, klass, &cchClass, nullptr, nullptr, &maxSub, nullptr, nullptr, &maxName, &maxData,
                               nullptr, &ft),
              ERROR_SUCCESS);
    // An empty key: every maximum 0.
    EXPECT_EQ(klass + std::to_string(cchClass) + std::to_string(maxSub) + std::to_string(maxName) + std::to_string(maxData),
              "Cls3000");
    EXPECT_NE(ft.dwHighDateTime, 0u);
    auto noCount = [&](DWORD* cch, DWORD* rsv) {
        return RegQueryInfoKeyA(h, klass, cch, rsv, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr);
    };
    check({
        {noCount(nullptr, nullptr), ERROR_INVALID_PARAMETER},
        {noCount(&cchClass, &reserved), ERROR_INVALID_PARAMETER},
        {info(nullptr, &n), ERROR_INVALID_HANDLE},
    });
    RegCloseKey(h);
}

TEST_F(Reg, DeleteKeyAndValue) {
    RegCloseKey(create(LM, "T\\Parent\\Child"));
    HKEY h = create(LM, "Self"), sub, old = create(LM, "R");
    DWORD n;
    // An empty name deletes the key of the handle itself; a root stays.
    check({
        {RegDeleteKeyA(LM, "T\\Parent\\Child"), ERROR_SUCCESS},
        {RegDeleteKeyA(LM, "T\\Parent"), ERROR_SUCCESS},
        {open(LM, "T\\Parent"), ERROR_FILE_NOT_FOUND},
        {RegDeleteKeyA(LM, nullptr), ERROR_INVALID_PARAMETER},
        {RegDeleteKeyA(LM, ""), ERROR_ACCESS_DENIED},
        {RegDeleteKeyA(kJunkKey, "Self"), ERROR_INVALID_HANDLE},
        {RegDeleteKeyA(h, ""), ERROR_SUCCESS},
        {open(LM, "Self"), ERROR_FILE_NOT_FOUND},
        {info(h, &n), ERROR_KEY_DELETED},
        {RegCreateKeyExA(h, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_KEY_DELETED},
        {RegCloseKey(h), ERROR_SUCCESS},
        // A key created again under the name is not the deleted one.
        {RegDeleteKeyA(LM, "R"), ERROR_SUCCESS},
    });
    HKEY fresh = create(LM, "R");
    check({{setSz(old, "v", "a"), ERROR_KEY_DELETED}, {setSz(fresh, "v", "a"), ERROR_SUCCESS}});
    RegCloseKey(old);
    RegCloseKey(fresh);
    // Windows 95 deletes the whole tree; an open handle then names a deleted key.
    machineFor(winsim::Platform::Win95);
    HKEY child = create(LM, "T\\Parent\\Child");
    h = create(LM, "D");
    setSz(h, "a", "1");
    setSz(h, nullptr, "default");
    check({
        {RegDeleteKeyA(LM, "T\\Parent"), ERROR_SUCCESS},
        {open(LM, "T"), ERROR_SUCCESS},
        {setSz(child, "v", "y"), ERROR_KEY_DELETED},
        {RegCloseKey(child), ERROR_SUCCESS},
        {RegDeleteValueA(h, "A"), ERROR_SUCCESS},
        {RegDeleteValueA(h, "a"), ERROR_FILE_NOT_FOUND},
        {RegDeleteValueA(h, nullptr), ERROR_SUCCESS},
        {RegQueryValueExA(h, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND},
    });
    RegCloseKey(h);
}

TEST_F(Reg, HandleRightsAndDeclaredDenials) {
    RegCloseKey(create(LM, "M"));
    HKEY r, w, g, h = kJunkKey;
    char name[8];
    ASSERT_EQ(open(LM, "M", KEY_READ, &r), ERROR_SUCCESS);
    ASSERT_EQ(open(LM, "M", KEY_SET_VALUE, &w), ERROR_SUCCESS);
    ASSERT_EQ(open(LM, "M", GENERIC_READ, &g), ERROR_SUCCESS);
    check({
        {RegDeleteValueA(r, "v"), ERROR_ACCESS_DENIED},
        {RegSetValueA(r, nullptr, REG_SZ, "a", 1), ERROR_ACCESS_DENIED},
        {setSz(w, "v", "a"), ERROR_SUCCESS},
        {RegQueryValueExA(w, "v", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED},
        {RegEnumKeyA(w, 0, name, sizeof name), ERROR_ACCESS_DENIED},
        {RegQueryValueExA(g, "v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS},
        {setSz(g, "v", "a"), ERROR_ACCESS_DENIED},
    });
    for (HKEY k : {r, w, g}) RegCloseKey(k);
    // Denials the image declares: "write" refuses every write, also below the key; "all" even reading.
    RegCloseKey(create(LM, "SOFTWARE\\Locked\\Inner"));
    RegCloseKey(create(LM, "SOFTWARE\\Secret"));
    auto& deny = winsim::machine().registry->deny;
    deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked", false});
    deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Secret", true});
    deny.push_back({"HKEY_CURRENT_USER\\Future", false});
    deny.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", false});
    check({
        {setSz(HKEY_CLASSES_ROOT, "v", "x"), ERROR_ACCESS_DENIED},  // also through the predefined handle
        {open(LM, "SOFTWARE\\Locked"), ERROR_SUCCESS},
        {open(LM, "software\\locked\\inner", KEY_SET_VALUE, &h), ERROR_ACCESS_DENIED},
        {RegCreateKeyExA(LM, "SOFTWARE\\Locked\\New", 0, nullptr, 0, KEY_READ, nullptr, &w, nullptr),
         ERROR_ACCESS_DENIED},
        {open(LM, "SOFTWARE\\Locked\\New"), ERROR_FILE_NOT_FOUND},
        {RegDeleteKeyA(LM, "SOFTWARE\\Locked\\Inner"), ERROR_ACCESS_DENIED},
        {RegSetValueA(LM, "SOFTWARE\\Locked", REG_SZ, "x", 1), ERROR_ACCESS_DENIED},
        {open(LM, "SOFTWARE\\Secret"), ERROR_ACCESS_DENIED},
        {RegCreateKeyA(CU, "Future", &w), ERROR_ACCESS_DENIED},  // creating a key a rule names
    });
    EXPECT_EQ(h, nullptr);
    // RegOpenKeyA asks for the most it may have: read access here.
    ASSERT_EQ(RegOpenKeyA(LM, "SOFTWARE\\Locked", &h), ERROR_SUCCESS);
    EXPECT_EQ(setSz(h, "v", "a"), ERROR_ACCESS_DENIED);
    RegCloseKey(h);
}

// Counting calls is the core's matter, faults on keys the program opens the
// scenarios'; here the full path of a key reached through a handle, and the
// name each function counts its calls under.
TEST_F(Reg, InjectedFaultsNameTheFullPathAndTheFunction) {
    auto& m = winsim::machine();
    HKEY h = create(HKEY_CLASSES_ROOT, ".txt");
    m.faults.push_back({"RegSetValueExA", 1, 0, ERROR_WRITE_PROTECT, "hkey_local_machine\\software\\classes\\.TXT"});
    m.faults.push_back({"RegDeleteKeyA", 1, 0, ERROR_BUSY, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt\\Sub"});
    EXPECT_EQ(setSz(h, "v", "x"), ERROR_WRITE_PROTECT);
    RegCloseKey(create(h, "Sub"));
    RegCloseKey(create(h, "Other"));
    EXPECT_EQ(RegDeleteKeyA(h, "Sub\\\\"), ERROR_BUSY);
    EXPECT_EQ(RegDeleteKeyA(h, "Other"), ERROR_SUCCESS);
    m.faults.clear();
    m.callCounts.clear();
    HKEY o, p, q, r;
    char buf[32];
    DWORD cch = sizeof buf, cch2 = sizeof buf, cb = sizeof buf;
    LONG lcb = sizeof buf;
    // In order, as braces evaluate: each handle is closed after its open.
    const std::vector<LONG> rcs = {
        RegOpenKeyA(LM, "SOFTWARE", &o), RegCloseKey(o), RegOpenKeyExA(LM, "SOFTWARE", 0, KEY_READ, &p), RegCloseKey(p),
        RegCreateKeyA(h, "c1", &q), RegCloseKey(q), RegCreateKeyExA(h, "c2", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &r, nullptr),
        RegCloseKey(r), RegQueryValueA(h, nullptr, buf, &lcb), RegQueryValueExA(h, "v", nullptr, nullptr, (BYTE*)buf, &cb),
        RegSetValueA(h, nullptr, REG_SZ, "x", 1), RegSetValueExA(h, "w", 0, REG_SZ, (const BYTE*)"x", 2),
        RegEnumKeyA(h, 0, buf, sizeof buf), RegEnumKeyExA(h, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr),
        RegEnumValueA(h, 0, buf, &cch2, nullptr, nullptr, nullptr, nullptr), info(h), RegDeleteKeyA(h, "c1"),
        RegDeleteValueA(h, "w"), RegConnectRegistryA(nullptr, LM, &o)};
    EXPECT_EQ(std::count(rcs.begin(), rcs.end(), ERROR_SUCCESS), 18);  // the value "v" is missing
    std::string counted;
    for (auto& [name, n] : m.callCounts) counted += name + "=" + std::to_string(n) + " ";
    EXPECT_EQ(counted,
              "RegCloseKey=4 RegConnectRegistryA=1 RegCreateKeyA=1 RegCreateKeyExA=1 RegDeleteKeyA=1 RegDeleteValueA=1 "
              "RegEnumKeyA=1 RegEnumKeyExA=1 RegEnumValueA=1 RegOpenKeyA=1 RegOpenKeyExA=1 RegQueryInfoKeyA=1 "
              "RegQueryValueA=1 RegQueryValueExA=1 RegSetValueA=1 RegSetValueExA=1 ");
    RegCloseKey(h);
}

// What a query of HKEY_PERFORMANCE_DATA answers is the performance-data cases' matter.
TEST_F(Reg, ConnectRegistryAndPerformanceData) {
    HKEY h = kJunkKey, users = kJunkKey, perf = kJunkKey, local = kJunkKey, remote = kJunkKey;
    std::string name = winsim::machine().computerName, unc = "\\\\" + winsim::lower(name);
    char sub[8];
    check({
        {RegConnectRegistryA(nullptr, LM, &local), ERROR_SUCCESS},
        {RegConnectRegistryA("", HKEY_PERFORMANCE_DATA, &perf), ERROR_SUCCESS},
        {RegConnectRegistryA(name.c_str(), LM, &h), ERROR_SUCCESS},
        {RegConnectRegistryA(unc.c_str(), HKEY_USERS, &users), ERROR_SUCCESS},
        {RegConnectRegistryA("\\\\OTHERBOX", LM, &remote), ERROR_BAD_NETPATH},
        {open(HKEY_PERFORMANCE_DATA, "X"), ERROR_INVALID_HANDLE},
        {RegEnumKeyA(HKEY_PERFORMANCE_DATA, 0, sub, sizeof sub), ERROR_INVALID_HANDLE},
    });
    EXPECT_EQ(std::vector<HKEY>({local, perf, users, remote}),
              std::vector<HKEY>({LM, HKEY_PERFORMANCE_DATA, HKEY_USERS, kJunkKey}));
}

}  // namespace
