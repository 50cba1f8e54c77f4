// The toolkit access layer: failure rules, overflow announcements, the
// source directory, message pumping, INF reading, joins and detection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "setup/harness.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/dde/state.h"

using harness::ChildResult;
using harness::Harness;

namespace {

const char* const kOverflowBox = "box MS-Setup Error: Buffer Overflow";
const char* const kError1024 = "error Error code = 1024";
const char* const kError1025 = "error Error code = 1025";

// --- Symbols and lists --------------------------------------------------------

// Every failure of the access layer ends on the toolkit error page: 1024
// for a failed call (with the overflow box when a text did not fit), 1025
// for a quit met while messages are pumped. Nothing after the call runs.
TEST(Failures, EndOnTheToolkitErrorPage) {
    const std::vector<std::string> overflow{kOverflowBox}, none;
    const struct {
        const char* what;
        void (*body)();
        const char* error;
        std::vector<std::string> boxes;
        std::vector<int> pages;
    } rows[] = {
        {"symbol value as long as the capacity",
         [] {
             TkSetSymbol("Probe", "abcdefghijklmno");  // 15 characters
             char buffer[16];
             TkGetSymbol("Probe", buffer, 15);
         },
         kError1024, overflow, {2300}},
        {"symbol without a name",
         [] {
             char buffer[16];
             TkGetSymbol("", buffer, sizeof buffer);
         },
         kError1024, none, {2300}},
        {"list index 0",
         [] {
             TkSetSymbol("One", "");
             TkAddListItem("One", "first");
             char buffer[16];
             TkGetListItem("One", 0, buffer, sizeof buffer);
         },
         kError1024, none, {2300}},
        {"list index past the end",
         [] {
             TkSetSymbol("One", "");
             TkAddListItem("One", "first");
             char buffer[16];
             TkGetListItem("One", 2, buffer, sizeof buffer);
         },
         kError1024, none, {2300}},
        {"quit while pumping",
         [] {
             PostQuitMessage(0);
             TkPumpMessages();
         },
         kError1025, none, {2300}},
        // The page ends at once on the waiting quit and takes no answer.
        {"quit queued during a page",
         [] {
             PostQuitMessage(0);
             char event[TK_EVENT_CAPACITY];
             TkRunDialog(TK_DIALOG_LIBRARY, 100, "FWelcomeDlgProc", 900, "FHelpDlgProc", event, sizeof event);
         },
         kError1025, none, {100, 2300}},
        {"INF that cannot be opened", [] { TkOpenInf("C:\\dist\\missing.inf"); }, kError1024, none, {2300}},
        {"INF key missing",
         [] {
             TkOpenInf("C:\\dist\\setup.inf");
             char buffer[64];
             TkReadInfField("Sizes", "nokey", buffer, sizeof buffer);
         },
         kError1024, none, {2300}},
        {"INF section missing",
         [] {
             TkOpenInf("C:\\dist\\setup.inf");
             TkAddSectionFiles("Nothing", "C:\\dist\\", "C:\\x");
         },
         kError1024, none, {2300}},
        {"join of 512 characters",
         [] {
             std::string a(300, 'a'), b(212, 'b');
             TkJoin2(a.c_str(), b.c_str());
         },
         kError1024, overflow, {2300}},
        {"directory on a missing drive", [] { TkCreateDir("Q:\\nowhere", 0); }, kError1024, none, {2300}},
        {"hard-drive list without a name", [] { TkListLocalHardDrives(""); }, kError1024, none, {2300}},
        {"group item without a command", [] { TkCreateGroupItemEx("Group", 0, "Title", "", "", 0); }, kError1024,
         none, {2300}},
    };
    for (const auto& row : rows) {
        Harness h;
        h.setInf("[Sizes]\nk = file.dat,,,,,,,,,,,,,,5\n");
        ChildResult r = h.run("2300 CONTINUE\n", [&row](LPSTR) {
            row.body();
            harness::report("returned=1");
            return 5;
        });
        EXPECT_EQ(r.exitCode, 0) << row.what;
        EXPECT_EQ(r.value("returned"), "") << row.what;
        EXPECT_EQ(r.lines("error"), (std::vector<std::string>{row.error})) << row.what;
        EXPECT_EQ(r.lines("box"), row.boxes) << row.what;
        EXPECT_EQ(r.pages(), row.pages) << row.what;
    }
}

// --- Symbols and lists --------------------------------------------------------

TEST(SymbolsAndLists, ValuesThatFitAndListItemsInRange) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        TkSetSymbol("Probe", "abcdefghijklmn");  // 14 characters
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        TkGetSymbol("Probe", buffer, 15);
        harness::report("value=%s", buffer);
        harness::report("guard=%c", buffer[15]);
        TkSetSymbol("One", "");
        TkAddListItem("One", "first");
        harness::report("item=%s", TkGetListItem("One", 1, buffer, sizeof buffer));
        harness::report("length=%u", (unsigned)TkListLength("One"));
        TkSetListItem("One", 1, "replaced");
        harness::report("after=%s", TkGetListItem("One", 1, buffer, sizeof buffer));
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("value"), "abcdefghijklmn");
    EXPECT_EQ(r.value("guard"), "x");
    EXPECT_EQ(r.value("item"), "first");
    EXPECT_EQ(r.value("length"), "1");
    EXPECT_EQ(r.value("after"), "replaced");
    EXPECT_TRUE(r.lines("box").empty());
}

