// The dialog stack with the answers and console front-ends, and the log
// lines a run writes.
#include "helpers.h"
#include "kit/internal.h"
#include "winsim/ui/state.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include <pty.h>
#include <unistd.h>

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

using KitDialogs = kittest::Kit;

// One line per page, status page, box, program and restart; events of
// other kinds are not logged; the first exit code is the one that counts.
TEST_F(KitDialogs, AnswersDriveThePagesAndTheLogRecordsThem) {
    KitSetResult("installed", "needed");
    KitReset();  // which forgets the result told before it
    EXPECT_TRUE(!FInitializeInstall(HinstFrame(), HwndFrame()) && FSetBitmap(kLib, 1) && !FSetBitmap("", 1) &&
                !FSetBitmap(nullptr, 1));  // not before the start; a bitmap needs a library
    start("100 CONTINUE\n800 CONTINUE\n300 CONTINUE\n300 CONTINUE EditTextOut=\"D:\\My Apps\\vrd\"\n2300 CONTINUE\n", " extra words");
    EXPECT_TRUE(FInitializeInstall(HinstFrame(), HwndFrame()) && startFrame("--help") == 0);  // the frame starts once
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc", 900));
    EXPECT_EQ(symbol("DLGEVENT"), "CONTINUE");
    // An output the answer leaves out keeps what the page showed.
    FSetSymbolValue("RadioDefault", "1");
    FSetSymbolValue("ButtonChecked", "3");  // left over from an earlier showing
    ASSERT_TRUE(showPage(800, "FInstallTypeDlgProc"));
    EXPECT_EQ(symbol("ButtonChecked"), "1");
    // A modeless page takes no answer.
    FSetSymbolValue("StatusHeader", "Copying");
    ASSERT_TRUE(showPage(7804, "FStatusDlgProc"));
    FSetSymbolValue("EditTextIn", "C:\\win32app\\vrdpsmon");
    ASSERT_TRUE(showPage(300, "FChoosePathDlgProc", 7805));
    EXPECT_EQ(symbol("EditTextOut"), "C:\\win32app\\vrdpsmon");
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
    KitLogExit(7);
    EXPECT_EQ(log(), "page 100 FWelcomeDlgProc CONTINUE\npage 800 FInstallTypeDlgProc CONTINUE\nstatus 7804 Copying\npage 300 FChoosePathDlgProc CONTINUE\n"
                     "page 300 FChoosePathDlgProc CONTINUE\n"
                     "box MS-Setup Error: Buffer Overflow\nprogram winhlp32.exe vrdpsmon.hlp\nreboot\nstatus 7804 end\n"
                     "error Error code = 1024\npage 2300 FErrorDlgProc CONTINUE\nresult nothing restart=no\nexit 0\n");
}

