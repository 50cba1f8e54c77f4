// What other families ask of the service control manager.
#pragma once

#include <string_view>

namespace winsim {

// True while the named service is running, pausing, paused or continuing
// (a service that is starting or stopping does not answer yet or any more),
// as the spooler needs to decide whether it answers at all. An unknown
// service is not running. On Windows 95, which has no services, the parts
// of the system that NT runs as services are always there: true.
bool isServiceRunning(std::string_view name);

}  // namespace winsim
