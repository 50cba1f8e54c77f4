// Registry cases: dispositions, value sizes, too-small buffers, deletion of
// trees, enumeration order, access rights, volatile keys and the keys a
// fresh system has.
#include "conformance/conformance.h"

#include <string.h>

using conformance::isWin95;
using conformance::kScratchKey;

namespace {

HKEY createScratch(const char* sub = nullptr, const char* cls = nullptr, DWORD options = 0, LONG* rc = nullptr,
                   DWORD* disposition = nullptr) {
    std::string path = kScratchKey;
    if (sub) path += std::string("\\") + sub;
    HKEY key = nullptr;
    LONG e = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, (LPSTR)cls, options, KEY_ALL_ACCESS, nullptr, &key,
                             disposition);
    if (rc) *rc = e;
    return key;
}

LONG setSz(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, lstrlenA(text) + 1);
}

// The scratch key with the value "v" = "hello" (6 bytes).
HKEY helloKey() {
    HKEY key = createScratch();
    CHECK_EQ(setSz(key, "v", "hello"), ERROR_SUCCESS);
    return key;
}

// RegQueryInfoKeyA for the class and, when asked, the subkey count.
LONG queryClass(HKEY key, char* buffer, DWORD* len, DWORD* subkeys = nullptr) {
    return RegQueryInfoKeyA(key, buffer, len, nullptr, subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr);
}

bool keyExists(HKEY parent, const char* name) {
    HKEY probe = nullptr;
    LONG rc = RegOpenKeyExA(parent, name, 0, KEY_READ, &probe);
    if (probe) RegCloseKey(probe);
    return rc == ERROR_SUCCESS;
}

}  // namespace

CASE(registry, create_disposition) {
    LONG rc;
    DWORD disposition = 0;
    RegCloseKey(createScratch(nullptr, nullptr, 0, &rc, &disposition));
    CHECK_EQ(rc, ERROR_SUCCESS);
    CHECK_EQ(disposition, REG_CREATED_NEW_KEY);
    HKEY key = createScratch(nullptr, nullptr, 0, &rc, &disposition), same = nullptr;
    CHECK_EQ(rc, ERROR_SUCCESS);
    CHECK_EQ(disposition, REG_OPENED_EXISTING_KEY);
    disposition = 0;  // an empty name opens the key itself
    CHECK_EQ(RegCreateKeyExA(key, "", 0, nullptr, 0, KEY_READ, nullptr, &same, &disposition), ERROR_SUCCESS);
    CHECK_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(same);
    RegCloseKey(key);
}

