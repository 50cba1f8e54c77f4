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
    // The level-2 record of printer `name`, read into `buf` as a removal tool
    // reads it, its security descriptor taken out.
    PRINTER_INFO_2A* record(std::vector<unsigned char>& buf, const char* name) {
        DWORD needed = 0, count = 0;
        EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
        buf.assign(needed + 8, 0);
        EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &count));
        auto* recs = (PRINTER_INFO_2A*)buf.data();
        for (DWORD i = 0; i < count; ++i)
            if (winsim::iequals(recs[i].pPrinterName, name)) {
                recs[i].pSecurityDescriptor = nullptr;
                return &recs[i];
            }
        ADD_FAILURE() << "no record of " << name;
        return nullptr;
    }
};

// Records keep the Windows layout of the build's pointer width.
static_assert(sizeof(void*) != 8 || sizeof(PRINTER_INFO_2A) == 136);
static_assert(sizeof(void*) != 8 || sizeof(JOB_INFO_1A) == 96);
static_assert(sizeof(void*) != 4 || sizeof(JOB_INFO_1A) == 64);

// --- EnumPrinters ----------------------------------------------------------

TEST_F(Printers, EnumSizeProtocolAndRecords) {
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_LASTERROR(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count), TRUE, sim::kSentinel);
    EXPECT_EQ(needed, 0u);  // no printers: nothing needed
    EXPECT_EQ(count, 0u);
    addPrinter("Alpha", "NP1");
    addPrinter("Beta", "NP2,LPT1:,NP3");
    count = 0xdeadbeef;
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(count, 0u);
    ASSERT_GT(needed, 2 * sizeof(PRINTER_INFO_2A));
    DWORD n2 = 0, c2 = 0xdeadbeef;
    GuardedBuffer small(needed - 1);
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, small.data, (DWORD)small.size, &n2, &c2),
                 ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(n2, needed);
    EXPECT_EQ(c2, 0u);
    EXPECT_TRUE(small.untouched()) << "a short buffer is not written";

    GuardedBuffer exact(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, exact.data, needed, &n2, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(exact.guardIntact()) << "nothing written past the buffer";
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only read";
    auto* recs = (PRINTER_INFO_2A*)exact.data;
    auto text = [](const PRINTER_INFO_2A& r) {
        return std::string(r.pPrinterName) + " on " + r.pPortName + ", " + r.pDriverName + ", " + r.pPrintProcessor +
               ", " + r.pDatatype + (r.pServerName ? ", a server" : "") + (r.pShareName ? ", shared" : "");
    };
    EXPECT_EQ(text(recs[0]), "Alpha on NP1, Laser, WinPrint, RAW");
    EXPECT_EQ(text(recs[1]), "Beta on NP2,LPT1:,NP3, Laser, WinPrint, RAW");  // ports as one comma-separated list
    // Strings lie behind the records; descriptors are aligned.
    for (int i = 0; i < 2; ++i) {
        for (LPSTR s : {recs[i].pPrinterName, recs[i].pPortName, recs[i].pDriverName, recs[i].pPrintProcessor, recs[i].pDatatype})
            EXPECT_TRUE((LPBYTE)s >= exact.data + 2 * sizeof(PRINTER_INFO_2A) && (LPBYTE)s + std::strlen(s) < exact.data + needed);
        ASSERT_TRUE(exact.inside(recs[i].pSecurityDescriptor));
        EXPECT_EQ((std::uintptr_t)recs[i].pSecurityDescriptor % sizeof(void*), 0u);
    }
    // The descriptor decodes to the default printer security.
    auto decoded = winsim::spool::decodeSecurity(recs[0].pSecurityDescriptor, {});
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(winsim::spool::encodeSecurity(*decoded), winsim::spool::encodeSecurity(winsim::spool::defaultPrinterSecurity()));

    // A larger buffer: the first string packed, the printer name, sits at its end.
    GuardedBuffer big(needed + 200);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, big.data, (DWORD)big.size, &n2, &count));
    EXPECT_EQ((LPBYTE)((PRINTER_INFO_2A*)big.data)->pPrinterName + std::strlen("Alpha") + 1, big.data + big.size);
    EXPECT_TRUE(big.guardIntact());
}

