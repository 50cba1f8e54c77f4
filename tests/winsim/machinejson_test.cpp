// Reading machine.json: every fault is refused with the JSON pointer of the
// value at fault and the reason; nothing is guessed, wrapped or dropped.
#include "winsim/image/image.h"
#include "sim.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <functional>
#include <set>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A small machine that sets every member the loaders read.
json fullMachine() {
    return json::parse(R"({
 "format": 1,
 "os": {"platform": "nt", "major": 3, "minor": 51, "build": 1057, "arch": "alpha"},
 "computer_name": "SEED", "windows_dir": "C:\\WINNT35", "system_dir": "C:\\WINNT35\\system32", "current_dir": "C:\\",
 "environment": {"windir": "C:\\WINNT35"},
 "drives": {"C": {"total": 1000000, "free": 500000, "type": "fixed", "fat": true},
            "E": {"total": 650, "type": "cdrom", "fat": false}},
 "clock": {"boot_epoch_ms": 831024000000, "tick_ms": 5000},
 "faults": [{"call": "CopyFileA", "nth": 2, "times": 1, "error": 32, "target": "C:\\x.dll"}],
 "registry": {"deny": [{"key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked", "access": "all"}]},
 "files": {"C:\\WINNT35\\system32\\x.dll": {"in_use": "loaded", "loaded_by": "spooler", "version": "1.2.3.4",
                                           "attributes": ["readonly", "archive"]},
           "C:\\a.txt": {"in_use": "open"}, "fat_order": ["C:\\a.txt"]},
 "system": {"modules": {"advapi32.dll": {"missing": false, "missing_exports": ["RegDeleteKeyA"]}}},
 "security": {"user": "S-1-5-21-1-2-3-500",
              "groups": [{"sid": "S-1-5-32-544", "attributes": ["enabled", "owner"]}],
              "privileges": [{"name": "SeShutdownPrivilege", "enabled": true, "enabled_by_default": false}],
              "impersonation": {"user": "S-1-5-21-1-2-3-1000", "groups": [], "privileges": []}},
 "ui": {"frame_title": "Seed", "restart_requested": true, "message_boxes": [{"caption": "C", "text": "T", "type": 16}],
        "quit_on_window_id": 800, "quit_occurrence": 2, "quit_pending": true},
 "services": {"granted": ["connect"], "list": [
   {"name": "Spooler", "display_name": "Spooler", "type": "own_process", "state": "stop_pending",
    "start_type": "auto", "dependencies": [], "accepts": ["stop"], "granted": ["query_status", "enumerate_dependents"],
    "exit_code": 0,
    "stop": {"steps": [1000]}, "start": {"refuse": 1058}, "pending": {"kind": "stop", "since": 100, "steps": [500]}},
   {"name": "Fax", "type": 16, "state": "stopped", "start_type": "demand", "dependencies": ["Spooler"],
    "stop": {"hang": true}}]},
 "processes": {"list": [{"id": 0, "name": "Idle", "priority": 0, "threads": 1},
                        {"id": 91, "name": "PRINTMAN.EXE", "command_line": "printman.exe", "priority": 8,
                         "protected": true}],
               "ended": [{"id": 120, "name": "EXTRACT.EXE", "exit_code": 0}],
               "programs": {"extract.exe": {"run_ms": 2000}}, "started": ["write.exe readme.wri"]},
 "spooler": {"next_job_id": 5, "caller_sids": ["S-1-5-32-544"], "loaded_monitors": {"Local Port": "localmon.dll"},
             "printers": {"Laser": {"jobs": [{"id": 3, "document": "doc", "status": 0, "priority": 1,
                                              "total_pages": 2, "pages_printed": 1, "submitted_ms": 100}],
                                    "security": {"owner": "S-1-5-32-544", "group": "S-1-5-32-544",
                                                 "dacl_present": true,
                                                 "dacl": [{"sid": "S-1-1-0", "type": 0, "flags": 0, "mask": 8}]}}}},
 "dde": {"progman": {"running": true, "active_group": "Main",
                     "groups": [{"name": "Main", "common": true, "show": 1,
                                 "items": [{"name": "Write", "command": "WRITE.EXE", "icon_index": 0}]}]}}
})");
}

