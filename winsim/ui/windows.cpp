// Windows, the thread's message queue, message boxes and cursors of the
// simulated machine. There is one thread, so one queue.
#include "winsim/ui/state.h"

#include <cstdio>
#include <cstring>

namespace winsim {

namespace {
constexpr DWORD kErrCannotFindWndClass = 1407;
constexpr DWORD kErrClassAlreadyExists = 1410;
constexpr DWORD kErrResourceNameNotFound = 1814;

MessageBoxHandler boxHandler = nullptr;

UiState& ui() { return *machine().ui; }

UiWindow* findWindow(HWND h) {
    auto& w = ui().windows;
    auto it = w.find(h);
    return it == w.end() ? nullptr : &it->second;
}

MSG makeMsg(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    MSG m{};
    m.hwnd = h;
    m.message = msg;
    m.wParam = wp;
    m.lParam = lp;
    m.time = (DWORD)now();
    return m;
}

bool inRange(UINT msg, UINT lo, UINT hi) { return (lo == 0 && hi == 0) || (msg >= lo && msg <= hi); }

bool matchesWindow(HWND filter, HWND h) {
    if (filter == nullptr) return true;
    if (filter == (HWND)(LONG_PTR)-1) return h == nullptr;
    return filter == h;
}

LRESULT callProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    UiWindow* w = findWindow(h);
    if (!w) return 0;
    auto it = ui().classes.find(w->className);
    if (it == ui().classes.end() || !it->second) return 0;
    return it->second(h, msg, wp, lp);
}

// Standard cursors are shared objects; their handles encode the id.
HCURSOR standardCursor(UINT_PTR id) { return (HCURSOR)(0x20000 + id); }
}  // namespace

void setMessageBoxHandler(MessageBoxHandler handler) { boxHandler = handler; }

}  // namespace winsim

using namespace winsim;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !*wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& classes = ui().classes;
    if (classes.count(wc->lpszClassName)) {
        SetLastError(kErrClassAlreadyExists);
        return 0;
    }
    classes[wc->lpszClassName] = wc->lpfnWndProc;
    return (ATOM)(0xC000 + classes.size());
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR title, DWORD style, int, int, int, int, HWND parent,
                            HMENU menu, HINSTANCE, LPVOID) {
    UiState& s = ui();
    if (!className || !s.classes.count(className)) {
        SetLastError(kErrCannotFindWndClass);
        return nullptr;
    }
    if (parent && !findWindow(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    UiWindow w;
    w.className = className;
    w.title = title ? title : "";
    w.parent = parent;
    w.style = style;
    w.id = (style & WS_CHILD) ? (UINT_PTR)menu : 0;
    w.showCmd = (style & WS_VISIBLE) ? SW_SHOW : SW_HIDE;
    HWND h = (HWND)s.nextWindow;
    s.nextWindow += 2;
    s.windows[h] = w;
    if (callProc(h, WM_CREATE, 0, 0) == -1) {
        s.windows.erase(h);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (w.id && w.id == s.quitOnWindowId) {
        // The declared rule: this window's arrival makes WM_QUIT arrive.
        if (++s.windowIdCounts[w.id] == s.quitOccurrence) {
            s.quitPosted = true;
            s.quitCode = 0;
        }
    }
    return h;
}

BOOL WINAPI DestroyWindow(HWND h) {
    UiState& s = ui();
    if (!findWindow(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Children go first, as Windows destroys them with their parent.
    std::vector<HWND> children;
    for (auto& [ch, w] : s.windows)
        if (w.parent == h) children.push_back(ch);
    for (HWND ch : children) DestroyWindow(ch);
    callProc(h, WM_DESTROY, 0, 0);
    s.windows.erase(h);
    // Messages still posted to the window are dropped with it.
    std::erase_if(s.queue, [h](const MSG& m) { return m.hwnd == h; });
    return TRUE;
}

BOOL WINAPI IsWindow(HWND h) { return h && findWindow(h) ? TRUE : FALSE; }

LRESULT WINAPI DefWindowProcA(HWND h, UINT msg, WPARAM, LPARAM lp) {
    if (msg == WM_SETTEXT) return SetWindowTextA(h, (LPCSTR)lp);
    if (msg == WM_CLOSE) {
        DestroyWindow(h);
        return 0;
    }
    return 0;
}

int WINAPI GetWindowTextA(HWND h, LPSTR buf, int max) {
    UiWindow* w = findWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!buf || max <= 0) return 0;
    int n = (int)std::min<std::size_t>(w->title.size(), (std::size_t)max - 1);
    std::memcpy(buf, w->title.data(), (std::size_t)n);
    buf[n] = 0;
    return n;
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
    UiWindow* w = findWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    BOOL wasVisible = w->showCmd != SW_HIDE;
    w->showCmd = cmd;
    return wasVisible;
}

BOOL WINAPI SetWindowTextA(HWND h, LPCSTR text) {
    UiWindow* w = findWindow(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->title = text ? text : "";
    if (!w->parent) ui().frameTitle = w->title;
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG out, HWND hwnd, UINT lo, UINT hi, UINT remove) {
    UiState& s = ui();
    if (!out) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (!matchesWindow(hwnd, it->hwnd) || !inRange(it->message, lo, hi)) continue;
        *out = *it;
        if (remove & PM_REMOVE) s.queue.erase(it);
        return TRUE;
    }
    // WM_QUIT from PostQuitMessage comes once the posted messages are gone.
    if (s.quitPosted && inRange(WM_QUIT, lo, hi)) {
        *out = makeMsg(nullptr, WM_QUIT, (WPARAM)s.quitCode, 0);
        if (remove & PM_REMOVE) s.quitPosted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    // Only keyboard messages are translated; the simulated machine has no
    // keyboard input, so nothing is ever translated.
    (void)msg;
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    return callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (h && !findWindow(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    ui().queue.push_back(makeMsg(h, msg, wp, lp));
    return TRUE;
}

void WINAPI PostQuitMessage(int code) {
    ui().quitPosted = true;
    ui().quitCode = code;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner && !findWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const char* t = text ? text : "";
    const char* c = caption ? caption : "Error";  // Windows' default caption
    ui().boxes.push_back({c, t, type});
    if (boxHandler) return boxHandler(t, c, type);
    std::fprintf(stderr, "[message box] %s: %s\n", c, t);
    return IDOK;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE inst, LPCSTR name) {
    UINT_PTR id = (UINT_PTR)name;
    // Only the system's standard cursors exist (IDC_ARROW .. IDC_HELP);
    // no module of the simulated machine carries cursor resources.
    if (inst || id < 32512 || id > 32651) {
        SetLastError(kErrResourceNameNotFound);
        return nullptr;
    }
    return standardCursor(id);
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    UiState& s = ui();
    HCURSOR prev = s.cursor ? s.cursor : standardCursor(32512);
    s.cursor = cursor;
    return prev;
}

}  // extern "C"
