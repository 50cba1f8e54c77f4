// The winsim command: creating, showing, exporting, importing, rebooting and
// comparing machine images, and refusing damaged ones without touching them.
#include "image_fixture.h"

#include "winsim/image/diff.h"
#include "winsim/image/image.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace fs = std::filesystem;
using namespace imagetest;

namespace {

// Runs the winsim tool with `args` through the shell; stdout and stderr together.
Proc winsim(const std::string& args) {
    FILE* p = popen((std::string(BIN_DIR) + "/winsim " + args + " 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, ""};
}

using Tool = Scratch;

// The layout of every type is the reader's and writer's tests' matter; here the commands.
TEST_F(Tool, RegExportOfOneMachineImportsIntoAnotherByteForByte) {
    const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip]\n@=\"d \\\"q\\\"\"\n"
                             "\"Number\"=dword:0000abcd\n\n";
    writeText(root / "all.reg", text);
    for (const char* m : {"m1", "m2"}) ASSERT_EQ(winsim("new " + at(m) + " --os nt351 --arch x86").code, 0);
    ASSERT_EQ(winsim("reg import " + at("m1") + " " + at("all.reg")).code, 0);
    Proc sub = winsim("reg export " + at("m1") + " \"HKEY_LOCAL_MACHINE\\SOFTWARE\\RoundTrip\"");
    EXPECT_EQ(std::to_string(sub.code) + sub.out, "0" + text);
    writeText(root / "m1.reg", winsim("reg export " + at("m1")).out);
    ASSERT_EQ(winsim("reg import " + at("m2") + " " + at("m1.reg")).code, 0);
    EXPECT_EQ(winsim("reg export " + at("m2")).out, readText(root / "m1.reg"));
}

TEST_F(Tool, DamagedImagesAreRefusedNamingFileAndLineAndLeftAsTheyWere) {
    ASSERT_EQ(winsim("new " + at("m") + " --os win95 --arch x86").code, 0);
    const fs::path json = root / "m" / "machine.json", hive = root / "m" / "registry" / "HKEY_LOCAL_MACHINE.reg";
    const std::string goodJson = readText(json), goodHive = readText(hive);
    std::string badJson = goodJson;
    badJson.insert(badJson.find('\n', badJson.find('\n') + 1) + 1, "  \"broken\": ,\n");  // on line 3
    writeText(root / "ok.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n");
    writeText(root / "bad.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Y]\n\"a\"=\"b\"\n\"c\"=hex:zz\n");
    const struct {
        const char* damaged;
        std::string json, hive, command, said;
    } cases[] = {
        {"machine.json", badJson, goodHive, "reg import " + at("m") + " " + at("ok.reg"), "machine.json:3"},
        {"a registry file of the image", goodJson, goodHive + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\n\"v\"=dword:xyz\n",
         "show " + at("m"), "HKEY_LOCAL_MACHINE.reg:"},
        {"the file given to import", goodJson, goodHive, "reg import " + at("m") + " " + at("bad.reg"), "bad.reg:5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damaged);
        writeText(json, c.json);
        writeText(hive, c.hive);
        auto before = snapshot(root / "m");
        Proc r = winsim(c.command);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
        EXPECT_EQ(snapshot(root / "m"), before);
    }
    // No working or staging folders are left beside the image, only its lock.
    EXPECT_EQ(othersIn(root, {"m", ".m.lock", "ok.reg", "bad.reg"}), std::vector<std::string>{});
}

// Each --os's version and help programs; version words at their ends and one past; `show`'s sections.
TEST_F(Tool, NewPosesVersionWordsAndFreeSpace) {
    const std::pair<std::string, const char*> rows[] = {  // arguments; parts of `show` and machine.json or files
        {"nt351 --arch x86", "Windows NT 3.51 build 1057 (x86)|Spooler: running|drives/C/WINNT35/winhelp.exe|"
                             "LanmanServer (Server): running|0 Idle, 1 thread|PROGMAN.EXE, 1 thread,|"
                             "drives/C/WINNT35/system32/spool/PRINTERS|"
                             "Windows NT\\CurrentVersion]\n\"CurrentVersion\"=\"3.51\""},
        {"nt350 --arch x86", "Windows NT 3.50 build 807 (x86)|drives/C/WINNT35/system32/winhlp32.exe"},
        {"nt31 --arch x86", "Windows NT 3.10 build 528 (x86)|drives/C/WINNT/winhelp.exe"},
        {"win95 --arch x86", "Windows 4.00 build 950 (x86)|drives/C/WINDOWS/winhelp.exe|drives/C/WINDOWS/winhlp32.exe|drives/C/WINDOWS/win.ini"},
        {"nt40 --arch x86", "Windows NT 4.00 build 1381 (x86)|drives/C/WINNT35/winhelp.exe"},
        {"nt40 --arch mips --version 0.0 --build 0", "Windows NT 0.00 build 0 (mips)"},
        {"nt40 --arch x86 --version 255.255 --build 32767", "Windows NT 255.255 build 32767 (x86)"},
        {"nt351 --arch alpha --version 3.52 --build 1200 --disk-free C=1048576 --user user",
         "Windows NT 3.52 build 1200 (alpha)|C: fixed, 1048576 of|\"PROCESSOR_ARCHITECTURE\": \"ALPHA\""},
    };
    for (const auto& [args, parts] : rows) {
        SCOPED_TRACE(args);
        const fs::path dir = root / std::to_string(&args - &rows[0].first), json = dir / "machine.json";
        ASSERT_EQ(winsim("new " + dir.string() + " --os " + args).code, 0);
        nlohmann::json j = nlohmann::json::parse(readText(json));
        j["system"]["modules"]["x.dll"]["missing"] = true;
        j["faults"] = nlohmann::json::parse(R"([{"call": "DeleteFileA", "nth": 2, "times": 3}])");
        writeText(json, j.dump(2));
        const std::string show = winsim("show " + dir.string()).out + readText(json) + readText(dir / "registry" / "HKEY_LOCAL_MACHINE.reg");
        std::istringstream in(std::string(parts) +
                              "|Module missing: X.DLL\n|DeleteFileA: call 2 fails and the next 2 with error 5\n");
        for (std::string p; std::getline(in, p, '|');)
            EXPECT_TRUE(p.find('/') == p.npos ? show.find(p) != p.npos : fs::exists(dir / p)) << p << "\n" << show;
    }
    for (const char* bad : {"--os nt99", "--version 256.0", "--version 0.256", "--version -1.0", "--version 0.-1",
                            "--version 4.0x", "--build 32768", "--build -1", ""})  // the last: exists already
        EXPECT_TRUE(winsim("new " + at(*bad ? "x" : "0") + " --os nt40 --arch x86 " + bad).code == 1 &&
                    !fs::exists(root / "x")) << bad;
    for (const char* half : {"--os nt40", "--arch x86"}) EXPECT_EQ(winsim("new " + at("x") + " " + half).code, 2) << half;
    for (std::string cmd : {"new", "show", "reg", "reboot", "diff"}) {  // help is no error
        Proc h = winsim(cmd + " --help");
        EXPECT_EQ(std::to_string(h.code) + h.out.substr(0, 14 + cmd.size()), "0usage: winsim " + cmd);
    }
}

// One change, one line: list entries are matched by what names them, a
// changed value is one line; exit codes as diff(1).
TEST_F(Tool, DiffShowsEachChangeOnceAndExitsLikeDiff) {
    ASSERT_EQ(winsim("new " + at("a") + " --os nt351 --arch x86").code, 0);
    fs::copy(root / "a", root / "b", fs::copy_options::recursive);
    EXPECT_EQ(winsim("diff " + at("a") + " " + at("b")).code, 0);
    writeText(root / "add.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\n\"v\"=dword:00000001\n\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Spooler]\n"
                              "\"Start\"=dword:00000003\n\"x=1\"=\"a\"\n\"x=2\"=\"b\"\n\n");
    ASSERT_EQ(winsim("reg import " + at("b") + " " + at("add.reg")).code, 0);
    writeText(root / "b" / "drives" / "C" / "new.txt", "x");
    // One process ended (the third of the list), one service stopped.
    nlohmann::json j = nlohmann::json::parse(readText(root / "b" / "machine.json"));
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
    writeText(root / "b" / "machine.json", j.dump(2));

    Proc d = winsim("diff " + at("a") + " " + at("b"));
    EXPECT_EQ(d.code, 1);
    std::vector<std::string> lines;
    std::istringstream in(d.out);
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.find(" = ")));
    const std::vector<std::string> expected = {
        "- state processes.list[id=" + ended + "]",
        "~ state services.list[name=" + service + "].state: \"running\" -> \"stopped\"",
        "~ value [HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Spooler] \"Start\"=dword:00000002 -> "
        "dword:00000003",
        "+ value [HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Spooler] \"x=1\"=\"a\"",
        "+ value [HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Spooler] \"x=2\"=\"b\"",
        "+ key [HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]",
        "+ value [HKEY_LOCAL_MACHINE\\SOFTWARE\\Added] \"v\"=dword:00000001",
        "+ file C:\\new.txt",
    };
    EXPECT_EQ(lines, expected) << d.out;

    for (const std::string& bad : {"diff " + at("a") + " " + at("none"), "diff " + at("a"), "diff " + at("add.reg") + " " + at("b")}) {
        Proc r = winsim(bad);
        EXPECT_EQ(r.code, 2) << bad << "\n" << r.out;
    }
}

// While one writer holds an image, every other writer is refused at once
// naming the holder, and the image is left alone; readers go on. An image
// that cannot be saved is refused before the first page, with the reason;
// one that becomes unsavable during a run ends it with exit 4 and a log that
// says so. The image stays as it was either way.
TEST_F(Tool, WritersAreRefusedWhileTheImageIsHeldOrCannotBeWritten) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86 --ps-modules driverdir").code, 0);
    writeText(root / "ok.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"b\"\n\n");
    auto before = snapshot(root / "m");
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"setup", "--machine", at("m"), "--answers", kInstall}, 5},
        {{"winsim", "reg", "import", at("m"), at("ok.reg")}, 5},
        {{"winsim", "reboot", at("m")}, 5},
        {{"winsim", "new", at("m"), "--os", "nt351", "--arch", "x86"}, 5},
        {{"winsim", "show", at("m")}, 0},
        {{"winsim", "reg", "export", at("m")}, 0},
        {{"winsim", "diff", at("m"), at("m")}, 0},
    };
    {
        winsim::ImageLock held(root / "m");
        for (const auto& [args, code] : cases) {
            SCOPED_TRACE(args[0] + " " + args[1]);
            Proc r = run(args);
            EXPECT_EQ(r.code, code) << r.err;
            EXPECT_TRUE(code != 5 || r.err.find("the machine image " + at("m") + " is in use by process " +
                                                std::to_string(::getpid())) != std::string::npos) << r.err;
        }
        EXPECT_EQ(snapshot(root / "m"), before);
    }
    ASSERT_TRUE(readOnly(root / "m"));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"setup", "--machine", at("m"), "--answers", kInstall, "--log", at("setup.log")},
                                                 {"winsim", "reg", "import", at("m"), at("ok.reg")},
                                                 {"winsim", "reboot", at("m")}}) {
        Proc r = run(args);
        EXPECT_EQ(std::to_string(r.code) + " " + r.out + r.err.substr(0, r.err.find(": ", r.err.find("written: ") + 9)),
                  "4 " + (args[0] == "setup" ? "setup" : "winsim " + args[1]) + ": the machine image " + at("m") +
                      " cannot be written: " + at("m"));  // no page shown
    }
    EXPECT_FALSE(fs::exists(root / "setup.log"));
    EXPECT_EQ(run({"winsim", "show", at("m")}).code, 0);
    ASSERT_TRUE(writable(root / "m"));
    // Made read-only while the first page waits for an answer: the run
    // ends with 4, the log says exit 4, the image is unchanged.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC) | ::pipe2(fromChild, O_CLOEXEC), 0);
    pid_t pid = spawn({"setup", "--machine", at("m"), "--log", at("setup.log")}, kDist, toChild[0], fromChild[1], fromChild[1]);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    std::string shown;
    char buf[4096];
    for (ssize_t n; shown.find("> ") == std::string::npos && (n = ::read(fromChild[0], buf, sizeof buf)) > 0;)
        shown.append(buf, (std::size_t)n);
    ASSERT_TRUE(readOnly(root / "m"));
    EXPECT_EQ(::write(toChild[1], "x\nx\n", 4), 4);  // Exit setup, then confirm
    ::close(toChild[1]);
    for (ssize_t n; (n = ::read(fromChild[0], buf, sizeof buf)) > 0;) shown.append(buf, (std::size_t)n);
    ::close(fromChild[0]);
    int code = finish(pid);
    ASSERT_TRUE(writable(root / "m"));
    EXPECT_EQ(code, 4) << shown;
    EXPECT_NE(shown.find("could not be saved"), std::string::npos) << shown;
    std::string log = readText(root / "setup.log");
    EXPECT_EQ(log.substr(log.rfind("exit ")), "exit 4\n");
    EXPECT_EQ(snapshot(root / "m"), before);
    EXPECT_EQ(othersIn(root, {"m", ".m.lock", "ok.reg", "setup.log"}), std::vector<std::string>{});
    // Free again: the next writer goes ahead.
    EXPECT_EQ(run(cases[1].first).code, 0);
}

