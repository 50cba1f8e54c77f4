// Machine image load/save with a large registry and many files, and the cost
// of registry open/query per call against the number of sibling keys.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/registry/state.h"

#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kKeyGroups = 100;
constexpr int kKeysPerGroup = 1000;  // 100,000 keys in all
constexpr int kFileDirs = 100;
constexpr int kFilesPerDir = 100;    // 10,000 files in all

fs::path benchRoot() {
    static fs::path root = [] {
        fs::path p = fs::temp_directory_path() / ("winsim-bench-image-" + std::to_string(::getpid()));
        fs::remove_all(p);
        fs::create_directories(p);
        return p;
    }();
    return root;
}

// Builds (once) an image with 100,000 keys, each holding a string and a
// DWORD value, and 10,000 small files on drive C.
const fs::path& bigImage() {
    static fs::path image = [] {
        fs::path dir = benchRoot() / "big";
        auto& m = winsim::install(winsim::makeBareMachine({}, benchRoot() / "big-src-c"));
        char name[64];
        for (int g = 0; g < kKeyGroups; ++g) {
            for (int k = 0; k < kKeysPerGroup; ++k) {
                std::snprintf(name, sizeof name, "SOFTWARE\\Bench\\Group%03d\\Key%04d", g, k);
                HKEY h;
                if (RegCreateKeyA(HKEY_LOCAL_MACHINE, name, &h) != ERROR_SUCCESS) std::abort();
                RegSetValueExA(h, "Path", 0, REG_SZ, (const BYTE*)name, (DWORD)std::strlen(name) + 1);
                DWORD v = (DWORD)(g * kKeysPerGroup + k);
                RegSetValueExA(h, "Index", 0, REG_DWORD, (const BYTE*)&v, sizeof v);
                RegCloseKey(h);
            }
        }
        fs::path host = m.drives['C'].host;
        for (int d = 0; d < kFileDirs; ++d) {
            fs::path sub = host / ("DIR" + std::to_string(d));
            fs::create_directories(sub);
            for (int f = 0; f < kFilesPerDir; ++f) std::ofstream(sub / ("FILE" + std::to_string(f) + ".DAT")) << f;
        }
        winsim::saveImage(m, dir);
        return dir;
    }();
    return image;
}

void BM_LoadImage(benchmark::State& state) {
    const fs::path& dir = bigImage();
    for (auto _ : state) {
        auto m = winsim::loadImage(dir);
        benchmark::DoNotOptimize(m.get());
        state.PauseTiming();
        winsim::discardWorkingCopy(*m);
        m.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadImage)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SaveImage(benchmark::State& state) {
    const fs::path& dir = bigImage();
    auto m = winsim::loadImage(dir);
    fs::path out = benchRoot() / "saved";
    for (auto _ : state) winsim::saveImage(*m, out);
}
BENCHMARK(BM_SaveImage)->Unit(benchmark::kMillisecond)->Iterations(3);

// The registry part alone: parsing and applying, and writing, the REGEDIT4
// files of the 100,000-key image.
void BM_ReadRegistryFolder(benchmark::State& state) {
    const fs::path& dir = bigImage();
    for (auto _ : state) {
        auto m = winsim::makeBareMachine({}, benchRoot() / "read-c");
        winsim::readRegistryFolder(dir / "registry", *m);
        benchmark::DoNotOptimize(m.get());
    }
}
BENCHMARK(BM_ReadRegistryFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_WriteRegistryFolder(benchmark::State& state) {
    const fs::path& dir = bigImage();
    auto m = winsim::makeBareMachine({}, benchRoot() / "write-c");
    winsim::readRegistryFolder(dir / "registry", *m);
    for (auto _ : state) winsim::writeRegistryFolder(benchRoot() / "write-registry", *m);
}
BENCHMARK(BM_WriteRegistryFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

// N sibling keys under HKLM\SOFTWARE\Siblings; the one probed is in the middle.
void makeSiblings(int n) {
    winsim::install(winsim::makeBareMachine({}, benchRoot() / "siblings-c"));
    char name[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "SOFTWARE\\Siblings\\Key%06d", i);
        HKEY h;
        RegCreateKeyA(HKEY_LOCAL_MACHINE, name, &h);
        for (int v = 0; v < 4; ++v) {
            std::string vn = "Value" + std::to_string(v);
            RegSetValueExA(h, vn.c_str(), 0, REG_SZ, (const BYTE*)name, (DWORD)std::strlen(name) + 1);
        }
        RegCloseKey(h);
    }
}

std::string middleKey(int n) {
    char name[64];
    std::snprintf(name, sizeof name, "SOFTWARE\\Siblings\\KEY%06d", n / 2);  // other case on purpose
    return name;
}

void BM_RegOpenKeyEx(benchmark::State& state) {
    int n = (int)state.range(0);
    makeSiblings(n);
    std::string key = middleKey(n);
    for (auto _ : state) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) state.SkipWithError("open");
        RegCloseKey(h);
    }
}
BENCHMARK(BM_RegOpenKeyEx)->Arg(10)->Arg(100000);

void BM_RegQueryValueEx(benchmark::State& state) {
    int n = (int)state.range(0);
    makeSiblings(n);
    HKEY h;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, middleKey(n).c_str(), 0, KEY_READ, &h);
    char buf[64];
    for (auto _ : state) {
        DWORD cb = sizeof buf, type;
        if (RegQueryValueExA(h, "value3", nullptr, &type, (BYTE*)buf, &cb) != ERROR_SUCCESS) state.SkipWithError("query");
        benchmark::DoNotOptimize(buf);
    }
    RegCloseKey(h);
}
BENCHMARK(BM_RegQueryValueEx)->Arg(10)->Arg(100000);

// Walking all subkeys by index costs O(1) per step.
void BM_RegEnumKeyWalk(benchmark::State& state) {
    int n = (int)state.range(0);
    makeSiblings(n);
    HKEY h;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Siblings", 0, KEY_READ, &h);
    char name[64];
    for (auto _ : state) {
        for (DWORD i = 0; RegEnumKeyA(h, i, name, sizeof name) == ERROR_SUCCESS; ++i) benchmark::DoNotOptimize(name);
    }
    state.SetItemsProcessed(state.iterations() * n);
    RegCloseKey(h);
}
BENCHMARK(BM_RegEnumKeyWalk)->Arg(10)->Arg(100000);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(benchRoot(), ec);
    return 0;
}
