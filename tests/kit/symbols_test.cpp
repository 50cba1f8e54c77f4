// Symbols and lists: values, list items from 1, and the Cb* rule (the full
// length is returned, at most capacity - 1 bytes and a NUL are copied).
#include "helpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace std::literals;
using KitSymbols = kittest::Kit;

// A Cb* read into the first `capacity` bytes of a buffer filled with 'G':
// the count it returns, and the buffer's first bytes as `bytes` expects
// them (the NUL and the untouched byte after it included).
struct Read {
    const char* name;  // symbol or list
    int item;          // 0: the symbol's value; else the list item
    int capacity, count;
    std::string bytes;
};

void expectRead(const Read& r) {
    SCOPED_TRACE(std::string(r.name ? r.name : "(null)") + " item " + std::to_string(r.item) + " capacity " +
                 std::to_string(r.capacity));
    char buf[40];
    std::memset(buf, 'G', sizeof buf);
    int n = r.item ? CbGetListItem(r.name, (USHORT)r.item, buf, r.capacity) : CbGetSymbolValue(r.name, buf, r.capacity);
    EXPECT_EQ(n, r.count);
    EXPECT_EQ(std::string(buf, r.bytes.size()), r.bytes);
}

TEST_F(KitSymbols, ValuesAndListsReadBackByTheCbRule) {
    ASSERT_TRUE(FSetSymbolValue("EditTextIn", "C:\\win32app\\vrdpsmon"));
    ASSERT_TRUE(FSetSymbolValue("DLGEVENT", "CONTINUE"));
    ASSERT_TRUE(FSetSymbolValue("ErrorText", "a"));
    EXPECT_FALSE(FSetSymbolValue("", "a") || FSetSymbolValue(nullptr, "a"));
    FSetSymbolValue("Space", "");
    for (const char* none : {"Space", "", "No Such List", (const char*)nullptr}) EXPECT_EQ(UsGetListLength(none), 0);
    for (auto [list, item] : {std::pair{"Space", "   1000 Kb"}, {"Space", "   2000 Kb"}, {"Other", "a"}, {"Other", "b"}})
        ASSERT_TRUE(FAddListItem(list, item));
    EXPECT_FALSE(FReplaceListItem("Space", 3, "x") || FReplaceListItem("Space", 0, "x"));
    EXPECT_TRUE(FReplaceListItem("Space", 2, "[-c-]"));
    FSetSymbolValue("Value", "one");
    EXPECT_TRUE(FAddListItem("New", "x"));  // a missing list is created
    // A value is a one-item list.
    EXPECT_EQ(std::to_string(UsGetListLength("Space")) + std::to_string(UsGetListLength("Value")) + std::to_string(UsGetListLength("New")), "211");
    const Read reads[] = {
        {"EditTextIn", 0, 32, 20, "C:\\win32app\\vrdpsmon\0G"s},
        {"DLGEVENT", 0, 8, 8, "CONTINU\0G"s},  // exactly as long as the capacity: cut
        {"DLGEVENT", 0, 9, 8, "CONTINUE\0G"s},
        {"DLGEVENT", 0, 0, 8, "G"},  // capacity 0 writes nothing
        {"Nothing", 0, 8, 0, "\0G"s},
        {"errortext", 0, 8, 0, "\0G"s},  // names are exact
        {nullptr, 0, 8, 0, "\0G"s},
        {"Other", 0, 16, 9, "{\"a\",\"b\"}\0"s},  // a list read as a value
        {"Space", 1, 16, 10, "   1000 Kb\0G"s},
        {"Space", 2, 16, 5, "[-c-]\0G"s},
        {"Space", 3, 16, 0, "\0G"s},  // out of range: nothing
        {nullptr, 1, 16, 0, "\0G"s},
        {"Value", 1, 16, 3, "one\0"s},
        {"New", 1, 16, 1, "x\0"s},
    };
    for (const Read& r : reads) expectRead(r);
    expectRead({"Space", 0, 40, 22, "{\"   1000 Kb\",\"[-c-]\"}\0"s});
    // Item 0 of a list is out of range too.
    char buf[4] = "xx";
    EXPECT_EQ(CbGetListItem("Space", 0, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    // A value set on a list makes it a one-item list again.
    FSetSymbolValue("Space", "only");
    EXPECT_EQ(UsGetListLength("Space"), 1);
    expectRead({"Space", 1, 16, 4, "only\0"s});
    // A reset forgets every symbol.
    KitReset();
    expectRead({"Space", 0, 8, 0, "\0G"s});
}

TEST_F(KitSymbols, ManyListItemsUpToTheSixteenBitLimit) {
    for (int i = 1; i <= 60000; ++i) ASSERT_TRUE(FAddListItem("Big", std::to_string(i).c_str()));
    EXPECT_EQ(UsGetListLength("Big"), 60000);
    expectRead({"Big", 59999, 8, 5, "59999\0"s});
    for (int i = 60001; i <= 65535; ++i) ASSERT_TRUE(FAddListItem("Big", "x"));
    EXPECT_FALSE(FAddListItem("Big", "one too many"));
    EXPECT_EQ(UsGetListLength("Big"), 65535);
}

}  // namespace
