#include "winsim/processes/perfdata.h"

namespace winsim {

// No performance objects are provided yet.
LONG queryPerformanceData(LPCSTR, LPDWORD, LPBYTE, LPDWORD) { return ERROR_FILE_NOT_FOUND; }

}  // namespace winsim
