// Reading typed fields of a machine.json section.
#pragma once

#include "winsim/image/image.h"

#include <nlohmann/json.hpp>

#include <string>

namespace winsim {

// The value of `key` in `j`, or `fallback` when it is absent or null. A value
// of the wrong type is a damaged image: ImageError naming `where`.key.
template <class T>
T jsonField(const nlohmann::json& j, const char* key, const T& fallback, const std::string& where) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return fallback;
    try {
        return it->get<T>();
    } catch (const nlohmann::json::exception&) {
        throw ImageError("machine.json", 0, where + "." + key + ": wrong type");
    }
}

}  // namespace winsim
