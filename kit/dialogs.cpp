// The dialog stack: FDoDialogExt shows a page of the page library through
// the active front-end, FKillNDialogs takes pages off the stack. Each page
// on the stack owns a window whose id is the dialog number.
#include "internal.h"

#include <setupkit.h>

#include <cstring>

namespace kit {

namespace {
struct Shown {
    UINT id;
    HWND window;
    bool modeless;  // a status page: its end is logged when it is taken off
};
std::vector<Shown> stack;

// The library name may carry a path; only the file name counts.
bool ourLibrary(const char* dll) {
    if (!dll) return false;
    const char* base = dll;
    for (const char* p = dll; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
    return lowerAscii(base) == "mscuistf.dll";
}

bool quitWaiting() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}
}  // namespace

void resetDialogs() {
    for (auto& s : stack)
        if (s.window) DestroyWindow(s.window);
    stack.clear();
}

std::size_t dialogDepth() { return stack.size(); }

// Answers-file quoting: a value with blanks, quotes or '#' (or an empty
// one) is put in double quotes, a quote inside doubled; backslashes are
// plain characters, so paths stay as they are.
std::string quoteAnswer(std::string_view v) {
    bool plain = !v.empty();
    for (char c : v)
        if (c == ' ' || c == '\t' || c == '"' || c == '#' || c == '=') plain = false;
    if (plain) return std::string(v);
    std::string s = "\"";
    for (char c : v) {
        if (c == '"') s += '"';
        s += c;
    }
    return s + "\"";
}

std::string wrapText(std::string_view text, std::size_t width, std::string_view indent) {
    std::string out, line;
    auto flush = [&] {
        out += indent;
        out += line;
        out += '\n';
        line.clear();
    };
    // The last column is left free: a terminal that wraps on its own would
    // otherwise add an empty line after a full one.
    std::size_t room = width > indent.size() + 11 ? width - 1 - indent.size() : 10;
    std::size_t i = 0;
    std::size_t blanks = 0;  // blanks before the next word, kept inside a line
    while (i < text.size()) {
        if (text[i] == '\n') {
            flush();
            blanks = 0;
            ++i;
            continue;
        }
        if (text[i] == ' ') {
            ++blanks;
            ++i;
            continue;
        }
        std::size_t end = text.find_first_of(" \n", i);
        if (end == std::string_view::npos) end = text.size();
        std::string_view word = text.substr(i, end - i);
        if (!line.empty() && line.size() + blanks + word.size() > room) {
            flush();
            blanks = 0;
        }
        if (!line.empty()) line.append(blanks, ' ');
        line += word;
        blanks = 0;
        i = end;
    }
    if (!line.empty()) flush();
    return out;
}

std::string gaugeLine(const Gauge& g, std::size_t barWidth) {
    // Bytes make the bar when the INF gives sizes; files otherwise.
    std::uint64_t done = g.totalBytes ? g.bytes : g.files;
    std::uint64_t total = g.totalBytes ? g.totalBytes : g.totalFiles;
    unsigned pct = total ? (unsigned)(done * 100 / total) : 100;
    std::size_t filled = total ? (std::size_t)(done * barWidth / total) : barWidth;
    std::string bar(barWidth, '.');
    for (std::size_t i = 0; i < filled && i < barWidth; ++i) bar[i] = '#';
    char text[160];
    std::snprintf(text, sizeof text, "[%s] %3u%%  %u of %u files, %llu of %llu KB", bar.c_str(), pct, g.files,
                  g.totalFiles, (unsigned long long)((g.bytes + 1023) / 1024),
                  (unsigned long long)((g.totalBytes + 1023) / 1024));
    return text;
}

std::string describePage(const PageCall& call, std::size_t width) {
    const Page& p = *call.page;
    const SymbolTable& sym = symbols();
    std::string s = "== " + std::string(p.title) + " ==\n";
    if (*p.text) s += width ? wrapText(p.text, width) : std::string(p.text) + "\n";
    switch (p.control) {
    case Control::Radio: {
        // The selected choice is marked; only the first character counts.
        std::string checked = sym.value("ButtonChecked").substr(0, 1);
        auto choice = [&](const char* n, const std::string& text) {
            std::string mark = std::string(checked == n ? "  (*) " : "  ( ) ") + n + "  ";
            if (!width) return mark + text + "\n";
            std::string lines = wrapText(text, width, std::string(mark.size(), ' '));
            return mark + lines.substr(mark.size());
        };
        s += choice("1", "Install everything on the system drive: " + sym.value("SysSpacePrintOnlyKb"));
        s += choice("2", "Install with a destination of your choice: " + sym.value("SysSpaceBothKb") +
                             " on the system drive, " + sym.value("SysOtherSpaceKb") + " at the destination");
        s += choice("3", "Remove the software");
        break;
    }
    case Control::DrivesAndEdit: {
        const auto* drives = sym.find("Disk Drives");
        const auto* space = sym.find("Available Space");
        s += "  Drive      Free space\n";
        for (std::size_t i = 0; drives && i < drives->size(); ++i) {
            s += "  " + (*drives)[i];
            if (space && i < space->size()) s += "  " + (*space)[i];
            s += "\n";
        }
        std::string needed = "Needed on the system drive " + sym.value("SysDisk") + ": " + sym.value("SysSpaceNeeded") +
                             " (everything there), or " + sym.value("OtherSpaceNeeded") + " on another drive";
        s += width ? wrapText(needed, width, "  ") : "  " + needed + "\n";
        s += "  Directory: " + sym.value("EditTextIn") + "\n";
        break;
    }
    case Control::Edit:
        s += "  Path: " + sym.value("EditTextIn") + "\n";
        break;
    case Control::ErrorText:
        s += width ? wrapText(sym.value("ErrorText"), width, "  ") : "  " + sym.value("ErrorText") + "\n";
        break;
    case Control::Status:
        s += "  " + sym.value("StatusHeader") + "\n  " + sym.value("StatusMessage") + "\n";
        break;
    case Control::None:
        break;
    }
    return s;
}

// What a status page says while its work runs, on one line.
static std::string statusText(const Page& p) {
    if (p.control != Control::Status) return p.text;
    std::string header = symbols().value("StatusHeader"), message = symbols().value("StatusMessage");
    if (header.empty() || message.empty()) return header + message;
    return header + ": " + message;
}

}  // namespace kit

