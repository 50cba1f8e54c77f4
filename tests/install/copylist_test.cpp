// Copy-list selection: section sizes per platform and processor, and the
// sections queued with their destinations.
#include <gtest/gtest.h>

#include <cstring>

#include "install/copylist.h"
#include "kit/internal.h"
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

TEST(ComputeSectionSizes, NtX86) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = computeSizes(h, {FALSE, FALSE, FALSE});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("system"), sum({"PPD Files", "NT Help File", "I386 Monitor"}));
    EXPECT_EQ(r.value("utility"),
              sum({"Write Files", "I386 Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"}));
    EXPECT_EQ(r.value("load"), sum({"Load PS Files", "Load Cat Files", "Load Sys Files"}));
}

TEST(ComputeSectionSizes, NtAlphaAndMips) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult alpha = computeSizes(h, {FALSE, TRUE, FALSE});
    EXPECT_EQ(alpha.value("system"), sum({"PPD Files", "NT Help File", "Alpha Monitor"}));
    EXPECT_EQ(alpha.value("utility"),
              sum({"Write Files", "Alpha Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"}));
    ChildResult mips = computeSizes(h, {FALSE, FALSE, TRUE});
    EXPECT_EQ(mips.value("system"), sum({"PPD Files", "NT Help File", "Mips Monitor"}));
    EXPECT_EQ(mips.value("utility"),
              sum({"Write Files", "Mips Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"}));
}

TEST(ComputeSectionSizes, Windows95TakesTheX86WizardWhateverTheFlags) {
    Harness h;
    h.setInf(harness::sampleInf());
    ChildResult r = computeSizes(h, {TRUE, TRUE, FALSE});
    EXPECT_EQ(r.value("system"), sum({"PPD Files", "W95 Help File", "W95 Monitor"}));
    EXPECT_EQ(r.value("utility"),
              sum({"Write Files", "I386 Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"}));
}

TEST(SectionBytes, AddsEveryKeyAndCountsTextAsZero) {
    Harness h;
    h.setInf("[Many]\n" + harness::infLine("a", "a.dat", 100) + harness::infLine("b", "b.dat", 20) +
             harness::infLine("c", "c.dat", 0) + harness::infLine("d", "d.dat", 0) + "[Empty]\n");
    ChildResult r = h.run("", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        // The kit's reader refuses sizes that are not decimal numbers; put
        // such texts into its store to see how the program adds them up.
        kit::Inf& inf = *kit::currentInf();
        inf.strings[inf.fields[inf.lines.at(2).firstField + 14]] = "3x";
        inf.strings[inf.fields[inf.lines.at(3).firstField + 14]] = "none";
        harness::report("many=%ld", (long)SectionBytes("Many"));
        harness::report("empty=%ld", (long)SectionBytes("Empty"));
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("many"), "123");
    EXPECT_EQ(r.value("empty"), "0");
}

TEST(SectionBytes, MissingSectionIsAToolkitError) {
    Harness h;
    h.setInf("[Other]\n");
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        SectionBytes("PPD Files");
        harness::report("returned=1");
        return 0;
    });
    // A section that cannot be listed ends setup; one that is there but
    // empty counts 0 (previous test).
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
}

