// Program Manager groups and items through the DDE client calls.
#include "helpers.h"
#include "winsim/dde/state.h"

#include <gtest/gtest.h>

namespace {

using KitProgman = kittest::Kit;

// An item's name may carry its icon after a comma; empty names are refused
// before any conversation, and every conversation is closed again.
TEST_F(KitProgman, GroupShownAndItemsAdded) {
    m->dde->progmanRunning = true;
    const char* g = "Varden Network Printing";
    ASSERT_TRUE(FCreateProgManGroupEx(g, 1, 1));
    ASSERT_TRUE(FShowProgManGroupEx(g, 1, "1", 1));
    ASSERT_TRUE(FCreateProgManItemEx(g, 1, "Read Me,write.exe", "write.exe C:\\vrd\\readme.wri", 1024));
    ASSERT_TRUE(FCreateProgManItemEx(g, 1, "Wizard,", "C:\\vrd\\wizard.exe", 1024));  // a comma and no icon
    EXPECT_STREQ(m->dde->executes.back().c_str(), "[CreateGroup(\"Varden Network Printing\")][AddItem(C:\\vrd\\wizard.exe,Wizard)]");
    EXPECT_FALSE(FCreateProgManGroupEx("", 1, 1) || FShowProgManGroupEx(g, 1, "", 1) || FShowProgManGroupEx("", 1, "1", 1) ||
                 FCreateProgManItemEx(g, 1, "", "x.exe", 1024));
    std::string groups;
    for (const auto& group : m->dde->groups) {
        groups += group.name + " show " + std::to_string(group.showCommand) + "\n";
        for (const auto& i : group.items) groups += i.name + "|" + i.command + "|" + i.iconPath + "\n";
    }
    EXPECT_EQ(groups, "Varden Network Printing show 1\nRead Me|write.exe C:\\vrd\\readme.wri|write.exe\nWizard|C:\\vrd\\wizard.exe|\n");
    EXPECT_TRUE(m->dde->conversations.empty());
    // Without the Program Manager the calls fail and the log says why.
    m->dde->progmanRunning = false;
    start("");
    EXPECT_FALSE(FCreateProgManGroupEx("G", 1, 1) || FShowProgManGroupEx("G", 1, "", 1));
    std::string log = finish();
    EXPECT_NE(log.find("progman [CreateGroup(G)]: refused (DDE error"), std::string::npos) << log;
}

}  // namespace
