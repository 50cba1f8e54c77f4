// Program Manager commands over DDE: the exact execute strings, and what is
// refused.
#include "setup/harness.h"
#include "sysutil/progman.h"
#include "winsim/dde/state.h"

namespace {

using namespace harness;

struct Progman : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("progman");
        // The DDE instances belong to the run; a new machine starts a new run.
        ProgmanGroupInstance = 0;
        ProgmanItemInstance = 0;
        m->dde->progmanRunning = true;
    }
    void group(const std::string& name, Lines items) {
        winsim::ProgmanGroup g;
        g.name = name;
        for (auto& i : items) g.items.push_back(winsim::ProgmanItem{.name = i, .command = i + ".exe"});
        m->dde->groups.push_back(g);
    }
    // The groups and their items: "Group: item, item; ...".
    std::string groups() {
        std::string out;
        for (auto& g : m->dde->groups) {
            out += g.name + ":";
            for (auto& i : g.items) out += " " + i.name;
            out += "; ";
        }
        return out;
    }
    winsim::Machine* m = nullptr;
};

// The exact bytes sent, the NUL included; a group and an item of the same
// name elsewhere stay; each command keeps its DDE instance for the run;
// every conversation is closed again.
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
    EXPECT_EQ(groups(), "Startup: Clock; Main: Varden Network Printing Help; ");
    const char dropGroup[] = "[DeleteGroup(\"Varden Network Printers\")]", show[] = "[ShowGroup(\"Startup\",2)]",
               item[] = "[DeleteItem(\"Varden Network Printing Help\")]";
    EXPECT_EQ(Lines(m->dde->executes.begin(), m->dde->executes.end()),
              (Lines{std::string(dropGroup, sizeof dropGroup), std::string(show, sizeof show),
                     std::string(item, sizeof item), std::string(dropGroup, sizeof dropGroup)}));
    EXPECT_TRUE(m->dde->conversations.empty());
    EXPECT_EQ(ProgmanDdeCallback(XTYP_EXECUTE, CF_TEXT, nullptr, nullptr, nullptr, nullptr, 0, 0), nullptr);
}

// Refusals: the commands sent (by their first 12 characters) and nothing deleted.
TEST_F(Progman, RefusalsDeleteNothing) {
    const std::string overlong(1100, 'x');
    const struct { bool running; const char* group; bool startup; std::string sent; } rows[] = {
        {false, "Varden Network Printers", false, ""},  // Program Manager not running
        {false, nullptr, false, ""},
        {true, nullptr, false, "[ShowGroup( "},          // no Startup group
        {true, nullptr, true, "[ShowGroup( [DeleteItem( "},  // no such item in it
        {true, overlong.c_str(), false, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        SetUp();
        m->dde->progmanRunning = row.running;
        const std::string name = row.group ? row.group : "Main";
        group(name, {"Varden Network Printing Help"});
        if (row.startup) group("Startup", {"Clock"});
        EXPECT_FALSE(row.group ? deleteProgmanGroup(row.group) : deleteProgmanItem("Varden Network Printing Help", "Startup"));
        std::string sent;
        for (const auto& e : m->dde->executes) sent += e.substr(0, e.find('(') + 1) + " ";
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(groups(), name + ": Varden Network Printing Help; " + (row.startup ? "Startup: Clock; " : ""));
    }
}

}  // namespace
