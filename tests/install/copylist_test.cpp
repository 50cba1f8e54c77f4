// Copy-list selection: section sizes per platform and processor, and the
// sections queued with their destinations.
#include <gtest/gtest.h>

#include <cstring>

#include "install/copylist.h"
#include "setup/harness.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"

using harness::ChildResult;
using harness::Harness;
using harness::sectionSize;

namespace {

struct Flags {
    BOOL win95, alpha, mips;
};

ChildResult computeSizes(Harness& h, Flags flags) {
    return h.run("", [flags](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        ::Setup.IsWindows95 = flags.win95;
        ::Setup.IsAlpha = flags.alpha;
        ::Setup.IsMips = flags.mips;
        ::Setup.IsX86 = !flags.alpha && !flags.mips;
        ::Setup.SystemDriveBytes = ::Setup.UtilityBytes = ::Setup.LoadFilesBytes = 12345;
        ComputeSectionSizes();
        harness::report("system=%u", (unsigned)::Setup.SystemDriveBytes);
        harness::report("utility=%u", (unsigned)::Setup.UtilityBytes);
        harness::report("load=%u", (unsigned)::Setup.LoadFilesBytes);
        return 0;
    });
}

std::string sum(std::initializer_list<const char*> sections) {
    std::uint32_t total = 0;
    for (const char* s : sections) total += sectionSize(s);
    return std::to_string(total);
}

TEST(ComputeSectionSizes, SectionsOfThePlatformAndProcessor) {
    // Windows 95 takes the x86 wizard whatever the processor flags say.
    const struct {
        Flags flags;
        std::initializer_list<const char*> system;
        const char* wizard;
    } rows[] = {{{FALSE, FALSE, FALSE}, {"PPD Files", "NT Help File", "I386 Monitor"}, "I386 Wizard"},
                {{FALSE, TRUE, FALSE}, {"PPD Files", "NT Help File", "Alpha Monitor"}, "Alpha Wizard"},
                {{FALSE, FALSE, TRUE}, {"PPD Files", "NT Help File", "Mips Monitor"}, "Mips Wizard"},
                {{TRUE, TRUE, FALSE}, {"PPD Files", "W95 Help File", "W95 Monitor"}, "I386 Wizard"}};
    Harness h;
    h.setInf(harness::sampleInf());
    for (const auto& row : rows) {
        ChildResult r = computeSizes(h, row.flags);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("system"), sum(row.system)) << row.wizard;
        EXPECT_EQ(r.value("utility"), sum({"Write Files", row.wizard, "Orvel", "Remote Console", "Wizard", "VB Common"}));
        EXPECT_EQ(r.value("load"), sum({"Load PS Files", "Load Cat Files", "Load Sys Files"}));
    }
}

TEST(SectionBytes, AddsEveryKeyAndCountsTextAsZero) {
    Harness h;
    h.setInf("[Many]\n" + harness::infLine("a", "a.dat", 100) + harness::infLine("b", "b.dat", 20) +
             "c = c.dat,,,,,,,,,,,,,,3x\n"
             "d = d.dat,,,,,,,,,,,,,,none\n"
             "[Empty]\n");
    ChildResult r = h.run("", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        harness::report("many=%ld", (long)SectionBytes("Many"));
        harness::report("empty=%ld", (long)SectionBytes("Empty"));
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("many"), "123");
    EXPECT_EQ(r.value("empty"), "0");
}

TEST(SectionBytes, MissingSectionOrOverlongKeyEndsSetup) {
    // A section that cannot be listed is a toolkit error (one that is there
    // but empty counts 0); a key of 64 characters overflows.
    const struct {
        std::string inf;
        const char* section;
        std::vector<std::string> boxes;
    } rows[] = {{"[Other]\n", "PPD Files", {}},
                {"[Long]\n" + harness::infLine(std::string(64, 'k'), "k.dat", 1), "Long",
                 {"box MS-Setup Error: Buffer Overflow"}}};
    for (const auto& row : rows) {
        Harness h;
        h.setInf(row.inf);
        ChildResult r = h.run("2300 CONTINUE\n", [&row](LPSTR) {
            TkOpenInf("C:\\dist\\setup.inf");
            SectionBytes(row.section);
            harness::report("returned=1");
            return 0;
        });
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.value("returned"), "") << row.section;
        EXPECT_TRUE(r.hasLine("error Error code = 1024")) << row.section;
        EXPECT_EQ(r.lines("box"), row.boxes) << row.section;
    }
}

// --- Copy list ----------------------------------------------------------------

// Every section with one small file named after it, present in C:\dist.
void writeDistribution(Harness& h) {
    std::string inf;
    int n = 0;
    for (const char* s : harness::kSections) {
        std::string file = "s" + std::to_string(++n) + ".dat";
        inf += std::string("[") + s + "]\n" + harness::infLine("k" + std::to_string(n), file, 4);
        h.writeFile("C:\\dist\\" + file, "data");
    }
    h.setInf(inf);
}

// File number of a section in writeDistribution.
std::string fileOf(const char* section) {
    for (int i = 0; i < 18; ++i)
        if (std::strcmp(harness::kSections[i], section) == 0) return "s" + std::to_string(i + 1) + ".dat";
    return "";
}

