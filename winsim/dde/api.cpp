// The client side of the DDE management library, over the simulated
// Program Manager (the only DDE server on the machine).
//
// Instances, string handles and conversations live in the machine's DDE
// state, so installing a new machine drops them all. String handles behave
// like atoms: the same text (letter case ignored) gives the same handle.
// Errors are kept per instance and read (and cleared) with DdeGetLastError.
#include <windows.h>
#include <ddeml.h>

#include "winsim/dde/state.h"

namespace {

using winsim::DdeInstance;
using winsim::DdeState;

DdeState& dde() { return *winsim::machine().dde; }

DdeInstance* instance(DWORD id) {
    auto& ins = dde().instances;
    auto it = ins.find(id);
    return it == ins.end() ? nullptr : &it->second;
}

const std::string* stringOf(HSZ h) {
    auto& s = dde().strings;
    auto it = s.find((std::uintptr_t)h);
    return it == s.end() ? nullptr : &it->second.text;
}

void dropStringRef(DWORD inst, std::uintptr_t h) {
    DdeState& d = dde();
    auto ref = d.stringRefs.find({inst, h});
    if (ref == d.stringRefs.end()) return;
    if (--ref->second == 0) d.stringRefs.erase(ref);
    auto s = d.strings.find(h);
    if (s != d.strings.end() && --s->second.refs <= 0) d.strings.erase(s);
}

// A service or topic matches when the handle is null (any) or names it.
bool nameMatches(HSZ h, std::string_view want) {
    if (!h) return true;
    const std::string* s = stringOf(h);
    return s && winsim::iequals(*s, want);
}

}  // namespace

extern "C" {

UINT WINAPI DdeInitializeA(LPDWORD pidInst, PFNCALLBACK pfnCallback, DWORD afCmd, DWORD ulRes) {
    if (!pidInst || ulRes != 0) return DMLERR_INVALIDPARAMETER;
    DdeState& d = dde();
    if (*pidInst != 0) {
        // Re-initialisation of an existing instance changes its flags only.
        DdeInstance* ins = instance(*pidInst);
        if (!ins) return DMLERR_INVALIDPARAMETER;
        ins->flags = afCmd;
        return DMLERR_NO_ERROR;
    }
    DdeInstance ins;
    ins.callback = (void*)pfnCallback;
    ins.flags = afCmd;
    DWORD id = d.nextInstance++;
    d.instances.emplace(id, ins);
    *pidInst = id;
    return DMLERR_NO_ERROR;
}

BOOL WINAPI DdeUninitialize(DWORD idInst) {
    DdeState& d = dde();
    if (!instance(idInst)) return FALSE;
    for (auto it = d.conversations.begin(); it != d.conversations.end();) {
        if (it->second.instance == idInst)
            it = d.conversations.erase(it);
        else
            ++it;
    }
    for (auto it = d.stringRefs.begin(); it != d.stringRefs.end();) {
        if (it->first.first == idInst) {
            auto s = d.strings.find(it->first.second);
            if (s != d.strings.end() && (s->second.refs -= it->second) <= 0) d.strings.erase(s);
            it = d.stringRefs.erase(it);
        } else {
            ++it;
        }
    }
    d.instances.erase(idInst);
    return TRUE;
}

HSZ WINAPI DdeCreateStringHandleA(DWORD idInst, LPCSTR psz, int iCodePage) {
    DdeInstance* ins = instance(idInst);
    if (!ins) return nullptr;
    if (!psz || (iCodePage != 0 && iCodePage != CP_WINANSI)) {
        ins->lastError = DMLERR_INVALIDPARAMETER;
        return nullptr;
    }
    std::string_view text(psz);
    if (text.size() > 255) {  // atoms hold at most 255 characters
        ins->lastError = DMLERR_INVALIDPARAMETER;
        return nullptr;
    }
    DdeState& d = dde();
    std::uintptr_t h = 0;
    for (auto& [k, v] : d.strings) {
        if (winsim::iequals(v.text, text)) {
            h = k;
            break;
        }
    }
    if (!h) {
        h = d.nextString++;
        d.strings[h].text = std::string(text);
    }
    d.strings[h].refs++;
    d.stringRefs[{idInst, h}]++;
    return (HSZ)h;
}

BOOL WINAPI DdeFreeStringHandle(DWORD idInst, HSZ hsz) {
    DdeInstance* ins = instance(idInst);
    if (!ins) return FALSE;
    DdeState& d = dde();
    if (!d.stringRefs.count({idInst, (std::uintptr_t)hsz})) {
        ins->lastError = DMLERR_INVALIDPARAMETER;
        return FALSE;
    }
    dropStringRef(idInst, (std::uintptr_t)hsz);
    return TRUE;
}

HCONV WINAPI DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT pCC) {
    DdeInstance* ins = instance(idInst);
    if (!ins) return nullptr;
    if ((hszService && !stringOf(hszService)) || (hszTopic && !stringOf(hszTopic))) {
        ins->lastError = DMLERR_INVALIDPARAMETER;
        return nullptr;
    }
    DdeState& d = dde();
    // Program Manager answers the service "PROGMAN" on the topic "PROGMAN".
    if (!d.progmanRunning || !nameMatches(hszService, "PROGMAN") || !nameMatches(hszTopic, "PROGMAN")) {
        ins->lastError = DMLERR_NO_CONV_ESTABLISHED;
        return nullptr;
    }
    std::uintptr_t h = d.nextConversation;
    d.nextConversation += 4;
    d.conversations[h] = {idInst, "PROGMAN", "PROGMAN"};
    return (HCONV)h;
}

