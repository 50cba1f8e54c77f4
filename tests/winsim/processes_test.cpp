// Conformance tests of the process calls: OpenProcess, TerminateProcess,
// GetExitCodeProcess, CreateProcessA, ShellExecuteA, and the image section.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/processes/state.h"
#include "sim.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

using nlohmann::json;
using Ids = std::vector<DWORD>;

std::vector<std::string> events;
void listen(std::string_view kind, std::string_view text) { events.push_back(std::string(kind) + ": " + std::string(text)); }

struct Proc : sim::MachineTest {
    STARTUPINFOA si{};
    PROCESS_INFORMATION pi{};

    void SetUp() override {
        make();
        winsim::loadProcess(json::parse(R"({"list": [
            {"id": 0, "name": "Idle", "threads": 1, "priority": 0, "protected": true},
            {"id": 2, "name": "System", "threads": 24, "priority": 8, "protected": true},
            {"id": 91, "name": "PRINTMAN.EXE", "threads": 2, "priority": 8},
            {"id": 140, "name": "NOTEPAD.EXE", "threads": 1, "priority": 8}
        ]})"),
                            m());
        m().currentDir = "C:\\DIST";
        for (const char* f : {"DIST/setup.exe", "DIST/readme.txt", "WINNT35/system32/WRITE.EXE",
                              "WINNT35/system32/winhlp32.exe", "WINNT35/system32/setup.exe", "Program Files/Tool/tool.exe"})
            hostFile(f, "MZ");
        events.clear();
        winsim::setEventListener(listen);
    }
    void TearDown() override {
        winsim::setEventListener(nullptr);
        MachineTest::TearDown();
    }
    Ids ids() {
        Ids out;
        for (auto& p : m().processes->list) out.push_back(p->id);
        return out;
    }
    BOOL create(const char* app, std::string cmd = "") {
        return CreateProcessA(app, cmd.empty() ? nullptr : cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &pi);
    }
    std::string nameOf(DWORD id) {
        auto p = winsim::findProcess(m(), id);
        return p ? p->name : "<none>";
    }
    DWORD exitCode(HANDLE h) {
        DWORD code = 0xdeadbeef;
        EXPECT_TRUE(GetExitCodeProcess(h, &code));
        return code;
    }
};

// --- OpenProcess / TerminateProcess / GetExitCodeProcess --------------------

TEST_F(Proc, TerminateNeedsTheRightAndAnUnprotectedProcessAndRecordsTheExitCode) {
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 4242), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 0), nullptr, ERROR_INVALID_PARAMETER);  // Idle
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 140), t = OpenProcess(PROCESS_TERMINATE, FALSE, 140);
    HANDLE s = OpenProcess(PROCESS_ALL_ACCESS, FALSE, 2);
    ASSERT_TRUE(q && t && s);
    EXPECT_FAILS(TerminateProcess(q, 1), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(TerminateProcess(s, 1), ERROR_ACCESS_DENIED);  // protected
    DWORD code = 7;
    EXPECT_FAILS(GetExitCodeProcess(t, &code), ERROR_ACCESS_DENIED);
    EXPECT_EQ(code, 7u);
    EXPECT_FAILS(TerminateProcess((HANDLE)0x999, 1), ERROR_INVALID_HANDLE);
    for (HANDLE h : {q, t, s}) CloseHandle(h);
    EXPECT_EQ(ids(), (Ids{0, 2, 91, 140}));

    HANDLE h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, 91);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(exitCode(h), (DWORD)STILL_ACTIVE);
    EXPECT_LASTERROR(TerminateProcess(h, ERROR_PROCESS_ABORTED), TRUE, sim::kSentinel);
    EXPECT_EQ(ids(), (Ids{0, 2, 140}));
    EXPECT_EQ(exitCode(h), (DWORD)ERROR_PROCESS_ABORTED);
    // Ended: it cannot be ended again nor opened any more.
    EXPECT_FAILS(TerminateProcess(h, 1), ERROR_ACCESS_DENIED);
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 91), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m().processes->ended.size() == 1 ? m().processes->ended[0]->exitCode : 0u, (DWORD)ERROR_PROCESS_ABORTED);
    // A declared fault on OpenProcess names its process.
    m().faults.push_back({"OpenProcess", 1, 0, ERROR_ACCESS_DENIED, "NOTEPAD.EXE"});
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 140), nullptr, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(OpenProcess(PROCESS_TERMINATE, FALSE, 2)));
}

// --- CreateProcessA ----------------------------------------------------------

