// Windows, message queue, message boxes, cursors and ExitWindowsEx of the
// simulated machine; the DDE client library and the simulated Program
// Manager behind it.
#include <windows.h>
#include <ddeml.h>

#include "winsim/core/machine.h"
#include "winsim/dde/state.h"
#include "winsim/image/image.h"
#include "winsim/security/state.h"
#include "winsim/ui/state.h"
#include "sim.h"

#include <cstring>
#include <sstream>
#include <tuple>

namespace {

std::vector<UINT> seenMessages;
LRESULT CALLBACK recordingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    seenMessages.push_back(msg);
    if (msg == WM_USER + 7) return (LRESULT)wp * 2;
    return DefWindowProcA(h, msg, wp, lp);
}

std::vector<std::string> events;
void recordEvent(std::string_view kind, std::string_view text) { events.push_back(std::string(kind) + ":" + std::string(text)); }

struct Ui : sim::MachineTest {
    void TearDown() override {
        winsim::setEventListener(nullptr);
        winsim::setMessageBoxHandler(nullptr);
        MachineTest::TearDown();
    }
    HWND window(const char* cls, HWND parent = nullptr, UINT id = 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = recordingProc;
        wc.lpszClassName = cls;
        RegisterClassA(&wc);
        return CreateWindowExA(0, cls, "first", parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, parent,
                               (HMENU)(UINT_PTR)id, nullptr, nullptr);
    }
    // The next message of the queue (0 when there is none), removed.
    UINT next(MSG& msg, HWND h = nullptr, UINT from = 0, UINT to = 0) {
        return PeekMessageA(&msg, h, from, to, PM_REMOVE) ? msg.message : 0;
    }
};

