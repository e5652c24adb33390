#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A small JSON reader and a checker for the part of JSON Schema that
// docs/matrix-ctl.schema.json uses, so the tests need nothing new.
namespace mc::test {

struct JsonValue {
    enum Type { Null, Bool, Number, String, Array, Object };
    Type type = Null;
    bool boolean = false;
    double number = 0;
    bool integer = false; // a number written without fraction or exponent
    std::string string;
    std::vector<JsonValue> array;
    std::vector<std::pair<std::string, JsonValue>> object;

    [[nodiscard]] const JsonValue* find(std::string_view key) const;
};

// The whole text must be one value (blanks around it allowed).
std::optional<JsonValue> parseJson(std::string_view text, std::string* error = nullptr);

// Problems found, each with its path ("$.result.outputs[3].input"); empty
// when the value is valid. Keywords: type, enum, const, required, properties,
// additionalProperties (false), items, minItems, maxItems, maxProperties,
// minimum, maximum, oneOf, $ref ("#/$defs/name"). Others are refused as
// unknown, so the schema cannot grow past what is checked.
std::vector<std::string> validateJson(const JsonValue& value, const JsonValue& schema);

} // namespace mc::test
