// The process list: ids, simulated programs ending in virtual time, and the
// image section "processes".
#include "winsim/processes/state.h"

#include "winsim/image/jsonfield.h"
#include "winsim/processes/programs.h"

#include <map>
#include <ostream>

using nlohmann::json;

namespace winsim {

namespace {

std::map<std::string, ProgramBehaviour, CaseLess>& programs() {
    // The programs winsim brings along; tests may register more.
    static std::map<std::string, ProgramBehaviour, CaseLess> table = {
        {"extract.exe", extractProgram()},
    };
    return table;
}

DWORD takeId(Machine& m) {
    ProcessState& st = *m.processes;
    if (st.nextId == 0) {
        DWORD top = 0x1C;
        for (auto& p : st.list) top = std::max({top, p->id, p->mainThreadId});
        for (auto& p : st.ended) top = std::max({top, p->id, p->mainThreadId});
        st.nextId = (top / 4 + 1) * 4;
    }
    if (st.nextId < 0x20) {  // wrapped round: skip the ids still in use
        st.nextId = 0x20;
        while (findProcess(m, st.nextId)) st.nextId += 4;
    }
    DWORD id = st.nextId;
    st.nextId += 4;
    return id;
}

std::shared_ptr<SimProcess> processFromJson(const json& j, const JsonPointer& where, bool running) {
    if (running)
        onlyMembers(j, {"id", "name", "command_line", "threads", "priority", "protected"}, where);
    else
        onlyMembers(j, {"id", "name", "command_line", "threads", "priority", "protected", "exit_code"}, where);
    auto p = std::make_shared<SimProcess>();
    p->running = running;
    if (!j.contains("id")) badField(where / "id", "missing (every process needs an id)");
    p->id = jsonField<DWORD>(j, "id", 0, where);
    p->name = jsonField<std::string>(j, "name", "", where);
    p->commandLine = jsonField<std::string>(j, "command_line", "", where);
    p->threads = jsonField<DWORD>(j, "threads", p->threads, where);
    // Base priorities run from 0 (idle) to 31 (real time).
    p->priority = jsonFieldIn<LONG>(j, "priority", p->priority, 0, 31, where);
    p->isProtected = jsonField<bool>(j, "protected", false, where);
    if (!running) p->exitCode = jsonField<DWORD>(j, "exit_code", p->exitCode, where);
    if (p->name.empty() || p->name.size() >= MAX_PATH)
        badField(where / "name", "needs a name of 1 to 259 characters");
    return p;
}

json processJson(const SimProcess& p, bool withExit) {
    json j;
    j["id"] = p.id;
    j["name"] = p.name;
    if (!p.commandLine.empty()) j["command_line"] = p.commandLine;
    j["threads"] = p.threads;
    j["priority"] = p.priority;
    if (p.isProtected) j["protected"] = true;
    if (withExit) j["exit_code"] = p.exitCode;
    return j;
}

}  // namespace

void registerProgram(const std::string& fileName, ProgramBehaviour behaviour) {
    programs()[fileName] = std::move(behaviour);
}

void runDuePrograms(Machine& m) {
    std::uint64_t t = now();
    if (m.processes->timed == 0) return;
    // An exit action may start or end processes: look again after each one.
    for (bool again = true; again;) {
        again = false;
        for (auto& p : m.processes->list) {
            if (p->endsAt == 0 || p->endsAt > t) continue;
            auto keep = p;
            endProcess(m, keep, keep->exitCodeAtEnd);
            if (keep->onExit) {
                auto action = std::move(keep->onExit);
                keep->onExit = nullptr;
                action(m, *keep);
            }
            again = true;
            break;
        }
    }
}

std::shared_ptr<SimProcess> findProcess(Machine& m, DWORD id) {
    for (auto& p : m.processes->list)
        if (p->id == id) return p;
    return nullptr;
}

std::uint64_t programRunTime(const Machine& m, const std::string& fileName, std::uint64_t fallback) {
    auto it = m.processes->runTimes.find(fileName);
    return it == m.processes->runTimes.end() ? fallback : it->second;
}

std::shared_ptr<SimProcess> addProcess(Machine& m, const std::string& name, const std::string& commandLine,
                                       const std::string& currentDir) {
    auto p = std::make_shared<SimProcess>();
    p->currentDir = currentDir;
    p->id = takeId(m);
    p->mainThreadId = takeId(m);
    p->name = name;
    p->commandLine = commandLine;
    m.processes->list.push_back(p);
    m.processes->changed();
    auto it = programs().find(name);
    if (it != programs().end() && it->second.start) it->second.start(m, *p);
    if (p->endsAt) ++m.processes->timed;
    return p;
}

void endProcess(Machine& m, const std::shared_ptr<SimProcess>& p, DWORD exitCode) {
    auto& list = m.processes->list;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it == p) {
            list.erase(it);
            break;
        }
    p->running = false;
    p->exitCode = exitCode;
    if (p->endsAt && m.processes->timed) --m.processes->timed;
    p->endsAt = 0;
    m.processes->ended.push_back(p);
    m.processes->changed();
}

