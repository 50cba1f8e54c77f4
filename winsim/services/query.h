// What other families ask of the service control manager.
#pragma once

#include <string_view>

namespace winsim {

// True while the named service is running (or pausing/continuing), as the
// spooler needs to decide whether it answers at all.
bool isServiceRunning(std::string_view name);

}  // namespace winsim
