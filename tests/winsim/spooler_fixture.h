// Shared set-up of the spooler tests: a bare machine with the system and
// printer-driver directories, a monitor with ports, a driver and printers,
// written through the spooler family's set-up functions.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "winsim/core/machine.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"
#include "sim.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace spooltest {

namespace fs = std::filesystem;
using sim::hostPath;
using sim::putFile;

inline winsim::OsInfo nt351(const char* arch = "x86") {
    winsim::OsInfo os = sim::os();
    os.arch = arch;
    return os;
}
inline winsim::OsInfo win95() { return sim::os(winsim::Platform::Win95); }

// A buffer of `size` bytes followed by 16 guard bytes, 8-byte aligned.
struct GuardedBuffer {
    explicit GuardedBuffer(std::size_t size) : size(size), store(size + 16 + 8, 0xA5) {
        data = (LPBYTE)(((std::uintptr_t)store.data() + 7) & ~std::uintptr_t(7));
    }
    bool guardIntact() const { return std::all_of(data + size, data + size + 16, [](BYTE c) { return c == 0xA5; }); }
    bool untouched() const { return std::all_of(data, data + size + 16, [](BYTE c) { return c == 0xA5; }); }
    bool inside(const void* p) const { return p >= data && p < data + size; }
    std::size_t size;
    std::vector<unsigned char> store;
    LPBYTE data;
};

// The REG_SZ value below HKEY_LOCAL_MACHINE, "<no key>" or "<no value>".
inline std::string regString(const std::string& key, const char* value) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
    char buf[512] = {};
    DWORD type = 0, size = sizeof buf - 1;
    LONG r = RegQueryValueExA(h, value, nullptr, &type, (LPBYTE)buf, &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS && type == REG_SZ ? std::string(buf) : "<no value>";
}

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
        winsim::loadService({{"list", {{{"name", "Spooler"}, {"state", state}}}}}, winsim::machine());
    }
    // A monitor "Net Port" with ports NP1, NP2, NP3; the "Local Port"
    // monitor with LPT1:; the driver "Laser" in the own environment.
    void standardSetup() {
        ASSERT_EQ(winsim::defineMonitor("Net Port", "netmon.dll", {"NP1", "NP2", "NP3"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"}), 0u);
        winsim::SpoolDriver d{"Laser", "pscript.dll", "laser.ppd", "pscrptui.dll", 1};
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
    // The stored printer of that name; its status, or "none".
    std::string printerStatus(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return "status " + std::to_string(p.status);
        return "none";
    }
    bool printerExists(const std::string& name) { return printerStatus(name) != "none"; }

    fs::path dir;
    std::string driverDir;
};

}  // namespace spooltest
