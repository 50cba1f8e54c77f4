// The console front-end as a person meets it: build/bin/setup in a
// pseudo-terminal, answered key by key, on a fresh machine.
#include "helpers.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>

namespace {

using namespace kittest;
namespace fs = std::filesystem;

fs::path bin(const char* name) { return fs::path(BIN_DIR) / name; }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// setup running on the slave side of a pseudo-terminal 60 columns wide.
class Terminal {
public:
    Terminal(const fs::path& machine, const fs::path& log) {
        struct winsize ws {};
        ws.ws_row = 40;
        ws.ws_col = 60;
        pid_ = forkpty(&master_, nullptr, nullptr, &ws);
        if (pid_ == 0) {
            ::unsetenv("COLUMNS");
            if (::chdir((fs::path(SOURCE_ROOT) / "dist").c_str()) != 0) ::_exit(126);
            std::string setup = bin("setup").string(), m = machine.string(), l = log.string();
            ::execl(setup.c_str(), setup.c_str(), "--machine", m.c_str(), "--log", l.c_str(), (char*)nullptr);
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    bool started() const { return pid_ > 0; }

    // Reads until `text` shows up after what earlier waits consumed; false
    // when the program stops talking first.
    bool waitFor(const std::string& text) {
        for (;;) {
            std::size_t at = screen_.find(text, consumed_);
            if (at != std::string::npos) {
                consumed_ = at + text.size();
                return true;
            }
            if (!readSome()) return false;
        }
    }
    void type(const std::string& keys) { ASSERT_EQ(::write(master_, keys.data(), keys.size()), (ssize_t)keys.size()); }

    // Reads to the end and returns the exit code (-1: killed by a signal).
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
        std::string text = std::regex_replace(screen_, std::regex("\x1b\\[K"), "");
        text = std::regex_replace(text, std::regex("\r\n"), "\n");
        std::string out;
        for (const std::string& l : lines(text)) out += l.substr(l.rfind('\r') == std::string::npos ? 0 : l.rfind('\r') + 1) + "\n";
        return out;
    }

private:
    bool readSome() {
        struct pollfd p {master_, POLLIN, 0};
        // A guard against a program that hangs, not a measure of speed.
        if (::poll(&p, 1, 30000) <= 0) return false;
        char buf[4096];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) return false;
        screen_.append(buf, (std::size_t)n);
        return true;
    }
    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string screen_;
    std::size_t consumed_ = 0;
};

fs::path newMachine(const std::string& name) {
    fs::path dir = tempDir(name);
    std::string cmd = "'" + bin("winsim").string() + "' new '" + (dir / "machine").string() +
                      "' --os nt351 --arch x86 --user admin >/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return dir;
}

// What the screen must show, in order, before the keys are typed.
struct Step {
    std::vector<std::string> see;
    std::string keys;
};

// Plays the steps; false (with the failure recorded) at the first text
// that does not show up.
bool play(Terminal& t, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        for (const std::string& text : step.see)
            if (!t.waitFor(text)) {
                ADD_FAILURE() << "\"" << text << "\" not shown; the screen:\n" << t.screen();
                return false;
            }
        t.type(step.keys);
    }
    return true;
}

const std::string kDestination = "Path [C:\\win32app\\vrdpsmon]: ";

