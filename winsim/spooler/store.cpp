// The spooler's registry store (see state.h for the layout).
#include "winsim/spooler/store.h"

#include <windows.h>

#include <cstring>

namespace winsim {

namespace {

const char* kLocalPortsKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char* kLocalMonitor = "Local Port";

// Closes the key on every path.
struct Key {
    HKEY h = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (h) RegCloseKey(h);
    }
};

std::string path(std::initializer_list<std::string_view> parts) {
    std::string p;
    for (auto part : parts) {
        if (!p.empty()) p += '\\';
        p += part;
    }
    return p;
}

DWORD openKey(const std::string& sub, REGSAM access, Key& k) {
    return (DWORD)RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub.c_str(), 0, access, &k.h);
}

DWORD createKey(HKEY parent, const std::string& sub, Key& k) {
    DWORD disp = 0;
    return (DWORD)RegCreateKeyExA(parent, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  &k.h, &disp);
}

// The names an enumeration call gives for indexes 0, 1, ... until it runs out.
template <class EnumCall>
DWORD enumNames(EnumCall call, std::vector<std::string>& out) {
    out.clear();
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD len = sizeof name;
        LONG r = call(i, name, &len);
        if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (r != ERROR_SUCCESS) return (DWORD)r;
        out.emplace_back(name, len);
    }
}

// Subkey names in registry order.
DWORD subkeys(HKEY h, std::vector<std::string>& out) {
    return enumNames([h](DWORD i, char* name, DWORD* len) {
        return RegEnumKeyExA(h, i, name, len, nullptr, nullptr, nullptr, nullptr);
    }, out);
}

// Opens HKLM\`sub` for reading and lists its subkeys; a missing key is an
// empty list (and `k` stays closed).
DWORD openSubkeyList(const std::string& sub, Key& k, std::vector<std::string>& names) {
    names.clear();
    DWORD r = openKey(sub, KEY_READ, k);
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    return subkeys(k.h, names);
}

// Value names in registry order.
DWORD valueNames(HKEY h, std::vector<std::string>& out) {
    return enumNames([h](DWORD i, char* name, DWORD* len) {
        return RegEnumValueA(h, i, name, len, nullptr, nullptr, nullptr, nullptr);
    }, out);
}

// A string value; a missing value leaves `out` as it is.
DWORD readString(HKEY h, const char* name, std::string& out) {
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(h, name, nullptr, &type, nullptr, &size);
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return (DWORD)r;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_SUCCESS;
    std::string buf(size, '\0');
    r = RegQueryValueExA(h, name, nullptr, &type, (LPBYTE)buf.data(), &size);
    if (r != ERROR_SUCCESS) return (DWORD)r;
    buf.resize(std::min<std::size_t>(size, buf.size()));
    if (std::size_t nul = buf.find('\0'); nul != std::string::npos) buf.resize(nul);
    out = buf;
    return ERROR_SUCCESS;
}

DWORD readDword(HKEY h, const char* name, DWORD& out) {
    DWORD type = 0, v = 0, size = sizeof v;
    LONG r = RegQueryValueExA(h, name, nullptr, &type, (LPBYTE)&v, &size);
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r == ERROR_MORE_DATA) return ERROR_SUCCESS;  // not a DWORD: ignored
    if (r != ERROR_SUCCESS) return (DWORD)r;
    if (type == REG_DWORD && size == sizeof v) out = v;
    return ERROR_SUCCESS;
}

DWORD writeString(HKEY h, const char* name, const std::string& v) {
    return (DWORD)RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)v.c_str(), (DWORD)v.size() + 1);
}

DWORD writeDword(HKEY h, const char* name, DWORD v) {
    return (DWORD)RegSetValueExA(h, name, 0, REG_DWORD, (const BYTE*)&v, sizeof v);
}

// Deletes `sub` of `parent` with everything below it, deepest first (NT
// refuses to delete a key that still has subkeys).
DWORD deleteTree(HKEY parent, const std::string& sub) {
    {
        Key k;
        DWORD r = (DWORD)RegOpenKeyExA(parent, sub.c_str(), 0, KEY_ALL_ACCESS, &k.h);
        if (r != ERROR_SUCCESS) return r;
        std::vector<std::string> children;
        if ((r = subkeys(k.h, children)) != ERROR_SUCCESS) return r;
        for (const auto& c : children)
            if ((r = deleteTree(k.h, c)) != ERROR_SUCCESS) return r;
    }
    return (DWORD)RegDeleteKeyA(parent, sub.c_str());
}

}  // namespace

