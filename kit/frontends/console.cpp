// The console front-end: each page is printed with its title, text,
// controls and the keys of its buttons, and answered from the terminal
// (or a pipe). With --record, every answer is also written as a line of an
// answers file that replays the run.
#include "../internal.h"

#include <setupkit.h>

namespace kit {

namespace {

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

class ConsoleFrontEnd : public FrontEnd {
public:
    ConsoleFrontEnd(FILE* in, FILE* out, FILE* record) : in_(in), out_(out), record_(record) {}
    ~ConsoleFrontEnd() override {
        if (record_) std::fclose(record_);
    }

    std::string answer(const PageCall& call) override {
        const Page& p = *call.page;
        std::fprintf(out_, "\n%s", describePage(call).c_str());
        std::string keys;
        for (const Button& b : p.buttons) keys += std::string("  [") + b.key + "] " + b.label;
        if (call.helpId && findPage(call.helpId)) keys += "  [h] Help";
        bool radio = p.control == Control::Radio;
        bool edit = p.control == Control::Edit || p.control == Control::DrivesAndEdit;
        for (;;) {
            if (radio) std::fprintf(out_, "Choice: %s  (type 1, 2 or 3 to choose and continue)\n",
                                    symbols().value("ButtonChecked").c_str());
            std::fprintf(out_, "%s\n> ", keys.c_str());
            std::fflush(out_);
            std::string line;
            if (!readLine(line)) stopRun(2, "input ended while page " + std::to_string(call.id) + " was shown");
            line = trimmed(line);
            std::string event;
            if (line.empty() && !p.buttons.empty()) {
                event = p.buttons[0].event;
            } else if (radio && (line == "1" || line == "2" || line == "3")) {
                symbols().set("ButtonChecked", line);
                event = "CONTINUE";
            } else if ((line == "h" || line == "H") && call.helpId && findPage(call.helpId)) {
                PageCall help{findPage(call.helpId), call.helpId, "FHelpDlgProc", 0};
                std::fprintf(out_, "\n%s", describePage(help).c_str());
                continue;
            } else {
                std::string up = upperAscii(line);
                for (const Button& b : p.buttons)
                    if ((line.size() == 1 && (line[0] | 0x20) == b.key) || up == upperAscii(b.label)) event = b.event;
                if (event.empty() && (up == "BACK" || up == "CANCEL" || up == "CONTINUE" || up == "EXIT")) event = up;
            }
            if (event.empty()) {
                std::fprintf(out_, "Please choose one of the keys shown.\n");
                continue;
            }
            std::vector<std::pair<std::string, std::string>> outputs;
            if (event == "CONTINUE" && radio) outputs.emplace_back("ButtonChecked", symbols().value("ButtonChecked"));
            if (event == "CONTINUE" && edit) {
                std::string shown = symbols().value("EditTextIn");
                std::fprintf(out_, "Path [%s]: ", shown.c_str());
                std::fflush(out_);
                std::string typed;
                if (!readLine(typed)) stopRun(2, "input ended while page " + std::to_string(call.id) + " was shown");
                typed = trimmed(typed);
                symbols().set("EditTextOut", typed.empty() ? shown : typed);
                outputs.emplace_back("EditTextOut", symbols().value("EditTextOut"));
            }
            record(call.id, event, outputs);
            return event;
        }
    }

    void showModeless(const PageCall& call) override {
        std::fprintf(out_, "\n%s", describePage(call).c_str());
        std::fflush(out_);
    }

    int messageBox(const char* text, const char* caption, UINT type) override {
        std::fprintf(out_, "\n[%s]\n%s\n", caption, text);
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
            // last button (Cancel, No, Ignore) or OK.
            if (!readLine(line)) return choices.back().id;
            line = trimmed(line);
            if (line.empty()) return choices[0].id;
            for (auto& c : choices)
                if ((line[0] | 0x20) == c.key) return c.id;
        }
    }

    void progress(unsigned done, unsigned total, const char* name) override {
        unsigned pct = total ? done * 100 / total : 100;
        if (done != total && pct / 10 == lastTenth_) return;
        lastTenth_ = pct / 10;
        std::string bar(20, '.');
        for (unsigned i = 0; i < pct / 5 && i < 20; ++i) bar[i] = '#';
        std::fprintf(out_, "  [%s] %3u%%  %s\n", bar.c_str(), pct, name ? name : "");
        std::fflush(out_);
        if (done == total) lastTenth_ = ~0u;
    }

private:
    bool readLine(std::string& line) {
        line.clear();
        char buf[1024];
        while (std::fgets(buf, sizeof buf, in_)) {
            line += buf;
            if (!line.empty() && line.back() == '\n') return true;
        }
        return !line.empty();
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
    unsigned lastTenth_ = ~0u;
};

}  // namespace

std::unique_ptr<FrontEnd> makeConsoleFrontEnd(FILE* in, FILE* out, FILE* record) {
    return std::make_unique<ConsoleFrontEnd>(in, out, record);
}

}  // namespace kit
