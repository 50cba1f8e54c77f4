// The process list: ids, simulated programs ending in virtual time, and the
// image section "processes".
#include "winsim/processes/state.h"

#include "winsim/image/image.h"
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

[[noreturn]] void bad(const std::string& where, const std::string& what) {
    throw ImageError("machine.json", 0, "processes: " + where + ": " + what);
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

std::shared_ptr<SimProcess> processFromJson(const json& j, const std::string& where, bool running) {
    if (!j.is_object()) bad(where, "expected an object");
    auto p = std::make_shared<SimProcess>();
    p->running = running;
    bool haveId = false;
    for (auto& [k, v] : j.items()) {
        if (k == "id") {
            if (!v.is_number_unsigned()) bad(where + ".id", "expected a process id");
            p->id = v.get<DWORD>();
            haveId = true;
        } else if (k == "name") {
            if (!v.is_string()) bad(where + ".name", "expected text");
            p->name = v.get<std::string>();
        } else if (k == "command_line") {
            if (!v.is_string()) bad(where + ".command_line", "expected text");
            p->commandLine = v.get<std::string>();
        } else if (k == "threads") {
            if (!v.is_number_unsigned()) bad(where + ".threads", "expected a count");
            p->threads = v.get<DWORD>();
        } else if (k == "priority") {
            if (!v.is_number_integer()) bad(where + ".priority", "expected a number");
            p->priority = v.get<LONG>();
        } else if (k == "protected") {
            if (!v.is_boolean()) bad(where + ".protected", "expected true or false");
            p->isProtected = v.get<bool>();
        } else if (k == "exit_code" && !running) {
            if (!v.is_number_unsigned()) bad(where + ".exit_code", "expected a number");
            p->exitCode = v.get<DWORD>();
        } else {
            bad(where, "unknown key \"" + k + "\"");
        }
    }
    if (!haveId) bad(where, "needs an \"id\"");
    if (p->name.empty() || p->name.size() >= MAX_PATH) bad(where + ".name", "needs a name of 1 to 259 characters");
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
    if (!section.is_object()) bad("section", "expected an object with \"list\", \"started\" and \"ended\"");
    for (auto& [k, v] : section.items()) {
        if (k == "list" || k == "ended") {
            if (!v.is_array()) bad(k, "expected a list of processes");
            int i = 0;
            for (const json& j : v) {
                auto p = processFromJson(j, k + "[" + std::to_string(i++) + "]", k == "list");
                if (k == "list") {
                    if (findProcess(m, p->id)) bad(k, "process id " + std::to_string(p->id) + " declared twice");
                    st.list.push_back(p);
                } else {
                    st.ended.push_back(p);
                }
            }
        } else if (k == "programs") {
            if (!v.is_object()) bad(k, "expected an object of program file names");
            for (auto& [prog, pj] : v.items()) {
                auto rt = pj.is_object() ? pj.find("run_ms") : pj.end();
                if (!pj.is_object() || pj.size() != 1 || rt == pj.end() || !rt->is_number_unsigned())
                    bad(k + "." + prog, "expected {\"run_ms\": milliseconds}");
                st.runTimes[prog] = rt->get<std::uint64_t>();
            }
        } else if (k == "started") {
            if (!v.is_array()) bad(k, "expected a list of command lines");
            for (const json& j : v) {
                if (!j.is_string()) bad(k, "expected a list of command lines");
                st.started.push_back(j.get<std::string>());
            }
        } else {
            bad("section", "unknown key \"" + k + "\"");
        }
    }
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
