// The frame: front-end options from the command line, the frame window,
// the wait cursor, message boxes and the kit's teardown.
#include "internal.h"

#include <setupkit.h>

#include <cstring>

namespace kit {

void resetDialogs();      // dialogs.cpp
void resetExitLogged();   // log.cpp
void setDeployExitCodes(bool on);  // log.cpp

// Set by copy.cpp when the copy engine is part of the program, so that the
// frame does not pull the engine (and its file calls) into every program.
void (*copyListReset)() = nullptr;

namespace {

HWND frame = nullptr;
bool initialized = false;
KITABANDONPROC abandonHandler = nullptr;
bool boxesRouted = false;
std::unique_ptr<FrontEnd> activeFrontEnd;

const char kUsage[] =
    "  --answers FILE  answer the pages from FILE (unattended run)\n"
    "  --record FILE   write the answers of this interactive run to FILE\n"
    "  --log FILE      write one line per page, message box, program, restart and the exit code\n"
    "  --console       answer the pages in the terminal (the default)\n"
    "  --deploy-exit-codes\n"
    "                  end with the codes deployment tools read: 0 done, 3010 done and a restart\n"
    "                  is needed, 1641 done and Windows is restarting, 1602 cancelled, 1603\n"
    "                  failed or refused (a Linux shell sees them modulo 256: 66, 67, 194, 105)\n"
    "  --help          show this help and stop\n"
    "  --version       show the version and stop\n";

LRESULT CALLBACK frameProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(h, msg, wp, lp); }

// Registers the two window classes; a class already there is fine (the
// kit may be started again in one process, as tests do).
bool registerClasses() {
    for (const char* name : {"KitFrame", "KitPage"}) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = frameProc;
        wc.lpszClassName = name;
        if (!RegisterClassA(&wc) && GetLastError() != 1410 /* ERROR_CLASS_ALREADY_EXISTS */) return false;
    }
    return true;
}

// Splits a command line into words; double quotes group blanks.
std::vector<std::string> splitWords(const char* cmd) {
    std::vector<std::string> words;
    std::string w;
    bool inWord = false, quoted = false;
    for (const char* p = cmd ? cmd : ""; *p; ++p) {
        char c = *p;
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(w);
            w.clear();
            inWord = false;
        } else {
            w += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(w);
    return words;
}

bool readHostFile(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    std::size_t n;
    out.clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

void attachConsole() {
#ifdef _WIN32
    // The Windows program has no console of its own; borrow the one it was
    // started from, unless its standard handles were redirected.
    if (!GetStdHandle(STD_OUTPUT_HANDLE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
        std::freopen("CONIN$", "r", stdin);
    }
#endif
}

}  // namespace

FrontEnd& frontEnd() {
    if (!activeFrontEnd) activeFrontEnd = makeConsoleFrontEnd(stdin, stdout, nullptr);
    return *activeFrontEnd;
}

void setFrontEnd(std::unique_ptr<FrontEnd> fe) { activeFrontEnd = std::move(fe); }

HWND frameWindow() { return frame; }

HWND createPageWindow(UINT id, const char* title) {
    if (!registerClasses()) return nullptr;
    DWORD style = frame ? WS_CHILD : WS_POPUP;
    return CreateWindowExA(0, "KitPage", title, style, 0, 0, 0, 0, frame, (HMENU)(UINT_PTR)id, nullptr, nullptr);
}

int box(const char* text, const char* caption, UINT type) {
    if (boxesRouted) return MessageBoxA(frame, text, caption, type);
    return KitMessageBox(text, caption, type);
}

bool frameStarted() { return initialized; }

[[noreturn]] void stopRun(UINT code, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "setup: %s\n", message.c_str());
    std::fflush(stderr);
    KitSetResult("failed", "no");
    KitLogExit(code);
    ExitProcess(KitExitCode(code));
}

[[noreturn]] void abandonRun() {
    std::fflush(stdout);
    if (abandonHandler) {
        abandonHandler();
        std::fprintf(stdout, "\nStopped at once: what this run changed was dropped, the machine is as it was.\n");
    } else {
        std::fprintf(stdout, "\nStopped at once: what was done so far stays on the machine.\n");
    }
    KitSetResult("cancelled", "no");
    KitLogExit(130);
    ExitProcess(KitExitCode(130));
}

}  // namespace kit