// --- Start ------------------------------------------------------------------------

// The source directory is the current one ending in one backslash, or
// ".\" when the current directory cannot be read or does not fit.
TEST(Start, SourceDirEndsInOneBackslash) {
    const std::string longest = "C:\\" + std::string(251, 'd');  // 254 characters: fits with its backslash
    const struct {
        std::string current;
        bool refused;
        std::string source;
    } rows[] = {{"C:\\dist", false, "C:\\dist\\"}, {"C:\\", false, "C:\\"}, {"C:\\dist", true, ".\\"},
                {longest, false, longest + "\\"}, {longest + "d", false, ".\\"}};
    for (const auto& row : rows) {
        Harness h;
        h.machine().currentDir = row.current;
        if (row.refused) h.machine().faults.push_back({"GetCurrentDirectoryA", 1, 0, ERROR_ACCESS_DENIED, ""});
        ChildResult r = h.run("", [](LPSTR commandLine) {
            harness::report("source=%s", SourceDir);
            harness::report("instance=%d", FrameInstance > 0);
            char copy[256];
            std::strcpy(copy, SourceDir);
            harness::report("again=%d", TkInitSetup(commandLine));
            harness::report("unchanged=%d", std::strcmp(copy, SourceDir) == 0);
            return 0;
        });
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("source"), row.source) << row.current.substr(0, 10) << row.refused;
        EXPECT_EQ(r.value("instance"), "1");
        EXPECT_EQ(r.value("again"), "0");
        EXPECT_EQ(r.value("unchanged"), "1");
    }
}

// --- INF -----------------------------------------------------------------------------

std::string infWithField15(const std::string& value) {
    return "[Sizes]\nk = file.dat,,,,,,,,,,,,,," + value + "\n";
}

ChildResult readNumber(Harness& h, const std::string& field15, const std::string& answers = "") {
    h.setInf(infWithField15(field15));
    return h.run(answers, [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        harness::report("number=%ld", (long)TkReadInfNumber("Sizes", "k"));
        return 0;
    });
}

TEST(Inf, NumbersAreReadAsAtolReadsThemAndField15OfTheCapacityOverflows) {
    Harness h;
    const std::pair<std::string, const char*> numbers[] = {
        {"12ab", "12"},          {"\"\"", "0"}, {"abc", "0"}, {"\"  -7\"", "-7"}, {"99999999999", "2147483647"},
        {std::string(126, '0') + "1", "1"}};  // 127 characters fit
    for (const auto& [field, number] : numbers) {
        ChildResult r = readNumber(h, field);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("number"), number) << field;
        EXPECT_TRUE(r.lines("box").empty()) << field;
    }
    ChildResult over = readNumber(h, std::string(128, '0'), "2300 CONTINUE\n");
    EXPECT_EQ(over.exitCode, 0);
    EXPECT_EQ(over.value("number"), "");
    EXPECT_EQ(over.lines("box"), (std::vector<std::string>{kOverflowBox}));
    EXPECT_TRUE(over.hasLine(kError1024));
}

TEST(Inf, FieldOneReadsTheFileName) {
    Harness h;
    h.setInf(infWithField15("5"));
    ChildResult r = h.run("", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        char buffer[9];
        harness::report("name=%s", TkReadInfField("Sizes", "k", buffer, sizeof buffer));
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("name"), "file.dat");
}

// --- Joins ----------------------------------------------------------------------------

TEST(Joins, NextCallOverwritesTheBuffer) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        LPSTR first = TkJoin2("C:\\dist\\", "setup.inf");
        harness::report("first=%s", first);
        LPSTR second = TkJoin2("D:\\", "x");
        harness::report("same=%d", first == second);
        harness::report("text=%s", first);
        harness::report("three=%s", TkJoin3("Title", ",", "write.exe"));
        return 0;
    });
    EXPECT_EQ(r.value("first"), "C:\\dist\\setup.inf");
    EXPECT_EQ(r.value("same"), "1");
    EXPECT_EQ(r.value("text"), "D:\\x");
    EXPECT_EQ(r.value("three"), "Title,write.exe");
}

TEST(Joins, FiveHundredElevenCharactersFit) {
    Harness h;
    ChildResult fits = h.run("", [](LPSTR) {
        std::string a(300, 'a'), b(211, 'b');
        harness::report("length=%zu", std::strlen(TkJoin2(a.c_str(), b.c_str())));
        return 0;
    });
    EXPECT_EQ(fits.value("length"), "511");
}

