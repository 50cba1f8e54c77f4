// The dialog stack with the answers and console front-ends, and the log
// lines a run writes.
#include "helpers.h"
#include "kit/internal.h"
#include "winsim/ui/state.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace {

using namespace kittest;

const char* kLib = "mscuistf.dll";

BOOL showPage(UINT id, const char* proc, UINT help = 0) {
    return FDoDialogExt(HwndFrame(), kLib, id, proc, kLib, help, help ? "FHelpDlgProc" : "");
}

std::string symbol(const char* name) {
    char buf[600];
    CbGetSymbolValue(name, buf, sizeof buf);
    return buf;
}

struct HostFiles {
    std::filesystem::path dir, answers, log;
};

HostFiles answersRun(const std::string& name, const std::string& answersText) {
    freshMachine(name);
    HostFiles r;
    r.dir = tempDir(name + "-host");
    r.answers = r.dir / "answers.txt";
    r.log = r.dir / "run.log";
    writeFile(r.answers, answersText);
    return r;
}

TEST(KitDialogs, AnswersDriveThePagesAndTheLogRecordsThem) {
    HostFiles r = answersRun("dlg-answers",
                       "# a comment line\n"
                       "100 CONTINUE\n"
                       "800 continue ButtonChecked=2   # lower case is accepted\n"
                       "300 CONTINUE EditTextOut=\"D:\\My Apps\\vrd\"\n"
                       "2300 CONTINUE\n");
    ASSERT_EQ(startFrame("--answers " + r.answers.string() + " --log " + r.log.string() + " extra words"), 1);
    EXPECT_TRUE(FInitializeInstall(HinstFrame(), HwndFrame()));
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc", 900));
    EXPECT_EQ(symbol("DLGEVENT"), "CONTINUE");

    FSetSymbolValue("RadioDefault", "1");
    ASSERT_TRUE(showPage(800, "FInstallTypeDlgProc", 7805));
    EXPECT_EQ(symbol("DLGEVENT"), "CONTINUE");
    EXPECT_EQ(symbol("ButtonChecked"), "2");
    FKillNDialogs(1);

    // A modeless page takes no answer.
    FSetSymbolValue("StatusHeader", "Copying");
    ASSERT_TRUE(showPage(7804, "FStatusDlgProc"));

    FSetSymbolValue("EditTextIn", "C:\\win32app\\vrdpsmon");
    ASSERT_TRUE(showPage(300, "FChoosePathDlgProc", 7805));
    EXPECT_EQ(symbol("EditTextOut"), "D:\\My Apps\\vrd");

    DoMsgBox("Buffer Overflow", "MS-Setup Error", MB_ICONSTOP);
    KitLogEvent("program", "winhlp32.exe vrdpsmon.hlp");
    KitLogEvent("reboot", "");
    KitLogEvent("something", "ignored");

    FSetSymbolValue("ErrorText", "Error code = 1024");
    FKillNDialogs(-1);
    ASSERT_TRUE(showPage(2300, "FErrorDlgProc"));
    KitLogExit(0);
    KitLogExit(7);  // only the first exit counts
    EXPECT_EQ(readFile(r.log),
              "page 100 FWelcomeDlgProc CONTINUE\n"
              "page 800 FInstallTypeDlgProc CONTINUE\n"
              "status 7804 Copying\n"
              "page 300 FChoosePathDlgProc CONTINUE\n"
              "box MS-Setup Error: Buffer Overflow\n"
              "program winhlp32.exe vrdpsmon.hlp\n"
              "reboot\n"
              "status 7804 end\n"
              "error Error code = 1024\n"
              "page 2300 FErrorDlgProc CONTINUE\n"
              "result nothing restart=no\n"
              "exit 0\n");
}

TEST(KitDialogs, UnansweredOutputsKeepWhatThePageShowed) {
    HostFiles r = answersRun("dlg-defaults", "800 CONTINUE\n300 CONTINUE\n");
    ASSERT_EQ(startFrame("--answers " + r.answers.string()), 1);
    FSetSymbolValue("RadioDefault", "1");
    FSetSymbolValue("ButtonChecked", "3");  // left over from an earlier showing
    ASSERT_TRUE(showPage(800, "FInstallTypeDlgProc"));
    EXPECT_EQ(symbol("ButtonChecked"), "1");
    FSetSymbolValue("EditTextIn", "C:\\win32app\\vrdpsmon");
    ASSERT_TRUE(showPage(300, "FChoosePathDlgProc"));
    EXPECT_EQ(symbol("EditTextOut"), "C:\\win32app\\vrdpsmon");
}

