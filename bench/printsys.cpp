// Print-system services over large machines. Targets: the Print Manager
// walk over 10,000 processes under 50 ms; the port list of 10,000 ports and
// the removal's matching of 5,000 printers against it linear in printers x
// ports.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <winspool.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "printsys/printsys.h"
#include "setup/setup.h"
#include "winsim/core/machine.h"
#include "winsim/processes/state.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"

namespace {

void freshMachine(const char* name) {
    auto dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir);
    winsim::install(winsim::makeBareMachine(winsim::OsInfo{}, dir / "C"));
    std::memset(static_cast<void*>(&Setup), 0, sizeof Setup);
    Setup.IsNT35 = TRUE;
}

void counterTable() {
    static const char table[] = "230\0Process\0" "680\0Thread Count\0" "682\0Priority Base\0" "784\0ID Process\0";
    HKEY h = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &h, nullptr);
    RegSetValueExA(h, "Counters", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(table), sizeof table);
    RegCloseKey(h);
}

void BM_PrintManagerWalk(benchmark::State& state) {
    freshMachine("bench-printman");
    counterTable();
    auto& m = winsim::machine();
    for (std::int64_t i = 0; i < state.range(0); ++i) winsim::addProcess(m, "WORKER" + std::to_string(i) + ".EXE", "");
    for (auto _ : state) {
        if (killPrintManager() == 0) state.SkipWithError("walk failed");
    }
    state.counters["processes"] = static_cast<double>(state.range(0));
}

void spoolerWithPorts(std::int64_t ports) {
    nlohmann::json services = {{"list", {{{"name", "Spooler"}, {"state", "running"}}}}};
    winsim::loadService(services, winsim::machine());
    std::vector<std::string> names;
    for (std::int64_t i = 0; i < ports; ++i) names.push_back("NP" + std::to_string(i));
    winsim::defineMonitor("Varden Network Port", "vrdpsmon.dll", names);
}

void BM_GetMonitorPortNames(benchmark::State& state) {
    freshMachine("bench-ports");
    spoolerWithPorts(state.range(0));
    for (auto _ : state) {
        LPSTR* list = nullptr;
        DWORD count = 0;
        getMonitorPortNames(&list, &count);
        benchmark::DoNotOptimize(list);
        std::free(list);
    }
    state.counters["ports"] = static_cast<double>(state.range(0));
}

// The de-installation flow's matching: every printer's port string (with a
// comma) against every entry of the port list. The printers print to a port
// of another monitor, so no printer is removed and each run sees the same
// machine; the pairs tested are printers x ports.
void BM_RemovalMatching(benchmark::State& state) {
    const std::int64_t printers = state.range(0), ports = state.range(1);
    freshMachine("bench-matching");
    spoolerWithPorts(ports);
    winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"});
    for (std::int64_t i = 0; i < printers; ++i) {
        winsim::SpoolPrinter p;
        p.name = "Printer " + std::to_string(i);
        p.port = "LPT1:";
        p.driver = "Laser";
        winsim::definePrinter(p);
    }
    LPSTR* list = nullptr;
    DWORD count = 0;
    getMonitorPortNames(&list, &count);
    DWORD needed = 0, returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed);
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned);
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    for (auto _ : state) {
        std::int64_t matched = 0;
        char withComma[1024];
        for (DWORD i = 0; i < returned; ++i) {
            std::snprintf(withComma, sizeof withComma, "%s,", info[i].pPortName);
            for (DWORD j = 0; j < count; ++j) {
                if (std::strstr(withComma, list[j]) != nullptr) {
                    RemovePrinter(&info[i], list[j]);
                    ++matched;
                }
            }
        }
        benchmark::DoNotOptimize(matched);
    }
    std::free(list);
    state.counters["pairs"] = static_cast<double>(printers * ports);
    state.SetComplexityN(printers * ports);
}

BENCHMARK(BM_PrintManagerWalk)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetMonitorPortNames)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemovalMatching)
    ->Args({500, 10000})
    ->Args({5000, 1000})
    ->Args({5000, 10000})
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
