// The winsim command: creating, showing, exporting, importing, rebooting and
// comparing machine images, and refusing damaged ones without touching them.
#include "image_fixture.h"

#include "winsim/image/image.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int code;
    std::string out;
};

// Runs the winsim tool with `args`; stdout and stderr together.
ToolRun winsim(const std::string& args) {
    std::string cmd = std::string(BIN_DIR) + "/winsim " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

using imagetest::readAll;
using imagetest::snapshot;
using imagetest::writeAll;

struct Proc {
    int code;  // -1: killed by a signal
    std::string out, err;
};

// Runs a program of build/bin in `cwd` with `input` on stdin. With
// `closedStdout`, its standard output is a pipe nobody reads any more.
Proc runProgram(const std::string& name, const std::vector<std::string>& args, const fs::path& cwd,
               const std::string& input = "", bool closedStdout = false) {
    fs::path tmp = fs::temp_directory_path();
    fs::path in = tmp / "run.in", out = tmp / "run.out", err = tmp / "run.err";
    writeAll(in, input);
    int pipeFds[2] = {-1, -1};
    if (closedStdout && ::pipe(pipeFds) != 0) return {-2, "", "pipe failed"};
    pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        int i = ::open(in.c_str(), O_RDONLY);
        int o = closedStdout ? pipeFds[1] : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(i, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (closedStdout) ::close(pipeFds[0]);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<std::string> store = {std::string(BIN_DIR) + "/" + name};
        store.insert(store.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (closedStdout) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, closedStdout ? "" : readAll(out), readAll(err)};
}

const fs::path kDist = fs::path(SOURCE_ROOT) / "dist";
const std::string kInstall = (kDist / "answers" / "install-default.ans").string();

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("winsim-tool-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string at(const char* name) const { return (dir / name).string(); }
    fs::path dir;
};

TEST_F(Tool, ExportOfOneMachineImportsIntoAnotherByteForByte) {
    ASSERT_EQ(winsim("new " + at("m1") + " --os nt351 --arch x86").code, 0);
    ToolRun exported = winsim("reg export " + at("m1"));
    ASSERT_EQ(exported.code, 0);
    writeAll(dir / "m1.reg", exported.out);
    ASSERT_EQ(winsim("new " + at("m2") + " --os nt351 --arch x86").code, 0);
    ASSERT_EQ(winsim("reg import " + at("m2") + " " + at("m1.reg")).code, 0);
    EXPECT_EQ(winsim("reg export " + at("m2")).out, exported.out);
    // What a fresh machine carries for the program.
    EXPECT_NE(exported.out.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Local Port]"),
              std::string::npos);
    EXPECT_NE(exported.out.find("\"WinntPath\"=\"E:\\\\I386\""), std::string::npos);
    EXPECT_NE(exported.out.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009]"),
              std::string::npos);
}

TEST_F(Tool, RegFileWithEveryValueFormRoundTrips) {
    const std::string text =
        "REGEDIT4\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\n"
        "@=\"default \\\"quoted\\\" C:\\\\path\"\n"
        "\"String\"=\"plain\"\n"
        "\"Number\"=dword:0000abcd\n"
        "\"Bytes\"=hex:00,01,fe,ff\n"
        "\"Expand\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,00\n"
        "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\n"
        "\"Odd\"=hex(a):01,02\n"
        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
        "  16,17,18,19,1a,1b,1c,1d,1e,1f\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\\Sub Key]\n"
        "\"Empty\"=\"\"\n"
        "\n";
    writeAll(dir / "all.reg", text);
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86").code, 0);
    ToolRun imp = winsim("reg import " + at("m") + " " + at("all.reg"));
    ASSERT_EQ(imp.code, 0) << imp.out;
    ToolRun exp = winsim("reg export " + at("m") + " \"HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\"");
    ASSERT_EQ(exp.code, 0) << exp.out;
    EXPECT_EQ(exp.out, text);
}

