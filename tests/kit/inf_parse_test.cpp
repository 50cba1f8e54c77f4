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
        {"[S]\na = 1\n\n[T]\n[s]\n", 5, "appears twice (first at line 1)"},
        {"[S]\nA = 1\nb=2\na = 3\n", 4, "appears twice in [S] (first at line 2)"},
        {std::string_view("[S]\na = \0\n", 10), 2, "NUL"},
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
    const char* line;  // a key line of section [S]
    std::vector<std::string> fields;
};

TEST(KitInfParse, FieldsOfAKeyLine) {
    const FieldCase cases[] = {
        {"k = a, b ,c", {"a", "b", "c"}},
        {"k=a", {"a"}},
        {"k =", {}},
        {"k = ; only a comment", {}},
        {"k = a ; comment, not a field", {"a"}},
        {"k = \"with, comma\", \"semi;colon\"", {"with, comma", "semi;colon"}},
        {"k = \"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"k = ,, x", {"", "", "x"}},
        {"k = \"\"", {""}},
        {"k = a b  c , d", {"a b  c", "d"}},
        {"\"quoted key\" = v", {"v"}},
        {"k = vrdpsmon.dll, , , , , , , , , , , , , , 41472", {"vrdpsmon.dll", "", "", "", "", "", "", "", "", "", "", "", "", "", "41472"}},
    };
    for (const auto& c : cases) {
        kit::Inf inf;
        kit::InfError err;
        std::string text = "[S]\r\n" + std::string(c.line) + "\r\n";
        ASSERT_TRUE(kit::parseInf(text, inf, err)) << c.line << ": " << err.reason;
        ASSERT_EQ(inf.lines.size(), 1u);
        const kit::InfLine& l = inf.lines[0];
        ASSERT_EQ(l.fieldCount, c.fields.size()) << c.line;
        for (std::size_t i = 0; i < c.fields.size(); ++i) EXPECT_EQ(inf.field(l, (unsigned)i + 1), c.fields[i]) << c.line;
        EXPECT_EQ(inf.field(l, (unsigned)c.fields.size() + 1), "");  // past the last field
    }
}

TEST(KitInfParse, SectionsAndKeysCaseInsensitiveInFileOrder) {
    kit::Inf inf;
    kit::InfError err;
    ASSERT_TRUE(kit::parseInf("\xEF\xBB\xBF; header\n[Write Files]\nZeta = z.txt\nAlpha = a.txt\n  [ PPD Files ]  ; c\nM1 = m1.ppd\n",
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