// Unknown pages, procedures and libraries fail and are logged; a path
// before the library name is fine. The pages on the stack are windows of
// the frame carrying their number; FKillNDialogs takes them from the top.
TEST_F(KitDialogs, StackOfPagesAndWhatIsRefused) {
    start("100 CONTINUE\n200 CONTINUE\n");
    EXPECT_FALSE(showPage(4242, "FInfoDlgProc"));
    EXPECT_FALSE(showPage(100, "FNoSuchDlgProc"));
    EXPECT_FALSE(FDoDialogExt(HwndFrame(), "other.dll", 100, "FWelcomeDlgProc", "other.dll", 0, ""));
    EXPECT_FALSE(FDoDialogExt(HwndFrame(), nullptr, 100, "FWelcomeDlgProc", nullptr, 0, nullptr));
    auto pages = [] {
        std::string ids;
        for (auto& [h, w] : winsim::machine().ui->windows)
            if (w.className == "KitPage" && w.parent == HwndFrame()) ids += std::to_string(w.id) + " ";
        return ids;
    };
    ASSERT_TRUE(FDoDialogExt(HwndFrame(), "D:\\SETUP\\MSCUISTF.DLL", 5300, "FModelessDlgProc", kLib, 0, "") &&
                FKillNDialogs(1) && FDoDialogExt(HwndFrame(), "D:MSCUISTF.DLL", 5300, "FModelessDlgProc", kLib, 0, ""));
    ASSERT_TRUE(showPage(100, "FWelcomeDlgProc"));
    ASSERT_TRUE(showPage(200, "FQuitDlgProc"));
    EXPECT_EQ(pages(), "5300 100 200 ");
    EXPECT_TRUE(FKillNDialogs(1) && FKillNDialogs(0));  // zero takes none
    EXPECT_EQ(pages(), "5300 100 ");
    EXPECT_FALSE(FKillNDialogs(-2));
    EXPECT_TRUE(FKillNDialogs(-1));
    EXPECT_EQ(pages(), "");
    EXPECT_TRUE(FKillNDialogs(5));  // nothing left: still fine
    ASSERT_TRUE(showPage(7804, "FModelessDlgProc"));  // the end of the frame takes down what is open
    TerminateFrame();
    EXPECT_EQ(HwndFrame(), nullptr);
    std::string text = log();
    for (const char* line : {"dialog 4242: no dialog 4242", "no dialog procedure FNoSuchDlgProc", "library other.dll not found",
                             "status 7804 end"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

using KitDialogsDeathTest = KitDialogs;

// After page 100, the run is stopped with code 2: an answer for another
// page, no answer left, or answers left over at the end (a failure, whatever
// the program said of the run before).
TEST_F(KitDialogsDeathTest, AnswersThatDoNotFitTheRunStopItWithCode2) {
    const struct {
        std::string answers;
        std::function<void()> next;
        const char* message;
    } cases[] = {
        {"100 CONTINUE\n800 CONTINUE\n", [] { showPage(2000, "FInfoDlgProc"); },
         "line 2: expected page 800 but page 2000 \\(FInfoDlgProc"},
        {"100 CONTINUE\n", [] { showPage(200, "FQuitDlgProc"); }, "no answer left for page 200"},
        {"100 CONTINUE\n\n# the run ends before this page\n800 CONTINUE ButtonChecked=1\n",
         [] { KitSetResult("installed", "no"), TerminateFrame(); },
         "answers.txt:4: answer for page 800 not used: the run ended before that page was shown"},
    };
    for (const auto& c : cases) {
        KitReset();
        start(c.answers);
        ASSERT_TRUE(showPage(100, "FWelcomeDlgProc"));
        EXPECT_EXIT(c.next(), testing::ExitedWithCode(2), c.message);
        EXPECT_EQ(log(), "page 100 FWelcomeDlgProc CONTINUE\nresult failed restart=no\nexit 2\n") << c.message;
    }
}

// Bad options and answers files are refused before anything is opened;
// two options naming one file, however it is spelled, never overwrite the
// answers.
TEST_F(KitDialogsDeathTest, BadOptionsAreRefusedBeforeAnything) {
    writeText(dir / "answers.txt", "100 CONTINUE\n");
    writeText(dir / "bad.txt", "100 CONTINUE\n\n800 CONTINUE ButtonChecked\n");
    std::filesystem::create_directories(dir / "sub");
    std::filesystem::create_symlink(answers(), dir / "link.txt");
    std::filesystem::create_hard_link(answers(), dir / "hard.txt");
    const std::string a = answers(), d = dir.string();
    const struct {
        std::string args, message;
    } cases[] = {
        {"--answers " + d + "/bad.txt", "bad.txt: line 3: \"ButtonChecked\" is not SYMBOL=value"},
        {"--answers /nonexistent/answers", "cannot read the answers file"},
        {"--log", "--log needs a file name"}, {"--log \"\"", "--log needs a file name"},
        {"--answers " + a + " --log " + a, "--answers and --log name the same file"},
        {"--answers " + a + " --log " + d + "/sub/../answers.txt", "--answers and --log name the same file"},
        {"--answers " + a + " --log " + d + "/nodir/../answers.txt", "--answers and --log name the same file"},
        {"--answers " + a + " --log " + d + "/link.txt", "--answers and --log name the same file"},
        {"--answers " + d + "/hard.txt --log " + a, "--answers and --log name the same file"},
        {"--record " + a + " --answers " + a, "--answers and --record name the same file"},
        {"--record " + d + "/new.txt --log " + d + "/sub/../new.txt", "--record and --log name the same file"},
        {"--answers " + a + " --record " + d + "/rec.txt", "--record needs an interactive run"},
        {"--log " + d + "/none/run.log", "cannot write the log file " + d + "/none/run.log"},
        {"--record " + d + "/none/rec.txt", "cannot write the record file"},
    };
    for (const auto& c : cases) {
        KitReset();
        EXPECT_EXIT(startFrame(c.args), testing::ExitedWithCode(2), c.message) << c.args;
        EXPECT_EQ(readText(answers()), "100 CONTINUE\n") << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir / "new.txt")) << c.args;
    }
    // Different files are fine.
    KitReset();
    EXPECT_EQ(startFrame("--answers  " + a + "  --log " + d + "/run.log"), 1);  // blanks doubled
}

TEST(KitAnswersParse, Table) {
    const std::string huge(4000000, 'X');
    const struct {
        std::string text;
        const char* error;  // "" = accepted
    } cases[] = {
        {"", ""}, {"# only\n   \n", ""}, {"100 CONTINUE\r\n200 EXIT # bye\n", ""}, {"300 BACK EditTextOut=\"\"\n", ""},
        {"\xEF\xBB\xBF" "100 continue\n", ""}, {"800 CONTINUE ButtonChecked=3\n2300 CANCEL\n", ""},
        {"300 CONTINUE EditTextOut=\"C:\\a b\\\"\n", ""},
        {"1100 CONTINUE EditTextOut=" + std::string(30000, 'p') + "\n", ""},
        {"abc CONTINUE\n", "line 1: expected a dialog number, found \"abc\""},
        {"0 CONTINUE\n", "line 1: expected a dialog number"},
        {"70000 CONTINUE\n", "line 1: expected a dialog number"}, {"\"\" CONTINUE\n", "line 1: expected a dialog number"},
        {"123456789012345678901 CONTINUE\n", "line 1: expected a dialog number, found \"123456789012345678901\""},
        {"4242 CONTINUE\n", "line 1: there is no page 4242 in the page library"},
        {"7804 CONTINUE\n", "line 1: page 7804 (\"Please Wait\") is shown without waiting and takes no line"},
        {"100\n", "line 1: missing the event word"},
        {"100 GO-ON\n", "line 1: \"GO-ON\" is not an event word (BACK, CANCEL, CONTINUE or EXIT)"},
        {"300 FLY\n", "line 1: \"FLY\" is not an event word"},
        {"300 CO\n", "line 1: \"CO\" is not an event word"},
        {"100 CONTINUEXXXXXXXXX\n", "is not an event word"},
        {"\n\n100 CONTINUE EditTextOut=\"open\n", "line 3: unterminated quote"},
        {"100 CONTINUE =x=1\n", "line 1: \"=x=1\" is not SYMBOL=value"},
        {"800 CONTINUE ButtonChecked=9\n", "line 1: ButtonChecked=\"9\" is not one of the page's choices 1, 2 or 3"},
        {"800 CONTINUE ButtonChecked=\n", "ButtonChecked=\"\" is not one of the page's choices"},
        {"800 CONTINUE ButtonChecked=1 ButtonChecked=2\n", "line 1: \"ButtonChecked\" is set twice"},
        {"800 CONTINUE EditTextOut=C:\\\n",
         "line 1: page 800 (\"Installation Type\") does not read the symbol \"EditTextOut\"; it reads ButtonChecked only"},
        {"100 CONTINUE ButtonChecked=1\n", "page 100 (\"Welcome\") does not read the symbol \"ButtonChecked\"; it reads none"},
        {"100 CONTINUE X=1\n", "page 100 (\"Welcome\") does not read the symbol \"X\""},
        {"300 CONTINUE EditTextOut=\"a\tb\"\n", "EditTextOut=\"a?b\" holds a control character"},
        {"102 CONTINUE EditTextOut=" + std::string(30001, 'p') + "\n",
         "EditTextOut is 30001 characters long; the field holds at most 30000"},
        {"100 " + huge + "\n", "line 1: \"XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX...\" (4000000 characters) is not an event word"},
        {"300 CONTINUE " + huge + "=1\n", "(4000000 characters); it reads EditTextOut only"},
    };
    for (const auto& c : cases) {
        std::vector<kit::Answer> out;
        std::string err;
        bool ok = kit::parseAnswers(c.text, out, err);
        std::string shown = c.text.substr(0, 60);
        if (!*c.error) {
            EXPECT_TRUE(ok) << shown << ": " << err;
        } else {
            EXPECT_FALSE(ok) << shown;
            EXPECT_NE(err.find(c.error), std::string::npos) << shown << " -> " << err;
            EXPECT_LT(err.size(), 200u) << shown;
        }
    }
    std::vector<kit::Answer> out;
    std::string err;
    // What the recorder writes reads back the same.
    for (std::string v : {"plain", "", "with blank", "C:\\dir\\", "say \"x\"", "q\"uote", "#hash", "a=b"}) {
        ASSERT_TRUE(kit::parseAnswers("300 CONTINUE EditTextOut=" + kit::quoteAnswer(v) + "\n", out, err)) << v << err;
        EXPECT_EQ(out.back().symbols, (std::vector<std::pair<std::string, std::string>>{{"EditTextOut", v}}));
    }
    // What an earlier read left in the list goes.
    ASSERT_TRUE(kit::parseAnswers("\xEF\xBB\xBF" "300 back EditTextOut=\"C:\\a b\\\" # note\n800 EXIT ButtonChecked=2\n",
                                  out, err));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].line, 1);
    EXPECT_EQ(out[0].dialog, 300u);
    EXPECT_EQ(out[0].event, "BACK");
    EXPECT_EQ(out[0].symbols, (std::vector<std::pair<std::string, std::string>>{{"EditTextOut", "C:\\a b\\"}}));
    EXPECT_EQ(out[1].symbols, (std::vector<std::pair<std::string, std::string>>{{"ButtonChecked", "2"}}));
}

