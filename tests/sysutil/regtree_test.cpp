// Registry tree operations: merge without overwriting, tree deletion order,
// and FixReg's folding of other monitor keys into the monitor's own key.
#include "setup/harness.h"
#include "sysutil/regtree.h"
#include "winsim/security/state.h"

namespace {

using namespace harness;

const char kOwn[] = "Varden Network Port";

struct RegTree : ::testing::Test {
    void SetUp() override { m = &bareMachine("regtree"); }
    // copyRegTree from SOFTWARE\Src to SOFTWARE\Dst.
    DWORD copy() {
        HKEY src = createKey("SOFTWARE\\Src"), dst = createKey("SOFTWARE\\Dst");
        DWORD r = copyRegTree(src, dst);
        m->faults.clear();
        RegCloseKey(src);
        RegCloseKey(dst);
        return r;
    }
    // deleteRegTree of a subkey of `parent`.
    DWORD removeTree(const char* name, const char* parent = "SOFTWARE") {
        HKEY h = createKey(parent);
        DWORD r = deleteRegTree(h, name);
        RegCloseKey(h);
        return r;
    }
    winsim::Machine* m = nullptr;
};

TEST_F(RegTree, CopyMergesTreeKeepsDestinationValuesAndGoesOnAfterAFailure) {
    setSz("SOFTWARE\\Src", "Shared", "from source");
    setSz("SOFTWARE\\Src", "Only", "source only");
    setValue("SOFTWARE\\Src", "Blob", REG_BINARY, "\x01\x02\x00\x03", 4);
    DWORD timeout = 42, kept = 7;
    setValue("SOFTWARE\\Src\\Ports\\NP1", "Timeout", REG_DWORD, &timeout, 4);
    setSz("SOFTWARE\\Src\\Ports\\NP2\\Deep", "Name", "deep");
    setSz("SOFTWARE\\Dst", "Shared", "kept");
    setValue("SOFTWARE\\Dst\\Ports\\NP1", "Timeout", REG_DWORD, &kept, 4);
    const std::string source = regTree("SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".: Shared=kept Only=source only Blob=01020003\n"
                                        "Ports:\nPorts\\NP1: Timeout=7\nPorts\\NP2:\nPorts\\NP2\\Deep: Name=deep\n");
    EXPECT_EQ(regTree("SOFTWARE\\Src"), source) << "the source is left as it was";
    // An empty or unreadable source copies nothing and succeeds.
    removeTree("Src");
    removeTree("Dst");
    makeKey("SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    setSz("SOFTWARE\\Src\\Sub", "V", "x");
    failNext("RegQueryInfoKeyA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Src");
    EXPECT_EQ(copy(), (DWORD)STS_DONE);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".:\n");
    // A failed write is reported, and the copy goes on.
    setSz("SOFTWARE\\Src\\A", "V", "a");
    setSz("SOFTWARE\\Src\\B", "V", "b");
    failNext("RegSetValueExA", 1, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(copy(), (DWORD)STS_FAILED);
    EXPECT_EQ(regTree("SOFTWARE\\Dst"), ".:\nA:\nB: V=b\nSub: V=x\n");
}

// The whole tree goes; no name fails instead of deleting the parent; a
// refused deletion shows which key went first (highest index, deepest), and
// that the others were still tried.
TEST_F(RegTree, DeleteRemovesWholeTreeInItsOrderAndRefusesNoName) {
    setSz("SOFTWARE\\Gone\\A\\B\\C", "V", "x");
    makeKey("SOFTWARE\\Gone\\D");
    makeKey("SOFTWARE\\Stays\\Child");
    EXPECT_EQ(removeTree("Gone"), (DWORD)STS_DONE);
    EXPECT_EQ(removeTree("Nothing"), (DWORD)STS_FAILED);
    EXPECT_EQ(removeTree("", "SOFTWARE\\Stays"), (DWORD)STS_FAILED);
    EXPECT_EQ(removeTree(nullptr, "SOFTWARE\\Stays"), (DWORD)STS_FAILED);
    EXPECT_EQ(regTree("SOFTWARE"), ".:\nStays:\nStays\\Child:\n");
    const struct { Lines keys; const char* target; std::uint32_t times; const char* left; } rows[] = {
        {{"T\\A", "T\\B", "T\\C"}, "", 1, ".:\nC:\n"},
        {{"T\\A\\X\\Y"}, "", 1, ".:\nA:\nA\\X:\nA\\X\\Y:\n"},
        {{"T\\A", "T\\B", "T\\C"}, "HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\B", 0, ".:\nB:\n"},
    };
    for (const auto& row : rows) {
        SetUp();
        for (const auto& k : row.keys) makeKey("SOFTWARE\\" + k);
        failNext("RegDeleteKeyA", row.times, ERROR_ACCESS_DENIED, row.target);
        EXPECT_EQ(removeTree("T"), (DWORD)STS_FAILED) << row.left;
        EXPECT_EQ(regTree("SOFTWARE\\T"), row.left);
    }
}

// --- FixReg ----------------------------------------------------------------

TEST_F(RegTree, FixRegOnFreshRegistryCreatesOwnKeyNamingThePlatformsModule) {
    EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_FAILED) << "no monitors key";
    EXPECT_EQ(regTree(mon(kOwn)), "");
    for (bool windows95 : {false, true}) {
        bareMachine("regtree", windows95);
        makeKey(kMonitors);
        EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_DONE);
        EXPECT_EQ(regTree(kMonitors), std::string(".:\nVarden Network Port: driver=") +
                                          (windows95 ? "vrdpsmw4.dll\n" : "vrdpsmon.dll\n"));
    }
}

