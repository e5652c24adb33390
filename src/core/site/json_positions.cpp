#include "site/json_positions.h"

#include <nlohmann/json.hpp>
#include <set>
#include <vector>

namespace mc {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// One open object or array while the text is walked.
struct Container {
    bool object = false;
    std::string pointer;
    std::size_t nextIndex = 0;
    std::set<std::string> keys;
};

} // namespace

std::string jsonPointerChild(const std::string& pointer, std::string_view key) {
    std::string out = pointer + "/";
    for (const char c : key) {
        if (c == '~') {
            out += "~0";
        } else if (c == '/') {
            out += "~1";
        } else {
            out += c;
        }
    }
    return out;
}

TextPosition textPositionAt(std::string_view text, std::size_t offset) {
    TextPosition position;
    offset = std::min(offset, text.size());
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++position.line;
            position.column = 1;
        } else if (!isContinuationByte(text[i])) {
            ++position.column;
        }
    }
    return position;
}

// Walks the text once with an explicit stack (no recursion, so no depth can
// exhaust the thread's stack), recording where each value and key starts.
JsonPositions::JsonPositions(std::string_view text) {
    std::size_t pos = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    std::vector<Container> open;
    std::string pointer; // of the value expected next
    enum class Expect { Value, KeyOrClose, ValueOrClose, Key, CommaOrClose };
    Expect expect = Expect::Value;

    const auto skipSpace = [&] {
        while (pos < text.size() && isSpace(text[pos])) {
            ++pos;
        }
    };
    const auto stringEnd = [&](std::size_t start) {
        std::size_t i = start + 1;
        while (i < text.size() && text[i] != '"') {
            i += text[i] == '\\' ? 2 : 1;
        }
        return std::min(i + 1, text.size());
    };

    while (true) {
        skipSpace();
        if (pos >= text.size()) {
            return;
        }
        const char c = text[pos];
        switch (expect) {
        case Expect::KeyOrClose:
        case Expect::ValueOrClose:
            if (c == '}' || c == ']') {
                ++pos;
                open.pop_back();
                expect = Expect::CommaOrClose;
                break;
            }
            if (expect == Expect::ValueOrClose) {
                pointer = jsonPointerChild(open.back().pointer, std::to_string(open.back().nextIndex++));
                expect = Expect::Value;
                break;
            }
            [[fallthrough]];
        case Expect::Key: {
            const std::size_t end = stringEnd(pos);
            const auto key = nlohmann::json::parse(text.substr(pos, end - pos)).get<std::string>();
            pointer = jsonPointerChild(open.back().pointer, key);
            if (!open.back().keys.insert(key).second && !fault_) {
                fault_ = Fault{pos, "duplicate key \"" + key + "\""};
            }
            keys_.emplace(pointer, pos);
            pos = end;
            skipSpace();
            ++pos; // the colon
            expect = Expect::Value;
            break;
        }
        case Expect::Value:
            values_.emplace(pointer, pos);
            if (c == '{' || c == '[') {
                if (open.size() >= kMaxDepth) {
                    fault_ = Fault{pos, "nested more than " + std::to_string(kMaxDepth) + " levels deep"};
                    return;
                }
                open.push_back(Container{c == '{', pointer, 0, {}});
                ++pos;
                expect = c == '{' ? Expect::KeyOrClose : Expect::ValueOrClose;
                break;
            }
            if (c == '"') {
                pos = stringEnd(pos);
            } else {
                while (pos < text.size() && !isSpace(text[pos]) && text[pos] != ',' && text[pos] != '}' &&
                       text[pos] != ']') {
                    ++pos;
                }
            }
            expect = Expect::CommaOrClose;
            break;
        case Expect::CommaOrClose:
            if (open.empty()) {
                return;
            }
            ++pos;
            if (c == ',') {
                if (open.back().object) {
                    expect = Expect::Key;
                } else {
                    pointer = jsonPointerChild(open.back().pointer, std::to_string(open.back().nextIndex++));
                    expect = Expect::Value;
                }
            } else {
                open.pop_back();
            }
            break;
        }
    }
}

std::optional<std::size_t> JsonPositions::offsetOf(const std::string& pointer, bool atKey) const {
    const auto& index = atKey ? keys_ : values_;
    const auto found = index.find(pointer);
    if (found == index.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace mc
