// Registry tree operations over large trees. Targets: copyRegTree,
// deleteRegTree and FixReg over 100,000 keys under 1 s each; ten times the
// keys at most twelve times the time.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "setup/setup.h"
#include "sysutil/regtree.h"
#include "winsim/core/machine.h"

namespace {

const char kMonitors[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

void freshMachine() {
    auto dir = std::filesystem::temp_directory_path() / "bench-regtree";
    std::filesystem::remove_all(dir);
    winsim::install(winsim::makeBareMachine(winsim::OsInfo{}, dir / "C"));
    std::memset(static_cast<void*>(&Setup), 0, sizeof Setup);
}

HKEY create(HKEY parent, const char* name) {
    HKEY h = nullptr;
    if (RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error(std::string("cannot create ") + name);
    return h;
}

// Fills `key` with a tree of `levels` levels of ten subkeys each, one
// value per key; returns the number of keys made.
std::int64_t fill(HKEY key, int levels) {
    const char text[] = "value data";
    RegSetValueExA(key, "Data", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    if (levels == 0) return 0;
    std::int64_t made = 0;
    for (int i = 0; i < 10; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "K%d", i);
        HKEY child = create(key, name);
        made += 1 + fill(child, levels - 1);
        RegCloseKey(child);
    }
    return made;
}

// Five levels: 111,110 keys; six levels: 1,111,110 keys.
int levelsFor(std::int64_t arg) { return arg == 100000 ? 5 : 6; }

void BM_CopyRegTree(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        freshMachine();
        HKEY src = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Source");
        std::int64_t keys = fill(src, levelsFor(state.range(0)));
        HKEY dst = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Destination");
        state.counters["keys"] = static_cast<double>(keys);
        state.ResumeTiming();
        if (!stsSucceeded(copyRegTree(src, dst))) state.SkipWithError("copyRegTree failed");
        state.PauseTiming();
        RegCloseKey(src);
        RegCloseKey(dst);
        state.ResumeTiming();
    }
}

void BM_DeleteRegTree(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        freshMachine();
        HKEY root = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed");
        state.counters["keys"] = static_cast<double>(fill(root, levelsFor(state.range(0))));
        RegCloseKey(root);
        HKEY parent = create(HKEY_LOCAL_MACHINE, "SOFTWARE");
        state.ResumeTiming();
        if (!stsSucceeded(deleteRegTree(parent, "Doomed"))) state.SkipWithError("deleteRegTree failed");
        state.PauseTiming();
        RegCloseKey(parent);
        state.ResumeTiming();
    }
}

// An earlier monitor key naming the module, with the big tree under it:
// FixReg merges it into the monitor's own key and deletes it.
void BM_FixReg(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        freshMachine();
        HKEY old = create(HKEY_LOCAL_MACHINE, (std::string(kMonitors) + "\\Earlier Name").c_str());
        const char dll[] = "vrdpsmon.dll";
        RegSetValueExA(old, "driver", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll), sizeof dll);
        state.counters["keys"] = static_cast<double>(fill(old, levelsFor(state.range(0))));
        RegCloseKey(old);
        state.ResumeTiming();
        if (!stsSucceeded(FixReg(kMonitors, "Varden Network Port"))) state.SkipWithError("FixReg failed");
    }
}

BENCHMARK(BM_CopyRegTree)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteRegTree)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FixReg)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
