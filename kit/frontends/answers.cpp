// The unattended front-end: pages are answered from an answers file, one
// line per modal page in the order shown:
//   <dialog> <EVENT> [SYMBOL=value ...]     # comment
// A page that is not the one the next line names, or a page with no line
// left, stops the run with exit code 2.
#include "../internal.h"

#include <setupkit.h>

namespace kit {

namespace {

struct Word {
    std::string text;
    std::ptrdiff_t eq = -1;  // position of the first '=' outside quotes
};

// Splits one line into words; double quotes group blanks, a doubled quote
// inside them stands for one, '#' outside quotes at a word's start ends
// the line.
bool splitLine(std::string_view line, std::vector<Word>& words, std::string& why) {
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        Word w;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            char c = line[i];
            if (c == '"') {
                ++i;
                for (;;) {
                    if (i >= line.size()) {
                        why = "unterminated quote";
                        return false;
                    }
                    if (line[i] == '"') {
                        if (i + 1 < line.size() && line[i + 1] == '"') {
                            w.text += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    w.text += line[i++];
                }
                continue;
            }
            if (c == '=' && w.eq < 0) w.eq = (std::ptrdiff_t)w.text.size();
            w.text += c;
            ++i;
        }
        words.push_back(std::move(w));
    }
    return true;
}

class AnswersFrontEnd : public FrontEnd {
public:
    AnswersFrontEnd(std::vector<Answer> a, std::string file, FILE* out)
        : answers_(std::move(a)), file_(std::move(file)), out_(out) {}

    std::string answer(const PageCall& call) override {
        if (next_ >= answers_.size())
            stopRun(2, file_ + ": no answer left for page " + std::to_string(call.id) + " (" + call.proc + ", \"" +
                           call.page->title + "\")");
        const Answer& a = answers_[next_];
        if (a.dialog != call.id)
            stopRun(2, file_ + ", line " + std::to_string(a.line) + ": expected page " + std::to_string(a.dialog) +
                           " but page " + std::to_string(call.id) + " (" + call.proc + ", \"" +
                           call.page->title + "\") is shown");
        ++next_;
        for (auto& [name, value] : a.symbols) symbols().set(name, value);
        if (out_) {
            std::fprintf(out_, "%s  -> %s\n", describePage(call).c_str(), a.event.c_str());
            std::fflush(out_);
        }
        return a.event;
    }

    void showModeless(const PageCall& call) override {
        if (out_) {
            std::fprintf(out_, "%s", describePage(call).c_str());
            std::fflush(out_);
        }
    }

    // Nobody is there to change anything between two tries, so a box that
    // offers Retry is answered Cancel; any other box gets its first button.
    int messageBox(const char* text, const char* caption, UINT type) override {
        int answer = IDOK;
        switch (type & 0xf) {
        case MB_OKCANCEL: answer = IDOK; break;
        case MB_ABORTRETRYIGNORE: answer = IDABORT; break;
        case MB_YESNOCANCEL:
        case MB_YESNO: answer = IDYES; break;
        case MB_RETRYCANCEL: answer = IDCANCEL; break;
        default: answer = IDOK; break;
        }
        if (out_) {
            std::fprintf(out_, "[%s] %s\n", caption, text);
            std::fflush(out_);
        }
        return answer;
    }

    void progress(const Gauge& g) override {
        if (out_ && (g.files == g.totalFiles || g.files % 25 == 0)) {
            std::fprintf(out_, "  copied %u of %u files, %llu of %llu KB%s%s\n", g.files, g.totalFiles,
                         (unsigned long long)((g.bytes + 1023) / 1024), (unsigned long long)((g.totalBytes + 1023) / 1024),
                         *g.name ? ": " : "", g.name);
            std::fflush(out_);
        }
    }

private:
    std::vector<Answer> answers_;
    std::size_t next_ = 0;
    std::string file_;
    FILE* out_;
};

}  // namespace

bool parseAnswers(std::string_view text, std::vector<Answer>& out, std::string& error) {
    out.clear();
    int lineNo = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        std::string_view line = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        at = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        std::vector<Word> words;
        std::string why;
        if (!splitLine(line, words, why)) return fail(why);
        if (words.empty()) continue;
        Answer a;
        a.line = lineNo;
        const std::string& num = words[0].text;
        if (num.empty() || num.size() > 5 || num.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(num) == 0 || std::stoul(num) > 65535)
            return fail("expected a dialog number, found \"" + num + "\"");
        a.dialog = (UINT)std::stoul(num);
        if (words.size() < 2) return fail("missing the event word after dialog " + num);
        std::string ev = words[1].text;
        if (ev.empty() || ev.size() > 14 || ev.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") !=
                                                std::string::npos)
            return fail("\"" + ev + "\" is not an event word (BACK, CANCEL, CONTINUE or EXIT)");
        for (char& c : ev)
            if (c >= 'a' && c <= 'z') c = (char)(c - 32);
        a.event = ev;
        for (std::size_t i = 2; i < words.size(); ++i) {
            const Word& w = words[i];
            if (w.eq <= 0) return fail("\"" + w.text + "\" is not SYMBOL=value");
            a.symbols.emplace_back(w.text.substr(0, (std::size_t)w.eq), w.text.substr((std::size_t)w.eq + 1));
        }
        out.push_back(std::move(a));
    }
    return true;
}

std::unique_ptr<FrontEnd> makeAnswersFrontEnd(std::vector<Answer> answers, std::string fileName, FILE* out) {
    return std::make_unique<AnswersFrontEnd>(std::move(answers), std::move(fileName), out);
}

}  // namespace kit
