// Registry tree operations: merge without overwriting, tree deletion order,
// and FixReg's folding of other monitor keys into the monitor's own key.
#include "printsys/fixture.h"
#include "sysutil/regtree.h"
#include "winsim/security/state.h"

#include <gtest/gtest.h>

namespace {

using namespace fixture;

const char kMonitors[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char kOwn[] = "Varden Network Port";

std::string mon(const std::string& sub) { return std::string(kMonitors) + "\\" + sub; }

struct RegTree : ::testing::Test {
    void SetUp() override { m = &bareMachine("regtree"); }
    winsim::Machine* m = nullptr;
};

// --- copyRegTree / copyRegValues -------------------------------------------

TEST_F(RegTree, CopyMergesTreeAndKeepsDestinationValues) {
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Shared", "from source");
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Only", "source only");
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Ports\\NP1", "Timeout", 42);
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Ports\\NP2\\Deep", "Name", "deep");
    HKEY bin = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src");
    const BYTE blob[] = {1, 2, 0, 3};
    ASSERT_EQ(RegSetValueExA(bin, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    RegCloseKey(bin);
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Shared", "kept");
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\Ports\\NP1", "Timeout", 7);

    HKEY src = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src");
    HKEY dst = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    EXPECT_EQ(copyRegTree(src, dst), (DWORD)STS_DONE);
    RegCloseKey(src);
    RegCloseKey(dst);

    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Shared"), "kept");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Only"), "source only");
    DWORD type = 0;
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Blob", &type), std::string("\x01\x02\x00\x03", 4));
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    std::string seven("\x07\x00\x00\x00", 4);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\Ports\\NP1", "Timeout"), seven);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\Ports\\NP2\\Deep", "Name"), "deep");
    // The source is left as it was.
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Shared"), "from source");
}

TEST_F(RegTree, CopyOfEmptyKeyCopiesNothing) {
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Empty");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    HKEY src = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Empty");
    HKEY dst = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    EXPECT_EQ(copyRegTree(src, dst), (DWORD)STS_DONE);
    RegCloseKey(src);
    RegCloseKey(dst);
    EXPECT_TRUE(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst").empty());
}

TEST_F(RegTree, CopyOfUnreadableSourceCopiesNothingAndSucceeds) {
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Sub", "V", "x");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    HKEY src = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src");
    HKEY dst = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    failNext(*m, "RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Src");
    EXPECT_EQ(copyRegTree(src, dst), (DWORD)STS_DONE);
    m->faults.clear();
    RegCloseKey(src);
    RegCloseKey(dst);
    EXPECT_TRUE(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst").empty());
}

TEST_F(RegTree, CopyGoesOnAfterAFailedWriteAndReportsIt) {
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\A", "V", "a");
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\B", "V", "b");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    HKEY src = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src");
    HKEY dst = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
    failNext(*m, "RegSetValueExA", 1, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(copyRegTree(src, dst), (DWORD)STS_FAILED);
    m->faults.clear();
    RegCloseKey(src);
    RegCloseKey(dst);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\A", "V"), "<missing>");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\B", "V"), "b");
}

// --- deleteRegTree ---------------------------------------------------------

TEST_F(RegTree, DeleteRemovesWholeTree) {
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\A\\B\\C", "V", "x");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\D");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Stays");
    HKEY parent = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_EQ(deleteRegTree(parent, "Gone"), (DWORD)STS_DONE);
    RegCloseKey(parent);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Stays"));
}

TEST_F(RegTree, DeleteTakesHighestIndexFirst) {
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\A");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\B");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\C");
    // The first deletion refused: the key deleted first survives.
    failNext(*m, "RegDeleteKeyA", 1, ERROR_ACCESS_DENIED, "");
    HKEY parent = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_EQ(deleteRegTree(parent, "T"), (DWORD)STS_FAILED);
    RegCloseKey(parent);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\T"), std::vector<std::string>{"C"});
}

TEST_F(RegTree, DeleteTakesDeepestFirst) {
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\A\\X\\Y");
    failNext(*m, "RegDeleteKeyA", 1, ERROR_ACCESS_DENIED, "");
    HKEY parent = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_EQ(deleteRegTree(parent, "T"), (DWORD)STS_FAILED);
    RegCloseKey(parent);
    // Y was the first deletion: everything above it stays.
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\A\\X\\Y"));
}

TEST_F(RegTree, DeleteTriesEverySubkeyAfterAFailure) {
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\A");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\B");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\C");
    failNext(*m, "RegDeleteKeyA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B");
    HKEY parent = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_EQ(deleteRegTree(parent, "T"), (DWORD)STS_FAILED);
    RegCloseKey(parent);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\T"), std::vector<std::string>{"B"});
}

