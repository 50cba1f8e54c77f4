// Symbols and lists: values, list items from 1, and the Cb* rule (the full
// length is returned, at most capacity - 1 bytes and a NUL are copied).
#include "helpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using kittest::freshMachine;

TEST(KitSymbols, ValueReadBackWithinCapacity) {
    freshMachine("sym-value");
    ASSERT_TRUE(FSetSymbolValue("EditTextIn", "C:\\win32app\\vrdpsmon"));
    char buf[32];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(CbGetSymbolValue("EditTextIn", buf, 32), 20);
    EXPECT_STREQ(buf, "C:\\win32app\\vrdpsmon");
    EXPECT_EQ(buf[21], 'G');
}

TEST(KitSymbols, ValueTooLongIsCutAndReportsItsLength) {
    freshMachine("sym-cut");
    FSetSymbolValue("DLGEVENT", "CONTINUE");
    char buf[12];
    std::memset(buf, 'G', sizeof buf);
    // A value exactly as long as the capacity does not fit: 8 >= 8.
    EXPECT_EQ(CbGetSymbolValue("DLGEVENT", buf, 8), 8);
    EXPECT_STREQ(buf, "CONTINU");
    EXPECT_EQ(buf[8], 'G');
    EXPECT_EQ(CbGetSymbolValue("DLGEVENT", buf, 9), 8);
    EXPECT_STREQ(buf, "CONTINUE");
    // Capacity 0 writes nothing at all.
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(CbGetSymbolValue("DLGEVENT", buf, 0), 8);
    EXPECT_EQ(buf[0], 'G');
}

TEST(KitSymbols, MissingAndBadNames) {
    freshMachine("sym-missing");
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(CbGetSymbolValue("Nothing", buf, 8), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(FSetSymbolValue("", "a"));
    EXPECT_FALSE(FSetSymbolValue(nullptr, "a"));
    EXPECT_EQ(CbGetSymbolValue(nullptr, buf, 8), 0);
    // Names are exact: another case is another symbol.
    FSetSymbolValue("ErrorText", "a");
    EXPECT_EQ(CbGetSymbolValue("errortext", buf, 8), 0);
}

TEST(KitLists, ItemsIndexedFromOne) {
    freshMachine("list-index");
    FSetSymbolValue("Available Space", "");
    EXPECT_EQ(UsGetListLength("Available Space"), 0);
    EXPECT_EQ(UsGetListLength(nullptr), 0);
    EXPECT_EQ(UsGetListLength(""), 0);
    EXPECT_EQ(UsGetListLength("No Such List"), 0);
    ASSERT_TRUE(FAddListItem("Available Space", "   1000 Kb"));
    ASSERT_TRUE(FAddListItem("Available Space", "   2000 Kb"));
    EXPECT_EQ(UsGetListLength("Available Space"), 2);
    char buf[16];
    EXPECT_EQ(CbGetListItem("Available Space", 1, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "   1000 Kb");
    EXPECT_EQ(CbGetListItem("Available Space", 2, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "   2000 Kb");
    // Out of range: nothing, empty buffer.
    EXPECT_EQ(CbGetListItem("Available Space", 0, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(CbGetListItem("Available Space", 3, buf, sizeof buf), 0);
    EXPECT_FALSE(FReplaceListItem("Available Space", 3, "x"));
    EXPECT_FALSE(FReplaceListItem("Available Space", 0, "x"));
    EXPECT_TRUE(FReplaceListItem("Available Space", 2, "[-c-]"));
    EXPECT_EQ(CbGetListItem("Available Space", 2, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "[-c-]");
    // A value set on a list makes it a one-item list again.
    FSetSymbolValue("Available Space", "only");
    EXPECT_EQ(UsGetListLength("Available Space"), 1);
    EXPECT_EQ(CbGetListItem("Available Space", 1, buf, sizeof buf), 4);
}

TEST(KitLists, ListReadAsValueAndValueAsList) {
    freshMachine("list-value");
    FAddListItem("L", "a");
    FAddListItem("L", "b");
    char buf[16];
    EXPECT_EQ(CbGetSymbolValue("L", buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "{\"a\",\"b\"}");
    FSetSymbolValue("V", "one");
    EXPECT_EQ(UsGetListLength("V"), 1);
    EXPECT_EQ(CbGetListItem("V", 1, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "one");
    // Adding to a missing list creates it.
    EXPECT_TRUE(FAddListItem("New", "x"));
    EXPECT_EQ(UsGetListLength("New"), 1);
}

TEST(KitLists, ManyItemsKeepConstantTimeAccess) {
    freshMachine("list-many");
    for (int i = 1; i <= 60000; ++i) ASSERT_TRUE(FAddListItem("Big", std::to_string(i).c_str()));
    EXPECT_EQ(UsGetListLength("Big"), 60000);
    char buf[8];
    EXPECT_EQ(CbGetListItem("Big", 59999, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "59999");
    // Item numbers are 16-bit: the list stops growing at 65535 items.
    for (int i = 60001; i <= 65535; ++i) ASSERT_TRUE(FAddListItem("Big", "x"));
    EXPECT_FALSE(FAddListItem("Big", "one too many"));
    EXPECT_EQ(UsGetListLength("Big"), 65535);
}

}  // namespace