// One interactive installation: the choice kept across Back, help and
// back to its page, Ctrl-C to the quit confirmation and on, a typed path,
// the gauge, and the closing line; the text wrapped to the terminal.
TEST(KitConsoleTerminal, InteractiveInstallation) {
    ASSERT_TRUE(fs::exists(bin("setup")) && fs::exists(bin("winsim"))) << "setup and winsim must be built";
    fs::path dir = newMachine("console-pty");
    Terminal t(dir / "machine", dir / "setup.log");
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(play(t, {
                            {{"== Welcome ==", "\n> "}, "\r"},  // Enter: Continue
                            {{"(*) 1  Install everything", "> "}, "2\r"},
                            {{kDestination}, "b\r"},  // Back: the second choice is still the one marked
                            {{"( ) 1  Install everything", "(*) 2  Install with", "> "}, "\r"},
                            {{kDestination}, "h\r"},              // help; any answer there returns to the page
                            {{"== Help ==", "> "}, "c\r"},
                            {{"== Destination Directory ==", kDestination}, "\x03"},  // Ctrl-C: cancel
                            {{"== Quit Setup ==", "> "}, "c\r"},                      // resume
                            {{kDestination}, "c:\\Varden Apps\r"},                    // typed at the prompt
                            {{"== Windows NT Files ==", "Path ["}, "\r"},             // the path offered
                            {{"== Printer Setup Wizard ==", "> "}, "q\r"},
                            {{"== Help ==", "> "}, "q\r"},
                            {{"== Installation Complete ==", "> "}, "\r"},
                        }));
    int code = t.finish();
    std::string shown = t.screen();
    EXPECT_EQ(code, 0) << shown;
    EXPECT_NE(shown.find("The software was installed. Exit code 0."), std::string::npos) << shown;
    // The gauge ends full, with the files and bytes of the whole copy.
    EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\[#+\] 100%  (\d+) of \1 files, (\d+) of \2 KB)")))
        << shown;
    // Words stay whole and no line passes the terminal's 60 columns.
    EXPECT_NE(shown.find("This program installs or removes the Varden network\n"), std::string::npos) << shown;
    for (const std::string& l : lines(shown)) EXPECT_LE(l.size(), 60u) << l;

    std::vector<std::string> log = lines(readFile(dir / "setup.log"));
    std::vector<std::string> pages;
    for (const std::string& l : log)
        if (l.rfind("page ", 0) == 0) pages.push_back(l.substr(5));
    EXPECT_EQ(pages, (std::vector<std::string>{
                         "100 FWelcomeDlgProc CONTINUE", "800 FInstallTypeDlgProc CONTINUE",
                         "300 FChoosePathDlgProc BACK", "800 FInstallTypeDlgProc CONTINUE",
                         "300 FChoosePathDlgProc CANCEL", "200 FQuitDlgProc CONTINUE",
                         "300 FChoosePathDlgProc CONTINUE", "1100 FEditDlgProc CONTINUE", "1200 FInfoDlgProc CANCEL",
                         "1400 FInfoDlgProc CANCEL", "700 FInfoDlgProc CONTINUE"}))
        << readFile(dir / "setup.log");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "result installed restart=no");
    EXPECT_EQ(log.back(), "exit 0");
    // The typed path is where the utilities went.
    EXPECT_TRUE(fs::exists(dir / "machine" / "drives" / "C" / "Varden Apps" / "utility")) << shown;
}

// Ctrl-C twice: the first is the page's cancel, the second ends the run
// at once, and the installation already made is dropped with the rest.
TEST(KitConsoleTerminal, SecondCtrlCEndsAtOnceWithTheImageUntouched) {
    ASSERT_TRUE(fs::exists(bin("setup")) && fs::exists(bin("winsim"))) << "setup and winsim must be built";
    fs::path dir = newMachine("console-pty-abandon");
    fs::copy(dir / "machine", dir / "before", fs::copy_options::recursive);
    Terminal t(dir / "machine", dir / "setup.log");
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(play(t, {
                            {{"== Welcome ==", "> "}, "\r"},
                            {{"> "}, "1\r"},
                            {{"Path ["}, "\r"},
                            {{"== Printer Setup Wizard ==", "> "}, "\x03"},  // cancel: no wizard
                            {{"== Help ==", "> "}, "\x03"},
                        }));
    EXPECT_EQ(t.finish(), 130) << t.screen();
    std::string shown = t.screen();
    EXPECT_NE(shown.find("the machine is as it was"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Setup was cancelled. Exit code 130."), std::string::npos) << shown;

    std::vector<std::string> log = lines(readFile(dir / "setup.log"));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "page 1200 FInfoDlgProc CANCEL");
    EXPECT_EQ(log[log.size() - 2], "result cancelled restart=no");
    EXPECT_EQ(log.back(), "exit 130");
    std::string diff = "'" + bin("winsim").string() + "' diff '" + (dir / "before").string() + "' '" +
                       (dir / "machine").string() + "' >'" + (dir / "diff.txt").string() + "' 2>&1";
    EXPECT_EQ(std::system(diff.c_str()), 0) << readFile(dir / "diff.txt");
}

}  // namespace
