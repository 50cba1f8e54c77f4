// Registry cases: dispositions, value sizes, too-small buffers, deletion of
// trees, enumeration order, access rights, volatile keys and the keys a
// fresh system has.
#include "conformance/conformance.h"

#include <string.h>

using conformance::isWin95;
using conformance::kScratchKey;

namespace {

HKEY createScratch(const char* sub = nullptr, const char* cls = nullptr) {
    std::string path = kScratchKey;
    if (sub) path += std::string("\\") + sub;
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, (LPSTR)cls, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

// RegQueryInfoKeyA for the class and, when asked, the subkey count.
LONG queryClass(HKEY key, char* buffer, DWORD* len, DWORD* subkeys = nullptr) {
    return RegQueryInfoKeyA(key, buffer, len, nullptr, subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr);
}

}  // namespace

CASE(registry, create_disposition) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
             ERROR_SUCCESS);
    CHECK_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
             ERROR_SUCCESS);
    CHECK_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
}

CASE(registry, query_missing_value) {
    HKEY key = createScratch();
    DWORD size = 77;
    BYTE data[8];
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

CASE(registry, query_size_only) {
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"hello", 6), ERROR_SUCCESS);
    DWORD size = 0, type = 0;
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    CHECK_EQ(size, 6);
    CHECK_EQ(type, REG_SZ);
    // Both pointers null: only whether the value exists.
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
}

CASE(registry, query_buffer_too_small) {
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"hello", 6), ERROR_SUCCESS);
    char data[4] = {'x', 'x', 'x', 'x'};
    DWORD size = 3;
    CHECK_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, (BYTE*)data, &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 6);
    CHECK_EQ(data[3], 'x');  // nothing written past the size given
    RegCloseKey(key);
}

CASE(registry, dword_round_trip) {
    HKEY key = createScratch();
    DWORD value = 0x12345678;
    CHECK_EQ(RegSetValueExA(key, "d", 0, REG_DWORD, (const BYTE*)&value, sizeof value), ERROR_SUCCESS);
    DWORD read = 0, size = sizeof read, type = 0;
    CHECK_EQ(RegQueryValueExA(key, "d", nullptr, &type, (BYTE*)&read, &size), ERROR_SUCCESS);
    CHECK_EQ(type, REG_DWORD);
    CHECK_EQ(size, 4);
    CHECK_EQ(read, 0x12345678);
    RegCloseKey(key);
}

