// Program Manager groups and items, by DDE execute commands to the
// "PROGMAN" service: [CreateGroup(..)], [ShowGroup(..)], [AddItem(..)].
#include "internal.h"

#include <setupkit.h>
#include <ddeml.h>

namespace kit {

namespace {

HDDEDATA CALLBACK ddeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

// An argument is quoted when it holds blanks, commas, brackets or
// parentheses, which would otherwise end it.
std::string arg(std::string_view s) {
    if (s.find_first_of(" \t,()[]") == std::string_view::npos) return std::string(s);
    std::string q(1, '"');
    q.append(s);
    q += '"';
    return q;
}

// Sends one execute string to Program Manager; false when there is no
// conversation or the command is refused.
bool execute(const std::string& cmd) {
    DWORD inst = 0;
    if (DdeInitializeA(&inst, ddeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        logLine("progman " + cmd + ": DDE not available");
        return false;
    }
    HSZ name = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
    HCONV conv = name ? DdeConnect(inst, name, name, nullptr) : nullptr;
    bool ok = false;
    UINT err = 0;
    if (conv) {
        DWORD result = 0;
        HDDEDATA d = DdeClientTransaction((LPBYTE)cmd.c_str(), (DWORD)cmd.size() + 1, conv, nullptr, CF_TEXT, XTYP_EXECUTE,
                                          30000, &result);
        ok = d != nullptr;
        if (!ok) err = DdeGetLastError(inst);
        DdeDisconnect(conv);
    } else {
        err = DdeGetLastError(inst);
    }
    if (name) DdeFreeStringHandle(inst, name);
    DdeUninitialize(inst);
    if (!ok) logLine("progman " + cmd + ": refused (DDE error " + std::to_string(err) + ")");
    return ok;
}

}  // namespace

}  // namespace kit

using namespace kit;

extern "C" {

BOOL WINAPI FCreateProgManGroupEx(LPCSTR group, INT, INT) {
    if (!group || !*group) return FALSE;
    return execute("[CreateGroup(" + arg(group) + ")]") ? TRUE : FALSE;
}

BOOL WINAPI FShowProgManGroupEx(LPCSTR group, INT, LPCSTR showCmd, INT) {
    if (!group || !*group || !showCmd || !*showCmd) return FALSE;
    return execute("[ShowGroup(" + arg(group) + "," + arg(showCmd) + ")]") ? TRUE : FALSE;
}

// The item text is the item's title, optionally followed by a comma and
// the file holding its icon ("Read Me,write.exe"). The group is made the
// active one first (CreateGroup activates an existing group).
BOOL WINAPI FCreateProgManItemEx(LPCSTR group, INT, LPCSTR item, LPCSTR cmdLine, INT) {
    if (!group || !*group || !item || !*item || !cmdLine || !*cmdLine) return FALSE;
    std::string_view it(item);
    std::size_t comma = it.find(',');
    std::string title(it.substr(0, comma));
    std::string cmd = "[CreateGroup(" + arg(group) + ")][AddItem(" + arg(cmdLine) + "," + arg(title);
    if (comma != std::string_view::npos && comma + 1 < it.size()) cmd += "," + arg(it.substr(comma + 1));
    cmd += ")]";
    return execute(cmd) ? TRUE : FALSE;
}

}  // extern "C"
