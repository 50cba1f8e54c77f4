// The run log (--log FILE): one line per event, flushed at once so that a
// run ended by ExitProcess keeps every line. The file is a host file, not
// one of the machine, so it is written with the C library.
#include "internal.h"

#include <setupkit.h>

namespace kit {

namespace {
FILE* logFile = nullptr;
bool exitLogged = false;
}  // namespace

bool openLog(const char* path) {
    closeLog();
    logFile = std::fopen(path, "w");
    exitLogged = false;
    return logFile != nullptr;
}

void closeLog() {
    if (logFile) std::fclose(logFile);
    logFile = nullptr;
}

void logLine(std::string_view line) {
    if (!logFile) return;
    std::string s(line);
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    s += '\n';
    std::fwrite(s.data(), 1, s.size(), logFile);
    std::fflush(logFile);
}

void resetExitLogged() { exitLogged = false; }

}  // namespace kit

extern "C" {

void WINAPI KitLogEvent(LPCSTR kind, LPCSTR text) {
    std::string_view k = kind ? kind : "";
    if (k == "program")
        kit::logLine(std::string("program ") + (text ? text : ""));
    else if (k == "reboot")
        kit::logLine("reboot");
    else if (k == "left") {
        // What a removal leaves behind: the log and the console both list it.
        std::string line = std::string("left ") + (text ? text : "");
        kit::logLine(line);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
}

void WINAPI KitLogExit(UINT code) {
    if (kit::exitLogged) return;
    kit::exitLogged = true;
    kit::logLine("exit " + std::to_string(code));
    kit::closeLog();
}

}  // extern "C"
