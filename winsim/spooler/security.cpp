// Printer security descriptors and the printer access check.
#include "winsim/spooler/security.h"

#include <winspool.h>

#include <cstdlib>
#include <cstring>

namespace winsim::spool {

namespace {

constexpr WORD kSelfRelative = 0x8000;  // SE_SELF_RELATIVE
constexpr WORD kDaclPresent = 0x0004;   // SE_DACL_PRESENT
constexpr std::size_t kHeaderSize = 20;
constexpr std::size_t kAclHeaderSize = 8;
constexpr BYTE kAclRevision = 2;

// Printer rights behind the generic ones (PRINTER_READ, PRINTER_WRITE,
// PRINTER_EXECUTE and PRINTER_ALL_ACCESS).
constexpr ACCESS_MASK kPrinterRead = READ_CONTROL | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK kPrinterWrite = READ_CONTROL | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK kPrinterExecute = READ_CONTROL | PRINTER_ACCESS_USE;

void put16(std::vector<std::uint8_t>& v, std::size_t at, WORD x) { std::memcpy(v.data() + at, &x, 2); }
void put32(std::vector<std::uint8_t>& v, std::size_t at, DWORD x) { std::memcpy(v.data() + at, &x, 4); }
WORD get16(const std::uint8_t* p) {
    WORD x;
    std::memcpy(&x, p, 2);
    return x;
}
DWORD get32(const std::uint8_t* p) {
    DWORD x;
    std::memcpy(&x, p, 4);
    return x;
}

}  // namespace

PrinterSecurity defaultPrinterSecurity() {
    PrinterSecurity s;
    s.dacl = {
        {"S-1-5-32-544", 0, 0, PRINTER_ALL_ACCESS},           // Administrators
        {"S-1-5-32-547", 0, 0, PRINTER_ALL_ACCESS},           // Power Users
        {"S-1-5-18", 0, 0, PRINTER_ALL_ACCESS},               // SYSTEM
        {"S-1-1-0", 0, 0, READ_CONTROL | PRINTER_ACCESS_USE}, // Everyone
    };
    return s;
}

std::vector<std::uint8_t> sidBytes(const std::string& text) {
    // S-R-A-S1-S2-...
    if (text.size() < 5 || (text[0] != 'S' && text[0] != 's') || text[1] != '-') return {};
    std::vector<unsigned long long> parts;
    std::size_t i = 2;
    while (i <= text.size()) {
        std::size_t dash = text.find('-', i);
        if (dash == std::string::npos) dash = text.size();
        if (dash == i) return {};
        std::string part = text.substr(i, dash - i);
        for (char c : part)
            if (c < '0' || c > '9') return {};
        if (part.size() > 15) return {};
        parts.push_back(std::strtoull(part.c_str(), nullptr, 10));
        i = dash + 1;
    }
    if (parts.size() < 2 || parts.size() - 2 > 15 || parts[0] != 1 || parts[1] >= (1ull << 48)) return {};
    std::vector<std::uint8_t> sid(8 + 4 * (parts.size() - 2));
    sid[0] = 1;
    sid[1] = (std::uint8_t)(parts.size() - 2);
    for (int b = 0; b < 6; ++b) sid[2 + b] = (std::uint8_t)(parts[1] >> (8 * (5 - b)));
    for (std::size_t s = 2; s < parts.size(); ++s) {
        if (parts[s] > 0xFFFFFFFFull) return {};
        put32(sid, 8 + 4 * (s - 2), (DWORD)parts[s]);
    }
    return sid;
}

std::optional<std::string> sidText(const std::uint8_t* p, std::size_t avail) {
    if (avail < 8 || p[0] != 1 || p[1] > 15 || avail < 8 + 4u * p[1]) return std::nullopt;
    unsigned long long auth = 0;
    for (int b = 0; b < 6; ++b) auth = (auth << 8) | p[2 + b];
    std::string s = "S-1-" + std::to_string(auth);
    for (int i = 0; i < p[1]; ++i) s += "-" + std::to_string(get32(p + 8 + 4 * i));
    return s;
}

std::vector<std::uint8_t> encodeSecurity(const PrinterSecurity& s) {
    std::vector<std::uint8_t> owner = sidBytes(s.owner), group = sidBytes(s.group);
    std::vector<std::vector<std::uint8_t>> aceSids;
    std::size_t aclSize = kAclHeaderSize;
    for (const auto& a : s.dacl) {
        aceSids.push_back(sidBytes(a.sid));
        aclSize += 8 + aceSids.back().size();
    }
    std::size_t daclAt = kHeaderSize;
    std::size_t ownerAt = daclAt + (s.daclPresent ? aclSize : 0);
    std::size_t groupAt = ownerAt + owner.size();
    std::vector<std::uint8_t> out(groupAt + group.size(), 0);
    out[0] = 1;  // revision
    put16(out, 2, (WORD)(kSelfRelative | (s.daclPresent ? kDaclPresent : 0)));
    put32(out, 4, owner.empty() ? 0 : (DWORD)ownerAt);
    put32(out, 8, group.empty() ? 0 : (DWORD)groupAt);
    put32(out, 12, 0);
    put32(out, 16, s.daclPresent ? (DWORD)daclAt : 0);
    if (s.daclPresent) {
        out[daclAt] = kAclRevision;
        put16(out, daclAt + 2, (WORD)aclSize);
        put16(out, daclAt + 4, (WORD)s.dacl.size());
        std::size_t at = daclAt + kAclHeaderSize;
        for (std::size_t i = 0; i < s.dacl.size(); ++i) {
            out[at] = s.dacl[i].type;
            out[at + 1] = s.dacl[i].flags;
            put16(out, at + 2, (WORD)(8 + aceSids[i].size()));
            put32(out, at + 4, s.dacl[i].mask);
            std::memcpy(out.data() + at + 8, aceSids[i].data(), aceSids[i].size());
            at += 8 + aceSids[i].size();
        }
    }
    std::memcpy(out.data() + ownerAt, owner.data(), owner.size());
    std::memcpy(out.data() + groupAt, group.data(), group.size());
    return out;
}

std::optional<PrinterSecurity> decodeSecurity(const void* sd, const PrinterSecurity& current) {
    const auto* p = static_cast<const std::uint8_t*>(sd);
    if (p[0] != 1) return std::nullopt;
    WORD control = get16(p + 2);
    if (!(control & kSelfRelative)) return std::nullopt;  // only self-relative descriptors are taken
    // Offsets are bounded so that a damaged descriptor cannot send the
    // reader far away; a printer descriptor is small.
    constexpr DWORD kLimit = 0x10000;
    PrinterSecurity s = current;
    DWORD ownerAt = get32(p + 4), groupAt = get32(p + 8), daclAt = get32(p + 16);
    if (ownerAt) {
        if (ownerAt < kHeaderSize || ownerAt > kLimit) return std::nullopt;
        auto t = sidText(p + ownerAt, 8 + 4 * 15);
        if (!t) return std::nullopt;
        s.owner = *t;
    }
    if (groupAt) {
        if (groupAt < kHeaderSize || groupAt > kLimit) return std::nullopt;
        auto t = sidText(p + groupAt, 8 + 4 * 15);
        if (!t) return std::nullopt;
        s.group = *t;
    }
    s.dacl.clear();
    s.daclPresent = (control & kDaclPresent) && daclAt != 0;
    if (s.daclPresent) {
        if (daclAt < kHeaderSize || daclAt > kLimit) return std::nullopt;
        const std::uint8_t* acl = p + daclAt;
        if (acl[0] != kAclRevision && acl[0] != 4) return std::nullopt;
        WORD aclSize = get16(acl + 2), count = get16(acl + 4);
        if (aclSize < kAclHeaderSize) return std::nullopt;
        std::size_t at = kAclHeaderSize;
        for (WORD i = 0; i < count; ++i) {
            if (at + 8 > aclSize) return std::nullopt;
            WORD aceSize = get16(acl + at + 2);
            if (aceSize < 8 + 8 || at + aceSize > aclSize) return std::nullopt;
            SpoolAce a;
            a.type = acl[at];
            a.flags = acl[at + 1];
            a.mask = get32(acl + at + 4);
            if (a.type > 1) return std::nullopt;  // allowed and denied entries only
            auto t = sidText(acl + at + 8, aceSize - 8);
            if (!t) return std::nullopt;
            a.sid = *t;
            s.dacl.push_back(a);
            at += aceSize;
        }
    }
    return s;
}

ACCESS_MASK mapPrinterAccess(ACCESS_MASK d) {
    ACCESS_MASK m = d & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (d & GENERIC_READ) m |= kPrinterRead;
    if (d & GENERIC_WRITE) m |= kPrinterWrite;
    if (d & GENERIC_EXECUTE) m |= kPrinterExecute;
    if (d & GENERIC_ALL) m |= PRINTER_ALL_ACCESS;
    return m;
}

std::optional<ACCESS_MASK> checkPrinterAccess(const PrinterSecurity& s, const std::vector<std::string>& callerSids,
                                              ACCESS_MASK desired) {
    constexpr ACCESS_MASK kAll = PRINTER_ALL_ACCESS;
    bool maximum = desired & MAXIMUM_ALLOWED;
    desired &= ~MAXIMUM_ALLOWED;
    if (!s.daclPresent) return maximum ? (desired | kAll) : desired;
    auto member = [&](const std::string& sid) {
        for (const auto& c : callerSids)
            if (iequals(c, sid)) return true;
        return false;
    };
    // Entries in order: a denial of a right not yet granted takes it away
    // for good, as NT's access check does.
    ACCESS_MASK granted = 0, denied = 0;
    for (const auto& a : s.dacl) {
        if (a.flags & 0x08) continue;  // INHERIT_ONLY_ACE: for the printer's jobs, not the printer
        if (!member(a.sid)) continue;
        ACCESS_MASK m = mapPrinterAccess(a.mask);
        if (a.type == 0)
            granted |= m & ~denied;
        else
            denied |= m & ~granted;
    }
    if (maximum) {
        if ((desired & granted) != desired || granted == 0) return std::nullopt;
        return granted;
    }
    if ((desired & granted) != desired) return std::nullopt;
    return desired;
}

std::string sidName(const std::string& sid) {
    static const std::pair<const char*, const char*> known[] = {
        {"S-1-1-0", "Everyone"},          {"S-1-3-0", "CREATOR OWNER"},    {"S-1-5-4", "INTERACTIVE"},
        {"S-1-5-18", "SYSTEM"},           {"S-1-5-32-544", "Administrators"}, {"S-1-5-32-545", "Users"},
        {"S-1-5-32-547", "Power Users"},  {"S-1-5-32-550", "Print Operators"},
    };
    for (const auto& [s, n] : known)
        if (iequals(s, sid)) return n;
    return sid;
}

}  // namespace winsim::spool