// The console front-end over in-memory streams.
struct Console {
    FILE* in;
    char* outBuf = nullptr;
    size_t outLen = 0;
    FILE* out;
    explicit Console(std::string input) : text(std::move(input)) {
        in = fmemopen(text.data(), text.size(), "r");
        out = open_memstream(&outBuf, &outLen);
        kit::setFrontEnd(kit::makeConsoleFrontEnd(in, out, nullptr));
    }
    ~Console() {
        kit::setFrontEnd(nullptr);
        std::fclose(in);
        std::fclose(out);
        free(outBuf);
    }
    std::string output() {
        std::fflush(out);
        return std::string(outBuf, outLen);
    }
    std::string text;
};

TEST_F(KitDialogs, ConsoleBoxesAskForTheButtonAnswersNeverRetry) {
    {
        Console con("r\n\nzz\nn\n");
        EXPECT_EQ(KitMessageBox("in use", "File In Use", MB_RETRYCANCEL), IDRETRY);
        EXPECT_EQ(KitMessageBox("done", "Install", MB_OK), IDOK);
        EXPECT_EQ(KitMessageBox("sure?", "Q", MB_YESNO), IDNO);
        // At the end of the input a box takes its last button.
        EXPECT_EQ(KitMessageBox("again", "File In Use", MB_RETRYCANCEL), IDCANCEL);
        // Input that is not a terminal's is echoed after the prompt, and nothing else follows it.
        EXPECT_NE(con.output().find("[File In Use]\nin use\n  [r] Retry  [c] Cancel   (Enter = Retry)\n> r\n\n[Install]"),
                  std::string::npos) << con.output();
    }
    start("");
    testing::internal::CaptureStdout();
    for (auto [type, button] : {std::pair{MB_OK, IDOK}, {MB_YESNO, IDYES}, {MB_OKCANCEL, IDOK}, {MB_RETRYCANCEL, IDCANCEL}})
        EXPECT_EQ(KitMessageBox("t", "c", type), button) << type;
    testing::internal::GetCapturedStdout();
}

