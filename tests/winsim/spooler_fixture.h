// Shared set-up of the spooler conformance tests: a bare machine with the
// system and printer-driver directories, a monitor with ports, a driver and
// printers, written through the spooler family's set-up functions.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "winsim/core/machine.h"
#include "winsim/services/query.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace spooltest {

namespace fs = std::filesystem;

inline winsim::OsInfo nt351(const char* arch = "x86") {
    winsim::OsInfo os;
    os.arch = arch;
    return os;
}

inline winsim::OsInfo nt31() {
    winsim::OsInfo os;
    os.minor = 10;
    os.build = 528;
    return os;
}

inline winsim::OsInfo win95() {
    winsim::OsInfo os;
    os.platform = winsim::Platform::Win95;
    os.major = 4;
    os.minor = 0;
    os.build = 950;
    return os;
}

// The host path of a Windows path on drive C: of the current machine.
inline fs::path hostPath(const std::string& winPath) {
    fs::path p = winsim::machine().drives.at('C').host;
    std::size_t i = 3;  // after "C:\"
    while (i < winPath.size()) {
        std::size_t j = winPath.find('\\', i);
        if (j == std::string::npos) j = winPath.size();
        p /= winPath.substr(i, j - i);
        i = j + 1;
    }
    return p;
}

inline void putFile(const std::string& winPath, const std::string& content = "x") {
    fs::path p = hostPath(winPath);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

class SpoolerTest : public ::testing::Test {
protected:
    void build(const winsim::OsInfo& os) {
        dir = fs::temp_directory_path() /
              ("winsim-spooler-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        winsim::install(winsim::makeBareMachine(os, dir / "c"));
        fs::create_directories(hostPath(winsim::machine().systemDir));
        driverDir = *winsim::printerDriverDirectory("");
        fs::create_directories(hostPath(driverDir));
        setSpooler("running");
    }

    // Declares the "Spooler" service in the given state ("running", "stopped").
    void setSpooler(const char* state) {
        nlohmann::json services = {{"list", {{{"name", "Spooler"}, {"state", state}}}}};
        winsim::loadService(services, winsim::machine());
    }

    // A monitor "Net Port" with ports NP1, NP2, NP3; the "Local Port"
    // monitor with LPT1:; the driver "Laser" in the own environment.
    void standardSetup() {
        ASSERT_EQ(winsim::defineMonitor("Net Port", "netmon.dll", {"NP1", "NP2", "NP3"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"}), 0u);
        winsim::SpoolDriver d;
        d.name = "Laser";
        d.driverPath = "pscript.dll";
        d.dataFile = "laser.ppd";
        d.configFile = "pscrptui.dll";
        d.version = 1;
        ASSERT_EQ(winsim::defineDriver(winsim::ownEnvironment(), d), 0u);
    }

    void addPrinter(const std::string& name, const std::string& ports, DWORD status = 0) {
        winsim::SpoolPrinter p;
        p.name = name;
        p.port = ports;
        p.driver = "Laser";
        p.status = status;
        ASSERT_EQ(winsim::definePrinter(p), 0u);
    }

    HANDLE open(const char* name, ACCESS_MASK access = PRINTER_ALL_ACCESS) {
        PRINTER_DEFAULTSA d{nullptr, nullptr, access};
        HANDLE h = nullptr;
        EXPECT_TRUE(OpenPrinterA((LPSTR)name, &h, &d)) << name << " error " << GetLastError();
        return h;
    }

    bool printerExists(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return true;
        return false;
    }

    winsim::SpoolPrinter printer(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return p;
        ADD_FAILURE() << "no printer " << name;
        return {};
    }

    fs::path dir;
    std::string driverDir;
};

}  // namespace spooltest
