#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The little JSON matrix-ctl prints: built as a value, written in one go.
namespace mc::ctl {

class Json {
public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>; // keys in insertion order

    Json() = default; // null
    Json(std::nullptr_t) {}
    Json(bool value) : value_(value) {}
    Json(int value) : value_(static_cast<std::int64_t>(value)) {}
    Json(std::int64_t value) : value_(value) {}
    Json(std::string value) : value_(std::move(value)) {}
    Json(std::string_view value) : value_(std::string(value)) {}
    Json(const char* value) : value_(std::string(value)) {}
    Json(Array value) : value_(std::move(value)) {}
    Json(Object value) : value_(std::move(value)) {}

    static Json object() { return {Object{}}; }
    static Json array() { return {Array{}}; }

    // On an object: sets (or replaces) a member. On an array: appends.
    Json& set(std::string_view key, Json value);
    Json& push(Json value);

    // Compact, one line. Bytes outside printable ASCII are written as \u00XX
    // (the byte as a code point), so any reply line gives valid UTF-8.
    [[nodiscard]] std::string dump() const;

private:
    void write(std::string& out) const;
    std::variant<std::nullptr_t, bool, std::int64_t, std::string, Array, Object> value_;
};

} // namespace mc::ctl
