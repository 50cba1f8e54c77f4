// The toolkit access layer: failure rules, overflow announcements, the
// source directory, message pumping, INF reading, joins and detection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kit/internal.h"
#include "setup/harness.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

using harness::ChildResult;
using harness::Harness;

namespace {

const char* const kOverflowBox = "box MS-Setup Error: Buffer Overflow";
const char* const kError1024 = "error Error code = 1024";
const char* const kError1025 = "error Error code = 1025";

// --- Symbols and lists --------------------------------------------------------

TEST(Symbols, ValueOneShorterThanTheCapacityFits) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        TkSetSymbol("Probe", "abcdefghijklmn");  // 14 characters
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        TkGetSymbol("Probe", buffer, 15);
        harness::report("value=%s", buffer);
        harness::report("guard=%c", buffer[15]);
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("value"), "abcdefghijklmn");
    EXPECT_EQ(r.value("guard"), "x");
    EXPECT_TRUE(r.lines("box").empty());
}

TEST(Symbols, ValueAsLongAsTheCapacityIsAnOverflow) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        TkSetSymbol("Probe", "abcdefghijklmno");  // 15 characters
        char buffer[16];
        std::memset(buffer, 'x', sizeof buffer);
        TkGetSymbol("Probe", buffer, 15);
        harness::report("returned=1");
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    ASSERT_EQ(r.lines("box").size(), 1u);
    EXPECT_EQ(r.lines("box")[0], kOverflowBox);
    EXPECT_TRUE(r.hasLine(kError1024));
    EXPECT_EQ(r.pages(), (std::vector<int>{2300}));
}

TEST(Symbols, EmptyNameIsAToolkitError) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        char buffer[16];
        TkGetSymbol("", buffer, sizeof buffer);
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.hasLine(kError1024));
    EXPECT_TRUE(r.lines("box").empty());
}

TEST(Lists, IndexMustLieWithinTheList) {
    Harness h;
    ChildResult ok = h.run("", [](LPSTR) {
        TkSetSymbol("One", "");
        TkAddListItem("One", "first");
        char buffer[16];
        harness::report("item=%s", TkGetListItem("One", 1, buffer, sizeof buffer));
        harness::report("length=%u", (unsigned)TkListLength("One"));
        TkSetListItem("One", 1, "replaced");
        harness::report("after=%s", TkGetListItem("One", 1, buffer, sizeof buffer));
        return 0;
    });
    EXPECT_EQ(ok.exitCode, 0) << ok.output;
    EXPECT_EQ(ok.value("item"), "first");
    EXPECT_EQ(ok.value("length"), "1");
    EXPECT_EQ(ok.value("after"), "replaced");

    for (UINT index : {0u, 2u}) {
        ChildResult r = h.run("2300 CONTINUE\n", [index](LPSTR) {
            TkSetSymbol("One", "");
            TkAddListItem("One", "first");
            char buffer[16];
            TkGetListItem("One", index, buffer, sizeof buffer);
            return 5;
        });
        EXPECT_EQ(r.exitCode, 0) << "index " << index;
        EXPECT_TRUE(r.hasLine(kError1024)) << "index " << index;
    }
}

// --- Messages -------------------------------------------------------------------

TEST(Messages, QuitWhilePumpingIsError1025) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        PostQuitMessage(0);
        TkPumpMessages();
        harness::report("returned=1");
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_TRUE(r.hasLine(kError1025));
}

TEST(Messages, QuitQueuedDuringAPageEndsBeforeTheEventIsRead) {
    Harness h;
    // The page ends at once on the waiting quit and takes no answer.
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        PostQuitMessage(0);
        char event[TK_EVENT_CAPACITY];
        TkRunDialog(TK_DIALOG_LIBRARY, 100, "FWelcomeDlgProc", 900, "FHelpDlgProc", event, sizeof event);
        harness::report("returned=1");
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_TRUE(r.hasLine(kError1025));
    EXPECT_EQ(r.pages(), (std::vector<int>{100, 2300}));
}

// --- Start ------------------------------------------------------------------------

TEST(Start, SourceDirEndsInOneBackslash) {
    Harness h;
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
    EXPECT_EQ(r.value("source"), "C:\\dist\\");
    EXPECT_EQ(r.value("instance"), "1");
    EXPECT_EQ(r.value("again"), "0");
    EXPECT_EQ(r.value("unchanged"), "1");
}

TEST(Start, DriveRootKeepsItsSingleBackslash) {
    Harness h;
    h.machine().currentDir = "C:\\";
    ChildResult r = h.run("", [](LPSTR) {
        harness::report("source=%s", SourceDir);
        return 0;
    });
    EXPECT_EQ(r.value("source"), "C:\\");
}

