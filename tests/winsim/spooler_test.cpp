// Tests of the spooler: monitors and the modules it holds, ports, printers and
// jobs (EnumPrinters, SetPrinter, EnumJobs, SetJob) and the image section.
#include <windows.h>
#include <winspool.h>
#include <winsvc.h>

#include "winsim/core/machine.h"
#include "winsim/files/reboot.h"
#include "winsim/files/state.h"
#include "winsim/image/image.h"
#include "winsim/image/newmachine.h"
#include "winsim/services/state.h"
#include "winsim/spooler/security.h"
#include "winsim/spooler/state.h"
#include "sim.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sim::hostPath;
using sim::putFile;

const winsim::OsInfo nt351 = sim::os();

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
std::string regString(const std::string& key, const char* value) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
    char buf[512] = {};
    DWORD type = 0, size = sizeof buf - 1;
    LONG r = RegQueryValueExA(h, value, nullptr, &type, (LPBYTE)buf, &size);
    RegCloseKey(h);
    return r == ERROR_SUCCESS && type == REG_SZ ? std::string(buf) : "<no value>";
}

const std::string kMonitors = std::string(winsim::kPrintKey) + "\\Monitors\\";
const std::string kMonitor = kMonitors + "Varden Network Port";

class Spooler : public ::testing::Test {
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
    BOOL addMonitor(const char* module, const char* env = nullptr) {
        MONITOR_INFO_2A info{(LPSTR) "Varden Network Port", (LPSTR)env, (LPSTR)module};
        return AddMonitorA(nullptr, 2, (LPBYTE)&info);
    }
    // Starts or stops a service through the service manager.
    void setRunning(const char* name, bool run) {
        SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE s = OpenServiceA(scm, name, SERVICE_ALL_ACCESS);
        SERVICE_STATUS st{};
        EXPECT_TRUE(run ? StartServiceA(s, 0, nullptr) : ControlService(s, SERVICE_CONTROL_STOP, &st)) << name;
        CloseServiceHandle(s);
        CloseServiceHandle(scm);
    }
    // The last error of deleting the file from the system directory, 0 when it went.
    DWORD deleteError(const char* file) {
        SetLastError(sim::kSentinel);
        return DeleteFileA(sys(file).c_str()) ? 0 : GetLastError();
    }
    std::string sys(const char* file) { return winsim::machine().systemDir + "\\" + file; }

    fs::path dir;
    std::string driverDir;
};

