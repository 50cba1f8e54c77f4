// PostScript driver modules: found in the driver directory, copied up from
// the NT 3.5x spooler's version subdirectory, or fetched from the Windows
// distribution (the path page, the cabinet tool and its wait, the failure
// page), and the fatal rows of a distribution path that cannot be read.
#include <gtest/gtest.h>

#include <functional>

#include "install/driverfiles.h"
#include "install/extract95.h"
#include "install/fixture.h"
#include "install/paths.h"
#include <winver.h>
#include "winsim/files/state.h"

namespace {

using namespace installtest;

struct VersionRow {
    const char* name;
    std::vector<std::string> subdirs;  // each holding both modules
    bool inDriverDir;
    const char* status;  // "done" or "failed"
    int version;
};

ChildResult runNt35(Harness& h, const std::string& answers = "2300 CONTINUE\n") {
    return h.run(answers, [](LPSTR) {
        startupState();
        DWORD version = 77;
        DWORD status = setupForPPDInstallNT35(&version);
        harness::report("status=%s", stsSucceeded(status) ? "done" : "failed");
        harness::report("version=%u", (unsigned)version);
        return 0;
    });
}

TEST(SetupForPPDInstall, Nt35FindsTheModulesAndTheirVersion) {
    const VersionRow rows[] = {
        {"in the driver directory", {"7"}, true, "done", 1},
        {"in subdirectory 1", {"1"}, false, "done", 1},
        {"in subdirectory 0", {"0"}, false, "done", 0},
        // Only names starting with a dot are skipped, not names holding one.
        {"in subdirectory 2.0", {"2.0"}, false, "done", 2},
        {"in a subdirectory with no number", {"x"}, false, "failed", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        if (row.inDriverDir) putNtModules(h);
        for (const auto& sub : row.subdirs) putNtModules(h, sub);
        ChildResult r = runNt35(h);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("status"), row.status);
        if (row.version >= 0) {
            EXPECT_EQ(r.value("version"), std::to_string(row.version));
        }
        EXPECT_TRUE(r.pages().empty()) << "no page when the modules are at hand";
        EXPECT_TRUE(fs::exists(h.host(driverDir() + "\\pscript.dll")));
        EXPECT_TRUE(fs::exists(h.host(driverDir() + "\\pscrptui.dll")));
    }
}

// A subdirectory whose attribute word carries more than the directory bit
// is not searched: the modules are fetched, and here the distribution path
// cannot be read.
TEST(SetupForPPDInstall, Nt35SkipsDirectoriesWithOtherAttributes) {
    Harness h;
    putNtModules(h, "2");
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        startupState();
        winsim::machine().files->meta[std::string(::Setup.DriverDir) + "\\2"].attributes =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
        RegDeleteValueA(key, "WinntPath");
        RegCloseKey(key);
        DWORD version = 0;
        setupForPPDInstallNT35(&version);
        harness::report("returned=1");
        return 0;
    });
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("error"), (std::vector<std::string>{"error CopyPSDriverFiles -- Couldn't read dist. path, Error = 2"}));
}

// The distribution path the registry records: every way it cannot be read
// ends setup with its message.
TEST(CopyPSDriverFiles, UnreadableDistributionPathEndsSetup) {
    struct Row {
        const char* name;
        bool windows95;
        std::function<void()> damage;
        const char* message;
    } rows[] = {
        {"NT key refused", false,
         [] { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, "HKEY_LOCAL_MACHINE\\SYSTEM\\Setup"); },
         "error CopyPSDriverFiles -- Couldn't open dist. path key, Error = 5"},
        {"NT value not text", false,
         [] {
             HKEY key;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", 0, KEY_ALL_ACCESS, &key);
             DWORD v = 1;
             RegSetValueExA(key, "WinntPath", 0, REG_DWORD, (const BYTE*)&v, 4);
             RegCloseKey(key);
         },
         "error CopyPSDriverFiles -- Couldn't read dist. path, Error = 13"},
        {"Windows 95 key missing", true,
         [] { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup"); },
         "error CopyPSDriverFiles -- Couldn't open dist. path key, Error = 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.windows95 ? harness::win95() : harness::nt351());
        auto damage = row.damage;
        ChildResult r = h.run("2300 CONTINUE\n", [damage](LPSTR) {
            startupState();
            damage();
            CopyPSDriverFiles();
            harness::report("returned=1");
            return 0;
        });
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.lines("error"), (std::vector<std::string>{row.message}));
        EXPECT_TRUE(r.lines("page 1100").empty() && r.lines("page 102").empty());
    }
}

// Windows 95: the cabinet tool does not deliver, so the failure page comes
// and the path page is offered again; the user then leaves setup.
TEST(CopyPSDriverFiles, Windows95FailedFetchShowsTheFailurePageAndAsksAgain) {
    Harness h(harness::win95());
    put(h, "E:\\WIN95\\extract.exe");
    put(h, "E:\\WIN95\\win95_02.cab", "not a cabinet\n");  // the tool delivers nothing
    ChildResult r = h.run("102 CONTINUE\n103 CONTINUE\n102 CONTINUE EditTextOut=\"C:\\dist\"\n103 EXIT\n200 EXIT\n",
                          [](LPSTR) {
                              startupState();
                              DWORD version = 0;
                              setupForPPDInstallWin95(&version);
                              harness::report("returned=1");
                              return 0;
                          });
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.pages(), (std::vector<int>{102, 103, 102, 103, 200}));
    // The first try ran the tool; the second found no tool in C:\dist.
    EXPECT_EQ(r.lines("program").size(), 1u);
}

