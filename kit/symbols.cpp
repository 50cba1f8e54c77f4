// The symbol table: named values and lists (items indexed from 1) through
// which the program and the pages exchange values.
#include "internal.h"

#include <setupkit.h>

#include <cstring>

namespace kit {

SymbolTable& symbols() {
    static SymbolTable t;
    return t;
}

const std::vector<std::string>* SymbolTable::find(std::string_view name) const {
    auto it = table.find(std::string(name));
    return it == table.end() ? nullptr : &it->second;
}

std::vector<std::string>& SymbolTable::get(std::string_view name) { return table[std::string(name)]; }

// A list of several items reads back as {"a","b"} (the classic list text).
std::string SymbolTable::value(std::string_view name) const {
    const auto* items = find(name);
    if (!items || items->empty()) return {};
    if (items->size() == 1) return (*items)[0];
    std::string s = "{";
    for (std::size_t i = 0; i < items->size(); ++i) {
        if (i) s += ',';
        s += '"' + (*items)[i] + '"';
    }
    return s + "}";
}

void SymbolTable::set(std::string_view name, std::string_view v) {
    auto& items = get(name);
    items.clear();
    if (!v.empty()) items.emplace_back(v);
}

INT copyOut(std::string_view value, LPSTR buf, INT cap) {
    if (buf && cap > 0) {
        std::size_t n = value.size() < (std::size_t)cap - 1 ? value.size() : (std::size_t)cap - 1;
        if (n) std::memcpy(buf, value.data(), n);
        buf[n] = 0;
    }
    return value.size() > 0x7fffffff ? 0x7fffffff : (INT)value.size();
}

}  // namespace kit

using kit::symbols;

extern "C" {

INT WINAPI CbGetSymbolValue(LPCSTR name, LPSTR buf, INT cbMax) {
    if (!name || !*name) return kit::copyOut("", buf, cbMax);
    return kit::copyOut(symbols().value(name), buf, cbMax);
}

BOOL WINAPI FSetSymbolValue(LPCSTR name, LPCSTR value) {
    if (!name || !*name) return FALSE;
    symbols().set(name, value ? value : "");
    return TRUE;
}

USHORT WINAPI UsGetListLength(LPCSTR list) {
    if (!list || !*list) return 0;
    const auto* items = symbols().find(list);
    if (!items) return 0;
    return items->size() > 0xffff ? (USHORT)0xffff : (USHORT)items->size();
}

INT WINAPI CbGetListItem(LPCSTR list, USHORT n, LPSTR buf, INT cbMax) {
    const auto* items = list && *list ? symbols().find(list) : nullptr;
    if (!items || n < 1 || n > items->size()) return kit::copyOut("", buf, cbMax);
    return kit::copyOut((*items)[n - 1], buf, cbMax);
}

BOOL WINAPI FAddListItem(LPCSTR list, LPCSTR item) {
    if (!list || !*list || !item) return FALSE;
    auto& items = symbols().get(list);
    if (items.size() >= 0xffff) return FALSE;  // item numbers are 16-bit
    items.emplace_back(item);
    return TRUE;
}

BOOL WINAPI FReplaceListItem(LPCSTR list, USHORT n, LPCSTR item) {
    if (!list || !*list || !item) return FALSE;
    auto* items = const_cast<std::vector<std::string>*>(symbols().find(list));
    if (!items || n < 1 || n > items->size()) return FALSE;
    (*items)[n - 1] = item;
    return TRUE;
}

}  // extern "C"