TEST_F(Spooler, AddMonitorRegistersTheModule) {
    build(nt351);
    EXPECT_FAILS(addMonitor("vrdpsmon.dll"), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(regString(kMonitor, "Driver"), "<no key>") << "nothing registered after a failure";
    putFile(sys("vrdpsmon.dll"));
    EXPECT_FAILS(AddMonitorA(nullptr, 2, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(addMonitor("vrdpsmon.dll", "Windows 3.1"), ERROR_INVALID_ENVIRONMENT);
    // A declared fault wins, once.
    auto& m = winsim::machine();
    m.faults.push_back({"AddMonitorA", m.callCounts["AddMonitorA"] + 1, 1, ERROR_NOT_ENOUGH_MEMORY, "Varden Network Port"});
    EXPECT_FAILS(addMonitor("vrdpsmon.dll"), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_LASTERROR(addMonitor("vrdpsmon.dll"), TRUE, 0);  // success clears the last error
    EXPECT_EQ(regString(kMonitor, "Driver"), "vrdpsmon.dll");
    MONITOR_INFO_2A upper{(LPSTR) "VARDEN NETWORK PORT", nullptr, (LPSTR) "vrdpsmon.dll"};  // names ignore case
    EXPECT_FAILS(AddMonitorA(nullptr, 2, (LPBYTE)&upper), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    // The spooler holds the module; renamed, it stays loaded under its new name.
    EXPECT_EQ(deleteError("vrdpsmon.dll"), (DWORD)ERROR_ACCESS_DENIED);
    ASSERT_TRUE(MoveFileExA(sys("vrdpsmon.dll").c_str(), sys("vrdpsmon.old").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(deleteError("vrdpsmon.old"), (DWORD)ERROR_ACCESS_DENIED);
    // Another program's module is not the spooler's to unload.
    putFile(sys("other.dll"));
    winsim::FileMeta& other = winsim::machine().files->meta[sys("other.dll")];
    other.inUse = winsim::InUse::Loaded;
    other.loadedBy = "other.exe";
    setRunning("Spooler", false);
    EXPECT_EQ(deleteError("vrdpsmon.old"), 0u);
    EXPECT_EQ(deleteError("other.dll"), (DWORD)ERROR_ACCESS_DENIED);
}

// The spooler holds the registered modules that exist as files, while its
// service runs (other services do not matter) and from a restart on; what
// the simulation keeps of a module (its attributes) outlives the unloading.
TEST_F(Spooler, ModulesHeldWhileTheSpoolerRuns) {
    build(nt351);
    auto& m = winsim::machine();
    for (const char* mon : {"Net Port", "Gone", "Folder"})
        ASSERT_EQ(winsim::defineMonitor(mon, std::string(mon).substr(0, 3) + ".dll", {}), 0u);
    putFile(sys("Net.dll"));
    fs::create_directories(hostPath(sys("Fol.dll")));
    ASSERT_TRUE(SetFileAttributesA(sys("Net.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    winsim::loadService(nlohmann::json::parse(R"({"list": [{"name": "Spooler", "state": "running"},
                                                           {"name": "Other", "state": "running"}]})"), m);
    auto held = [&] {
        std::string out;
        for (const auto& [name, module] : m.spooler->loadedMonitors) out += name + "=" + module + " ";
        return out + std::to_string(m.files->meta[sys("Net.dll")].inUse == winsim::InUse::Loaded);
    };
    winsim::rebootMachine(m);
    EXPECT_EQ(held(), "Net Port=Net.dll 1");
    setRunning("Other", false);
    EXPECT_EQ(held(), "Net Port=Net.dll 1");
    setRunning("Spooler", false);
    EXPECT_EQ(held(), "0");
    EXPECT_EQ(GetFileAttributesA(sys("Net.dll").c_str()), (DWORD)FILE_ATTRIBUTE_READONLY);
    winsim::rebootMachine(m);
    EXPECT_EQ(held(), "0") << "a stopped spooler stays stopped across a restart";
    setRunning("Spooler", true);
    EXPECT_EQ(held(), "Net Port=Net.dll 1");
}

// The monitors and their ports as the spooler lists them.
std::string monitors() {
    std::vector<winsim::SpoolMonitor> mons;
    EXPECT_EQ(winsim::spoolerMonitors(mons), 0u);
    std::string out;
    for (const auto& m : mons) {
        out += m.name + ":";
        for (const auto& p : m.ports) out += " " + p;
        out += "; ";
    }
    return out;
}

TEST_F(Spooler, DeletePortRemovesThePortFromItsMonitor) {
    build(nt351);
    standardSetup();
    addPrinter("P1", "NP1");
    addPrinter("P2", "LPT1:,NP3");
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "np1"), ERROR_BUSY);  // a printer prints to it
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP3"), ERROR_BUSY);  // among others
    auto& caller = winsim::machine().spooler->callerSids;
    const auto admin = std::exchange(caller, {"S-1-1-0", "S-1-5-32-545"});  // not an administrator
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP2"), ERROR_ACCESS_DENIED);
    caller = admin;
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "np2"));
    EXPECT_EQ(regString(kMonitors + "Net Port\\Ports\\NP2", "") + " " + regString(kMonitors + "Net Port\\Ports\\NP3", ""),
              "<no key> <no value>");
    // NT's local ports are values of their own key.
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", &h), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, "LPT2:", 0, REG_SZ, (const BYTE*)"", 1), ERROR_SUCCESS);
    EXPECT_EQ(monitors(), "Local Port: LPT1: LPT2:; Net Port: NP1 NP3; ");
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "LPT2:"));
    EXPECT_EQ(RegQueryValueExA(h, "LPT2:", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);
    // A fresh machine of every platform has the local ports.
    for (const char* os : {"nt351", "win95"}) {
        winsim::NewMachineOptions opt;
        opt.os = os;
        winsim::install(winsim::newMachine(opt, sim::testDir(os)));
        EXPECT_EQ(monitors(), "Local Port: COM1: COM2: FILE: LPT1: LPT2: LPT3:; ") << os;
    }
}

// AddPrinterDriverA keeps a file's name, also of one given with its folder.
TEST_F(Spooler, AddPrinterDriverKeepsTheFileNames) {
    build(nt351);
    EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, nullptr), ERROR_INVALID_PARAMETER);
    for (const char* f : {"a.dll", "a.ppd", "aui.dll"}) putFile(driverDir + "\\" + f);
    std::string full = driverDir + "\\a.dll";
    DRIVER_INFO_2A info{1, nullptr, nullptr, full.data(), (LPSTR) "a.ppd", (LPSTR) "aui.dll"};
    for (LPSTR name : {(LPSTR) nullptr, (LPSTR) ""}) {  // a driver needs a name
        info.pName = name;
        EXPECT_FAILS(AddPrinterDriverA(nullptr, 2, (LPBYTE)&info), ERROR_INVALID_PARAMETER);
    }
    info.pName = (LPSTR) "Arc";
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 2, (LPBYTE)&info));
    EXPECT_EQ(regString(std::string(winsim::kPrintKey) + "\\Environments\\Windows NT x86\\Drivers\\Arc", "Driver"),
              "a.dll");
}

// Jobs, security, ports and loaded monitors survive a save and load; `show`.
TEST_F(Spooler, ImageKeepsJobsSecurityAndLoadedModules) {
    build(nt351);
    standardSetup();
    addPrinter("P1", "NP1,LPT1:");
    putFile(sys("vrdpsmon.dll"));
    ASSERT_TRUE(addMonitor("vrdpsmon.dll"));
    winsim::SpoolJob j;
    j.document = "Report";
    j.totalPages = 4;
    DWORD id = winsim::addSpoolJob("p1", j);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(winsim::addSpoolJob("Nobody", j), 0u);
    winsim::machine().spooler->printers["P1"].security.dacl.push_back({"S-1-5-32-550", 0, 0, PRINTER_ALL_ACCESS});
    nlohmann::json files;
    winsim::saveFile(files, winsim::machine());
    EXPECT_EQ(files["C:\\WINNT35\\system32\\vrdpsmon.dll"], nlohmann::json({{"in_use", "loaded"}, {"loaded_by", "spooler"}}));

    winsim::saveImage(winsim::machine(), dir / "img");
    auto& m = winsim::install(winsim::loadImage(dir / "img"));
    auto jobs = winsim::spoolJobs("P1");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(std::to_string(jobs[0].id) + " " + jobs[0].document + " " + std::to_string(jobs[0].totalPages) + " " +
                  m.spooler->printers["P1"].security.dacl.back().sid + " " + m.spooler->loadedMonitors.begin()->second,
              std::to_string(id) + " Report 4 S-1-5-32-550 vrdpsmon.dll");
    EXPECT_GT(winsim::addSpoolJob("P1", j), id) << "job ids are not reused after a load";
    std::ostringstream out;
    winsim::showSpooler(out, m);
    for (const char* line : {"\"Net Port\" (netmon.dll) ports: NP1 NP2 NP3",
                             "\"P1\" on NP1,LPT1:, driver \"Laser\", ready, 2 jobs", "\"Laser\" version 1"})
        EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    // After a load the spooler still holds the module: stopping it lets go.
    EXPECT_EQ(deleteError("vrdpsmon.dll"), (DWORD)ERROR_ACCESS_DENIED);
    setRunning("Spooler", false);
    EXPECT_TRUE(m.spooler->loadedMonitors.empty());
    EXPECT_EQ(deleteError("vrdpsmon.dll"), 0u);

    EXPECT_EQ(m.spooler->printers["P1"].security.dacl.back().type, 0);
    nlohmann::json bad = {{"printers", {{"P1", {{"security", {{"owner", "X-1"}}}}}}}};
    EXPECT_THROW(winsim::loadSpooler(bad, m), winsim::ImageError);
    EXPECT_THROW(winsim::loadFile(nlohmann::json::parse(R"({"C:\\x.dll": {"loaded_by": "spooler"}})"), m),
                 winsim::ImageError);
}

// A machine with printer "Alpha" on NP1; without printers an enumeration
// needs nothing.
class Printers : public Spooler {
protected:
    void SetUp() override {
        build(nt351);
        standardSetup();
        DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
        EXPECT_LASTERROR(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count), TRUE, sim::kSentinel);
        EXPECT_EQ(needed + count, 0u);
        addPrinter("Alpha", "NP1");
    }
};