TEST_F(Tool, DamagedImagesAreRefusedNamingFileAndLineAndLeftAsTheyWere) {
    ASSERT_EQ(winsim("new " + at("m") + " --os win95 --arch x86").code, 0);
    fs::path json = dir / "m" / "machine.json";
    std::string good = readAll(json);
    // A syntax error on line 3 of machine.json.
    std::string bad = good;
    std::size_t second = bad.find('\n', bad.find('\n') + 1);
    bad.insert(second + 1, "  \"broken\": ,\n");
    writeAll(json, bad);
    auto before = snapshot(dir / "m");
    writeAll(dir / "ok.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n");
    ToolRun r = winsim("reg import " + at("m") + " " + at("ok.reg"));
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.out.find("machine.json:3"), std::string::npos) << r.out;
    EXPECT_EQ(snapshot(dir / "m"), before);

    // A damaged registry file of the image.
    writeAll(json, good);
    fs::path hive = dir / "m" / "registry" / "HKEY_LOCAL_MACHINE.reg";
    std::string hiveText = readAll(hive);
    writeAll(hive, hiveText + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\n\"v\"=dword:xyz\n");
    before = snapshot(dir / "m");
    r = winsim("show " + at("m"));
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.out.find("HKEY_LOCAL_MACHINE.reg:"), std::string::npos) << r.out;
    EXPECT_EQ(snapshot(dir / "m"), before);

    // A damaged file given to import: the image keeps its registry.
    writeAll(hive, hiveText);
    writeAll(dir / "bad.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Y]\n\"a\"=\"b\"\n\"c\"=hex:zz\n");
    before = snapshot(dir / "m");
    r = winsim("reg import " + at("m") + " " + at("bad.reg"));
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.out.find("bad.reg:5"), std::string::npos) << r.out;
    EXPECT_EQ(snapshot(dir / "m"), before);
    // No working or staging folders are left beside the image, only its lock.
    EXPECT_EQ(imagetest::othersIn(dir, {"m", ".m.lock", "ok.reg", "bad.reg"}), std::vector<std::string>{});
}

TEST_F(Tool, NewPosesVersionWordsAndFreeSpace) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch alpha --version 3.52 --build 1200 --disk-free C=1048576 --user user").code, 0);
    std::string json = readAll(dir / "m" / "machine.json");
    EXPECT_NE(json.find("\"minor\": 52"), std::string::npos);
    EXPECT_NE(json.find("\"build\": 1200"), std::string::npos);
    EXPECT_NE(json.find("\"free\": 1048576"), std::string::npos);
    EXPECT_NE(json.find("\"PROCESSOR_ARCHITECTURE\": \"ALPHA\""), std::string::npos);
    ToolRun show = winsim("show " + at("m"));
    EXPECT_EQ(show.code, 0);
    EXPECT_NE(show.out.find("Spooler: running"), std::string::npos) << show.out;

    EXPECT_EQ(winsim("new " + at("x") + " --os nt99 --arch x86").code, 1);
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86").code, 1);  // exists already
}

