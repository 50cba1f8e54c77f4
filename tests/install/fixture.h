// Shared set-up for the installation tests: a Windows machine (the setup
// harness's) with the sample distribution in C:\dist, the setup state a run
// has after start-up, and reports of the spooler's and the registry's state
// written from the child process that ran the code under test.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "setup/harness.h"
#include "setup/setup.h"
#include "toolkit/toolkit.h"
#include "winsim/core/machine.h"
#include "winsim/spooler/state.h"

namespace installtest {

namespace fs = std::filesystem;
using harness::ChildResult;
using harness::Harness;

inline fs::path sourceDist() { return fs::path(SOURCE_ROOT) / "dist"; }

// The sample distribution's files (not its tools or answers) into C:\dist.
inline void copyDistribution(Harness& h) {
    for (const auto& e : fs::directory_iterator(sourceDist()))
        if (e.is_regular_file()) fs::copy_file(e.path(), h.host("C:\\dist\\" + e.path().filename().string()),
                                               fs::copy_options::overwrite_existing);
}

inline std::string driverDir() { return *winsim::printerDriverDirectory(""); }

// A file in the image, any drive.
inline void put(Harness& h, const std::string& windowsPath, const std::string& text = "x\n") {
    h.writeFile(windowsPath, text);
}

// The NT PostScript modules in the driver directory, or in its
// subdirectory `sub`.
inline void putNtModules(Harness& h, const std::string& sub = "") {
    std::string dir = driverDir() + (sub.empty() ? "" : "\\" + sub);
    put(h, dir + "\\pscript.dll");
    put(h, dir + "\\pscrptui.dll");
}

// The next `times` calls of `call` (0: all further ones) fail with `error`.
inline void failNext(const std::string& call, std::uint32_t times, DWORD error, const std::string& target = "") {
    auto& m = winsim::machine();
    auto it = m.callCounts.find(call);
    std::uint32_t done = it == m.callCounts.end() ? 0 : it->second;
    m.faults.push_back({call, done + 1, times, error, target});
}

inline void defineDriver(const std::string& name, const std::string& dataFile) {
    winsim::SpoolDriver d;
    d.name = name;
    d.driverPath = "pscript.dll";
    d.dataFile = dataFile;
    d.configFile = "pscrptui.dll";
    d.version = 1;
    winsim::defineDriver(winsim::ownEnvironment(), d);
}

// A printer on the local port LPT1: (declared with the "Local Port" monitor).
inline void definePrinter(const std::string& name, const std::string& driver, DWORD status = 0) {
    winsim::defineMonitor("Local Port", winsim::machine().os.isNT() ? "localmon.dll" : "spoolss.dll", {"LPT1:"});
    winsim::SpoolPrinter p;
    p.name = name;
    p.port = "LPT1:";
    p.driver = driver;
    p.status = status;
    winsim::definePrinter(p);
}

// --- In the child ------------------------------------------------------------

// The setup state after start-up on this machine, the INF opened when the
// test wrote one.
inline void startupState(LONG installType = INSTALL_SYSTEM_DRIVE) {
    const winsim::Machine& m = winsim::machine();
    std::memset(static_cast<void*>(&::Setup), 0, sizeof ::Setup);
    ::Setup.IsWindows95 = !m.os.isNT();
    ::Setup.IsNT35 = m.os.isNT() && m.os.major == 3 && m.os.minor >= 50;
    ::Setup.IsNT31 = m.os.isNT() && m.os.major == 3 && m.os.minor < 50;
    ::Setup.IsAlpha = m.os.isNT() && m.os.arch == "alpha";
    ::Setup.IsMips = m.os.isNT() && m.os.arch == "mips";
    ::Setup.IsX86 = !::Setup.IsAlpha && !::Setup.IsMips;
    ::Setup.HelpProgram = ::Setup.IsWindows95 ? "winhelp.exe" : "winhlp32.exe";
    ::Setup.HelpFile = ::Setup.IsWindows95 ? "vrdpsmw4.hlp" : "vrdpsmon.hlp";
    std::strcpy(::Setup.CopySourceDir, "C:\\dist\\");
    std::strcpy(::Setup.SystemDir, m.systemDir.c_str());
    std::strcpy(::Setup.WindowsDir, m.windowsDir.c_str());
    std::strcpy(::Setup.DriverDir, driverDir().c_str());
    std::strcpy(::Setup.InstallRoot, "C:\\win32app\\vrdpsmon");
    ::Setup.InstallType = installType;
    if (GetFileAttributesA("C:\\dist\\setup.inf") != INVALID_FILE_ATTRIBUTES) TkOpenInf("C:\\dist\\setup.inf");
}

// "driver <name>|<data file>|<version>" per driver of an environment.
inline void reportDrivers(const std::string& environment = "") {
    std::vector<winsim::SpoolDriver> all;
    winsim::spoolerDrivers(environment.empty() ? winsim::ownEnvironment() : environment, all);
    for (const auto& d : all)
        harness::report("driver %s|%s|%u", d.name.c_str(), d.dataFile.c_str(), (unsigned)d.version);
}

// "printer <name>|<driver>|paused" or "...|running" per printer.
inline void reportPrinters() {
    std::vector<winsim::SpoolPrinter> all;
    winsim::spoolerPrinters(all);
    for (const auto& p : all)
        harness::report("printer %s|%s|%s", p.name.c_str(), p.driver.c_str(),
                        (p.status & PRINTER_STATUS_PAUSED) ? "paused" : "running");
}

// "spooler=<state>" with the Spooler service's current state number.
inline void reportSpooler() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    if (service && QueryServiceStatus(service, &status)) harness::report("spooler=%u", (unsigned)status.dwCurrentState);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
}

// Report lines that start with prefix, in order.
inline std::vector<std::string> reported(const ChildResult& r, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& l : r.report)
        if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
    return out;
}

inline bool hasReport(const ChildResult& r, const std::string& line) {
    for (const auto& l : r.report)
        if (l == line) return true;
    return false;
}

}  // namespace installtest