TEST(KitDialogs, UnknownPagesAndLibrariesFail) {
    HostFiles r = answersRun("dlg-unknown", "");
    ASSERT_EQ(startFrame("--log " + r.log.string()), 1);
    EXPECT_FALSE(showPage(4242, "FInfoDlgProc"));
    EXPECT_FALSE(showPage(100, "FNoSuchDlgProc"));
    EXPECT_FALSE(FDoDialogExt(HwndFrame(), "other.dll", 100, "FWelcomeDlgProc", "other.dll", 0, ""));
    EXPECT_FALSE(FDoDialogExt(HwndFrame(), nullptr, 100, "FWelcomeDlgProc", nullptr, 0, nullptr));
    // A path before the library name is fine.
    EXPECT_TRUE(FDoDialogExt(HwndFrame(), "D:\\SETUP\\MSCUISTF.DLL", 5100, "FModelessDlgProc", kLib, 0, ""));
    KitLogExit(0);
    std::string log = readFile(r.log);
    EXPECT_NE(log.find("dialog 4242: no dialog 4242"), std::string::npos) << log;
    EXPECT_NE(log.find("no dialog procedure FNoSuchDlgProc"), std::string::npos) << log;
    EXPECT_NE(log.find("library other.dll not found"), std::string::npos) << log;
}

TEST(KitDialogs, StackWindowsCarryTheDialogNumber) {
    HostFiles r = answersRun("dlg-stack", "100 CONTINUE\n200 CONTINUE\n");
    ASSERT_EQ(startFrame("--answers " + r.answers.string()), 1);
    auto& ui = *winsim::machine().ui;
    ASSERT_TRUE(showPage(5300, "FModelessDlgProc"));
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc"));
    ASSERT_TRUE(showPage(200, "FQuitDlgProc"));
    auto countPages = [&] {
        int n = 0;
        for (auto& [h, w] : ui.windows)
            if (w.className == "KitPage") ++n;
        return n;
    };
    EXPECT_EQ(countPages(), 3);
    bool found = false;
    for (auto& [h, w] : ui.windows) found |= w.id == 200 && w.parent == HwndFrame();
    EXPECT_TRUE(found);
    EXPECT_TRUE(FKillNDialogs(1));
    EXPECT_EQ(countPages(), 2);
    EXPECT_FALSE(FKillNDialogs(-2));
    EXPECT_TRUE(FKillNDialogs(-1));
    EXPECT_EQ(countPages(), 0);
    EXPECT_TRUE(FKillNDialogs(5));  // nothing left: still fine
    TerminateFrame();
    EXPECT_EQ(HwndFrame(), nullptr);
}

TEST(KitDialogs, QuitQueuedDuringAPageEndsItWithoutAnAnswer) {
    HostFiles r = answersRun("dlg-quit", "100 CONTINUE\n");
    winsim::machine().ui->quitOnWindowId = 800;
    ASSERT_EQ(startFrame("--answers " + r.answers.string() + " --log " + r.log.string()), 1);
    ASSERT_TRUE(showPage(800, "FInstallTypeDlgProc"));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    // The answer for the next page is still there.
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc"));
    KitLogExit(0);
    EXPECT_EQ(readFile(r.log),
              "page 800 FInstallTypeDlgProc QUIT\npage 100 FWelcomeDlgProc CONTINUE\nresult nothing restart=no\nexit 0\n");
}

TEST(KitDialogs, HelpAndVersionStopTheFrame) {
    freshMachine("dlg-help");
    testing::internal::CaptureStdout();
    EXPECT_EQ(startFrame("--help"), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("--answers FILE"), std::string::npos);
    KitReset();
    testing::internal::CaptureStdout();
    EXPECT_EQ(startFrame("--log x --version"), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("setup kit"), std::string::npos);
    KitReset();
    EXPECT_EQ(startFrame(""), 1);
    EXPECT_EQ(startFrame(""), 0);  // only once
}

using KitDialogsDeathTest = testing::Test;

