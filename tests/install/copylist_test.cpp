// Copy-list selection: section sizes per platform and processor, and the
// sections queued with their destinations.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

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
        SCOPED_TRACE(std::to_string(row.system));
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