CASE(registry, keys_present_and_missing) {
    CHECK_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID"));  // a fresh system's
    CHECK_TRUE(keyExists(HKEY_USERS, ".Default"));
    CHECK_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software"));
    HKEY key = createScratch(), missing = (HKEY)(ULONG_PTR)0x1234;
    DWORD size = 77;
    BYTE data[8];
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegDeleteKeyA(key, "nothing-here"), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegDeleteValueA(key, "nothing-here"), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegOpenKeyExA(key, "missing", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

CASE(registry, value_sizes) {
    HKEY key = helloKey();
    DWORD size = 0, type = 0;
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    CHECK_EQ(size, 6);
    CHECK_EQ(type, REG_SZ);
    // Both pointers null: only whether the value exists.
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    char text[16] = {'x', 'x', 'x', 'x'};
    size = 3;
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, (BYTE*)text, &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 6);
    CHECK_EQ(text[3], 'x');  // nothing written past the size given
    DWORD value = 0x12345678, read = 0;
    size = sizeof read;
    CHECK_EQ(RegSetValueExA(key, "d", 0, REG_DWORD, (const BYTE*)&value, sizeof value), ERROR_SUCCESS);
    CHECK_EQ(RegQueryValueExA(key, "d", nullptr, &type, (BYTE*)&read, &size), ERROR_SUCCESS);
    CHECK_EQ(type, REG_DWORD);
    CHECK_EQ(size, 4);
    CHECK_EQ(read, 0x12345678);
    // RegSetValueA stops at the NUL, whatever the size says.
    CHECK_EQ(RegSetValueA(key, "sub", REG_SZ, "abc", 99), ERROR_SUCCESS);
    LONG cb = sizeof text;
    CHECK_EQ(RegQueryValueA(key, "sub", text, &cb), ERROR_SUCCESS);
    CHECK_STR(text, "abc");
    CHECK_EQ(cb, 4);
    RegCloseKey(key);
}

CASE(registry, subkeys_sorted_and_deleted) {
    for (const char* name : {"bravo", "Alpha", "charlie"}) RegCloseKey(createScratch(name));
    HKEY key = createScratch();
    char name[32];
    const char* expected[] = {"Alpha", "bravo", "charlie", nullptr};
    for (DWORD i = 0; i < 4; ++i) {
        DWORD len = sizeof name;
        LONG rc = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        CHECK_EQ(rc, expected[i] ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS);
        if (!expected[i]) break;
        CHECK_STR(name, expected[i]);
        CHECK_EQ(len, strlen(expected[i]));
    }
    // Windows 95 deletes a key with subkeys, the whole tree; NT refuses.
    RegCloseKey(createScratch("parent\\child"));
    CHECK_EQ(RegDeleteKeyA(key, "parent"), isWin95() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    CHECK_EQ(keyExists(key, "parent"), !isWin95());
    RegCloseKey(key);
}

CASE(registry, enum_value_name_too_small) {
    HKEY key = createScratch();
    CHECK_EQ(setSz(key, "longname", "x"), ERROR_SUCCESS);
    char name[4];
    BYTE data[8];
    DWORD len = sizeof name, type = 0, dataLen = sizeof data;
    // The data would fit: its size and type are still reported and the name
    // length stays as passed (whether part of the name is copied differs
    // between versions).
    CHECK_EQ(RegEnumValueA(key, 0, name, &len, nullptr, &type, data, &dataLen), ERROR_MORE_DATA);
    CHECK_EQ(len, sizeof name);
    CHECK_EQ(dataLen, 2);
    CHECK_EQ(type, REG_SZ);
    RegCloseKey(key);
}

CASE(registry, enum_value_data_too_small) {
    HKEY key = helloKey();
    char name[16];
    BYTE data[2];
    DWORD nameLen = sizeof name, dataLen = sizeof data;
    CHECK_EQ(RegEnumValueA(key, 0, name, &nameLen, nullptr, nullptr, data, &dataLen), ERROR_MORE_DATA);
    CHECK_EQ(dataLen, 6);
    CHECK_EQ(nameLen, sizeof name);  // the name would fit but is not copied
    RegCloseKey(key);
}

CASE(registry, read_only_handle_refuses_writes) {
    RegCloseKey(createScratch());
    HKEY key = nullptr;
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    // Windows 95 keeps no access rights on keys.
    CHECK_EQ(setSz(key, "v", "x"), isWin95() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

CASE(registry, query_info_counts) {
    RegCloseKey(createScratch("abc"));
    RegCloseKey(createScratch("abcdef"));
    HKEY key = createScratch();
    CHECK_EQ(setSz(key, "name", "1234567"), ERROR_SUCCESS);
    CHECK_EQ(setSz(key, "n", "1"), ERROR_SUCCESS);
    DWORD subkeys = 0, maxSub = 0, maxClass = 99, values = 0, maxValueName = 0, maxData = 0;
    CHECK_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSub, &maxClass, &values, &maxValueName,
                              &maxData, nullptr, nullptr),
             ERROR_SUCCESS);
    CHECK_EQ(subkeys, 2);
    CHECK_EQ(maxSub, 6);
    CHECK_EQ(values, 2);
    CHECK_EQ(maxValueName, 4);
    CHECK_EQ(maxClass, 0);
    // NT keeps strings in Unicode and reports their stored size.
    CHECK_EQ(maxData, isWin95() ? 8 : 16);
    RegCloseKey(key);
}

CASE(registry, query_info_class_too_small) {
    HKEY key = createScratch(nullptr, "LongClassName");
    // A buffer of n characters gets the first n-1 and a NUL, the count
    // becomes n-1 and nothing past the buffer is written.
    struct {
        DWORD given;
        LONG rc;
        const char* written;
    } rows[] = {{1, ERROR_MORE_DATA, ""},
                {4, ERROR_MORE_DATA, "Lon"},
                {13, ERROR_MORE_DATA, "LongClassNam"},
                {14, ERROR_SUCCESS, "LongClassName"}};
    for (const auto& row : rows) {
        char buffer[17] = "xxxxxxxxxxxxxxxx";
        DWORD len = row.given;
        CHECK_EQ(queryClass(key, buffer, &len), row.rc);
        CHECK_EQ(len, strlen(row.written));
        CHECK_STR(buffer, row.written);
        CHECK_EQ(buffer[row.given], 'x');
    }
    // Without a buffer only the length is asked for, whatever the count says.
    DWORD len = 4;
    CHECK_EQ(queryClass(key, nullptr, &len), ERROR_SUCCESS);
    CHECK_EQ(len, 13);
    RegCloseKey(key);
}

CASE(registry, query_info_class_zero_length) {
    HKEY key = createScratch(nullptr, "LongClassName");
    // A buffer of no characters is left alone, and so is its count.
    char buffer[4] = {'x', 'x', 'x', 'x'};
    DWORD len = 0;
    CHECK_EQ(queryClass(key, buffer, &len), ERROR_SUCCESS);
    CHECK_EQ(len, 0);
    CHECK_EQ(buffer[0], 'x');
    RegCloseKey(key);
}

// One variable given for two out-parameters: the sizes passed in are read
// before anything is written, and the size is written last.
CASE(registry, query_value_aliased_type_and_size) {
    HKEY key = helloKey();
    DWORD bin = 0x11223344;
    CHECK_EQ(RegSetValueExA(key, "b", 0, REG_BINARY, (const BYTE*)&bin, 4), ERROR_SUCCESS);
    DWORD v = 4, read = 0;
    CHECK_EQ(RegQueryValueExA(key, "b", nullptr, &v, (BYTE*)&read, &v), ERROR_SUCCESS);
    CHECK_EQ(read, 0x11223344);
    CHECK_EQ(v, 4);
    v = 0;
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, &v, nullptr, &v), ERROR_SUCCESS);
    CHECK_EQ(v, 6);
    char data[8] = "xxxxxxx";
    v = 3;
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, &v, (BYTE*)data, &v), ERROR_MORE_DATA);
    CHECK_EQ(v, 6);
    CHECK_STR(data, "xxxxxxx");
    v = 77;
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, &v, nullptr, &v), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(v, 0);
    RegCloseKey(key);
}

