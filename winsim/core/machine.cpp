#include "winsim/core/machine.h"

#include "winsim/core/handles.h"
#include "winsim/dde/state.h"
#include "winsim/files/state.h"
#include "winsim/processes/state.h"
#include "winsim/registry/state.h"
#include "winsim/security/state.h"
#include "winsim/services/state.h"
#include "winsim/spooler/state.h"
#include "winsim/system/state.h"
#include "winsim/ui/state.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace winsim {

namespace {
inline unsigned char fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

std::unique_ptr<Machine>& current() {
    static std::unique_ptr<Machine> m;
    return m;
}

struct HandleTable {
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x40;
};
HandleTable& handleTable() {
    static HandleTable t;
    return t;
}

thread_local DWORD lastError = 0;
EventListener eventListener = nullptr;
std::vector<ExitHandler>& exitHandlers() {
    static std::vector<ExitHandler> h;
    return h;
}
}  // namespace

void setEventListener(EventListener listener) { eventListener = listener; }
void notifyEvent(std::string_view kind, std::string_view text) {
    if (eventListener) eventListener(kind, text);
}
void addExitHandler(ExitHandler handler) { exitHandlers().push_back(handler); }

bool CaseLess::operator()(std::string_view a, std::string_view b) const noexcept {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool iequals(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = (char)fold((unsigned char)c);
    return r;
}

DWORD OsInfo::versionWord() const {
    DWORD low = (DWORD)(major & 0xff) | ((DWORD)(minor & 0xff) << 8);
    if (platform == Platform::Win95) return 0xC0000000u | ((DWORD)(build & 0x3fff) << 16) | low;
    return ((DWORD)(build & 0x7fff) << 16) | low;
}

Machine::Machine()
    : registry(std::make_unique<RegistryState>()),
      files(std::make_unique<FileState>()),
      system(std::make_unique<SystemState>()),
      security(std::make_unique<SecurityState>()),
      ui(std::make_unique<UiState>()),
      services(std::make_unique<ServiceState>()),
      processes(std::make_unique<ProcessState>()),
      spooler(std::make_unique<SpoolerState>()),
      dde(std::make_unique<DdeState>()) {}

Machine::~Machine() = default;

Machine& machine() {
    auto& m = current();
    if (!m) m = std::make_unique<Machine>();
    return *m;
}

Machine& install(std::unique_ptr<Machine> m) {
    handleTable().objects.clear();
    current() = std::move(m);
    lastError = 0;
    return *current();
}

std::unique_ptr<Machine> makeBareMachine(const OsInfo& os, const std::filesystem::path& hostC) {
    auto m = std::make_unique<Machine>();
    m->os = os;
    std::filesystem::create_directories(hostC);
    Drive c;
    c.letter = 'C';
    c.host = std::filesystem::absolute(hostC);
    c.total = 512ull * 1024 * 1024;
    c.free = 256ull * 1024 * 1024;
    m->drives['C'] = c;
    if (os.platform == Platform::Win95) {
        m->windowsDir = "C:\\WINDOWS";
        m->systemDir = "C:\\WINDOWS\\SYSTEM";
    } else {
        m->windowsDir = os.major == 3 && os.minor < 50 ? "C:\\WINNT" : "C:\\WINNT35";
        m->systemDir = m->windowsDir + "\\system32";
    }
    // Windows 95 knows only windir; SystemRoot and SystemDrive are NT's.
    if (os.isNT()) {
        m->environment["SystemRoot"] = m->windowsDir;
        m->environment["SystemDrive"] = "C:";
    }
    m->environment["windir"] = m->windowsDir;
    m->environment["PROCESSOR_ARCHITECTURE"] = os.arch;
    m->environment["COMPUTERNAME"] = m->computerName;
    m->environment["PATH"] = m->systemDir + ";" + m->windowsDir;
    m->bootEpochMs = 831024000000;  // 1996-05-02 08:00:00
    return m;
}

DWORD injectedFault(std::string_view call, std::string_view target) {
    Machine& m = machine();
    auto it = m.callCounts.find(call);
    if (it == m.callCounts.end()) it = m.callCounts.emplace(std::string(call), 0).first;
    std::uint32_t n = ++it->second;
    for (const Fault& f : m.faults) {
        if (f.call != call) continue;
        if (!f.target.empty() && !iequals(f.target, target)) continue;
        if (n < f.nth) continue;
        if (f.times != 0 && n >= f.nth + f.times) continue;
        return f.error;
    }
    return 0;
}

void serviceStateChanged(Machine& m, std::string_view service, DWORD state) {
    spoolerServiceChanged(m, service, state);
}

std::uint64_t now() { return machine().tickMs; }
// Time passing is when simulated programs finish their work.
void advance(std::uint64_t ms) {
    Machine& m = machine();
    m.tickMs += ms;
    runDuePrograms(m);
}

HANDLE addHandle(std::shared_ptr<KernelObject> obj) {
    auto& t = handleTable();
    std::uintptr_t h = t.next;
    t.next += 4;
    t.objects.emplace(h, std::move(obj));
    return (HANDLE)h;
}

std::shared_ptr<KernelObject> findHandle(HANDLE h) {
    auto& t = handleTable();
    auto it = t.objects.find((std::uintptr_t)h);
    return it == t.objects.end() ? nullptr : it->second;
}

bool removeHandle(HANDLE h) { return handleTable().objects.erase((std::uintptr_t)h) != 0; }

std::size_t openHandleCount() { return handleTable().objects.size(); }

}  // namespace winsim

extern "C" {

DWORD WINAPI GetLastError(void) { return winsim::lastError; }
void WINAPI SetLastError(DWORD e) { winsim::lastError = e; }

BOOL WINAPI CloseHandle(HANDLE h) {
    auto obj = winsim::findHandle(h);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!obj->onClose()) return FALSE;
    winsim::removeHandle(h);
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return winsim::currentProcessHandle(); }
HANDLE WINAPI GetCurrentThread(void) { return winsim::currentThreadHandle(); }

void WINAPI ExitProcess(UINT code) {
    auto& handlers = winsim::exitHandlers();
    while (!handlers.empty()) {
        auto h = handlers.back();
        handlers.pop_back();
        h(code);
    }
    std::fflush(nullptr);
    std::_Exit((int)code);
}

}  // extern "C"
