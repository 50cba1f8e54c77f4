// Program Manager groups and items through the DDE client calls.
#include "helpers.h"
#include "winsim/dde/state.h"

#include <gtest/gtest.h>

namespace {

using namespace kittest;

TEST(KitProgman, GroupShownAndItemsAdded) {
    auto& m = freshMachine("progman");
    m.dde->progmanRunning = true;
    ASSERT_TRUE(FCreateProgManGroupEx("Varden Network Printing", 1, 1));
    ASSERT_TRUE(FShowProgManGroupEx("Varden Network Printing", 1, "1", 1));
    ASSERT_TRUE(FCreateProgManItemEx("Varden Network Printing", 1, "Read Me,write.exe",
                                     "write.exe C:\\win32app\\vrdpsmon\\readme.wri", 1024));
    ASSERT_TRUE(FCreateProgManItemEx("Varden Network Printing", 1, "Printer Setup Wizard",
                                     "C:\\win32app\\vrdpsmon\\wizard.exe", 1024));
    ASSERT_EQ(m.dde->groups.size(), 1u);
    const auto& g = m.dde->groups[0];
    EXPECT_EQ(g.name, "Varden Network Printing");
    EXPECT_EQ(g.showCommand, 1);
    ASSERT_EQ(g.items.size(), 2u);
    EXPECT_EQ(g.items[0].name, "Read Me");
    EXPECT_EQ(g.items[0].command, "write.exe C:\\win32app\\vrdpsmon\\readme.wri");
    EXPECT_EQ(g.items[0].iconPath, "write.exe");
    EXPECT_EQ(g.items[1].name, "Printer Setup Wizard");
    EXPECT_EQ(g.items[1].iconPath, "");
    // The conversation was closed again.
    EXPECT_TRUE(m.dde->conversations.empty());
    // Empty names are refused before any conversation.
    EXPECT_FALSE(FCreateProgManGroupEx("", 1, 1));
    EXPECT_FALSE(FShowProgManGroupEx("Varden Network Printing", 1, "", 1));
    EXPECT_FALSE(FCreateProgManItemEx("Varden Network Printing", 1, "", "x.exe", 1024));
    EXPECT_EQ(m.dde->groups[0].items.size(), 2u);
}

TEST(KitProgman, NoProgramManagerFailsAndIsLogged) {
    auto& m = freshMachine("progman-off");
    m.dde->progmanRunning = false;
    auto host = tempDir("progman-off-host");
    std::string cmd = "--log " + (host / "log").string();
    ASSERT_EQ(InitializeFrame(cmd.data()), 1);
    EXPECT_FALSE(FCreateProgManGroupEx("G", 1, 1));
    EXPECT_FALSE(FShowProgManGroupEx("G", 1, "", 1));
    KitLogExit(0);
    std::string log = readFile(host / "log");
    EXPECT_NE(log.find("progman [CreateGroup(G)]: refused (DDE error"), std::string::npos) << log;
}

}  // namespace
