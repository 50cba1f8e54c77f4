// The Win32 spooler functions over the simulated machine.
//
// Every call first asks the fault table (faults name the call, e.g.
// "AddMonitorA", and may be limited to the object named: monitor, port,
// printer, driver or environment), then whether the "Spooler" service runs:
// while it does not, every call fails with RPC_S_SERVER_UNAVAILABLE, as the
// RPC client of NT's spooler does.
//
// Buffers filled by the Enum* calls follow the Win32 two-pass protocol:
// records at the start of the buffer in their native layout (so they are
// aligned for the build's pointer width when the buffer is), the strings
// packed downwards from the end of the caller's buffer, and a buffer that
// is too small fails with ERROR_INSUFFICIENT_BUFFER, the size needed and a
// count of 0, writing nothing.
#include <windows.h>
#include <winspool.h>

#include "winsim/services/query.h"
#include "winsim/spooler/security.h"
#include "winsim/spooler/state.h"
#include "winsim/spooler/store.h"

#include <cstring>
#include <ctime>
#include <optional>
#include <type_traits>

namespace {

using namespace winsim;
using namespace winsim::spool;

constexpr DWORD kNullRefPointer = 1780;        // RPC_X_NULL_REF_POINTER
constexpr DWORD kInvalidSecurityDescr = 1338;  // ERROR_INVALID_SECURITY_DESCR

SpoolerState& spooler() { return *machine().spooler; }

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The fault or service-state error a call ends with before it starts, or 0.
DWORD precheck(const char* call, std::string_view target) {
    if (DWORD e = injectedFault(call, target)) return e;
    if (!isServiceRunning("Spooler")) return RPC_S_SERVER_UNAVAILABLE;
    return 0;
}

// A server name names this machine when it is null, empty or "\\NAME".
bool isLocalServer(LPCSTR name) {
    if (!name || !*name) return true;
    std::string_view n(name);
    return n.size() > 2 && n[0] == '\\' && n[1] == '\\' && iequals(n.substr(2), machine().computerName);
}

bool isAdministrator() {
    if (!machine().os.isNT()) return true;  // Windows 95 has no printer security
    for (const auto& s : spooler().callerSids)
        if (iequals(s, "S-1-5-32-544")) return true;
    return false;
}

PrinterExtra& extraOf(const std::string& printer) {
    auto& ps = spooler().printers;
    auto it = ps.find(printer);
    if (it != ps.end()) return it->second;
    PrinterExtra e;
    e.security = defaultPrinterSecurity();
    return ps.emplace(printer, std::move(e)).first->second;
}

PrinterHandle* handleOf(HANDLE h) {
    auto& hs = spooler().handles;
    auto it = hs.find((std::uintptr_t)h);
    return it == hs.end() ? nullptr : &it->second;
}

int openHandlesOn(const std::string& printer) {
    int n = 0;
    for (const auto& [k, v] : spooler().handles)
        if (iequals(v.printer, printer)) ++n;
    return n;
}

// Removes a printer marked for deletion once no job and no handle holds it.
void reapIfDeleted(const std::string& name) {
    if (openHandlesOn(name) > 0) return;
    SpoolPrinter p;
    if (readPrinter(name, p) != ERROR_SUCCESS || !(p.status & PRINTER_STATUS_PENDING_DELETION)) return;
    auto& ps = spooler().printers;
    auto it = ps.find(name);
    if (it != ps.end() && !it->second.jobs.empty()) return;
    if (deletePrinterKey(p.name) == ERROR_SUCCESS && it != ps.end()) ps.erase(it);
}

// The printer's jobs and security without creating an entry for it.
const PrinterExtra& extraOrDefault(const std::string& printer) {
    static const PrinterExtra fallback = [] {
        PrinterExtra e;
        e.security = defaultPrinterSecurity();
        return e;
    }();
    const auto& ps = spooler().printers;
    auto it = ps.find(printer);
    return it == ps.end() ? fallback : it->second;
}

// --- buffer packing --------------------------------------------------------

// Lays out records at the start of a buffer and strings from its end.
// With a null base it only counts.
class Packer {
public:
    Packer(LPBYTE base, DWORD size) : base_(base), end_(size) {}
    std::size_t needed() const { return records_ + extra_; }

