// Image section of the spooler family: what NT does not keep in the
// registry, per printer.
//
//   "spooler": {
//     "next_job_id": 7,
//     "caller_sids": ["S-1-1-0", "S-1-5-32-544"],          (optional)
//     "printers": {
//       "Laser 1": {
//         "jobs": [ { "id": 5, "document": "Report", "user": "Administrator",
//                     "machine": "", "datatype": "RAW", "status_text": "",
//                     "status": 0, "priority": 1, "total_pages": 3,
//                     "pages_printed": 0, "submitted_ms": 831024000000 } ],
//         "security": { "owner": "S-1-5-32-544", "group": "S-1-5-18", "dacl_present": true,
//                       "dacl": [ { "sid": "S-1-5-32-544", "type": 0, "flags": 0, "mask": 983052 } ] }
//       }
//     }
//   }
#include "winsim/spooler/state.h"

#include "winsim/image/jsonfield.h"
#include "winsim/spooler/security.h"
#include "winsim/spooler/store.h"

#include <winspool.h>

#include <ostream>

namespace winsim {

namespace {

void requireSid(const std::string& sid, const JsonPointer& where) {
    if (spool::sidBytes(sid).empty()) badField(where, quotedExcerpt(sid) + " is not a SID");
}

std::string statusText(DWORD status) {
    std::string s;
    if (status & PRINTER_STATUS_PAUSED) s += " paused";
    if (status & PRINTER_STATUS_ERROR) s += " error";
    if (status & PRINTER_STATUS_PENDING_DELETION) s += " pending-deletion";
    return s.empty() ? " ready" : s;
}

}  // namespace

void loadSpooler(const nlohmann::json& section, Machine& m) {
    SpoolerState& s = *m.spooler;
    s = SpoolerState();
    if (section.is_null()) return;
    const JsonPointer at = JsonPointer() / "spooler";
    onlyMembers(section, {"next_job_id", "caller_sids", "loaded_monitors", "printers"}, at);
    // Job ids are above 0; a job's id leaves room for the next one.
    s.nextJobId = jsonFieldIn<DWORD>(section, "next_job_id", 1, 1, 0xffffffff, at);
    if (auto cs = section.find("caller_sids"); cs != section.end() && !cs->is_null()) {
        s.callerSids = jsonValue<std::vector<std::string>>(*cs, at / "caller_sids");
        for (std::size_t i = 0; i < s.callerSids.size(); ++i) requireSid(s.callerSids[i], at / "caller_sids" / i);
    }
    if (auto lm = section.find("loaded_monitors"); lm != section.end() && !lm->is_null()) {
        if (!lm->is_object()) badField(at / "loaded_monitors", "expected an object of monitor names and modules");
        for (auto& [name, module] : lm->items()) {
            std::string file = jsonValue<std::string>(module, at / "loaded_monitors" / name);
            if (file.empty()) badField(at / "loaded_monitors" / name, "expected the module's file name");
            s.loadedMonitors[name] = file;
        }
    }
    auto ps = section.find("printers");
    if (ps == section.end() || ps->is_null()) return;
    if (!ps->is_object()) badField(at / "printers", "expected an object of printers by name");
    for (auto& [name, pj] : ps->items()) {
        const JsonPointer where = at / "printers" / name;
        onlyMembers(pj, {"jobs", "security"}, where);
        PrinterExtra e;
        e.security = spool::defaultPrinterSecurity();
        if (auto js = pj.find("jobs"); js != pj.end() && !js->is_null()) {
            if (!js->is_array()) badField(where / "jobs", "expected a list of jobs");
            for (std::size_t i = 0; i < js->size(); ++i) {
                const auto& jj = (*js)[i];
                const JsonPointer w = where / "jobs" / i;
                onlyMembers(jj, {"id", "document", "user", "machine", "datatype", "status_text", "status", "priority",
                                 "total_pages", "pages_printed", "submitted_ms"},
                            w);
                SpoolJob j;
                if (!jj.contains("id")) badField(w / "id", "missing (a job needs an id)");
                j.id = jsonFieldIn<DWORD>(jj, "id", 1, 1, 0xfffffffe, w);
                j.document = jsonField<std::string>(jj, "document", j.document, w);
                j.user = jsonField<std::string>(jj, "user", j.user, w);
                j.machine = jsonField<std::string>(jj, "machine", "", w);
                j.datatype = jsonField<std::string>(jj, "datatype", j.datatype, w);
                j.statusText = jsonField<std::string>(jj, "status_text", "", w);
                j.status = jsonField<DWORD>(jj, "status", 0, w);
                j.priority = jsonField<DWORD>(jj, "priority", 1, w);
                j.totalPages = jsonField<DWORD>(jj, "total_pages", 1, w);
                j.pagesPrinted = jsonField<DWORD>(jj, "pages_printed", 0, w);
                j.submittedMs = jsonField<std::int64_t>(jj, "submitted_ms", 0, w);
                if (j.id >= s.nextJobId) s.nextJobId = j.id + 1;
                e.jobs.push_back(std::move(j));
            }
        }
        if (auto sj = pj.find("security"); sj != pj.end() && !sj->is_null()) {
            const JsonPointer w = where / "security";
            onlyMembers(*sj, {"owner", "group", "dacl_present", "dacl"}, w);
            PrinterSecurity sec;
            sec.owner = jsonField<std::string>(*sj, "owner", sec.owner, w);
            sec.group = jsonField<std::string>(*sj, "group", sec.group, w);
            requireSid(sec.owner, w / "owner");
            requireSid(sec.group, w / "group");
            sec.daclPresent = jsonField<bool>(*sj, "dacl_present", true, w);
            if (auto ds = sj->find("dacl"); ds != sj->end() && !ds->is_null()) {
                if (!ds->is_array()) badField(w / "dacl", "expected a list of entries");
                for (std::size_t i = 0; i < ds->size(); ++i) {
                    const JsonPointer aw = w / "dacl" / i;
                    onlyMembers((*ds)[i], {"sid", "type", "flags", "mask"}, aw);
                    SpoolAce a;
                    a.sid = jsonField<std::string>((*ds)[i], "sid", "", aw);
                    requireSid(a.sid, aw / "sid");
                    a.type = (BYTE)jsonFieldIn<int>((*ds)[i], "type", 0, 0, 1, aw);
                    a.flags = jsonField<BYTE>((*ds)[i], "flags", 0, aw);
                    a.mask = jsonField<DWORD>((*ds)[i], "mask", 0, aw);
                    sec.dacl.push_back(a);
                }
            }
            e.security = sec;
        }
        s.printers[name] = std::move(e);
    }
}

void saveSpooler(nlohmann::json& section, const Machine& m) {
    const SpoolerState& s = *m.spooler;
    nlohmann::json printers = nlohmann::json::object();
    for (const auto& [name, e] : s.printers) {
        nlohmann::json jobs = nlohmann::json::array();
        for (const auto& j : e.jobs) {
            jobs.push_back({{"id", j.id},
                            {"document", j.document},
                            {"user", j.user},
                            {"machine", j.machine},
                            {"datatype", j.datatype},
                            {"status_text", j.statusText},
                            {"status", j.status},
                            {"priority", j.priority},
                            {"total_pages", j.totalPages},
                            {"pages_printed", j.pagesPrinted},
                            {"submitted_ms", j.submittedMs}});
        }
        nlohmann::json dacl = nlohmann::json::array();
        for (const auto& a : e.security.dacl)
            dacl.push_back({{"sid", a.sid}, {"type", a.type}, {"flags", a.flags}, {"mask", a.mask}});
        printers[name] = {{"jobs", jobs},
                          {"security",
                           {{"owner", e.security.owner},
                            {"group", e.security.group},
                            {"dacl_present", e.security.daclPresent},
                            {"dacl", dacl}}}};
    }
    SpoolerState fresh;
    if (printers.empty() && s.nextJobId == 1 && s.callerSids == fresh.callerSids && s.loadedMonitors.empty()) return;
    section = {{"next_job_id", s.nextJobId}, {"printers", printers}};
    if (!s.loadedMonitors.empty()) {
        nlohmann::json lm = nlohmann::json::object();
        for (const auto& [name, module] : s.loadedMonitors) lm[name] = module;
        section["loaded_monitors"] = lm;
    }
    if (s.callerSids != fresh.callerSids) section["caller_sids"] = s.callerSids;
}

void showSpooler(std::ostream& out, const Machine& m) {
    if (&m != &machine()) {
        out << "Spooler: (only the current machine can be shown)\n";
        return;
    }
    std::vector<SpoolMonitor> monitors;
    if (DWORD r = spoolerMonitors(monitors)) {
        out << "Spooler: registry unreadable, error " << r << "\n";
        return;
    }
    out << "Print monitors:\n";
    for (const auto& mon : monitors) {
        out << "  \"" << mon.name << "\" (" << mon.driver << ")";
        if (!mon.ports.empty()) {
            out << " ports:";
            for (const auto& p : mon.ports) out << " " << p;
        }
        out << "\n";
    }
    if (!m.spooler->loadedMonitors.empty()) {
        out << "Monitors loaded by the spooler:\n";
        for (const auto& [name, module] : m.spooler->loadedMonitors) out << "  \"" << name << "\" (" << module << ")\n";
    }
    std::vector<SpoolPrinter> printers;
    spoolerPrinters(printers);
    out << "Printers:\n";
    for (const auto& p : printers) {
        out << "  \"" << p.name << "\" on " << p.port << ", driver \"" << p.driver << "\"," << statusText(p.status);
        auto jobs = spoolJobs(p.name);
        out << ", " << jobs.size() << (jobs.size() == 1 ? " job\n" : " jobs\n");
        for (const auto& j : jobs) out << "    job " << j.id << " \"" << j.document << "\" by " << j.user << "\n";
    }
    static const char* envs[] = {"Windows NT x86", "Windows NT R4000", "Windows NT Alpha_AXP", "Windows 4.0"};
    out << "Printer drivers:\n";
    for (const char* env : envs) {
        std::vector<SpoolDriver> drivers;
        if (spoolerDrivers(env, drivers) != ERROR_SUCCESS || drivers.empty()) continue;
        out << "  " << env << ":\n";
        for (const auto& d : drivers)
            out << "    \"" << d.name << "\" version " << d.version << ": " << d.driverPath << ", " << d.dataFile
                << ", " << d.configFile << "\n";
    }
}

DWORD addSpoolJob(const std::string& printer, SpoolJob job) {
    SpoolPrinter p;
    if (spool::readPrinter(printer, p) != ERROR_SUCCESS) return 0;
    SpoolerState& s = *machine().spooler;
    job.id = s.nextJobId++;
    if (job.submittedMs == 0) job.submittedMs = machine().bootEpochMs + (std::int64_t)machine().tickMs;
    auto it = s.printers.find(p.name);
    if (it == s.printers.end()) {
        PrinterExtra e;
        e.security = spool::defaultPrinterSecurity();
        it = s.printers.emplace(p.name, std::move(e)).first;
    }
    it->second.jobs.push_back(std::move(job));
    return it->second.jobs.back().id;
}

std::vector<SpoolJob> spoolJobs(const std::string& printer) {
    const SpoolerState& s = *machine().spooler;
    auto it = s.printers.find(printer);
    return it == s.printers.end() ? std::vector<SpoolJob>{} : it->second.jobs;
}

}  // namespace winsim