TEST(KitDialogsDeathTest, AnswerForAnotherPageStopsWithCode2) {
    HostFiles r = answersRun("dlg-mismatch", "100 CONTINUE\n800 CONTINUE\n");
    ASSERT_EQ(startFrame("--answers " + r.answers.string() + " --log " + r.log.string()), 1);
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc"));
    EXPECT_EXIT(showPage(2000, "FInfoDlgProc"), testing::ExitedWithCode(2),
                "line 2: expected page 800 but page 2000 \\(FInfoDlgProc");
    EXPECT_EQ(readFile(r.log), "page 100 FWelcomeDlgProc CONTINUE\nresult failed restart=no\nexit 2\n");
}

TEST(KitDialogsDeathTest, NoAnswerLeftStopsWithCode2) {
    HostFiles r = answersRun("dlg-none-left", "100 CONTINUE\n");
    ASSERT_EQ(startFrame("--answers " + r.answers.string()), 1);
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc"));
    EXPECT_EXIT(showPage(200, "FQuitDlgProc"), testing::ExitedWithCode(2), "no answer left for page 200");
}

TEST(KitDialogsDeathTest, MalformedAnswersRefusedBeforeAnything) {
    HostFiles r = answersRun("dlg-malformed", "100 CONTINUE\n\n800 CONTINUE ButtonChecked\n");
    EXPECT_EXIT(startFrame("--answers " + r.answers.string()), testing::ExitedWithCode(2),
                "answers.txt: line 3: \"ButtonChecked\" is not SYMBOL=value");
    KitReset();
    EXPECT_EXIT(startFrame("--answers /nonexistent/answers"), testing::ExitedWithCode(2),
                "cannot read the answers file");
    KitReset();
    EXPECT_EXIT(startFrame("--log"), testing::ExitedWithCode(2), "--log needs a file name");
}

struct AnswersCase {
    const char* text;
    const char* error;  // "" = accepted
};

TEST(KitAnswersParse, Table) {
    const AnswersCase cases[] = {
        {"", ""},
        {"# only\n   \n", ""},
        {"100 CONTINUE\r\n200 EXIT # bye\n", ""},
        {"300 CONTINUE EditTextOut=\"C:\\a b\\\"\n", ""},
        {"300 CONTINUE EditTextOut=\"\"\n", ""},
        {"300 CONTINUE \"Odd Name\"=\"x \"\"y\"\"\"\n", ""},
        {"abc CONTINUE\n", "line 1: expected a dialog number, found \"abc\""},
        {"0 CONTINUE\n", "line 1: expected a dialog number"},
        {"70000 CONTINUE\n", "line 1: expected a dialog number"},
        {"100\n", "line 1: missing the event word"},
        {"100 GO-ON\n", "line 1: \"GO-ON\" is not an event word"},
        {"100 CONTINUEXXXXXXXXX\n", "is not an event word"},
        {"\n\n100 CONTINUE EditTextOut=\"open\n", "line 3: unterminated quote"},
        {"100 CONTINUE =x\n", "line 1: \"=x\" is not SYMBOL=value"},
    };
    for (const auto& c : cases) {
        std::vector<kit::Answer> out;
        std::string err;
        bool ok = kit::parseAnswers(c.text, out, err);
        if (!*c.error) {
            EXPECT_TRUE(ok) << c.text << ": " << err;
        } else {
            EXPECT_FALSE(ok) << c.text;
            EXPECT_NE(err.find(c.error), std::string::npos) << c.text << " -> " << err;
        }
    }
    std::vector<kit::Answer> out;
    std::string err;
    ASSERT_TRUE(kit::parseAnswers("300 CONTINUE EditTextOut=\"C:\\a b\\\" \"Odd Name\"=\"x \"\"y\"\"\" A=b=c\n", out, err));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].line, 1);
    EXPECT_EQ(out[0].dialog, 300u);
    ASSERT_EQ(out[0].symbols.size(), 3u);
    EXPECT_EQ(out[0].symbols[0], (std::pair<std::string, std::string>("EditTextOut", "C:\\a b\\")));
    EXPECT_EQ(out[0].symbols[1], (std::pair<std::string, std::string>("Odd Name", "x \"y\"")));
    EXPECT_EQ(out[0].symbols[2], (std::pair<std::string, std::string>("A", "b=c")));
}

