// The install sequence on a machine: every condition it cannot survive
// driven to its reaction, with the spooler running again whatever happened
// (a successful installation or upgrade is checked by the installation
// scenarios, on the whole program); the two registry records; the
// model-name tables; the copy list: section sizes and the sections queued
// with their destinations.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>

#include "install/copylist.h"
#include "install/install.h"
#include "install/namemaps.h"
#include "install/records.h"
#include "setup/harness.h"

using namespace harness;

namespace {

const char kMonitors[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

// Every condition the sequence cannot survive, with its message; on NT 3.5x
// the modeless spooler pages come and go under the wait cursor, and the
// spooler runs again when setup has ended unless its one start failed.
TEST(Install, FatalConditionsEndSetupWithTheirMessage) {
    const Lines stop{"status 5100 Stopping the print spooler...", "status 5100 end"};
    const Lines stopStart{stop[0], stop[1], "status 5300 Starting the print spooler...", "status 5300 end"};
    const std::string sys95 = "C:\\WINDOWS\\SYSTEM";
    const struct {
        const char* name; bool windows95, upgrade; void (*fault)(Harness&);
        std::string error;  // ending in a blank: the start of it
        Lines status, boxes; DWORD spooler = SERVICE_RUNNING;
        const char* cursor = "arrow";  // under which the error page shows
    } rows[] = {
        {"monitors key refused", false, false,
         [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, kMonitors); },
         "error Install -- Couldn't open registry root, Error = 5", {}, {}},
        {"modules in a subdirectory without a number", false, false,
         [](Harness& h) { fs::remove_all(h.host(driverDir() + "\\1")), putNtModules(h, "x"); },
         "error setupForPPDInstall failed, error = 123", {}, {}},
        {"spooler does not stop", false, true,
         [](Harness&) { failNext("ControlService", 0, ERROR_ACCESS_DENIED, "Spooler"); },
         "error Install -- Couldn't stop spooler, error = 5", stop, {}, SERVICE_RUNNING, "wait"},
        {"monitor key cannot be repaired", false, true,
         [](Harness&) { failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED, std::string(kMonitors) + "\\Varden Network Port"); },
         "error Install -- FixReg failed, error = ", stop, {}},  // the number is FixReg's last error
        {"copy fails while the spooler is stopped", false, true,
         [](Harness& h) { fs::remove(h.host("C:\\dist\\vrdorvel.exe")); }, "error Error code = 1024", stop,
         {"box Copy Error: Cannot copy C:\\dist\\vrdorvel.exe to C:\\win32app\\vrdpsmon\\utility\\vrdorvel.exe (error 2)."}},
        // The one start attempt after the stop is not repeated.
        {"spooler does not start again", false, true,
         [](Harness&) { failNext("StartServiceA", 1, ERROR_SERVICE_DISABLED, "Spooler"); },
         "error Install -- Couldn't start spooler, error = 1058", stopStart, {}, SERVICE_STOPPED, "wait"},
        {"AddMonitor refused on NT", false, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5", {}, {}},
        {"AddMonitor refused on Windows 95", true, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5", {}, {}},
        {"earlier monitor still loaded on Windows 95", true, false,
         [](Harness&) { failNext("AddMonitorA", 1, ERROR_ALREADY_EXISTS); },
         "error An instance of the Brevant Moniter was still residing in memory.  An incomplete installation or "
         "de-installation was detected.  Please reboot the computer before re-running this installation program.",
         {}, {}},
        // A rename that fails with no module there is reported and setup goes
        // on; without its module the spooler then refuses the monitor
        // (ERROR_MOD_NOT_FOUND, as Wine answers posing as Windows 95).
        {"Windows 95 rename fails with no module", true, false,
         [](Harness&) { failNext("MoveFileA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 126", {},
         {"box Install: Couldn't rename " + sys95 + "\\vrdpsmw4.new to " + sys95 + "\\vrdpsmw4.dll (error = 5)"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h(row.windows95 ? win95() : nt351());
        // The PostScript modules where each platform keeps them; an upgrade
        // finds an earlier release's monitor (under an older name).
        copyDistribution(h);
        std::string sys = winsim::machine().systemDir;
        if (row.windows95) h.writeFile(sys + "\\pscript.drv");
        else putNtModules(h, "1");
        if (row.upgrade) {
            winsim::defineMonitor("Varden Network Port 4.2", "vrdpsmon.dll", {"VNP1"});
            h.writeFile(sys + "\\vrdpsmon.dll", "earlier release\n");
        }
        row.fault(h);
        ChildResult r = h.run("2300 CONTINUE\n", [] {
            startupState();
            winsim::addExitHandler([](UINT) { reportSpooler(); });
            BuildCopyList();
            Install();
        });
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("returned"), "");
        Lines errors = r.lines("error");
        ASSERT_EQ(errors.size(), 1u) << r.output;
        EXPECT_EQ(errors[0].substr(0, row.error.back() == ' ' ? row.error.size() : std::string::npos), row.error);
        EXPECT_EQ(r.lines("status"), row.status);
        EXPECT_EQ(r.lines("box"), row.boxes);
        for (const auto& l : r.lines("shown 5")) EXPECT_EQ(l.substr(l.size() - 11), "cursor wait");
        EXPECT_EQ(r.lines("shown 2300"), Lines{std::string("shown 2300 FErrorDlgProc help 0 cursor ") + row.cursor});
        EXPECT_EQ(r.value("spooler"), row.windows95 ? "" : std::to_string(row.spooler));
    }
}

// --- Registry records ----------------------------------------------------------

// The Files key and the version key hold their texts (sizes with the
// terminating zero; the date is 20 characters). A key the registry refuses
// ends setup with the record's message and the registry's error.
TEST(RegistryRecords, KeysHoldTheirTextsOrEndSetup) {
    Harness h;
    ChildResult r = h.run("", [] {
        SetFilesKeyInfo(FILES_KEY_PATH, "C:\\win32app\\vrdpsmon");
        SetVersionInfo(VERSION_KEY_PATH);
        for (auto [path, name] : {std::pair{FILES_KEY_PATH, "Mgmt Sess Key"}, {FILES_KEY_PATH, "Root"},
                                  {VERSION_KEY_PATH, "Title"}, {VERSION_KEY_PATH, "Software Type"},
                                  {VERSION_KEY_PATH, "Installation Version"}, {VERSION_KEY_PATH, "Description"},
                                  {VERSION_KEY_PATH, "Version Installed"}, {VERSION_KEY_PATH, "Install Date"}}) {
            HKEY key = nullptr;
            char data[600] = {};
            DWORD size = sizeof data, type = 0;
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
            LONG e = RegQueryValueExA(key, name, nullptr, &type, (LPBYTE)data, &size);
            RegCloseKey(key);
            bool date = std::string(name) == "Install Date";  // its text changes: the size shows its form
            report("%s|%u", e || type != REG_SZ ? "<none>" : date ? "date" : data, (unsigned)size);
        }
    });
    EXPECT_EQ(r.report, (Lines{"mqtv42|7", "C:\\win32app\\vrdpsmon|21", "Quillar for Windows|20", "Print Monitor|14",
                               "V5.1-11i|9", "Native support for Varden's network printers|45", "V5.1-1|7", "date|21",
                               "returned=1"})) << r.output;
    for (bool files : {true, false}) {
        failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED);
        r = h.run("2300 CONTINUE\n", [files] {
            if (files) SetFilesKeyInfo(FILES_KEY_PATH, "C:\\x");
            else SetVersionInfo(VERSION_KEY_PATH);
        });
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.lines("error"), (Lines{std::string("error Unable to access Registry to set ") +
                                           (files ? "files subkey" : "version") +
                                           ", error = 5.  Please restart to a clean system before re-running this "
                                           "program."}));
    }
}

TEST(RegistryRecords, DateTextIsAlwaysTwentyCharacters) {
    const std::pair<SYSTEMTIME, const char*> rows[] = {
        {{1996, 3, 2, 5, 14, 7, 9, 0}, "05-Mar-1996 14:07:09"},
        {{2026, 12, 1, 31, 23, 59, 59, 0}, "31-Dec-2026 23:59:59"},
        {{1995, 1, 0, 1, 0, 0, 0, 0}, "01-Jan-1995 00:00:00"},
        {{1999, 13, 0, 1, 0, 0, 0, 0}, "01-\?\?\?-1999 00:00:00"},  // no month beyond the table
        {{1999, 0, 0, 1, 0, 0, 0, 0}, "01-\?\?\?-1999 00:00:00"},   // nor before it
    };
    for (const auto& [time, text] : rows) {
        char out[32];
        FormatInstallDate(time, out, sizeof out);
        EXPECT_STREQ(out, text);
    }
}

// --- Model-name tables ------------------------------------------------------------

// The Windows 95 names fit 31 characters ("/Net" names end so); an earlier
// release's name moves to a current name, never to another earlier one.
// (That every key is one of the distribution's shows in the installation
// scenarios, one driver per key.) The lookup ignores letter case.
TEST(NameMaps, NamesFitAndLookupIgnoresCase) {
    std::set<std::string> olds;
    for (const NameMapEntry* table : {Win95DriverNameMap, Win95NetDriverNameMap})
        for (const NameMapEntry* e = table; e->Key; ++e) {
            std::string name = e->Name;
            EXPECT_TRUE(name.size() <= 31 && name != e->Key) << name;
            EXPECT_EQ(table == Win95NetDriverNameMap, name.size() > 4 && name.substr(name.size() - 4) == "/Net") << name;
        }
    for (const ObsoleteDriverName* e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) olds.insert(e->Old);
    for (const ObsoleteDriverName* e = ObsoleteDriverNameMap; e->Old[0] != '\0'; ++e) EXPECT_FALSE(olds.count(e->Current));
    EXPECT_STREQ(LookupNameMap(Win95DriverNameMap, "VARDEN LASERSTREAM 1200/japanese"), "Varden LaserStream 1200/J");
    EXPECT_STREQ(LookupNameMap(Win95NetDriverNameMap, "Varden DeskStream 800"), "Varden DeskStream 800/Net");
    EXPECT_EQ(LookupNameMap(Win95DriverNameMap, "Varden LaserStream 400"), nullptr);
    EXPECT_EQ(LookupNameMap(Win95NetDriverNameMap, ""), nullptr);
}

struct Flags { BOOL win95, alpha, mips; };

void setFlags(Flags flags) {
    ::Setup.IsWindows95 = flags.win95;
    ::Setup.IsAlpha = flags.alpha;
    ::Setup.IsMips = flags.mips;
    ::Setup.IsX86 = !flags.alpha && !flags.mips;
}

// Every key counts; a field that is no number counts as atol reads it (the
// kit's reader refuses such texts, so they are put into its store); the
// sum is held at the 32-bit limits. A section that cannot be listed is a
// toolkit error (one that is there but empty counts 0); a key of 64
// characters overflows.
TEST(SectionBytes, AddsEveryKeyHoldsTheSumAndFailsOnMissingOrLong) {
    Harness h;
    h.setInf("[Many]\n" + infLine("a", "a.dat", 100) + infLine("b", "b.dat", 20) + infLine("c", "c.dat", 0) +
             infLine("d", "d.dat", 0) + "[Empty]\n[Big]\n" + infLine("a", "a.dat", 0) + infLine("b", "b.dat", 0) +
             infLine("c", "c.dat", 0) + "[Long]\n" + infLine(std::string(64, 'k'), "k.dat", 1));
    ChildResult r = h.run("", [] {
        TkOpenInf("C:\\dist\\setup.inf");
        kit::Inf& inf = *kit::currentInf();
        auto set = [&](int line, const char* text) { inf.strings[inf.fields[inf.lines.at(line).firstField + 14]] = text; };
        set(2, "3x");
        set(3, "none");
        report("%ld %ld", (long)SectionBytes("Many"), (long)SectionBytes("Empty"));
        for (auto [a, b, c] : {std::tuple{"2147483647", "1", "-5"}, {"-2147483648", "-1", "5"}}) {
            set(4, a);
            set(5, b);
            set(6, c);
            report("%ld", (long)SectionBytes("Big"));
        }
    });
    EXPECT_EQ(r.report, (Lines{"123 0", "2147483642", "-2147483643", "returned=1"})) << r.output;
    for (const char* section : {"Other", "Long"}) {
        std::string name = section;
        expectToolkitError(h.run("2300 CONTINUE\n", [name] {
            TkOpenInf("C:\\dist\\setup.inf");
            SectionBytes(name.c_str());
        }), 1024, name == "Long" ? Lines{"box MS-Setup Error: Buffer Overflow"} : Lines{});
    }
}

// --- Copy list ----------------------------------------------------------------

// Every section with one small file s<n>.dat, n its place in kSections.
void writeDistribution(Harness& h) {
    std::string inf;
    for (int n = 1; n <= 18; ++n) {
        std::string file = "s" + std::to_string(n) + ".dat";
        inf += std::string("[") + kSections[n - 1] + "]\n" + infLine("k" + std::to_string(n), file, 4);
        h.writeFile("C:\\dist\\" + file, "data");
    }
    h.setInf(inf);
}

// Builds the copy list (after something else was queued to C:\stale) and
// copies it.
ChildResult copy(Harness& h, Flags flags, LONG installType, const std::string& answers = "",
                 const std::string& root = "C:\\root") {
    return h.run(answers, [flags, installType, root] {
        TkOpenInf("C:\\dist\\setup.inf");
        setFlags(flags);
        ::Setup.InstallType = installType;
        std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
        std::strcpy(::Setup.SystemDir, "C:\\sys");
        std::strcpy(::Setup.DriverDir, "C:\\drv");
        std::strcpy(::Setup.InstallRoot, root.c_str());
        TkAddSectionFiles("Orvel", "C:\\dist\\", "C:\\stale");
        BuildCopyList();
        TkCopyFiles();
    });
}

// Words of a text, sorted.
Lines words(const std::string& text) {
    std::istringstream in(text);
    Lines out{std::istream_iterator<std::string>(in), {}};
    std::sort(out.begin(), out.end());
    return out;
}

// The files under the four destinations, sorted, as "drv\s1", "sys\s2"...
Lines copied(Harness& h) {
    std::string text;
    for (const char* dir : {"drv", "root", "stale", "sys"})
        if (fs::exists(h.host(std::string("C:\\") + dir)))
            for (const auto& e : fs::recursive_directory_iterator(h.host(std::string("C:\\") + dir)))
                if (e.is_regular_file())
                    text += " " + e.path().lexically_relative(h.host("C:\\")).replace_extension().string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return words(text);
}

// Each platform's sections go to their folders; the load sections only to
// a chosen root; the list queued before is dropped.
TEST(BuildCopyList, QueuesTheSectionsOfThePlatformToTheirFolders) {
    const std::string util = "root\\s15 root\\utility\\s11 root\\utility\\s12 root\\utility\\s13 root\\utility\\s14";
    const struct { bool windows95; Flags flags; LONG type; std::string files; } rows[] = {
        {false, {FALSE, FALSE, FALSE}, INSTALL_CHOSEN_DEST,
         "drv\\s1 root\\cat\\s17 root\\s15 root\\s16 root\\sys\\s18 root\\utility\\s10 root\\utility\\s11 "
         "root\\utility\\s12 root\\utility\\s13 root\\utility\\s14 sys\\s2 sys\\s5"},
        {false, {FALSE, TRUE, FALSE}, INSTALL_SYSTEM_DRIVE, "drv\\s1 " + util + " root\\utility\\s8 sys\\s2 sys\\s3"},
        {false, {FALSE, FALSE, TRUE}, INSTALL_SYSTEM_DRIVE, "drv\\s1 " + util + " root\\utility\\s9 sys\\s2 sys\\s4"},
        {true, {TRUE, FALSE, TRUE}, INSTALL_SYSTEM_DRIVE, "drv\\s1 " + util + " root\\utility\\s10 sys\\s6 sys\\s7"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.files.substr(0, 40));
        Harness h(row.windows95 ? win95() : nt351());
        writeDistribution(h);
        ChildResult r = copy(h, row.flags, row.type);
        ASSERT_EQ(r.value("returned"), "1") << r.output;
        EXPECT_EQ(copied(h), words(row.files));
    }
}

// The copy engine's results through the access layer: a quit (the user gave
// up on a full disk) is 1025, a failed copy 1024; a root too long for its
// subdirectories (508 characters, the longest the page accepts) overflows.
TEST(BuildCopyList, FailuresEndOnTheToolkitErrorPage) {
    const struct { const char* what; void (*damage)(Harness&); std::string root; int code; Lines boxes; } rows[] = {
        {"disk full", [](Harness& h) { h.setFree('C', 10); }, "C:\\root", 1025,
         {"box Disk Full: There is not enough space on drive C: for the files. Needed: 1 KB, free: 0 KB. Make room "
          "and choose Retry, or Cancel to stop setup."}},
        {"file missing", [](Harness& h) { fs::remove(h.host("C:\\dist\\s11.dat")); }, "C:\\root", 1024,
         {"box Copy Error: Cannot copy C:\\dist\\s11.dat to C:\\root\\utility\\s11.dat (error 2)."}},
        {"root too long", [](Harness&) {}, "C:\\" + std::string(505, 'r'), 1024, {"box MS-Setup Error: Buffer Overflow"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Harness h;
        writeDistribution(h);
        row.damage(h);
        expectToolkitError(copy(h, {FALSE, FALSE, FALSE}, INSTALL_CHOSEN_DEST, "2300 CONTINUE\n", row.root), row.code,
                           row.boxes);
    }
}

}  // namespace