// One record of EnumPrintersA at `level` as text, its strings checked to lie
// behind the `count` records inside the buffer.
std::string printerText(DWORD level, const GuardedBuffer& b, DWORD i, DWORD count) {
    const std::size_t size[] = {0, sizeof(PRINTER_INFO_1A), sizeof(PRINTER_INFO_2A), 0, sizeof(PRINTER_INFO_4A),
                                sizeof(PRINTER_INFO_5A)};
    auto s = [&](LPSTR p) {
        if (!p) return std::string("-");
        EXPECT_TRUE((LPBYTE)p >= b.data + count * size[level] && b.inside(p + std::strlen(p))) << p;
        return std::string(p);
    };
    if (level == 1) {
        auto& r = ((PRINTER_INFO_1A*)b.data)[i];
        return s(r.pName) + "|" + s(r.pDescription) + "|" + std::to_string(r.Flags) + "|" + s(r.pComment);
    }
    if (level == 2) {
        auto& r = ((PRINTER_INFO_2A*)b.data)[i];
        return s(r.pPrinterName) + "|" + s(r.pPortName) + "|" + s(r.pDriverName) + "|" + s(r.pPrintProcessor) + "|" +
               s(r.pDatatype) + "|" + s(r.pParameters) + "|" + s(r.pServerName) + "|" + s(r.pShareName) + "|" +
               std::to_string(r.Priority) + "/" +
               std::to_string(r.DefaultPriority) + " " + std::to_string(r.StartTime) + "-" + std::to_string(r.UntilTime);
    }
    if (level == 4) {
        auto& r = ((PRINTER_INFO_4A*)b.data)[i];
        return s(r.pPrinterName) + "|" + s(r.pServerName) + "|" + std::to_string(r.Attributes);
    }
    auto& r = ((PRINTER_INFO_5A*)b.data)[i];
    return s(r.pPrinterName) + "|" + s(r.pPortName) + "|" + std::to_string(r.DeviceNotSelectedTimeout) + "|" +
           std::to_string(r.TransmissionRetryTimeout);
}

