// Program Manager commands over DDE: the exact execute strings, and what is
// refused.
#include "printsys/fixture.h"
#include "sysutil/progman.h"
#include "winsim/dde/state.h"

#include <gtest/gtest.h>

#include <algorithm>

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
        for (auto& i : items) {
            winsim::ProgmanItem item{};
            item.name = i;
            item.command = i + ".exe";
            g.items.push_back(item);
        }
        m->dde->groups.push_back(g);
    }
    // Whether the group (and the item in it, when one is named) exists.
    bool has(const std::string& groupName, const std::string& item = "") {
        for (auto& g : m->dde->groups)
            if (winsim::iequals(g.name, groupName))
                return item.empty() || std::any_of(g.items.begin(), g.items.end(),
                                                   [&](auto& i) { return winsim::iequals(i.name, item); });
        return false;
    }
    std::vector<std::string> executes() { return {m->dde->executes.begin(), m->dde->executes.end()}; }
    winsim::Machine* m = nullptr;
};

// The exact bytes sent, the NUL included; a group and an item of the same
// name elsewhere stay; each command keeps its DDE instance for the run.
TEST_F(Progman, DeleteGroupAndItemSendExactBytes) {
    group("Varden Network Printers", {"Setup Wizard"});
    group("Startup", {"Varden Network Printing Help", "Clock"});
    group("Main", {"Varden Network Printing Help"});
    EXPECT_TRUE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_NE(ProgmanGroupInstance, 0u);
    EXPECT_EQ(ProgmanItemInstance, 0u);
    EXPECT_TRUE(deleteProgmanItem("Varden Network Printing Help", "Startup"));
    const DWORD instance = ProgmanGroupInstance;
    EXPECT_FALSE(deleteProgmanGroup("Varden Network Printers"));
    EXPECT_EQ(ProgmanGroupInstance, instance);
    EXPECT_NE(ProgmanItemInstance, 0u);
    EXPECT_FALSE(has("Varden Network Printers"));
    EXPECT_FALSE(has("Startup", "Varden Network Printing Help"));
    EXPECT_TRUE(has("Startup", "Clock"));
    EXPECT_TRUE(has("Main", "Varden Network Printing Help"));
    const char dropGroup[] = "[DeleteGroup(\"Varden Network Printers\")]", show[] = "[ShowGroup(\"Startup\",2)]",
               item[] = "[DeleteItem(\"Varden Network Printing Help\")]";
    EXPECT_EQ(executes(), (std::vector<std::string>{std::string(dropGroup, sizeof dropGroup), std::string(show, sizeof show),
                                                    std::string(item, sizeof item), std::string(dropGroup, sizeof dropGroup)}));
    // Every conversation was closed again, and the string handles freed.
    EXPECT_TRUE(m->dde->conversations.empty());
}

// Refusals: the commands sent (by their start) and nothing deleted.
TEST_F(Progman, RefusalsDeleteNothing) {
    const std::string overlong(1100, 'x');
    const struct {
        const char* what;
        bool running;
        const char* group;  // the group deleted, or nullptr: the help item of Startup
        std::vector<std::string> sent;
    } rows[] = {
        {"Program Manager not running: group", false, "Varden Network Printers", {}},
        {"Program Manager not running: item", false, nullptr, {}},
        {"no Startup group", true, nullptr, {"[ShowGroup("}},
        {"no such item", true, nullptr, {"[ShowGroup(", "[DeleteItem("}},
        {"overlong name", true, overlong.c_str(), {}},
    };
    for (const auto& row : rows) {
        SetUp();
        m->dde->progmanRunning = row.running;
        group(row.group ? row.group : "Main", {"Varden Network Printing Help"});
        if (std::string(row.what) == "no such item") group("Startup", {"Clock"});
        EXPECT_FALSE(row.group ? deleteProgmanGroup(row.group)
                               : deleteProgmanItem("Varden Network Printing Help", "Startup"))
            << row.what;
        auto sent = executes();
        ASSERT_EQ(sent.size(), row.sent.size()) << row.what;
        for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].rfind(row.sent[i], 0), 0u) << row.what;
        EXPECT_TRUE(has(row.group ? row.group : "Main", "Varden Network Printing Help")) << row.what;
    }
}

TEST(ProgmanCallback, AnswersNull) {
    EXPECT_EQ(ProgmanDdeCallback(XTYP_EXECUTE, CF_TEXT, nullptr, nullptr, nullptr, nullptr, 0, 0), nullptr);
}

}  // namespace