TEST(KitAnswersParse, QuotingRoundTrips) {
    for (std::string v : {"plain", "", "with blank", "C:\\dir\\", "say \"x\"", "#hash", "a=b"}) {
        std::vector<kit::Answer> out;
        std::string err;
        ASSERT_TRUE(kit::parseAnswers("1 CONTINUE S=" + kit::quoteAnswer(v) + "\n", out, err)) << v << err;
        ASSERT_EQ(out[0].symbols.size(), 1u);
        EXPECT_EQ(out[0].symbols[0].second, v);
    }
}

// The console front-end over in-memory streams.
struct Console {
    FILE* in;
    char* outBuf = nullptr;
    size_t outLen = 0;
    FILE* out;
    Console(const std::string& input) {
        in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
        out = open_memstream(&outBuf, &outLen);
    }
    ~Console() {
        std::fclose(in);
        std::fclose(out);
        free(outBuf);
    }
    std::string output() {
        std::fflush(out);
        return std::string(outBuf, outLen);
    }
};

TEST(KitConsole, PagesAnsweredFromTheTerminalAndRecorded) {
    HostFiles r = answersRun("console", "");
    std::string input =
        "\n"             // welcome: Enter = the first button (Continue)
        "what\n"         // not a key: asked again
        "h\n"            // help ...
        "\n"             // ... and Enter back to the page
        "2\n"            // installation type: choice 2 and continue
        "b\n"            // destination: back
        "D:\\Apps X\n"   // destination: a path typed at the prompt continues
        "x\n";           // quit page: exit
    std::string inputCopy = input;
    Console con(inputCopy);
    ASSERT_EQ(startFrame("--log " + r.log.string()), 1);
    FILE* rec = std::fopen((r.dir / "rec.txt").c_str(), "w");
    kit::setFrontEnd(kit::makeConsoleFrontEnd(con.in, con.out, rec));
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc", 900));
    EXPECT_EQ(symbol("DLGEVENT"), "CONTINUE");
    FSetSymbolValue("RadioDefault", "1");
    FSetSymbolValue("SysSpacePrintOnlyKb", "  1234 Kb");
    ASSERT_TRUE(showPage(800, "FInstallTypeDlgProc", 7805));
    EXPECT_EQ(symbol("ButtonChecked"), "2");
    FAddListItem("Disk Drives", "[-c-]");
    FAddListItem("Available Space", "   204800 Kb");
    FSetSymbolValue("EditTextIn", "C:\\win32app\\vrdpsmon");
    ASSERT_TRUE(showPage(300, "FChoosePathDlgProc", 7805));
    EXPECT_EQ(symbol("DLGEVENT"), "BACK");
    ASSERT_TRUE(showPage(300, "FChoosePathDlgProc", 7805));
    EXPECT_EQ(symbol("DLGEVENT"), "CONTINUE");
    EXPECT_EQ(symbol("EditTextOut"), "D:\\Apps X");
    ASSERT_TRUE(showPage(200, "FQuitDlgProc"));
    EXPECT_EQ(symbol("DLGEVENT"), "EXIT");
    KitLogExit(0);

    std::string shown = con.output();
    EXPECT_NE(shown.find("== Welcome =="), std::string::npos);
    EXPECT_NE(shown.find("[c] Continue"), std::string::npos);
    EXPECT_NE(shown.find("Please choose one of the keys shown."), std::string::npos);
    EXPECT_NE(shown.find("== Help =="), std::string::npos);
    EXPECT_NE(shown.find("  1234 Kb"), std::string::npos);
    EXPECT_NE(shown.find("[-c-]     204800 Kb"), std::string::npos);
    EXPECT_NE(shown.find("Path [C:\\win32app\\vrdpsmon]: "), std::string::npos);

    // The recorded answers replay the same run.
    kit::setFrontEnd(nullptr);
    std::string recorded = readFile(r.dir / "rec.txt");
    EXPECT_EQ(recorded,
              "100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 BACK\n300 CONTINUE EditTextOut=\"D:\\Apps X\"\n200 EXIT\n");
    std::string firstLog = readFile(r.log);

    HostFiles replay = answersRun("console-replay", recorded);
    ASSERT_EQ(startFrame("--answers " + replay.answers.string() + " --log " + replay.log.string()), 1);
    testing::internal::CaptureStdout();
    showPage(100, "FWelcomeDlgProc", 900);
    showPage(800, "FInstallTypeDlgProc", 7805);
    EXPECT_EQ(symbol("ButtonChecked"), "2");
    showPage(300, "FChoosePathDlgProc", 7805);
    showPage(300, "FChoosePathDlgProc", 7805);
    EXPECT_EQ(symbol("EditTextOut"), "D:\\Apps X");
    showPage(200, "FQuitDlgProc");
    testing::internal::GetCapturedStdout();
    KitLogExit(0);
    EXPECT_EQ(readFile(replay.log), firstLog);
}