// "" when `j` loads; else the reason after "machine.json: ".
std::string loadError(const json& j) {
    winsim::Machine m;
    try {
        winsim::machineFromJsonText(j.dump(), m, "/image");
    } catch (const winsim::ImageError& e) {
        std::string what = e.what();
        EXPECT_EQ(what.rfind("machine.json: ", 0), 0u) << what;
        return what.substr(std::string("machine.json: ").size());
    }
    return "";
}

// Calls `f` with the pointer of every value below `j` that is not an
// object or an array, and of every object.
void walk(const json& j, const json::json_pointer& at, const std::function<void(const json::json_pointer&, bool)>& f) {
    if (j.is_object()) {
        f(at, true);
        for (auto& [k, v] : j.items()) walk(v, at / k, f);
    } else if (j.is_array()) {
        for (std::size_t i = 0; i < j.size(); ++i) walk(j[i], at / i, f);
    } else {
        f(at, false);
    }
}

TEST(MachineJson, TheFullMachineLoadsAndSavesToTheSameText) {
    winsim::Machine m, again;
    winsim::machineFromJsonText(fullMachine().dump(), m, "/image");
    std::string saved = winsim::machineJsonText(m);
    winsim::machineFromJsonText(saved, again, "/image");
    EXPECT_EQ(winsim::machineJsonText(again), saved);
    EXPECT_NE(saved.find("\"arch\": \"alpha\""), std::string::npos);
}

// A member left out loads as its default: the same machine, saved, as with
// the member written with that value (present in the full machine or not).
TEST(MachineJson, LeftOutMembersTakeTheirDefaults) {
    const std::string job = "/spooler/printers/Laser/jobs/0/", ace = "/spooler/printers/Laser/security/dacl/0/",
                      item = "/dde/progman/groups/0/items/0/";
    const std::pair<std::string, json> defaults[] = {
        {"/drives/C/fat", false}, {"/drives/C/free", 0}, {"/drives/E/total", 0}, {"/clock/tick_ms", 0},
        {"/faults/0/nth", 1}, {"/faults/0/times", 1}, {"/faults/0/error", ERROR_ACCESS_DENIED},
        {"/faults/0/target", ""},
        {"/system/modules/advapi32.dll/missing", false}, {"/security/privileges/0/enabled", false},
        {"/security/privileges/0/enabled_by_default", false}, {"/ui/quit_pending", false},
        {"/services/list/1/stop/hang", false}, {"/services/list/0/pending/hang", false},
        {"/processes/list/1/protected", false}, {"/processes/list/1/command_line", ""},
        {job + "priority", 1}, {job + "total_pages", 1}, {job + "pages_printed", 0}, {job + "status", 0},
        {job + "submitted_ms", 0}, {job + "status_text", ""}, {job + "machine", ""},
        {"/spooler/printers/Laser/security/dacl_present", true}, {"/spooler/next_job_id", 4},  // past the jobs
        {ace + "type", 0}, {ace + "flags", 0}, {ace + "mask", 0},
        {"/dde/progman/running", false}, {"/dde/progman/active_group", ""}, {"/dde/progman/groups/0/common", false},
        {item + "icon_index", 0}, {item + "icon_path", ""}, {item + "hot_key", ""},
        {item + "directory", ""}, {item + "minimize", false},
    };
    auto saved = [](const json& j) {
        winsim::Machine m;
        try {
            winsim::machineFromJsonText(j.dump(), m, "/image");
        } catch (const winsim::ImageError& e) {
            return std::string(e.what());
        }
        return winsim::machineJsonText(m);
    };
    for (const auto& [pointer, value] : defaults) {
        const json::json_pointer at(pointer);
        json without = fullMachine(), with = fullMachine();
        if (without.contains(at)) without[at.parent_pointer()].erase(at.back());
        with[at] = value;
        const std::string leftOut = saved(without);
        EXPECT_TRUE(leftOut == saved(with)) << pointer << " left out: " << leftOut.substr(0, 200);
    }
}

