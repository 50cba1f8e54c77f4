// vrdcheck.exe: reads what the spooler knows, for the checks of the Wine
// runs, and exercises the package's port monitor on a real spooler.
//   vrdcheck drivers [ENVIRONMENT]   one line per printer driver
//   vrdcheck monitors                one line per installed monitor
//   vrdcheck ports                   one line per port of every monitor
//   vrdcheck monitor NAME DLL PORT...  AddMonitor, AddPortEx per port,
//                                    EnumPorts, DeletePort, DeleteMonitor
// Lines are "<kind> <fields separated by |>"; failures are "FAIL <what>:
// error <n>" and make the exit code 1.
#include <windows.h>
#include <winspool.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

// Documented in winspool but missing from mingw-w64's headers.
extern "C" BOOL WINAPI AddPortExA(LPSTR pName, DWORD Level, LPBYTE lpBuffer, LPSTR lpMonitorName);

namespace {

int failures = 0;

void fail(const char* what, DWORD error) {
    printf("FAIL %s: error %lu\n", what, (unsigned long)error);
    ++failures;
}

const char* baseName(const char* path) {
    if (!path) return "";
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// The two-pass pattern of the Enum* calls: size, then fill.
template <typename Call>
bool enumerate(const char* what, std::vector<BYTE>& buffer, DWORD& count, Call call) {
    DWORD needed = 0;
    count = 0;
    if (call(nullptr, 0, &needed, &count)) {
        buffer.clear();
        return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        fail(what, GetLastError());
        return false;
    }
    buffer.assign(needed, 0);
    if (!call(buffer.data(), needed, &needed, &count)) {
        fail(what, GetLastError());
        return false;
    }
    return true;
}

int drivers(const char* environment) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate("EnumPrinterDrivers", buffer, count, [&](BYTE* b, DWORD n, DWORD* need, DWORD* got) {
            return EnumPrinterDriversA(nullptr, (LPSTR)environment, 2, b, n, need, got);
        }))
        return 1;
    auto* info = reinterpret_cast<DRIVER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        printf("driver %s|%lu|%s|%s|%s\n", info[i].pName, (unsigned long)info[i].cVersion,
               baseName(info[i].pDriverPath), baseName(info[i].pDataFile), baseName(info[i].pConfigFile));
    return 0;
}

int monitors() {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate("EnumMonitors", buffer, count, [&](BYTE* b, DWORD n, DWORD* need, DWORD* got) {
            return EnumMonitorsA(nullptr, 2, b, n, need, got);
        }))
        return 1;
    auto* info = reinterpret_cast<MONITOR_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) printf("monitor %s|%s\n", info[i].pName, baseName(info[i].pDLLName));
    return 0;
}

bool listPorts(std::vector<std::string>& names) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate("EnumPorts", buffer, count, [&](BYTE* b, DWORD n, DWORD* need, DWORD* got) {
            return EnumPortsA(nullptr, 1, b, n, need, got);
        }))
        return false;
    auto* info = reinterpret_cast<PORT_INFO_1A*>(buffer.data());
    names.clear();
    for (DWORD i = 0; i < count; ++i) names.push_back(info[i].pName);
    return true;
}

bool listed(const std::vector<std::string>& names, const char* port) {
    for (const std::string& n : names)
        if (lstrcmpiA(n.c_str(), port) == 0) return true;
    return false;
}

int ports() {
    std::vector<std::string> names;
    if (!listPorts(names)) return 1;
    for (const std::string& n : names) printf("port %s\n", n.c_str());
    return 0;
}

// Installs the monitor, adds and deletes its ports, removes it again.
int monitorRoundTrip(const char* name, const char* dll, char** portNames, int portCount) {
    MONITOR_INFO_2A info = {};
    info.pName = (LPSTR)name;
    info.pEnvironment = nullptr;
    info.pDLLName = (LPSTR)dll;
    SetLastError(0xdeadbeef);
    if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        fail("AddMonitor", GetLastError());
        return 1;
    }
    printf("ok AddMonitor %s|%s\n", name, dll);
    for (int i = 0; i < portCount; ++i) {
        PORT_INFO_1A port = {portNames[i]};
        SetLastError(0xdeadbeef);
        if (AddPortExA(nullptr, 1, reinterpret_cast<LPBYTE>(&port), (LPSTR)name))
            printf("ok AddPortEx %s\n", portNames[i]);
        else
            fail((std::string("AddPortEx ") + portNames[i]).c_str(), GetLastError());
    }
    std::vector<std::string> names;
    if (listPorts(names)) {
        for (int i = 0; i < portCount; ++i) {
            if (listed(names, portNames[i]))
                printf("ok EnumPorts lists %s\n", portNames[i]);
            else
                fail((std::string("EnumPorts lists ") + portNames[i]).c_str(), 0);
        }
    }
    for (int i = 0; i < portCount; ++i) {
        SetLastError(0xdeadbeef);
        if (DeletePortA(nullptr, nullptr, portNames[i]))
            printf("ok DeletePort %s\n", portNames[i]);
        else
            fail((std::string("DeletePort ") + portNames[i]).c_str(), GetLastError());
    }
    if (listPorts(names)) {
        for (int i = 0; i < portCount; ++i) {
            if (listed(names, portNames[i]))
                fail((std::string("EnumPorts still lists ") + portNames[i]).c_str(), 0);
            else
                printf("ok EnumPorts no longer lists %s\n", portNames[i]);
        }
    }
    SetLastError(0xdeadbeef);
    if (DeleteMonitorA(nullptr, nullptr, (LPSTR)name))
        printf("ok DeleteMonitor %s\n", name);
    else
        fail("DeleteMonitor", GetLastError());
    return failures ? 1 : 0;
}

int usage() {
    fprintf(stderr,
            "usage: vrdcheck drivers [ENVIRONMENT] | monitors | ports | monitor NAME DLL PORT...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    int rc = 2;
    if (command == "drivers")
        rc = drivers(argc > 2 ? argv[2] : nullptr);
    else if (command == "monitors")
        rc = monitors();
    else if (command == "ports")
        rc = ports();
    else if (command == "monitor" && argc >= 4)
        rc = monitorRoundTrip(argv[2], argv[3], argv + 4, argc - 4);
    else
        return usage();
    fflush(stdout);
    return rc ? rc : (failures ? 1 : 0);
}
