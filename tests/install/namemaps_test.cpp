// The model-name tables against the sample distribution: every name they
// map is a key of "PPD Files", every Windows 95 name fits 31 characters, and
// the shapes the tables promise hold.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "install/fixture.h"
#include "install/namemaps.h"

namespace {

// The keys of "PPD Files" in the sample setup.inf.
std::set<std::string> ppdKeys() {
    std::ifstream in(installtest::sourceDist() / "setup.inf");
    std::set<std::string> keys;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inSection = line.rfind("[PPD Files]", 0) == 0;
            continue;
        }
        auto eq = line.find(" = ");
        if (inSection && eq != std::string::npos && line[0] != ';') keys.insert(line.substr(0, eq));
    }
    return keys;
}

int count(const NameMapEntry* table) {
    int n = 0;
    while (table[n].Key != nullptr) ++n;
    EXPECT_EQ(table[n].Name, nullptr);
    return n;
}

TEST(NameMaps, Win95TablesMapKeysOfTheDistributionToShortNames) {
    auto keys = ppdKeys();
    ASSERT_GE(keys.size(), 15u);
    EXPECT_EQ(count(Win95DriverNameMap), 8);
    EXPECT_EQ(count(Win95NetDriverNameMap), 7);
    int shortened = 0;
    for (const NameMapEntry* table : {Win95DriverNameMap, Win95NetDriverNameMap}) {
        for (const NameMapEntry* e = table; e->Key; ++e) {
            std::string key = e->Key, name = e->Name;
            EXPECT_TRUE(keys.count(key)) << key;
            EXPECT_LE(key.size(), 40u) << key;
            EXPECT_LE(name.size(), 31u) << name;
            EXPECT_NE(key, name);
            if (table == Win95NetDriverNameMap) {
                ASSERT_GE(name.size(), 4u);
                EXPECT_EQ(name.substr(name.size() - 4), "/Net") << name;
                if (key + "/Net" != name) {
                    EXPECT_GT(key.size() + 4, 31u) << "shortened only when needed: " << key;
                    ++shortened;
                }
            }
        }
    }
    EXPECT_EQ(shortened, 2);
    // The distribution exercises every abbreviation.
    auto has = [&](const char* text) {
        for (const auto& k : keys)
            if (k.find(text) != std::string::npos) return true;
        return false;
    };
    for (const char* text : {"/Japanese", "Level2", "MB", "fonts"}) EXPECT_TRUE(has(text)) << text;
}

TEST(NameMaps, ObsoleteNamesMoveToCurrentKeysAndNeverTwice) {
    auto keys = ppdKeys();
    std::set<std::string> olds;
    int n = 0;
    const ObsoleteDriverName* e = ObsoleteDriverNameMap;
    for (; e->Old[0] != '\0'; ++e, ++n) olds.insert(e->Old);
    EXPECT_EQ(e->Current[0], '\0');
    EXPECT_EQ(n, 12);
    for (e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) {
        std::string old = e->Old, current = e->Current;
        EXPECT_LE(old.size(), 47u);
        EXPECT_LE(current.size(), 37u);
        EXPECT_TRUE(keys.count(current)) << current;
        EXPECT_FALSE(olds.count(current)) << current;
        EXPECT_NE(old.find(" v"), std::string::npos) << old;
    }
}

TEST(NameMaps, LookupIgnoresLetterCaseAndEndsAtTheNullPair) {
    EXPECT_STREQ(LookupNameMap(Win95DriverNameMap, "VARDEN LASERSTREAM 1200/japanese"), "Varden LaserStream 1200/J");
    EXPECT_STREQ(LookupNameMap(Win95NetDriverNameMap, "Varden DeskStream 800"), "Varden DeskStream 800/Net");
    EXPECT_EQ(LookupNameMap(Win95DriverNameMap, "Varden LaserStream 400"), nullptr);
    EXPECT_EQ(LookupNameMap(Win95NetDriverNameMap, ""), nullptr);
}

}  // namespace
