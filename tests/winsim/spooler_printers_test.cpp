// Conformance tests of the spooler's printer and job calls: EnumPrinters,
// OpenPrinter, SetPrinter, EnumJobs, SetJob, DeletePrinter, ClosePrinter.
#include "spooler_fixture.h"

#include "winsim/spooler/security.h"
#include "winsim/spooler/store.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace spooltest;

constexpr unsigned char kGuard = 0xA5;

// A buffer of `size` bytes followed by 16 guard bytes, 8-byte aligned.
struct GuardedBuffer {
    explicit GuardedBuffer(std::size_t size) : size(size), store(size + 16 + 8, kGuard) {
        std::uintptr_t p = (std::uintptr_t)store.data();
        data = (LPBYTE)((p + 7) & ~std::uintptr_t(7));
    }
    bool guardIntact() const {
        for (std::size_t i = 0; i < 16; ++i)
            if (data[size + i] != kGuard) return false;
        return true;
    }
    bool untouched() const {
        for (std::size_t i = 0; i < size + 16; ++i)
            if (data[i] != kGuard) return false;
        return true;
    }
    bool inside(const void* p) const { return p >= data && p < data + size; }
    std::size_t size;
    std::vector<unsigned char> store;
    LPBYTE data;
};

class Printers : public SpoolerTest {
protected:
    void SetUp() override {
        build(nt351());
        standardSetup();
    }
};

// --- EnumPrinters ----------------------------------------------------------

TEST_F(Printers, EnumWithoutPrintersSucceedsWithNothingNeeded) {
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(count, 0u);
}

TEST_F(Printers, EnumSizeProtocol) {
    addPrinter("Alpha", "NP1");
    addPrinter("Beta", "NP2,LPT1:,NP3");
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(count, 0u);
    ASSERT_GT(needed, 2 * sizeof(PRINTER_INFO_2A));

    DWORD n2 = 0, c2 = 0xdeadbeef;
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 100, &n2, &c2), ERROR_INVALID_USER_BUFFER);

    GuardedBuffer small(needed - 1);
    c2 = 0xdeadbeef;
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, small.data, (DWORD)small.size, &n2, &c2),
                 ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(n2, needed);
    EXPECT_EQ(c2, 0u);
    EXPECT_TRUE(small.untouched()) << "a short buffer is not written";

    GuardedBuffer exact(needed);
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, exact.data, needed, &n2, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(exact.guardIntact()) << "nothing written past the buffer";
    auto* recs = (PRINTER_INFO_2A*)exact.data;
    EXPECT_EQ(std::string(recs[0].pPrinterName), "Alpha");
    EXPECT_EQ(std::string(recs[1].pPrinterName), "Beta");
    EXPECT_EQ(std::string(recs[1].pPortName), "NP2,LPT1:,NP3") << "several ports as one comma-separated list";
    EXPECT_EQ(std::string(recs[0].pDriverName), "Laser");
    EXPECT_EQ(recs[0].pServerName, nullptr);
    EXPECT_EQ(recs[0].pShareName, nullptr);
    const LPBYTE afterRecords = exact.data + 2 * sizeof(PRINTER_INFO_2A);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ((std::uintptr_t)&recs[i] % alignof(PRINTER_INFO_2A), 0u);
        for (LPSTR s : {recs[i].pPrinterName, recs[i].pPortName, recs[i].pDriverName, recs[i].pPrintProcessor,
                        recs[i].pDatatype}) {
            ASSERT_NE(s, nullptr);
            EXPECT_TRUE(exact.inside(s));
            EXPECT_GE((LPBYTE)s, afterRecords) << "strings lie behind the records";
            EXPECT_LE((LPBYTE)s + std::strlen(s) + 1, exact.data + needed);
        }
        ASSERT_NE(recs[i].pSecurityDescriptor, nullptr);
        EXPECT_TRUE(exact.inside(recs[i].pSecurityDescriptor));
        EXPECT_EQ((std::uintptr_t)recs[i].pSecurityDescriptor % sizeof(void*), 0u);
    }
    // Records keep the Windows layout of the build's pointer width.
    static_assert(sizeof(void*) != 8 || sizeof(PRINTER_INFO_2A) == 136);
    static_assert(sizeof(void*) != 8 || sizeof(JOB_INFO_1A) == 96);
    static_assert(sizeof(void*) != 4 || sizeof(JOB_INFO_1A) == 64);
}