TEST_F(Tool, NewPlacesTheWindowsDistributionAndThePostScriptModules) {
    struct Case {
        const char* options;
        std::vector<const char*> present, absent;  // paths below the image's drives folder
        const char* regValue;                      // the distribution path as the registry records it
    };
    const Case cases[] = {
        {"--os nt351 --arch mips --ps-modules driverdir",
         {"E/I386/pscript.dll", "E/MIPS/pscrptui.dll", "E/ALPHA/pscript.hlp",
          "C/WINNT35/system32/spool/DRIVERS/W32MIPS/pscript.dll"},
         {"C/WINNT35/system32/spool/DRIVERS/W32MIPS/1"},
         "\"WinntPath\"=\"E:\\\\MIPS\""},
        {"--os nt351 --arch x86 --ps-modules versiondir --windows-dist F",
         {"F/I386/pscript.dll", "C/WINNT35/system32/spool/DRIVERS/W32X86/1/pscrptui.dll"},
         {"E", "C/WINNT35/system32/spool/DRIVERS/W32X86/pscript.dll"},
         "\"WinntPath\"=\"F:\\\\I386\""},
        {"--os nt31 --arch x86 --ps-modules versiondir --windows-dist none",
         {"C/WINNT/system32/spool/DRIVERS/W32X86/0/pscript.dll"}, {"E"}, "\"WinntPath\"=\"E:\\\\I386\""},
        {"--os nt350 --arch x86 --ps-modules versiondir=x", {"C/WINNT35/system32/spool/DRIVERS/W32X86/x/pscript.dll"},
         {}, "\"WinntPath\"=\"E:\\\\I386\""},
        {"--os win95 --arch x86 --ps-modules driverdir --extract-ms 30000",
         {"E/WIN95/extract.exe", "E/WIN95/win95_02.cab", "C/WINDOWS/SYSTEM/pscript.drv"}, {},
         "\"SourcePath\"=\"E:\\\\WIN95\\\\\""},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.options);
        std::string m = at(("m" + std::to_string(n++)).c_str());
        ToolRun r = winsim("new " + m + " " + k.options);
        ASSERT_EQ(r.code, 0) << r.out;
        for (const char* p : k.present) EXPECT_TRUE(fs::exists(fs::path(m) / "drives" / p)) << p;
        for (const char* p : k.absent) EXPECT_FALSE(fs::exists(fs::path(m) / "drives" / p)) << p;
        EXPECT_NE(winsim("reg export " + m).out.find(k.regValue), std::string::npos);
    }
    EXPECT_NE(readAll(dir / "m4" / "machine.json").find("\"run_ms\": 30000"), std::string::npos);
    // The modules carry the version of the Windows they belong to.
    EXPECT_NE(readAll(dir / "m3" / "machine.json").find("\"version\": \"3.50.807.1\""), std::string::npos);
    for (const char* bad : {"--ps-modules somewhere", "--ps-modules versiondir=a\\\\b", "--windows-dist 7",
                            "--extract-ms soon"}) {
        SCOPED_TRACE(bad);
        ToolRun r = winsim("new " + at("bad") + " --os nt351 --arch x86 " + bad);
        EXPECT_EQ(r.code, 1) << r.out;
        EXPECT_FALSE(fs::exists(dir / "bad"));
    }
    EXPECT_EQ(winsim("new " + at("bad") + " --os win95 --arch x86 --ps-modules versiondir").code, 1);
}

// One change, one line: list entries are matched by what names them, a
// changed value is one line; exit codes as diff(1).
TEST_F(Tool, DiffShowsEachChangeOnceAndExitsLikeDiff) {
    ASSERT_EQ(winsim("new " + at("a") + " --os nt351 --arch x86").code, 0);
    fs::copy(dir / "a", dir / "b", fs::copy_options::recursive);
    EXPECT_EQ(winsim("diff " + at("a") + " " + at("b")).code, 0);
    writeAll(dir / "add.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\n\"v\"=dword:00000001\n\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Spooler]\n\"Start\"=dword:00000003\n\n");
    ASSERT_EQ(winsim("reg import " + at("b") + " " + at("add.reg")).code, 0);
    writeAll(dir / "b" / "drives" / "C" / "new.txt", "x");
    // One process ended (the third of the list), one service stopped.
    nlohmann::json j = nlohmann::json::parse(readAll(dir / "b" / "machine.json"));
    auto& procs = j["processes"]["list"];
    ASSERT_GE(procs.size(), 4u);
    std::string ended = procs[2]["id"].dump();
    procs.erase(procs.begin() + 2);
    std::string service;
    for (auto& sv : j["services"]["list"])
        if (sv["state"] == "running" && service.empty()) {
            service = sv["name"].get<std::string>();
            sv["state"] = "stopped";
        }
    ASSERT_FALSE(service.empty());
    writeAll(dir / "b" / "machine.json", j.dump(2));

    ToolRun d = winsim("diff " + at("a") + " " + at("b"));
    EXPECT_EQ(d.code, 1);
    std::vector<std::string> lines;
    std::istringstream in(d.out);
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.find(" = ")));
    const std::vector<std::string> expected = {
        "- state processes.list[id=" + ended + "]",
        "~ state services.list[name=" + service + "].state: \"running\" -> \"stopped\"",
        "~ value [HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Spooler] \"Start\"=dword:00000002 -> "
        "dword:00000003",
        "+ key [HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]",
        "+ value [HKEY_LOCAL_MACHINE\\SOFTWARE\\Added] \"v\"=dword:00000001",
        "+ file C:\\new.txt",
    };
    EXPECT_EQ(lines, expected) << d.out;

    for (const std::string& bad : {"diff " + at("a") + " " + at("none"), "diff " + at("a"), "diff " + at("add.reg") + " " + at("b")}) {
        ToolRun r = winsim(bad);
        EXPECT_EQ(r.code, 2) << bad << "\n" << r.out;
    }
}

