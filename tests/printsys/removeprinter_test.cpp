// Detaching printers from the monitor's ports and deleting those that print
// to such a port alone, driven as the de-installation flow drives it.
#include "printsys/fixture.h"
#include "printsys/printsys.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"


namespace {

using namespace fixture;

using Strings = std::vector<std::string>;

struct RemovePrinters : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("removeprinter");
        nlohmann::json services = {{"list", {{{"name", "Spooler"}, {"state", "running"}}}}};
        winsim::loadService(services, *m);
        ASSERT_EQ(winsim::defineMonitor("Varden Network Port", "vrdpsmon.dll", {"NP1", "NP2", "NP3", "NP20"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Other Port", "othermon.dll", {"XNP2"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"}), 0u);
        winsim::SpoolDriver d{"Laser", "pscript.dll", "laser.ppd", "pscrptui.dll", 1};
        ASSERT_EQ(winsim::defineDriver(winsim::ownEnvironment(), d), 0u);
    }
    void addPrinter(const std::string& name, const std::string& ports) {
        winsim::SpoolPrinter p;
        p.name = name;
        p.port = ports;
        p.driver = "Laser";
        ASSERT_EQ(winsim::definePrinter(p), 0u);
    }
    // Every local printer at level 2, as EnumPrintersA returns them.
    PRINTER_INFO_2A* enumPrinters(DWORD& count) {
        DWORD needed = 0;
        count = 0;
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
        buffer.assign(needed + 1, 0);
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count));
        return reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    }
    // The stored printer's ports ("<deleted>" when it is gone), " paused" added when it is.
    std::string stored(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return p.port + (p.status & PRINTER_STATUS_PAUSED ? " paused" : "");
        return "<deleted>";
    }
    // Calls RemovePrinter on the one printer named `name` with `entry`,
    // returning its record's port string afterwards.
    std::string removeOne(const std::string& name, const char* entry) {
        DWORD count = 0;
        PRINTER_INFO_2A* printers = enumPrinters(count);
        for (DWORD i = 0; i < count; ++i) {
            if (name == printers[i].pPrinterName) {
                RemovePrinter(&printers[i], entry);
                return printers[i].pPortName;
            }
        }
        ADD_FAILURE() << "no printer " << name;
        return {};
    }
    winsim::Machine* m = nullptr;
    std::vector<BYTE> buffer;
};

// The record loses the entry, and the spooler stores what is left; a
// printer left without a port is deleted with its jobs.
TEST_F(RemovePrinters, PortListExamples) {
    const struct {
        const char* ports;
        const char* entry;
        const char* left;
    } cases[] = {{"NP2,NP3", "NP2,", "NP3"},   {"NP1,NP2,NP3", "NP2,", "NP1,NP3"}, {"NP1,NP2", "NP2,", "NP1"},
                 {"NP20,NP2", "NP2,", "NP20"}, {"XNP2,NP3", "NP2,", "XNP2,NP3"},   {"NP1,LPT1:", "NP1,", "LPT1:"}};
    int n = 0;
    for (const auto& c : cases) addPrinter("P" + std::to_string(++n), c.ports);
    n = 0;
    for (const auto& c : cases) {
        std::string name = "P" + std::to_string(++n);
        EXPECT_EQ(removeOne(name, c.entry), c.left) << c.ports;
        EXPECT_EQ(stored(name), c.left) << c.ports;  // stored, and the printer prints again
    }

    addPrinter("Only", "NP1");
    winsim::SpoolJob job;
    job.document = "Quarterly report";
    ASSERT_NE(winsim::addSpoolJob("Only", job), 0u);
    ASSERT_NE(winsim::addSpoolJob("Only", job), 0u);
    auto setJobsBefore = m->callCounts["SetJobA"];
    DWORD count = 0;
    PRINTER_INFO_2A* rec = enumPrinters(count);
    while (std::string(rec->pPrinterName) != "Only") ++rec;
    RemovePrinter(rec, "NP1,");
    EXPECT_STREQ(rec->pPortName, "");
    EXPECT_EQ(rec->pSecurityDescriptor, nullptr);
    EXPECT_EQ(stored("Only"), "<deleted>");
    // The level-1 record with its strings does not fit 64 bytes: no job
    // command was sent, the purge emptied the queue.
    EXPECT_EQ(m->callCounts["SetJobA"], setJobsBefore);
    // A second call finds the printer gone and says nothing.
    RemovePrinter(rec, "NP1,");
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_TRUE(m->spooler->handles.empty());
}

TEST_F(RemovePrinters, FailuresAreReportedAndTheWorkGoesOn) {
    const struct {
        const char* ports;
        const char* call;
        std::uint32_t times;
        DWORD error;
        const char* left;    // the record's ports afterwards
        const char* stored;  // the spooler's
        Strings boxes;
    } cases[] = {
        {"NP1", "DeletePrinter", 1, ERROR_ACCESS_DENIED, "NP1", "NP1 paused",
         {"Remove Printer|Couldn't delete printer X (Error = 5)"}},
        {"NP1", "SetPrinterA", 2, ERROR_INVALID_PARAMETER, "", "<deleted>",
         {"Remove Printer|Couldn't pause printer X (Error = 87)",
          "Remove Printer|Couldn't purge printer X (Error = 87)"}},
        {"NP1,LPT1:", "ClosePrinter", 1, ERROR_INVALID_HANDLE, "LPT1:", "LPT1:",
         {"RemovePrinter|Couldn't close printer handle (error = 6)"}},
        {"NP1", "OpenPrinterA", 1, ERROR_ACCESS_DENIED, "NP1", "NP1", {}},  // skipped silently
    };
    for (const auto& c : cases) {
        SetUp();
        addPrinter("X", c.ports);
        failNext(*m, c.call, c.times, c.error);
        EXPECT_EQ(removeOne("X", "NP1,"), c.left) << c.call;
        EXPECT_EQ(stored("X"), c.stored) << c.call;
        EXPECT_EQ(messageBoxes(), c.boxes) << c.call;
        if (std::string(c.call) != "ClosePrinter") {
            EXPECT_TRUE(m->spooler->handles.empty()) << c.call;
        }
    }
}

}  // namespace
