// The counter name table, read as any program reads it: through the
// registry API of the simulated machine.
#include "winsim/processes/perfdata.h"

#include <winreg.h>

#include <map>

namespace winsim {

namespace {

// Internal reads must not shift the call counts that declared faults of
// the program's own registry calls are matched against.
struct KeepCallCounts {
    std::map<std::string, std::uint32_t, std::less<>> saved = machine().callCounts;
    ~KeepCallCounts() { machine().callCounts = std::move(saved); }
};

}  // namespace

std::optional<std::vector<char>> readCounterTable() {
    KeepCallCounts keep;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<std::vector<char>> result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "Counters", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        std::vector<char> buf(size + 2, '\0');  // two spare NULs end the table even if the value lacks them
        DWORD got = size;
        if (RegQueryValueExA(key, "Counters", nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &got) ==
                ERROR_SUCCESS &&
            got <= size) {
            buf.resize(got + 2);
            result = std::move(buf);
        }
    }
    RegCloseKey(key);
    return result;
}

}  // namespace winsim