ChildResult copy(Harness& h, Flags flags, LONG installType, const std::string& answers = "") {
    return h.run(answers, [flags, installType](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        ::Setup.IsWindows95 = flags.win95;
        ::Setup.IsAlpha = flags.alpha;
        ::Setup.IsMips = flags.mips;
        ::Setup.IsX86 = !flags.alpha && !flags.mips;
        ::Setup.InstallType = installType;
        std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
        std::strcpy(::Setup.SystemDir, "C:\\sys");
        std::strcpy(::Setup.DriverDir, "C:\\drv");
        std::strcpy(::Setup.InstallRoot, "C:\\root");
        BuildCopyList();
        TkCopyFiles();
        harness::report("copied=1");
        return 0;
    });
}

TEST(BuildCopyList, QueuesTheSectionsOfThePlatformToTheirFolders) {
    // Folder and section pairs that are copied, and ones that are not.
    using Places = std::vector<std::pair<const char*, const char*>>;
    const struct {
        bool windows95;
        Flags flags;
        LONG type;
        Places present, absent;
    } rows[] = {
        {false,
         {FALSE, FALSE, FALSE},
         INSTALL_CHOSEN_DEST,
         {{"C:\\drv", "PPD Files"}, {"C:\\sys", "NT Help File"}, {"C:\\sys", "I386 Monitor"},
          {"C:\\root\\utility", "I386 Wizard"}, {"C:\\root\\utility", "Orvel"},
          {"C:\\root\\utility", "Remote Console"}, {"C:\\root\\utility", "Wizard"},
          {"C:\\root\\utility", "VB Common"}, {"C:\\root", "Write Files"}, {"C:\\root", "Load PS Files"},
          {"C:\\root\\cat", "Load Cat Files"}, {"C:\\root\\sys", "Load Sys Files"}},
         {{"C:\\sys", "Alpha Monitor"}, {"C:\\sys", "Mips Monitor"}, {"C:\\sys", "W95 Monitor"},
          {"C:\\sys", "W95 Help File"}, {"C:\\root\\utility", "Alpha Wizard"}}},
        // An installation on the system drive queues no load section.
        {false,
         {FALSE, TRUE, FALSE},
         INSTALL_SYSTEM_DRIVE,
         {{"C:\\sys", "Alpha Monitor"}, {"C:\\root\\utility", "Alpha Wizard"}},
         {{"C:\\root", "Load PS Files"}, {"C:\\root\\cat", "Load Cat Files"}, {"C:\\root\\sys", "Load Sys Files"}}},
        {true,
         {TRUE, FALSE, TRUE},
         INSTALL_SYSTEM_DRIVE,
         {{"C:\\sys", "W95 Help File"}, {"C:\\root\\utility", "I386 Wizard"}},
         {{"C:\\sys", "NT Help File"}, {"C:\\sys", "Mips Monitor"}, {"C:\\root\\utility", "Mips Wizard"}}},
    };
    for (const auto& row : rows) {
        Harness h(row.windows95 ? harness::win95() : harness::nt351());
        writeDistribution(h);
        ChildResult r = copy(h, row.flags, row.type);
        ASSERT_EQ(r.value("copied"), "1") << r.output;
        for (auto [dir, section] : row.present)
            EXPECT_TRUE(std::filesystem::exists(h.host(std::string(dir) + "\\" + fileOf(section)))) << section;
        for (auto [dir, section] : row.absent)
            EXPECT_FALSE(std::filesystem::exists(h.host(std::string(dir) + "\\" + fileOf(section)))) << section;
    }
}

// The copy engine's results through the access layer: a quit (the user
// gave up on a full disk) is 1025, a failed copy 1024.
TEST(TkCopyFiles, QuitOnAFullDiskIs1025AFailedCopy1024) {
    for (bool full : {true, false}) {
        Harness h;
        writeDistribution(h);
        if (full) h.setFree('C', 10);  // the 18 files of 4 bytes do not fit
        else std::filesystem::remove(h.host("C:\\dist\\" + fileOf("Orvel")));
        ChildResult r = copy(h, {FALSE, FALSE, FALSE}, INSTALL_CHOSEN_DEST, "2300 CONTINUE\n");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.value("copied"), "");
        if (full) EXPECT_EQ(r.lines("box").size(), 1u);
        EXPECT_TRUE(r.hasLine(full ? "error Error code = 1025" : "error Error code = 1024"));
    }
}

TEST(BuildCopyList, RootTooLongForItsSubdirectoriesIsAnOverflow) {
    Harness h;
    writeDistribution(h);
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        ::Setup.IsX86 = TRUE;
        ::Setup.InstallType = INSTALL_CHOSEN_DEST;
        std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
        std::strcpy(::Setup.SystemDir, "C:\\sys");
        std::strcpy(::Setup.DriverDir, "C:\\drv");
        std::string root = "C:\\" + std::string(505, 'r');  // 508 characters: the longest the page accepts
        std::strcpy(::Setup.InstallRoot, root.c_str());
        BuildCopyList();
        harness::report("returned=1");
        return 0;
    });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box MS-Setup Error: Buffer Overflow"}));
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
}

}  // namespace

namespace {

// Figures beyond 4 GB are held at the largest value instead of wrapping to
// a small number that would pass the space checks.
TEST(ComputeSectionSizes, FiguresAbove4GbSaturate) {
    Harness h;
    std::string inf;
    for (const char* s : harness::kSections) {
        inf += std::string("[") + s + "]\n";
        for (int i = 0; i < 3; ++i)
            inf += harness::infLine(std::string("k") + std::to_string(i), "f.dat", 2000000000u);
    }
    h.setInf(inf);
    ChildResult r = computeSizes(h, {FALSE, FALSE, FALSE});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("system"), "4294967295");
    EXPECT_EQ(r.value("utility"), "4294967295");
    EXPECT_EQ(r.value("load"), "4294967295");
}

}  // namespace