CASE(registry, enum_value_aliased_out_pointers) {
    HKEY key = helloKey();
    char name[8], data[8];
    // Type and data size at one variable.
    DWORD nameLen = sizeof name, v = sizeof data;
    CHECK_EQ(RegEnumValueA(key, 0, name, &nameLen, nullptr, &v, (BYTE*)data, &v), ERROR_SUCCESS);
    CHECK_STR(data, "hello");
    CHECK_EQ(v, 6);
    CHECK_EQ(nameLen, 1);
    // Name length and data size at one variable: the data size is written
    // after the name length.
    DWORD type = 0;
    v = sizeof data;
    CHECK_EQ(RegEnumValueA(key, 0, name, &v, nullptr, &type, (BYTE*)data, &v), ERROR_SUCCESS);
    CHECK_STR(name, "v");
    CHECK_EQ(v, 6);
    CHECK_EQ(type, REG_SZ);
    // Too small for both: nothing is copied, the variable ends as the size.
    strcpy(name, "zzzz");
    v = 1;
    CHECK_EQ(RegEnumValueA(key, 0, name, &v, nullptr, &type, (BYTE*)data, &v), ERROR_MORE_DATA);
    CHECK_STR(name, "zzzz");
    CHECK_EQ(v, 6);
    RegCloseKey(key);
}

CASE(registry, key_info_aliased_counts) {
    HKEY key = createScratch(nullptr, "LongClassName");
    RegCloseKey(createScratch("alpha", "cls"));
    RegCloseKey(createScratch("bravo"));
    // The class length and the subkey count at one variable: the class
    // length is read first, the count written after it.
    char buffer[32] = "xxxxxxxx";
    DWORD v = sizeof buffer;
    CHECK_EQ(queryClass(key, buffer, &v, &v), ERROR_SUCCESS);
    CHECK_STR(buffer, "LongClassName");
    CHECK_EQ(v, 2);
    v = 4;
    CHECK_EQ(queryClass(key, buffer, &v, &v), ERROR_MORE_DATA);
    CHECK_STR(buffer, "Lon");
    CHECK_EQ(v, 2);
    // The count, then the longest subkey name.
    CHECK_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &v, &v, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr),
             ERROR_SUCCESS);
    CHECK_EQ(v, 5);
    // RegEnumKeyExA with the name and class lengths at one variable: both
    // read first, the class length written last; nothing when too small.
    char name[16] = "zzzz", subClass[16];
    v = 4;
    CHECK_EQ(RegEnumKeyExA(key, 0, name, &v, nullptr, subClass, &v, nullptr), ERROR_MORE_DATA);
    CHECK_STR(name, "zzzz");
    CHECK_EQ(v, 4);
    v = sizeof name;
    CHECK_EQ(RegEnumKeyExA(key, 0, name, &v, nullptr, subClass, &v, nullptr), ERROR_SUCCESS);
    CHECK_STR(name, "alpha");
    CHECK_STR(subClass, "cls");
    CHECK_EQ(v, 3);
    RegCloseKey(key);
}

CASE(registry, volatile_parent_wants_volatile_children) {
    if (isWin95()) return;  // Windows 95 has no volatile keys
    LONG rc;
    HKEY parent = createScratch(nullptr, nullptr, REG_OPTION_VOLATILE, &rc);
    CHECK_EQ(rc, ERROR_SUCCESS);
    RegCloseKey(createScratch("child", nullptr, REG_OPTION_NON_VOLATILE, &rc));
    CHECK_EQ(rc, ERROR_CHILD_MUST_BE_VOLATILE);
    RegCloseKey(createScratch("child", nullptr, REG_OPTION_VOLATILE, &rc));
    CHECK_EQ(rc, ERROR_SUCCESS);
    RegCloseKey(parent);
}

CASE(registry, success_leaves_last_error) {
    HKEY key = createScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(setSz(key, "v", "x"), ERROR_SUCCESS);
    CHECK_ERROR(0xdeadbeef);
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    CHECK_ERROR(0xdeadbeef);
    RegCloseKey(key);
}
