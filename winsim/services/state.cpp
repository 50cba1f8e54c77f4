// The service database: settling transitions in virtual time, and the image
// section "services".
#include "winsim/services/state.h"

#include "winsim/image/jsonfield.h"

#include <ostream>

using nlohmann::json;

namespace winsim {

namespace {

struct Named {
    const char* name;
    DWORD value;
};

const Named kServiceRights[] = {
    {"query_config", SERVICE_QUERY_CONFIG},
    {"change_config", SERVICE_CHANGE_CONFIG},
    {"query_status", SERVICE_QUERY_STATUS},
    {"enumerate_dependents", SERVICE_ENUMERATE_DEPENDENTS},
    {"start", SERVICE_START},
    {"stop", SERVICE_STOP},
    {"pause_continue", SERVICE_PAUSE_CONTINUE},
    {"interrogate", SERVICE_INTERROGATE},
    {"user_defined_control", SERVICE_USER_DEFINED_CONTROL},
    {"delete", 0x00010000},
    {"read_control", READ_CONTROL},
    {"write_dac", 0x00040000},
    {"write_owner", 0x00080000},
};

const Named kManagerRights[] = {
    {"connect", SC_MANAGER_CONNECT},
    {"create_service", SC_MANAGER_CREATE_SERVICE},
    {"enumerate_service", SC_MANAGER_ENUMERATE_SERVICE},
    {"lock", SC_MANAGER_LOCK},
    {"query_lock_status", SC_MANAGER_QUERY_LOCK_STATUS},
    {"modify_boot_config", SC_MANAGER_MODIFY_BOOT_CONFIG},
    {"delete", 0x00010000},
    {"read_control", READ_CONTROL},
    {"write_dac", 0x00040000},
    {"write_owner", 0x00080000},
};

const Named kAccepts[] = {
    {"stop", SERVICE_ACCEPT_STOP},
    {"pause_continue", SERVICE_ACCEPT_PAUSE_CONTINUE},
    {"shutdown", SERVICE_ACCEPT_SHUTDOWN},
};

const Named kTypes[] = {
    {"kernel_driver", SERVICE_KERNEL_DRIVER},
    {"fs_driver", SERVICE_FILE_SYSTEM_DRIVER},
    {"own_process", SERVICE_WIN32_OWN_PROCESS},
    {"share_process", SERVICE_WIN32_SHARE_PROCESS},
};

const Named kStartTypes[] = {
    {"boot", SERVICE_BOOT_START}, {"system", SERVICE_SYSTEM_START}, {"auto", SERVICE_AUTO_START},
    {"demand", SERVICE_DEMAND_START}, {"disabled", SERVICE_DISABLED},
};

const Named kStates[] = {
    {"stopped", SERVICE_STOPPED},
    {"start_pending", SERVICE_START_PENDING},
    {"stop_pending", SERVICE_STOP_PENDING},
    {"running", SERVICE_RUNNING},
    {"continue_pending", SERVICE_CONTINUE_PENDING},
    {"pause_pending", SERVICE_PAUSE_PENDING},
    {"paused", SERVICE_PAUSED},
};

template <std::size_t N>
const char* nameOf(const Named (&table)[N], DWORD v) {
    for (const Named& n : table)
        if (n.value == v) return n.name;
    return nullptr;
}

using Where = JsonPointer;

// A name of `table`, or a number: any number where `anyNumber` (a service
// type may carry flags beside its kind), else one of the table's values.
template <std::size_t N>
DWORD enumValue(const json& j, const Named (&table)[N], const Where& where, bool anyNumber = false) {
    if (j.is_number()) {
        DWORD v = jsonValue<DWORD>(j, where);
        if (anyNumber) return v;
        for (const Named& n : table)
            if (n.value == v) return v;
        badField(where, "unknown value " + std::to_string(v));
    }
    if (!j.is_string()) badField(where, "expected a name or a number");
    std::string s = j.get<std::string>();
    std::string names;
    for (const Named& n : table) {
        if (iequals(s, n.name)) return n.value;
        names += (names.empty() ? "" : ", ") + std::string(n.name);
    }
    badField(where, "unknown value " + quotedExcerpt(s) + " (expected one of " + names + ")");
}

// A set of flags: a number, "all" (= `all`), or a list of names.
template <std::size_t N>
DWORD flagsValue(const json& j, const Named (&table)[N], DWORD all, const Where& where) {
    if (j.is_number_unsigned()) return jsonValue<DWORD>(j, where);
    if (j.is_string() && iequals(j.get<std::string>(), "all")) return all;
    if (!j.is_array()) badField(where, "expected \"all\", a number or a list of names");
    DWORD v = 0;
    for (std::size_t i = 0; i < j.size(); ++i) v |= enumValue(j[i], table, where / i, true);
    return v;
}

template <std::size_t N>
json flagsJson(DWORD v, const Named (&table)[N], DWORD all) {
    if (v == all) return "all";
    json a = json::array();
    DWORD rest = v;
    for (const Named& n : table)
        if (n.value && (v & n.value) == n.value) {
            a.push_back(n.name);
            rest &= ~n.value;
        }
    if (rest) return v;  // bits without a name: keep the number
    return a;
}

ServiceAnswer answerFromJson(const json& j, const Where& where) {
    ServiceAnswer a;
    if (j.is_null()) return a;
    onlyMembers(j, {"steps", "hang", "refuse"}, where);
    if (auto it = j.find("steps"); it != j.end()) {
        if (!it->is_array()) badField(where / "steps", "expected a list of wait hints in ms");
        for (std::size_t i = 0; i < it->size(); ++i) a.steps.push_back(jsonValue<DWORD>((*it)[i], where / "steps" / i));
    }
    a.hang = jsonField<bool>(j, "hang", false, where);
    if (j.contains("refuse")) {
        a.refuse = jsonField<DWORD>(j, "refuse", 0, where);
        if (a.refuse == 0) badField(where / "refuse", "expected a Win32 error code other than 0");
    }
    if (a.hang && a.steps.empty()) a.steps.push_back(3000);
    return a;
}

json answerJson(const ServiceAnswer& a) {
    json j = json::object();
    if (!a.steps.empty()) j["steps"] = a.steps;
    if (a.hang) j["hang"] = true;
    if (a.refuse) j["refuse"] = a.refuse;
    return j;
}

std::uint64_t totalOf(const std::vector<DWORD>& steps) {
    std::uint64_t t = 0;
    for (DWORD s : steps) t += s;
    return t;
}

}  // namespace

void settleServices(Machine& m) {
    std::uint64_t t = now();
    for (Service& s : m.services->services) {
        if (!s.transition || s.transition->hang) continue;
        if (t - s.transition->since >= totalOf(s.transition->steps)) {
            s.state = s.transition->finalState;
            s.transition.reset();
            serviceStateChanged(m, s.name, s.state);
        }
    }
}

Service* findService(Machine& m, std::string_view name) {
    settleServices(m);
    for (Service& s : m.services->services)
        if (iequals(s.name, name)) return &s;
    return nullptr;
}

SERVICE_STATUS serviceStatus(Machine& m, Service& s) {
    SERVICE_STATUS st{};
    st.dwServiceType = s.type;
    st.dwWin32ExitCode = s.win32ExitCode;
    if (s.transition) {
        const ServiceTransition& tr = *s.transition;
        st.dwCurrentState = tr.pendingState;
        // Which step is running: step i covers [sum of steps before i, sum through i).
        std::uint64_t elapsed = now() - tr.since, acc = 0;
        std::size_t i = 0;
        while (i + 1 < tr.steps.size() && elapsed >= acc + tr.steps[i]) acc += tr.steps[i++];
        st.dwCheckPoint = tr.steps.empty() ? 0 : (DWORD)(i + 1);
        st.dwWaitHint = tr.steps.empty() ? 0 : tr.steps[i];
    } else {
        st.dwCurrentState = s.state;
    }
    // A service takes controls once it runs; starting, stopped or stopping
    // it takes none (a service reports no controls until its start is done).
    if (st.dwCurrentState != SERVICE_STOPPED && st.dwCurrentState != SERVICE_STOP_PENDING &&
        st.dwCurrentState != SERVICE_START_PENDING)
        st.dwControlsAccepted = s.accepts;
    return st;
}

void addDefaultServices(Machine& m) {
    if (!m.os.isNT()) return;
    auto add = [&](const char* name, const char* display, DWORD type, std::vector<std::string> deps, DWORD accepts,
                   std::vector<DWORD> stopSteps, std::vector<DWORD> startSteps) {
        if (findService(m, name)) return;
        Service s;
        s.name = name;
        s.displayName = display;
        s.type = type;
        s.state = SERVICE_RUNNING;
        s.startType = SERVICE_AUTO_START;
        s.dependencies = std::move(deps);
        s.accepts = accepts;
        s.onStop.steps = std::move(stopSteps);
        s.onStart.steps = std::move(startSteps);
        m.services->services.push_back(std::move(s));
    };
    const DWORD share = SERVICE_WIN32_SHARE_PROCESS, own = SERVICE_WIN32_OWN_PROCESS;
    add("EventLog", "EventLog", share, {}, 0, {}, {});
    add("RpcSs", "Remote Procedure Call (RPC) Service", own, {}, 0, {}, {});
    add("LanmanWorkstation", "Workstation", share, {}, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE, {1000},
        {1000});
    add("LanmanServer", "Server", share, {"LanmanWorkstation"}, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE,
        {1000}, {1000});
    add("Messenger", "Messenger", share, {"LanmanWorkstation"}, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE, {},
        {});
    add("Spooler", "Spooler", own, {}, SERVICE_ACCEPT_STOP, {2000}, {2000});
}

void loadService(const json& section, Machine& m) {
    ServiceState& st = *m.services;
    st = ServiceState{};
    if (section.is_null()) return;
    const Where at = Where() / "services";
    onlyMembers(section, {"granted", "list"}, at);
    if (auto g = section.find("granted"); g != section.end())
        st.managerGranted = flagsValue(*g, kManagerRights, SC_MANAGER_ALL_ACCESS, at / "granted");
    auto list = section.find("list");
    if (list == section.end() || list->is_null()) return;
    if (!list->is_array()) badField(at / "list", "expected a list of services");
    for (std::size_t i = 0; i < list->size(); ++i) {
        const json& j = (*list)[i];
        const Where where = at / "list" / i;
        requireObject(j, where);
        if (!j.contains("name")) badField(where / "name", "every service needs a name");
        Service s;
        s.name = jsonField<std::string>(j, "name", "", where);
        if (s.name.empty() || s.name.size() > 256 || s.name.find_first_of("/\\") != std::string::npos)
            badField(where / "name", "invalid service name " + quotedExcerpt(s.name));
        for (const Service& o : st.services)
            if (iequals(o.name, s.name)) badField(where / "name", quotedExcerpt(s.name) + " declared twice");
        s.displayName = s.name;
        for (auto& [k, v] : j.items()) {
            if (k == "name") continue;
            if (k == "display_name") {
                s.displayName = jsonValue<std::string>(v, where / k);
            } else if (k == "type") {
                s.type = enumValue(v, kTypes, where / k, true);
            } else if (k == "state") {
                s.state = enumValue(v, kStates, where / k);
            } else if (k == "start_type") {
                s.startType = enumValue(v, kStartTypes, where / k);
            } else if (k == "dependencies") {
                s.dependencies = jsonValue<std::vector<std::string>>(v, where / k);
            } else if (k == "accepts") {
                s.accepts = flagsValue(v, kAccepts, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN,
                                       where / k);
            } else if (k == "granted") {
                s.granted = flagsValue(v, kServiceRights, SERVICE_ALL_ACCESS, where / k);
            } else if (k == "exit_code") {
                s.win32ExitCode = jsonValue<DWORD>(v, where / k);
            } else if (k == "stop") {
                s.onStop = answerFromJson(v, where / k);
            } else if (k == "start") {
                s.onStart = answerFromJson(v, where / k);
            } else if (k == "pending") {
                // A stop or start caught half-way when the image was saved.
                const Where pw = where / k;
                onlyMembers(v, {"kind", "since", "steps", "hang"}, pw);
                ServiceTransition tr;
                std::string kind = jsonField<std::string>(v, "kind", "", pw);
                if (kind == "stop") {
                    tr.pendingState = SERVICE_STOP_PENDING;
                    tr.finalState = SERVICE_STOPPED;
                } else if (kind == "start") {
                    tr.pendingState = SERVICE_START_PENDING;
                    tr.finalState = SERVICE_RUNNING;
                } else {
                    badField(pw / "kind", "expected \"stop\" or \"start\"");
                }
                if (!v.contains("since")) badField(pw / "since", "missing (the tick the change began)");
                tr.since = jsonField<std::uint64_t>(v, "since", 0, pw);
                json rest = json::object();
                if (v.contains("steps")) rest["steps"] = v["steps"];
                if (v.contains("hang")) rest["hang"] = v["hang"];
                ServiceAnswer a = answerFromJson(rest, pw);
                tr.steps = a.steps;
                tr.hang = a.hang;
                s.transition = tr;
            } else {
                badField(where / k, "unknown member");
            }
        }
        if (s.state != SERVICE_STOPPED && s.state != SERVICE_RUNNING && s.state != SERVICE_PAUSED && !s.transition)
            badField(where / "state", "a pending state needs a \"pending\" record");
        st.services.push_back(std::move(s));
    }
    for (std::size_t i = 0; i < st.services.size(); ++i) {
        const Service& s = st.services[i];
        for (std::size_t d = 0; d < s.dependencies.size(); ++d) {
            bool found = false;
            for (const Service& o : st.services) found = found || iequals(o.name, s.dependencies[d]);
            if (!found)
                badField(at / "list" / i / "dependencies" / d, "unknown service " + quotedExcerpt(s.dependencies[d]));
        }
    }
}

void saveService(json& section, const Machine& m) {
    const ServiceState& st = *m.services;
    if (st.services.empty() && st.managerGranted == SC_MANAGER_ALL_ACCESS) return;
    json list = json::array();
    for (const Service& s : st.services) {
        json j;
        j["name"] = s.name;
        j["display_name"] = s.displayName;
        const char* type = nameOf(kTypes, s.type);
        j["type"] = type ? json(type) : json(s.type);
        const char* state = nameOf(kStates, s.transition ? s.transition->pendingState : s.state);
        j["state"] = state ? json(state) : json(s.state);
        const char* startType = nameOf(kStartTypes, s.startType);
        j["start_type"] = startType ? json(startType) : json(s.startType);
        j["dependencies"] = s.dependencies;
        j["accepts"] = flagsJson(s.accepts, kAccepts, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN);
        if (s.granted != SERVICE_ALL_ACCESS) j["granted"] = flagsJson(s.granted, kServiceRights, SERVICE_ALL_ACCESS);
        if (s.win32ExitCode) j["exit_code"] = s.win32ExitCode;
        json stop = answerJson(s.onStop), start = answerJson(s.onStart);
        if (!stop.empty()) j["stop"] = stop;
        if (!start.empty()) j["start"] = start;
        if (s.transition) {
            j["pending"] = {{"kind", s.transition->finalState == SERVICE_STOPPED ? "stop" : "start"},
                            {"since", s.transition->since},
                            {"steps", s.transition->steps},
                            {"hang", s.transition->hang}};
        }
        list.push_back(j);
    }
    section = json::object();
    if (st.managerGranted != SC_MANAGER_ALL_ACCESS)
        section["granted"] = flagsJson(st.managerGranted, kManagerRights, SC_MANAGER_ALL_ACCESS);
    section["list"] = list;
}

void showService(std::ostream& out, const Machine& m) {
    const ServiceState& st = *m.services;
    if (st.services.empty()) return;
    out << "Services:\n";
    for (const Service& s : st.services) {
        DWORD state = s.transition ? s.transition->pendingState : s.state;
        const char* name = nameOf(kStates, state);
        const char* startType = nameOf(kStartTypes, s.startType);
        out << "  " << s.name;
        if (s.displayName != s.name) out << " (" << s.displayName << ")";
        out << ": " << (name ? name : "?") << ", " << (startType ? startType : "?") << " start";
        if (!s.dependencies.empty()) {
            out << ", depends on";
            for (std::size_t i = 0; i < s.dependencies.size(); ++i) out << (i ? ", " : " ") << s.dependencies[i];
        }
        if (s.onStop.refuse) out << ", refuses stop (" << s.onStop.refuse << ")";
        if (s.onStop.hang) out << ", hangs on stop";
        if (s.onStart.refuse) out << ", refuses start (" << s.onStart.refuse << ")";
        if (s.onStart.hang) out << ", hangs on start";
        out << "\n";
    }
}

}  // namespace winsim
