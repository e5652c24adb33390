#include "cli/json_schema.h"

#include <cmath>
#include <cstdlib>
#include <set>

namespace mc::test {

const JsonValue* JsonValue::find(std::string_view key) const {
    for (const auto& [name, value] : object) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> document(std::string* error) {
        auto value = parseValue(0);
        skipBlanks();
        if (value && pos_ != text_.size()) {
            fail("text after the value");
            value.reset();
        }
        if (!value && error != nullptr) {
            *error = error_ + " at " + std::to_string(pos_);
        }
        return value;
    }

private:
    static constexpr int kMaxDepth = 64;

    void skipBlanks() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }
    void fail(std::string what) {
        if (error_.empty()) {
            error_ = std::move(what);
        }
    }
    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

    std::optional<JsonValue> parseValue(int depth) {
        if (depth > kMaxDepth) {
            fail("too deep");
            return std::nullopt;
        }
        skipBlanks();
        if (pos_ >= text_.size()) {
            fail("value expected");
            return std::nullopt;
        }
        JsonValue value;
        const char c = text_[pos_];
        if (literal("null")) {
            return value;
        }
        if (literal("true") || literal("false")) {
            value.type = JsonValue::Bool;
            value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
            return value;
        }
        if (c == '"') {
            value.type = JsonValue::String;
            if (!parseString(value.string)) {
                return std::nullopt;
            }
            return value;
        }
        if (c == '[') {
            ++pos_;
            value.type = JsonValue::Array;
            skipBlanks();
            if (pos_ < text_.size() && text_[pos_] == ']') {
                ++pos_;
                return value;
            }
            while (true) {
                auto item = parseValue(depth + 1);
                if (!item) {
                    return std::nullopt;
                }
                value.array.push_back(std::move(*item));
                skipBlanks();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == ']') {
                    ++pos_;
                    return value;
                }
                fail("',' or ']' expected");
                return std::nullopt;
            }
        }
        if (c == '{') {
            ++pos_;
            value.type = JsonValue::Object;
            skipBlanks();
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return value;
            }
            while (true) {
                skipBlanks();
                std::string key;
                if (pos_ >= text_.size() || text_[pos_] != '"' || !parseString(key)) {
                    fail("member name expected");
                    return std::nullopt;
                }
                skipBlanks();
                if (pos_ >= text_.size() || text_[pos_] != ':') {
                    fail("':' expected");
                    return std::nullopt;
                }
                ++pos_;
                auto member = parseValue(depth + 1);
                if (!member) {
                    return std::nullopt;
                }
                if (value.find(key) != nullptr) {
                    fail("duplicate member " + key);
                    return std::nullopt;
                }
                value.object.emplace_back(std::move(key), std::move(*member));
                skipBlanks();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == '}') {
                    ++pos_;
                    return value;
                }
                fail("',' or '}' expected");
                return std::nullopt;
            }
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            const std::size_t start = pos_;
            if (text_[pos_] == '-') {
                ++pos_;
            }
            bool fraction = false;
            while (pos_ < text_.size() &&
                   std::string_view("0123456789.eE+-").find(text_[pos_]) != std::string_view::npos) {
                fraction = fraction || text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E';
                ++pos_;
            }
            const std::string number(text_.substr(start, pos_ - start));
            char* end = nullptr;
            value.type = JsonValue::Number;
            value.number = std::strtod(number.c_str(), &end);
            value.integer = !fraction;
            if (end != number.c_str() + number.size()) {
                fail("bad number");
                return std::nullopt;
            }
            return value;
        }
        fail("unexpected character");
        return std::nullopt;
    }

    bool parseString(std::string& out) {
        ++pos_; // the opening quote
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("raw control character in a string");
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (pos_ >= text_.size()) {
                break;
            }
            const char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out.push_back(e);
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'u': {
                if (pos_ + 4 > text_.size()) {
                    fail("short \\u escape");
                    return false;
                }
                const std::string hex(text_.substr(pos_, 4));
                char* end = nullptr;
                const long code = std::strtol(hex.c_str(), &end, 16);
                if (end != hex.c_str() + 4) {
                    fail("bad \\u escape");
                    return false;
                }
                pos_ += 4;
                // UTF-8 of the code point (no surrogate pairs needed here).
                if (code < 0x80) {
                    out.push_back(static_cast<char>(code));
                } else if (code < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                }
                break;
            }
            default:
                fail("bad escape");
                return false;
            }
        }
        fail("unterminated string");
        return false;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

bool sameJson(const JsonValue& a, const JsonValue& b) {
    if (a.type != b.type) {
        return false;
    }
    switch (a.type) {
    case JsonValue::Null:
        return true;
    case JsonValue::Bool:
        return a.boolean == b.boolean;
    case JsonValue::Number:
        return a.number == b.number;
    case JsonValue::String:
        return a.string == b.string;
    default:
        return false; // enum and const hold scalars only in this schema
    }
}

