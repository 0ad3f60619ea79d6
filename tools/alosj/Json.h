// JSON text as alosj writes it.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace alosj {

/// The JSON text of `value`, indented by `indent` spaces (one line when
/// negative).  Paths and product records may hold bytes that are not UTF-8
/// (a Latin-1 "é" in a directory name or a scene ID): each such byte is
/// written as U+FFFD, so that every document alosj writes is valid JSON.
template <class Json>
std::string JsonText(const Json& value, int indent = -1) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace alosj
