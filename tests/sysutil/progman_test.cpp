// Program Manager commands over DDE: the exact execute strings, and what is
// refused.
#include "printsys/fixture.h"
#include "sysutil/progman.h"
#include "winsim/dde/state.h"

#include <gtest/gtest.h>

namespace {

using namespace fixture;

struct Progman : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("progman");
        // The DDE instances belong to the run; a new machine starts a new run.
        ProgmanGroupInstance = 0;
        ProgmanItemInstance = 0;
        m->dde->progmanRunning = true;
    }
    void group(const std::string& name, std::vector<std::string> items = {}) {
        winsim::ProgmanGroup g;
        g.name = name;
        for (auto& i : items) g.items.push_back(winsim::ProgmanItem{i, i + ".exe"});
        m->dde->groups.push_back(g);
    }
    bool hasGroup(const std::string& name) {
        for (auto& g : m->dde->groups)
            if (winsim::iequals(g.name, name)) return true;
        return false;
    }
    bool hasItem(const std::string& groupName, const std::string& item) {
        for (auto& g : m->dde->groups)
            if (winsim::iequals(g.name, groupName))
                for (auto& i : g.items)
                    if (winsim::iequals(i.name, item)) return true;
        return false;
    }
    std::vector<std::string> executes() { return {m->dde->executes.begin(), m->dde->executes.end()}; }
    winsim::Machine* m = nullptr;
};

TEST_F(Progman, DeleteGroupSendsExactBytes) {
    group("Varden Network Printers", {"Setup Wizard"});
    group("Main");
    EXPECT_TRUE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_FALSE(hasGroup("Varden Network Printers"));
    EXPECT_TRUE(hasGroup("Main"));
    const char expected[] = "[DeleteGroup(\"Varden Network Printers\")]";
    ASSERT_EQ(executes().size(), 1u);
    EXPECT_EQ(executes()[0], std::string(expected, sizeof expected));  // the NUL is sent too
    EXPECT_NE(ProgmanGroupInstance, 0u);
    EXPECT_EQ(ProgmanItemInstance, 0u);
    // Every conversation was closed again, and the string handle freed.
    EXPECT_TRUE(m->dde->conversations.empty());
}

TEST_F(Progman, SecondDeleteOfSameGroupIsRefused) {
    group("Varden Network Printers");
    EXPECT_TRUE(deleteProgmanGroup("Varden Network Printers"));
    DWORD instance = ProgmanGroupInstance;
    EXPECT_FALSE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_EQ(ProgmanGroupInstance, instance);  // kept for the whole run
    EXPECT_EQ(executes().size(), 2u);
    EXPECT_TRUE(m->dde->conversations.empty());
}

TEST_F(Progman, ProgramManagerNotRunning) {
    m->dde->progmanRunning = false;
    group("Varden Network Printers");
    EXPECT_FALSE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_FALSE(deleteProgmanItem("Varden Network Printing Help", "Startup"));
    EXPECT_TRUE(executes().empty());
    EXPECT_TRUE(hasGroup("Varden Network Printers"));
}

TEST_F(Progman, DeleteItemShowsGroupThenDeletesItem) {
    group("Startup", {"Varden Network Printing Help", "Clock"});
    group("Main", {"Varden Network Printing Help"});
    EXPECT_TRUE(deleteProgmanItem("Varden Network Printing Help", "Startup"));
    EXPECT_FALSE(hasItem("Startup", "Varden Network Printing Help"));
    EXPECT_TRUE(hasItem("Startup", "Clock"));
    EXPECT_TRUE(hasItem("Main", "Varden Network Printing Help"));
    const char show[] = "[ShowGroup(\"Startup\",2)]";
    const char del[] = "[DeleteItem(\"Varden Network Printing Help\")]";
    EXPECT_EQ(executes(), (std::vector<std::string>{std::string(show, sizeof show), std::string(del, sizeof del)}));
    EXPECT_NE(ProgmanItemInstance, 0u);
    EXPECT_EQ(ProgmanGroupInstance, 0u);
}

TEST_F(Progman, DeleteItemSendsNothingAboutItemWhenGroupIsMissing) {
    group("Main", {"Varden Network Printing Help"});
    EXPECT_FALSE(deleteProgmanItem("Varden Network Printing Help", "Startup"));
    ASSERT_EQ(executes().size(), 1u);
    EXPECT_EQ(executes()[0].rfind("[ShowGroup(", 0), 0u);
    EXPECT_TRUE(hasItem("Main", "Varden Network Printing Help"));
}

TEST_F(Progman, MissingItemIsRefused) {
    group("Startup", {"Clock"});
    EXPECT_FALSE(deleteProgmanItem("Varden Network Printing Help", "Startup"));
    EXPECT_EQ(executes().size(), 2u);
}

TEST_F(Progman, OverlongNameSendsNothing) {
    std::string name(1100, 'x');
    group(name);
    EXPECT_FALSE(deleteProgmanGroup(name.c_str()));
    EXPECT_TRUE(executes().empty());
    EXPECT_TRUE(hasGroup(name));
}

TEST(ProgmanCallback, AnswersNull) {
    EXPECT_EQ(ProgmanDdeCallback(XTYP_EXECUTE, CF_TEXT, nullptr, nullptr, nullptr, nullptr, 0, 0), nullptr);
}

}  // namespace
