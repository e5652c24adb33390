#include "json.h"

#include <array>

namespace mc::ctl {
namespace {

void writeString(std::string& out, std::string_view text) {
    static constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                  '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out.append("\\\"");
            continue;
        case '\\':
            out.append("\\\\");
            continue;
        case '\n':
            out.append("\\n");
            continue;
        case '\r':
            out.append("\\r");
            continue;
        case '\t':
            out.append("\\t");
            continue;
        default:
            break;
        }
        if (byte < 0x20 || byte >= 0x7F) {
            out.append("\\u00");
            out.push_back(kHex.at(byte >> 4));
            out.push_back(kHex.at(byte & 0xF));
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

} // namespace

Json& Json::set(std::string_view key, Json value) {
    auto& members = std::get<Object>(value_);
    for (auto& [name, member] : members) {
        if (name == key) {
            member = std::move(value);
            return *this;
        }
    }
    members.emplace_back(std::string(key), std::move(value));
    return *this;
}

Json& Json::push(Json value) {
    std::get<Array>(value_).push_back(std::move(value));
    return *this;
}

std::string Json::dump() const {
    std::string out;
    write(out);
    return out;
}

void Json::write(std::string& out) const {
    if (std::holds_alternative<std::nullptr_t>(value_)) {
        out.append("null");
    } else if (const auto* b = std::get_if<bool>(&value_)) {
        out.append(*b ? "true" : "false");
    } else if (const auto* n = std::get_if<std::int64_t>(&value_)) {
        out.append(std::to_string(*n));
    } else if (const auto* s = std::get_if<std::string>(&value_)) {
        writeString(out, *s);
    } else if (const auto* a = std::get_if<Array>(&value_)) {
        out.push_back('[');
        for (std::size_t i = 0; i < a->size(); ++i) {
            if (i > 0) {
                out.push_back(',');
            }
            (*a)[i].write(out);
        }
        out.push_back(']');
    } else {
        const auto& o = std::get<Object>(value_);
        out.push_back('{');
        for (std::size_t i = 0; i < o.size(); ++i) {
            if (i > 0) {
                out.push_back(',');
            }
            writeString(out, o[i].first);
            out.push_back(':');
            o[i].second.write(out);
        }
        out.push_back('}');
    }
}

} // namespace mc::ctl