// --- The cabinet tool ---------------------------------------------------------

struct ExtractRun {
    std::string program;   // the log line of the started tool, or ""
    std::string result;
    std::string waited;    // virtual milliseconds spent
};

ExtractRun extract(Harness& h, const std::string& dist) {
    ChildResult r = h.run("", [dist](LPSTR) {
        startupState();
        std::uint64_t start = winsim::now();
        int result = ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir);
        harness::report("result=%d", result);
        harness::report("waited=%llu", (unsigned long long)(winsim::now() - start));
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    auto programs = r.lines("program ");
    return {programs.empty() ? "" : programs[0], r.value("result"), r.value("waited")};
}

TEST(ExtractWin95DriverFiles, MissingToolOrCabinetStartsNothing) {
    Harness h(harness::win95());
    fs::remove(h.host("E:\\WIN95\\extract.exe"));
    EXPECT_EQ(extract(h, "E:\\WIN95").program, "");  // no extract.exe
    put(h, "E:\\WIN95\\extract.exe");
    fs::remove(h.host("E:\\WIN95\\win95_02.cab"));
    ExtractRun run = extract(h, "E:\\WIN95");
    EXPECT_EQ(run.program, "");
    EXPECT_EQ(run.result, "0");
}

TEST(ExtractWin95DriverFiles, ToolGetsMissingCompanionsAndTheWaitEndsAfter41Polls) {
    Harness h(harness::win95());
    put(h, "E:\\WIN95\\extract.exe");
    put(h, "E:\\WIN95\\win95_02.cab", "not a cabinet\n");  // the tool delivers nothing
    std::string sys = winsim::machine().systemDir;
    put(h, sys + "\\fonts.mfm");
    ExtractRun run = extract(h, "E:\\WIN95\\");  // a trailing backslash is not doubled
    EXPECT_EQ(run.program, "program E:\\WIN95\\extract.exe /Y /A /L " + sys +
                               " E:\\WIN95\\win95_02.cab pscript.* iconlib.dll testps.txt apple380.spd");
    EXPECT_EQ(run.result, "0");
    EXPECT_EQ(run.waited, "20500");
}

TEST(ExtractWin95DriverFiles, TargetAtTheFirstPollWaitsTheSettlingPause) {
    Harness h(harness::win95());
    put(h, "E:\\WIN95\\extract.exe");
    std::string sys = winsim::machine().systemDir;
    for (const char* f : {"iconlib.dll", "fonts.mfm", "testps.txt", "apple380.spd", "pscript.drv"})
        put(h, sys + "\\" + f);
    ExtractRun run = extract(h, "E:\\WIN95");
    EXPECT_EQ(run.program, "program E:\\WIN95\\extract.exe /Y /A /L " + sys + " E:\\WIN95\\win95_02.cab pscript.*");
    EXPECT_EQ(run.result, "1");
    EXPECT_EQ(run.waited, "25000");
}

}  // namespace

namespace {

// Paths that do not fit their buffers fail the operation instead of being
// cut to another file's name.
TEST(DriverFilePaths, PathsThatDoNotFitFailTheOperation) {
    volatile std::size_t capacity = 16;  // not a constant the compiler checks the format against
    std::vector<char> out(capacity);
    EXPECT_TRUE(JoinPath(out.data(), capacity, "C:\\dir", "file.ext"));
    EXPECT_STREQ(out.data(), "C:\\dir\\file.ext");
    SetLastError(0);
    EXPECT_FALSE(JoinPath(out.data(), capacity, "C:\\dir", "file.exte"));
    EXPECT_STREQ(out.data(), "");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);

    Harness h(harness::win95());
    put(h, "E:\\WIN95\\extract.exe");
    ChildResult r = h.run("", [](LPSTR) {
        startupState();
        std::string dist = "E:\\" + std::string(300, 'd');
        harness::report("result=%d", ExtractWin95DriverFiles("pscript.drv", dist.c_str(), ::Setup.DriverDir));
        std::string dest = "C:\\" + std::string(600, 'p');
        harness::report("dest=%d", ExtractWin95DriverFiles("pscript.drv", "E:\\WIN95", dest.c_str()));
        harness::report("copy=%d", InstallDriverFile(std::string(300, 'f').c_str(), "E:\\I386", "C:\\x"));
        harness::report("error=%u", (unsigned)GetLastError());
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("result"), "0");
    EXPECT_EQ(r.value("dest"), "0");
    EXPECT_EQ(r.value("copy"), "0");
    EXPECT_EQ(r.value("error"), std::to_string(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(r.lines("program").empty());
}

}  // namespace
