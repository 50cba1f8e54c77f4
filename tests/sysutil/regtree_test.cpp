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
    // copyRegTree from SOFTWARE\Src to SOFTWARE\Dst.
    DWORD copy() {
        HKEY src = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src"), dst = createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst");
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

TEST_F(RegTree, CopyMergesTreeKeepsDestinationValuesAndGoesOnAfterAFailure) {
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Shared", "from source");
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Only", "source only");
    setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", "Blob", REG_BINARY, "\x01\x02\x00\x03", 4);
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Ports\\NP1", "Timeout", 42);
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Ports\\NP2\\Deep", "Name", "deep");
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Shared", "kept");
    setDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst\\Ports\\NP1", "Timeout", 7);
    const std::string source = regTree("SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".: Shared=kept Only=source only Blob=01020003\n"
                                        "Ports:\nPorts\\NP1: Timeout=7\nPorts\\NP2:\nPorts\\NP2\\Deep: Name=deep\n");
    EXPECT_EQ(regTree("SOFTWARE\\Src"), source) << "the source is left as it was";

    // An empty or unreadable source copies nothing and succeeds.
    removeTree("Src");
    removeTree("Dst");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\Sub", "V", "x");
    failNext(*m, "RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".:\n");
    // A failed write is reported, and the copy goes on.
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\A", "V", "a");
    setSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Src\\B", "V", "b");
    failNext(*m, "RegSetValueExA", 1, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(copy(), (DWORD)STS_FAILED);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".:\nA:\nB: V=b\nSub: V=x\n");
}

TEST_F(RegTree, DeleteRemovesWholeTreeInItsOrderAndRefusesNoName) {
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
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_FAILED) << "no monitors key";
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, mon(kOwn)));
    for (bool windows95 : {false, true}) {
        bareMachine("regtree", windows95);
        makeKey(HKEY_LOCAL_MACHINE, kMonitors);
        EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
        EXPECT_EQ(regTree(kMonitors), std::string(".:\nVarden Network Port: driver=") +
                                          (windows95 ? "vrdpsmw4.dll\n" : "vrdpsmon.dll\n"));
    }
}

TEST_F(RegTree, FixRegMergesAndDeletesOnlyKeysNamingTheModule) {
    // "Old A" and "Old B" are next to each other in enumeration order; the
    // own key stored in capitals is still the own key, and is not folded
    // into itself; a path, another module or a longer name are not ours.
    setSz(HKEY_LOCAL_MACHINE, mon("Local Port"), "driver", "localmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Old A"), "driver", "VRDPSMON.DLL");
    setSz(HKEY_LOCAL_MACHINE, mon("Old A\\Ports\\NP1"), "Address", "a1");
    setSz(HKEY_LOCAL_MACHINE, mon("Old B"), "driver", "vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Old B"), "Extra", "from B");
    setSz(HKEY_LOCAL_MACHINE, mon("Old B\\Ports\\NP2"), "Address", "b2");
    setSz(HKEY_LOCAL_MACHINE, mon("VARDEN NETWORK PORT"), "Extra", "own");
    setSz(HKEY_LOCAL_MACHINE, mon("VARDEN NETWORK PORT\\Ports\\NP3"), "Address", "c3");
    setSz(HKEY_LOCAL_MACHINE, mon("With Path"), "driver", "c:\\vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Win95 Module"), "driver", "vrdpsmw4.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Long"), "driver", "vrdpsmon.dll.old.backup");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    // An existing own key gets no driver value of its own, only the merged one.
    EXPECT_EQ(regTree(kMonitors), ".:\n"
                                  "Local Port: driver=localmon.dll\n"
                                  "Long: driver=vrdpsmon.dll.old.backup\n"
                                  "VARDEN NETWORK PORT: Extra=own driver=VRDPSMON.DLL\n"
                                  "VARDEN NETWORK PORT\\Ports:\n"
                                  "VARDEN NETWORK PORT\\Ports\\NP1: Address=a1\n"
                                  "VARDEN NETWORK PORT\\Ports\\NP2: Address=b2\n"
                                  "VARDEN NETWORK PORT\\Ports\\NP3: Address=c3\n"
                                  "Win95 Module: driver=vrdpsmw4.dll\n"
                                  "With Path: driver=c:\\vrdpsmon.dll\n");
}

TEST_F(RegTree, FixRegKeepsKeyWhoseCopyFailedAndLeavesEveryPrivilegeDisabled) {
    setSz(HKEY_LOCAL_MACHINE, mon("Old"), "driver", "vrdpsmon.dll");
    setSz(HKEY_LOCAL_MACHINE, mon("Old"), "Keep", "me");
    setSz(HKEY_LOCAL_MACHINE, mon(kOwn), "driver", "vrdpsmon.dll");
    winsim::setUserKind(*m, true);
    // Enable the shutdown privilege as a restart preparation would.
    m->security->processToken()->findPrivilege("SeShutdownPrivilege")->attributes |= SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    failNext(*m, "RegSetValueExA", 0, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(FixReg(kMonitors, kOwn), (DWORD)STS_DONE);
    m->faults.clear();
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, mon("Old"), "Keep"), "me");
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_FALSE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
}

}  // namespace