TEST_F(RegTree, DeleteRefusesNoNameInsteadOfDeletingTheParent) {
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent\\Child");
    HKEY parent = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent");
    EXPECT_EQ(deleteRegTree(parent, ""), (DWORD)STS_FAILED);
    EXPECT_EQ(deleteRegTree(parent, nullptr), (DWORD)STS_FAILED);
    RegCloseKey(parent);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Parent\\Child"));
}

TEST_F(RegTree, DeleteOfMissingKeyFails) {
    HKEY parent = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
    EXPECT_EQ(deleteRegTree(parent, "Nothing"), (DWORD)STS_FAILED);
    RegCloseKey(parent);
}

// --- FixReg ----------------------------------------------------------------

TEST_F(RegTree, FixRegOnFreshRegistryCreatesOwnKey) {
    makeKey(HKEY_LOCAL_MACHINE, kMonitors);
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), "vrdpsmon.dll");
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, kMonitors), std::vector<std::string>{kOwn});
}

TEST_F(RegTree, FixRegUsesWindows95Module) {
    bareMachine("regtree95", true);
    makeKey(HKEY_LOCAL_MACHINE, kMonitors);
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), "vrdpsmw4.dll");
}

TEST_F(RegTree, FixRegMergesAndDeletesAdjacentKeysNamingTheModule) {
    // "Old A" and "Old B" are next to each other in enumeration order.
    setSz(HKEY_LOCAL_MACHINE, mon("Local Port"), "driver", "localmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Old A"), "driver", "vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Old A\\Ports\\NP1"), "Address", "a1");
    setSz(HKEY_LOCAL_MACHINE, mon("Old B"), "driver", "VRDPSMON.DLL");
    setSz(HKEY_LOCAL_MACHINE, mon("Old B\\Ports\\NP2"), "Address", "b2");
    setSz(HKEY_LOCAL_MACHINE, mon("Old B"), "Extra", "from B");
    setSz(HKEY_LOCAL_MACHINE, mon(kOwn), "driver", "vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon(kOwn), "Extra", "own");

    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);

    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, kMonitors), (std::vector<std::string>{"Local Port", kOwn}));
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, mon(std::string(kOwn) + "\\Ports")),
              (std::vector<std::string>{"NP1", "NP2"}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(std::string(kOwn) + "\\Ports\\NP2"), "Address"), "b2");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "Extra"), "own");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), "vrdpsmon.dll");
}

TEST_F(RegTree, FixRegLeavesPathAndOtherModulesAlone) {
    setSz(HKEY_LOCAL_MACHINE, mon("With Path"), "driver", "c:\\vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Win95 Module"), "driver", "vrdpsmw4.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Long"), "driver", "vrdpsmon.dll.old.backup");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, mon("With Path")));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, mon("Win95 Module")));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, mon("Long")));
}

TEST_F(RegTree, FixRegDoesNotGiveExistingOwnKeyADriverValue) {
    setSz(HKEY_LOCAL_MACHINE, mon(kOwn), "Other", "x");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), "<missing>");
}

TEST_F(RegTree, FixRegNeverFoldsOwnKeyIntoItselfWhateverItsCase) {
    // Key names compare without case: the own key stored in capitals is
    // still the own key, and must not be merged into itself and deleted.
    setSz(HKEY_LOCAL_MACHINE, mon("VARDEN NETWORK PORT"), "driver", "vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("VARDEN NETWORK PORT\\Ports\\NP1"), "Address", "a");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), "vrdpsmon.dll");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(std::string(kOwn) + "\\Ports\\NP1"), "Address"), "a");
}

TEST_F(RegTree, FixRegKeepsKeyWhoseCopyFailed) {
    setSz(HKEY_LOCAL_MACHINE, mon("Old"), "driver", "vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Old"), "Keep", "me");
    setSz(HKEY_LOCAL_MACHINE, mon(kOwn), "driver", "vrdpsmon.dll");
    failNext(*m, "RegSetValueExA", 0, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    m->faults.clear();
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon("Old"), "Keep"), "me");
}

TEST_F(RegTree, FixRegLeavesEveryPrivilegeDisabled) {
    winsim::setUserKind(*m, true);
    makeKey(HKEY_LOCAL_MACHINE, kMonitors);
    // Enable the shutdown privilege as a restart preparation would.
    m->security->processToken()->findPrivilege("SeShutdownPrivilege")->attributes |= SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_FALSE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
}

TEST_F(RegTree, FixRegFailsWithoutMonitorsKey) {
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_FAILED);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, mon(kOwn)));
}

}  // namespace
