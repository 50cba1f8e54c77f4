// State of the ui family of the simulated machine (windows, the thread's
// message queue, message boxes, the cursor, shutdown requests), and how it
// is read from and written to a machine image.
//
// Image section "ui" (every member optional):
//   "frame_title":        the title last given to a top-level window
//   "restart_requested":  true once ExitWindowsEx asked for a restart
//   "message_boxes":      [{"caption": .., "text": .., "type": n}, ...] shown so far
//   "quit_on_window_id":  n   a WM_QUIT is posted when a window whose id
//   "quit_occurrence":    k   (the hMenu of CreateWindowExA) is n is created
//                             for the k-th time (default 1). The setup kit
//                             gives each page's window the page's dialog
//                             number, so {"quit_on_window_id": 800} makes
//                             WM_QUIT arrive while page 800 is up.
//   "quit_pending":       true  a WM_QUIT is waiting from the start
#pragma once

#include "winsim/core/machine.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace winsim {

struct UiWindow {
    std::string className;
    std::string title;
    HWND parent = nullptr;
    UINT_PTR id = 0;  // hMenu of a child window
    DWORD style = 0;
    int showCmd = SW_HIDE;
};

struct UiMessageBox {
    std::string caption;
    std::string text;
    UINT type = 0;
};

struct UiState {
    // Per process (not saved).
    std::map<std::string, WNDPROC, CaseLess> classes;
    std::map<HWND, UiWindow> windows;
    std::uintptr_t nextWindow = 0x10010;
    std::deque<MSG> queue;    // posted messages, oldest first
    bool quitPosted = false;  // PostQuitMessage: WM_QUIT after the posted messages
    int quitCode = 0;
    HCURSOR cursor = nullptr;  // null until the first SetCursor: the arrow
    std::map<UINT_PTR, int> windowIdCounts;

    // Saved with the image.
    std::string frameTitle;
    bool restartRequested = false;
    std::vector<UiMessageBox> boxes;
    UINT_PTR quitOnWindowId = 0;  // 0 = no rule
    int quitOccurrence = 1;
    bool quitPendingAtStart = false;
};

// Who answers MessageBoxA: the host connects the setup kit's front-end
// here. Without a handler the box is printed on stderr and answered IDOK.
using MessageBoxHandler = int (*)(const char* text, const char* caption, UINT type);
void setMessageBoxHandler(MessageBoxHandler handler);

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadUi(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveUi(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showUi(std::ostream& out, const Machine& m);

}  // namespace winsim
