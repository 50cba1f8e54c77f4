// Conformance tests of the DDE client library and the simulated Program
// Manager behind it.
#include <windows.h>
#include <ddeml.h>

#include "winsim/dde/state.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

HDDEDATA CALLBACK callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

class Dde : public ::testing::Test {
protected:
    void SetUp() override {
        sim::fresh();
        winsim::setProgmanRunning(true);
        ASSERT_EQ(DdeInitializeA(&inst, callback, APPCMD_CLIENTONLY, 0), (UINT)DMLERR_NO_ERROR);
        ASSERT_NE(inst, 0u);
    }
    HSZ str(const char* text) { return DdeCreateStringHandleA(inst, text, CP_WINANSI); }
    // Sends one execute string (NUL counted) on a new conversation, as a
    // client of Program Manager does.
    HDDEDATA send(const char* text, UINT fmt = CF_TEXT) {
        HSZ h = str("PROGMAN");
        HCONV c = DdeConnect(inst, h, h, nullptr);
        EXPECT_NE(c, nullptr);
        DWORD result = 0xdeadbeef;
        HDDEDATA r = DdeClientTransaction((LPBYTE)text, (DWORD)std::strlen(text) + 1, c, nullptr, fmt, XTYP_EXECUTE,
                                          1000, &result);
        EXPECT_TRUE(DdeDisconnect(c));
        EXPECT_TRUE(DdeFreeStringHandle(inst, h));
        return r;
    }
    DWORD inst = 0;
};

