// The toolkit access layer: every failure ends on the toolkit error page; what the calls give back when they succeed;
// the source directory, INF numbers and the registry library binding.
#include "setup/harness.h"
#include "winsim/dde/state.h"

namespace {

using namespace harness;

// Every failure of the access layer ends on the toolkit error page: 1024 for a failed call (with the overflow box
// when a text did not fit), 1025 for a quit met while messages are pumped. Nothing after the call runs. A page ends
// at once on a waiting quit and takes no answer. Each row's pages, log and exit are pinned by its transcript.
TEST(Failures, EndOnTheToolkitErrorPage) {
    void (*const rows[])() = {
        [] { TkSetSymbol("Probe", "abcdefghijklmno"); char b[16]; TkGetSymbol("Probe", b, 15); },  // overflow
        [] { char b[16]; TkGetSymbol("", b, sizeof b); },
        [] { TkSetSymbol("", "x"); },
        [] { TkListLength(""); },
        [] { TkAddListItem("", "x"); },
        [] { char b[16]; TkGetListItem("One", 0, b, sizeof b); },
        [] { char b[16]; TkGetListItem("One", 2, b, sizeof b); },
        [] { char b[4]; TkGetListItem("One", 1, b, sizeof b); },  // overflow
        [] { TkSetListItem("One", 0x10001, "x"); },
        [] { TkSetListItem("One", 2, "x"); },
        [] { TkListFromInfKeys("Keys", "Nothing"); },
        [] { PostQuitMessage(0); TkPumpMessages(); },  // 1025
        [] {  // 1025 after page 100, which takes no answer
            PostQuitMessage(0);
            char event[TK_EVENT_CAPACITY];
            TkRunDialog(TK_DIALOG_LIBRARY, 100, "FWelcomeDlgProc", 900, "FHelpDlgProc", event, sizeof event);
        },
        [] { char e[TK_EVENT_CAPACITY]; TkRunDialog(TK_DIALOG_LIBRARY, 4242, "FInfoDlgProc", 0, "", e, sizeof e); },
        [] { TkPopDialogs(-2); },
        [] { TkOpenInf("C:\\dist\\missing.inf"); },
        [] { char b[64]; TkReadInfField("Sizes", "nokey", b, sizeof b); },
        [] { char b[8]; TkReadInfField("Sizes", "k", b, sizeof b); },  // overflow
        [] { TkAddSectionFiles("Nothing", "C:\\dist\\", "C:\\x"); },
        [] { TkAddSectionFiles("Sizes", "C:\\dist\\", "C:\\x"); TkCopyFiles(); },  // the copy error box first
        [] { TkJoin2(std::string(300, 'a').c_str(), std::string(212, 'b').c_str()); },  // overflow
        [] { TkJoin3(std::string(700, 'a').c_str(), ",", std::string(67, 'c').c_str()); },  // overflow
        [] { TkCreateDir("Q:\\nowhere", 0); },
        [] { TkListLocalHardDrives(""); },
        [] { TkCreateGroupEx("", 0, 0); },
        [] { TkShowGroupEx("", 0, 1, 0); },
        [] { TkCreateGroupItemEx("Group", 0, "Title", "", "", 0); },
        [] { TkCreateGroupItemEx("Group", 0, std::string(760, 't').c_str(), "a.exe", "icon.ico", 0); },  // overflow
    };
    for (const auto& body : rows) {
        SCOPED_TRACE(&body - rows);
        Harness h;
        h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,5\n");
        h.run("2300 CONTINUE\n", [&body] {
            TkOpenInf("C:\\dist\\setup.inf");
            TkSetSymbol("One", "");
            TkAddListItem("One", "first");
            body();
        });
    }
}

// What the calls give back when they succeed, one line each in the report its transcript pins. The item's title
// carries the icon text after a comma only when there is one.
TEST(Successes, ValuesListsInfJoinsDetectionAndGroups) {
    Harness h;
    h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,5\n");
    h.setFree('C', 123456512);  // whole sectors
    h.writeFile("C:\\dist\\here.txt");
    h.run("", [] {
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
}

// The source directory is the current one ending in one backslash, or ".\" when the current directory cannot be read
// or does not fit (254 characters fit with the backslash). A second start changes nothing; the error mode is given
// back. The child reports each; the transcripts pin the reports.
TEST(StartAndRegistryLibrary, SourceDirEndsInOneBackslashLibraryBindsAndUnbinds) {
    const std::string longest = "C:\\" + std::string(251, 'd');
    const struct { std::string current; bool refused; } rows[] = {
        {"C:\\dist", false}, {"C:\\", false}, {"C:\\dist", true},  // the current directory refused: ".\\"
        {longest, false}, {longest + "d", false}};                  // 255 characters with the backslash: ".\\"
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        Harness h;
        h.machine().currentDir = row.current;
        if (row.refused) failNext("GetCurrentDirectoryA", 1, ERROR_ACCESS_DENIED);
        h.run("", [](LPSTR commandLine) {
            std::string source = SourceDir;
            int again = TkInitSetup(commandLine);
            report("%s %d %d %d %u", SourceDir, FrameInstance > 0, again, source == SourceDir, SetErrorMode(0));
            return 0;
        });
    }
    // The registry library binds once and unbinds to null pointers, released; a missing required export fails the
    // binding (the library released), an optional one (RegQueryInfoKeyA) stays null.
    for (const char* missing : {"", "RegSetValueA", "RegDeleteKeyA", "RegCloseKey", "RegQueryInfoKeyA"}) {
        SCOPED_TRACE(missing);
        Harness h;
        if (*missing) h.machine().system->modules["ADVAPI32.DLL"].missingExports.insert(missing);
        h.run("", [] {
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
    }
}

// Field 15 is read as atol reads it (leading blanks and sign, digits up to the first other character, held at the
// 32-bit limits; the numbers reported are pinned by the transcript); the kit's reader refuses such texts, so they are
// put into its store after a good INF was opened. 128 characters overflow the buffer.
TEST(Inf, NumbersAreReadAsAtolReadsThem) {
    const std::string rows[] = {"12ab", "", "abc", "  -7", "\t\n\r\f\v+8", "99999999999", "-99999999999",
                                std::string(126, '0') + "1", std::string(128, '0')};
    Harness h;
    h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,0\n");
    ChildResult r = h.run("2300 CONTINUE\n", [&rows] {
        TkOpenInf("C:\\dist\\setup.inf");
        kit::Inf& inf = *kit::currentInf();
        for (const auto& field : rows) {
            inf.strings[inf.fields[inf.lines.at(0).firstField + 14]] = field;
            report("%ld", (long)TkReadInfNumber("Sizes", "k"));
        }
    });
    expectToolkitError(r, 1024, {kOverflowBox});
}

}  // namespace