TEST(KitConsole, MessageBoxesAskForTheButton) {
    freshMachine("console-box");
    Console con("r\n\nzz\nn\n");
    kit::setFrontEnd(kit::makeConsoleFrontEnd(con.in, con.out, nullptr));
    EXPECT_EQ(KitMessageBox("in use", "File In Use", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(KitMessageBox("done", "Install", MB_OK), IDOK);
    EXPECT_EQ(KitMessageBox("sure?", "Q", MB_YESNO), IDNO);
    // At the end of the input a box takes its last button.
    EXPECT_EQ(KitMessageBox("again", "File In Use", MB_RETRYCANCEL), IDCANCEL);
    EXPECT_NE(con.output().find("[File In Use]\nin use\n  [r] Retry  [c] Cancel"), std::string::npos);
    kit::setFrontEnd(nullptr);
}

TEST(KitConsole, AnswersFrontEndNeverRetries) {
    HostFiles r = answersRun("answers-box", "");
    ASSERT_EQ(startFrame("--answers " + r.answers.string()), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(KitMessageBox("t", "c", MB_OK), IDOK);
    EXPECT_EQ(KitMessageBox("t", "c", MB_YESNO), IDYES);
    EXPECT_EQ(KitMessageBox("t", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(KitMessageBox("t", "c", MB_RETRYCANCEL), IDCANCEL);
    testing::internal::GetCapturedStdout();
}

using KitConsoleDeathTest = testing::Test;

TEST(KitConsoleDeathTest, EndOfInputStopsTheRun) {
    freshMachine("console-eof");
    Console con("");
    kit::setFrontEnd(kit::makeConsoleFrontEnd(con.in, con.out, nullptr));
    EXPECT_EXIT(showPage(100, "FWelcomeDlgProc"), testing::ExitedWithCode(2), "input ended while page 100");
}

TEST(KitMessageBoxes, RoutedThroughMessageBoxAWhenTheHostSaysSo) {
    HostFiles r = answersRun("box-routed", "");
    ASSERT_EQ(startFrame("--answers " + r.answers.string() + " --log " + r.log.string()), 1);
    winsim::setMessageBoxHandler([](const char* t, const char* c, UINT type) { return KitMessageBox(t, c, type); });
    KitRouteMessageBoxes(TRUE);
    testing::internal::CaptureStdout();
    DoMsgBox("Buffer Overflow", "MS-Setup Error", MB_ICONSTOP);
    // The program's own boxes arrive the same way.
    MessageBoxA(nullptr, "The drive specified is invalid.", "Setup Message", MB_ICONINFORMATION);
    testing::internal::GetCapturedStdout();
    winsim::setMessageBoxHandler(nullptr);
    KitRouteMessageBoxes(FALSE);
    KitLogExit(0);
    EXPECT_EQ(readFile(r.log),
              "box MS-Setup Error: Buffer Overflow\nbox Setup Message: The drive specified is invalid.\n"
              "result nothing restart=no\nexit 0\n");
    ASSERT_EQ(winsim::machine().ui->boxes.size(), 2u);  // both seen by the machine
}

TEST(KitCursor, WaitCursorRestored) {
    freshMachine("cursor");
    HCURSOR before = SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    (void)before;
    HCURSOR prev = HShowWaitCursor();
    EXPECT_EQ(prev, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(winsim::machine().ui->cursor, LoadCursorA(nullptr, IDC_WAIT));
    EXPECT_TRUE(FRestoreCursor(prev));
    EXPECT_EQ(winsim::machine().ui->cursor, prev);
}

}  // namespace