TEST_F(Proc, CreateProcessSearchesAndRecords) {
    const char* cmd = "write C:\\DIST\\readme.txt";
    ASSERT_TRUE(create(nullptr, cmd));
    EXPECT_TRUE(pi.hProcess && pi.hThread && pi.hProcess != pi.hThread && pi.dwProcessId != pi.dwThreadId);
    EXPECT_EQ(nameOf(pi.dwProcessId), "WRITE.EXE");  // as the file is named on disk
    EXPECT_EQ(m().processes->started, (std::vector<std::string>{cmd}));
    EXPECT_EQ(events, (std::vector<std::string>{std::string("program: ") + cmd}));
    EXPECT_EQ(exitCode(pi.hProcess), (DWORD)STILL_ACTIVE);
    EXPECT_TRUE(CloseHandle(pi.hThread));
    // The new process can be opened and ended like any other.
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pi.dwProcessId);
    ASSERT_TRUE(TerminateProcess(h, 3));
    EXPECT_EQ(exitCode(pi.hProcess), 3u);
    CloseHandle(h);
    CloseHandle(pi.hProcess);
    // The current directory comes first; quoted paths; the application
    // name is taken as given, no extension added; ".." stops at the root.
    const struct {
        const char *app, *cmd, *name;
        DWORD error;
    } rows[] = {
        {nullptr, "setup /q", "setup.exe", 0},
        {nullptr, "\"C:\\Program Files\\Tool\\tool.exe\" -x", "tool.exe", 0},
        {"C:\\WINNT35\\SYSTEM32\\winhlp32.exe", "", "winhlp32.exe", 0},
        {"\\WINNT35\\SYSTEM32\\winhlp32.exe", "", "winhlp32.exe", 0},  // from the root of the current drive
        {"C:\\WINNT35\\SYSTEM32\\winhlp32", "", nullptr, ERROR_FILE_NOT_FOUND},
        {nullptr, "extract /e win95_02.cab", nullptr, ERROR_FILE_NOT_FOUND},
        {nullptr, "C:\\NOWHERE\\x.exe", nullptr, ERROR_PATH_NOT_FOUND},
        {nullptr, "..\\..\\..\\..\\..\\..\\bin\\sh", nullptr, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.cmd);
        std::memset(&pi, 0xcc, sizeof pi);
        if (r.name) {
            ASSERT_TRUE(create(r.app, r.cmd));
            EXPECT_EQ(nameOf(pi.dwProcessId), r.name);
            continue;
        }
        EXPECT_FAILS(create(r.app, r.cmd), r.error);
        const auto* raw = reinterpret_cast<const unsigned char*>(&pi);
        EXPECT_TRUE(std::all_of(raw, raw + sizeof pi, [](unsigned char c) { return c == 0xcc; }));
    }
    EXPECT_EQ(m().processes->started.size(), 5u);
    EXPECT_EQ(events.size(), 5u);
    EXPECT_EQ(ids().size(), 8u);
}

// --- ShellExecuteA -----------------------------------------------------------

TEST_F(Proc, ShellExecuteRecordsAndAnswersLikeWindows) {
    auto run = [](const char* verb, const char* file, const char* params, const char* dir) {
        return (INT_PTR)ShellExecuteA(nullptr, verb, file, params, dir, SW_SHOWNORMAL);
    };
    EXPECT_GT(run("open", "winhlp32.exe", "setup.hlp", nullptr), 32);
    EXPECT_EQ(events, (std::vector<std::string>{"program: winhlp32.exe setup.hlp"}));
    EXPECT_GT(run(nullptr, "readme.txt", nullptr, "C:\\DIST"), 32);
    EXPECT_EQ(m().processes->started.back(), "readme.txt");
    EXPECT_EQ(run("open", "nothere.exe", nullptr, nullptr), SE_ERR_FNF);
    EXPECT_EQ(run("open", "x.exe", nullptr, "C:\\NODIR"), SE_ERR_PNF);
    EXPECT_EQ(run("explore", "readme.txt", nullptr, nullptr), SE_ERR_NOASSOC);
    EXPECT_EQ(m().processes->started.size(), 2u);
    EXPECT_EQ(ids().size(), 5u);  // a program runs as a process; a document does not add one here
}

// --- image section and defaults ----------------------------------------------

// The section's round trip with `show`; malformed sections; the defaults
// of a fresh system: CSRSS cannot be ended, Program Manager can.
TEST_F(Proc, ImageSectionAndDefaults) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 91);
    TerminateProcess(h, 1067);
    CloseHandle(h);
    ShellExecuteA(nullptr, nullptr, "write.exe", "a.wri", nullptr, SW_SHOWNORMAL);
    json saved;
    winsim::saveProcess(saved, m());
    auto& m2 = winsim::install(winsim::makeBareMachine({}, c));
    winsim::loadProcess(saved, m2);
    std::ostringstream out;
    winsim::showProcess(out, m2);
    for (const char* line : {"140 NOTEPAD.EXE, 1 thread, priority 8", "2 System, 24 threads, priority 8, protected",
                             "91 PRINTMAN.EXE, exit code 1067", "Programs started:\n  write.exe a.wri"})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    // New ids do not reuse those of the image.
    EXPECT_GT((INT_PTR)ShellExecuteA(nullptr, nullptr, "write.exe", nullptr, nullptr, SW_SHOWNORMAL), 32);
    Ids seen;
    for (auto& p : m2.processes->list) seen.push_back(p->id);
    for (auto& p : m2.processes->ended) seen.push_back(p->id);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());

    const std::pair<const char*, const char*> rows[] = {
        {R"({"list":[{"name":"A.EXE"}]})", "/processes/list/0/id: missing"},
        {R"({"list":[{"id":4,"name":""}]})", "/processes/list/0/name"},
    };
    auto& m3 = sim::fresh();
    for (auto [text, message] : rows) {
        try {
            winsim::loadProcess(json::parse(text), m3);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const winsim::ImageError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    winsim::addDefaultProcesses(m3);
    EXPECT_EQ(nameOf(27) + " " + nameOf(90), "CSRSS.EXE PROGMAN.EXE");
    h = OpenProcess(PROCESS_TERMINATE, FALSE, 27);
    EXPECT_FAILS(TerminateProcess(h, 1), ERROR_ACCESS_DENIED);
    CloseHandle(h);
    h = OpenProcess(PROCESS_TERMINATE, FALSE, 90);
    EXPECT_TRUE(TerminateProcess(h, 0));
    CloseHandle(h);
}

}  // namespace