// Every level: a size query, a buffer one byte short left untouched, the
// exact size filled without touching the guard bytes behind it.
TEST_F(Printers, EnumSizeProtocolAndRecordsOfEveryLevel) {
    DWORD needed = 0, count = 0;
    // Ports as one comma-separated list; the times and priorities away from their defaults, so that each is seen
    // to be stored.
    winsim::SpoolPrinter beta;
    beta.name = "Beta", beta.port = "NP2,LPT1:,NP3", beta.driver = "Laser";
    beta.parameters = "-q", beta.priority = 7, beta.defaultPriority = 3, beta.startTime = 60, beta.untilTime = 1200;
    ASSERT_EQ(winsim::definePrinter(beta), 0u);
    const std::string icon = std::to_string(PRINTER_ENUM_ICON8);
    const std::pair<DWORD, std::string> rows[] = {
        {1, "Alpha|Alpha,Laser,|" + icon + "|- Beta|Beta,Laser,|" + icon + "|-"},
        {2, "Alpha|NP1|Laser|WinPrint|RAW|-|-|-|1/0 0-0 Beta|NP2,LPT1:,NP3|Laser|WinPrint|RAW|-q|-|-|7/3 60-1200"},
        {4, "Alpha|-|0 Beta|-|0"},
        {5, "Alpha|NP1|15000|45000 Beta|NP2,LPT1:,NP3|15000|45000"},
    };
    for (const auto& [level, want] : rows) {
        SCOPED_TRACE(level);
        DWORD n2 = 0;
        count = 0xdeadbeef;
        EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, nullptr, 0, &needed, &count),
                     ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(count, 0u);
        GuardedBuffer small(needed - 1), exact(needed);
        count = 0xdeadbeef;
        EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, small.data, (DWORD)small.size, &n2, &count),
                     ERROR_INSUFFICIENT_BUFFER);
        EXPECT_TRUE(n2 == needed && count == 0 && small.untouched()) << "a short buffer is not written";
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, exact.data, needed, &n2, &count));
        ASSERT_EQ(count, 2u);
        EXPECT_EQ(printerText(level, exact, 0, 2) + " " + printerText(level, exact, 1, 2), want);
        EXPECT_TRUE(exact.guardIntact()) << "nothing written past the buffer";
        if (level != 2) continue;
        // Level 2: aligned descriptors that decode to the default printer security.
        for (int i = 0; i < 2; ++i) {
            const void* sd = ((PRINTER_INFO_2A*)exact.data)[i].pSecurityDescriptor;
            ASSERT_TRUE(exact.inside(sd) && (std::uintptr_t)sd % sizeof(void*) == 0);
            auto decoded = winsim::spool::decodeSecurity(sd, {}).value_or(winsim::PrinterSecurity{});
            EXPECT_EQ(winsim::spool::encodeSecurity(decoded),
                      winsim::spool::encodeSecurity(winsim::spool::defaultPrinterSecurity()));
        }
        // A larger buffer: the first string packed, the printer name, sits at its end.
        GuardedBuffer big(needed + 200);
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, big.data, (DWORD)big.size, &n2, &count));
        EXPECT_EQ((LPBYTE)((PRINTER_INFO_2A*)big.data)->pPrinterName + std::strlen("Alpha") + 1, big.data + big.size);
        EXPECT_TRUE(big.guardIntact());
    }
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only read";
    // By server name; connections; refusals.
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_NAME, (LPSTR) "\\\\varden1", 2, nullptr, 0, &needed, &count),
                 ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(needed, 0u);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(count, 0u) << "no printer connections on this machine";
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_NAME, (LPSTR) "\\\\OTHER", 2, nullptr, 0, &needed, &count),
                 ERROR_INVALID_NAME);
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, nullptr, &count),
                 1780 /* RPC_X_NULL_REF_POINTER */);
}