bool hasType(const JsonValue& value, const std::string& type) {
    switch (value.type) {
    case JsonValue::Null:
        return type == "null";
    case JsonValue::Bool:
        return type == "boolean";
    case JsonValue::Number:
        return type == "number" || (type == "integer" && value.integer);
    case JsonValue::String:
        return type == "string";
    case JsonValue::Array:
        return type == "array";
    case JsonValue::Object:
        return type == "object";
    }
    return false;
}

class Validator {
public:
    explicit Validator(const JsonValue& root) : root_(root) {}

    void check(const JsonValue& value, const JsonValue& schema, const std::string& path) {
        static const std::set<std::string> kKnown = {"$schema",
                                                     "$id",
                                                     "title",
                                                     "description",
                                                     "$defs",
                                                     "type",
                                                     "enum",
                                                     "const",
                                                     "required",
                                                     "properties",
                                                     "additionalProperties",
                                                     "items",
                                                     "minItems",
                                                     "maxItems",
                                                     "maxProperties",
                                                     "minimum",
                                                     "maximum",
                                                     "oneOf",
                                                     "$ref"};
        for (const auto& [keyword, argument] : schema.object) {
            if (kKnown.count(keyword) == 0) {
                problem(path, "schema keyword not checked here: " + keyword);
            }
        }
        if (const JsonValue* ref = schema.find("$ref")) {
            const std::string prefix = "#/$defs/";
            const JsonValue* defs = root_.find("$defs");
            const JsonValue* target = ref->string.rfind(prefix, 0) == 0 && defs != nullptr
                                          ? defs->find(ref->string.substr(prefix.size()))
                                          : nullptr;
            if (target == nullptr) {
                problem(path, "unresolved $ref " + ref->string);
            } else {
                check(value, *target, path);
            }
        }
        if (const JsonValue* type = schema.find("type")) {
            bool ok = false;
            if (type->type == JsonValue::String) {
                ok = hasType(value, type->string);
            } else {
                for (const JsonValue& t : type->array) {
                    ok = ok || hasType(value, t.string);
                }
            }
            if (!ok) {
                problem(path, "wrong type");
                return;
            }
        }
        if (const JsonValue* constant = schema.find("const"); constant != nullptr && !sameJson(value, *constant)) {
            problem(path, "not the constant");
        }
        if (const JsonValue* choices = schema.find("enum")) {
            bool found = false;
            for (const JsonValue& choice : choices->array) {
                found = found || sameJson(value, choice);
            }
            if (!found) {
                problem(path, "not one of the enum");
            }
        }
        if (value.type == JsonValue::Number) {
            if (const JsonValue* min = schema.find("minimum"); min != nullptr && value.number < min->number) {
                problem(path, "below minimum");
            }
            if (const JsonValue* max = schema.find("maximum"); max != nullptr && value.number > max->number) {
                problem(path, "above maximum");
            }
        }
        if (value.type == JsonValue::Array) {
            if (const JsonValue* min = schema.find("minItems"); min != nullptr && value.array.size() < min->number) {
                problem(path, "too few items");
            }
            if (const JsonValue* max = schema.find("maxItems"); max != nullptr && value.array.size() > max->number) {
                problem(path, "too many items");
            }
            if (const JsonValue* items = schema.find("items")) {
                for (std::size_t i = 0; i < value.array.size(); ++i) {
                    check(value.array[i], *items, path + "[" + std::to_string(i) + "]");
                }
            }
        }
        if (value.type == JsonValue::Object) {
            if (const JsonValue* max = schema.find("maxProperties");
                max != nullptr && value.object.size() > max->number) {
                problem(path, "too many members");
            }
            if (const JsonValue* required = schema.find("required")) {
                for (const JsonValue& name : required->array) {
                    if (value.find(name.string) == nullptr) {
                        problem(path, "missing member " + name.string);
                    }
                }
            }
            const JsonValue* properties = schema.find("properties");
            const JsonValue* additional = schema.find("additionalProperties");
            for (const auto& [name, member] : value.object) {
                const JsonValue* memberSchema = properties != nullptr ? properties->find(name) : nullptr;
                if (memberSchema != nullptr) {
                    check(member, *memberSchema, path + "." + name);
                } else if (additional != nullptr && additional->type == JsonValue::Bool && !additional->boolean) {
                    problem(path, "member not in the schema: " + name);
                }
            }
        }
        if (const JsonValue* branches = schema.find("oneOf")) {
            int matches = 0;
            for (const JsonValue& branch : branches->array) {
                Validator trial(root_);
                trial.check(value, branch, path);
                matches += trial.problems_.empty() ? 1 : 0;
            }
            if (matches != 1) {
                problem(path, "matches " + std::to_string(matches) + " branches of oneOf, not 1");
            }
        }
    }

    std::vector<std::string> problems_;

private:
    void problem(const std::string& path, const std::string& what) { problems_.push_back(path + ": " + what); }
    const JsonValue& root_;
};

} // namespace

std::optional<JsonValue> parseJson(std::string_view text, std::string* error) {
    return Reader(text).document(error);
}

std::vector<std::string> validateJson(const JsonValue& value, const JsonValue& schema) {
    Validator validator(schema);
    validator.check(value, schema, "$");
    return validator.problems_;
}

} // namespace mc::test