// The other levels follow the same size protocol; each record as its level lays it out.
TEST_F(Printers, EnumLevelsOneFourAndFive) {
    addPrinter("Alpha", "NP1");
    addPrinter("Beta", "NP2,LPT1:");
    auto text = [](DWORD level, LPBYTE data, DWORD i) -> std::string {
        if (level == 1) {
            auto& r = ((PRINTER_INFO_1A*)data)[i];
            return std::string(r.pName) + "|" + r.pDescription + "|" + std::to_string(r.Flags) + (r.pComment ? "|c" : "");
        }
        if (level == 4) {
            auto& r = ((PRINTER_INFO_4A*)data)[i];
            return std::string(r.pPrinterName) + (r.pServerName ? "|server" : "") + "|" + std::to_string(r.Attributes);
        }
        auto& r = ((PRINTER_INFO_5A*)data)[i];
        return std::string(r.pPrinterName) + "|" + r.pPortName + "|" + std::to_string(r.DeviceNotSelectedTimeout) + "|" +
               std::to_string(r.TransmissionRetryTimeout);
    };
    const std::pair<DWORD, std::string> rows[] = {
        {1, "Alpha|Alpha,Laser,|" + std::to_string(PRINTER_ENUM_ICON8) + " Beta|Beta,Laser,|" +
                std::to_string(PRINTER_ENUM_ICON8)},
        {4, "Alpha|0 Beta|0"},
        {5, "Alpha|NP1|15000|45000 Beta|NP2,LPT1:|15000|45000"},
    };
    for (const auto& [level, want] : rows) {
        SCOPED_TRACE(level);
        DWORD needed = 0, count = 0xdeadbeef, n2 = 0;
        EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, nullptr, 0, &needed, &count),
                     ERROR_INSUFFICIENT_BUFFER);
        GuardedBuffer small(needed - 1), exact(needed);
        EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, small.data, (DWORD)small.size, &n2, &count),
                     ERROR_INSUFFICIENT_BUFFER);
        EXPECT_TRUE(small.untouched());
        ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, level, exact.data, needed, &n2, &count));
        ASSERT_EQ(count, 2u);
        EXPECT_EQ(text(level, exact.data, 0) + " " + text(level, exact.data, 1), want);
        EXPECT_TRUE(exact.guardIntact());
    }
}

TEST_F(Printers, EnumByNameAndRefusals) {
    addPrinter("Alpha", "NP1");
    DWORD needed = 0, count = 0xdeadbeef;
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

TEST_F(Printers, OpenAndCloseHandles) {
    addPrinter("Alpha", "NP1");
    PRINTER_DEFAULTSA d{nullptr, nullptr, PRINTER_ALL_ACCESS};
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Nobody", nullptr, &d), ERROR_INVALID_PARAMETER);
    HANDLE h = open("\\\\VARDEN1\\alpha");  // by server-qualified name, in any case
    ASSERT_NE(h, nullptr);
    EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);  // printer handles are not kernel handles
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FAILS(ClosePrinter(h), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ClosePrinter(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only opened";
}

TEST_F(Printers, AccessIsCheckedAgainstThePrinterSecurityOnNtOnly) {
    addPrinter("Alpha", "NP1");
    winsim::machine().spooler->callerSids = {"S-1-1-0", "S-1-5-32-545"};  // an ordinary user
    PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE h = nullptr;
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

TEST_F(Printers, SetPrinterRefusesBadRequests) {
    addPrinter("Alpha", "NP1");
    std::vector<unsigned char> buf;
    PRINTER_INFO_2A* rec = record(buf, "Alpha");
    HANDLE h = open("Alpha");
    const struct {
        DWORD level;
        LPBYTE data;
        DWORD command, error;
    } rows[] = {
        {0, nullptr, 0, ERROR_INVALID_PRINTER_COMMAND},
        {0, nullptr, 9, ERROR_INVALID_PRINTER_COMMAND},
        {1, (LPBYTE)rec, 0, ERROR_INVALID_LEVEL},
        {2, nullptr, 0, ERROR_INVALID_PARAMETER},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.level) + "/" + std::to_string(r.command));
        EXPECT_FAILS(SetPrinterA(h, r.level, r.data, r.command), r.error);
    }
    char unknownPort[] = "NP1,NP9", port[] = "NP1", driver[] = "No Such Driver";
    rec->pPortName = unknownPort;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE), ERROR_UNKNOWN_PORT);
    EXPECT_EQ(printer("Alpha").status, 0u) << "a failed store skips the command";
    rec->pPortName = port;
    rec->pDriverName = driver;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_FAILS(SetPrinterA((HANDLE)0x77, 0, nullptr, PRINTER_CONTROL_PAUSE), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(printer("Alpha").status, (DWORD)PRINTER_STATUS_PAUSED);
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(Printers, SecurityDescriptorIsRewrittenOnlyWhenGiven) {
    addPrinter("Alpha", "NP1");
    std::vector<unsigned char> buf;
    PRINTER_INFO_2A* rec = record(buf, "Alpha");
    winsim::PrinterSecurity mine;
    mine.dacl = {{"S-1-5-32-544", 0, 0, PRINTER_ALL_ACCESS}};
    auto bytes = winsim::spool::encodeSecurity(mine);
    rec->pSecurityDescriptor = bytes.data();
    HANDLE h = open("Alpha");
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, 0));
    auto& stored = winsim::machine().spooler->printers["Alpha"].security;
    EXPECT_EQ(stored.dacl.size(), 1u);
    bytes[0] = 7;  // not a descriptor revision
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), 1338 /* ERROR_INVALID_SECURITY_DESCR */);
    rec->pSecurityDescriptor = nullptr;
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, 0));
    EXPECT_EQ(stored.dacl.size(), 1u);
    // Everyone lost the right to print.
    winsim::machine().spooler->callerSids = {"S-1-1-0"};
    HANDLE u = nullptr;
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Alpha", &u, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(Printers, Level2CanRenameAPrinter) {
    addPrinter("Alpha", "NP1");
    addPrinter("Beta", "NP2");
    DWORD id = winsim::addSpoolJob("Alpha", {});
    std::vector<unsigned char> buf;
    PRINTER_INFO_2A* rec = record(buf, "Alpha");
    HANDLE h = open("Alpha");
    char taken[] = "beta", fresh[] = "Gamma";
    rec->pPrinterName = taken;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_PRINTER_ALREADY_EXISTS);
    rec->pPrinterName = fresh;
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE));
    EXPECT_FALSE(printerExists("Alpha"));
    EXPECT_EQ(printer("Gamma").status, (DWORD)PRINTER_STATUS_PAUSED) << "the handle follows the new name";
    ASSERT_EQ(winsim::spoolJobs("Gamma").size(), 1u);
    EXPECT_EQ(winsim::spoolJobs("Gamma")[0].id, id);
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

