#include "json.h"

#include <utility>

namespace mc::ctl {
namespace {

// A reply line may hold any byte: each one becomes the code point of its
// value (as in Latin-1), so the string is valid UTF-8 whatever came in.
std::string asCodePoints(std::string_view bytes) {
    constexpr unsigned kFirstNonAscii = 0x80;
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < kFirstNonAscii) {
            text.push_back(c);
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

// The library writes backspace and form feed as \b and \f and DEL as it is;
// matrix-ctl has always written all three as \u00XX, and scripts compare the
// documents byte for byte.
std::string withEveryControlAsCodePoint(const std::string& dumped) {
    std::string out;
    out.reserve(dumped.size());
    for (std::size_t at = 0; at < dumped.size(); ++at) {
        const char c = dumped[at];
        if (c == '\x7f') {
            out.append("\\u007f");
        } else if (c == '\\' && at + 1 < dumped.size()) {
            const char escaped = dumped[++at];
            if (escaped == 'b') {
                out.append("\\u0008");
            } else if (escaped == 'f') {
                out.append("\\u000c");
            } else {
                out.push_back(c);
                out.push_back(escaped);
            }
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

Json::Json(std::string_view value) : value_(asCodePoints(value)) {
}

Json Json::object() {
    Json json;
    json.value_ = nlohmann::ordered_json::object();
    return json;
}

Json Json::array() {
    Json json;
    json.value_ = nlohmann::ordered_json::array();
    return json;
}

Json& Json::set(std::string_view key, Json value) {
    value_[asCodePoints(key)] = std::move(value.value_);
    return *this;
}

Json& Json::push(Json value) {
    value_.push_back(std::move(value.value_));
    return *this;
}

std::string Json::dump() const {
    constexpr int kCompact = -1;
    constexpr bool kAsciiOnly = true;
    return withEveryControlAsCodePoint(value_.dump(kCompact, ' ', kAsciiOnly));
}

} // namespace mc::ctl