// A help id that names no page offers no help key: "h" is refused like any key not shown, without drawing the page
// again. Back to a choice page shows the choice made there; coming to it forward shows its preselection.
TEST_F(KitDialogs, ConsoleOffersOnlyAHelpThatExistsAndBackShowsTheChoiceMade) {
    // Blanks and a carriage return around an answer do not count; a path longer than a read is taken whole.
    Console con("h\n\n 2 \r\nback\n\n\n" + std::string(1500, 'p') + "\n");
    EXPECT_TRUE(showPage(100, "FWelcomeDlgProc", 9999));
    std::string out = con.output();
    EXPECT_TRUE(out.find("[h] Help") == std::string::npos && out.find("Please choose one of the keys shown.") != std::string::npos &&
                out.find("== Welcome ==") == out.rfind("== Welcome ==")) << out;
    FSetSymbolValue("RadioDefault", "1");
    std::string checked;
    for (UINT page : {800u, 300u, 800u, 800u})  // a page that fails leaves a letter out or the wrong one
        if (showPage(page, page == 800 ? "FInstallTypeDlgProc" : "FChoosePathDlgProc") && page == 800)
            checked += symbol("ButtonChecked");
    EXPECT_EQ(checked, "221");
    EXPECT_TRUE(showPage(300, "FChoosePathDlgProc") && kit::symbols().value("EditTextOut") == std::string(1500, 'p'));
}

