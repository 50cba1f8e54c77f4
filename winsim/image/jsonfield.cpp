#include "winsim/image/jsonfield.h"

namespace winsim {

JsonPointer JsonPointer::operator/(std::string_view member) const {
    JsonPointer p = *this;
    p.text_ += '/';
    for (char c : member) {
        if (c == '~')
            p.text_ += "~0";
        else if (c == '/')
            p.text_ += "~1";
        else
            p.text_ += c;
    }
    return p;
}

JsonPointer JsonPointer::operator/(std::size_t index) const {
    JsonPointer p = *this;
    p.text_ += '/' + std::to_string(index);
    return p;
}

std::string quotedExcerpt(std::string_view text) {
    constexpr std::size_t kMax = 40;
    std::string s = "\"";
    for (std::size_t i = 0; i < text.size() && i < kMax; ++i) {
        unsigned char c = (unsigned char)text[i];
        s += c < 0x20 || c == 0x7f ? '?' : (char)c;
    }
    if (text.size() > kMax) s += "...";
    s += '"';
    if (text.size() > kMax) s += " (" + std::to_string(text.size()) + " characters)";
    return s;
}

void badField(const JsonPointer& at, const std::string& reason) {
    // A pointer may hold any member name of the file; keep the message short.
    std::string where = at.str();
    if (where.size() > 200) where = where.substr(0, 200) + "...";
    throw ImageError("machine.json", 0, where + ": " + reason);
}

void requireObject(const nlohmann::json& object, const JsonPointer& at) {
    if (!object.is_object()) badField(at, "expected an object");
}

void onlyMembers(const nlohmann::json& object, std::initializer_list<std::string_view> known, const JsonPointer& at) {
    requireObject(object, at);
    for (auto& [key, value] : object.items()) {
        bool ok = false;
        for (std::string_view k : known) ok = ok || key == k;
        if (!ok) badField(at / key, "unknown member");
    }
}

std::string jsonChoice(const nlohmann::json& j, const char* key, const std::string& fallback,
                       std::initializer_list<std::string_view> names, const JsonPointer& where) {
    std::string v = jsonField<std::string>(j, key, fallback, where);
    std::string list;
    for (std::string_view n : names) {
        if (v == n) return v;
        list += (list.empty() ? "\"" : ", \"") + std::string(n) + "\"";
    }
    badField(where / key, "expected one of " + list + ", found " + quotedExcerpt(v));
}

}  // namespace winsim