TEST_F(Printers, EnumIntoALargerBufferPacksStringsAtItsEnd) {
    addPrinter("Alpha", "NP1");
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    GuardedBuffer big(needed + 200);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, big.data, (DWORD)big.size, &needed, &count));
    auto* rec = (PRINTER_INFO_2A*)big.data;
    // The first string packed is the printer name, right at the end.
    EXPECT_EQ((LPBYTE)rec->pPrinterName + std::strlen("Alpha") + 1, big.data + big.size);
    EXPECT_TRUE(big.guardIntact());
}

TEST_F(Printers, EnumByThisMachinesNameListsLocalPrinters) {
    addPrinter("Alpha", "NP1");
    DWORD needed = 0, count = 0xdeadbeef;
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_NAME, (LPSTR) "\\\\varden1", 2, nullptr, 0, &needed, &count),
                 ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(needed, 0u);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(count, 0u) << "no printer connections on this machine";
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_NAME, (LPSTR) "\\\\OTHER", 2, nullptr, 0, &needed, &count),
                 ERROR_INVALID_NAME);
}

TEST_F(Printers, EnumRejectsOtherLevelsAndNullCounters) {
    DWORD needed = 0, count = 0;
    EXPECT_FAILS(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 3, nullptr, 0, &needed, &count), ERROR_INVALID_LEVEL);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, nullptr, &count));
    EXPECT_EQ(GetLastError(), 1780u) << "RPC_X_NULL_REF_POINTER";
}

TEST_F(Printers, SecurityDescriptorRoundTrips) {
    addPrinter("Alpha", "NP1");
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    GuardedBuffer buf(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data, needed, &needed, &count));
    auto* rec = (PRINTER_INFO_2A*)buf.data;
    auto decoded = winsim::spool::decodeSecurity(rec->pSecurityDescriptor, {});
    ASSERT_TRUE(decoded.has_value());
    auto def = winsim::spool::defaultPrinterSecurity();
    ASSERT_EQ(decoded->dacl.size(), def.dacl.size());
    EXPECT_EQ(decoded->dacl[0].sid, "S-1-5-32-544");
    EXPECT_EQ(decoded->dacl[0].mask, (DWORD)PRINTER_ALL_ACCESS);
    EXPECT_EQ(decoded->owner, def.owner);
}

// --- OpenPrinter and access --------------------------------------------------

TEST_F(Printers, OpenUnknownPrinterFails) {
    HANDLE h = (HANDLE)0x1234;
    PRINTER_DEFAULTSA d{nullptr, nullptr, PRINTER_ALL_ACCESS};
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Nobody", &h, &d), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(h, nullptr);
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Nobody", nullptr, &d), ERROR_INVALID_PARAMETER);
}

TEST_F(Printers, OpenByServerQualifiedNameAndAnyCase) {
    addPrinter("Alpha", "NP1");
    HANDLE h = open("\\\\VARDEN1\\alpha");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(Printers, AccessIsCheckedAgainstThePrinterSecurity) {
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
}

TEST_F(Printers, Windows95HasNoPrinterSecurity) {
    build(win95());
    standardSetup();
    addPrinter("Alpha", "NP1");
    winsim::machine().spooler->callerSids = {"S-1-1-0"};
    HANDLE h = open("Alpha");
    EXPECT_TRUE(SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_TRUE(ClosePrinter(h));
}

// --- SetPrinter --------------------------------------------------------------

// Reads the printer's level-2 record into `buf` (as a removal tool does).
PRINTER_INFO_2A* record(std::vector<unsigned char>& buf, const char* name) {
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    buf.assign(needed + 8, 0);
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &count));
    auto* recs = (PRINTER_INFO_2A*)buf.data();
    for (DWORD i = 0; i < count; ++i)
        if (winsim::iequals(recs[i].pPrinterName, name)) return &recs[i];
    return nullptr;
}