CASE(registry, delete_key_with_subkeys) {
    HKEY child = createScratch("parent\\child");
    RegCloseKey(child);
    HKEY key = createScratch();
    LONG rc = RegDeleteKeyA(key, "parent");
    HKEY probe = nullptr;
    LONG still = RegOpenKeyExA(key, "parent", 0, KEY_READ, &probe);
    if (probe) RegCloseKey(probe);
    if (isWin95()) {
        CHECK_EQ(rc, ERROR_SUCCESS);  // the whole tree goes
        CHECK_EQ(still, ERROR_FILE_NOT_FOUND);
    } else {
        CHECK_EQ(rc, ERROR_ACCESS_DENIED);
        CHECK_EQ(still, ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

CASE(registry, delete_missing_key) {
    HKEY key = createScratch();
    CHECK_EQ(RegDeleteKeyA(key, "nothing-here"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

CASE(registry, delete_missing_value) {
    HKEY key = createScratch();
    CHECK_EQ(RegDeleteValueA(key, "nothing-here"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

CASE(registry, subkeys_enumerate_sorted) {
    for (const char* name : {"bravo", "Alpha", "charlie"}) RegCloseKey(createScratch(name));
    HKEY key = createScratch();
    char name[32];
    const char* expected[] = {"Alpha", "bravo", "charlie"};
    for (DWORD i = 0; i < 3; ++i) {
        DWORD len = sizeof name;
        CHECK_EQ(RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        CHECK_STR(name, expected[i]);
        CHECK_EQ(len, strlen(expected[i]));
    }
    DWORD len = sizeof name;
    CHECK_EQ(RegEnumKeyExA(key, 3, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

CASE(registry, enum_value_name_too_small) {
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueExA(key, "longname", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_SUCCESS);
    char name[4];
    DWORD len = sizeof name, type = 0;
    BYTE data[8];
    DWORD dataLen = sizeof data;
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
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"hello", 6), ERROR_SUCCESS);
    char name[16];
    DWORD nameLen = sizeof name;
    BYTE data[2];
    DWORD dataLen = sizeof data;
    CHECK_EQ(RegEnumValueA(key, 0, name, &nameLen, nullptr, nullptr, data, &dataLen), ERROR_MORE_DATA);
    CHECK_EQ(dataLen, 6);
    CHECK_EQ(nameLen, sizeof name);  // the name would fit but is not copied
    RegCloseKey(key);
}

CASE(registry, read_only_handle_refuses_writes) {
    RegCloseKey(createScratch());
    HKEY key = nullptr;
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    if (isWin95()) {
        // Windows 95 keeps no access rights on keys.
        CHECK_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_SUCCESS);
    } else {
        CHECK_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_ACCESS_DENIED);
    }
    RegCloseKey(key);
}

CASE(registry, open_missing_key) {
    HKEY key = (HKEY)(ULONG_PTR)0x1234;
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VardenConformance\\missing", 0, KEY_READ, &key),
             ERROR_FILE_NOT_FOUND);
}

CASE(registry, query_info_counts) {
    RegCloseKey(createScratch("abc"));
    RegCloseKey(createScratch("abcdef"));
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueExA(key, "name", 0, REG_SZ, (const BYTE*)"1234567", 8), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "n", 0, REG_SZ, (const BYTE*)"1", 2), ERROR_SUCCESS);
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
    HKEY key = createScratch();
    DWORD bin = 0x11223344;
    CHECK_EQ(RegSetValueExA(key, "b", 0, REG_BINARY, (const BYTE*)&bin, 4), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "s", 0, REG_SZ, (const BYTE*)"hello", 6), ERROR_SUCCESS);
    DWORD v = 4, read = 0;
    CHECK_EQ(RegQueryValueExA(key, "b", nullptr, &v, (BYTE*)&read, &v), ERROR_SUCCESS);
    CHECK_EQ(read, 0x11223344);
    CHECK_EQ(v, 4);
    v = 0;
    CHECK_EQ(RegQueryValueExA(key, "s", nullptr, &v, nullptr, &v), ERROR_SUCCESS);
    CHECK_EQ(v, 6);
    char data[8] = "xxxxxxx";
    v = 3;
    CHECK_EQ(RegQueryValueExA(key, "s", nullptr, &v, (BYTE*)data, &v), ERROR_MORE_DATA);
    CHECK_EQ(v, 6);
    CHECK_STR(data, "xxxxxxx");
    v = 77;
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, &v, nullptr, &v), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(v, 0);
    RegCloseKey(key);
}

CASE(registry, enum_value_aliased_out_pointers) {
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueExA(key, "s", 0, REG_SZ, (const BYTE*)"hello", 6), ERROR_SUCCESS);
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
    CHECK_STR(name, "s");
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
    HKEY parent = nullptr;
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             &parent, nullptr),
             ERROR_SUCCESS);
    HKEY child = nullptr;
    CHECK_EQ(RegCreateKeyExA(parent, "child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child,
                             nullptr),
             ERROR_CHILD_MUST_BE_VOLATILE);
    CHECK_EQ(RegCreateKeyExA(parent, "child", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr),
             ERROR_SUCCESS);
    if (child) RegCloseKey(child);
    RegCloseKey(parent);
}

CASE(registry, fresh_system_keys) {
    HKEY key = nullptr;
    CHECK_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key) RegCloseKey(key);
    key = nullptr;
    CHECK_EQ(RegOpenKeyExA(HKEY_USERS, ".Default", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key) RegCloseKey(key);
    key = nullptr;
    CHECK_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key) RegCloseKey(key);
}

CASE(registry, success_leaves_last_error) {
    HKEY key = createScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_SUCCESS);
    CHECK_EQ(GetLastError(), 0xdeadbeef);
    SetLastError(0xdeadbeef);
    CHECK_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(GetLastError(), 0xdeadbeef);
    RegCloseKey(key);
}

CASE(registry, set_value_a_stops_at_nul) {
    HKEY key = createScratch();
    CHECK_EQ(RegSetValueA(key, "sub", REG_SZ, "abc", 99), ERROR_SUCCESS);
    char data[16];
    LONG size = sizeof data;
    CHECK_EQ(RegQueryValueA(key, "sub", data, &size), ERROR_SUCCESS);
    CHECK_STR(data, "abc");
    CHECK_EQ(size, 4);
    RegCloseKey(key);
}