// --- Detection --------------------------------------------------------------------------

TEST(Detection, ValidDriveUpperCasesInPlaceFreeBytesLeavesTheText) {
    Harness h;
    h.setFree('C', 123456512);  // whole sectors
    ChildResult r = h.run("", [](LPSTR) {
        char path[] = "c:\\target";
        harness::report("valid=%d", TkIsValidDrive(path));
        harness::report("path=%s", path);
        char other[] = "c:\\x";
        harness::report("free=%ld", (long)TkDriveFreeBytes(other));
        harness::report("other=%s", other);
        char missing[] = "q:\\x";
        harness::report("qvalid=%d", TkIsValidDrive(missing));
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("valid"), "1");
    EXPECT_EQ(r.value("path"), "C:\\target");
    EXPECT_EQ(r.value("free"), "123456512");
    EXPECT_EQ(r.value("other"), "c:\\x");
    EXPECT_EQ(r.value("qvalid"), "0");
}

TEST(Detection, FileExistsAsksOnlyForValidPaths) {
    Harness h;
    h.writeFile("C:\\dist\\here.txt", "x");
    ChildResult r = h.run("", [](LPSTR) {
        harness::report("here=%d", TkFileExists("C:\\dist\\here.txt", 0));
        harness::report("gone=%d", TkFileExists("C:\\dist\\gone.txt", 0));
        harness::report("dir=%d", TkDirExists("C:\\dist"));
        harness::report("nodir=%d", TkDirExists("C:\\nodir"));
        return 0;
    });
    EXPECT_EQ(r.value("here"), "1");
    EXPECT_EQ(r.value("gone"), "0");
    EXPECT_EQ(r.value("dir"), "1");
    EXPECT_EQ(r.value("nodir"), "0");
}

TEST(Directories, CreateDirMakesEveryLevel) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        TkCreateDir("C:\\new\\deeper", 0);
        harness::report("created=%d", TkDirExists("C:\\new\\deeper"));
        return 0;
    });
    EXPECT_EQ(r.value("created"), "1");
}

// The item's title carries the icon text after a comma only when there is one.
TEST(ProgramManager, GroupItemWithAndWithoutIconText) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        TkCreateGroupItemEx("Group", 0, "Title", "app.exe", "", 0);
        TkCreateGroupItemEx("Group", 0, "Title", "app.exe", "app.ico", 0);
        for (const auto& e : winsim::machine().dde->executes) harness::report("execute %s", e.c_str());
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.report, (std::vector<std::string>{
                            "execute [CreateGroup(Group)][AddItem(app.exe,Title)]",
                            "execute [CreateGroup(Group)][AddItem(app.exe,Title,app.ico)]"}));
}

// --- Registry library ------------------------------------------------------------------

TEST(RegistryLibrary, BindsAndUnbindsOnce) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        harness::report("bound=%d", BindRegistryLibrary());
        harness::report("required=%d", pfnRegCloseKey && pfnRegCreateKeyA && pfnRegDeleteKeyA && pfnRegOpenKeyA &&
                                           pfnRegQueryValueA && pfnRegSetValueA);
        HKEY key = NULL;
        harness::report("open=%ld", (long)pfnRegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &key));
        if (key) pfnRegCloseKey(key);
        UnbindRegistryLibrary();
        harness::report("library=%d", RegistryLibrary != NULL);
        UnbindRegistryLibrary();
        harness::report("cleared=%d", pfnRegCloseKey == NULL);
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("bound"), "1");
    EXPECT_EQ(r.value("required"), "1");
    EXPECT_EQ(r.value("library"), "0");
    EXPECT_EQ(r.value("cleared"), "1");
}

TEST(RegistryLibrary, MissingRequiredExportFailsTheBindingAnOptionalOneStaysNull) {
    for (auto [missing, bound] : {std::pair{"RegSetValueA", "0"}, {"RegQueryInfoKeyA", "1"}}) {
        Harness h;
        harness::removeExport(h.machine(), "ADVAPI32.DLL", missing);
        ChildResult r = h.run("", [](LPSTR) {
            harness::report("bound=%d", BindRegistryLibrary());
            harness::report("library=%d", RegistryLibrary != NULL);
            harness::report("optional=%d", pfnRegQueryInfoKeyA == NULL);
            return 0;
        });
        EXPECT_EQ(r.value("bound"), bound) << missing;
        EXPECT_EQ(r.value("library"), bound) << missing;
        if (*bound == '1') EXPECT_EQ(r.value("optional"), "1");
    }
}

TEST(RegistryLibrary, WinMainEndsQuietlyWithoutIt) {
    Harness h;
    h.setInf(harness::sampleInf());
    harness::removeExport(h.machine(), "ADVAPI32.DLL", "RegOpenKeyA");
    ChildResult r = h.runWinMain("100 CONTINUE\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.pages().empty());
    EXPECT_TRUE(r.lines("box").empty());
}

}  // namespace