TEST_F(Ui, ClassesAndWindowsFollowWin32Errors) {
    HWND frame = window("Frame");
    ASSERT_NE(frame, nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "frame";
    EXPECT_LASTERROR(RegisterClassA(&wc), 0, 1410 /* ERROR_CLASS_ALREADY_EXISTS */);
    wc.lpszClassName = "";
    EXPECT_LASTERROR(RegisterClassA(&wc), 0, ERROR_INVALID_PARAMETER);
    EXPECT_LASTERROR(CreateWindowExA(0, "NoSuchClass", "x", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr,
                     1407 /* ERROR_CANNOT_FIND_WND_CLASS */);
    EXPECT_LASTERROR(CreateWindowExA(0, "frame", "x", WS_CHILD, 0, 0, 0, 0, (HWND)(UINT_PTR)0x999, nullptr, nullptr, nullptr),
                     nullptr, ERROR_INVALID_WINDOW_HANDLE);
    seenMessages.clear();
    HWND child = window("Page", frame, 100);
    EXPECT_TRUE(IsWindow(child));
    EXPECT_EQ(seenMessages, std::vector<UINT>{WM_CREATE});
    // The title of the top-level window is the frame title.
    EXPECT_TRUE(SetWindowTextA(frame, "Network Printing Setup"));
    EXPECT_TRUE(SetWindowTextA(child, "Welcome"));
    EXPECT_EQ(m().ui->frameTitle, "Network Printing Setup");
    char buf[8];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(GetWindowTextA(frame, buf, 5), 4);
    EXPECT_EQ(GetWindowTextA(frame, nullptr, 5), 0);
    EXPECT_EQ(std::string(buf, 6), std::string("Netw\0G", 6));
    EXPECT_FAILS(SetWindowTextA((HWND)(UINT_PTR)0x12345, "x"), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(ShowWindow(frame, SW_SHOWMAXIMIZED));  // was hidden
    EXPECT_TRUE(ShowWindow(frame, SW_SHOWMAXIMIZED));   // now visible
    EXPECT_FAILS(ShowWindow(nullptr, SW_SHOW), ERROR_INVALID_WINDOW_HANDLE);
    // Destroying the parent takes the child with it.
    EXPECT_TRUE(DestroyWindow(frame));
    EXPECT_FALSE(IsWindow(frame) || IsWindow(child));
    EXPECT_FAILS(DestroyWindow(frame), ERROR_INVALID_WINDOW_HANDLE);
}

// The queue: order, filters, dispatch, a quit after the posted messages,
// once, or with a declared window; a pending quit from the image; the image
// section.
TEST_F(Ui, QueueOrderFiltersDispatchQuitAndImage) {
    HWND a = window("A"), b = window("B");
    MSG msg;
    std::memset(&msg, 0xcc, sizeof msg);
    EXPECT_EQ(next(msg), 0u);
    PostQuitMessage(5);
    EXPECT_TRUE(PostMessageA(a, WM_USER + 1, 1, 0));
    EXPECT_TRUE(PostMessageA(b, WM_USER + 7, 21, 0));
    EXPECT_TRUE(PostMessageA(nullptr, WM_USER + 2, 0, 0));
    EXPECT_FAILS(PostMessageA((HWND)(UINT_PTR)0x4444, WM_USER, 0, 0), ERROR_INVALID_WINDOW_HANDLE);
    // A window filter sees only that window's messages; -1 only thread messages.
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)(WM_USER + 7));
    EXPECT_EQ(next(msg, (HWND)(LONG_PTR)-1), (UINT)(WM_USER + 2));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(next(msg, nullptr, WM_USER + 5, WM_USER + 9), (UINT)(WM_USER + 7));
    EXPECT_EQ(msg.wParam, 21u);
    seenMessages.clear();
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_EQ(DispatchMessageA(&msg), 42);
    EXPECT_EQ(seenMessages.size(), 1u);
    // The rest in order, the quit last and once.
    EXPECT_EQ(next(msg), (UINT)(WM_USER + 1));
    EXPECT_EQ(msg.hwnd, a);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(next(msg), (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_EQ(next(msg), 0u);
    // A declared quit arrives with the second window of id 800.
    m().ui->quitOnWindowId = 800;
    m().ui->quitOccurrence = 2;
    HWND frame = window("Frame");
    DestroyWindow(window("Page", frame, 800));
    window("Page", frame, 300);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    window("Page", frame, 800);
    EXPECT_EQ(next(msg), (UINT)WM_QUIT);
    m().ui->quitOnWindowId = m().ui->quitOccurrence = 1;  // a top-level window has no id
    window("Frame");
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    winsim::loadUi(nlohmann::json::parse(R"({"quit_pending": true})"), m());
    EXPECT_EQ(next(msg), (UINT)WM_QUIT);
    // The section's round trip is the machine image's test; here: an
    // untouched section saves as nothing, and what is refused.
    nlohmann::json empty;
    winsim::loadUi(nlohmann::json(), m());
    winsim::saveUi(empty, m());
    EXPECT_TRUE(empty.is_null());
    for (const char* bad : {R"({"message_boxes": [{"text": "a"}]})", R"([1])"})
        EXPECT_THROW(winsim::loadUi(nlohmann::json::parse(bad), m()), winsim::ImageError) << bad;
}

std::string boxSeen;
int testBoxHandler(const char* text, const char* caption, UINT type) {
    boxSeen = std::string(caption) + "|" + text + "|" + std::to_string(type);
    return IDNO;
}

// Message boxes; cursors; NT refuses a restart while the shutdown privilege
// is only held, not enabled (the setup program's platform tests restart
// both systems).
TEST_F(Ui, MessageBoxesCursorsAndRestartRefusal) {
    winsim::setMessageBoxHandler(testBoxHandler);
    EXPECT_EQ(MessageBoxA(nullptr, "Unable to go on.", "Install", MB_YESNO), IDNO);
    EXPECT_EQ(boxSeen, "Install|Unable to go on.|4");
    EXPECT_EQ(MessageBoxA(nullptr, "text", nullptr, MB_OK), IDNO);
    EXPECT_EQ(boxSeen, "Error|text|0");  // Windows' caption when none is given
    EXPECT_LASTERROR(MessageBoxA((HWND)(UINT_PTR)0x4242, "x", "y", MB_OK), 0, ERROR_INVALID_WINDOW_HANDLE);
    winsim::setMessageBoxHandler(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "plain", "Cap", MB_OK), IDOK);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Cap: plain"), std::string::npos);
    ASSERT_EQ(m().ui->boxes.size(), 3u);
    EXPECT_EQ(m().ui->boxes[0].caption, "Install");
    EXPECT_EQ(m().ui->boxes[0].type, (UINT)MB_YESNO);
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT), arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_TRUE(wait && arrow);
    EXPECT_NE(wait, arrow);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), wait);
    EXPECT_LASTERROR(LoadCursorA(nullptr, MAKEINTRESOURCEA(7)), nullptr, 1814 /* ERROR_RESOURCE_NAME_NOT_FOUND */);
    EXPECT_EQ(SetCursor(wait), arrow);
    EXPECT_EQ(SetCursor(arrow), wait);
    winsim::setUserKind(m(), true);
    winsim::setEventListener(recordEvent);
    EXPECT_FAILS(ExitWindowsEx(EWX_REBOOT, 0), ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_FALSE(m().ui->restartRequested);
    EXPECT_TRUE(events.empty());
}

