#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// The JSON matrix-ctl prints: built as a value, written in one go. Members
// keep the order they were set in; scripts read the documents, so the bytes
// written stay as they always were.
namespace mc::ctl {

class Json {
public:
    Json() : value_(nullptr) {} // null
    Json(std::nullptr_t) {}
    Json(bool value) : value_(value) {}
    Json(int value) : value_(static_cast<std::int64_t>(value)) {}
    Json(std::int64_t value) : value_(value) {}
    Json(std::string_view value);
    Json(const std::string& value) : Json(std::string_view(value)) {}
    Json(const char* value) : Json(std::string_view(value)) {}

    static Json object();
    static Json array();

    // On an object: sets (or replaces, in its place) a member. On an array:
    // appends.
    Json& set(std::string_view key, Json value);
    Json& push(Json value);

    // Compact, one line, printable ASCII only: every other byte of a string
    // is written as \u00XX (the byte as a code point), so any reply line
    // gives valid UTF-8.
    [[nodiscard]] std::string dump() const;

private:
    nlohmann::ordered_json value_;
};

} // namespace mc::ctl
