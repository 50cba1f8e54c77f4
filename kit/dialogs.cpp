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

std::string describePage(const PageCall& call) {
    const Page& p = *call.page;
    const SymbolTable& sym = symbols();
    std::string s = "== " + std::string(p.title) + " ==\n";
    if (*p.text) s += std::string(p.text) + "\n";
    switch (p.control) {
    case Control::Radio:
        s += "  1  Install everything on the system drive      " + sym.value("SysSpacePrintOnlyKb") + "\n";
        s += "  2  Install with a destination of your choice  " + sym.value("SysSpaceBothKb") +
             " on the system drive, " + sym.value("SysOtherSpaceKb") + " at the destination\n";
        s += "  3  Remove the software\n";
        break;
    case Control::DrivesAndEdit: {
        const auto* drives = sym.find("Disk Drives");
        const auto* space = sym.find("Available Space");
        s += "  Drive      Free space\n";
        for (std::size_t i = 0; drives && i < drives->size(); ++i) {
            s += "  " + (*drives)[i];
            if (space && i < space->size()) s += "  " + (*space)[i];
            s += "\n";
        }
        s += "  Needed on the system drive " + sym.value("SysDisk") + ": " + sym.value("SysSpaceNeeded") +
             " (everything there), or " + sym.value("OtherSpaceNeeded") + " on another drive\n";
        s += "  Directory: " + sym.value("EditTextIn") + "\n";
        break;
    }
    case Control::Edit:
        s += "  Path: " + sym.value("EditTextIn") + "\n";
        break;
    case Control::ErrorText:
        s += "  " + sym.value("ErrorText") + "\n";
        break;
    case Control::Status:
        s += "  " + sym.value("StatusHeader") + "\n  " + sym.value("StatusMessage") + "\n";
        break;
    case Control::None:
        break;
    }
    return s;
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
    stack.push_back({id, w});
    if (modelessProcedure(proc)) {
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
        stack.pop_back();
    }
    return TRUE;
}

}  // extern "C"
