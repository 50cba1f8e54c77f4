// Reading typed fields of machine.json. Every fault names the value by its
// JSON pointer ("/os/arch", "/drives/C/free", "/services/list/2/state") and
// says what was expected, so a hand-edited image can be mended at once.
#pragma once

#include "winsim/image/image.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace winsim {

// A position in machine.json as a JSON pointer (RFC 6901): member names
// are appended with '~' and '/' escaped, array elements by index.
class JsonPointer {
public:
    JsonPointer() = default;
    JsonPointer operator/(std::string_view member) const;
    JsonPointer operator/(std::size_t index) const;
    // "/" for the document itself.
    std::string str() const { return text_.empty() ? "/" : text_; }

private:
    std::string text_;
};

// Throws ImageError("machine.json", 0, "<pointer>: <reason>").
[[noreturn]] void badField(const JsonPointer& at, const std::string& reason);

// Refuses members of `object` other than `known` (the object itself must
// be a JSON object, else "expected an object").
void requireObject(const nlohmann::json& object, const JsonPointer& at);
void onlyMembers(const nlohmann::json& object, std::initializer_list<std::string_view> known, const JsonPointer& at);

// The value `v` (found at `at`) as T, checked strictly: integers must be
// whole numbers within T's range (so a negative count is refused, never
// wrapped), text must be a string, flags true or false.
template <class T>
T jsonValue(const nlohmann::json& v, const JsonPointer& at) {
    if constexpr (std::is_same_v<T, bool>) {
        if (!v.is_boolean()) badField(at, "expected true or false");
        return v.get<bool>();
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!v.is_string()) badField(at, "expected text");
        return v.get<std::string>();
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        if (!v.is_array()) badField(at, "expected a list of texts");
        std::vector<std::string> out;
        for (std::size_t i = 0; i < v.size(); ++i) out.push_back(jsonValue<std::string>(v[i], at / i));
        return out;
    } else {
        static_assert(std::is_integral_v<T>, "jsonValue: unsupported type");
        if (v.is_number_float()) badField(at, "expected a whole number");
        if (!v.is_number_integer()) badField(at, "expected a number");
        if (v.is_number_unsigned()) {
            std::uint64_t u = v.get<std::uint64_t>();
            if (u > (std::uint64_t)std::numeric_limits<T>::max())
                badField(at, "out of range (at most " + std::to_string(std::numeric_limits<T>::max()) + ")");
            return (T)u;
        }
        std::int64_t s = v.get<std::int64_t>();
        if constexpr (std::is_unsigned_v<T>) {
            if (s >= 0 && (std::uint64_t)s <= (std::uint64_t)std::numeric_limits<T>::max()) return (T)s;
            if (s < 0) badField(at, "must not be negative");
            badField(at, "out of range (at most " + std::to_string(std::numeric_limits<T>::max()) + ")");
        } else {
            if (s < (std::int64_t)std::numeric_limits<T>::min())
                badField(at, "out of range (at least " + std::to_string(std::numeric_limits<T>::min()) + ")");
            if (s >= 0 && (std::uint64_t)s > (std::uint64_t)std::numeric_limits<T>::max())
                badField(at, "out of range (at most " + std::to_string(std::numeric_limits<T>::max()) + ")");
            return (T)s;
        }
    }
}

// The member `key` of `j` as T, or `fallback` when it is absent or null.
template <class T>
T jsonField(const nlohmann::json& j, const char* key, const T& fallback, const JsonPointer& where) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    return jsonValue<T>(*it, where / key);
}

// A whole number of `key` within [lo, hi], or `fallback` when absent.
template <class T>
T jsonFieldIn(const nlohmann::json& j, const char* key, const T& fallback, T lo, T hi, const JsonPointer& where) {
    T v = jsonField<T>(j, key, fallback, where);
    if (v < lo || v > hi)
        badField(where / key, std::to_string(v) + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return v;
}

// One of `names` (the text of member `key`), or `fallback` when absent.
std::string jsonChoice(const nlohmann::json& j, const char* key, const std::string& fallback,
                       std::initializer_list<std::string_view> names, const JsonPointer& where);

}  // namespace winsim