namespace spool {

namespace {
const Environment kNtEnvironments[] = {
    {"Windows NT x86", "W32X86"},
    {"Windows NT R4000", "W32MIPS"},
    {"Windows NT Alpha_AXP", "W32ALPHA"},
    {"Windows 4.0", "WIN40"},
};
const Environment k95Environments[] = {
    {"Windows 4.0", ""},
};
}  // namespace

const Environment* findEnvironment(std::string_view name) {
    if (machine().os.isNT()) {
        for (const auto& e : kNtEnvironments)
            if (iequals(e.name, name)) return &e;
    } else {
        for (const auto& e : k95Environments)
            if (iequals(e.name, name)) return &e;
    }
    return nullptr;
}

std::vector<std::string> splitPorts(std::string_view list) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i <= list.size()) {
        std::size_t comma = list.find(',', i);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view part = list.substr(i, comma - i);
        while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        if (!part.empty()) out.emplace_back(part);
        i = comma + 1;
    }
    return out;
}

DWORD readPrinter(const std::string& name, SpoolPrinter& p) {
    Key k;
    DWORD r = openKey(path({kPrintKey, "Printers", name}), KEY_READ, k);
    if (r != ERROR_SUCCESS) return r;
    // The key name is the printer's name; a "Name" value names it too.
    p = SpoolPrinter();
    p.name = name;
    if ((r = readString(k.h, "Name", p.name)) || (r = readString(k.h, "Port", p.port)) ||
        (r = readString(k.h, "Printer Driver", p.driver)) || (r = readString(k.h, "Share Name", p.shareName)) ||
        (r = readString(k.h, "Description", p.comment)) || (r = readString(k.h, "Location", p.location)) ||
        (r = readString(k.h, "Separator File", p.sepFile)) || (r = readString(k.h, "Parameters", p.parameters)) ||
        (r = readString(k.h, "Print Processor", p.printProcessor)) || (r = readString(k.h, "Datatype", p.datatype)) ||
        (r = readDword(k.h, "Attributes", p.attributes)) || (r = readDword(k.h, "Priority", p.priority)) ||
        (r = readDword(k.h, "Default Priority", p.defaultPriority)) || (r = readDword(k.h, "StartTime", p.startTime)) ||
        (r = readDword(k.h, "UntilTime", p.untilTime)) || (r = readDword(k.h, "Status", p.status)))
        return r;
    if (p.name.empty()) p.name = name;
    return ERROR_SUCCESS;
}

DWORD deletePrinterKey(const std::string& name) {
    Key printers;
    DWORD r = openKey(path({kPrintKey, "Printers"}), KEY_ALL_ACCESS, printers);
    if (r != ERROR_SUCCESS) return r;
    return deleteTree(printers.h, name);
}

DWORD findPort(const std::string& port, PortRef& out, bool& found) {
    // Looked up by name under each monitor rather than by listing every
    // port, so that a machine with thousands of ports stays fast.
    found = false;
    if (port.empty() || port.find('\\') != std::string::npos) return ERROR_SUCCESS;
    Key monitors;
    std::vector<std::string> names;
    DWORD r = openSubkeyList(path({kPrintKey, "Monitors"}), monitors, names);
    if (r != ERROR_SUCCESS) return r;
    for (const auto& m : names) {
        Key k;
        r = (DWORD)RegOpenKeyExA(monitors.h, path({m, "Ports", port}).c_str(), 0, KEY_READ, &k.h);
        if (r == ERROR_SUCCESS) {
            out = {m, port, false};
            found = true;
            return ERROR_SUCCESS;
        }
        if (r != ERROR_FILE_NOT_FOUND) return r;
        // NT's local ports are values of their own key.
        if (iequals(m, kLocalMonitor) && machine().os.isNT()) {
            Key local;
            r = openKey(kLocalPortsKey, KEY_READ, local);
            if (r == ERROR_FILE_NOT_FOUND) continue;
            if (r != ERROR_SUCCESS) return r;
            DWORD type = 0;
            r = (DWORD)RegQueryValueExA(local.h, port.c_str(), nullptr, &type, nullptr, nullptr);
            if (r == ERROR_SUCCESS) {
                out = {m, port, true};
                found = true;
                return ERROR_SUCCESS;
            }
            if (r != ERROR_FILE_NOT_FOUND) return r;
        }
    }
    return ERROR_SUCCESS;
}

DWORD printerPortLists(std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    Key printers;
    std::vector<std::string> names;
    DWORD r = openSubkeyList(path({kPrintKey, "Printers"}), printers, names);
    if (r != ERROR_SUCCESS) return r;
    for (const auto& n : names) {
        Key k;
        if ((r = (DWORD)RegOpenKeyExA(printers.h, n.c_str(), 0, KEY_READ, &k.h)) != ERROR_SUCCESS) return r;
        std::string ports;
        if ((r = readString(k.h, "Port", ports)) != ERROR_SUCCESS) return r;
        out.emplace_back(n, std::move(ports));
    }
    return ERROR_SUCCESS;
}