TEST_F(Printers, EnumJobsSizeProtocolAndRecords) {
    addPrinter("Alpha", "NP1");
    HANDLE h = open("Alpha");
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_TRUE(EnumJobsA(h, 0, 1, 1, nullptr, 0, &needed, &count)) << "an empty queue";
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only read";

    winsim::SpoolJob j;
    j.document = "Quarterly report";
    j.totalPages = 12;
    const std::string id1 = std::to_string(winsim::addSpoolJob("Alpha", j));
    j.document = "Memo";
    const std::string id2 = std::to_string(winsim::addSpoolJob("Alpha", j));

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
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(Printers, SetJobCommands) {
    addPrinter("Alpha", "NP1");
    winsim::SpoolJob j;
    j.pagesPrinted = 3;
    j.status = JOB_STATUS_PRINTING;
    DWORD id = winsim::addSpoolJob("Alpha", j);
    DWORD other = winsim::addSpoolJob("Alpha", {});
    HANDLE h = open("Alpha");
    EXPECT_FAILS(SetJobA(h, 0, 0, nullptr, JOB_CONTROL_RESTART), ERROR_INVALID_PARAMETER);  // id 0 names no job
    EXPECT_FAILS(SetJobA(h, 999, 0, nullptr, JOB_CONTROL_CANCEL), ERROR_INVALID_PARAMETER);
    auto first = [] { return winsim::spoolJobs("Alpha")[0]; };
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_PAUSE));
    EXPECT_EQ(first().status & JOB_STATUS_PAUSED, (DWORD)JOB_STATUS_PAUSED);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_RESUME));
    EXPECT_EQ(first().status & JOB_STATUS_PAUSED, 0u);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_RESTART));
    EXPECT_EQ(first().pagesPrinted, 0u);
    EXPECT_EQ(first().status & JOB_STATUS_PRINTING, 0u);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_CANCEL));
    EXPECT_TRUE(SetJobA(h, other, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_TRUE(winsim::spoolJobs("Alpha").empty());
    EXPECT_FAILS(SetJobA(h, id, 1, nullptr, JOB_CONTROL_CANCEL), ERROR_INVALID_LEVEL);
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
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    GuardedBuffer buf(needed);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data, needed, &needed, &count));
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(((PRINTER_INFO_2A*)buf.data)->pPrinterName, "Held");
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
