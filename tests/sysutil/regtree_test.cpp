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
    // copyRegTree between two keys below HKEY_LOCAL_MACHINE.
    DWORD copy(const char* from, const char* to) {
        HKEY src = createKey(HKEY_LOCAL_MACHINE, from), dst = createKey(HKEY_LOCAL_MACHINE, to);
        DWORD r = copyRegTree(src, dst);
        m->faults.clear();
        RegCloseKey(src);
        RegCloseKey(dst);
        return r;
    }
    // deleteRegTree of a subkey of `parent`.
    DWORD removeTree(const char* name, const char* parent = "SOFTWARE") {
        HKEY h = createKey(HKEY_LOCAL_MACHINE, parent);
        DWORD r = deleteRegTree(h, name);
        RegCloseKey(h);
        return r;
    }
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
    EXPECT_EQ(copy("SOFTWARE\\Src", "SOFTWARE\\Dst"), (DWORD)STS_DONE);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Shared"), "kept");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Only"), "source only");
    DWORD type = 0;
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Blob", &type), std::string("\x01\x02\x00\x03", 4));
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\Ports\\NP1", "Timeout"), std::string("\x07\x00\x00\x00", 4));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\Ports\\NP2\\Deep", "Name"), "deep");
    // The source is left as it was.
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Shared"), "from source");
}

TEST_F(RegTree, CopyOfEmptyOrUnreadableSourceCopiesNothingAndSucceeds) {
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Empty");
    EXPECT_EQ(copy("SOFTWARE\\Empty", "SOFTWARE\\Dst"), (DWORD)STS_DONE);
    EXPECT_TRUE(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst").empty());
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Sub", "V", "x");
    failNext(*m, "RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Src");
    EXPECT_EQ(copy("SOFTWARE\\Src", "SOFTWARE\\Dst"), (DWORD)STS_DONE);
    EXPECT_TRUE(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst").empty());
    // A failed write is reported, and the copy goes on.
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\A", "V", "a");
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\B", "V", "b");
    failNext(*m, "RegSetValueExA", 1, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(copy("SOFTWARE\\Src", "SOFTWARE\\Dst"), (DWORD)STS_FAILED);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\A", "V"), "<missing>");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\B", "V"), "b");
}

// --- deleteRegTree ---------------------------------------------------------

TEST_F(RegTree, DeleteRemovesWholeTreeAndRefusesNoName) {
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\A\\B\\C", "V", "x");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\D");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Stays\\Child");
    EXPECT_EQ(removeTree("Gone"), (DWORD)STS_DONE);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"));
    EXPECT_EQ(removeTree("Nothing"), (DWORD)STS_FAILED);
    // No name fails instead of deleting the parent.
    EXPECT_EQ(removeTree("", "SOFTWARE\\Stays"), (DWORD)STS_FAILED);
    EXPECT_EQ(removeTree(nullptr, "SOFTWARE\\Stays"), (DWORD)STS_FAILED);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Stays\\Child"));
}

TEST_F(RegTree, DeleteOrderAndFailures) {
    // A refused deletion shows which key went first, and that the others
    // were still tried.
    const struct {
        std::vector<const char*> keys;
        const char* target;  // "": the first deletion fails
        std::uint32_t times;
        const char* survivor;
    } cases[] = {
        {{"T\\A", "T\\B", "T\\C"}, "", 1, "SOFTWARE\\T\\C"},  // highest index first
        {{"T\\A\\X\\Y"}, "", 1, "SOFTWARE\\T\\A\\X\\Y"},       // deepest first
        {{"T\\A", "T\\B", "T\\C"}, "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B", 0, "SOFTWARE\\T\\B"},
    };
    for (const auto& c : cases) {
        SetUp();
        for (const char* k : c.keys) makeKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\") + k);
        failNext(*m, "RegDeleteKeyA", c.times, ERROR_ACCESS_DENIED, c.target);
        EXPECT_EQ(removeTree("T"), (DWORD)STS_FAILED) << c.survivor;
        EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, c.survivor));
        EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\T").size(), 1u) << c.survivor;
    }
}

// --- FixReg ----------------------------------------------------------------

TEST_F(RegTree, FixRegOnFreshRegistryCreatesOwnKeyNamingThePlatformsModule) {
    for (bool windows95 : {false, true}) {
        bareMachine("regtree", windows95);
        makeKey(HKEY_LOCAL_MACHINE, kMonitors);
        EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
        EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), windows95 ? "vrdpsmw4.dll" : "vrdpsmon.dll");
        EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, kMonitors), std::vector<std::string>{kOwn});
    }
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
    setSz(HKEY_LOCAL_MACHINE, mon(kOwn), "Other", "x");
    setSz(HKEY_LOCAL_MACHINE, mon("With Path"), "driver", "c:\\vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Win95 Module"), "driver", "vrdpsmw4.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Long"), "driver", "vrdpsmon.dll.old.backup");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, mon("With Path")));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, mon("Win95 Module")));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, mon("Long")));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon(kOwn), "driver"), "<missing>") << "an existing own key gets none";
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

TEST_F(RegTree, FixRegNeedsTheMonitorsKeyAndLeavesEveryPrivilegeDisabled) {
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_FAILED);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, mon(kOwn)));
    winsim::setUserKind(*m, true);
    makeKey(HKEY_LOCAL_MACHINE, kMonitors);
    // Enable the shutdown privilege as a restart preparation would.
    m->security->processToken()->findPrivilege("SeShutdownPrivilege")->attributes |= SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_FALSE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
}

}  // namespace