using namespace kit;

extern "C" {

BOOL WINAPI FDoDialogExt(HWND, LPCSTR dll, UINT id, LPCSTR proc, LPCSTR, UINT helpId, LPCSTR) {
    const Page* page = findPage(id);
    std::string why;
    if (!ourLibrary(dll))
        why = std::string("library ") + (dll ? dll : "(none)") + " not found";
    else if (!page)
        why = "no dialog " + std::to_string(id) + " in the page library";
    else if (!proc || !knownProcedure(proc))
        why = std::string("no dialog procedure ") + (proc ? proc : "(none)");
    if (!why.empty()) {
        logLine("dialog " + std::to_string(id) + ": " + why);
        return FALSE;
    }
    PageCall call{page, id, proc, helpId};
    HWND w = createPageWindow(id, page->title);
    bool modeless = modelessProcedure(proc);
    stack.push_back({id, w, modeless});
    if (modeless) {
        // The log shows when each piece of work starts and ends, so the
        // order of spooler, driver and group work can be followed.
        logLine("status " + std::to_string(id) + " " + statusText(*page));
        frontEnd().showModeless(call);
        return TRUE;
    }
    // The page starts with what its controls show: the preselected radio
    // button and the text put in the edit field.
    if (page->control == Control::Radio) symbols().set("ButtonChecked", symbols().value("RadioDefault"));
    if (page->control == Control::Edit || page->control == Control::DrivesAndEdit)
        symbols().set("EditTextOut", symbols().value("EditTextIn"));
    if (page->control == Control::ErrorText) logLine("error " + symbols().value("ErrorText"));
    // A WM_QUIT already waiting ends a modal page at once, as it ends any
    // modal message loop; it stays queued for the program to see.
    if (quitWaiting()) {
        logLine("page " + std::to_string(id) + " " + proc + " QUIT");
        return TRUE;
    }
    std::string event = frontEnd().answer(call);
    symbols().set("DLGEVENT", event);
    logLine("page " + std::to_string(id) + " " + proc + " " + event);
    return TRUE;
}

BOOL WINAPI FKillNDialogs(INT n) {
    if (n < -1) return FALSE;
    std::size_t count = n == -1 ? stack.size() : (std::size_t)n;
    while (count-- > 0 && !stack.empty()) {
        if (stack.back().window) DestroyWindow(stack.back().window);
        if (stack.back().modeless) logLine("status " + std::to_string(stack.back().id) + " end");
        stack.pop_back();
    }
    return TRUE;
}

}  // extern "C"