struct Fault {
    const char* pointer;  // the value changed
    json value;           // its new value; null removes it
    const char* error;    // what the error must say, pointer first
};

TEST(MachineJson, FaultsAreNamedByPointerAndReason) {
    const Fault faults[] = {
        {"/format", 99, "/format: format 99 is newer than this program reads (1)"},
        {"/format", 0, "/format: format 0 does not exist"},
        {"/os", nullptr, "/os: missing"},
        {"/os/arch", "sparc", "/os/arch: expected one of \"x86\", \"alpha\", \"mips\", found \"sparc\""},
        {"/os/platform", "os2", "/os/platform: expected one of \"nt\", \"win95\""},
        {"/os/platform", "win95", "/os/arch: Windows 95 runs on x86 processors only, not on \"alpha\""},
        {"/os/build", 40000, "/os/build: 40000 is out of range (0 to 32767)"},
        {"/os/minor", 51.5, "/os/minor: expected a whole number"},
        {"/drives/C/total", 18446744073709551615.0, "/drives/C/total: expected a whole number"},
        {"/drives/C/free", 2000000, "/drives/C/free: 2000000 bytes free is more than the drive's total of 1000000"},
        {"/drives/C/type", "tape", "/drives/C/type: expected one of"},
        {"/drives/CD", json::object(), "/drives/CD: not a drive letter"},
        {"/faults/0/nth", 0, "/faults/0/nth: calls are counted from 1"},
        {"/faults/0/error", 0, "/faults/0/error: 0 is success"},
        {"/faults/0/call", nullptr, "/faults/0/call: names no function"},
        {"/faults/0/times", 4294967296, "/faults/0/times: out of range (at most 4294967295)"},
        {"/registry/deny/0/access", "read", "/registry/deny/0/access: expected one of \"write\", \"all\""},
        {"/registry/deny/0/key", "HKEY_NOWHERE\\x", "/registry/deny/0/key: \"HKEY_NOWHERE\\x\" does not start"},
        {"/files/C:\\a.txt/in_use", "maybe", "/files/C:\\a.txt/in_use: expected one of"},
        {"/files/C:\\WINNT35\\system32\\x.dll/version", "1.x", "/files/C:\\WINNT35\\system32\\x.dll/version: \"1.x\" is not of the form 1.2.3.4"},
        {"/files/a~0b", json::object(), "/files/a~0b: not a full Windows path"},
        {"/services/list/0/state", "sleeping", "/services/list/0/state: unknown value \"sleeping\""},
        {"/services/list/0/pending", nullptr, "/services/list/0/state: a pending state needs a \"pending\" record"},
        {"/services/list/0/dependencies", json::array({"Nope"}), "/services/list/0/dependencies/0: unknown service \"Nope\""},
        {"/services/list/1/state", 99, "/services/list/1/state: unknown value 99"},
        {"/services/list/1/name", "Spooler", "/services/list/1/name: \"Spooler\" declared twice"},
        {"/processes/list/1/priority", 99, "/processes/list/1/priority: 99 is out of range (0 to 31)"},
        {"/processes/list/1/id", 0, "/processes/list/1/id: process id 0 declared twice"},
        {"/spooler/printers/Laser/jobs/0/id", 0, "/spooler/printers/Laser/jobs/0/id: 0 is out of range"},
        {"/spooler/printers/Laser/security/dacl/0/type", 2, "/spooler/printers/Laser/security/dacl/0/type: 2 is out"},
        {"/spooler/caller_sids/0", "S-9", "/spooler/caller_sids/0: \"S-9\" is not a SID"},
        {"/dde/progman/groups/0/show", 20, "/dde/progman/groups/0/show: 20 is out of range (0 to 11)"},
        {"/ui/quit_occurrence", 0, "/ui/quit_occurrence: 0 is out of range"},
        {"/ui/quit_on_window_id", 0, "/ui/quit_on_window_id: expected a window id above 0"},
        {"/security/privileges/0/name", "SeFlyPrivilege", "/security/privileges/0/name: unknown privilege"},
        {"/security/groups/0/sid", "nobody", "/security/groups/0/sid: \"nobody\" is not a SID"},
        {"/system/modules/advapi32.dll/missing", "yes", "/system/modules/advapi32.dll/missing: expected true or false"},
        {"/environment/PATH", std::string(5000, 'x') + "\x01", ""},  // any text is a value
        {"/format", 1, ""},  // the machine as it is loads
    };
    for (const Fault& f : faults) {
        json j = fullMachine();
        json::json_pointer p(f.pointer);
        if (f.value.is_null())
            j[p.parent_pointer()].erase(p.back());
        else
            j[p] = f.value;
        std::string err = loadError(j);
        EXPECT_EQ(err.substr(0, *f.error ? std::strlen(f.error) : err.size()), f.error) << f.pointer << " -> " << err;
    }
}