void addDefaultProcesses(Machine& m) {
    struct Def {
        DWORD id;
        const char* name;
        DWORD threads;
        LONG priority;
        bool isProtected;
    };
    static const Def nt[] = {
        {0, "Idle", 1, 0, true},           {2, "System", 22, 8, true},       {19, "SMSS.EXE", 6, 11, true},
        {27, "CSRSS.EXE", 12, 13, true},   {33, "WINLOGON.EXE", 3, 13, true}, {40, "SERVICES.EXE", 14, 9, true},
        {43, "LSASS.EXE", 11, 9, true},    {67, "SPOOLSS.EXE", 6, 8, false},  {84, "NDDEAGNT.EXE", 1, 8, false},
        {90, "PROGMAN.EXE", 1, 13, false},
    };
    // Windows 95 shows scrambled 32-bit process ids; small ones serve here.
    static const Def w95[] = {
        {4, "KERNEL32.DLL", 4, 13, true},
        {8, "MSGSRV32.EXE", 1, 8, true},
        {12, "PROGMAN.EXE", 1, 8, false},
    };
    auto add = [&](const Def& d) {
        if (findProcess(m, d.id)) return;
        auto p = std::make_shared<SimProcess>();
        p->id = d.id;
        p->name = d.name;
        p->threads = d.threads;
        p->priority = d.priority;
        p->isProtected = d.isProtected;
        m.processes->list.push_back(p);
    };
    if (m.os.isNT())
        for (const Def& d : nt) add(d);
    else
        for (const Def& d : w95) add(d);
    m.processes->nextId = 0;
    m.processes->changed();
}

void loadProcess(const json& section, Machine& m) {
    ProcessState& st = *m.processes;
    st = ProcessState{};
    if (section.is_null()) return;
    const JsonPointer at = JsonPointer() / "processes";
    onlyMembers(section, {"list", "ended", "programs", "started"}, at);
    for (const char* k : {"list", "ended"}) {
        auto it = section.find(k);
        if (it == section.end() || it->is_null()) continue;
        if (!it->is_array()) badField(at / k, "expected a list of processes");
        bool running = std::string_view(k) == "list";
        for (std::size_t i = 0; i < it->size(); ++i) {
            auto p = processFromJson((*it)[i], at / k / i, running);
            if (running) {
                if (findProcess(m, p->id))
                    badField(at / k / i / "id", "process id " + std::to_string(p->id) + " declared twice");
                st.list.push_back(p);
            } else {
                st.ended.push_back(p);
            }
        }
    }
    if (auto it = section.find("programs"); it != section.end() && !it->is_null()) {
        requireObject(*it, at / "programs");
        for (auto& [prog, pj] : it->items()) {
            const JsonPointer pat = at / "programs" / prog;
            onlyMembers(pj, {"run_ms"}, pat);
            if (!pj.contains("run_ms")) badField(pat / "run_ms", "missing (how long the program runs)");
            st.runTimes[prog] = jsonField<std::uint64_t>(pj, "run_ms", 0, pat);
        }
    }
    if (auto it = section.find("started"); it != section.end() && !it->is_null())
        st.started = jsonValue<std::vector<std::string>>(*it, at / "started");
}

void saveProcess(json& section, const Machine& m) {
    const ProcessState& st = *m.processes;
    if (st.list.empty() && st.ended.empty() && st.started.empty() && st.runTimes.empty()) return;
    section = json::object();
    json list = json::array(), ended = json::array();
    for (auto& p : st.list) list.push_back(processJson(*p, false));
    for (auto& p : st.ended) ended.push_back(processJson(*p, true));
    section["list"] = list;
    if (!st.started.empty()) section["started"] = st.started;
    if (!st.ended.empty()) section["ended"] = ended;
    if (!st.runTimes.empty()) {
        json programs = json::object();
        for (auto& [prog, ms] : st.runTimes) programs[prog] = {{"run_ms", ms}};
        section["programs"] = programs;
    }
}

void showProcess(std::ostream& out, const Machine& m) {
    const ProcessState& st = *m.processes;
    if (!st.list.empty()) {
        out << "Processes:\n";
        for (auto& p : st.list) {
            out << "  " << p->id << " " << p->name << ", " << p->threads << " thread" << (p->threads == 1 ? "" : "s")
                << ", priority " << p->priority;
            if (p->isProtected) out << ", protected";
            out << "\n";
        }
    }
    if (!st.ended.empty()) {
        out << "Processes ended:\n";
        for (auto& p : st.ended) out << "  " << p->id << " " << p->name << ", exit code " << p->exitCode << "\n";
    }
    for (auto& [prog, ms] : st.runTimes) out << "Program " << prog << " runs for " << ms << " ms\n";
    if (!st.started.empty()) {
        out << "Programs started:\n";
        for (auto& s : st.started) out << "  " << s << "\n";
    }
}

}  // namespace winsim
