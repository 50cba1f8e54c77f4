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
#include "sim.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace spooltest {

namespace fs = std::filesystem;

inline winsim::OsInfo nt351(const char* arch = "x86") {
    winsim::OsInfo os = sim::os();
    os.arch = arch;
    return os;
}

inline winsim::OsInfo nt31() {
    winsim::OsInfo os;
    os.minor = 10;
    os.build = 528;
    return os;
}

inline winsim::OsInfo win95() { return sim::os(winsim::Platform::Win95); }

using sim::hostPath;
using sim::putFile;

class SpoolerTest : public ::testing::Test {
protected:
    void build(const winsim::OsInfo& os) {
        dir = sim::testDir();
        sim::fresh(os);
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