// While one writer holds an image, every other writer is refused at once
// naming the holder, and the image is left alone; readers go on.
TEST_F(Tool, SecondWriterIsRefusedNamingTheHolderReadersAreNot) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86 --ps-modules driverdir").code, 0);
    writeAll(dir / "ok.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n\n");
    auto before = snapshot(dir / "m");
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {"setup", {"--machine", at("m"), "--answers", kInstall}, 5},
        {"winsim", {"reg", "import", at("m"), at("ok.reg")}, 5},
        {"winsim", {"reboot", at("m")}, 5},
        {"winsim", {"new", at("m"), "--os", "nt351", "--arch", "x86"}, 5},
        {"winsim", {"show", at("m")}, 0},
        {"winsim", {"reg", "export", at("m")}, 0},
        {"winsim", {"diff", at("m"), at("m")}, 0},
    };
    {
        winsim::ImageLock held(dir / "m");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.program) + " " + c.args[0]);
            Proc r = runProgram(c.program, c.args, kDist);
            EXPECT_EQ(r.code, c.code) << r.err;
            if (c.code == 5) {
                EXPECT_NE(r.err.find("the machine image " + at("m") + " is in use by process " + std::to_string(::getpid())),
                          std::string::npos)
                    << r.err;
            }
        }
        EXPECT_EQ(snapshot(dir / "m"), before);
    }
    // Free again: the next writer goes ahead.
    EXPECT_EQ(runProgram("winsim", {"reg", "import", at("m"), at("ok.reg")}, kDist).code, 0);
}

