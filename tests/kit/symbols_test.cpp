// Symbols and lists: values, list items from 1, and the Cb* rule (the full
// length is returned, at most capacity - 1 bytes and a NUL are copied); the
// INF parser, table-driven: text in, fields out, or the line and the reason
// of the error.
#include "helpers.h"
#include "kit/internal.h"

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
        {"DLGEVENT", 0, 1, 8, "\0G"s},  // capacity 1 holds the terminator alone
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

TEST(KitInfParse, MalformedTextNamesLineAndReason) {
    const struct {
        std::string_view text;
        int line;
        const char* reason;  // a part of the reason
    } cases[] = {
        {"key = a\n", 1, "outside any section"},
        {"[S]\nkey = \"open\n", 2, "unterminated"},
        {"; c\n[S\nkey=a\n", 2, "without ']'"},
        {"[ ]\n", 1, "empty section name"},
        {"[S] junk\n", 1, "after the section header"},
        {"[S]\njustatext\n", 2, "missing '='"}, {"[S]\nkey ; no value\n", 2, "missing '='"},
        {"[S]\n = a\n", 2, "empty key"},
        {"[S]\na = \"x\" y\n", 2, "after a closing quote"},
        {"[S]\na = x\"y\n", 2, "quote inside"},
        {"[S]\na =\n\n[T]\n[s]\n", 5, "appears twice (first at line 1)"},
        {"[S]\nA =\nb=\na =\n", 4, "appears twice in [S] (first at line 2)"},
        {std::string_view("[S]\na = \0\n", 10), 2, "NUL"},
        // A line with fields names a file; field 15 is its size in bytes.
        {"[S]\na = x\n", 2, "field 15 (the size in bytes) is missing"},
        {"[S]\n\na = x,,,,,,,,,,,,,,\n", 3, "field 15 (the size in bytes) is missing"},
        {"[S]\na = x,,,,,,,,,,,,,,\"\"\n", 2, "field 15 (the size in bytes) is missing"},
        {"[S]\na = x,,,,,,,,,,,,,,12ab\n", 2, "field 15 (the size in bytes) \"12ab\" is not a decimal number"},
        {"[S]\na = x,,,,,,,,,,,,,,-7\n", 2, "field 15 (the size in bytes) \"-7\" is not a decimal number"},
        {"[S]\na = x,,,,,,,,,,,,,,\" 7\"\n", 2, "\" 7\" is not a decimal number"},
        {"[S]\na = x,,,,,,,,,,,,,,+7\n", 2, "\"+7\" is not a decimal number"},
        {"[S]\na = x,,,,,,,,,,,,,,2147483648\n", 2, "\"2147483648\" is larger than 2147483647"},
        {"[S]\na = x,,,,,,,,,,,,,,99999999999999999999999\n", 2, "is larger than 2147483647"},
    };
    for (const auto& c : cases) {
        std::string_view text = c.text;
        kit::Inf inf;
        kit::InfError err;
        EXPECT_FALSE(kit::parseInf(text, inf, err)) << c.text;
        EXPECT_EQ(err.line, c.line) << c.text;
        EXPECT_NE(err.reason.find(c.reason), std::string::npos) << c.text << " -> " << err.reason;
    }
}

// Key lines are completed with their size in field 15; a line without
// fields names no file and needs none.
TEST(KitInfParse, FieldsOfAKeyLine) {
    const struct {
        const char* fields;     // the first fields of a key line of section [S]
        const char* comment;    // after the line's size field
        std::vector<std::string> expected;
    } cases[] = {
        {"a, b ,c", "", {"a", "b", "c"}},
        {"a", " ; comment, not a field", {"a"}},
        {"\"with, comma\", \"semi;colon\"", "", {"with, comma", "semi;colon"}},
        {"\"say \"\"hi\"\"\"", "", {"say \"hi\""}},
        {",, x", "", {"", "", "x"}},
        {"\"\"", "", {""}},
        {"a b  c , d", ";", {"a b  c", "d"}},
    };
    for (const auto& c : cases) {
        kit::Inf inf;
        kit::InfError err;
        std::string line =
            std::string("k = ") + c.fields + std::string(15 - c.expected.size(), ',') + " 0041472" + c.comment;
        std::string text = "[S]\r\n" + line + "\r\n\"quoted key\" =\r\nk2 = ; only a comment\r\n";
        ASSERT_TRUE(kit::parseInf(text, inf, err)) << line << ": " << err.reason;
        ASSERT_EQ(inf.lines.size(), 3u);
        const kit::InfLine& l = inf.lines[0];
        ASSERT_EQ(l.fieldCount, 15u) << line;
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(inf.field(l, (unsigned)i + 1), c.expected[i]) << line;
        EXPECT_EQ(inf.field(l, 14), "") << line;
        EXPECT_EQ(inf.field(l, 15), "0041472") << line;
        EXPECT_EQ(inf.field(l, 16), "");  // past the last field
        EXPECT_EQ(inf.field(inf.lines[1], 0), "quoted key");
        EXPECT_EQ(inf.lines[1].fieldCount, 0u);
        EXPECT_EQ(inf.lines[2].fieldCount, 0u);
    }
    kit::Inf inf;
    kit::InfError err;
    EXPECT_TRUE(kit::parseInf("[S]\nbig = x,,,,,,,,,,,,,,2147483647\n", inf, err)) << err.reason;
}

TEST(KitInfParse, SectionsAndKeysCaseInsensitiveInFileOrder) {
    kit::Inf inf;
    kit::InfError err;
    ASSERT_TRUE(kit::parseInf("\xEF\xBB\xBF; header\n[Write Files]\nZeta = z.txt,,,,,,,,,,,,,,1\n"
                              "al?ha = a.txt,,,,,,,,,,,,,,2\nal_hb = b.txt,,,,,,,,,,,,,,4\n  [ PPD Files ]  ; c\nM1 = m1.ppd,,,,,,,,,,,,,,3\n",
                              inf, err))
        << err.reason;
    const kit::InfSection* s = inf.section("write files");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->lines.size(), 3u);
    EXPECT_EQ(inf.field(inf.lines[s->lines[0]], 0), "Zeta");
    EXPECT_EQ(inf.field(inf.lines[s->lines[1]], 0), "al?ha");
    // After Zeta the next line is tried first: a key of its length that differs, even in its first letter or in a
    // character that is not a letter, is not it.
    ASSERT_NE(inf.line(*s, "zeta"), nullptr);
    EXPECT_TRUE(!inf.line(*s, "Bl?ha") && !inf.line(*s, "al_ha") && !inf.line(*s, "xx!xx"));
    const kit::InfLine* l = inf.line(*s, "AL?HA");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(inf.field(*l, 1), "a.txt");
    EXPECT_NE(inf.section("PPD FILES"), nullptr);
    EXPECT_EQ(inf.section("PPD"), nullptr);
    EXPECT_TRUE(!inf.line(*s, "Beta") && !inf.line(*s, "al?hb"));  // the next line is al_hb
}

}  // namespace