// --- INF -----------------------------------------------------------------------------

std::string infWithField15(const std::string& value) {
    return "[Sizes]\nk = file.dat,,,,,,,,,,,,,," + value + "\n";
}

// The kit's INF reader refuses a size that is not a decimal number in
// range, so the program's own reading of odd sizes is checked by putting
// the text into the kit's store after a good INF was opened.
ChildResult readNumber(Harness& h, const std::string& field15, const std::string& answers = "") {
    h.setInf(infWithField15("0"));
    return h.run(answers, [field15](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        kit::Inf& inf = *kit::currentInf();
        inf.strings[inf.fields[inf.lines.at(0).firstField + 14]] = field15;
        harness::report("number=%ld", (long)TkReadInfNumber("Sizes", "k"));
        return 0;
    });
}

TEST(Inf, NumbersAreReadAsAtolReadsThem) {
    Harness h;
    EXPECT_EQ(readNumber(h, "12ab").value("number"), "12");
    EXPECT_EQ(readNumber(h, "").value("number"), "0");
    EXPECT_EQ(readNumber(h, "abc").value("number"), "0");
    EXPECT_EQ(readNumber(h, "  -7").value("number"), "-7");
    EXPECT_EQ(readNumber(h, "99999999999").value("number"), "2147483647");
}

TEST(Inf, Field15OfTheCapacityOverflows) {
    Harness h;
    ChildResult fits = readNumber(h, std::string(127, '1').replace(0, 126, std::string(126, '0')));
    EXPECT_EQ(fits.exitCode, 0) << fits.output;
    EXPECT_EQ(fits.value("number"), "1");
    EXPECT_TRUE(fits.lines("box").empty());

    ChildResult over = readNumber(h, std::string(128, '0'), "2300 CONTINUE\n");
    EXPECT_EQ(over.exitCode, 0);
    EXPECT_EQ(over.value("number"), "");
    EXPECT_EQ(over.lines("box"), (std::vector<std::string>{kOverflowBox}));
    EXPECT_TRUE(over.hasLine(kError1024));
}

TEST(Inf, MissingKeyIsAnErrorWithoutTheBox) {
    Harness h;
    h.setInf(infWithField15("5"));
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        char buffer[64];
        TkReadInfField("Sizes", "nokey", buffer, sizeof buffer);
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.lines("box").empty());
    EXPECT_TRUE(r.hasLine(kError1024));
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

TEST(Joins, TooLongIsAnOverflowNotAWriteBeyondTheBuffer) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        std::string a(300, 'a'), b(212, 'b');  // 512 characters and the zero
        TkJoin2(a.c_str(), b.c_str());
        harness::report("returned=1");
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{kOverflowBox}));
    EXPECT_TRUE(r.hasLine(kError1024));

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

TEST(Directories, CreateDirFailureIsAToolkitError) {
    Harness h;
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        TkCreateDir("C:\\new\\deeper", 0);
        harness::report("created=%d", TkDirExists("C:\\new\\deeper"));
        TkCreateDir("Q:\\nowhere", 0);
        harness::report("returned=1");
        return 5;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("created"), "1");
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_TRUE(r.hasLine(kError1024));
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

TEST(RegistryLibrary, MissingRequiredExportFailsTheBinding) {
    Harness h;
    harness::removeExport(h.machine(), "ADVAPI32.DLL", "RegSetValueA");
    ChildResult r = h.run("", [](LPSTR) {
        harness::report("bound=%d", BindRegistryLibrary());
        harness::report("library=%d", RegistryLibrary != NULL);
        return 0;
    });
    EXPECT_EQ(r.value("bound"), "0");
    EXPECT_EQ(r.value("library"), "0");
}

TEST(RegistryLibrary, MissingOptionalExportStaysNull) {
    Harness h;
    harness::removeExport(h.machine(), "ADVAPI32.DLL", "RegQueryInfoKeyA");
    ChildResult r = h.run("", [](LPSTR) {
        harness::report("bound=%d", BindRegistryLibrary());
        harness::report("optional=%d", pfnRegQueryInfoKeyA == NULL);
        return 0;
    });
    EXPECT_EQ(r.value("bound"), "1");
    EXPECT_EQ(r.value("optional"), "1");
}

TEST(RegistryLibrary, WinMainEndsQuietlyWithoutIt) {
    Harness h;
    h.setInf(harness::sampleInf());
    harness::removeExport(h.machine(), "ADVAPI32.DLL", "RegOpenKeyA");
    ChildResult r = h.runWinMain("");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.pages().empty());
    EXPECT_TRUE(r.lines("box").empty());
}

}  // namespace
