// Conformance tests of the process calls: OpenProcess, TerminateProcess,
// GetExitCodeProcess, CreateProcessA, ShellExecuteA, and the image section.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/processes/state.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const DWORD kSentinel = 0xdeadbeef;

std::vector<std::string> events;
void listen(std::string_view kind, std::string_view text) { events.push_back(std::string(kind) + ": " + std::string(text)); }

struct Proc : ::testing::Test {
    fs::path c;

    void SetUp() override {
        auto& m = sim::fresh();
        c = m.drives.at('C').host;
        winsim::loadProcess(json::parse(R"({"list": [
            {"id": 0, "name": "Idle", "threads": 1, "priority": 0, "protected": true},
            {"id": 2, "name": "System", "threads": 24, "priority": 8, "protected": true},
            {"id": 91, "name": "PRINTMAN.EXE", "threads": 2, "priority": 8},
            {"id": 140, "name": "NOTEPAD.EXE", "threads": 1, "priority": 8}
        ]})"),
                            m);
        m.currentDir = "C:\\DIST";
        touch("DIST/setup.exe");
        touch("DIST/readme.txt");
        touch("WINNT35/system32/WRITE.EXE");
        touch("WINNT35/system32/winhlp32.exe");
        touch("WINNT35/system32/setup.exe");
        touch("Program Files/Tool/tool.exe");
        events.clear();
        winsim::setEventListener(listen);
        SetLastError(kSentinel);
    }
    void TearDown() override { winsim::setEventListener(nullptr); }

    void touch(const std::string& rel) {
        fs::create_directories((c / rel).parent_path());
        std::ofstream(c / rel) << "MZ";
    }

    std::vector<DWORD> ids() {
        std::vector<DWORD> out;
        for (auto& p : winsim::machine().processes->list) out.push_back(p->id);
        return out;
    }
};

// --- OpenProcess / TerminateProcess / GetExitCodeProcess --------------------

TEST_F(Proc, OpenProcessUnknownOrIdleIdIsInvalidParameter) {
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 4242), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 0), nullptr, ERROR_INVALID_PARAMETER);
}

TEST_F(Proc, TerminateRecordsExitCodeAndRemovesProcess) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, 91);
    ASSERT_NE(h, nullptr);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    ASSERT_TRUE(TerminateProcess(h, ERROR_PROCESS_ABORTED));
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(ids(), (std::vector<DWORD>{0, 2, 140}));
    code = 0;
    ASSERT_TRUE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, (DWORD)ERROR_PROCESS_ABORTED);
    // Ended: it cannot be ended again nor opened any more.
    EXPECT_FAILS(TerminateProcess(h, 1), ERROR_ACCESS_DENIED);
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 91), nullptr, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);
    ASSERT_EQ(winsim::machine().processes->ended.size(), 1u);
    EXPECT_EQ(winsim::machine().processes->ended[0]->exitCode, (DWORD)ERROR_PROCESS_ABORTED);
}

TEST_F(Proc, TerminateNeedsTheRightAndAnUnprotectedProcess) {
    HANDLE q = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 140);
    ASSERT_NE(q, nullptr);
    EXPECT_FAILS(TerminateProcess(q, 1), ERROR_ACCESS_DENIED);
    HANDLE t = OpenProcess(PROCESS_TERMINATE, FALSE, 140);
    DWORD code = 7;
    EXPECT_FAILS(GetExitCodeProcess(t, &code), ERROR_ACCESS_DENIED);
    EXPECT_EQ(code, 7u);
    HANDLE s = OpenProcess(PROCESS_ALL_ACCESS, FALSE, 2);
    ASSERT_NE(s, nullptr);
    EXPECT_FAILS(TerminateProcess(s, 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ids(), (std::vector<DWORD>{0, 2, 91, 140}));
    EXPECT_FAILS(TerminateProcess((HANDLE)0x999, 1), ERROR_INVALID_HANDLE);
    for (HANDLE h : {q, t, s}) CloseHandle(h);
}

TEST_F(Proc, DeclaredFaultOnOpenProcessNamesTheProcess) {
    winsim::machine().faults.push_back({"OpenProcess", 1, 0, ERROR_ACCESS_DENIED, "PRINTMAN.EXE"});
    EXPECT_LASTERROR(OpenProcess(PROCESS_TERMINATE, FALSE, 91), nullptr, ERROR_ACCESS_DENIED);
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 140);
    EXPECT_NE(h, nullptr);
    CloseHandle(h);
}