// Output into a pipe whose reader has gone: the run goes on, the image is
// saved and the exit code is the program's; a reader command says its
// output failed.
TEST_F(Tool, OutputToAClosedPipeNeitherKillsNorLosesTheRun) {
    ASSERT_EQ(winsim("new " + at("m") + " --os nt351 --arch x86 --ps-modules driverdir").code, 0);
    fs::copy(root / "m", root / "ref", fs::copy_options::recursive);
    ASSERT_EQ(run({"setup", "--machine", at("ref"), "--answers", kInstall}).code, 0);
    Proc r = run({"setup", "--machine", at("m"), "--answers", kInstall, "--log", at("log")}, true);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(winsim("diff " + at("ref") + " " + at("m")).code, 0);
    EXPECT_NE(readText(root / "log").find("exit 0\n"), std::string::npos);
    r = run({"winsim", "show", at("m")}, true);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("winsim show: the output could not be written"), std::string::npos) << r.err;
    EXPECT_EQ(run({"winsim", "diff", at("m"), at("ref")}, true).code, 0);  // nothing to write
    fs::remove(root / "m" / "drives" / "C" / "win32app" / "vrdpsmon" / "qlrrn51.wri");
    EXPECT_EQ(run({"winsim", "diff", at("m"), at("ref")}, true).code, 2);
}

