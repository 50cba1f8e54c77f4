// Conformance tests of the spooler's printer and job calls: EnumPrinters,
// OpenPrinter, SetPrinter, EnumJobs, SetJob, DeletePrinter, ClosePrinter.
#include "spooler_fixture.h"

#include "winsim/spooler/security.h"

#include <cstring>

namespace {

using namespace spooltest;

class Printers : public SpoolerTest {
protected:
    void SetUp() override {
        build(nt351());
        standardSetup();
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
               s(r.pDatatype) + "|" + s(r.pServerName) + "|" + s(r.pShareName);
    }
    if (level == 4) {
        auto& r = ((PRINTER_INFO_4A*)b.data)[i];
        return s(r.pPrinterName) + "|" + s(r.pServerName) + "|" + std::to_string(r.Attributes);
    }
    auto& r = ((PRINTER_INFO_5A*)b.data)[i];
    return s(r.pPrinterName) + "|" + s(r.pPortName) + "|" + std::to_string(r.DeviceNotSelectedTimeout) + "|" +
           std::to_string(r.TransmissionRetryTimeout);
}

// --- EnumPrinters ----------------------------------------------------------

// Every level: a size query, a buffer one byte short left untouched, the
// exact size filled without touching the guard bytes behind it.
TEST_F(Printers, EnumSizeProtocolAndRecordsOfEveryLevel) {
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_LASTERROR(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count), TRUE, sim::kSentinel);
    EXPECT_EQ(needed + count, 0u) << "no printers: nothing needed";
    addPrinter("Alpha", "NP1");
    addPrinter("Beta", "NP2,LPT1:,NP3");  // ports as one comma-separated list
    const std::string icon = std::to_string(PRINTER_ENUM_ICON8);
    const std::pair<DWORD, std::string> rows[] = {
        {1, "Alpha|Alpha,Laser,|" + icon + "|- Beta|Beta,Laser,|" + icon + "|-"},
        {2, "Alpha|NP1|Laser|WinPrint|RAW|-|- Beta|NP2,LPT1:,NP3|Laser|WinPrint|RAW|-|-"},
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
            ASSERT_TRUE(exact.inside(sd));
            EXPECT_EQ((std::uintptr_t)sd % sizeof(void*), 0u);
            auto decoded = winsim::spool::decodeSecurity(sd, {});
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(winsim::spool::encodeSecurity(*decoded),
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

// --- OpenPrinter, ClosePrinter and access ------------------------------------

TEST_F(Printers, HandlesAndAccessCheckedOnNtOnly) {
    addPrinter("Alpha", "NP1");
    PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Nobody", nullptr, &all), ERROR_INVALID_PARAMETER);
    HANDLE h = open("\\\\VARDEN1\\alpha");  // by server-qualified name, in any case
    ASSERT_NE(h, nullptr);
    EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);  // printer handles are not kernel handles
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FAILS(ClosePrinter(h), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ClosePrinter(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only opened";

    winsim::machine().spooler->callerSids = {"S-1-1-0", "S-1-5-32-545"};  // an ordinary user
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Alpha", &h, &all), ERROR_ACCESS_DENIED);
    // Without a request the printer opens for printing only.
    ASSERT_TRUE(OpenPrinterA((LPSTR) "Alpha", &h, nullptr));
    EXPECT_FAILS(SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PAUSE), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(DeletePrinter(h), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_TRUE(printerExists("Alpha"));

    build(win95());
    standardSetup();
    addPrinter("Alpha", "NP1");
    winsim::machine().spooler->callerSids = {"S-1-1-0"};
    h = open("Alpha");
    EXPECT_TRUE(SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_TRUE(ClosePrinter(h));
}

// --- SetPrinter --------------------------------------------------------------

// Refusals, the security descriptor rewritten only when given, a rename.
TEST_F(Printers, SetPrinter) {
    addPrinter("Alpha", "NP1");
    addPrinter("Beta", "NP2");
    DWORD id = winsim::addSpoolJob("Alpha", {});
    // Alpha's level-2 record as a removal tool reads it.
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<unsigned char> buf(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &count));
    PRINTER_INFO_2A* rec = (PRINTER_INFO_2A*)buf.data();
    ASSERT_STREQ(rec->pPrinterName, "Alpha");
    rec->pSecurityDescriptor = nullptr;
    HANDLE h = open("Alpha");
    char unknownPort[] = "NP1,NP9", port[] = "NP1", noDriver[] = "No Such Driver", laser[] = "Laser";
    const struct {
        HANDLE h;
        DWORD level;
        LPBYTE data;
        DWORD command, error;
        char *port = nullptr, *driver = nullptr;
    } rows[] = {
        {h, 0, nullptr, 0, ERROR_INVALID_PRINTER_COMMAND},
        {h, 0, nullptr, 9, ERROR_INVALID_PRINTER_COMMAND},
        {h, 1, (LPBYTE)rec, 0, ERROR_INVALID_LEVEL},
        {h, 2, nullptr, 0, ERROR_INVALID_PARAMETER},
        {h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE, ERROR_UNKNOWN_PORT, unknownPort, laser},
        {h, 2, (LPBYTE)rec, 0, ERROR_UNKNOWN_PRINTER_DRIVER, port, noDriver},
        {(HANDLE)0x77, 0, nullptr, PRINTER_CONTROL_PAUSE, ERROR_INVALID_HANDLE},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.level) + "/" + std::to_string(r.command) + "/" + std::to_string(r.error));
        rec->pPortName = r.port ? r.port : port;
        rec->pDriverName = r.driver ? r.driver : laser;
        EXPECT_FAILS(SetPrinterA(r.h, r.level, r.data, r.command), r.error);
    }
    EXPECT_EQ(printer("Alpha").status, 0u) << "a failed store skips the command";
    rec->pPortName = port;
    rec->pDriverName = laser;

    winsim::PrinterSecurity mine;
    mine.dacl = {{"S-1-5-32-544", 0, 0, PRINTER_ALL_ACCESS}};
    auto bytes = winsim::spool::encodeSecurity(mine);
    rec->pSecurityDescriptor = bytes.data();
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, 0));
    EXPECT_EQ(winsim::machine().spooler->printers["Alpha"].security.dacl.size(), 1u);
    bytes[0] = 7;  // not a descriptor revision
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), 1338 /* ERROR_INVALID_SECURITY_DESCR */);
    rec->pSecurityDescriptor = nullptr;

    char taken[] = "beta", fresh[] = "Gamma";
    rec->pPrinterName = taken;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_PRINTER_ALREADY_EXISTS);
    rec->pPrinterName = fresh;
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE));
    EXPECT_FALSE(printerExists("Alpha"));
    EXPECT_EQ(printer("Gamma").status, (DWORD)PRINTER_STATUS_PAUSED) << "the handle follows the new name";
    EXPECT_EQ(winsim::machine().spooler->printers["Gamma"].security.dacl.size(), 1u) << "kept without a descriptor";
    ASSERT_EQ(winsim::spoolJobs("Gamma").size(), 1u);
    EXPECT_EQ(winsim::spoolJobs("Gamma")[0].id, id);
    // Everyone lost the right to print.
    winsim::machine().spooler->callerSids = {"S-1-1-0"};
    HANDLE u = nullptr;
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Gamma", &u, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(ClosePrinter(h));
}

