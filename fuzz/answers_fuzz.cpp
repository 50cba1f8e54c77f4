// The answers reader on arbitrary text: it either refuses the text with a
// line and a short reason, or every answer names a page of the library, one
// of the four events and only symbols that page reads, and writing the
// answers back in the file's own quoting reads back the same.
#include "kit/internal.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<kit::Answer> answers;
    std::string error;
    if (!kit::parseAnswers(text, answers, error)) {
        if (error.rfind("line ", 0) != 0 || error.size() > 400) std::abort();
        return 0;
    }
    std::string written;
    for (const kit::Answer& a : answers) {
        const kit::Page* page = kit::findPage(a.dialog);
        if (!page || page->buttons.empty()) std::abort();
        if (a.event != "BACK" && a.event != "CANCEL" && a.event != "CONTINUE" && a.event != "EXIT") std::abort();
        written += std::to_string(a.dialog) + " " + a.event;
        for (const auto& [name, value] : a.symbols) {
            if (name != "ButtonChecked" && name != "EditTextOut") std::abort();
            written += " " + kit::quoteAnswer(name) + "=" + kit::quoteAnswer(value);
        }
        written += "\n";
    }
    std::vector<kit::Answer> again;
    if (!kit::parseAnswers(written, again, error) || again.size() != answers.size()) std::abort();
    for (std::size_t i = 0; i < answers.size(); ++i)
        if (again[i].dialog != answers[i].dialog || again[i].event != answers[i].event ||
            again[i].symbols != answers[i].symbols)
            std::abort();
    return 0;
}
