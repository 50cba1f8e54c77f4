#include "winsim/services/query.h"

namespace winsim {

// Until services are simulated every service counts as running.
bool isServiceRunning(std::string_view) { return true; }

}  // namespace winsim
