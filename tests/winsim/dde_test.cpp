// Conformance tests of the DDE client library and the simulated Program
// Manager behind it.
#include <windows.h>
#include <ddeml.h>

#include "winsim/dde/state.h"
#include "winsim/image/image.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

HDDEDATA CALLBACK callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

fs::path tempDir(const std::string& tag) { return sim::testDir(tag); }

class Dde : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::install(winsim::makeBareMachine({}, tempDir("c")));
        winsim::setProgmanRunning(true);
        ASSERT_EQ(DdeInitializeA(&inst, callback, APPCMD_CLIENTONLY, 0), (UINT)DMLERR_NO_ERROR);
        ASSERT_NE(inst, 0u);
    }

    // Sends one execute string (NUL counted) on a new conversation, as a
    // client of Program Manager does.
    HDDEDATA send(const char* text, UINT fmt = CF_TEXT) {
        HSZ h = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
        EXPECT_NE(h, nullptr);
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

TEST_F(Dde, ConnectIgnoresCaseOfServiceAndTopic) {
    HSZ svc = DdeCreateStringHandleA(inst, "progman", CP_WINANSI);
    HSZ top = DdeCreateStringHandleA(inst, "ProgMan", CP_WINANSI);
    ASSERT_NE(svc, nullptr);
    EXPECT_EQ(svc, top) << "string handles are atoms: one per text, letter case ignored";
    HCONV c = DdeConnect(inst, svc, top, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_TRUE(DdeDisconnect(c));
    EXPECT_FALSE(DdeDisconnect(c)) << "a conversation ends once";
    EXPECT_TRUE(DdeFreeStringHandle(inst, svc));
    EXPECT_TRUE(DdeFreeStringHandle(inst, top));
    EXPECT_FALSE(DdeFreeStringHandle(inst, top)) << "both references are gone";
}

TEST_F(Dde, ConnectFailsWhenProgramManagerIsNotRunning) {
    winsim::setProgmanRunning(false);
    HSZ h = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
    EXPECT_EQ(DdeConnect(inst, h, h, nullptr), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_ERROR) << "reading the error clears it";
}

TEST_F(Dde, ConnectToAnotherServiceFails) {
    HSZ svc = DdeCreateStringHandleA(inst, "WINWORD", CP_WINANSI);
    HSZ top = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
    EXPECT_EQ(DdeConnect(inst, svc, top, nullptr), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(DdeConnect(inst, top, svc, nullptr), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_CONV_ESTABLISHED);
}

TEST_F(Dde, NullNamesMatchAnyServiceAndTopic) {
    HCONV c = DdeConnect(inst, nullptr, nullptr, nullptr);
    EXPECT_NE(c, nullptr);
    EXPECT_TRUE(DdeDisconnect(c));
    EXPECT_EQ(DdeCreateStringHandleA(inst, "PROGMAN", CP_WINUNICODE), nullptr) << "the A call takes ANSI text";
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_INVALIDPARAMETER);
}

TEST_F(Dde, InvalidInstanceIsRefused) {
    EXPECT_EQ(DdeCreateStringHandleA(inst + 100, "PROGMAN", CP_WINANSI), nullptr);
    EXPECT_EQ(DdeGetLastError(inst + 100), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_TRUE(DdeUninitialize(inst));
    EXPECT_FALSE(DdeUninitialize(inst));
    DWORD none = 0;
    EXPECT_EQ(DdeInitializeA(&none, callback, APPCMD_CLIENTONLY, 1), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_EQ(DdeInitializeA(nullptr, callback, APPCMD_CLIENTONLY, 0), (UINT)DMLERR_INVALIDPARAMETER);
}

TEST_F(Dde, ExactBytesOfDeleteGroupAreRecorded) {
    ASSERT_NE(send("[CreateGroup(\"Varden Network Printers\")]"), nullptr);
    HDDEDATA r = send("[DeleteGroup(\"Varden Network Printers\")]");
    EXPECT_NE(r, nullptr);
    EXPECT_TRUE(DdeFreeDataHandle(r));
    const auto& ex = winsim::progmanExecutes();
    ASSERT_EQ(ex.size(), 2u);
    static const char want[] = "[DeleteGroup(\"Varden Network Printers\")]";
    EXPECT_EQ(ex.back(), std::string(want, sizeof want)) << "the command and its NUL, nothing else";
    EXPECT_EQ(winsim::findProgmanGroup("Varden Network Printers"), nullptr);
}

TEST_F(Dde, RefusalAnswersNullWithNotProcessed) {
    EXPECT_EQ(send("[DeleteGroup(\"Varden Network Printers\")]"), nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NOTPROCESSED);
    EXPECT_EQ(winsim::progmanExecutes().size(), 1u) << "a refused command was still received";
}

TEST_F(Dde, ExecuteIgnoresTheFormat) {
    // Clients pass CF_TEXT or 0; an execute string is text whatever is said.
    ASSERT_NE(send("[CreateGroup(A)]", 0), nullptr);
    EXPECT_NE(winsim::findProgmanGroup("A"), nullptr);
    EXPECT_NE(send("[DeleteGroup(A)]", CF_TEXT), nullptr);
    EXPECT_EQ(winsim::findProgmanGroup("A"), nullptr);
}

TEST_F(Dde, ExecuteHistoryKeepsTheLatest) {
    for (std::size_t i = 0; i < winsim::DdeState::kExecuteHistory + 5; ++i) send("[CreateGroup(G)]");
    const auto& ex = winsim::progmanExecutes();
    EXPECT_EQ(ex.size(), winsim::DdeState::kExecuteHistory);
}

TEST_F(Dde, TransactionAfterProgramManagerEndedFails) {
    HSZ h = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
    HCONV c = DdeConnect(inst, h, h, nullptr);
    ASSERT_NE(c, nullptr);
    winsim::setProgmanRunning(false);
    char text[] = "[CreateGroup(G)]";
    EXPECT_EQ(DdeClientTransaction((LPBYTE)text, sizeof text, c, nullptr, CF_TEXT, XTYP_EXECUTE, 1000, nullptr),
              nullptr);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_SERVER_DIED);
    EXPECT_EQ(winsim::findProgmanGroup("G"), nullptr);
}

// --- Program Manager command processing, table-driven -----------------------

struct Case {
    const char* text;
    bool accepted;
    const char* groups;  // after the command: "Group:item|item;Group2:" in creation order
    const char* active;
};

std::string describe() {
    std::string s;
    for (const auto& g : winsim::progmanGroups()) {
        if (!s.empty()) s += ";";
        s += g.name + ":";
        for (std::size_t i = 0; i < g.items.size(); ++i) s += (i ? "|" : "") + g.items[i].name;
    }
    return s;
}

class ProgmanCommands : public ::testing::TestWithParam<Case> {};

TEST_P(ProgmanCommands, Effect) {
    winsim::install(winsim::makeBareMachine({}, tempDir("cmd")));
    winsim::setProgmanRunning(true);
    // Start: group Main with items "File Manager" and "Clock", active;
    // group Startup, empty.
    ASSERT_TRUE(winsim::progmanExecute(
        "[CreateGroup(Startup)][CreateGroup(Main)][AddItem(WINFILE.EXE,\"File Manager\")][AddItem(clock.exe)]"));
    const Case& c = GetParam();
    EXPECT_EQ(winsim::progmanExecute(c.text), c.accepted) << c.text;
    EXPECT_EQ(describe(), c.groups) << c.text;
    EXPECT_EQ(winsim::progmanActiveGroup(), c.active) << c.text;
}

const Case kCases[] = {
    // Creation and activation.
    {"[CreateGroup(New)]", true, "Startup:;Main:File Manager|clock;New:", "New"},
    {"[createGROUP(main)]", true, "Startup:;Main:File Manager|clock", "Main"},
    {"[CreateGroup(\"Two Words\",1)]", true, "Startup:;Main:File Manager|clock;Two Words:", "Two Words"},
    {"[CreateGroup()]", false, "Startup:;Main:File Manager|clock", "Main"},
    // ShowGroup needs its show command.
    {"[ShowGroup(Startup,2)]", true, "Startup:;Main:File Manager|clock", "Startup"},
    {"[ShowGroup(Startup)]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[ShowGroup(Nowhere,1)]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[ShowGroup(Startup,7)]", true, "Startup:;Main:File Manager|clock", "Main"},
    {"[ShowGroup(Startup,x)]", false, "Startup:;Main:File Manager|clock", "Main"},
    // Items act on the active group.
    {"[AddItem(notepad.exe,Notes,notepad.exe,0)]", true, "Startup:;Main:File Manager|clock|Notes", "Main"},
    {"[ShowGroup(Startup,1)][AddItem(\"C:\\VARDEN\\HELP.HLP\",\"Help, quick\")]", true,
     "Startup:Help, quick;Main:File Manager|clock", "Startup"},
    {"[AddItem()]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[DeleteItem(\"file manager\")]", true, "Startup:;Main:clock", "Main"},
    {"[DeleteItem(Missing)]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[ShowGroup(Startup,2)][DeleteItem(clock)]", false, "Startup:;Main:File Manager|clock", "Startup"},
    // Deleting groups.
    {"[DeleteGroup(\"STARTUP\")]", true, "Main:File Manager|clock", "Main"},
    {"[DeleteGroup(Main)][AddItem(x.exe)]", false, "Startup:", ""},
    {"[DeleteGroup(Missing)]", false, "Startup:;Main:File Manager|clock", "Main"},
    // Concatenation stops at the first failure; earlier commands stay done.
    {"[CreateGroup(A)] [DeleteGroup(Missing)][CreateGroup(B)]", false, "Startup:;Main:File Manager|clock;A:", "A"},
    {"[CreateGroup(A)][CreateGroup(B)]", true, "Startup:;Main:File Manager|clock;A:;B:", "B"},
    // Syntax.
    {"", false, "Startup:;Main:File Manager|clock", "Main"},
    {"   ", false, "Startup:;Main:File Manager|clock", "Main"},
    {"CreateGroup(A)", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[CreateGroup(A)", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[CreateGroup(\"A)]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[CreateGroup(A]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[CreateGroup(A)]x", false, "Startup:;Main:File Manager|clock;A:", "A"},
    {"[UnknownThing(A)]", false, "Startup:;Main:File Manager|clock", "Main"},
    {"[CreateGroup(\"Paren (x), [y]\")]", true, "Startup:;Main:File Manager|clock;Paren (x), [y]:", "Paren (x), [y]"},
    {" [ CreateGroup ( Spaced Name , 0 ) ] ", true, "Startup:;Main:File Manager|clock;Spaced Name:", "Spaced Name"},
};

INSTANTIATE_TEST_SUITE_P(Table, ProgmanCommands, ::testing::ValuesIn(kCases));

TEST(ProgmanParse, ArgumentsWithQuotesAndEmptyFields) {
    auto cmds = winsim::parseProgmanCommands("[AddItem(\"a, b\",,icon.exe,2)][Reload]");
    ASSERT_TRUE(cmds.has_value());
    ASSERT_EQ(cmds->size(), 2u);
    EXPECT_EQ((*cmds)[0].name, "AddItem");
    EXPECT_EQ((*cmds)[0].args, (std::vector<std::string>{"a, b", "", "icon.exe", "2"}));
    EXPECT_EQ((*cmds)[1].name, "Reload");
    EXPECT_TRUE((*cmds)[1].args.empty());
    EXPECT_FALSE(winsim::parseProgmanCommands("[A(b)][").has_value());
}

TEST(ProgmanImage, GroupsSurviveSaveAndLoad) {
    auto dir = tempDir("image");
    auto& m = winsim::install(winsim::makeBareMachine({}, dir / "host"));
    winsim::setProgmanRunning(true);
    ASSERT_TRUE(winsim::progmanExecute("[CreateGroup(\"Main\")][AddItem(\"WRITE C:\\A B\\x.wri\",Notes,write.exe,3)]"));
    winsim::saveImage(m, dir / "img");
    auto loaded = winsim::loadImage(dir / "img");
    winsim::install(std::move(loaded));
    const auto* g = winsim::findProgmanGroup("main");
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->items.size(), 1u);
    EXPECT_EQ(g->items[0].command, "WRITE C:\\A B\\x.wri");
    EXPECT_EQ(g->items[0].iconPath, "write.exe");
    EXPECT_EQ(g->items[0].iconIndex, 3);
    EXPECT_EQ(winsim::progmanActiveGroup(), "Main");
    std::ostringstream out;
    winsim::showDde(out, winsim::machine());
    EXPECT_NE(out.str().find("group \"Main\", 1 item"), std::string::npos) << out.str();
}

TEST(ProgmanImage, DamagedSectionNamesTheProblem) {
    winsim::install(winsim::makeBareMachine({}, tempDir("bad")));
    nlohmann::json j = {{"progman", {{"groups", {{{"name", 5}}}}}}};
    try {
        winsim::loadDde(j, winsim::machine());
        FAIL() << "a group name must be text";
    } catch (const winsim::ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("dde.progman.groups[0].name"), std::string::npos) << e.what();
    }
}

}  // namespace
