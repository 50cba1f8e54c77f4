// Detaching printers from the monitor's ports and deleting those that print
// to such a port alone, driven as the de-installation flow drives it.
#include "printsys/fixture.h"
#include "printsys/printsys.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace fixture;

const char kMonitor[] = "Varden Network Port";

struct RemovePrinters : ::testing::Test {
    void SetUp() override {
        m = &bareMachine("removeprinter");
        nlohmann::json services = {{"list", {{{"name", "Spooler"}, {"state", "running"}}}}};
        winsim::loadService(services, *m);
        ASSERT_EQ(winsim::defineMonitor(kMonitor, "vrdpsmon.dll", {"NP1", "NP2", "NP3", "NP20"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Other Port", "othermon.dll", {"XNP2"}), 0u);
        ASSERT_EQ(winsim::defineMonitor("Local Port", "localmon.dll", {"LPT1:"}), 0u);
        winsim::SpoolDriver d;
        d.name = "Laser";
        d.driverPath = "pscript.dll";
        d.dataFile = "laser.ppd";
        d.configFile = "pscrptui.dll";
        d.version = 1;
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
    // The removal loop of the de-installation flow over every printer and
    // every entry of the monitor's port list.
    void removeAll() {
        LPSTR* list = nullptr;
        DWORD ports = 0;
        ASSERT_EQ(getMonitorPortNames(&list, &ports), (DWORD)STS_DONE);
        DWORD count = 0;
        PRINTER_INFO_2A* printers = enumPrinters(count);
        for (DWORD i = 0; i < count; ++i) {
            for (DWORD j = 0; j < ports; ++j) {
                std::string withComma = std::string(printers[i].pPortName) + ",";
                if (withComma.find(list[j]) != std::string::npos) RemovePrinter(&printers[i], list[j]);
            }
        }
        std::free(list);
    }
    std::string storedPorts(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        EXPECT_EQ(winsim::spoolerPrinters(all), 0u);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return p.port;
        return "<deleted>";
    }
    DWORD storedStatus(const std::string& name) {
        std::vector<winsim::SpoolPrinter> all;
        winsim::spoolerPrinters(all);
        for (const auto& p : all)
            if (winsim::iequals(p.name, name)) return p.status;
        return 0xffffffff;
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

TEST_F(RemovePrinters, PortListExamples) {
    addPrinter("P1", "NP2,NP3");
    addPrinter("P2", "NP1,NP2,NP3");
    addPrinter("P3", "NP1,NP2");
    addPrinter("P4", "NP20,NP2");
    addPrinter("P5", "XNP2,NP3");
    EXPECT_EQ(removeOne("P1", "NP2,"), "NP3");
    EXPECT_EQ(removeOne("P2", "NP2,"), "NP1,NP3");
    EXPECT_EQ(removeOne("P3", "NP2,"), "NP1");
    EXPECT_EQ(removeOne("P4", "NP2,"), "NP20");
    EXPECT_EQ(removeOne("P5", "NP2,"), "XNP2,NP3");
    // The shortened lists were stored, and every printer prints again.
    EXPECT_EQ(storedPorts("P1"), "NP3");
    EXPECT_EQ(storedPorts("P2"), "NP1,NP3");
    EXPECT_EQ(storedPorts("P3"), "NP1");
    EXPECT_EQ(storedPorts("P4"), "NP20");
    EXPECT_EQ(storedPorts("P5"), "XNP2,NP3");
    for (const char* p : {"P1", "P2", "P3", "P4", "P5"})
        EXPECT_EQ(storedStatus(p) & PRINTER_STATUS_PAUSED, 0u) << p;
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(RemovePrinters, PrinterOnMonitorPortAloneIsDeleted) {
    addPrinter("Only", "NP1");
    DWORD count = 0;
    PRINTER_INFO_2A* printers = enumPrinters(count);
    ASSERT_EQ(count, 1u);
    RemovePrinter(&printers[0], "NP1,");
    EXPECT_STREQ(printers[0].pPortName, "");
    EXPECT_EQ(printers[0].pSecurityDescriptor, nullptr);
    EXPECT_EQ(storedPorts("Only"), "<deleted>");
    // A second call finds the printer gone and says nothing.
    RemovePrinter(&printers[0], "NP1,");
    EXPECT_TRUE(messageBoxes().empty());
    EXPECT_TRUE(m->spooler->handles.empty());
}

TEST_F(RemovePrinters, PrinterOnMonitorPortAndLptKeepsLpt) {
    addPrinter("Shared", "NP1,LPT1:");
    EXPECT_EQ(removeOne("Shared", "NP1,"), "LPT1:");
    EXPECT_EQ(storedPorts("Shared"), "LPT1:");
    EXPECT_EQ(storedStatus("Shared") & PRINTER_STATUS_PAUSED, 0u);
}

TEST_F(RemovePrinters, TwoMonitorPortsTakeTwoCalls) {
    addPrinter("Two", "NP1,NP2");
    addPrinter("Other", "LPT1:");
    removeAll();
    EXPECT_EQ(storedPorts("Two"), "<deleted>");
    EXPECT_EQ(storedPorts("Other"), "LPT1:");
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(RemovePrinters, PortOfSimilarNameIsNotTouched) {
    addPrinter("Twenty", "NP20");
    addPrinter("One", "NP1");
    // Only the NP1 entry is used: NP1, does not occur in "NP20,".
    LPSTR* list = nullptr;
    DWORD ports = 0;
    ASSERT_EQ(getMonitorPortNames(&list, &ports), (DWORD)STS_DONE);
    DWORD count = 0;
    PRINTER_INFO_2A* printers = enumPrinters(count);
    for (DWORD i = 0; i < count; ++i) {
        std::string withComma = std::string(printers[i].pPortName) + ",";
        if (withComma.find(list[0]) != std::string::npos) RemovePrinter(&printers[i], list[0]);
    }
    std::free(list);
    EXPECT_EQ(storedPorts("Twenty"), "NP20");
    EXPECT_EQ(storedPorts("One"), "<deleted>");
}

TEST_F(RemovePrinters, QueuedJobsArePurgedWithoutJobCommands) {
    addPrinter("Busy", "NP1");
    winsim::SpoolJob job;
    job.document = "Quarterly report";
    ASSERT_NE(winsim::addSpoolJob("Busy", job), 0u);
    ASSERT_NE(winsim::addSpoolJob("Busy", job), 0u);
    auto setJobsBefore = m->callCounts["SetJobA"];
    EXPECT_EQ(removeOne("Busy", "NP1,"), "");
    // The level-1 record with its strings does not fit 64 bytes: no job
    // command was sent, the purge emptied the queue.
    EXPECT_EQ(m->callCounts["SetJobA"], setJobsBefore);
    EXPECT_EQ(storedPorts("Busy"), "<deleted>");
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(RemovePrinters, FailedDeletionIsReportedAndRecordKept) {
    addPrinter("Stuck", "NP1");
    failNext(*m, "DeletePrinter", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(removeOne("Stuck", "NP1,"), "NP1");
    EXPECT_EQ(storedPorts("Stuck"), "NP1");
    EXPECT_EQ(messageBoxes(), std::vector<std::string>{"Remove Printer|Couldn't delete printer Stuck (Error = 5)"});
    EXPECT_TRUE(m->spooler->handles.empty());  // closed all the same
}

TEST_F(RemovePrinters, FailedPauseAndPurgeAreReportedAndGoOn) {
    addPrinter("Moody", "NP1");
    failNext(*m, "SetPrinterA", 2, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(removeOne("Moody", "NP1,"), "");
    EXPECT_EQ(storedPorts("Moody"), "<deleted>");
    EXPECT_EQ(messageBoxes(), (std::vector<std::string>{"Remove Printer|Couldn't pause printer Moody (Error = 87)",
                                                        "Remove Printer|Couldn't purge printer Moody (Error = 87)"}));
}

TEST_F(RemovePrinters, FailedCloseIsReported) {
    addPrinter("Shared", "NP1,LPT1:");
    failNext(*m, "ClosePrinter", 1, ERROR_INVALID_HANDLE);
    EXPECT_EQ(removeOne("Shared", "NP1,"), "LPT1:");
    EXPECT_EQ(messageBoxes(), std::vector<std::string>{"RemovePrinter|Couldn't close printer handle (error = 6)"});
}

TEST_F(RemovePrinters, UnopenablePrinterIsSkippedSilently) {
    addPrinter("Locked", "NP1");
    failNext(*m, "OpenPrinterA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(removeOne("Locked", "NP1,"), "NP1");
    EXPECT_EQ(storedPorts("Locked"), "NP1");
    EXPECT_TRUE(messageBoxes().empty());
}

}  // namespace