HDDEDATA CALLBACK callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

// Connections while Program Manager runs; executes: the exact bytes a client
// sends are the setup program's tests, here the format said does not
// matter, a refusal is still received, the history keeps the latest only;
// invalid instances and parameters.
TEST_F(Ui, DdeConnectExecuteAndRefusals) {
    winsim::setProgmanRunning(true);
    DWORD inst = 0;
    ASSERT_EQ(DdeInitializeA(&inst, callback, APPCMD_CLIENTONLY, 0), (UINT)DMLERR_NO_ERROR);
    ASSERT_NE(inst, 0u);
    auto str = [&](const char* text) { return DdeCreateStringHandleA(inst, text, CP_WINANSI); };
    // The DDE error after a call that failed, or "succeeded".
    auto failed = [&](bool f, DWORD of = 0) { return f ? DdeGetLastError(of ? of : inst) : 0xdeadbeefu; };
    // Sends one execute string (NUL counted) on a new conversation, as a
    // client of Program Manager does.
    auto send = [&](const char* text, UINT fmt = CF_TEXT) {
        HSZ h = str("PROGMAN");
        HCONV c = DdeConnect(inst, h, h, nullptr);
        HDDEDATA r = DdeClientTransaction((LPBYTE)text, (DWORD)std::strlen(text) + 1, c, nullptr, fmt, XTYP_EXECUTE,
                                          1000, nullptr);
        EXPECT_TRUE(DdeDisconnect(c));
        EXPECT_TRUE(DdeFreeStringHandle(inst, h));
        return r;
    };
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
    EXPECT_EQ(failed(!DdeConnect(inst, other, svc, nullptr)), (UINT)DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(failed(!DdeConnect(inst, svc, other, nullptr)), (UINT)DMLERR_NO_CONV_ESTABLISHED);
    EXPECT_EQ(DdeGetLastError(inst), (UINT)DMLERR_NO_ERROR) << "reading the error clears it";

    ASSERT_NE(send("[CreateGroup(\"Varden Network Printers\")]", 0), nullptr);
    EXPECT_NE(winsim::findProgmanGroup("Varden Network Printers"), nullptr);
    HDDEDATA r = send("[DeleteGroup(\"Varden Network Printers\")]");
    EXPECT_NE(r, nullptr);
    EXPECT_TRUE(DdeFreeDataHandle(r));
    EXPECT_EQ(failed(!send("[DeleteGroup(\"Varden Network Printers\")]")), (UINT)DMLERR_NOTPROCESSED);
    EXPECT_EQ(winsim::progmanExecutes().size(), 3u);
    for (std::size_t i = 0; i < winsim::DdeState::kExecuteHistory + 5; ++i) send("[CreateGroup(G)]");
    EXPECT_EQ(winsim::progmanExecutes().size(), winsim::DdeState::kExecuteHistory);

    // A conversation open when Program Manager ends fails its transaction.
    c = DdeConnect(inst, svc, svc, nullptr);
    ASSERT_NE(c, nullptr);
    char text[] = "[CreateGroup(H)]";
    EXPECT_EQ(failed(!DdeClientTransaction((LPBYTE)text, 0, c, nullptr, CF_TEXT, XTYP_EXECUTE, 1000, nullptr)),
              (UINT)DMLERR_INVALIDPARAMETER);
    winsim::setProgmanRunning(false);
    EXPECT_EQ(failed(!DdeClientTransaction((LPBYTE)text, sizeof text, c, nullptr, CF_TEXT, XTYP_EXECUTE, 1000, nullptr)),
              (UINT)DMLERR_SERVER_DIED);
    EXPECT_EQ(winsim::findProgmanGroup("H"), nullptr);
    EXPECT_TRUE(DdeFreeStringHandle(inst, svc));
    EXPECT_TRUE(DdeFreeStringHandle(inst, top));
    EXPECT_FALSE(DdeFreeStringHandle(inst, top)) << "both references are gone";

    EXPECT_EQ(failed(!DdeCreateStringHandleA(inst, "PROGMAN", CP_WINUNICODE)), (UINT)DMLERR_INVALIDPARAMETER);  // ANSI only
    EXPECT_EQ(failed(!DdeCreateStringHandleA(inst + 100, "PROGMAN", CP_WINANSI), inst + 100), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_TRUE(DdeUninitialize(inst));
    EXPECT_FALSE(DdeUninitialize(inst));
    DWORD none = 0;
    EXPECT_EQ(DdeInitializeA(&none, callback, APPCMD_CLIENTONLY, 1), (UINT)DMLERR_INVALIDPARAMETER);
    EXPECT_EQ(DdeInitializeA(nullptr, callback, APPCMD_CLIENTONLY, 0), (UINT)DMLERR_INVALIDPARAMETER);
}

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
    const std::tuple<const char*, bool, std::string> rows[] = {  // commands, accepted, groups after
        {"[CreateGroup(New)]", true, kIdle + ";*New:"},
        {"[createGROUP(main)]", true, kStart},
        {"[CreateGroup(\"Two Words\",1)]", true, kIdle + ";*Two Words:"},
        // ShowGroup needs its show command; 7 shows without activating.
        {"[ShowGroup(Startup,2)]", true, "*Startup:;Main:File Manager|clock"},
        {"[ShowGroup(Startup,7)]", true, kStart},
        // Items act on the active group.
        {"[AddItem(notepad.exe,Notes,notepad.exe,0)]", true, kStart + "|Notes"},
        {"[AddItem(notepad.exe,,notepad.exe,0)]", true, kStart + "|notepad"},  // an empty name: the program's
        {"[ShowGroup(Startup,1)][AddItem(\"C:\\VARDEN\\HELP.HLP\",\"Help, quick\")]", true,
         "*Startup:Help, quick;Main:File Manager|clock"},
        {"[DeleteItem(\"file manager\")]", true, "Startup:;*Main:clock"},
        {"[ShowGroup(Startup,2)][DeleteItem(clock)]", false, "*Startup:;Main:File Manager|clock"},
        {"[DeleteGroup(\"STARTUP\")]", true, "*Main:File Manager|clock"},
        {"[DeleteGroup(Main)][AddItem(x.exe)]", false, "Startup:"},
        // Concatenation stops at the first failure; earlier commands stay done.
        {"[CreateGroup(A)] [DeleteGroup(Missing)][CreateGroup(B)]", false, kIdle + ";*A:"},
        {"[CreateGroup(A)][CreateGroup(B)]", true, kIdle + ";A:;*B:"},
        {"[CreateGroup(A)]x", false, kIdle + ";*A:"},
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
    for (const auto& [text, accepted, groups] : rows) check(text, accepted, groups);
    for (const char* text : refused) check(text, false, kStart);
}

// Arguments with quotes and empty fields; AddItem's arguments land in the
// item; `show` lists the group. The section's round trip is the machine
// image's test.
TEST(ProgmanCommands, ArgumentsFillTheItemAndShowListsIt) {
    auto cmds = winsim::parseProgmanCommands("[AddItem(\"a, b\" ,,icon.exe,2)][Reload]");
    std::string parsed;
    for (const auto& c : cmds.value_or(std::vector<winsim::ProgmanCommand>{})) {
        parsed += c.name + "(";
        for (const auto& a : c.args) parsed += "<" + a + ">";
        parsed += ") ";
    }
    EXPECT_EQ(parsed, "AddItem(<a, b><><icon.exe><2>) Reload() ");
    EXPECT_FALSE(winsim::parseProgmanCommands("[A(b)][").has_value());
    EXPECT_FALSE(winsim::parseProgmanCommands(std::string_view("[ A]", 1)).has_value());  // text cut after "["
    auto& m = sim::fresh();
    winsim::setProgmanRunning(true);
    ASSERT_TRUE(winsim::progmanExecute("[CreateGroup(\"Main\")][AddItem(\"WRITE C:\\A B\\x.wri\",Notes,write.exe,3)]"));
    const auto* g = winsim::findProgmanGroup("main");
    ASSERT_TRUE(winsim::progmanExecute(R"([AddItem(C:\TOOLS\report.wri)][AddItem(c:calc.exe /y)])"));
    ASSERT_TRUE(g && g->items.size() == 3);
    const auto& i = g->items[0];
    EXPECT_EQ(i.name + "|" + i.command + "|" + i.iconPath + "|" + std::to_string(i.iconIndex),
              "Notes|WRITE C:\\A B\\x.wri|write.exe|3");
    // Named after the program, without its folder or extension.
    EXPECT_EQ(g->items[1].name + "|" + g->items[2].name, "report|calc");
    std::ostringstream out;
    winsim::showDde(out, m);
    EXPECT_NE(out.str().find("group \"Main\", 3 items"), std::string::npos) << out.str();
}

}  // namespace