DWORD deletePort(const PortRef& ref) {
    if (ref.localValue) {
        Key k;
        DWORD r = openKey(kLocalPortsKey, KEY_ALL_ACCESS, k);
        if (r != ERROR_SUCCESS) return r;
        return (DWORD)RegDeleteValueA(k.h, ref.port.c_str());
    }
    Key ports;
    DWORD r = openKey(path({kPrintKey, "Monitors", ref.monitor, "Ports"}), KEY_ALL_ACCESS, ports);
    if (r != ERROR_SUCCESS) return r;
    return deleteTree(ports.h, ref.port);
}

DWORD readDriver(const std::string& environment, const std::string& name, SpoolDriver& d, bool& found) {
    found = false;
    Key k;
    DWORD r = openKey(path({kPrintKey, "Environments", environment, "Drivers", name}), KEY_READ, k);
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    d = SpoolDriver();
    d.name = name;
    if ((r = readString(k.h, "Driver", d.driverPath)) || (r = readString(k.h, "Data File", d.dataFile)) ||
        (r = readString(k.h, "Configuration File", d.configFile)) || (r = readDword(k.h, "Version", d.version)))
        return r;
    found = true;
    return ERROR_SUCCESS;
}

DWORD deleteDriverKey(const std::string& environment, const std::string& name) {
    Key drivers;
    DWORD r = openKey(path({kPrintKey, "Environments", environment, "Drivers"}), KEY_ALL_ACCESS, drivers);
    if (r != ERROR_SUCCESS) return r;
    return deleteTree(drivers.h, name);
}

