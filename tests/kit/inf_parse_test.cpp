// The INF parser, table-driven: text in, fields out, or the line and the
// reason of the error.
#include "kit/internal.h"

#include <gtest/gtest.h>

namespace {

struct BadCase {
    std::string_view text;
    int line;
    const char* reason;  // a part of the reason
};

TEST(KitInfParse, MalformedTextNamesLineAndReason) {
    const BadCase cases[] = {
        {"key = a\n", 1, "outside any section"},
        {"[S]\nkey = \"open\n", 2, "unterminated"},
        {"; c\n[S\nkey=a\n", 2, "without ']'"},
        {"[ ]\n", 1, "empty section name"},
        {"[S] junk\n", 1, "after the section header"},
        {"[S]\njustatext\n", 2, "missing '='"},
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

struct FieldCase {
    const char* fields;     // the first fields of a key line of section [S]
    const char* comment;    // after the line's size field
    std::vector<std::string> expected;
};

// Key lines are completed with their size in field 15; a line without
// fields names no file and needs none.
TEST(KitInfParse, FieldsOfAKeyLine) {
    const FieldCase cases[] = {
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
        std::string line = std::string("k = ") + c.fields + std::string(15 - c.expected.size(), ',') + " 0041472" + c.comment;
        std::string text = "[S]\r\n" + line + "\r\n\"quoted key\" =\r\nk2 = ; only a comment\r\n";
        ASSERT_TRUE(kit::parseInf(text, inf, err)) << line << ": " << err.reason;
        ASSERT_EQ(inf.lines.size(), 3u);
        const kit::InfLine& l = inf.lines[0];
        ASSERT_EQ(l.fieldCount, 15u) << line;
        for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(inf.field(l, (unsigned)i + 1), c.expected[i]) << line;
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
    ASSERT_TRUE(kit::parseInf("\xEF\xBB\xBF; header\n[Write Files]\nZeta = z.txt,,,,,,,,,,,,,,1\nAlpha = a.txt,,,,,,,,,,,,,,2\n"
                              "  [ PPD Files ]  ; c\nM1 = m1.ppd,,,,,,,,,,,,,,3\n",
                              inf, err))
        << err.reason;
    const kit::InfSection* s = inf.section("write files");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->lines.size(), 2u);
    EXPECT_EQ(inf.field(inf.lines[s->lines[0]], 0), "Zeta");
    EXPECT_EQ(inf.field(inf.lines[s->lines[1]], 0), "Alpha");
    const kit::InfLine* l = inf.line(*s, "ALPHA");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(inf.field(*l, 1), "a.txt");
    EXPECT_NE(inf.section("PPD FILES"), nullptr);
    EXPECT_EQ(inf.section("PPD"), nullptr);
    EXPECT_EQ(inf.line(*s, "Beta"), nullptr);
}

}  // namespace