TEST_F(Printers, Level2WithCommandStoresTheDataThenCarriesItOut) {
    addPrinter("Alpha", "NP1,LPT1:");
    winsim::addSpoolJob("Alpha", {});
    std::vector<unsigned char> buf;
    PRINTER_INFO_2A* rec = record(buf, "Alpha");
    ASSERT_NE(rec, nullptr);
    rec->pSecurityDescriptor = nullptr;
    char ports[] = "LPT1:";
    rec->pPortName = ports;
    HANDLE h = open("Alpha");
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(printer("Alpha").port, "LPT1:");
    EXPECT_EQ(printer("Alpha").status, (DWORD)PRINTER_STATUS_PAUSED);
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_RESUME));
    EXPECT_EQ(printer("Alpha").status, 0u);
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PURGE));
    EXPECT_TRUE(winsim::spoolJobs("Alpha").empty());
    EXPECT_TRUE(SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(printer("Alpha").status, (DWORD)PRINTER_STATUS_PAUSED);
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(Printers, SetPrinterRefusesBadRequests) {
    addPrinter("Alpha", "NP1");
    std::vector<unsigned char> buf;
    PRINTER_INFO_2A* rec = record(buf, "Alpha");
    rec->pSecurityDescriptor = nullptr;
    HANDLE h = open("Alpha");
    struct {
        DWORD level;
        LPBYTE data;
        DWORD command;
        DWORD error;
    } cases[] = {
        {0, nullptr, 0, ERROR_INVALID_PRINTER_COMMAND},
        {0, nullptr, 9, ERROR_INVALID_PRINTER_COMMAND},
        {1, (LPBYTE)rec, 0, ERROR_INVALID_LEVEL},
        {2, nullptr, 0, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetPrinterA(h, c.level, c.data, c.command)) << c.level << "/" << c.command;
        EXPECT_EQ(GetLastError(), c.error) << c.level << "/" << c.command;
    }
    char unknownPort[] = "NP1,NP9";
    rec->pPortName = unknownPort;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE), ERROR_UNKNOWN_PORT);
    EXPECT_EQ(printer("Alpha").status, 0u) << "a failed store skips the command";
    char port[] = "NP1";
    rec->pPortName = port;
    char driver[] = "No Such Driver";
    rec->pDriverName = driver;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_FAILS(SetPrinterA((HANDLE)0x77, 0, nullptr, PRINTER_CONTROL_PAUSE), ERROR_INVALID_HANDLE);
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
    EXPECT_EQ(winsim::machine().spooler->printers["Alpha"].security.dacl.size(), 1u);
    SetLastError(0xdeadbeef);
    bytes[0] = 7;  // not a descriptor revision
    EXPECT_FALSE(SetPrinterA(h, 2, (LPBYTE)rec, 0));
    EXPECT_EQ(GetLastError(), 1338u) << "ERROR_INVALID_SECURITY_DESCR";
    rec->pSecurityDescriptor = nullptr;
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, 0));
    EXPECT_EQ(winsim::machine().spooler->printers["Alpha"].security.dacl.size(), 1u);
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
    rec->pSecurityDescriptor = nullptr;
    HANDLE h = open("Alpha");
    char taken[] = "beta";
    rec->pPrinterName = taken;
    EXPECT_FAILS(SetPrinterA(h, 2, (LPBYTE)rec, 0), ERROR_PRINTER_ALREADY_EXISTS);
    char fresh[] = "Gamma";
    rec->pPrinterName = fresh;
    EXPECT_TRUE(SetPrinterA(h, 2, (LPBYTE)rec, PRINTER_CONTROL_PAUSE));
    EXPECT_FALSE(printerExists("Alpha"));
    EXPECT_EQ(printer("Gamma").status, (DWORD)PRINTER_STATUS_PAUSED) << "the handle follows the new name";
    ASSERT_EQ(winsim::spoolJobs("Gamma").size(), 1u);
    EXPECT_EQ(winsim::spoolJobs("Gamma")[0].id, id);
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(Printers, ReadingLeavesTheImageSectionAlone) {
    addPrinter("Alpha", "NP1");
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<unsigned char> buf(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buf.data(), needed, &needed, &count));
    HANDLE h = open("Alpha");
    EXPECT_TRUE(EnumJobsA(h, 0, 1, 1, nullptr, 0, &needed, &count));
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_TRUE(winsim::machine().spooler->printers.empty()) << "no entry made up for a printer only read";
}