// Every value of the wrong type, every negative number and every unknown
// member is refused, naming exactly the place it was put (the table above
// holds only the reasons this walk does not reach).
TEST(MachineJson, EveryPlaceIsCheckedAndNamed) {
    const json full = fullMachine();
    // Values that may be negative: an icon index and a submission time.
    const std::set<std::string> signedValues = {"/dde/progman/groups/0/items/0/icon_index",
                                                "/spooler/printers/Laser/jobs/0/submitted_ms"};
    // Maps whose members are names the image chooses.
    const std::set<std::string> openMaps = {"/environment"};
    int places = 0;
    walk(full, json::json_pointer(), [&](const json::json_pointer& at, bool isObject) {
        ++places;
        json j = full;
        if (isObject) {
            if (openMaps.count(at.to_string())) return;
            j[at]["zz_extra"] = 1;
            std::string err = loadError(j);
            EXPECT_EQ(err.find(at.to_string() + "/zz_extra: "), 0u) << at.to_string() << " -> " << err;
            return;
        }
        j[at] = json::object({{"wrong", true}});
        std::string err = loadError(j);
        EXPECT_EQ(err.find(at.to_string() + ": "), 0u) << at.to_string() << " -> " << err;
        EXPECT_EQ(err.find("unknown member"), std::string::npos) << at.to_string() << " -> " << err;
        if (full[at].is_number() && !signedValues.count(at.to_string())) {
            j[at] = -1;
            err = loadError(j);
            EXPECT_EQ(err.find(at.to_string() + ": "), 0u) << at.to_string() << " -> " << err;
        }
    });
    EXPECT_GT(places, 150);
}

// The line and the message an image is refused with, or "loaded".
std::pair<int, std::string> refusal(const fs::path& dir) {
    try {
        winsim::discardWorkingCopy(*winsim::loadImage(dir));
    } catch (const winsim::ImageError& e) {
        return {e.line, e.what()};
    }
    return {0, "loaded"};
}

TEST(MachineJson, ImageOnDiskNamesItsFileAndIsLeftAlone) {
    const fs::path dir = sim::testDir(), file = dir / "machine.json";
    fs::create_directories(dir);
    auto put = [&](const std::string& text) { std::ofstream(file, std::ios::binary) << text; };
    json j = fullMachine();
    j["format"] = 2;
    j["from_the_future"] = true;
    const std::string text = j.dump(1);
    put(text);
    EXPECT_EQ(refusal(dir).second, file.string() + ": /format: format 2 is newer than this program reads (1); it "
                                                   "would lose what it does not know");
    EXPECT_EQ(sim::readText(file), text);
    // A syntax error names the line; the parser's quote of the text is cut.
    put("{\n\"os\": \"" + std::string(100000, 'x') + "\\q\"}");
    auto [line, what] = refusal(dir);
    EXPECT_EQ(line, 2);
    EXPECT_LT(what.size(), 400u);
    // A number no value can hold is refused like a syntax error (found by
    // fuzz_machinejson: it escaped as another kind of exception); nesting
    // deeper than any image is refused before it costs stack.
    for (const std::string& bad : {std::string("{\"clock\": {\"tick_ms\": 831.5325E8580}}"),
                                   "{\"os\":" + std::string(100000, '[')}) {
        put(bad);
        EXPECT_NE(refusal(dir).second, "loaded") << bad.substr(0, 40);
    }
    fs::remove_all(dir);
}

}  // namespace
