// The toolkit access layer: every failure ends on the toolkit error page; what the calls give back when they succeed;
// the source directory, INF numbers and the registry library binding.
#include "setup/harness.h"
#include "winsim/dde/state.h"

namespace {

using namespace harness;

// Every failure of the access layer ends on the toolkit error page: 1024 for a failed call (with the overflow box
// when a text did not fit), 1025 for a quit met while messages are pumped. Nothing after the call runs. A page ends
// at once on a waiting quit and takes no answer.
TEST(Failures, EndOnTheToolkitErrorPage) {
    const struct { void (*body)(); int code; Lines boxes = {}; std::vector<int> pages = {2300}; } rows[] = {
        {[] { TkSetSymbol("Probe", "abcdefghijklmno"); char b[16]; TkGetSymbol("Probe", b, 15); }, 1024, {kOverflowBox}},
        {[] { char b[16]; TkGetSymbol("", b, sizeof b); }, 1024},
        {[] { TkSetSymbol("", "x"); }, 1024},
        {[] { TkListLength(""); }, 1024},
        {[] { TkAddListItem("", "x"); }, 1024},
        {[] { char b[16]; TkGetListItem("One", 0, b, sizeof b); }, 1024},
        {[] { char b[16]; TkGetListItem("One", 2, b, sizeof b); }, 1024},
        {[] { char b[4]; TkGetListItem("One", 1, b, sizeof b); }, 1024, {kOverflowBox}},
        {[] { TkSetListItem("One", 0x10001, "x"); }, 1024},
        {[] { TkSetListItem("One", 2, "x"); }, 1024},
        {[] { TkListFromInfKeys("Keys", "Nothing"); }, 1024},
        {[] { PostQuitMessage(0); TkPumpMessages(); }, 1025},
        {[] {
             PostQuitMessage(0);
             char event[TK_EVENT_CAPACITY];
             TkRunDialog(TK_DIALOG_LIBRARY, 100, "FWelcomeDlgProc", 900, "FHelpDlgProc", event, sizeof event);
         }, 1025, {}, {100, 2300}},
        {[] { char e[TK_EVENT_CAPACITY]; TkRunDialog(TK_DIALOG_LIBRARY, 4242, "FInfoDlgProc", 0, "", e, sizeof e); }, 1024},
        {[] { TkPopDialogs(-2); }, 1024},
        {[] { TkOpenInf("C:\\dist\\missing.inf"); }, 1024},
        {[] { char b[64]; TkReadInfField("Sizes", "nokey", b, sizeof b); }, 1024},
        {[] { char b[8]; TkReadInfField("Sizes", "k", b, sizeof b); }, 1024, {kOverflowBox}},
        {[] { TkAddSectionFiles("Nothing", "C:\\dist\\", "C:\\x"); }, 1024},
        {[] { TkAddSectionFiles("Sizes", "C:\\dist\\", "C:\\x"); TkCopyFiles(); }, 1024,
         {"box Copy Error: Cannot copy C:\\dist\\file.dat to C:\\x\\file.dat (error 2)."}},
        {[] { TkJoin2(std::string(300, 'a').c_str(), std::string(212, 'b').c_str()); }, 1024, {kOverflowBox}},
        {[] { TkJoin3(std::string(700, 'a').c_str(), ",", std::string(67, 'c').c_str()); }, 1024, {kOverflowBox}},
        {[] { TkCreateDir("Q:\\nowhere", 0); }, 1024},
        {[] { TkListLocalHardDrives(""); }, 1024},
        {[] { TkCreateGroupEx("", 0, 0); }, 1024},
        {[] { TkShowGroupEx("", 0, 1, 0); }, 1024},
        {[] { TkCreateGroupItemEx("Group", 0, "Title", "", "", 0); }, 1024},
        {[] { TkCreateGroupItemEx("Group", 0, std::string(760, 't').c_str(), "a.exe", "icon.ico", 0); }, 1024, {kOverflowBox}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h;
        h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,5\n");
        ChildResult r = h.run("2300 CONTINUE\n", [&row] {
            TkOpenInf("C:\\dist\\setup.inf");
            TkSetSymbol("One", "");
            TkAddListItem("One", "first");
            row.body();
        });
        expectToolkitError(r, row.code, row.boxes);
        EXPECT_EQ(r.pages(), row.pages);
        EXPECT_EQ(r.lines("shown 2300"), Lines{"shown 2300 FErrorDlgProc help 0 cursor arrow"});
    }
}

// What the calls give back when they succeed, one line each. The item's title carries the icon text after a comma
// only when there is one.
TEST(Successes, ValuesListsInfJoinsDetectionAndGroups) {
    Harness h;
    h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,5\n");
    h.setFree('C', 123456512);  // whole sectors
    h.writeFile("C:\\dist\\here.txt");
    ChildResult r = h.run("", [] {
        TkSetSymbol("Probe", "abcdefghijklmn");  // 14 characters
        char b[16];
        std::memset(b, 'x', sizeof b);
        TkGetSymbol("Probe", b, 15);
        report("value %s, guard %c", b, b[15]);
        TkSetSymbol("One", "");
        TkAddListItem("One", "first");
        report("item %s of %u", TkGetListItem("One", 1, b, sizeof b), (unsigned)TkListLength("One"));
        TkSetListItem("One", 1, "replaced");
        report("item %s", TkGetListItem("One", 1, b, sizeof b));
        TkOpenInf("C:\\dist\\setup.inf");
        char name[9];  // the file name fits exactly
        report("field 1 %s, number %ld", TkReadInfField("Sizes", "k", name, sizeof name), (long)TkReadInfNumber("Sizes", "k"));
        TkListFromInfKeys("Keys", "Sizes");
        report("keys %s", TkGetListItem("Keys", 1, b, sizeof b));
        LPSTR first = TkJoin2("C:\\dist\\", "setup.inf");
        report("join %s", first);
        LPSTR second = TkJoin2("D:\\", "x");  // the next call overwrites the buffer
        report("same buffer %d: %s, %s", first == second, first, TkJoin3("Title", ",", "write.exe"));
        report("longest join %zu", std::strlen(TkJoin2(std::string(300, 'a').c_str(), std::string(211, 'b').c_str())));
        char path[] = "c:\\target", other[] = "c:\\x", missing[] = "q:\\x";
        int valid = TkIsValidDrive(path);
        report("valid %d %s, free %ld %s, missing %d", valid, path, (long)TkDriveFreeBytes(other), other, TkIsValidDrive(missing));
        report("exists %d%d%d%d", TkFileExists("C:\\dist\\here.txt", 0), TkFileExists("C:\\dist\\gone.txt", 0),
               TkDirExists("C:\\dist"), TkDirExists("C:\\nodir"));
        TkCreateDir("C:\\new\\deeper", 0);
        report("created %d", TkDirExists("C:\\new\\deeper"));
        TkCreateGroupItemEx("Group", 0, "Title", "app.exe", "", 0);
        TkCreateGroupItemEx("Group", 0, "Title", "app.exe", "app.ico", 0);
        for (const auto& e : winsim::machine().dde->executes) report("execute %s", e.c_str());
    });
    EXPECT_EQ(r.report, (Lines{"value abcdefghijklmn, guard x", "item first of 1", "item replaced", "field 1 file.dat, number 5",
                               "keys k", "join C:\\dist\\setup.inf", "same buffer 1: D:\\x, Title,write.exe",
                               "longest join 511", "valid 1 C:\\target, free 123456512 c:\\x, missing 0", "exists 1010",
                               "created 1", "execute [CreateGroup(Group)][AddItem(app.exe,Title)]",
                               "execute [CreateGroup(Group)][AddItem(app.exe,Title,app.ico)]", "returned=1"})) << r.output;
    EXPECT_TRUE(r.lines("box").empty());
}

// The source directory is the current one ending in one backslash, or ".\" when the current directory cannot be read
// or does not fit (254 characters fit with the backslash). A second start changes nothing; the error mode is given
// back.
TEST(StartAndRegistryLibrary, SourceDirEndsInOneBackslashLibraryBindsAndUnbinds) {
    const std::string longest = "C:\\" + std::string(251, 'd');
    const struct { std::string current; bool refused; std::string source; } rows[] = {
        {"C:\\dist", false, "C:\\dist\\"}, {"C:\\", false, "C:\\"}, {"C:\\dist", true, ".\\"},
        {longest, false, longest + "\\"}, {longest + "d", false, ".\\"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h;
        h.machine().currentDir = row.current;
        if (row.refused) failNext("GetCurrentDirectoryA", 1, ERROR_ACCESS_DENIED);
        ChildResult r = h.run("", [](LPSTR commandLine) {
            std::string source = SourceDir;
            int again = TkInitSetup(commandLine);
            report("%s %d %d %d %u", SourceDir, FrameInstance > 0, again, source == SourceDir, SetErrorMode(0));
            return 0;
        });
        EXPECT_EQ(r.report, Lines{row.source + " 1 0 1 0"}) << r.output;
    }
    // The registry library binds once and unbinds to null pointers, released; a missing required export fails the
    // binding (the library released), an optional one stays null.
    for (auto [missing, bound] : {std::pair{"", "1 1 1 1 open=0"}, {"RegSetValueA", "0 0 0 0"}, {"RegDeleteKeyA", "0 0 0 0"},
                                  {"RegCloseKey", "0 0 0 0"}, {"RegQueryInfoKeyA", "1 1 0 1 open=0"}}) {
        SCOPED_TRACE(missing);
        Harness h;
        if (*missing) h.machine().system->modules["ADVAPI32.DLL"].missingExports.insert(missing);
        ChildResult r = h.run("", [] {
            BOOL ok = BindRegistryLibrary();
            HKEY key = NULL;
            report("%d %d %d %d%s", ok, RegistryLibrary != NULL, pfnRegQueryInfoKeyA != NULL,
                   pfnRegCloseKey && pfnRegCreateKeyA && pfnRegDeleteKeyA && pfnRegOpenKeyA && pfnRegQueryValueA &&
                       pfnRegSetValueA && pfnRegQueryValueExA,
                   ok ? (" open=" + std::to_string(pfnRegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &key))).c_str() : "");
            if (key) pfnRegCloseKey(key);
            UnbindRegistryLibrary();
            UnbindRegistryLibrary();
            report("unbound %d, loads %d", RegistryLibrary == NULL && pfnRegCloseKey == NULL && pfnRegQueryValueExA == NULL,
                   winsim::machine().system->loadCounts["advapi32.dll"]);
        });
        EXPECT_EQ(r.report, (Lines{bound, "unbound 1, loads 0", "returned=1"})) << r.output;
    }
}

// Field 15 is read as atol reads it; the kit's reader refuses such texts, so they are put into its store after a good
// INF was opened. 128 characters overflow the buffer.
TEST(Inf, NumbersAreReadAsAtolReadsThem) {
    const std::pair<std::string, const char*> rows[] = {
        {"12ab", "12"}, {"", "0"}, {"abc", "0"}, {"  -7", "-7"}, {"\t\n\r\f\v+8", "8"}, {"99999999999", "2147483647"},
        {"-99999999999", "-2147483648"}, {std::string(126, '0') + "1", "1"}, {std::string(128, '0'), ""}};
    Harness h;
    h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,0\n");
    ChildResult r = h.run("2300 CONTINUE\n", [&rows] {
        TkOpenInf("C:\\dist\\setup.inf");
        kit::Inf& inf = *kit::currentInf();
        for (const auto& [field, number] : rows) {
            inf.strings[inf.fields[inf.lines.at(0).firstField + 14]] = field;
            report("%ld", (long)TkReadInfNumber("Sizes", "k"));
        }
    });
    Lines expected;
    for (const auto& [field, number] : rows)
        if (*number) expected.push_back(number);
    EXPECT_EQ(r.report, expected);
    expectToolkitError(r, 1024, {kOverflowBox});
}

}  // namespace