    // Bytes for the record array.
    void reserveRecords(std::size_t bytes) { records_ += bytes; }
    // Copies a string into the string area; returns where it went (null
    // when only counting, or for a null string).
    LPSTR string(const std::string* s) {
        if (!s) return nullptr;
        std::size_t n = s->size() + 1;
        extra_ += n;
        if (!base_) return nullptr;
        end_ -= n;
        std::memcpy(base_ + end_, s->c_str(), n);
        return (LPSTR)(base_ + end_);
    }
    // Copies an opaque block into the area just after the records, aligned
    // for pointers (blocks are placed before any string is packed).
    void* block(const std::vector<std::uint8_t>& b) {
        std::size_t n = (b.size() + 7) & ~std::size_t(7);
        std::size_t at = records_ + blocks_;
        blocks_ += n;
        extra_ += n;
        if (!base_) return nullptr;
        std::memcpy(base_ + at, b.data(), b.size());
        return base_ + at;
    }

private:
    LPBYTE base_;
    std::size_t end_;
    std::size_t records_ = 0;
    std::size_t blocks_ = 0;
    std::size_t extra_ = 0;
};

// Common checks of an Enum* output: ERROR_SUCCESS or the error.
DWORD checkOutput(LPBYTE buf, DWORD cb, LPDWORD needed, LPDWORD returned) {
    if (!needed || !returned) return kNullRefPointer;
    if (!buf && cb != 0) return ERROR_INVALID_USER_BUFFER;
    return ERROR_SUCCESS;
}

const std::string* orNull(const std::string& s) { return s.empty() ? nullptr : &s; }

void fillPrinterInfo2(Packer& pk, PRINTER_INFO_2A* rec, const SpoolPrinter& p, const PrinterExtra& extra,
                      const std::vector<std::uint8_t>& sd) {
    PRINTER_INFO_2A r{};
    r.pSecurityDescriptor = pk.block(sd);
    r.pServerName = nullptr;  // local printers carry no server name
    r.pPrinterName = pk.string(&p.name);
    r.pShareName = pk.string(orNull(p.shareName));
    r.pPortName = pk.string(&p.port);
    r.pDriverName = pk.string(&p.driver);
    r.pComment = pk.string(orNull(p.comment));
    r.pLocation = pk.string(orNull(p.location));
    r.pDevMode = nullptr;
    r.pSepFile = pk.string(orNull(p.sepFile));
    r.pPrintProcessor = pk.string(&p.printProcessor);
    r.pDatatype = pk.string(&p.datatype);
    r.pParameters = pk.string(orNull(p.parameters));
    r.Attributes = p.attributes;
    r.Priority = p.priority;
    r.DefaultPriority = p.defaultPriority;
    r.StartTime = p.startTime;
    r.UntilTime = p.untilTime;
    r.Status = p.status;
    r.cJobs = (DWORD)extra.jobs.size();
    r.AveragePPM = 0;
    if (rec) *rec = r;
}

SYSTEMTIME toSystemTime(std::int64_t ms) {
    std::time_t t = (std::time_t)(ms / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    SYSTEMTIME st{};
    st.wYear = (WORD)(tm.tm_year + 1900);
    st.wMonth = (WORD)(tm.tm_mon + 1);
    st.wDayOfWeek = (WORD)tm.tm_wday;
    st.wDay = (WORD)tm.tm_mday;
    st.wHour = (WORD)tm.tm_hour;
    st.wMinute = (WORD)tm.tm_min;
    st.wSecond = (WORD)tm.tm_sec;
    st.wMilliseconds = (WORD)(ms % 1000);
    return st;
}

// One job record of level 1 or 2. Level 2 adds what the printer gives its
// jobs: notify name (the user), print processor, parameters and driver; no
// devmode or security descriptor is kept for a job.
template <class Info>
void fillJobInfo(Packer& pk, Info* rec, const std::string& printer, const SpoolJob& j, DWORD position,
                 const std::string& machineName, const SpoolPrinter& p) {
    Info r{};
    r.JobId = j.id;
    r.pPrinterName = pk.string(&printer);
    r.pMachineName = pk.string(&machineName);
    r.pUserName = pk.string(&j.user);
    r.pDocument = pk.string(&j.document);
    r.pDatatype = pk.string(&j.datatype);
    r.pStatus = pk.string(orNull(j.statusText));
    r.Status = j.status;
    r.Priority = j.priority;
    r.Position = position;
    r.TotalPages = j.totalPages;
    r.PagesPrinted = j.pagesPrinted;
    r.Submitted = toSystemTime(j.submittedMs);
    if constexpr (std::is_same_v<Info, JOB_INFO_2A>) {
        r.pNotifyName = pk.string(&j.user);
        r.pPrintProcessor = pk.string(&p.printProcessor);
        r.pParameters = pk.string(&p.parameters);
        r.pDriverName = pk.string(&p.driver);
        r.StartTime = p.startTime;
        r.UntilTime = p.untilTime;
    }
    if (rec) *rec = r;
}

// Checks a port list for SetPrinter: every element must be a known port.
DWORD checkPorts(const std::string& list) {
    auto ports = splitPorts(list);
    if (ports.empty()) return ERROR_UNKNOWN_PORT;
    for (const auto& p : ports) {
        PortRef ref;
        bool found = false;
        if (DWORD r = findPort(p, ref, found)) return r;
        if (!found) return ERROR_UNKNOWN_PORT;
    }
    return ERROR_SUCCESS;
}

// Stores the level-2 data of SetPrinter into the printer's record.
DWORD storePrinterInfo2(PrinterHandle& h, const PRINTER_INFO_2A& in) {
    SpoolPrinter p;
    if (DWORD r = readPrinter(h.printer, p)) return r == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_HANDLE : r;
    SpoolPrinter next = p;
    std::string newName = in.pPrinterName && *in.pPrinterName ? in.pPrinterName : p.name;
    if (newName.find_first_of("\\,") != std::string::npos) return ERROR_INVALID_PRINTER_NAME;
    if (!in.pPortName) return ERROR_UNKNOWN_PORT;
    next.port = in.pPortName;
    if (DWORD r = checkPorts(next.port)) return r;
    if (!in.pDriverName || !*in.pDriverName) return ERROR_UNKNOWN_PRINTER_DRIVER;
    SpoolDriver drv;
    bool found = false;
    if (DWORD r = readDriver(ownEnvironment(), in.pDriverName, drv, found)) return r;
    if (!found) return ERROR_UNKNOWN_PRINTER_DRIVER;
    next.driver = drv.name;
    auto text = [](LPSTR s, const std::string& keep) { return s ? std::string(s) : keep; };
    next.shareName = text(in.pShareName, "");
    next.comment = text(in.pComment, "");
    next.location = text(in.pLocation, "");
    next.sepFile = text(in.pSepFile, "");
    next.parameters = text(in.pParameters, "");
    next.printProcessor = in.pPrintProcessor && *in.pPrintProcessor ? in.pPrintProcessor : p.printProcessor;
    next.datatype = in.pDatatype && *in.pDatatype ? in.pDatatype : p.datatype;
    next.attributes = in.Attributes;
    next.priority = in.Priority;
    next.defaultPriority = in.DefaultPriority;
    next.startTime = in.StartTime;
    next.untilTime = in.UntilTime;
    // The status belongs to the spooler; level 2 does not set it.
    std::optional<PrinterSecurity> security;
    if (in.pSecurityDescriptor) {
        if (!(h.granted & WRITE_DAC)) return ERROR_ACCESS_DENIED;
        security = decodeSecurity(in.pSecurityDescriptor, extraOrDefault(p.name).security);
        if (!security) return kInvalidSecurityDescr;
    }
    bool rename = !iequals(newName, p.name);
    if (rename) {
        SpoolPrinter other;
        DWORD r = readPrinter(newName, other);
        if (r == ERROR_SUCCESS) return ERROR_PRINTER_ALREADY_EXISTS;
        if (r != ERROR_FILE_NOT_FOUND) return r;
    }
    next.name = newName;
    if (DWORD r = definePrinter(next)) return r;
    if (rename) {
        if (DWORD r = deletePrinterKey(p.name)) return r;
        auto& ps = spooler().printers;
        if (auto it = ps.find(p.name); it != ps.end()) {
            PrinterExtra moved = std::move(it->second);
            ps.erase(it);
            ps[newName] = std::move(moved);
        }
        for (auto& [k, v] : spooler().handles)
            if (iequals(v.printer, p.name)) v.printer = newName;
    }
    if (security) extraOf(newName).security = *security;
    return ERROR_SUCCESS;
}

DWORD setStatusBits(const std::string& printer, DWORD set, DWORD clear) {
    SpoolPrinter p;
    if (DWORD r = readPrinter(printer, p)) return r;
    p.status = (p.status | set) & ~clear;
    return definePrinter(p);
}

DWORD printerCommand(PrinterHandle& h, DWORD command) {
    SpoolPrinter p;
    if (DWORD r = readPrinter(h.printer, p)) return r == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_HANDLE : r;
    switch (command) {
        case PRINTER_CONTROL_PAUSE:
            // A printer being deleted cannot be held.
            if (p.status & PRINTER_STATUS_PENDING_DELETION) return ERROR_INVALID_PRINTER_STATE;
            return setStatusBits(p.name, PRINTER_STATUS_PAUSED, 0);
        case PRINTER_CONTROL_RESUME:
            return setStatusBits(p.name, 0, PRINTER_STATUS_PAUSED);
        case PRINTER_CONTROL_PURGE:
            if (auto it = spooler().printers.find(p.name); it != spooler().printers.end()) it->second.jobs.clear();
            return ERROR_SUCCESS;
        default:
            return ERROR_INVALID_PRINTER_COMMAND;
    }
}

DWORD checkDriverFile(const std::string& dir, LPSTR name, std::string& file) {
    if (!name || !*name) return ERROR_INVALID_PARAMETER;
    std::string given(name);
    // A bare name is looked for in the printer-driver directory.
    std::string full = given.find('\\') == std::string::npos ? dir + "\\" + given : given;
    DWORD attrs = GetFileAttributesA(full.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_FILE_NOT_FOUND;
    std::size_t slash = given.find_last_of('\\');
    file = slash == std::string::npos ? given : given.substr(slash + 1);
    return ERROR_SUCCESS;
}

// NT 3.50 and 3.51 keep a driver's files in a subdirectory named after the
// driver version: the spooler copies them there when the driver is added.
DWORD copyIntoVersionDirectory(const std::string& dir, DWORD version, const std::vector<std::string>& sources,
                               const std::vector<std::string>& names) {
    std::string vdir = dir + "\\" + std::to_string(version);
    if (!CreateDirectoryA(vdir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return GetLastError();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::string target = vdir + "\\" + names[i];
        if (!CopyFileA(sources[i].c_str(), target.c_str(), FALSE)) return GetLastError();
    }
    return ERROR_SUCCESS;
}

bool isNt35() {
    const Machine& m = machine();
    return m.os.isNT() && m.os.major == 3 && m.os.minor >= 50;
}

// Levels 1, 4 and 5 of EnumPrinters: records first, strings from the end.
// Level 1 describes a printer as "name,driver,location"; level 5 carries
// NT's default timeouts (15 s not selected, 45 s retry).
BOOL enumOtherLevel(DWORD level, const std::vector<SpoolPrinter>& shown, LPBYTE out, DWORD cbBuf, LPDWORD pcbNeeded,
                    LPDWORD pcReturned) {
    const std::size_t record = level == 1 ? sizeof(PRINTER_INFO_1A)
                               : level == 4 ? sizeof(PRINTER_INFO_4A)
                                            : sizeof(PRINTER_INFO_5A);
    auto fill = [&](Packer& pk, bool write) {
        pk.reserveRecords(shown.size() * record);
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const SpoolPrinter& p = shown[i];
            if (level == 1) {
                std::string description = p.name + "," + p.driver + "," + p.location;
                PRINTER_INFO_1A r{};
                r.Flags = PRINTER_ENUM_ICON8;
                r.pDescription = pk.string(&description);
                r.pName = pk.string(&p.name);
                r.pComment = pk.string(orNull(p.comment));
                if (write) std::memcpy(out + i * record, &r, sizeof r);
            } else if (level == 4) {
                PRINTER_INFO_4A r{};
                r.pPrinterName = pk.string(&p.name);
                r.pServerName = nullptr;
                r.Attributes = p.attributes;
                if (write) std::memcpy(out + i * record, &r, sizeof r);
            } else {
                PRINTER_INFO_5A r{};
                r.pPrinterName = pk.string(&p.name);
                r.pPortName = pk.string(&p.port);
                r.Attributes = p.attributes;
                r.DeviceNotSelectedTimeout = 15000;
                r.TransmissionRetryTimeout = 45000;
                if (write) std::memcpy(out + i * record, &r, sizeof r);
            }
        }
    };
    Packer count(nullptr, 0);
    fill(count, false);
    *pcbNeeded = (DWORD)count.needed();
    if (cbBuf < count.needed()) {
        *pcReturned = 0;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    Packer pk(out, cbBuf);
    fill(pk, true);
    *pcReturned = (DWORD)shown.size();
    return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI AddMonitorA(LPSTR pName, DWORD Level, LPBYTE pMonitorInfo) {
    const auto* info = (const MONITOR_INFO_2A*)pMonitorInfo;
    std::string target = Level == 2 && info && info->pName ? info->pName : "";
    if (DWORD e = precheck("AddMonitorA", target)) return fail(e);
    if (!isLocalServer(pName)) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (Level != 2) return fail(ERROR_INVALID_LEVEL);
    if (!info || !info->pName || !*info->pName || !info->pDLLName || !*info->pDLLName)
        return fail(ERROR_INVALID_PARAMETER);
    if (std::strchr(info->pName, '\\')) return fail(ERROR_INVALID_PARAMETER);
    if (info->pEnvironment && !findEnvironment(info->pEnvironment)) return fail(ERROR_INVALID_ENVIRONMENT);
    if (!isAdministrator()) return fail(ERROR_ACCESS_DENIED);
    bool nt = machine().os.isNT();
    bool exists = false;
    if (DWORD r = monitorExists(info->pName, exists)) return fail(r);
    // A monitor the spooler still holds counts as installed even when its
    // key has gone from the registry: it is known until the next start.
    if (exists || spooler().loadedMonitors.count(info->pName))
        return fail(nt ? ERROR_PRINT_MONITOR_ALREADY_INSTALLED : ERROR_ALREADY_EXISTS);
    // The spooler loads the module from the system directory.
    std::string module = info->pDLLName;
    std::string full = module.find('\\') == std::string::npos ? machine().systemDir + "\\" + module : module;
    DWORD attrs = GetFileAttributesA(full.c_str());
    // A module that is not there: ERROR_MOD_NOT_FOUND on both platforms (the
    // answer Wine's spooler gives whatever version it poses as).
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_MOD_NOT_FOUND);
    if (DWORD r = writeMonitorKey(info->pName, module)) return fail(r);
    spoolerLoadMonitor(machine(), info->pName, module);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI DeletePortA(LPSTR pName, HWND hWnd, LPSTR pPortName) {
    if (DWORD e = precheck("DeletePortA", pPortName ? pPortName : "")) return fail(e);
    if (!isLocalServer(pName)) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (!pPortName || !*pPortName) return fail(ERROR_INVALID_PARAMETER);
    if (!isAdministrator()) return fail(ERROR_ACCESS_DENIED);
    PortRef ref;
    bool found = false;
    if (DWORD r = findPort(pPortName, ref, found)) return fail(r);
    if (!found) return fail(ERROR_INVALID_PARAMETER);
    std::vector<std::pair<std::string, std::string>> lists;
    if (DWORD r = printerPortLists(lists)) return fail(r);
    for (const auto& [printer, list] : lists)
        for (const auto& port : splitPorts(list))
            if (iequals(port, ref.port)) return fail(ERROR_BUSY);
    if (DWORD r = deletePort(ref)) return fail(r);
    return TRUE;
}

BOOL WINAPI EnumPrintersA(DWORD Flags, LPSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
    if (DWORD e = precheck("EnumPrintersA", Name ? Name : "")) return fail(e);
    if (Level != 1 && Level != 2 && Level != 4 && Level != 5) return fail(ERROR_INVALID_LEVEL);
    if (DWORD e = checkOutput(pPrinterEnum, cbBuf, pcbNeeded, pcReturned)) return fail(e);
    std::vector<SpoolPrinter> all, shown;
    // Local printers: PRINTER_ENUM_LOCAL, or PRINTER_ENUM_NAME naming this
    // machine (a null name is this machine). Connections and the network
    // hold nothing on the simulated machine.
    if ((Flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) && isLocalServer(Name)) {
        if (DWORD r = spoolerPrinters(all)) return fail(r);
        // Printers pending deletion are no longer listed.
        for (auto& p : all)
            if (!(p.status & PRINTER_STATUS_PENDING_DELETION)) shown.push_back(std::move(p));
    } else if (Name && *Name && !isLocalServer(Name)) {
        return fail(ERROR_INVALID_NAME);
    }
    if (Level != 2) return enumOtherLevel(Level, shown, pPrinterEnum, cbBuf, pcbNeeded, pcReturned);
    std::vector<std::vector<std::uint8_t>> sds;
    for (const auto& p : shown) sds.push_back(encodeSecurity(extraOrDefault(p.name).security));

    Packer count(nullptr, 0);
    count.reserveRecords(shown.size() * sizeof(PRINTER_INFO_2A));
    for (std::size_t i = 0; i < shown.size(); ++i) fillPrinterInfo2(count, nullptr, shown[i], extraOrDefault(shown[i].name), sds[i]);
    *pcbNeeded = (DWORD)count.needed();
    if (cbBuf < count.needed()) {
        *pcReturned = 0;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    Packer pk(pPrinterEnum, cbBuf);
    pk.reserveRecords(shown.size() * sizeof(PRINTER_INFO_2A));
    // Blocks first (just after the records), then strings from the end.
    auto* recs = (PRINTER_INFO_2A*)pPrinterEnum;
    for (std::size_t i = 0; i < shown.size(); ++i) fillPrinterInfo2(pk, &recs[i], shown[i], extraOrDefault(shown[i].name), sds[i]);
    *pcReturned = (DWORD)shown.size();
    return TRUE;
}

BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) {
    if (DWORD e = precheck("OpenPrinterA", pPrinterName ? pPrinterName : "")) return fail(e);
    if (!phPrinter) return fail(ERROR_INVALID_PARAMETER);
    *phPrinter = nullptr;
    SpoolerState& st = spooler();
    if (!pPrinterName || !*pPrinterName) {
        // No name opens the local print server, for reading (SERVER_READ).
        std::uintptr_t h = st.nextHandle;
        st.nextHandle += 4;
        st.handles[h] = {std::string(), 0x00020002};
        *phPrinter = (HANDLE)h;
        return TRUE;
    }
    std::string name = pPrinterName;
    // "\\THISMACHINE\Printer" names a local printer too.
    if (name.size() > 2 && name[0] == '\\' && name[1] == '\\') {
        std::size_t slash = name.find('\\', 2);
        if (slash == std::string::npos || !iequals(name.substr(2, slash - 2), machine().computerName))
            return fail(ERROR_INVALID_PRINTER_NAME);
        name = name.substr(slash + 1);
    }
    if (name.empty() || name.find('\\') != std::string::npos) return fail(ERROR_INVALID_PRINTER_NAME);
    SpoolPrinter p;
    DWORD r = readPrinter(name, p);
    if (r == ERROR_FILE_NOT_FOUND) return fail(ERROR_INVALID_PRINTER_NAME);
    if (r != ERROR_SUCCESS) return fail(r);
    if (p.status & PRINTER_STATUS_PENDING_DELETION) return fail(ERROR_INVALID_PRINTER_NAME);
    ACCESS_MASK desired = pDefault ? pDefault->DesiredAccess : 0;
    if (desired == 0) desired = PRINTER_ACCESS_USE;  // what an open without a request gets
    desired = mapPrinterAccess(desired);
    ACCESS_MASK granted = PRINTER_ALL_ACCESS;
    if (machine().os.isNT()) {
        auto g = checkPrinterAccess(extraOrDefault(p.name).security, spooler().callerSids, desired);
        if (!g) return fail(ERROR_ACCESS_DENIED);
        granted = *g;
    }
    SpoolerState& s = spooler();
    std::uintptr_t h = s.nextHandle;
    s.nextHandle += 4;
    s.handles[h] = {p.name, granted};
    *phPrinter = (HANDLE)h;
    return TRUE;
}

BOOL WINAPI SetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    PrinterHandle* h = handleOf(hPrinter);
    if (DWORD e = precheck("SetPrinterA", h ? h->printer : "")) return fail(e);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    if (Level != 0 && Level != 2) return fail(ERROR_INVALID_LEVEL);
    if (Command > PRINTER_CONTROL_PURGE) return fail(ERROR_INVALID_PRINTER_COMMAND);
    if (Level == 0 && Command == 0) return fail(ERROR_INVALID_PRINTER_COMMAND);
    if (Level == 2 && !pPrinter) return fail(ERROR_INVALID_PARAMETER);
    if (!(h->granted & PRINTER_ACCESS_ADMINISTER)) return fail(ERROR_ACCESS_DENIED);
    // Level 2 with a command: the data is stored first, then the command
    // is carried out (a failed store skips the command).
    if (Level == 2)
        if (DWORD r = storePrinterInfo2(*h, *(const PRINTER_INFO_2A*)pPrinter)) return fail(r);
    if (Command != 0)
        if (DWORD r = printerCommand(*h, Command)) return fail(r);
    return TRUE;
}

BOOL WINAPI EnumJobsA(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
    PrinterHandle* h = handleOf(hPrinter);
    if (DWORD e = precheck("EnumJobsA", h ? h->printer : "")) return fail(e);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    if (Level != 1 && Level != 2) return fail(ERROR_INVALID_LEVEL);
    if (DWORD e = checkOutput(pJob, cbBuf, pcbNeeded, pcReturned)) return fail(e);
    SpoolPrinter printer;
    if (Level == 2)
        if (DWORD e = readPrinter(h->printer, printer)) return fail(e);
    const auto& jobs = extraOrDefault(h->printer).jobs;
    std::size_t first = std::min<std::size_t>(FirstJob, jobs.size());
    std::size_t n = std::min<std::size_t>(NoJobs, jobs.size() - first);
    std::string machineName = "\\\\" + machine().computerName;
    const std::size_t record = Level == 1 ? sizeof(JOB_INFO_1A) : sizeof(JOB_INFO_2A);
    // Fills record i (or only counts its strings when `out` is null).
    auto fill = [&](Packer& pk, LPBYTE out, std::size_t i) {
        const SpoolJob& j = jobs[first + i];
        const std::string& from = j.machine.empty() ? machineName : j.machine;
        if (Level == 1)
            fillJobInfo(pk, out ? (JOB_INFO_1A*)out + i : nullptr, h->printer, j, (DWORD)(first + i + 1), from, printer);
        else
            fillJobInfo(pk, out ? (JOB_INFO_2A*)out + i : nullptr, h->printer, j, (DWORD)(first + i + 1), from, printer);
    };

    Packer count(nullptr, 0);
    count.reserveRecords(n * record);
    for (std::size_t i = 0; i < n; ++i) fill(count, nullptr, i);
    *pcbNeeded = (DWORD)count.needed();
    if (cbBuf < count.needed()) {
        *pcReturned = 0;
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    Packer pk(pJob, cbBuf);
    pk.reserveRecords(n * record);
    for (std::size_t i = 0; i < n; ++i) fill(pk, pJob, i);
    *pcReturned = (DWORD)n;
    return TRUE;
}

BOOL WINAPI SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
    PrinterHandle* h = handleOf(hPrinter);
    if (DWORD e = precheck("SetJobA", h ? h->printer : "")) return fail(e);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    if (Level != 0) return fail(ERROR_INVALID_LEVEL);
    if (!(h->granted & (PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE))) return fail(ERROR_ACCESS_DENIED);
    // Job id 0 never names a job.
    auto entry = spooler().printers.find(h->printer);
    if (JobId == 0 || entry == spooler().printers.end()) return fail(ERROR_INVALID_PARAMETER);
    auto& jobs = entry->second.jobs;
    auto it = jobs.begin();
    while (it != jobs.end() && it->id != JobId) ++it;
    if (it == jobs.end()) return fail(ERROR_INVALID_PARAMETER);
    switch (Command) {
        case JOB_CONTROL_PAUSE:
            it->status |= JOB_STATUS_PAUSED;
            break;
        case JOB_CONTROL_RESUME:
            it->status &= ~JOB_STATUS_PAUSED;
            break;
        case JOB_CONTROL_RESTART:
            it->status &= ~(JOB_STATUS_PRINTING | JOB_STATUS_PRINTED | JOB_STATUS_ERROR);
            it->pagesPrinted = 0;
            break;
        case JOB_CONTROL_CANCEL:  // deletes the job on NT 3.x and Windows 95
        case JOB_CONTROL_DELETE:
            jobs.erase(it);
            break;
        default:
            return fail(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    PrinterHandle* h = handleOf(hPrinter);
    if (DWORD e = precheck("DeletePrinter", h ? h->printer : "")) return fail(e);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    if (!(h->granted & PRINTER_ACCESS_ADMINISTER)) return fail(ERROR_ACCESS_DENIED);
    SpoolPrinter p;
    DWORD r = readPrinter(h->printer, p);
    if (r == ERROR_FILE_NOT_FOUND) return fail(ERROR_INVALID_HANDLE);
    if (r != ERROR_SUCCESS) return fail(r);
    if (p.status & PRINTER_STATUS_PENDING_DELETION) return fail(ERROR_PRINTER_DELETED);
    // NT does not delete a printer at once: it marks it "pending deletion",
    // from then on leaves it out of EnumPrinters and refuses to open it by
    // name, while handles already open keep working (its jobs can still be
    // cancelled or restarted, but the printer cannot be held). The printer
    // goes when its last job is gone and its last handle is closed; with
    // the caller's handle still open that is at the earliest at
    // ClosePrinter. A held (paused) printer with jobs cannot be deleted:
    // ERROR_ACCESS_DENIED.
    if ((p.status & PRINTER_STATUS_PAUSED) && !extraOrDefault(p.name).jobs.empty()) return fail(ERROR_ACCESS_DENIED);
    if ((r = setStatusBits(p.name, PRINTER_STATUS_PENDING_DELETION, 0))) return fail(r);
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    PrinterHandle* h = handleOf(hPrinter);
    if (DWORD e = precheck("ClosePrinter", h ? h->printer : "")) return fail(e);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    std::string printer = h->printer;
    spooler().handles.erase((std::uintptr_t)hPrinter);
    reapIfDeleted(printer);
    return TRUE;
}

BOOL WINAPI AddPrinterDriverA(LPSTR pName, DWORD Level, LPBYTE pDriverInfo) {
    const auto* info = (const DRIVER_INFO_2A*)pDriverInfo;
    std::string target = Level == 2 && info && info->pName ? info->pName : "";
    if (DWORD e = precheck("AddPrinterDriverA", target)) return fail(e);
    if (!isLocalServer(pName)) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (Level != 2) return fail(ERROR_INVALID_LEVEL);
    if (!info || !info->pName || !*info->pName || std::strchr(info->pName, '\\')) return fail(ERROR_INVALID_PARAMETER);
    std::string envName = info->pEnvironment && *info->pEnvironment ? info->pEnvironment : ownEnvironment();
    const Environment* env = findEnvironment(envName);
    if (!env) return fail(ERROR_INVALID_ENVIRONMENT);
    if (!isAdministrator()) return fail(ERROR_ACCESS_DENIED);
    SpoolDriver existing;
    bool found = false;
    if (DWORD r = readDriver(env->name, info->pName, existing, found)) return fail(r);
    if (found) return fail(ERROR_PRINTER_DRIVER_ALREADY_INSTALLED);
    std::string dir = *printerDriverDirectory(env->name);
    SpoolDriver d;
    d.name = info->pName;
    d.version = info->cVersion;
    if (DWORD r = checkDriverFile(dir, info->pDriverPath, d.driverPath)) return fail(r);
    if (DWORD r = checkDriverFile(dir, info->pDataFile, d.dataFile)) return fail(r);
    if (DWORD r = checkDriverFile(dir, info->pConfigFile, d.configFile)) return fail(r);
    if (isNt35() && std::strcmp(env->name, "Windows 4.0") != 0) {
        auto source = [&](LPSTR given) {
            std::string g(given);
            return g.find('\\') == std::string::npos ? dir + "\\" + g : g;
        };
        if (DWORD r = copyIntoVersionDirectory(dir, d.version,
                                               {source(info->pDriverPath), source(info->pDataFile),
                                                source(info->pConfigFile)},
                                               {d.driverPath, d.dataFile, d.configFile}))
            return fail(r);
    }
    if (DWORD r = defineDriver(env->name, d)) return fail(r);
    return TRUE;
}

BOOL WINAPI DeletePrinterDriverA(LPSTR pName, LPSTR pEnvironment, LPSTR pDriverName) {
    if (DWORD e = precheck("DeletePrinterDriverA", pDriverName ? pDriverName : "")) return fail(e);
    if (!isLocalServer(pName)) return fail(RPC_S_SERVER_UNAVAILABLE);
    std::string envName = pEnvironment && *pEnvironment ? pEnvironment : ownEnvironment();
    const Environment* env = findEnvironment(envName);
    if (!env) return fail(ERROR_INVALID_ENVIRONMENT);
    if (!pDriverName || !*pDriverName) return fail(ERROR_INVALID_PARAMETER);
    if (!isAdministrator()) return fail(ERROR_ACCESS_DENIED);
    SpoolDriver d;
    bool found = false;
    if (DWORD r = readDriver(env->name, pDriverName, d, found)) return fail(r);
    if (!found) return fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    // Printers use drivers of the machine's own environment.
    if (iequals(env->name, ownEnvironment())) {
        std::vector<SpoolPrinter> printers;
        if (DWORD r = spoolerPrinters(printers)) return fail(r);
        for (const auto& p : printers)
            if (iequals(p.driver, d.name)) return fail(ERROR_PRINTER_DRIVER_IN_USE);
    }
    // The driver's files stay where they are.
    if (DWORD r = deleteDriverKey(env->name, d.name)) return fail(r);
    return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD Level, LPBYTE pDriverDirectory,
                                       DWORD cbBuf, LPDWORD pcbNeeded) {
    std::string envName = pEnvironment && *pEnvironment ? pEnvironment : ownEnvironment();
    if (DWORD e = precheck("GetPrinterDriverDirectoryA", envName)) return fail(e);
    if (!isLocalServer(pName)) return fail(RPC_S_SERVER_UNAVAILABLE);
    if (Level != 1) return fail(ERROR_INVALID_LEVEL);
    auto dir = printerDriverDirectory(envName);
    if (!dir) return fail(ERROR_INVALID_ENVIRONMENT);
    if (!pcbNeeded) return fail(kNullRefPointer);
    if (!pDriverDirectory && cbBuf != 0) return fail(ERROR_INVALID_USER_BUFFER);
    DWORD needed = (DWORD)dir->size() + 1;
    *pcbNeeded = needed;
    if (cbBuf < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(pDriverDirectory, dir->c_str(), needed);
    return TRUE;
}

}  // extern "C"