// The spooler knows the monitors it loaded: a key with a "Driver" value. A
// key without one (for example only a Files subkey written by a setup
// program) is no monitor, and AddMonitor completes it.
DWORD monitorExists(const std::string& name, bool& exists) {
    Key k;
    DWORD r = openKey(path({kPrintKey, "Monitors", name}), KEY_READ, k);
    exists = false;
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    DWORD type = 0;
    exists = RegQueryValueExA(k.h, "Driver", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

DWORD writeMonitorKey(const std::string& name, const std::string& module) {
    Key k;
    DWORD r = createKey(HKEY_LOCAL_MACHINE, path({kPrintKey, "Monitors", name}), k);
    if (r != ERROR_SUCCESS) return r;
    return writeString(k.h, "Driver", module);
}

}  // namespace spool

DWORD spoolerMonitors(std::vector<SpoolMonitor>& out) {
    out.clear();
    Key monitors;
    std::vector<std::string> names;
    DWORD r = openSubkeyList(path({kPrintKey, "Monitors"}), monitors, names);
    if (r != ERROR_SUCCESS) return r;
    for (const auto& n : names) {
        SpoolMonitor m;
        m.name = n;
        Key k;
        if ((r = (DWORD)RegOpenKeyExA(monitors.h, n.c_str(), 0, KEY_READ, &k.h)) != ERROR_SUCCESS) return r;
        if ((r = readString(k.h, "Driver", m.driver)) != ERROR_SUCCESS) return r;
        Key ports;
        r = (DWORD)RegOpenKeyExA(k.h, "Ports", 0, KEY_READ, &ports.h);
        if (r == ERROR_SUCCESS) {
            if ((r = subkeys(ports.h, m.ports)) != ERROR_SUCCESS) return r;
        } else if (r != ERROR_FILE_NOT_FOUND) {
            return r;
        }
        if (iequals(n, kLocalMonitor) && machine().os.isNT()) {
            Key local;
            r = openKey(kLocalPortsKey, KEY_READ, local);
            if (r == ERROR_SUCCESS) {
                std::vector<std::string> values;
                if ((r = valueNames(local.h, values)) != ERROR_SUCCESS) return r;
                m.ports.insert(m.ports.end(), values.begin(), values.end());
            } else if (r != ERROR_FILE_NOT_FOUND) {
                return r;
            }
        }
        out.push_back(std::move(m));
    }
    return ERROR_SUCCESS;
}

DWORD defineMonitor(const std::string& name, const std::string& module, const std::vector<std::string>& ports) {
    if (name.empty() || name.find('\\') != std::string::npos) return ERROR_INVALID_PARAMETER;
    DWORD r = spool::writeMonitorKey(name, module);
    if (r != ERROR_SUCCESS) return r;
    Key k;
    if ((r = createKey(HKEY_LOCAL_MACHINE, path({kPrintKey, "Monitors", name, "Ports"}), k)) != ERROR_SUCCESS) return r;
    for (const auto& p : ports) {
        if (p.empty() || p.find('\\') != std::string::npos) return ERROR_INVALID_PARAMETER;
        Key port;
        if ((r = createKey(k.h, p, port)) != ERROR_SUCCESS) return r;
    }
    return ERROR_SUCCESS;
}

DWORD spoolerPrinters(std::vector<SpoolPrinter>& out) {
    out.clear();
    Key printers;
    std::vector<std::string> names;
    DWORD r = openSubkeyList(path({kPrintKey, "Printers"}), printers, names);
    if (r != ERROR_SUCCESS) return r;
    for (const auto& n : names) {
        SpoolPrinter p;
        if ((r = spool::readPrinter(n, p)) != ERROR_SUCCESS) return r;
        out.push_back(std::move(p));
    }
    return ERROR_SUCCESS;
}

DWORD definePrinter(const SpoolPrinter& p) {
    if (p.name.empty() || p.name.find_first_of("\\,") != std::string::npos) return ERROR_INVALID_PRINTER_NAME;
    Key k;
    DWORD r = createKey(HKEY_LOCAL_MACHINE, path({kPrintKey, "Printers", p.name}), k);
    if (r != ERROR_SUCCESS) return r;
    if ((r = writeString(k.h, "Name", p.name)) || (r = writeString(k.h, "Share Name", p.shareName)) ||
        (r = writeString(k.h, "Port", p.port)) || (r = writeString(k.h, "Printer Driver", p.driver)) ||
        (r = writeString(k.h, "Description", p.comment)) || (r = writeString(k.h, "Location", p.location)) ||
        (r = writeString(k.h, "Separator File", p.sepFile)) || (r = writeString(k.h, "Print Processor", p.printProcessor)) ||
        (r = writeString(k.h, "Datatype", p.datatype)) || (r = writeString(k.h, "Parameters", p.parameters)) ||
        (r = writeDword(k.h, "Attributes", p.attributes)) || (r = writeDword(k.h, "Priority", p.priority)) ||
        (r = writeDword(k.h, "Default Priority", p.defaultPriority)) || (r = writeDword(k.h, "StartTime", p.startTime)) ||
        (r = writeDword(k.h, "UntilTime", p.untilTime)) || (r = writeDword(k.h, "Status", p.status)))
        return r;
    return ERROR_SUCCESS;
}

DWORD spoolerDrivers(const std::string& environment, std::vector<SpoolDriver>& out) {
    out.clear();
    Key drivers;
    std::vector<std::string> names;
    DWORD r = openSubkeyList(path({kPrintKey, "Environments", environment, "Drivers"}), drivers, names);
    if (r != ERROR_SUCCESS) return r;
    for (const auto& n : names) {
        SpoolDriver d;
        bool found = false;
        if ((r = spool::readDriver(environment, n, d, found)) != ERROR_SUCCESS) return r;
        if (found) out.push_back(std::move(d));
    }
    return ERROR_SUCCESS;
}

DWORD defineDriver(const std::string& environment, const SpoolDriver& d) {
    if (d.name.empty() || d.name.find('\\') != std::string::npos || environment.empty()) return ERROR_INVALID_PARAMETER;
    Key k;
    DWORD r = createKey(HKEY_LOCAL_MACHINE, path({kPrintKey, "Environments", environment, "Drivers", d.name}), k);
    if (r != ERROR_SUCCESS) return r;
    if ((r = writeString(k.h, "Driver", d.driverPath)) || (r = writeString(k.h, "Data File", d.dataFile)) ||
        (r = writeString(k.h, "Configuration File", d.configFile)) || (r = writeDword(k.h, "Version", d.version)))
        return r;
    return ERROR_SUCCESS;
}

std::string ownEnvironment() {
    const Machine& m = machine();
    if (!m.os.isNT()) return "Windows 4.0";
    if (iequals(m.os.arch, "alpha")) return "Windows NT Alpha_AXP";
    if (iequals(m.os.arch, "mips")) return "Windows NT R4000";
    return "Windows NT x86";
}

std::optional<std::string> printerDriverDirectory(const std::string& environment) {
    const spool::Environment* env = spool::findEnvironment(environment.empty() ? ownEnvironment() : environment);
    if (!env) return std::nullopt;
    const Machine& m = machine();
    if (!m.os.isNT()) return m.systemDir;  // Windows 95 keeps drivers in the system directory
    return m.systemDir + "\\spool\\DRIVERS\\" + env->dir;
}

}  // namespace winsim
