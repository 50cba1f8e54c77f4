// Shared inner parts of the setup kit: the symbol table, the INF store,
// the page table, the front-ends and the log. Win32 and the C++ library
// only, so the kit builds for Windows and for the simulated machine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kit {

// ---- symbols and lists (symbols.cpp) --------------------------------------
// A symbol is a list of text items; a plain value is a list of one item
// (or of none, for the empty value).
struct SymbolTable {
    std::unordered_map<std::string, std::vector<std::string>> table;
    const std::vector<std::string>* find(std::string_view name) const;
    std::vector<std::string>& get(std::string_view name);
    std::string value(std::string_view name) const;  // "" when missing
    void set(std::string_view name, std::string_view value);
};
SymbolTable& symbols();

// Copies `value` into buf (at most cap - 1 bytes and a NUL) and returns the
// full length: the Cb* convention.
INT copyOut(std::string_view value, LPSTR buf, INT cap);

// ---- INF store (inf.cpp) ---------------------------------------------------
struct InfLine {
    std::uint32_t key;         // index into Inf::strings
    std::uint32_t firstField;  // index into Inf::fields
    std::uint32_t fieldCount;
    std::uint32_t lineNo;  // line in the file, for messages
};
struct InfSection {
    std::string name;
    int lineNo = 0;
    std::vector<std::uint32_t> lines;                        // in file order
    std::unordered_map<std::string, std::uint32_t> byKey;  // lower-cased key -> line
};
struct Inf {
    std::string path;
    std::vector<std::string> strings;     // keys and fields
    std::vector<std::uint32_t> fields;    // string indexes
    std::vector<InfLine> lines;
    std::vector<InfSection> sections;
    std::unordered_map<std::string, std::uint32_t> bySection;  // lower-cased name -> section

    const InfSection* section(std::string_view name) const;
    const InfLine* line(const InfSection& s, std::string_view key) const;

    // Lookups mostly walk one section's keys in order: remember where the
    // last one ended so the next key is found without hashing.
    mutable std::string lastSectionName;
    mutable const InfSection* lastSection = nullptr;
    mutable const InfSection* cursorSection = nullptr;
    mutable std::size_t cursorPos = 0;
    // Field n of a line: 0 is the key, 1.. the fields; "" past the last.
    std::string_view field(const InfLine& l, unsigned n) const;
};
struct InfError {
    int line = 0;
    std::string reason;
};
// Parses INF text; false with `err` set on malformed input.
bool parseInf(std::string_view text, Inf& out, InfError& err);
// The INF opened by FOpenInf (null when none).
std::unique_ptr<Inf>& currentInf();
std::string lowerAscii(std::string_view s);

// ---- pages (pages.cpp) -----------------------------------------------------
enum class Control { None, Radio, DrivesAndEdit, Edit, ErrorText, Status };
struct Button {
    const char* event;  // BACK, CANCEL, CONTINUE, EXIT
    char key;           // console key
    const char* label;
};
struct Page {
    UINT id;
    const char* title;
    const char* text;
    Control control;
    std::vector<Button> buttons;
};
const Page* findPage(UINT id);
// Procedures the kit knows; modeless ones return at once.
bool knownProcedure(std::string_view proc);
bool modelessProcedure(std::string_view proc);

// ---- front-ends (frontends/*.cpp) -----------------------------------------
struct PageCall {
    const Page* page;
    UINT id;
    std::string proc;
    UINT helpId;
};
struct Gauge {
    unsigned files = 0, totalFiles = 0;
    std::uint64_t bytes = 0, totalBytes = 0;  // the sizes the INF gives
    const char* name = "";
};
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // Answers a modal page: sets its output symbols and returns the event
    // word. Never returns when the run has to stop (ExitProcess).
    virtual std::string answer(const PageCall& call) = 0;
    // A modeless page was opened.
    virtual void showModeless(const PageCall& call) = 0;
    virtual int messageBox(const char* text, const char* caption, UINT type) = 0;
    // Copy progress: what is done of the whole copy list, `name` being
    // copied next ("" at the end).
    virtual void progress(const Gauge& gauge) = 0;
};
std::unique_ptr<FrontEnd> makeConsoleFrontEnd(FILE* in, FILE* out, FILE* record);
// The answers file is parsed before the run starts; errors name the line.
struct Answer {
    int line = 0;
    UINT dialog = 0;
    std::string event;
    std::vector<std::pair<std::string, std::string>> symbols;
};
bool parseAnswers(std::string_view text, std::vector<Answer>& out, std::string& error);
std::unique_ptr<FrontEnd> makeAnswersFrontEnd(std::vector<Answer> answers, std::string fileName, FILE* out);
FrontEnd& frontEnd();
void setFrontEnd(std::unique_ptr<FrontEnd> fe);

// Text of a page shown by a front-end, with its symbols filled in; with a
// width, the page's own text is wrapped at word boundaries to it.
std::string describePage(const PageCall& call, std::size_t width = 0);
// `text` broken at blanks into lines of at most `width` columns (a word
// longer than that gets a line of its own), each line after `indent`.
std::string wrapText(std::string_view text, std::size_t width, std::string_view indent = "");
// A gauge line: "[#####.....]  42%  3 of 7 files, 120 of 283 KB".
std::string gaugeLine(const Gauge& g, std::size_t barWidth);
// Puts a value in the answers-file form (quoted when needed).
std::string quoteAnswer(std::string_view v);

// Stops the run: message on stderr, "exit <code>" in the log, ExitProcess.
[[noreturn]] void stopRun(UINT code, const std::string& message);
// Ends the run at once at the user's demand (a second Ctrl-C): the host's
// abandon handler drops the run's changes, the log gets "result cancelled"
// and "exit 130", and the process ends with 130.
[[noreturn]] void abandonRun();
// From now on Ctrl-C (SIGINT) is counted instead of ending the process;
// the console front-end turns it into the page's cancel.
void catchInterrupts();
// Ctrl-C presses seen so far.
unsigned interruptCount();

// ---- log (log.cpp) ---------------------------------------------------------
bool openLog(const char* path);
void closeLog();
void logLine(std::string_view line);  // one line; CR/LF inside become blanks

// ---- message boxes and windows (frame.cpp) ---------------------------------
// Shows a box through MessageBoxA when the host routes those to the kit's
// front-end, else straight through the front-end.
int box(const char* text, const char* caption, UINT type);
HWND frameWindow();

// ---- machine files (files.cpp, inf_open.cpp) -------------------------------
bool isDirectory(const std::string& path);
bool createDirectories(const std::string& path);
bool readMachineFile(const char* path, std::string& out, DWORD& err);
HWND createPageWindow(UINT id, const char* title);

}  // namespace kit