// The gauge on a pipe keeps to $COLUMNS less the last column (a width under 20 is not taken); the drive list shows
// a free-space figure only where there is one.
TEST_F(KitDialogs, ConsoleTextsKeepToTheirWidth) {
    start("");
    const kit::Gauge g{1, 1, 10, 10, "a-file-name-long-enough-to-be-cut.dll"};
    std::string lines;
    for (const char* columns : {"30", "5"}) {
        ::setenv("COLUMNS", columns, 1);
        Console con("");
        kit::frontEnd().progress(g);
        lines += std::to_string(con.output().size()) + " ";
    }
    ::unsetenv("COLUMNS");
    EXPECT_EQ(lines, "30 80 ");  // 29 or 79 characters and the line break
    // A line exactly as wide as the terminal is cut too: the last column stays free.
    const kit::Gauge small{1, 1, 10, 10, "a.dll"};
    std::string full = "  " + kit::gaugeLine(small, 10) + "  a.dll";
    ::setenv("COLUMNS", std::to_string(full.size()).c_str(), 1);
    {
        Console con("");
        kit::frontEnd().progress(small);
        EXPECT_EQ(con.output(), full.substr(0, full.size() - 1) + "\n");
    }
    ::unsetenv("COLUMNS");
    // Without sizes the files make the bar.
    EXPECT_EQ(kit::gaugeLine({1, 4, 0, 0, ""}, 8).substr(0, 15), "[##......]  25%");
    {
        // On a pipe, a line for each tenth and the last: files 1 and 2 of 100 share the first tenth.
        Console con("");
        for (unsigned f : {1u, 2u, 100u}) kit::frontEnd().progress({f, 100, 0, 0, ""});
        std::string out = con.output();
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    }
    FAddListItem("Disk Drives", "C:");
    FAddListItem("Disk Drives", "D:");
    FAddListItem("Available Space", "100 KB");
    std::string page = kit::describePage({kit::findPage(300), 300, "FChoosePathDlgProc", 0});
    EXPECT_NE(page.find("  Drive      Free space\n  C:  100 KB\n  D:\n"), std::string::npos) << page;
}

// On a terminal, an answer read leaves Ctrl-C free to arrive while setup works; the gauge is one line drawn again in
// place, where blanks cover only what a longer drawing before left.
TEST_F(KitDialogs, ConsoleOnATerminal) {
    int master = -1, slave = -1;
    struct winsize ws {10, 100, 0, 0};
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    FILE *tty = ::fdopen(slave, "w"), *keys = ::fdopen(::dup(slave), "r");
    Console con("");
    kit::setFrontEnd(kit::makeConsoleFrontEnd(keys, con.out, nullptr));
    ASSERT_EQ(::write(master, "\n", 1), 1);
    EXPECT_EQ(KitMessageBox("t", "c", MB_OK), IDOK);
    sigset_t blocked;
    ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
    EXPECT_FALSE(sigismember(&blocked, SIGINT));
    std::fclose(keys);
    kit::setFrontEnd(kit::makeConsoleFrontEnd(con.in, tty, nullptr));
    kit::frontEnd().progress({1, 3, 0, 0, "a-long-name.dll"});
    kit::frontEnd().progress({2, 3, 0, 0, "b.dll"});
    kit::setFrontEnd(nullptr);
    std::fclose(tty);
    std::string shown;  // what the terminal got: read until the closed side has nothing more
    char buf[512];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) shown.append(buf, (std::size_t)n);
    ::close(master);
    // The terminal's echo of the answer, then the two drawings, each after a carriage return.
    ASSERT_TRUE(shown.starts_with("\r\n\r") && std::count(shown.begin(), shown.end(), '\r') == 3) << shown;
    std::size_t mid = shown.rfind('\r');
    std::string first = shown.substr(3, mid - 3), second = shown.substr(mid + 1);
    EXPECT_TRUE(first.ends_with("a-long-name.dll") && second.starts_with("  [#") &&
                second.size() == first.size() && second.ends_with("b.dll          "))
        << "[" << first << "][" << second << "]";
}

// So does input that cannot be read: the read is not tried again.
TEST_F(KitDialogsDeathTest, ConsoleInputEndingStopsTheRun) {
    Console con("");
    EXPECT_EXIT(showPage(100, "FWelcomeDlgProc"), testing::ExitedWithCode(2), "input ended while page 100");
    FILE* unreadable = std::fopen("/dev/null", "w");
    kit::setFrontEnd(kit::makeConsoleFrontEnd(unreadable, con.out, nullptr));
    EXPECT_EXIT(showPage(100, "FWelcomeDlgProc"), testing::ExitedWithCode(2), "input ended while page 100");
    std::fclose(unreadable);
}

}  // namespace