// Refusals, the security descriptor rewritten only when given, a rename.
TEST_F(Printers, SetPrinter) {
    addPrinter("Beta", "NP2");
    DWORD id = winsim::addSpoolJob("Alpha", {});
    // Alpha's level-2 record as a removal tool reads it.
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<unsigned char> buf(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &count));
    PRINTER_INFO_2A* rec = (PRINTER_INFO_2A*)buf.data();
    rec->pSecurityDescriptor = nullptr;
    HANDLE h = open("Alpha");
    char unknownPort[] = "NP1,NP9", port[] = "NP1", noDriver[] = "No Such Driver", laser[] = "Laser";
    EXPECT_FAILS(SetPrinterA(h, 0, nullptr, 0), ERROR_INVALID_PRINTER_COMMAND);
    EXPECT_FAILS(SetPrinterA(h, 0, nullptr, 9), ERROR_INVALID_PRINTER_COMMAND);
    EXPECT_FAILS(SetPrinterA(h, 1, (LPBYTE)rec, 0), ERROR_INVALID_LEVEL);
    EXPECT_FAILS(SetPrinterA(h, 2, nullptr, 0), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(SetPrinterA((HANDLE)0x77, 0, nullptr, PRINTER_CONTROL_PAUSE), ERROR_INVALID_HANDLE);
    rec->pPortName = unknownPort;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE), ERROR_UNKNOWN_PORT);
    EXPECT_EQ(printerStatus("Alpha"), "status 0") << "a failed store skips the command";
    rec->pPortName = port;
    rec->pDriverName = noDriver;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_UNKNOWN_PRINTER_DRIVER);
    rec->pDriverName = laser;
    winsim::PrinterSecurity mine;
    mine.dacl = {{"S-1-5-32-544", 0, 0, PRINTER_ALL_ACCESS}};
    auto bytes = winsim::spool::encodeSecurity(mine);
    rec->pSecurityDescriptor = bytes.data();
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, 0));
    EXPECT_EQ(winsim::machine().spooler->printers["Alpha"].security.dacl.size(), 1u);
    mine.daclPresent = false;  // no DACL: its offset in the descriptor is 0
    const auto noDacl = winsim::spool::encodeSecurity(mine);
    ASSERT_GE(noDacl.size(), 20u);
    EXPECT_EQ(std::vector<unsigned char>(noDacl.begin() + 16, noDacl.begin() + 20), std::vector<unsigned char>(4, 0));
    bytes[0] = 7;  // not a descriptor revision
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), 1338 /* ERROR_INVALID_SECURITY_DESCR */);
    rec->pSecurityDescriptor = nullptr;

    char taken[] = "beta", fresh[] = "Gamma";
    rec->pPrinterName = taken;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_PRINTER_ALREADY_EXISTS);
    rec->pPrinterName = fresh;
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(printerStatus("Alpha"), "none");
    EXPECT_EQ(printerStatus("Gamma"), "status 1") << "the handle follows the new name, paused";
    EXPECT_EQ(winsim::machine().spooler->printers["Gamma"].security.dacl.size(), 1u) << "kept without a descriptor";
    EXPECT_EQ(winsim::spoolJobs("Gamma").size() == 1 ? winsim::spoolJobs("Gamma")[0].id : 0, id);
    // A local printer may be named with this machine's name; anything else is no printer here.
    for (const char* name : {"\\\\VARDEN1\\Gamma", "\\\\varden1\\gamma"}) EXPECT_TRUE(ClosePrinter(open(name)));
    HANDLE u = nullptr;
    for (const char* name :
         {"\\\\OTHER\\Gamma", "\\\\VARDEN1", "\\\\VARDEN1\\", "Alpha", "x\\Gamma", "\\.VARDEN1\\Gamma"}) {
        SCOPED_TRACE(name);
        EXPECT_FAILS(OpenPrinterA((LPSTR)name, &u, nullptr), ERROR_INVALID_PRINTER_NAME);
    }
    // Everyone lost the right to print.
    winsim::machine().spooler->callerSids = {"S-1-1-0"};
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Gamma", &u, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(ClosePrinter(h));
}