// "Old A" and "Old B" are next to each other in enumeration order; the own
// key stored in capitals is still the own key, and is not folded into
// itself; a path, another module or a longer name are not ours. An existing
// own key gets no driver value of its own, only the merged one.
TEST_F(RegTree, FixRegMergesAndDeletesOnlyKeysNamingTheModule) {
    for (auto [key, name, data] : {std::tuple{"Local Port", "driver", "localmon.dll"}, {"Old A", "driver", "VRDPSMON.DLL"},
                                   {"Old A\\Ports\\NP1", "Address", "a1"}, {"Old B", "driver", "vrdpsmon.dll"},
                                   {"Old B", "Extra", "from B"}, {"Old B\\Ports\\NP2", "Address", "b2"},
                                   {"VARDEN NETWORK PORT", "Extra", "own"}, {"VARDEN NETWORK PORT\\Ports\\NP3", "Address", "c3"},
                                   {"With Path", "driver", "c:\\vrdpsmon.dll"}, {"Win95 Module", "driver", "vrdpsmw4.dll"},
                                   {"Long", "driver", "vrdpsmon.dll.old.backup"}})
        setSz(mon(key), name, data);
    EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_DONE);
    EXPECT_EQ(regTree(kMonitors), R"(.:
Local Port: driver=localmon.dll
Long: driver=vrdpsmon.dll.old.backup
VARDEN NETWORK PORT: Extra=own driver=VRDPSMON.DLL
VARDEN NETWORK PORT\Ports:
VARDEN NETWORK PORT\Ports\NP1: Address=a1
VARDEN NETWORK PORT\Ports\NP2: Address=b2
VARDEN NETWORK PORT\Ports\NP3: Address=c3
Win95 Module: driver=vrdpsmw4.dll
With Path: driver=c:\vrdpsmon.dll
)");
}

// A key whose copy failed stays; every privilege is left disabled, also one
// a restart preparation enabled before.
TEST_F(RegTree, FixRegKeepsKeyWhoseCopyFailedAndLeavesEveryPrivilegeDisabled) {
    setSz(mon("Old"), "driver", "vrdpsmon.dll");
    setSz(mon("Old"), "Keep", "me");
    setSz(mon(kOwn), "driver", "vrdpsmon.dll");
    winsim::setUserKind(*m, true);
    m->security->processToken()->findPrivilege("SeShutdownPrivilege")->attributes |= SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    failNext("RegSetValueExA", 0, ERROR_ACCESS_DENIED, "");
    EXPECT_EQ(FixReg(kMonitors.c_str(), kOwn), (DWORD)STS_DONE);
    m->faults.clear();
    EXPECT_EQ(regTree(mon("Old")), ".: driver=vrdpsmon.dll Keep=me\n");
    EXPECT_FALSE(winsim::privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_FALSE(winsim::privilegeEnabled("SeChangeNotifyPrivilege"));
}

}  // namespace