// One JSON object a line, UTF-8 names kept, other bytes replaced; lists diffed by element only where named.
TEST(DiffReport, JsonHasOneObjectALineInUtf8AndListsDiffByElementOnlyWhereNamed) {
    std::ostringstream out;
    winsim::writeChanges({{'+', "file", "C:\\caf\xc3\xa9.txt"}, {'-', "key", "[\xe9]"}}, out, true);
    EXPECT_EQ(out.str(), "[\n{\"change\":\"added\",\"kind\":\"file\",\"what\":\"C:\\\\caf\xc3\xa9.txt\"},\n"
                         "{\"change\":\"removed\",\"kind\":\"key\",\"what\":\"[\xef\xbf\xbd]\"}\n]\n");
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"[]", R"([{"id":1}])", "~ state l: [] -> [{\"id\":1}]\n"}, {"[1]", "[1]", ""},
        {R"([{"id":1}])", "[]", "~ state l: [{\"id\":1}] -> []\n"}, {"[1,2]", "[1,3]", "~ state l: [1,2] -> [1,3]\n"},
        {R"([{"id":1,"v":1}])", R"([{"id":1,"v":2}])", "~ state l[id=1].v: 1 -> 2\n"}};
    for (const auto& [before, after, lines] : cases) {
        std::ostringstream diff;
        winsim::writeChanges(winsim::diffMachines({{{"l", nlohmann::json::parse(before)}}, {}, {}},
                                                  {{{"l", nlohmann::json::parse(after)}}, {}, {}}), diff, false);
        EXPECT_EQ(diff.str(), lines) << before << " -> " << after;
    }
}

}  // namespace