// The jobs EnumJobsA lists from `first` at `level`, read after the size
// query into a buffer of the exact size, every string inside it.
std::string jobs(HANDLE h, DWORD first, DWORD level) {
    DWORD needed = 0, count = 0;
    EnumJobsA(h, first, 10, level, nullptr, 0, &needed, &count);
    GuardedBuffer buf(needed);
    if (!EnumJobsA(h, first, 10, level, buf.data, needed, &needed, &count)) return "error " + std::to_string(GetLastError());
    EXPECT_TRUE(buf.guardIntact());
    std::string out;
    LPBYTE lowest = buf.data + needed;
    for (DWORD i = 0; i < count; ++i) {
        if (level == 1) {
            const auto& r = ((JOB_INFO_1A*)buf.data)[i];
            for (LPSTR s : {r.pDocument, r.pPrinterName, r.pMachineName, r.pUserName, r.pDatatype}) {
                EXPECT_TRUE(buf.inside(s));
                lowest = std::min(lowest, (LPBYTE)s);
            }
            out += std::to_string(r.JobId) + " \"" + r.pDocument + "\" on " + r.pPrinterName + " of " + r.pMachineName +
                   ", " + std::to_string(r.TotalPages) + " pages, at " + std::to_string(r.Position) + ", " +
                   std::to_string(r.Submitted.wYear) + "; ";
        } else {
            const auto& r = ((JOB_INFO_2A*)buf.data)[i];
            for (LPSTR s : {r.pDocument, r.pPrintProcessor, r.pDriverName}) EXPECT_TRUE(buf.inside(s));
            EXPECT_STREQ(r.pNotifyName, r.pUserName);
            out += std::to_string(r.JobId) + " \"" + r.pDocument + "\", " + std::to_string(r.TotalPages) +
                   " pages, at " + std::to_string(r.Position) + ", " + r.pPrintProcessor + ", driver " + r.pDriverName +
                   (r.pDevMode ? ", a mode" : "") + "; ";
        }
    }
    if (level == 1) {
        EXPECT_EQ(lowest, buf.data + count * sizeof(JOB_INFO_1A)) << "strings packed behind the records";
    }
    return out;
}

