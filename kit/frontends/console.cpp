// The console front-end: each page is printed with its title, its text
// wrapped to the terminal, its controls with their current values and one
// line of keys, and answered from the terminal (or a pipe). With --record,
// every answer is also written as a line of an answers file that replays
// the run.
//
// Ctrl-C answers the page shown with its cancel, which leads to the quit
// confirmation; a second Ctrl-C before the user answers anything else ends
// the run at once (abandonRun).
#include "../internal.h"

#include <setupkit.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>

#ifndef _WIN32
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>
#else
#include <io.h>
#endif

namespace kit {

namespace {

volatile std::sig_atomic_t interrupts = 0;
volatile std::sig_atomic_t answered = 0;  // presses a page has taken as its cancel

void onInterrupt(int) {
    interrupts = interrupts + 1;
    // The run did not react to two presses (it is busy, not reading): a
    // third ends the process here and now; nothing is saved.
    if (interrupts - answered >= 3) std::_Exit(130);
#ifdef _WIN32
    std::signal(SIGINT, onInterrupt);
#endif
}

bool isTerminal(FILE* f) {
    int fd = f ? fileno(f) : -1;
#ifdef _WIN32
    return fd >= 0 && _isatty(fd);
#else
    return fd >= 0 && isatty(fd);
#endif
}

// Columns to wrap at: $COLUMNS, else the terminal's width, else 80 (a
// pipe or a file).
std::size_t columnsFor(FILE* out) {
    if (const char* env = std::getenv("COLUMNS")) {
        char* end = nullptr;
        long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n >= 20 && n <= 1000) return (std::size_t)n;
    }
#ifndef _WIN32
    struct winsize ws {};
    if (isTerminal(out) && ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20) return ws.ws_col;
#else
    (void)out;
#endif
    return 80;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
    return s.substr(b);
}

std::string upperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = (char)(c - 32);
    return s;
}

// The keys of a page, two blanks apart, broken between keys only.
std::string keyLines(const std::vector<std::string>& keys, std::size_t width) {
    std::string out, line;
    for (const std::string& k : keys) {
        if (!line.empty() && line.size() + 2 + k.size() > width - 1) {
            out += line + "\n";
            line = "     ";
        }
        if (!line.empty() && line != "     ") line += "  ";
        line += k;
    }
    return out + line + "\n";
}

enum class Read { Line, End, Interrupt };

class ConsoleFrontEnd : public FrontEnd {
public:
    ConsoleFrontEnd(FILE* in, FILE* out, FILE* record)
        : in_(in), out_(out), record_(record), echo_(!isTerminal(in)), tty_(isTerminal(out)) {}
    ~ConsoleFrontEnd() override {
        if (record_) std::fclose(record_);
    }

    std::string answer(const PageCall& call) override {
        const Page& p = *call.page;
        bool radio = p.control == Control::Radio;
        bool edit = p.control == Control::Edit || p.control == Control::DrivesAndEdit;
        bool help = call.helpId && findPage(call.helpId);
        // Back from the page after a choice page shows that choice again
        // rather than the page's preselection.
        if (radio && lastEvent_ == "BACK") {
            auto kept = choices_.find(call.id);
            if (kept != choices_.end()) symbols().set("ButtonChecked", kept->second);
        }
        std::vector<std::string> keys = {"Keys:"};
        if (radio) keys.push_back("[1] [2] [3] choose and continue");
        for (std::size_t i = 0; i < p.buttons.size(); ++i)
            keys.push_back(std::string("[") + p.buttons[i].key + "] " + p.buttons[i].label + (i == 0 ? " (Enter)" : ""));
        if (help) keys.push_back("[h] Help");
        bool redraw = true;
        for (;;) {
            std::size_t width = columnsFor(out_);
            if (redraw) std::fprintf(out_, "\n%s", describePage(call, width).c_str());
            redraw = false;
            if (edit) {
                std::fprintf(out_, "%s", wrapText("Type a path and press Enter, or press Enter alone to keep the one shown.", width).c_str());
            }
            std::fprintf(out_, "%s", keyLines(keys, width).c_str());
            if (edit)
                std::fprintf(out_, "Path [%s]: ", symbols().value("EditTextIn").c_str());
            else
                std::fprintf(out_, "> ");
            std::fflush(out_);
            std::string line;
            Read got = readLine(line);
            if (got == Read::End) stopRun(2, "input ended while page " + std::to_string(call.id) + " was shown");
            std::string event;
            std::vector<std::pair<std::string, std::string>> outputs;
            if (got == Read::Interrupt) {
                noteInterrupt();
                event = "CANCEL";
            } else {
                line = trimmed(line);
                std::string up = upperAscii(line);
                if (line.empty() && !p.buttons.empty()) {
                    event = p.buttons[0].event;
                } else if (radio && (line == "1" || line == "2" || line == "3")) {
                    symbols().set("ButtonChecked", line);
                    event = "CONTINUE";
                } else if ((line == "h" || line == "H") && help) {
                    showHelp(call);
                    redraw = true;
                    continue;
                } else {
                    for (const Button& b : p.buttons)
                        if ((line.size() == 1 && (line[0] | 0x20) == b.key) || up == upperAscii(b.label))
                            event = b.event;
                    if (event.empty() && (up == "BACK" || up == "CANCEL" || up == "CONTINUE" || up == "EXIT"))
                        event = up;
                    // Anything else typed on a page with a text field is
                    // the text: it is taken as typed and the page goes on.
                    if (event.empty() && edit) {
                        symbols().set("EditTextOut", line);
                        event = "CONTINUE";
                    }
                }
                if (event.empty()) {
                    std::fprintf(out_, "Please choose one of the keys shown.\n");
                    continue;
                }
            }
            if (event == "CONTINUE" && radio) {
                outputs.emplace_back("ButtonChecked", symbols().value("ButtonChecked"));
                choices_[call.id] = symbols().value("ButtonChecked");
            }
            if (event == "CONTINUE" && edit) outputs.emplace_back("EditTextOut", symbols().value("EditTextOut"));
            lastEvent_ = event;
            record(call.id, event, outputs);
            return event;
        }
    }