// --- jobs --------------------------------------------------------------------

TEST_F(Printers, EnumJobsSizeProtocolAndRecords) {
    addPrinter("Alpha", "NP1");
    HANDLE h = open("Alpha");
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_TRUE(EnumJobsA(h, 0, 1, 1, nullptr, 0, &needed, &count)) << "an empty queue";
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(count, 0u);

    winsim::SpoolJob j;
    j.document = "Quarterly report";
    j.totalPages = 12;
    DWORD id1 = winsim::addSpoolJob("Alpha", j);
    j.document = "Memo";
    DWORD id2 = winsim::addSpoolJob("Alpha", j);

    // A 64-byte buffer cannot hold one level-1 record with its strings.
    unsigned char fixed[64 + 16];
    std::memset(fixed, kGuard, sizeof fixed);
    count = 0xdeadbeef;
    EXPECT_FAILS(EnumJobsA(h, 0, 1, 1, fixed, 64, &needed, &count), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(count, 0u);
    EXPECT_GT(needed, 64u);
    for (unsigned char c : fixed) EXPECT_EQ(c, kGuard);

    DWORD all = 0;
    EXPECT_FALSE(EnumJobsA(h, 0, 10, 1, nullptr, 0, &all, &count));
    GuardedBuffer buf(all);
    ASSERT_TRUE(EnumJobsA(h, 0, 10, 1, buf.data, all, &all, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(buf.guardIntact());
    auto* recs = (JOB_INFO_1A*)buf.data;
    EXPECT_EQ(recs[0].JobId, id1);
    EXPECT_EQ(recs[1].JobId, id2);
    EXPECT_EQ(std::string(recs[0].pDocument), "Quarterly report");
    EXPECT_EQ(std::string(recs[0].pPrinterName), "Alpha");
    EXPECT_EQ(std::string(recs[0].pMachineName), "\\\\VARDEN1");
    EXPECT_EQ(recs[0].TotalPages, 12u);
    EXPECT_EQ(recs[1].Position, 2u);
    EXPECT_EQ(recs[0].Submitted.wYear, 1996);
    EXPECT_TRUE(buf.inside(recs[1].pDocument));

    // From the second job on.
    EXPECT_FALSE(EnumJobsA(h, 1, 10, 1, nullptr, 0, &needed, &count));
    GuardedBuffer second(needed);
    ASSERT_TRUE(EnumJobsA(h, 1, 10, 1, second.data, needed, &needed, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(((JOB_INFO_1A*)second.data)->JobId, id2);
    EXPECT_TRUE(EnumJobsA(h, 5, 10, 1, nullptr, 0, &needed, &count)) << "past the end: nothing";
    EXPECT_EQ(count, 0u);

    // Level 2: the same jobs with what the printer gives them.
    EXPECT_FALSE(EnumJobsA(h, 0, 10, 2, nullptr, 0, &needed, &count));
    EXPECT_GT(needed, all);
    GuardedBuffer two(needed);
    ASSERT_TRUE(EnumJobsA(h, 0, 10, 2, two.data, needed, &needed, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(two.guardIntact());
    auto* recs2 = (JOB_INFO_2A*)two.data;
    EXPECT_EQ(recs2[1].JobId, id2);
    EXPECT_EQ(std::string(recs2[1].pDocument), "Memo");
    EXPECT_EQ(std::string(recs2[0].pNotifyName), std::string(recs[0].pUserName));
    EXPECT_EQ(std::string(recs2[0].pPrintProcessor), "WinPrint");
    EXPECT_FALSE(std::string(recs2[0].pDriverName).empty());
    EXPECT_EQ(recs2[0].pDevMode, nullptr);
    EXPECT_EQ(recs2[1].Position, 2u);
    EXPECT_EQ(recs2[0].TotalPages, 12u);
    EXPECT_TRUE(two.inside(recs2[1].pDriverName));
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
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetJobA(h, 0, 0, nullptr, JOB_CONTROL_RESTART));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER) << "job id 0 names no job";
    EXPECT_FAILS(SetJobA(h, 999, 0, nullptr, JOB_CONTROL_CANCEL), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_PAUSE));
    EXPECT_EQ(winsim::spoolJobs("Alpha")[0].status & JOB_STATUS_PAUSED, (DWORD)JOB_STATUS_PAUSED);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_RESUME));
    EXPECT_EQ(winsim::spoolJobs("Alpha")[0].status & JOB_STATUS_PAUSED, 0u);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_RESTART));
    EXPECT_EQ(winsim::spoolJobs("Alpha")[0].pagesPrinted, 0u);
    EXPECT_EQ(winsim::spoolJobs("Alpha")[0].status & JOB_STATUS_PRINTING, 0u);
    EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_CANCEL));
    EXPECT_TRUE(SetJobA(h, other, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_TRUE(winsim::spoolJobs("Alpha").empty());
    EXPECT_FAILS(SetJobA(h, id, 1, nullptr, JOB_CONTROL_CANCEL), ERROR_INVALID_LEVEL);
    EXPECT_TRUE(ClosePrinter(h));
}

// --- DeletePrinter and ClosePrinter -------------------------------------------

TEST_F(Printers, DeletedPrinterGoesWhenItsLastHandleCloses) {
    addPrinter("Alpha", "NP1");
    HANDLE h = open("Alpha");
    EXPECT_TRUE(DeletePrinter(h));
    // Marked, no longer listed or openable, but the handle still works.
    DWORD needed = 0xdeadbeef, count = 0xdeadbeef;
    EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(count, 0u);
    HANDLE again = nullptr;
    EXPECT_FAILS(OpenPrinterA((LPSTR) "Alpha", &again, nullptr), ERROR_INVALID_PRINTER_NAME);
    EXPECT_TRUE(printerExists("Alpha"));
    EXPECT_FAILS(DeletePrinter(h), ERROR_PRINTER_DELETED);
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FALSE(printerExists("Alpha"));
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "NP1")) << "its port is free again";
}

