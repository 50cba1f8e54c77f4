// State of the services family of the simulated machine (the service
// control manager's database), and how it is read from and written to a
// machine image.
//
// Image section "services" of machine.json:
//
//   "services": {
//     "granted": ["connect", "enumerate_service", ...] | "all" | <number>,
//     "list": [
//       { "name": "Spooler", "display_name": "Spooler",
//         "type": "own_process" | "share_process" | "kernel_driver" | "fs_driver" | <number>,
//         "state": "running" | "stopped" | "paused",
//         "start_type": "auto" | "demand" | "disabled" | "boot" | "system",
//         "dependencies": ["RPCSS"],
//         "accepts": ["stop", "pause_continue", "shutdown"],
//         "granted": ["query_status", "start", ...] | "all" | <number>,
//         "stop":  { "steps": [3000, 3000] }           // check points 1, 2 with these wait hints
//                | { "refuse": 1061 }                 // the request fails with this error
//                | { "steps": [3000], "hang": true }   // stays pending for ever
//         "start": (the same forms)
//       }, ...
//     ]
//   }
//
// "granted" is what the caller's token is allowed on the manager or on one
// service (default: everything, as for an administrator); a request for more
// is refused with ERROR_ACCESS_DENIED. The order of "list" is the order in
// which the services start (each one still after its dependencies).
#pragma once

#include "winsim/core/machine.h"

#include <winsvc.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// How a service answers a stop or start request.
struct ServiceAnswer {
    // Wait hints of the pending state: check point i (1-based) is reported
    // with waitHint steps[i-1] while step i lasts. Empty: the change is
    // immediate (or, with hang, a single step of 3000 ms).
    std::vector<DWORD> steps;
    bool hang = false;  // after the steps, stays pending with the last check point
    DWORD refuse = 0;   // nonzero: the request fails with this error
};

// A stop or start in progress, in virtual time.
struct ServiceTransition {
    DWORD pendingState = 0;  // SERVICE_STOP_PENDING or SERVICE_START_PENDING
    DWORD finalState = 0;    // SERVICE_STOPPED or SERVICE_RUNNING
    std::uint64_t since = 0; // tick at which the pending state began
    std::vector<DWORD> steps;
    bool hang = false;
};

struct Service {
    std::string name;
    std::string displayName;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD state = SERVICE_STOPPED;  // the settled state (see transition)
    DWORD startType = SERVICE_DEMAND_START;
    std::vector<std::string> dependencies;
    DWORD accepts = SERVICE_ACCEPT_STOP;
    DWORD granted = SERVICE_ALL_ACCESS;
    DWORD win32ExitCode = 0;
    ServiceAnswer onStop;
    ServiceAnswer onStart;
    std::optional<ServiceTransition> transition;
};

// An open SC_HANDLE: the manager or one service, with the rights granted.
struct ScHandleEntry {
    bool isManager = false;
    std::string service;  // key of the service (services only)
    DWORD access = 0;
};

struct ServiceState {
    DWORD managerGranted = SC_MANAGER_ALL_ACCESS;
    std::vector<Service> services;  // in start order as declared
    std::map<std::uintptr_t, ScHandleEntry> handles;
    std::uintptr_t nextHandle = 0x5C000;
};

// The service named `name` (case-insensitive) or null. Settles a finished
// transition first, so the state read is the current one.
Service* findService(Machine& m, std::string_view name);

// Completes every transition whose time has come (a stop or start that has
// run all its steps). Called by every service function before it looks.
void settleServices(Machine& m);

// The SERVICE_STATUS the service reports now.
SERVICE_STATUS serviceStatus(Machine& m, Service& s);

// Declares the services a freshly installed NT 3.5x runs (event log, RPC,
// workstation, server, messenger, spooler), all running; nothing on
// Windows 95. For 'winsim new'.
void addDefaultServices(Machine& m);

// Reads this family's section of machine.json (null when absent).
// Throws ImageError on malformed content.
void loadService(const nlohmann::json& section, Machine& m);
// Writes this family's section; leaving it null omits it from machine.json.
void saveService(nlohmann::json& section, const Machine& m);
// A readable summary for 'winsim show'.
void showService(std::ostream& out, const Machine& m);

}  // namespace winsim