    void showModeless(const PageCall& call) override {
        std::fprintf(out_, "\n%s", describePage(call, columnsFor(out_)).c_str());
        std::fflush(out_);
    }

    int messageBox(const char* text, const char* caption, UINT type) override {
        std::fprintf(out_, "\n[%s]\n%s", caption, wrapText(text, columnsFor(out_)).c_str());
        struct Choice {
            char key;
            const char* label;
            int id;
        };
        std::vector<Choice> choices;
        switch (type & 0xf) {
        case MB_OKCANCEL: choices = {{'o', "OK", IDOK}, {'c', "Cancel", IDCANCEL}}; break;
        case MB_ABORTRETRYIGNORE:
            choices = {{'a', "Abort", IDABORT}, {'r', "Retry", IDRETRY}, {'i', "Ignore", IDIGNORE}};
            break;
        case MB_YESNOCANCEL: choices = {{'y', "Yes", IDYES}, {'n', "No", IDNO}, {'c', "Cancel", IDCANCEL}}; break;
        case MB_YESNO: choices = {{'y', "Yes", IDYES}, {'n', "No", IDNO}}; break;
        case MB_RETRYCANCEL: choices = {{'r', "Retry", IDRETRY}, {'c', "Cancel", IDCANCEL}}; break;
        default: choices = {{'o', "OK", IDOK}}; break;
        }
        for (;;) {
            for (auto& c : choices) std::fprintf(out_, "  [%c] %s", c.key, c.label);
            std::fprintf(out_, "   (Enter = %s)\n> ", choices[0].label);
            std::fflush(out_);
            std::string line;
            // Without input the box is closed with its safest answer: the
            // last button (Cancel, No, Ignore) or OK; Ctrl-C does the same.
            Read got = readLine(line);
            if (got == Read::Interrupt) noteInterrupt();
            if (got != Read::Line) return choices.back().id;
            line = trimmed(line);
            if (line.empty()) return choices[0].id;
            for (auto& c : choices)
                if ((line[0] | 0x20) == c.key) return c.id;
        }
    }

    void progress(const Gauge& g) override {
        std::uint64_t done = g.totalBytes ? g.bytes : g.files;
        std::uint64_t total = g.totalBytes ? g.totalBytes : g.totalFiles;
        unsigned tenth = total ? (unsigned)(done * 10 / total) : 10;
        bool end = g.files == g.totalFiles;
        // A pipe or a file gets a line per tenth, and the last one.
        if (!tty_ && !end && tenth == lastTenth_) return;
        std::size_t width = columnsFor(out_);
        // The bar gives way to the figures on a narrow terminal.
        std::size_t bar = width > 65 ? 20 : width > 55 ? width - 45 : 10;
        std::string line = "  " + gaugeLine(g, bar);
        if (*g.name) line += "  " + std::string(g.name);
        if (line.size() > width - 1) line.resize(width - 1);
        if (tty_) {
            // One line redrawn in place; blanks cover what a longer line
            // before left (no terminal controls: the Windows console has
            // none).
            std::size_t cover = gaugeWidth_ > line.size() ? gaugeWidth_ - line.size() : 0;
            std::fprintf(out_, "\r%s%s%s", line.c_str(), std::string(cover, ' ').c_str(), end ? "\n" : "");
            gaugeWidth_ = end ? 0 : line.size();
        } else {
            std::fprintf(out_, "%s\n", line.c_str());
        }
        lastTenth_ = end ? ~0u : tenth;
        std::fflush(out_);
    }

private:
    // A terminal echoes Ctrl-C itself; elsewhere it is shown here.
    void noteInterrupt() {
        std::fprintf(out_, "%s", echo_ ? "^C\n" : "\n");
        std::fflush(out_);
    }