// --- jobs --------------------------------------------------------------------

// The jobs EnumJobsA lists from `first` at `level`, read after the size
// query into a buffer of the exact size, every string inside it.
std::string jobs(HANDLE h, DWORD first, DWORD level) {
    DWORD needed = 0, count = 0;
    EnumJobsA(h, first, 10, level, nullptr, 0, &needed, &count);
    GuardedBuffer buf(needed);
    if (!EnumJobsA(h, first, 10, level, buf.data, needed, &needed, &count)) return "error " + std::to_string(GetLastError());
    EXPECT_TRUE(buf.guardIntact());
    std::string out;
    for (DWORD i = 0; i < count; ++i) {
        if (level == 1) {
            const auto& r = ((JOB_INFO_1A*)buf.data)[i];
            for (LPSTR s : {r.pDocument, r.pPrinterName, r.pMachineName, r.pUserName}) EXPECT_TRUE(buf.inside(s));
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
    return out;
}

TEST_F(Printers, EnumJobsAndSetJob) {
    addPrinter("Alpha", "NP1");
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
    count = 0xdeadbeef;
    EXPECT_FAILS(EnumJobsA(h, 0, 1, 1, fixed.data, 64, &needed, &count), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(count, 0u);
    EXPECT_GT(needed, 64u);
    EXPECT_TRUE(fixed.untouched());
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

// --- DeletePrinter -----------------------------------------------------------

// A deleted printer is no longer listed or openable, but stays until its
// last handle closes, its handles and jobs still working; a held printer
// with jobs cannot be deleted.
TEST_F(Printers, DeletedPrinterGoesWhenItsLastHandleCloses) {
    addPrinter("Alpha", "NP1");
    addPrinter("Held", "NP2", PRINTER_STATUS_PAUSED);
    DWORD id = winsim::addSpoolJob("Alpha", {});
    winsim::addSpoolJob("Held", {});
    HANDLE h1 = open("Alpha"), h2 = open("Alpha"), held = open("Held");
    EXPECT_TRUE(DeletePrinter(h1));
    EXPECT_EQ(printer("Alpha").status & PRINTER_STATUS_PENDING_DELETION, (DWORD)PRINTER_STATUS_PENDING_DELETION);
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    GuardedBuffer buf(needed);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, buf.data, needed, &needed, &count));
    EXPECT_EQ(count == 1 ? printerText(4, buf, 0, 1) : "count " + std::to_string(count), "Held|-|0");
    HANDLE again = nullptr;
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Alpha", &again, nullptr), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FAILS(DeletePrinter(h1), ERROR_PRINTER_DELETED);
    EXPECT_FAILS(SetPrinterA(h1, 0, nullptr, PRINTER_CONTROL_PAUSE), ERROR_INVALID_PRINTER_STATE);
    EXPECT_TRUE(ClosePrinter(h1));
    EXPECT_FAILS(DeletePortA(nullptr, nullptr, (LPSTR) "NP1"), ERROR_BUSY);  // its port stays in use meanwhile
    EXPECT_TRUE(SetJobA(h2, id, 0, nullptr, JOB_CONTROL_CANCEL)) << "its jobs can still be handled";
    EXPECT_TRUE(printerExists("Alpha")) << "the open handle holds it";
    EXPECT_TRUE(ClosePrinter(h2));
    EXPECT_FALSE(printerExists("Alpha"));
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "NP1")) << "its port is free again";

    EXPECT_FAILS(DeletePrinter(held), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(SetPrinterA(held, 0, nullptr, PRINTER_CONTROL_PURGE));
    EXPECT_TRUE(DeletePrinter(held));
    EXPECT_TRUE(ClosePrinter(held));
    EXPECT_FALSE(printerExists("Held"));
}

}  // namespace