TEST_F(Printers, EnumJobsAndSetJob) {
    HANDLE h = open("Alpha");
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_TRUE(EnumJobsA(h, 0, 1, 1, nullptr, 0, &needed, &count)) << "an empty queue";
    EXPECT_EQ(needed + count, 0u);
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only read";
    winsim::SpoolJob j;
    j.document = "Quarterly report";
    j.totalPages = 12;
    j.pagesPrinted = 3;
    j.status = JOB_STATUS_PRINTING;
    const DWORD id = winsim::addSpoolJob("Alpha", j);
    j.document = "Memo";
    const DWORD other = winsim::addSpoolJob("Alpha", j);
    const std::string id1 = std::to_string(id), id2 = std::to_string(other);
    // A 64-byte buffer cannot hold one level-1 record with its strings.
    GuardedBuffer fixed(64);
    EXPECT_FAILS(EnumJobsA(h, 0, 1, 1, fixed.data, 64, &needed, &count), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(count == 0 && needed > 64 && fixed.untouched());
    EXPECT_EQ(jobs(h, 0, 1), id1 + " \"Quarterly report\" on Alpha of \\\\VARDEN1, 12 pages, at 1, 1996; " + id2 +
                                 " \"Memo\" on Alpha of \\\\VARDEN1, 12 pages, at 2, 1996; ");
    // From the second job on; past the end nothing.
    EXPECT_EQ(jobs(h, 1, 1), id2 + " \"Memo\" on Alpha of \\\\VARDEN1, 12 pages, at 2, 1996; ");
    EXPECT_EQ(jobs(h, 5, 1), "");
    // Level 2: the same jobs with what the printer gives them.
    EXPECT_EQ(jobs(h, 0, 2), id1 + " \"Quarterly report\", 12 pages, at 1, WinPrint, driver Laser; " + id2 +
                                 " \"Memo\", 12 pages, at 2, WinPrint, driver Laser; ");
    EXPECT_FAILS(EnumJobsA(h, 0, 10, 3, nullptr, 0, &needed, &count), ERROR_INVALID_LEVEL);

    EXPECT_FAILS(SetJobA(h, 0, 0, nullptr, JOB_CONTROL_RESTART), ERROR_INVALID_PARAMETER);  // id 0 names no job
    EXPECT_FAILS(SetJobA(h, 999, 0, nullptr, JOB_CONTROL_CANCEL), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(SetJobA(h, id, 1, nullptr, JOB_CONTROL_CANCEL), ERROR_INVALID_LEVEL);
    // Each command, then the first job's status and pages printed.
    std::string seen;
    for (DWORD command : {JOB_CONTROL_PAUSE, JOB_CONTROL_RESUME, JOB_CONTROL_RESTART}) {
        EXPECT_TRUE(SetJobA(h, id, 0, nullptr, command)) << command;
        const auto first = winsim::spoolJobs("Alpha")[0];
        seen += std::to_string(first.status) + "/" + std::to_string(first.pagesPrinted) + " ";
    }
    EXPECT_EQ(seen, std::to_string(JOB_STATUS_PRINTING | JOB_STATUS_PAUSED) + "/3 " +
                        std::to_string(JOB_STATUS_PRINTING) + "/3 0/0 ");
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_CANCEL));
    EXPECT_TRUE(SetJobA(h, other, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_TRUE(winsim::spoolJobs("Alpha").empty());
    EXPECT_TRUE(ClosePrinter(h));
}

}  // namespace