// Connections while Program Manager runs; executes: the exact bytes a client
// sends are the setup program's tests, here the format said does not
// matter, a refusal is still received, the history keeps the latest only;
// invalid instances and parameters.
TEST_F(Dde, ConnectExecuteAndRefusals) {
    HSZ svc = str("progman"), top = str("ProgMan"), other = str("WINWORD");
    ASSERT_NE(svc, nullptr);
    EXPECT_EQ(svc, top) << "string handles are atoms: one per text, letter case ignored";
    HCONV c = DdeConnect(inst, svc, top, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_TRUE(DdeDisconnect(c));
    EXPECT_FALSE(DdeDisconnect(c)) << "a conversation ends once";
    // Null names match any service and topic.
    c = DdeConnect(inst, nullptr, nullptr, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_TRUE(DdeDisconnect(c));
    EXPECT_EQ(DdeConnect(inst, other, svc, nullptr), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(DdeConnect(inst, svc, other, nullptr), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_ERROR) << "reading the error clears it";

    ASSERT_NE(send("[CreateGroup(\"Varden Network Printers\")]", 0), nullptr);
    EXPECT_NE(winsim::findProgmanGroup("Varden Network Printers"), nullptr);
    HDDEDATA r = send("[DeleteGroup(\"Varden Network Printers\")]");
    EXPECT_NE(r, nullptr);
    EXPECT_TRUE(DdeFreeDataHandle(r));
    EXPECT_EQ(send("[DeleteGroup(\"Varden Network Printers\")]"), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NOTPROCESSED);
    EXPECT_EQ(winsim::progmanExecutes().size(), 3u);
    for (std::size_t i = 0; i < winsim::DdeState::kExecuteHistory + 5; ++i) send("[CreateGroup(G)]");
    EXPECT_EQ(winsim::progmanExecutes().size(), winsim::DdeState::kExecuteHistory);

    // A conversation open when Program Manager ends fails its transaction.
    c = DdeConnect(inst, svc, svc, nullptr);
    ASSERT_NE(c, nullptr);
    winsim::setProgmanRunning(false);
    char text[] = "[CreateGroup(H)]";
    EXPECT_EQ(DdeClientTransaction((LPBYTE)text, sizeof text, c, nullptr, CF_TEXT, XTYP_EXECUTE, 1000, nullptr), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_SERVER_DIED);
    EXPECT_EQ(winsim::findProgmanGroup("H"), nullptr);
    EXPECT_TRUE(DdeFreeStringHandle(inst, svc));
    EXPECT_TRUE(DdeFreeStringHandle(inst, top));
    EXPECT_FALSE(DdeFreeStringHandle(inst, top)) << "both references are gone";

    EXPECT_EQ(DdeCreateStringHandleA(inst, "PROGMAN", CP_WINUNICODE), nullptr) << "the A call takes ANSI text";
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_EQ(DdeCreateStringHandleA(inst + 100, "PROGMAN", CP_WINANSI), nullptr);
    EXPECT_EQ(DdeGetLastError(inst + 100), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_TRUE(DdeUninitialize(inst));
    EXPECT_FALSE(DdeUninitialize(inst));
    DWORD none = 0;
    EXPECT_EQ(DdeInitializeA(&none, callback, APPCMD_CLIENTONLY, 1), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_EQ(DdeInitializeA(nullptr, callback, APPCMD_CLIENTONLY, 0), (UINT)DMLERR_INVALIDPARAMETER);
}

// --- Program Manager command processing --------------------------------------

// The groups in creation order, the active one marked: "Group:item|item;*Group2:".
std::string describe() {
    std::string s;
    for (const auto& g : winsim::progmanGroups()) {
        s += std::string(s.empty() ? "" : ";") + (g.name == winsim::progmanActiveGroup() ? "*" : "") + g.name + ":";
        for (std::size_t i = 0; i < g.items.size(); ++i) s += (i ? "|" : "") + g.items[i].name;
    }
    return s;
}

TEST(ProgmanCommands, EffectOfEachCommand) {
    // Start: group Startup, empty; group Main with "File Manager" and "clock", active.
    const std::string kStart = "Startup:;*Main:File Manager|clock", kIdle = "Startup:;Main:File Manager|clock";
    const struct {
        const char* text;
        bool accepted;
        std::string groups;
    } rows[] = {
        // Creation and activation.
        {"[CreateGroup(New)]", true, kIdle + ";*New:"},
        {"[createGROUP(main)]", true, kStart},
        {"[CreateGroup(\"Two Words\",1)]", true, kIdle + ";*Two Words:"},
        // ShowGroup needs its show command; 7 shows without activating.
        {"[ShowGroup(Startup,2)]", true, "*Startup:;Main:File Manager|clock"},
        {"[ShowGroup(Startup,7)]", true, kStart},
        // Items act on the active group.
        {"[AddItem(notepad.exe,Notes,notepad.exe,0)]", true, kStart + "|Notes"},
        {"[ShowGroup(Startup,1)][AddItem(\"C:\\VARDEN\\HELP.HLP\",\"Help, quick\")]", true,
         "*Startup:Help, quick;Main:File Manager|clock"},
        {"[DeleteItem(\"file manager\")]", true, "Startup:;*Main:clock"},
        {"[ShowGroup(Startup,2)][DeleteItem(clock)]", false, "*Startup:;Main:File Manager|clock"},
        // Deleting groups.
        {"[DeleteGroup(\"STARTUP\")]", true, "*Main:File Manager|clock"},
        {"[DeleteGroup(Main)][AddItem(x.exe)]", false, "Startup:"},
        // Concatenation stops at the first failure; earlier commands stay done.
        {"[CreateGroup(A)] [DeleteGroup(Missing)][CreateGroup(B)]", false, kIdle + ";*A:"},
        {"[CreateGroup(A)][CreateGroup(B)]", true, kIdle + ";A:;*B:"},
        {"[CreateGroup(A)]x", false, kIdle + ";*A:"},
        // Syntax.
        {"[CreateGroup(\"Paren (x), [y]\")]", true, kIdle + ";*Paren (x), [y]:"},
        {" [ CreateGroup ( Spaced Name , 0 ) ] ", true, kIdle + ";*Spaced Name:"},
    };
    // Refused, changing nothing.
    const char* refused[] = {"[CreateGroup()]", "[ShowGroup(Startup)]", "[ShowGroup(Nowhere,1)]",
                             "[ShowGroup(Startup,x)]", "[AddItem()]", "[DeleteItem(Missing)]", "[DeleteGroup(Missing)]",
                             "", "   ", "CreateGroup(A)", "[CreateGroup(A)", "[CreateGroup(\"A)]", "[CreateGroup(A]",
                             "[UnknownThing(A)]"};
    auto check = [](const char* text, bool accepted, const std::string& groups) {
        SCOPED_TRACE(text);
        sim::fresh();
        winsim::setProgmanRunning(true);
        ASSERT_TRUE(winsim::progmanExecute(
            "[CreateGroup(Startup)][CreateGroup(Main)][AddItem(WINFILE.EXE,\"File Manager\")][AddItem(clock.exe)]"));
        EXPECT_EQ(winsim::progmanExecute(text), accepted);
        EXPECT_EQ(describe(), groups);
    };
    for (const auto& r : rows) check(r.text, r.accepted, r.groups);
    for (const char* text : refused) check(text, false, kStart);
}

// Arguments with quotes and empty fields; AddItem's arguments land in the
// item; `show` lists the group. The section's round trip is the machine
// image's test.
TEST(ProgmanCommands, ArgumentsFillTheItemAndShowListsIt) {
    auto cmds = winsim::parseProgmanCommands("[AddItem(\"a, b\",,icon.exe,2)][Reload]");
    std::string parsed;
    for (const auto& c : cmds.value_or(std::vector<winsim::ProgmanCommand>{})) {
        parsed += c.name + "(";
        for (const auto& a : c.args) parsed += "<" + a + ">";
        parsed += ") ";
    }
    EXPECT_EQ(parsed, "AddItem(<a, b><><icon.exe><2>) Reload() ");
    EXPECT_FALSE(winsim::parseProgmanCommands("[A(b)][").has_value());
    auto& m = sim::fresh();
    winsim::setProgmanRunning(true);
    ASSERT_TRUE(winsim::progmanExecute("[CreateGroup(\"Main\")][AddItem(\"WRITE C:\\A B\\x.wri\",Notes,write.exe,3)]"));
    const auto* g = winsim::findProgmanGroup("main");
    ASSERT_TRUE(g && g->items.size() == 1);
    const auto& i = g->items[0];
    EXPECT_EQ(i.name + "|" + i.command + "|" + i.iconPath + "|" + std::to_string(i.iconIndex),
              "Notes|WRITE C:\\A B\\x.wri|write.exe|3");
    std::ostringstream out;
    winsim::showDde(out, m);
    EXPECT_NE(out.str().find("group \"Main\", 1 item"), std::string::npos) << out.str();
}

}  // namespace
