// The winsim command: creating, showing, exporting, importing, rebooting and
// comparing machine images, and refusing damaged ones without touching them.
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

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeAll(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// Every file of a directory tree with its contents, to see that nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator(dir))
        files[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? readAll(e.path()) : "<dir>";
    return files;
}

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
    // No working or staging folders are left beside the image.
    for (auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().filename().string().rfind(".m.", 0), std::string::npos) << e.path();
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

TEST_F(Tool, DiffReportsRegistryAndFileChangesOnly) {
    ASSERT_EQ(winsim("new " + at("a") + " --os nt351 --arch x86").code, 0);
    fs::copy(dir / "a", dir / "b", fs::copy_options::recursive);
    EXPECT_EQ(winsim("diff " + at("a") + " " + at("b")).code, 0);
    writeAll(dir / "add.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\n\"v\"=dword:00000001\n\n");
    ASSERT_EQ(winsim("reg import " + at("b") + " " + at("add.reg")).code, 0);
    writeAll(dir / "b" / "drives" / "C" / "new.txt", "x");
    ToolRun d = winsim("diff " + at("a") + " " + at("b"));
    EXPECT_EQ(d.code, 1);
    EXPECT_NE(d.out.find("+ key [HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("+ file C:\\new.txt"), std::string::npos) << d.out;
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