BOOL WINAPI DdeDisconnect(HCONV hConv) {
    DdeState& d = dde();
    auto it = d.conversations.find((std::uintptr_t)hConv);
    if (it == d.conversations.end()) return FALSE;
    d.conversations.erase(it);
    return TRUE;
}

HDDEDATA WINAPI DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                                     UINT wType, DWORD dwTimeout, LPDWORD pdwResult) {
    DdeState& d = dde();
    auto conv = d.conversations.find((std::uintptr_t)hConv);
    if (conv == d.conversations.end()) return nullptr;
    DdeInstance* ins = instance(conv->second.instance);
    if (!ins) return nullptr;
    if (pdwResult) *pdwResult = 0;
    if (wType != XTYP_EXECUTE) {
        // Program Manager serves only execute strings here.
        ins->lastError = DMLERR_NOTPROCESSED;
        return nullptr;
    }
    if (!pData || cbData == 0 || cbData == (DWORD)-1) {
        // A data handle (cbData -1) is never one this library handed out.
        ins->lastError = DMLERR_INVALIDPARAMETER;
        return nullptr;
    }
    if (!d.progmanRunning) {
        // The server went away while the conversation was open.
        ins->lastError = DMLERR_SERVER_DIED;
        return nullptr;
    }
    std::string bytes((const char*)pData, cbData);
    d.executes.push_back(bytes);
    while (d.executes.size() > winsim::DdeState::kExecuteHistory) d.executes.pop_front();
    // An execute carries no format (the transaction ignores wFmt): Program
    // Manager reads the data as ANSI text. The command text ends at the first NUL or at the end of the data.
    std::string_view text(bytes);
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    if (!winsim::progmanExecute(text)) {
        ins->lastError = DMLERR_NOTPROCESSED;
        return nullptr;
    }
    // A synchronous execute that succeeded answers TRUE, which is not a
    // data handle to be freed; an asynchronous one answers TRUE as well.
    (void)dwTimeout;
    return (HDDEDATA)(ULONG_PTR)TRUE;
}

UINT WINAPI DdeGetLastError(DWORD idInst) {
    DdeInstance* ins = instance(idInst);
    if (!ins) return DMLERR_INVALIDPARAMETER;
    UINT e = ins->lastError;
    ins->lastError = DMLERR_NO_ERROR;
    return e;
}

BOOL WINAPI DdeFreeDataHandle(HDDEDATA hData) {
    // The only non-null result this library hands out is the TRUE of a
    // completed execute, which owns no memory.
    return hData == (HDDEDATA)(ULONG_PTR)TRUE ? TRUE : FALSE;
}

}  // extern "C"
