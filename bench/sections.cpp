// ComputeSectionSizes over an INF whose keys are spread over every section
// the program reads. Target: 100,000 keys under 200 ms; ten times the keys
// at most twelve times the time.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "install/copylist.h"
#include "setup/setup.h"
#include "setupkit.h"
#include "winsim/core/machine.h"

namespace {

const char* const kSections[] = {
    "PPD Files",   "NT Help File",   "Alpha Monitor", "Mips Monitor", "I386 Monitor", "W95 Help File",
    "W95 Monitor", "Alpha Wizard",   "Mips Wizard",   "I386 Wizard",  "Orvel",        "Remote Console",
    "Wizard",      "VB Common",      "Write Files",   "Load PS Files", "Load Cat Files", "Load Sys Files"};
constexpr int kSectionCount = sizeof kSections / sizeof kSections[0];

// Writes the INF into the machine's C:\dist and opens it.
void prepare(std::int64_t keys, const std::filesystem::path& root) {
    winsim::install(winsim::makeBareMachine(winsim::OsInfo{}, root / "C"));
    std::filesystem::create_directories(root / "C" / "dist");
    std::ofstream out(root / "C" / "dist" / "setup.inf");
    std::int64_t perSection = keys / kSectionCount;
    std::int64_t written = 0;
    for (int s = 0; s < kSectionCount; ++s) {
        out << '[' << kSections[s] << "]\n";
        std::int64_t count = s == kSectionCount - 1 ? keys - written : perSection;
        for (std::int64_t k = 0; k < count; ++k, ++written)
            out << "key" << written << " = file" << written << ".dat,,,,,,,,,,,,,," << (written % 9000 + 100) << '\n';
    }
    out.close();
    if (!FOpenInf("C:\\dist\\setup.inf", TRUE, FALSE)) throw std::runtime_error("setup.inf cannot be opened");
    Setup.IsX86 = TRUE;
}

void BM_ComputeSectionSizes(benchmark::State& state) {
    std::filesystem::path root = std::filesystem::temp_directory_path() / "bench-sections";
    std::filesystem::remove_all(root);
    prepare(state.range(0), root);
    for (auto _ : state) {
        ComputeSectionSizes();
        benchmark::DoNotOptimize(Setup.SystemDriveBytes);
    }
    state.SetComplexityN(state.range(0));
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_ComputeSectionSizes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
