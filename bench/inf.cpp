// INF reader speed: FOpenInf and CbGetInfSectionKeyField over an INF of
// 100,000 keys spread over sections (the target: loading well under a
// second).
#include "winsim/core/machine.h"

#include <benchmark/benchmark.h>
#include <setupkit.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kSections = 20;

// Writes an INF of `keys` keys onto a fresh machine's drive C: and
// returns its Windows path.
std::string makeInf(int keys) {
    fs::path dir = fs::temp_directory_path() / ("kit-bench-inf-" + std::to_string(keys));
    fs::remove_all(dir);
    winsim::install(winsim::makeBareMachine({}, dir));
    std::ofstream out(dir / "setup.inf", std::ios::binary);
    out << "; generated\r\n";
    for (int s = 0; s < kSections; ++s) {
        out << "[Section " << s << "]\r\n";
        for (int k = s; k < keys; k += kSections)
            out << "file" << k << " = file" << k << ".dll, , , , , , , , , , , , , , " << (1000 + k) << "\r\n";
    }
    return "C:\\setup.inf";
}

void BM_OpenInf(benchmark::State& state) {
    std::string path = makeInf((int)state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(FOpenInf(path.c_str(), 1, 0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenInf)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ReadEveryKeySize(benchmark::State& state) {
    int keys = (int)state.range(0);
    std::string path = makeInf(keys);
    if (!FOpenInf(path.c_str(), 1, 0)) {
        state.SkipWithError("FOpenInf failed");
        return;
    }
    char buf[128];
    for (auto _ : state) {
        long total = 0;
        for (int k = 0; k < keys; ++k) {
            std::string section = "Section " + std::to_string(k % kSections);
            std::string key = "FILE" + std::to_string(k);
            CbGetInfSectionKeyField(section.c_str(), key.c_str(), 15, buf, sizeof buf);
            total += std::atol(buf);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(BM_ReadEveryKeySize)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