// --- CreateProcessA ----------------------------------------------------------

TEST_F(Proc, CreateProcessSearchesAndRecords) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0xcc, sizeof pi);
    char cmd[] = "write C:\\DIST\\readme.txt";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_NE(pi.hProcess, nullptr);
    EXPECT_NE(pi.hThread, nullptr);
    EXPECT_NE(pi.hProcess, pi.hThread);
    EXPECT_NE(pi.dwProcessId, pi.dwThreadId);
    auto p = winsim::findProcess(winsim::machine(), pi.dwProcessId);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->name, "WRITE.EXE");  // as the file is named on disk
    EXPECT_EQ(winsim::machine().processes->started, (std::vector<std::string>{cmd}));
    EXPECT_EQ(events, (std::vector<std::string>{std::string("program: ") + cmd}));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    EXPECT_TRUE(CloseHandle(pi.hThread));
    // The new process can be opened and ended like any other.
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pi.dwProcessId);
    ASSERT_TRUE(TerminateProcess(h, 3));
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 3u);
    CloseHandle(h);
    CloseHandle(pi.hProcess);
}

TEST_F(Proc, CreateProcessPrefersCurrentDirectoryAndTakesQuotedPaths) {
    STARTUPINFOA si{};
    PROCESS_INFORMATION pi{};
    char cmd[] = "setup /q";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(winsim::findProcess(winsim::machine(), pi.dwProcessId)->name, "setup.exe");
    char quoted[] = "\"C:\\Program Files\\Tool\\tool.exe\" -x";
    ASSERT_TRUE(CreateProcessA(nullptr, quoted, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(winsim::findProcess(winsim::machine(), pi.dwProcessId)->name, "tool.exe");
    // The application name is taken as given: no extension added.
    ASSERT_TRUE(CreateProcessA("C:\\WINNT35\\SYSTEM32\\winhlp32.exe", nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    EXPECT_FAILS(CreateProcessA("C:\\WINNT35\\SYSTEM32\\winhlp32", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(winsim::machine().processes->started.size(), 3u);
}

TEST_F(Proc, CreateProcessOfMissingProgramFailsAndRecordsNothing) {
    STARTUPINFOA si{};
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0xcc, sizeof pi);
    char cmd[] = "extract /e win95_02.cab";
    EXPECT_FAILS(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi),
                 ERROR_FILE_NOT_FOUND);
    char inMissingDir[] = "C:\\NOWHERE\\x.exe";
    EXPECT_FAILS(CreateProcessA(nullptr, inMissingDir, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi),
                 ERROR_PATH_NOT_FOUND);
    // ".." never leaves the drive: it stops at the root.
    char escape[] = "..\\..\\..\\..\\..\\..\\bin\\sh";
    EXPECT_FAILS(CreateProcessA(nullptr, escape, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi),
                 ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(winsim::machine().processes->started.empty());
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(ids().size(), 4u);
    unsigned char* raw = reinterpret_cast<unsigned char*>(&pi);
    for (std::size_t i = 0; i < sizeof pi; ++i) EXPECT_EQ(raw[i], 0xcc);
}

TEST_F(Proc, SimulatedProgramEndsInVirtualTime) {
    static int ran = 0;
    ran = 0;
    winsim::registerProgram("slowtool.exe", {[](winsim::Machine&, winsim::SimProcess& p) {
                                p.endsAt = winsim::now() + 5000;
                                p.exitCodeAtEnd = 0;
                                p.onExit = [](winsim::Machine&, winsim::SimProcess&) { ++ran; };
                            }});
    touch("DIST/SLOWTOOL.EXE");
    STARTUPINFOA si{};
    PROCESS_INFORMATION pi{};
    char cmd[] = "slowtool";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    DWORD code = 0;
    winsim::advance(4999);
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    EXPECT_EQ(ran, 0);
    winsim::advance(1);
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(winsim::findProcess(winsim::machine(), pi.dwProcessId), nullptr);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

// --- ShellExecuteA -----------------------------------------------------------

TEST_F(Proc, ShellExecuteRecordsAndAnswersLikeWindows) {
    HINSTANCE r = ShellExecuteA(nullptr, "open", "winhlp32.exe", "setup.hlp", nullptr, SW_SHOWNORMAL);
    EXPECT_GT((INT_PTR)r, 32);
    EXPECT_EQ(events, (std::vector<std::string>{"program: winhlp32.exe setup.hlp"}));
    r = ShellExecuteA(nullptr, nullptr, "readme.txt", nullptr, "C:\\DIST", SW_SHOWNORMAL);
    EXPECT_GT((INT_PTR)r, 32);
    EXPECT_EQ(winsim::machine().processes->started.back(), "readme.txt");
    EXPECT_EQ((INT_PTR)ShellExecuteA(nullptr, "open", "nothere.exe", nullptr, nullptr, SW_SHOWNORMAL), SE_ERR_FNF);
    EXPECT_EQ((INT_PTR)ShellExecuteA(nullptr, "open", "x.exe", nullptr, "C:\\NODIR", SW_SHOWNORMAL), SE_ERR_PNF);
    EXPECT_EQ((INT_PTR)ShellExecuteA(nullptr, "explore", "readme.txt", nullptr, nullptr, SW_SHOWNORMAL), SE_ERR_NOASSOC);
    EXPECT_EQ(winsim::machine().processes->started.size(), 2u);
    // A program runs as a process; a document does not add one here.
    EXPECT_EQ(ids().size(), 5u);
}

// --- image section -----------------------------------------------------------

TEST_F(Proc, ImageSectionRoundTripsAndShows) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 91);
    TerminateProcess(h, 1067);
    CloseHandle(h);
    ShellExecuteA(nullptr, nullptr, "write.exe", "a.wri", nullptr, SW_SHOWNORMAL);
    json saved;
    winsim::saveProcess(saved, winsim::machine());
    auto& m2 = winsim::install(winsim::makeBareMachine({}, c));
    winsim::loadProcess(saved, m2);
    json again;
    winsim::saveProcess(again, m2);
    EXPECT_EQ(saved, again);
    std::ostringstream out;
    winsim::showProcess(out, m2);
    EXPECT_NE(out.str().find("140 NOTEPAD.EXE, 1 thread, priority 8"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("2 System, 24 threads, priority 8, protected"), std::string::npos);
    EXPECT_NE(out.str().find("91 PRINTMAN.EXE, exit code 1067"), std::string::npos);
    EXPECT_NE(out.str().find("Programs started:\n  write.exe a.wri"), std::string::npos);
    // New ids do not reuse those of the image.
    HINSTANCE r = ShellExecuteA(nullptr, nullptr, "write.exe", nullptr, nullptr, SW_SHOWNORMAL);
    EXPECT_GT((INT_PTR)r, 32);
    std::vector<DWORD> seen;
    for (auto& p : m2.processes->list) seen.push_back(p->id);
    for (auto& p : m2.processes->ended) seen.push_back(p->id);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

TEST(ProcImage, MalformedSectionsNameTheProblem) {
    auto& m = sim::fresh();
    auto message = [&](const char* text) {
        try {
            winsim::loadProcess(json::parse(text), m);
        } catch (const winsim::ImageError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message(R"({"list":[{"name":"A.EXE"}]})").find("needs an \"id\""), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"id":4,"name":"A"},{"id":4,"name":"B"}]})").find("declared twice"), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"id":4,"name":""}]})").find("list[0].name"), std::string::npos);
    EXPECT_NE(message(R"({"list":[{"id":4,"name":"A","threads":-1}]})").find("threads"), std::string::npos);
    EXPECT_NE(message(R"({"started":"x"})").find("started"), std::string::npos);
}

}  // namespace

namespace {

TEST(ProcDefaults, FreshSystemsListTheirProcessesAndServices) {
    auto& m = sim::fresh();
    winsim::addDefaultProcesses(m);
    auto csrss = winsim::findProcess(m, 27);
    ASSERT_NE(csrss, nullptr);
    EXPECT_EQ(csrss->name, "CSRSS.EXE");
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, 27);
    EXPECT_FAILS(TerminateProcess(h, 1), ERROR_ACCESS_DENIED);
    CloseHandle(h);
    h = OpenProcess(PROCESS_TERMINATE, FALSE, 90);  // Program Manager may be ended
    EXPECT_TRUE(TerminateProcess(h, 0));
    CloseHandle(h);
}

}  // namespace
