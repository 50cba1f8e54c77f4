// The registry functions' handle rights, the denials an image declares and
// injected faults. The calls' results and buffer protocols are checked by the
// conformance cases, which run against Windows too, and by the program's tests.
#include "winsim/registry/state.h"
#include "sim.h"

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

struct Reg : ::testing::Test {
    void SetUp() override {
        sim::fresh(winsim::Platform::NT);
        SetLastError(kSentinel);
    }
    HKEY create(HKEY parent, const char* path) {
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS) << path;
        return h;
    }
    LONG setSz(HKEY h, const char* name, const char* text) {
        return RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)text, (DWORD)std::strlen(text) + 1);
    }
    LONG open(HKEY parent, const char* path, REGSAM sam = KEY_READ, HKEY* out = nullptr) {
        HKEY h = kJunkKey;
        LONG e = RegOpenKeyExA(parent, path, 0, sam, &h);
        if (out) *out = h;
        else if (e == ERROR_SUCCESS) RegCloseKey(h);
        return e;
    }
    void TearDown() override { EXPECT_EQ(GetLastError(), kSentinel) << "the registry never sets the last error"; }
};

TEST_F(Reg, HandleRightsAndDeclaredDenials) {
    RegCloseKey(create(LM, "M"));
    HKEY r, w, g, h = kJunkKey;
    char name[8];
    DWORD cch = sizeof name;
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
        {RegEnumValueA(g, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER},
        {RegEnumValueA(g, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS},
        {RegQueryValueA(g, nullptr, nullptr, nullptr), ERROR_SUCCESS},  // the key's own default value
    });
    for (HKEY k : {r, w, g}) RegCloseKey(k);
    // Denials the image declares: "write" refuses every write, also below the key; "all" even reading.
    RegCloseKey(create(LM, "SOFTWARE\\Locked\\Inner"));
    RegCloseKey(create(LM, "SOFTWARE\\Secret"));
    RegCloseKey(create(LM, "SOFTWARE\\LockedOut"));
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
        {RegSetValueA(LM, "SOFTWARE\\LockedOut", REG_SZ, "x", 1), ERROR_SUCCESS},  // a rule covers whole names
    });
    EXPECT_EQ(h, nullptr);
    // RegOpenKeyA asks for the most it may have: read access here.
    ASSERT_EQ(RegOpenKeyA(LM, "SOFTWARE\\Locked", &h), ERROR_SUCCESS);
    EXPECT_EQ(setSz(h, "v", "a"), ERROR_ACCESS_DENIED);
    DWORD n = 0;  // reading is not denied; a reserved pointer is refused
    cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, &n, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 87);  // invalid parameter
    RegCloseKey(h);
    EXPECT_EQ(winsim::machine().registry->handles.size(), 0u) << "every handle, also RegSetValueA's own, closed";
}

// Windows 95 deletes whole trees, unless a denial covers a key inside.
TEST_F(Reg, Windows95TreeDeletionStopsAtDeniedKeys) {
    sim::fresh(winsim::Platform::Win95);
    SetLastError(kSentinel);
    for (const char* key : {"T\\A\\Deep", "T\\B", "U\\A"}) RegCloseKey(create(LM, key));
    winsim::machine().registry->deny.push_back({"HKEY_LOCAL_MACHINE\\T\\A\\Deep", false});
    winsim::machine().registry->deny.push_back({"HKEY_LOCAL_MACHINE\\UV", false});
    check({
        {RegDeleteKeyA(LM, "T"), ERROR_ACCESS_DENIED},
        {RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED},  // a predefined key itself
        {RegDeleteKeyA(LM, "T\\B"), ERROR_SUCCESS},
        {RegDeleteKeyA(LM, "U"), ERROR_SUCCESS},
        {open(LM, "U"), ERROR_FILE_NOT_FOUND},
    });
}

}  // namespace