// An image that cannot be saved is refused before the first page, with the
// reason; one that becomes unsavable during a run ends it with exit 4 and a
// log that says so. The image stays as it was either way.
TEST_F(Tool, ImagesThatCannotBeWrittenAreRefusedBeforeActing) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86 --ps-modules driverdir").code, 0);
    writeAll(dir / "ok.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n\n");
    auto before = snapshot(dir / "m");
    ASSERT_TRUE(imagetest::readOnly(dir / "m"));
    const std::vector<std::pair<const char*, std::vector<std::string>>> writers = {
        {"setup", {"--machine", at("m"), "--answers", kInstall, "--log", at("setup.log")}},
        {"winsim", {"reg", "import", at("m"), at("ok.reg")}},
        {"winsim", {"reboot", at("m")}},
    };
    for (auto& [program, args] : writers) {
        SCOPED_TRACE(std::string(program) + " " + args[0]);
        Proc r = runProgram(program, args, kDist);
        EXPECT_EQ(r.code, 4) << r.err;
        EXPECT_NE(r.err.find("the machine image " + at("m") + " cannot be written: " + at("m") + ": "), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("=="), std::string::npos) << "a page was shown:\n" << r.out;
    }
    EXPECT_FALSE(fs::exists(dir / "setup.log"));
    EXPECT_EQ(runProgram("winsim", {"show", at("m")}, kDist).code, 0);
    ASSERT_TRUE(imagetest::writable(dir / "m"));
    EXPECT_EQ(snapshot(dir / "m"), before);
    EXPECT_EQ(imagetest::othersIn(dir, {"m", ".m.lock", "ok.reg"}), std::vector<std::string>{});

    // Made read-only while the first page waits for an answer: the run
    // ends with 4, the log says exit 4, the image is unchanged.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::dup2(fromChild[1], 2);
        ::close(toChild[1]);
        ::close(fromChild[0]);
        if (::chdir(kDist.c_str()) != 0) ::_exit(126);
        std::string program = std::string(BIN_DIR) + "/setup", m = at("m"), log = at("setup.log");
        ::execl(program.c_str(), program.c_str(), "--machine", m.c_str(), "--log", log.c_str(), (char*)nullptr);
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    std::string shown;
    char buf[4096];
    while (shown.find("> ") == std::string::npos) {
        ssize_t n = ::read(fromChild[0], buf, sizeof buf);
        if (n <= 0) break;
        shown.append(buf, (std::size_t)n);
    }
    ASSERT_NE(shown.find("> "), std::string::npos) << shown;
    ASSERT_TRUE(imagetest::readOnly(dir / "m"));
    const char quit[] = "x\nx\n";  // Exit setup, then confirm
    EXPECT_EQ(::write(toChild[1], quit, sizeof quit - 1), (ssize_t)(sizeof quit - 1));
    ::close(toChild[1]);
    for (ssize_t n; (n = ::read(fromChild[0], buf, sizeof buf)) > 0;) shown.append(buf, (std::size_t)n);
    ::close(fromChild[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(imagetest::writable(dir / "m"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << shown;
    EXPECT_NE(shown.find("could not be saved"), std::string::npos) << shown;
    std::string log = readAll(dir / "setup.log");
    EXPECT_NE(log.find("exit 4\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("exit 0"), std::string::npos) << log;
    EXPECT_EQ(snapshot(dir / "m"), before);
    EXPECT_EQ(imagetest::othersIn(dir, {"m", ".m.lock", "ok.reg", "setup.log"}), std::vector<std::string>{});
}

// Output into a pipe whose reader has gone: the run goes on, the image is
// saved and the exit code is the program's; a reader command says its
// output failed.
TEST_F(Tool, OutputToAClosedPipeNeitherKillsNorLosesTheRun) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86 --ps-modules driverdir").code, 0);
    fs::copy(dir / "m", dir / "ref", fs::copy_options::recursive);
    ASSERT_EQ(runProgram("setup", {"--machine", at("ref"), "--answers", kInstall}, kDist).code, 0);
    Proc r = runProgram("setup", {"--machine", at("m"), "--answers", kInstall, "--log", at("log")}, kDist, "", true);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(winsim("diff " + at("ref") + " " + at("m")).code, 0);
    EXPECT_NE(readAll(dir / "log").find("exit 0\n"), std::string::npos);

    r = runProgram("winsim", {"show", at("m")}, kDist, "", true);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("winsim show: the output could not be written"), std::string::npos) << r.err;
    EXPECT_EQ(runProgram("winsim", {"diff", at("m"), at("ref")}, kDist, "", true).code, 0);  // nothing to write
    fs::remove(dir / "m" / "drives" / "C" / "win32app" / "vrdpsmon" / "qlrrn51.wri");
    EXPECT_EQ(runProgram("winsim", {"diff", at("m"), at("ref")}, kDist, "", true).code, 2);
}

TEST_F(Tool, RebootCarriesOutScheduledRenames) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86").code, 0);
    writeAll(dir / "m" / "drives" / "C" / "old.dll", "new module");
    writeAll(dir / "m" / "drives" / "C" / "gone.txt", "x");
    // \??\C:\old.dll -> !\??\C:\cur.dll, then \??\C:\gone.txt -> (delete)
    std::string ops = std::string("\\??\\C:\\old.dll") + '\0' + "!\\??\\C:\\cur.dll" + '\0' + "\\??\\C:\\gone.txt" + '\0' + '\0' + '\0';
    std::string hex;
    char b[4];
    for (unsigned char c : ops) {
        std::snprintf(b, sizeof b, "%02x", c);
        hex += (hex.empty() ? "" : ",") + std::string(b);
    }
    writeAll(dir / "p.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\n"
                            "\"PendingFileRenameOperations\"=hex(7):" + hex + "\n\n");
    ASSERT_EQ(winsim("reg import " + at("m") + " " + at("p.reg")).code, 0);
    ToolRun r = winsim("reboot " + at("m"));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(readAll(dir / "m" / "drives" / "C" / "cur.dll"), "new module");
    EXPECT_FALSE(fs::exists(dir / "m" / "drives" / "C" / "old.dll"));
    EXPECT_FALSE(fs::exists(dir / "m" / "drives" / "C" / "gone.txt"));
    EXPECT_EQ(winsim("reg export " + at("m") + " \"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\"")
                  .out.find("PendingFileRenameOperations"),
              std::string::npos);
}

TEST_F(Tool, EveryCommandHasHelp) {
    for (const char* cmd : {"--help", "new --help", "show --help", "reg --help", "reboot --help", "diff --help"}) {
        ToolRun r = winsim(cmd);
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_NE(r.out.find("usage"), std::string::npos) << cmd;
    }
    EXPECT_EQ(winsim("frobnicate").code, 2);
}

}  // namespace
