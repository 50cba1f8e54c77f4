// Detaching printers from the monitor's ports and deleting those that print
// to such a port alone, driven as the de-installation flow drives it.
#include "printsys/printsys.h"
#include "setup/harness.h"
#include "winsim/services/state.h"

namespace {

using namespace harness;

struct RemovePrinters : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("removeprinter");
        winsim::loadService(nlohmann::json{{"list", {{{"name", "Spooler"}, {"state", "running"}}}}}, *m);
        ASSERT_EQ(winsim::defineMonitor("Varden Network Port", "vrdpsmon.dll", {"NP1", "NP2", "NP3", "NP20"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Other Port", "othermon.dll", {"XNP2"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"}), 0u);
        ASSERT_EQ(winsim::defineDriver(winsim::ownEnvironment(), {"Laser", "pscript.dll", "laser.ppd", "pscrptui.dll", 1}), 0u);
    }
    void addPrinter(const std::string& name, const std::string& ports) {
        winsim::SpoolPrinter p;
        p.name = name;
        p.port = ports;
        p.driver = "Laser";
        ASSERT_EQ(winsim::definePrinter(p), 0u);
    }
    // The stored printer's ports ("<deleted>" when it is gone), " paused" added when it is.
    std::string stored(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return p.port + (p.status & PRINTER_STATUS_PAUSED ? " paused" : "");
        return "<deleted>";
    }
    // The level-2 record of `name` as EnumPrintersA returns it.
    PRINTER_INFO_2A* record(const std::string& name) {
        DWORD needed = 0, count = 0;
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
        buffer.assign(needed + 1, 0);
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count));
        auto* printers = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            if (name == printers[i].pPrinterName) return &printers[i];
        ADD_FAILURE() << "no printer " << name;
        return nullptr;
    }
    // RemovePrinter on `name` with `entry`: "record's ports|stored ports".
    std::string removeOne(const std::string& name, const char* entry) {
        PRINTER_INFO_2A* rec = record(name);
        RemovePrinter(rec, entry);
        return std::string(rec->pPortName) + "|" + stored(name);
    }
    winsim::Machine* m = nullptr;
    std::vector<BYTE> buffer;
};

// The record loses the entry, and the spooler stores what is left; a
// printer left without a port is deleted with its jobs.
TEST_F(RemovePrinters, PortListExamples) {
    const struct { const char *ports, *entry, *left; } rows[] = {
        {"NP2,NP3", "NP2,", "NP3"},   {"NP1,NP2,NP3", "NP2,", "NP1,NP3"}, {"NP1,NP2", "NP2,", "NP1"},
        {"NP20,NP2", "NP2,", "NP20"}, {"XNP2,NP3", "NP2,", "XNP2,NP3"},   {"NP1,LPT1:", "NP1,", "LPT1:"}};
    for (const auto& row : rows) addPrinter("P" + std::to_string(&row - rows), row.ports);
    for (const auto& row : rows)
        EXPECT_EQ(removeOne("P" + std::to_string(&row - rows), row.entry), std::string(row.left) + "|" + row.left);
    addPrinter("Only", "NP1");
    winsim::SpoolJob job;
    job.document = "Quarterly report";
    ASSERT_NE(winsim::addSpoolJob("Only", job), 0u);
    ASSERT_NE(winsim::addSpoolJob("Only", job), 0u);
    auto setJobsBefore = m->callCounts["SetJobA"];
    PRINTER_INFO_2A* rec = record("Only");
    RemovePrinter(rec, "NP1,");
    EXPECT_EQ(std::string(rec->pPortName) + "|" + stored("Only"), "|<deleted>");
    EXPECT_EQ(rec->pSecurityDescriptor, nullptr);
    // The level-1 record with its strings does not fit 64 bytes: no job
    // command was sent, the purge emptied the queue.
    EXPECT_EQ(m->callCounts["SetJobA"], setJobsBefore);
    // A second call finds the printer gone and says nothing.
    RemovePrinter(rec, "NP1,");
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_TRUE(m->spooler->handles.empty());
}

TEST_F(RemovePrinters, FailuresAreReportedAndTheWorkGoesOn) {
    const struct { const char* ports; const char* call; std::uint32_t times; DWORD error; const char* after; Lines boxes; } rows[] = {
        {"NP1", "DeletePrinter", 1, ERROR_ACCESS_DENIED, "NP1|NP1 paused", {"Remove Printer|Couldn't delete printer X (Error = 5)"}},
        {"NP1", "SetPrinterA", 2, ERROR_INVALID_PARAMETER, "|<deleted>",
         {"Remove Printer|Couldn't pause printer X (Error = 87)", "Remove Printer|Couldn't purge printer X (Error = 87)"}},
        {"NP1,LPT1:", "ClosePrinter", 1, ERROR_INVALID_HANDLE, "LPT1:|LPT1:", {"RemovePrinter|Couldn't close printer handle (error = 6)"}},
        {"NP1", "OpenPrinterA", 1, ERROR_ACCESS_DENIED, "NP1|NP1", {}},  // skipped silently
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        SetUp();
        addPrinter("X", row.ports);
        failNext(row.call, row.times, row.error);
        EXPECT_EQ(removeOne("X", "NP1,"), row.after);
        EXPECT_EQ(messageBoxes(), row.boxes);
        EXPECT_EQ(m->spooler->handles.empty(), std::string(row.call) != "ClosePrinter");
    }
}

}  // namespace
