// Program Manager groups and items through the DDE client calls.
#include "helpers.h"
#include "winsim/dde/state.h"

#include <gtest/gtest.h>

namespace {

using namespace kittest;

// An item's name may carry its icon after a comma; empty names are refused
// before any conversation, and every conversation is closed again.
TEST(KitProgman, GroupShownAndItemsAdded) {
    auto& m = freshMachine("progman");
    m.dde->progmanRunning = true;
    const char* g = "Varden Network Printing";
    ASSERT_TRUE(FCreateProgManGroupEx(g, 1, 1));
    ASSERT_TRUE(FShowProgManGroupEx(g, 1, "1", 1));
    ASSERT_TRUE(FCreateProgManItemEx(g, 1, "Read Me,write.exe", "write.exe C:\\vrd\\readme.wri", 1024));
    ASSERT_TRUE(FCreateProgManItemEx(g, 1, "Wizard,", "C:\\vrd\\wizard.exe", 1024));  // a comma and no icon
    EXPECT_STREQ(m.dde->executes.back().c_str(), "[CreateGroup(\"Varden Network Printing\")][AddItem(C:\\vrd\\wizard.exe,Wizard)]");
    EXPECT_FALSE(FCreateProgManGroupEx("", 1, 1));
    EXPECT_FALSE(FShowProgManGroupEx(g, 1, "", 1));
    EXPECT_FALSE(FCreateProgManItemEx(g, 1, "", "x.exe", 1024));
    ASSERT_EQ(m.dde->groups.size(), 1u);
    EXPECT_EQ(m.dde->groups[0].name, g);
    EXPECT_EQ(m.dde->groups[0].showCommand, 1);
    std::string items;
    for (const auto& i : m.dde->groups[0].items) items += i.name + "|" + i.command + "|" + i.iconPath + "\n";
    EXPECT_EQ(items, "Read Me|write.exe C:\\vrd\\readme.wri|write.exe\nWizard|C:\\vrd\\wizard.exe|\n");
    EXPECT_TRUE(m.dde->conversations.empty());
}

TEST(KitProgman, NoProgramManagerFailsAndIsLogged) {
    auto& m = freshMachine("progman-off");
    m.dde->progmanRunning = false;
    auto host = tempDir("progman-off-host");
    ASSERT_EQ(startFrame("--log " + (host / "log").string()), 1);
    EXPECT_FALSE(FCreateProgManGroupEx("G", 1, 1));
    EXPECT_FALSE(FShowProgManGroupEx("G", 1, "", 1));
    KitLogExit(0);
    std::string log = readFile(host / "log");
    EXPECT_NE(log.find("progman [CreateGroup(G)]: refused (DDE error"), std::string::npos) << log;
}

}  // namespace
