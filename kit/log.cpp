// The run log (--log FILE): one line per event, flushed at once so that a
// run ended by ExitProcess keeps every line. The file is a host file, not
// one of the machine, so it is written with the C library.
#include "internal.h"

#include <setupkit.h>

namespace kit {

namespace {
FILE* logFile = nullptr;
bool exitLogged = false;
std::string resultOutcome;  // empty until the program tells what it did
std::string resultRestart;
bool deployCodes = false;  // --deploy-exit-codes
std::string closingNote;   // the host's word on the run, for the closing line

std::string outcomeFor(UINT code) { return resultOutcome.empty() ? (code ? "failed" : "nothing") : resultOutcome; }
std::string restartNow() { return resultRestart.empty() ? "no" : resultRestart; }

// The code the process ends with: the program's own, or with
// --deploy-exit-codes the one deployment tools read from the outcome.
UINT finalCode(UINT code) {
    if (!deployCodes) return code;
    std::string outcome = outcomeFor(code), restart = restartNow();
    if (outcome == "cancelled") return 1602;
    if (outcome == "failed" || outcome == "refused") return 1603;
    if (restart == "requested") return 1641;
    if (restart == "needed") return 3010;
    return 0;
}

// The closing line of the run's output, for a person.
std::string closingLine(const std::string& outcome, const std::string& restart, UINT code) {
    static const struct {
        const char* outcome;
        const char* said;
    } kSaid[] = {
        {"installed", "The software was installed"},
        {"upgraded", "The software was upgraded"},
        {"removed", "The software was removed"},
        {"nothing", "Nothing was changed"},
        {"cancelled", "Setup was cancelled"},
        {"refused", "Setup cannot run on this machine"},
        {"failed", "Setup failed"},
    };
    std::string s = "Setup ended (" + outcome + ")";
    for (const auto& k : kSaid)
        if (outcome == k.outcome) s = k.said;
    if (restart == "needed") s += "; restart Windows to finish";
    if (restart == "requested") s += "; Windows is restarting";
    if (!closingNote.empty()) s += " (" + closingNote + ")";
    return s + ". Exit code " + std::to_string(code) + ".";
}
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

void setDeployExitCodes(bool on) { deployCodes = on; }

void resetExitLogged() {
    exitLogged = false;
    deployCodes = false;
    closingNote.clear();
    resultOutcome.clear();
    resultRestart.clear();
}

bool frameStarted();  // frame.cpp

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

void WINAPI KitSetResult(LPCSTR outcome, LPCSTR restart) {
    kit::resultOutcome = outcome && *outcome ? outcome : "nothing";
    kit::resultRestart = restart && *restart ? restart : "no";
}

UINT WINAPI KitExitCode(UINT code) { return kit::finalCode(code); }

void WINAPI KitSetClosingNote(LPCSTR note) { kit::closingNote = note ? note : ""; }

void WINAPI KitLogExit(UINT programCode) {
    if (kit::exitLogged) return;
    kit::exitLogged = true;
    std::string outcome = kit::outcomeFor(programCode), restart = kit::restartNow();
    UINT code = kit::finalCode(programCode);
    kit::logLine("result " + outcome + " restart=" + restart);
    kit::logLine("exit " + std::to_string(code));
    kit::closeLog();
    if (kit::frameStarted()) {
        std::fflush(stderr);
        std::fprintf(stdout, "\n%s\n", kit::closingLine(outcome, restart, code).c_str());
        std::fflush(stdout);
    }
}

}  // extern "C"