using namespace kit;

extern "C" {

INT WINAPI InitializeFrame(LPSTR cmdLine) {
    if (initialized) return 0;
    attachConsole();
    std::vector<std::string> words = splitWords(cmdLine);
    std::string answersPath, recordPath, logPath;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        auto takeValue = [&](std::string& into) {
            if (i + 1 >= words.size() || words[i + 1].empty())
                stopRun(2, "option " + w + " needs a file name");
            into = words[++i];
        };
        if (w == "--help" || w == "-h" || w == "/?") {
            std::printf("Options of the setup front-end:\n%s", kUsage);
            std::fflush(stdout);
            return -1;
        } else if (w == "--version") {
            std::printf("setup kit 1.0\n");
            std::fflush(stdout);
            return -1;
        } else if (w == "--answers") {
            takeValue(answersPath);
        } else if (w == "--record") {
            takeValue(recordPath);
        } else if (w == "--log") {
            takeValue(logPath);
        } else if (w == "--deploy-exit-codes") {
            setDeployExitCodes(true);
        }
        // Anything else belongs to the program and is left alone.
    }
    if (!logPath.empty() && !openLog(logPath.c_str())) stopRun(2, "cannot write the log file " + logPath);
    if (!answersPath.empty() && !recordPath.empty())
        stopRun(2, "--record needs an interactive run; it cannot be combined with --answers");
    if (!answersPath.empty()) {
        std::string text, error;
        if (!readHostFile(answersPath, text)) stopRun(2, "cannot read the answers file " + answersPath);
        std::vector<Answer> answers;
        if (!parseAnswers(text, answers, error)) stopRun(2, answersPath + ": " + error);
        setFrontEnd(makeAnswersFrontEnd(std::move(answers), answersPath, stdout));
    } else {
        FILE* record = nullptr;
        if (!recordPath.empty()) {
            record = std::fopen(recordPath.c_str(), "w");
            if (!record) stopRun(2, "cannot write the record file " + recordPath);
            std::fprintf(record, "# answers recorded by setup --record\n");
            std::fflush(record);
        }
        setFrontEnd(makeConsoleFrontEnd(stdin, stdout, record));
        // Ctrl-C answers the page shown; a second one stops the run.
        catchInterrupts();
    }
    if (registerClasses())
        frame = CreateWindowExA(0, "KitFrame", "Setup", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    initialized = true;
    return 1;
}

BOOL WINAPI FInitializeInstall(HINSTANCE, HWND) { return initialized ? TRUE : FALSE; }
HWND WINAPI HwndFrame(void) { return frame; }
HINSTANCE WINAPI HinstFrame(void) { return nullptr; }

// The frame has no bitmap of its own; the library must be ours.
BOOL WINAPI FSetBitmap(LPCSTR dll, UINT) { return dll && *dll ? TRUE : FALSE; }

void WINAPI TerminateFrame(void) {
    FKillNDialogs(-1);
    if (frame) DestroyWindow(frame);
    frame = nullptr;
}

void WINAPI TerminateInstall(void) {
    if (copyListReset) copyListReset();
}

HCURSOR WINAPI HShowWaitCursor(void) { return SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }

BOOL WINAPI FRestoreCursor(HCURSOR prev) {
    SetCursor(prev);
    return TRUE;
}

void WINAPI DoMsgBox(LPCSTR text, LPCSTR caption, UINT style) { box(text, caption, style); }

int WINAPI KitMessageBox(LPCSTR text, LPCSTR caption, UINT type) {
    const char* t = text ? text : "";
    const char* c = caption ? caption : "Error";
    logLine(std::string("box ") + c + ": " + t);
    return frontEnd().messageBox(t, c, type);
}

void WINAPI KitRouteMessageBoxes(BOOL via) { boxesRouted = via != FALSE; }

void WINAPI KitSetAbandonHandler(KITABANDONPROC handler) { abandonHandler = handler; }

LPCSTR WINAPI KitUsage(void) { return kUsage; }

void WINAPI KitReset(void) {
    resetDialogs();
    if (frame) DestroyWindow(frame);
    frame = nullptr;
    initialized = false;
    boxesRouted = false;
    activeFrontEnd.reset();
    symbols().table.clear();
    currentInf().reset();
    if (copyListReset) copyListReset();
    closeLog();
    resetExitLogged();
}

}  // extern "C"
