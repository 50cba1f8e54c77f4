// The install sequence on a machine: every condition it cannot survive
// driven to its reaction, with the spooler running again whatever happened
// (a successful installation or upgrade is checked by the installation
// scenarios, on the whole program); the two registry records; the
// model-name tables; the copy list: section sizes and the sections queued
// with their destinations.
#include <iterator>
#include <set>

#include "install/copylist.h"
#include "install/install.h"
#include "install/namemaps.h"
#include "install/records.h"
#include "setup/harness.h"

using namespace harness;

namespace {

const std::string kMonitorsKey = "HKEY_LOCAL_MACHINE\\" + kMonitors;

// Every condition the sequence cannot survive, with its message (ending in
// a blank: the start of it); on NT 3.5x the modeless spooler pages come and
// go under the wait cursor, and the spooler runs again when setup has ended
// unless its one start failed (the start after the stop is not repeated).
// A Windows 95 rename that fails with no module there is reported and setup
// goes on; without its module the spooler then refuses the monitor
// (ERROR_MOD_NOT_FOUND, as Wine answers posing as Windows 95).
TEST(Install, FatalConditionsEndSetupWithTheirMessage) {
    const Lines stop{"status 5100 Stopping the print spooler...", "status 5100 end"};
    const Lines stopStart{stop[0], stop[1], "status 5300 Starting the print spooler...", "status 5300 end"};
    const std::string sys95 = "C:\\WINDOWS\\SYSTEM";
    const struct {
        bool windows95, upgrade; void (*fault)(Harness&); std::string error; Lines status, boxes;
        DWORD spooler = SERVICE_RUNNING; const char* cursor = "arrow";  // under which the error page shows
    } rows[] = {
        {false, false, [](Harness&) { failNext("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED, kMonitorsKey); },
         "error Install -- Couldn't open registry root, Error = 5", {}, {}},
        {false, false, [](Harness& h) { fs::remove_all(h.host(driverDir() + "\\1")), putNtModules(h, "x"); },
         "error setupForPPDInstall failed, error = 123", {}, {}},
        {false, true, [](Harness&) { failNext("ControlService", 0, ERROR_ACCESS_DENIED, "Spooler"); },
         "error Install -- Couldn't stop spooler, error = 5", stop, {}, SERVICE_RUNNING, "wait"},
        {false, true, [](Harness&) { failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED, kMonitorsKey + "\\Varden Network Port"); },
         "error Install -- FixReg failed, error = ", stop, {}},  // the number is FixReg's last error
        {false, true, [](Harness& h) { fs::remove(h.host("C:\\dist\\vrdorvel.exe")); }, "error Error code = 1024", stop,
         {"box Copy Error: Cannot copy C:\\dist\\vrdorvel.exe to C:\\win32app\\vrdpsmon\\utility\\vrdorvel.exe (error 2)."}},
        {false, true, [](Harness&) { failNext("StartServiceA", 1, ERROR_SERVICE_DISABLED, "Spooler"); },
         "error Install -- Couldn't start spooler, error = 1058", stopStart, {}, SERVICE_STOPPED, "wait"},
        {false, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5", {}, {}},
        {true, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ACCESS_DENIED); },
         "error Install -- AddMonitor failed, error = 5", {}, {}},
        {true, false, [](Harness&) { failNext("AddMonitorA", 1, ERROR_ALREADY_EXISTS); },
         "error An instance of the Brevant Moniter was still residing in memory.  An incomplete installation or "
         "de-installation was detected.  Please reboot the computer before re-running this installation program.", {}, {}},
        {true, false, [](Harness&) { failNext("MoveFileA", 1, ERROR_ACCESS_DENIED); }, "error Install -- AddMonitor failed, error = 126",
         {}, {"box Install: Couldn't rename " + sys95 + "\\vrdpsmw4.new to " + sys95 + "\\vrdpsmw4.dll (error = 5)"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
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

// The Files key and the version key hold their texts (sizes with the
// terminating zero; the date is 20 characters, always). A key the registry
// refuses ends setup with the record's message and the registry's error.
TEST(RegistryRecords, KeysHoldTheirTextsOrEndSetup) {
    Harness h;
    ChildResult r = h.run("", [] {
        SetFilesKeyInfo(FILES_KEY_PATH, "C:\\win32app\\vrdpsmon");
        SetVersionInfo(VERSION_KEY_PATH);
        for (auto [path, name] : {std::pair{FILES_KEY_PATH, "Mgmt Sess Key"}, {FILES_KEY_PATH, "Root"}, {VERSION_KEY_PATH, "Title"},
                                  {VERSION_KEY_PATH, "Software Type"}, {VERSION_KEY_PATH, "Installation Version"},
                                  {VERSION_KEY_PATH, "Description"}, {VERSION_KEY_PATH, "Version Installed"},
                                  {VERSION_KEY_PATH, "Install Date"}}) {
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
    EXPECT_EQ(r.report, (Lines{"mqtv42|7", "C:\\win32app\\vrdpsmon|21", "Quillar for Windows|20", "Print Monitor|14", "V5.1-11i|9",
                               "Native support for Varden's network printers|45", "V5.1-1|7", "date|21", "returned=1"}))
        << r.output;
    for (bool files : {true, false}) {
        failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED);
        r = h.run("2300 CONTINUE\n", [files] {
            if (files) SetFilesKeyInfo(FILES_KEY_PATH, "C:\\x");
            else SetVersionInfo(VERSION_KEY_PATH);
        });
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.lines("error"), (Lines{std::string("error Unable to access Registry to set ") +
                                           (files ? "files subkey" : "version") +
                                           ", error = 5.  Please restart to a clean system before re-running this program."}));
    }
    std::string dates;
    for (SYSTEMTIME time : {SYSTEMTIME{1996, 3, 2, 5, 14, 7, 9, 0}, SYSTEMTIME{2026, 12, 1, 31, 23, 59, 59, 0},
                            SYSTEMTIME{1995, 1, 0, 1, 0, 0, 0, 0}, SYSTEMTIME{1999, 13, 0, 1, 0, 0, 0, 0},
                            SYSTEMTIME{1999, 0, 0, 1, 0, 0, 0, 0}}) {  // no month beyond the table, nor before it
        char out[32];
        FormatInstallDate(time, out, sizeof out);
        dates += std::string(out) + "|";
    }
    EXPECT_EQ(dates, "05-Mar-1996 14:07:09|31-Dec-2026 23:59:59|01-Jan-1995 00:00:00|01-\?\?\?-1999 00:00:00|"
                     "01-\?\?\?-1999 00:00:00|");
}

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
    for (std::string name : {"Other", "Long"})
        expectToolkitError(h.run("2300 CONTINUE\n", [name] {
            TkOpenInf("C:\\dist\\setup.inf");
            SectionBytes(name.c_str());
        }), 1024, name == "Long" ? Lines{"box MS-Setup Error: Buffer Overflow"} : Lines{});
}

// Builds the copy list of a distribution with one small file s<n>.dat per
// section, n its place in kSections (after something else was queued to
// C:\stale), copies it, and gives the files under the four destinations,
// sorted, as "drv\s1 sys\s2 ...".
std::string copy(Harness& h, bool windows95, bool alpha, bool mips, LONG installType, const std::string& answers = "",
                 const std::string& root = "C:\\root", void (*damage)(Harness&) = nullptr) {
    std::string inf;
    for (int n = 1; n <= 18; ++n) {
        std::string file = "s" + std::to_string(n) + ".dat";
        inf += std::string("[") + kSections[n - 1] + "]\n" + infLine("k" + std::to_string(n), file, 4);
        h.writeFile("C:\\dist\\" + file, "data");
    }
    h.setInf(inf);
    if (damage) damage(h);
    ChildResult r = h.run(answers, [=] {
        TkOpenInf("C:\\dist\\setup.inf");
        ::Setup.IsWindows95 = windows95;
        ::Setup.IsAlpha = alpha;
        ::Setup.IsMips = mips;
        ::Setup.IsX86 = !alpha && !mips;
        ::Setup.InstallType = installType;
        std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
        std::strcpy(::Setup.SystemDir, "C:\\sys");
        std::strcpy(::Setup.DriverDir, "C:\\drv");
        std::strcpy(::Setup.InstallRoot, root.c_str());
        TkAddSectionFiles("Orvel", "C:\\dist\\", "C:\\stale");
        BuildCopyList();
        TkCopyFiles();
    });
    if (!answers.empty()) {  // ended on the toolkit error page: "error|box"
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.pages(), r.answered);
        Lines ends = r.lines("error");
        for (const auto& b : r.lines("box")) ends.push_back(b);
        std::string out;
        for (const auto& l : ends) out += (out.empty() ? "" : "|") + l;
        return out;
    }
    EXPECT_EQ(r.value("returned"), "1") << r.output;
    std::set<std::string> files;
    for (const char* dir : {"drv", "root", "stale", "sys"})
        if (fs::exists(h.host(std::string("C:\\") + dir)))
            for (const auto& e : fs::recursive_directory_iterator(h.host(std::string("C:\\") + dir)))
                if (e.is_regular_file()) files.insert(e.path().lexically_relative(h.host("C:\\")).replace_extension().string());
    std::string text;
    for (const auto& f : files) text += (text.empty() ? "" : " ") + f;
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Each platform's sections go to their folders; the load sections only to
// a chosen root; the list queued before is dropped. The copy engine's
// results through the access layer: a quit (the user gave up on a full
// disk) is 1025, a failed copy 1024; a root too long for its subdirectories
// (508 characters, the longest the page accepts) overflows.
TEST(BuildCopyList, QueuesTheSectionsOfThePlatformToTheirFoldersOrFails) {
    const std::string util = "root\\s15 root\\utility\\s11 root\\utility\\s12 root\\utility\\s13 root\\utility\\s14";
    const struct { bool windows95, alpha, mips; LONG type; std::string files; } platforms[] = {
        {false, false, false, INSTALL_CHOSEN_DEST, "drv\\s1 root\\cat\\s17 root\\s15 root\\s16 root\\sys\\s18 root\\utility\\s10 "
         "root\\utility\\s11 root\\utility\\s12 root\\utility\\s13 root\\utility\\s14 sys\\s2 sys\\s5"},
        {false, true, false, INSTALL_SYSTEM_DRIVE, "drv\\s1 " + util + " root\\utility\\s8 sys\\s2 sys\\s3"},
        {false, false, true, INSTALL_SYSTEM_DRIVE, "drv\\s1 " + util + " root\\utility\\s9 sys\\s2 sys\\s4"},
        {true, false, true, INSTALL_SYSTEM_DRIVE, "drv\\s1 root\\s15 root\\utility\\s10" + util.substr(8) + " sys\\s6 sys\\s7"},
    };
    for (const auto& row : platforms) {
        Harness h(row.windows95 ? win95() : nt351());
        EXPECT_EQ(copy(h, row.windows95, row.alpha, row.mips, row.type), row.files);
    }
    const struct { void (*damage)(Harness&); std::string root, outcome; } rows[] = {
        {[](Harness& h) { h.setFree('C', 10); }, "C:\\root",
         "error Error code = 1025|box Disk Full: There is not enough space on drive C: for the files. Needed: 1 KB, free: 0 KB. "
         "Make room and choose Retry, or Cancel to stop setup."},
        {[](Harness& h) { fs::remove(h.host("C:\\dist\\s11.dat")); }, "C:\\root",
         "error Error code = 1024|box Copy Error: Cannot copy C:\\dist\\s11.dat to C:\\root\\utility\\s11.dat (error 2)."},
        {[](Harness&) {}, "C:\\" + std::string(505, 'r'), "error Error code = 1024|box MS-Setup Error: Buffer Overflow"},
    };
    for (const auto& row : rows) {
        Harness h;
        EXPECT_EQ(copy(h, false, false, false, INSTALL_CHOSEN_DEST, "2300 CONTINUE\n", row.root, row.damage), row.outcome);
    }
}

}  // namespace