    // The help page of a page, until the user is done reading it; then the
    // page underneath is shown again.
    void showHelp(const PageCall& call) {
        PageCall help{findPage(call.helpId), call.helpId, "FHelpDlgProc", 0};
        std::size_t width = columnsFor(out_);
        std::fprintf(out_, "\n%s", describePage(help, width).c_str());
        std::fprintf(out_, "Keys:  [Enter] Back to \"%s\"\n> ", call.page->title);
        std::fflush(out_);
        std::string ignored;
        Read got = readLine(ignored);
        if (got == Read::End) stopRun(2, "input ended while the help of page " + std::to_string(call.id) + " was shown");
        if (got == Read::Interrupt) noteInterrupt();
    }

    // Waits until the terminal has input; false when Ctrl-C came first.
    // Ctrl-C is held back between the check of the count and the wait, and
    // let through only while waiting, so that one pressed just before the
    // read starts is not lost in a read that then waits for a line. Piped
    // input needs no wait: Ctrl-C comes from a terminal.
    bool waitForInput() {
#ifndef _WIN32
        int fd = ::fileno(in_);
        if (!::isatty(fd)) return true;
        sigset_t interrupt, waiting;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        sigprocmask(SIG_BLOCK, &interrupt, &waiting);
        bool ready = true;
        if (interruptCount() > handled_) {
            ready = false;
        } else {
            sigdelset(&waiting, SIGINT);
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(fd, &fds);
            // Only Ctrl-C ends the wait unread; the read itself reports any other failure.
            ready = ::pselect(fd + 1, &fds, nullptr, nullptr, nullptr, &waiting) > 0 || errno != EINTR;
        }
        sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
        return ready;
#else
        return true;
#endif
    }

    // One line of input. Ctrl-C while waiting (or since the last read)
    // gives Interrupt; a second one before anything else was answered
    // ends the run at once.
    Read readLine(std::string& line) {
        line.clear();
        char buf[1024];
        for (;;) {
            unsigned seen = interruptCount();
            if (seen > handled_) {
                unsigned fresh = seen - handled_;
                handled_ = seen;
                answered = (std::sig_atomic_t)seen;
                if (fresh >= 2 || armed_) {
                    noteInterrupt();
                    std::fflush(out_);
                    abandonRun();
                }
                armed_ = true;
                return Read::Interrupt;
            }
            if (line.empty() && !waitForInput()) continue;  // Ctrl-C while waiting
            errno = 0;
            if (std::fgets(buf, sizeof buf, in_)) {
                line += buf;
                if (!line.empty() && line.back() == '\n') break;
                continue;
            }
            if (std::ferror(in_) && (errno == EINTR || interruptCount() > handled_)) {
                std::clearerr(in_);
                continue;
            }
#ifdef _WIN32
            // The console ends a read at Ctrl-C before the handler, which
            // runs in a thread of its own, has counted it.
            if (line.empty() && interruptCount() == handled_) Sleep(100);
#endif
            if (interruptCount() > handled_) {
                std::clearerr(in_);
                continue;
            }
            if (line.empty()) return Read::End;
            break;
        }
        armed_ = false;
        if (echo_) {
            // Input from a pipe is not echoed by a terminal: show it, so
            // that a transcript reads like the session it was.
            std::fprintf(out_, "%s%s", line.c_str(), line.back() == '\n' ? "" : "\n");
            std::fflush(out_);
        }
        return Read::Line;
    }

    void record(UINT id, const std::string& event, const std::vector<std::pair<std::string, std::string>>& outputs) {
        if (!record_) return;
        std::string s = std::to_string(id);
        s += ' ';
        s += event;
        for (auto& [k, v] : outputs) {
            s += ' ';
            s += quoteAnswer(k);
            s += '=';
            s += quoteAnswer(v);
        }
        std::fprintf(record_, "%s\n", s.c_str());
        std::fflush(record_);
    }

    FILE* in_;
    FILE* out_;
    FILE* record_;
    bool echo_;
    bool tty_;
    unsigned lastTenth_ = ~0u;
    std::size_t gaugeWidth_ = 0;  // the gauge line on the terminal now
    std::string lastEvent_;
    std::map<UINT, std::string> choices_;  // the choice made on each choice page
    unsigned handled_ = interruptCount();
    bool armed_ = false;  // the last answer was a Ctrl-C: another one ends the run
};

}  // namespace

void catchInterrupts() {
#ifndef _WIN32
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a read waiting for the user returns
    sigaction(SIGINT, &sa, nullptr);
#else
    std::signal(SIGINT, onInterrupt);
#endif
}

unsigned interruptCount() { return (unsigned)interrupts; }

std::unique_ptr<FrontEnd> makeConsoleFrontEnd(FILE* in, FILE* out, FILE* record) {
    return std::make_unique<ConsoleFrontEnd>(in, out, record);
}

}  // namespace kit