TEST(SectionBytes, KeyOf64CharactersIsAnOverflow) {
    Harness h;
    h.setInf("[Long]\n" + harness::infLine(std::string(64, 'k'), "k.dat", 1));
    ChildResult r = h.run("2300 CONTINUE\n", [](LPSTR) {
        TkOpenInf("C:\\dist\\setup.inf");
        SectionBytes("Long");
        harness::report("returned=1");
        return 0;
    });
    EXPECT_EQ(r.value("returned"), "");
    EXPECT_EQ(r.lines("box"), (std::vector<std::string>{"box MS-Setup Error: Buffer Overflow"}));
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

TEST(BuildCopyList, NtX86ChosenDestinationQueuesEverySectionOfThePlatform) {
    Harness h;
    writeDistribution(h);
    ChildResult r = copy(h, {FALSE, FALSE, FALSE}, INSTALL_CHOSEN_DEST);
    ASSERT_EQ(r.value("copied"), "1") << r.output;
    auto at = [&](const std::string& dir, const char* section) {
        return std::filesystem::exists(h.host(dir + "\\" + fileOf(section)));
    };
    EXPECT_TRUE(at("C:\\drv", "PPD Files"));
    EXPECT_TRUE(at("C:\\sys", "NT Help File"));
    EXPECT_TRUE(at("C:\\sys", "I386 Monitor"));
    EXPECT_FALSE(at("C:\\sys", "Alpha Monitor"));
    EXPECT_FALSE(at("C:\\sys", "Mips Monitor"));
    EXPECT_FALSE(at("C:\\sys", "W95 Monitor"));
    EXPECT_FALSE(at("C:\\sys", "W95 Help File"));
    for (const char* s : {"I386 Wizard", "Orvel", "Remote Console", "Wizard", "VB Common"})
        EXPECT_TRUE(at("C:\\root\\utility", s)) << s;
    EXPECT_FALSE(at("C:\\root\\utility", "Alpha Wizard"));
    EXPECT_TRUE(at("C:\\root", "Write Files"));
    EXPECT_TRUE(at("C:\\root", "Load PS Files"));
    EXPECT_TRUE(at("C:\\root\\cat", "Load Cat Files"));
    EXPECT_TRUE(at("C:\\root\\sys", "Load Sys Files"));
}

TEST(BuildCopyList, SystemDriveInstallationQueuesNoLoadSection) {
    Harness h;
    writeDistribution(h);
    ChildResult r = copy(h, {FALSE, TRUE, FALSE}, INSTALL_SYSTEM_DRIVE);
    ASSERT_EQ(r.value("copied"), "1") << r.output;
    EXPECT_TRUE(std::filesystem::exists(h.host("C:\\sys\\" + fileOf("Alpha Monitor"))));
    EXPECT_TRUE(std::filesystem::exists(h.host("C:\\root\\utility\\" + fileOf("Alpha Wizard"))));
    EXPECT_FALSE(std::filesystem::exists(h.host("C:\\root\\" + fileOf("Load PS Files"))));
    EXPECT_FALSE(std::filesystem::exists(h.host("C:\\root\\cat")));
    EXPECT_FALSE(std::filesystem::exists(h.host("C:\\root\\sys")));
}

TEST(BuildCopyList, Windows95QueuesNoNtSection) {
    Harness h(harness::win95());
    writeDistribution(h);
    ChildResult r = copy(h, {TRUE, FALSE, TRUE}, INSTALL_SYSTEM_DRIVE);
    ASSERT_EQ(r.value("copied"), "1") << r.output;
    EXPECT_TRUE(std::filesystem::exists(h.host("C:\\sys\\" + fileOf("W95 Help File"))));
    EXPECT_FALSE(std::filesystem::exists(h.host("C:\\sys\\" + fileOf("NT Help File"))));
    EXPECT_FALSE(std::filesystem::exists(h.host("C:\\sys\\" + fileOf("Mips Monitor"))));
    EXPECT_TRUE(std::filesystem::exists(h.host("C:\\root\\utility\\" + fileOf("I386 Wizard"))));
    EXPECT_FALSE(std::filesystem::exists(h.host("C:\\root\\utility\\" + fileOf("Mips Wizard"))));
}

// The copy engine's results through the access layer: a quit (the user
// gave up on a full disk) is 1025, a failed copy 1024.
TEST(TkCopyFiles, QuitOnAFullDiskIsError1025) {
    Harness h;
    writeDistribution(h);
    h.setFree('C', 10);  // the 18 files of 4 bytes do not fit
    ChildResult r = copy(h, {FALSE, FALSE, FALSE}, INSTALL_CHOSEN_DEST, "2300 CONTINUE\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("copied"), "");
    EXPECT_EQ(r.lines("box").size(), 1u);
    EXPECT_TRUE(r.hasLine("error Error code = 1025"));
}

TEST(TkCopyFiles, FailedCopyIsError1024) {
    Harness h;
    writeDistribution(h);
    std::filesystem::remove(h.host("C:\\dist\\" + fileOf("Orvel")));
    ChildResult r = copy(h, {FALSE, FALSE, FALSE}, INSTALL_SYSTEM_DRIVE, "2300 CONTINUE\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("copied"), "");
    EXPECT_TRUE(r.hasLine("error Error code = 1024"));
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
