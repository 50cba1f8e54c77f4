// Copy-list selection: section sizes per platform and processor, and the
// sections queued with their destinations.
#include <gtest/gtest.h>

#include <cstring>

#include "install/copylist.h"
#include "setup/harness.h"

using namespace harness;

namespace {

struct Flags { BOOL win95, alpha, mips; };

void setFlags(Flags flags) {
    ::Setup.IsWindows95 = flags.win95;
    ::Setup.IsAlpha = flags.alpha;
    ::Setup.IsMips = flags.mips;
    ::Setup.IsX86 = !flags.alpha && !flags.mips;
}

// The three figures of each platform and processor (Windows 95 takes the
// x86 wizard whatever the processor flags say); figures beyond 4 GB are held
// at the largest value instead of wrapping to a small number that would
// pass the space checks.
TEST(ComputeSectionSizes, SectionsOfThePlatformAndProcessor) {
    std::string huge;
    for (const char* s : kSections) {
        huge += std::string("[") + s + "]\n";
        for (int i = 0; i < 3; ++i) huge += infLine("k" + std::to_string(i), "f.dat", 2000000000u);
    }
    const std::uint32_t util = sectionSizes({"Write Files", "Orvel", "Remote Console", "Wizard", "VB Common"});
    const std::uint32_t load = sectionSizes({"Load PS Files", "Load Cat Files", "Load Sys Files"});
    const std::uint32_t nt = sectionSizes({"PPD Files", "NT Help File"}), all = 0xFFFFFFFFu;
    const struct { Flags flags; std::string inf; std::uint32_t system, utility, load; } rows[] = {
        {{FALSE, FALSE, FALSE}, sampleInf(), nt + sectionSize("I386 Monitor"), util + sectionSize("I386 Wizard"), load},
        {{FALSE, TRUE, FALSE}, sampleInf(), nt + sectionSize("Alpha Monitor"), util + sectionSize("Alpha Wizard"), load},
        {{FALSE, FALSE, TRUE}, sampleInf(), nt + sectionSize("Mips Monitor"), util + sectionSize("Mips Wizard"), load},
        {{TRUE, TRUE, FALSE}, sampleInf(), sectionSizes({"PPD Files", "W95 Help File", "W95 Monitor"}),
         util + sectionSize("I386 Wizard"), load},
        {{FALSE, FALSE, FALSE}, huge, all, all, all},
    };
    for (const auto& row : rows) {
        Harness h;
        h.setInf(row.inf);
        Flags flags = row.flags;
        ChildResult r = h.run("", [flags] {
            TkOpenInf("C:\\dist\\setup.inf");
            setFlags(flags);
            ::Setup.SystemDriveBytes = ::Setup.UtilityBytes = ::Setup.LoadFilesBytes = 12345;
            ComputeSectionSizes();
            report("%u %u %u", (unsigned)::Setup.SystemDriveBytes, (unsigned)::Setup.UtilityBytes,
                   (unsigned)::Setup.LoadFilesBytes);
        });
        EXPECT_EQ(r.report, (Lines{std::to_string(row.system) + " " + std::to_string(row.utility) + " " +
                                       std::to_string(row.load), "returned=1"})) << r.output;
    }
}

// Every key counts; a field that is no number counts as atol reads it (the
// kit's reader refuses such texts, so they are put into its store); the
// sum is held at the 32-bit limits.
TEST(SectionBytes, AddsEveryKeyAndHoldsTheSum) {
    Harness h;
    h.setInf("[Many]\n" + infLine("a", "a.dat", 100) + infLine("b", "b.dat", 20) + infLine("c", "c.dat", 0) +
             infLine("d", "d.dat", 0) + "[Empty]\n[Big]\n" + infLine("a", "a.dat", 0) + infLine("b", "b.dat", 0) +
             infLine("c", "c.dat", 0));
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
}

// A section that cannot be listed is a toolkit error (one that is there but
// empty counts 0); a key of 64 characters overflows.
TEST(SectionBytes, MissingSectionOrOverlongKeyEndsSetup) {
    for (auto [inf, section] : {std::pair<std::string, const char*>{"[Other]\n", "PPD Files"},
                                {"[Long]\n" + infLine(std::string(64, 'k'), "k.dat", 1), "Long"}}) {
        Harness h;
        h.setInf(inf);
        std::string name = section;
        ChildResult r = h.run("2300 CONTINUE\n", [name] {
            TkOpenInf("C:\\dist\\setup.inf");
            SectionBytes(name.c_str());
        });
        expectToolkitError(r, 1024, name == "Long" ? Lines{"box MS-Setup Error: Buffer Overflow"} : Lines{});
    }
}

// --- Copy list ----------------------------------------------------------------

// Every section with one small file s<n>.dat named after its number.
void writeDistribution(Harness& h) {
    std::string inf;
    for (int n = 1; n <= 18; ++n) {
        std::string file = "s" + std::to_string(n) + ".dat";
        inf += std::string("[") + kSections[n - 1] + "]\n" + infLine("k" + std::to_string(n), file, 4);
        h.writeFile("C:\\dist\\" + file, "data");
    }
    h.setInf(inf);
}

std::string fileOf(const char* section) {
    for (int i = 0; i < 18; ++i)
        if (std::strcmp(kSections[i], section) == 0) return "s" + std::to_string(i + 1) + ".dat";
    return "";
}

// Builds the copy list (after something else was queued) and copies it.
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

TEST(BuildCopyList, QueuesTheSectionsOfThePlatformToTheirFolders) {
    // Folder and section pairs that are copied, and ones that are not.
    using Places = std::vector<std::pair<const char*, const char*>>;
    const struct { bool windows95; Flags flags; LONG type; Places present, absent; } rows[] = {
        {false, {FALSE, FALSE, FALSE}, INSTALL_CHOSEN_DEST,
         {{"C:\\drv", "PPD Files"}, {"C:\\sys", "NT Help File"}, {"C:\\sys", "I386 Monitor"},
          {"C:\\root\\utility", "I386 Wizard"}, {"C:\\root\\utility", "Orvel"},
          {"C:\\root\\utility", "Remote Console"}, {"C:\\root\\utility", "Wizard"},
          {"C:\\root\\utility", "VB Common"}, {"C:\\root", "Write Files"}, {"C:\\root", "Load PS Files"},
          {"C:\\root\\cat", "Load Cat Files"}, {"C:\\root\\sys", "Load Sys Files"}},
         {{"C:\\sys", "Alpha Monitor"}, {"C:\\sys", "Mips Monitor"}, {"C:\\sys", "W95 Monitor"},
          {"C:\\sys", "W95 Help File"}, {"C:\\root\\utility", "Alpha Wizard"}, {"C:\\stale", "Orvel"}}},
        // An installation on the system drive queues no load section.
        {false, {FALSE, TRUE, FALSE}, INSTALL_SYSTEM_DRIVE,
         {{"C:\\sys", "Alpha Monitor"}, {"C:\\root\\utility", "Alpha Wizard"}},
         {{"C:\\root", "Load PS Files"}, {"C:\\root\\cat", "Load Cat Files"}, {"C:\\root\\sys", "Load Sys Files"}}},
        {false, {FALSE, FALSE, TRUE}, INSTALL_SYSTEM_DRIVE,
         {{"C:\\sys", "Mips Monitor"}, {"C:\\root\\utility", "Mips Wizard"}}, {{"C:\\sys", "I386 Monitor"}}},
        {true, {TRUE, FALSE, TRUE}, INSTALL_SYSTEM_DRIVE,
         {{"C:\\sys", "W95 Help File"}, {"C:\\sys", "W95 Monitor"}, {"C:\\root\\utility", "I386 Wizard"}},
         {{"C:\\sys", "NT Help File"}, {"C:\\sys", "Mips Monitor"}, {"C:\\root\\utility", "Mips Wizard"}}},
    };
    for (const auto& row : rows) {
        Harness h(row.windows95 ? win95() : nt351());
        writeDistribution(h);
        ChildResult r = copy(h, row.flags, row.type);
        ASSERT_EQ(r.value("returned"), "1") << r.output;
        for (auto [dir, section] : row.present)
            EXPECT_TRUE(std::filesystem::exists(h.host(std::string(dir) + "\\" + fileOf(section)))) << section;
        for (auto [dir, section] : row.absent)
            EXPECT_FALSE(std::filesystem::exists(h.host(std::string(dir) + "\\" + fileOf(section)))) << section;
    }
}

// The copy engine's results through the access layer: a quit (the user gave
// up on a full disk) is 1025, a failed copy 1024; a root too long for its
// subdirectories (508 characters, the longest the page accepts) overflows.
TEST(BuildCopyList, FailuresEndOnTheToolkitErrorPage) {
    const std::string orvel = "box Copy Error: Cannot copy C:\\dist\\" + fileOf("Orvel") + " to C:\\root\\utility\\" +
                              fileOf("Orvel") + " (error 2).";
    const struct { const char* what; void (*damage)(Harness&); std::string root; int code; Lines boxes; } rows[] = {
        {"disk full", [](Harness& h) { h.setFree('C', 10); }, "C:\\root", 1025,
         {"box Disk Full: There is not enough space on drive C: for the files. Needed: 1 KB, free: 0 KB. Make room "
          "and choose Retry, or Cancel to stop setup."}},
        {"file missing", [](Harness& h) { std::filesystem::remove(h.host("C:\\dist\\" + fileOf("Orvel"))); },
         "C:\\root", 1024, {orvel}},
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