TEST_F(Printers, DeletedPrinterWithJobsWaitsForThem) {
    addPrinter("Alpha", "NP1");
    DWORD id = winsim::addSpoolJob("Alpha", {});
    HANDLE h1 = open("Alpha");
    HANDLE h2 = open("Alpha");
    EXPECT_TRUE(DeletePrinter(h1));
    EXPECT_EQ(printer("Alpha").status & PRINTER_STATUS_PENDING_DELETION, (DWORD)PRINTER_STATUS_PENDING_DELETION);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetPrinterA(h1, 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PRINTER_STATE) << "a printer being deleted cannot be held";
    EXPECT_TRUE(ClosePrinter(h1));
    EXPECT_TRUE(printerExists("Alpha")) << "a job and a handle still hold it";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeletePortA(nullptr, nullptr, (LPSTR) "NP1"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY) << "its port stays in use meanwhile";
    EXPECT_TRUE(SetJobA(h2, id, 0, nullptr, JOB_CONTROL_CANCEL)) << "its jobs can still be handled";
    EXPECT_TRUE(printerExists("Alpha")) << "the open handle holds it";
    EXPECT_TRUE(ClosePrinter(h2));
    EXPECT_FALSE(printerExists("Alpha"));
}

TEST_F(Printers, HeldPrinterWithJobsCannotBeDeleted) {
    addPrinter("Alpha", "NP1", PRINTER_STATUS_PAUSED);
    winsim::addSpoolJob("Alpha", {});
    HANDLE h = open("Alpha");
    EXPECT_FAILS(DeletePrinter(h), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(SetPrinterA(h, 0, nullptr, PRINTER_CONTROL_PURGE));
    EXPECT_TRUE(DeletePrinter(h));
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FALSE(printerExists("Alpha"));
}

TEST_F(Printers, ClosePrinterChecksItsHandle) {
    addPrinter("Alpha", "NP1");
    HANDLE h = open("Alpha");
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FAILS(ClosePrinter(h), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ClosePrinter(nullptr), ERROR_INVALID_HANDLE);
    // Printer handles are not kernel handles.
    HANDLE k = open("Alpha");
    EXPECT_FAILS(CloseHandle(k), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(ClosePrinter(k));
}

}  // namespace
