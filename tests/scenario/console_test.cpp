// The console front-end as a person meets it: the whole setup in a
// pseudo-terminal 60 columns wide, answered key by key; what it records
// replays to the same run.
#include "scenario/harness.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

namespace {

using namespace scenario;

// setup on the slave side of a pseudo-terminal 60 columns wide.
class Terminal {
public:
    // interruptBlocked: started with Ctrl-C blocked, as a parent may leave it.
    Terminal(const Scenario& s, std::vector<std::string> args = {}, bool interruptBlocked = false) {
        struct winsize ws {40, 60, 0, 0};
        args.insert(args.begin(), {(binDir() / "setup").string(), "--machine", s.machineDir().string(), "--log",
                                   (s.root() / "run.log").string()});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = forkpty(&master_, nullptr, nullptr, &ws);
        if (pid_ == 0) {
            ::unsetenv("COLUMNS");
            if (interruptBlocked) {
                sigset_t interrupt;
                sigemptyset(&interrupt);
                sigaddset(&interrupt, SIGINT);
                ::sigprocmask(SIG_BLOCK, &interrupt, nullptr);
            }
            if (::chdir(s.distDir().c_str()) == 0) ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !exited_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        if (master_ >= 0) ::close(master_);
    }
    // Each step waits for its texts to show up in order (after what earlier
    // waits consumed), then types its keys; false at the first that does not.
    struct Step {
        Lines see;
        std::string keys;
    };
    bool play(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            for (const std::string& text : step.see) {
                while (screen_.find(text, consumed_) == std::string::npos)
                    if (!readSome()) {
                        ADD_FAILURE() << "\"" << text << "\" not shown; the screen:\n" << screen();
                        return false;
                    }
                consumed_ = screen_.find(text, consumed_) + text.size();
            }
            if (::write(master_, step.keys.data(), step.keys.size()) != (ssize_t)step.keys.size()) return false;
        }
        return true;
    }
    // Reads to the end; the exit code (-1: killed by a signal).
    int finish() {
        while (readSome()) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // What is left on the screen: a line redrawn after a carriage return
    // shows its last drawing; terminal controls removed.
    std::string screen() const {
        std::string text = std::regex_replace(std::regex_replace(screen_, std::regex("\x1b\\[K"), ""), std::regex("\r\n"), "\n");
        std::string out;
        for (const std::string& l : splitLines(text)) out += l.substr(l.rfind('\r') == std::string::npos ? 0 : l.rfind('\r') + 1) + "\n";
        return out;
    }

private:
    bool readSome() {  // false at the end, or after 30 s without output (a guard against a hang)
        struct pollfd p {master_, POLLIN, 0};
        char buf[4096];
        ssize_t n = pid_ > 0 && ::poll(&p, 1, 30000) > 0 ? ::read(master_, buf, sizeof buf) : 0;
        if (n > 0) screen_.append(buf, (std::size_t)n);
        return n > 0;
    }
    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string screen_;
    std::size_t consumed_ = 0;
};

const std::string kDestination = "Path [C:\\win32app\\vrdpsmon]: ";

// One interactive installation: a key that is not offered, help and back
// to its page, the choice kept across Back, Ctrl-C to the quit
// confirmation and on, a typed path, the gauge and the closing line; the
// text wrapped to the terminal. The answers it records replay on another
// machine to the same log.
TEST(ConsoleTerminal, InteractiveInstallationRecordedAndReplayed) {
    Scenario s("console-pty"), again("console-replay");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    ASSERT_TRUE(again.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << again.error;
    fs::path recorded = s.root() / "recorded.ans";
    Terminal t(s, {"--record", recorded.string()});
    ASSERT_TRUE(t.play({
        {{"== Welcome ==", "[c] Continue (Enter)", "Exit setup\r\n     [h] Help\r\n> "}, "\r"},  // keys wrapped
        {{"(*) 1  Install everything", "> "}, "what\r"},
        {{"Please choose one of the keys shown.", "> "}, "h\r"},  // help; any answer there returns to the page
        {{"== Help ==", "> "}, "c\r"},
        {{"== Installation Type ==", "> "}, "2\r"},
        {{"  [-c-]     262144 Kb", "Type a path and press Enter", kDestination}, "b\r"},  // Back: the second choice is still the one marked
        {{"( ) 1  Install everything", "(*) 2  Install with", "> "}, "\r"},
        {{"== Destination Directory ==", kDestination}, "\x03"},  // Ctrl-C: cancel
        {{"\r\n\r\n== Quit Setup ==", "> "}, "c\r"},              // resume
        {{kDestination}, "c:\\Varden Apps\r"},                    // typed at the prompt
        {{"== Windows NT Files ==", "Path ["}, "\r"},             // the path offered
        {{"== Printer Setup Wizard ==", "> "}, "q\r"},
        {{"== Help ==", "> "}, "q\r"},
        {{"== Installation Complete ==", "> "}, "\r"},
    }));
    EXPECT_EQ(t.finish(), 0) << t.screen();
    std::string shown = t.screen();
    EXPECT_NE(shown.find("The software was installed. Exit code 0."), std::string::npos) << shown;
    // The gauge ends full, with the files and bytes of the whole copy.
    EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\[#+\] 100%  (\d+) of \1 files, (\d+) of \2 KB)"))) << shown;
    // Words stay whole and no line passes the terminal's 60 columns.
    EXPECT_NE(shown.find("This program installs or removes the Varden network\n"), std::string::npos) << shown;
    for (const std::string& l : splitLines(shown)) EXPECT_LE(l.size(), 60u) << l;

    // The pages shown are those of the recorded answers, which replay to the same log.
    Lines log = splitLines(readText(s.root() / "run.log"));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Lines(log.end() - 2, log.end()), (Lines{"result installed restart=no", "exit 0"}));
    EXPECT_TRUE(s.exists("C:\\Varden Apps\\utility")) << "the typed path is where the utilities went";
    std::string answers = readText(recorded);
    EXPECT_EQ(answers, "# answers recorded by setup --record\n100 CONTINUE\n800 CONTINUE ButtonChecked=2\n300 BACK\n"
                       "800 CONTINUE ButtonChecked=2\n300 CANCEL\n200 CONTINUE\n300 CONTINUE EditTextOut=\"c:\\Varden Apps\"\n"
                       "1100 CONTINUE EditTextOut=E:\\I386\n1200 CANCEL\n1400 CANCEL\n700 CONTINUE\n");
    RunResult replay = again.run(answers);
    EXPECT_EQ(replay.log, log) << replay.describe();
}

// Ctrl-C twice: the first is the page's cancel, the second ends the run
// at once, and the installation already made is dropped with the rest.
// Setup is started with Ctrl-C blocked: it still reaches a page waiting
// for its answer.
TEST(ConsoleTerminal, SecondCtrlCEndsAtOnceWithTheImageUntouched) {
    Scenario s("console-pty-abandon");
    ASSERT_TRUE(s.newMachine({"--os", "nt351", "--arch", "x86", "--user", "admin"})) << s.error;
    fs::path before = s.snapshot();
    Terminal t(s, {}, true);
    ASSERT_TRUE(t.play({
        {{"== Welcome ==", "> "}, "\x03"},
        {{"== Quit Setup ==", "> "}, "c\r"},
        {{"== Welcome ==", "> "}, "\r"},
        {{"> "}, "1\r"},
        {{"Path ["}, "\r"},
        {{"== Printer Setup Wizard ==", "> "}, "\x03"},  // cancel: no wizard
        {{"== Help ==", "> "}, "\x03"},
    }));
    EXPECT_EQ(t.finish(), 130) << t.screen();
    EXPECT_NE(t.screen().find("the machine is as it was"), std::string::npos) << t.screen();
    EXPECT_NE(t.screen().find("Setup was cancelled. Exit code 130."), std::string::npos) << t.screen();
    Lines log = splitLines(readText(s.root() / "run.log"));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(Lines(log.end() - 3, log.end()), (Lines{"page 1200 FInfoDlgProc CANCEL", "result cancelled restart=no", "exit 130"}));
    std::string diff;
    EXPECT_EQ(s.winsim({"diff", before.string(), s.machineDir().string()}, &diff), 0) << diff;
}

}  // namespace
