#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Where each value of a JSON text starts, so a fault found in the parsed
// document (by its JSON pointer) can be shown at its line and column, as an
// editor counts them.
namespace mc {

struct TextPosition {
    int line = 1;
    int column = 1; // in characters (UTF-8 code points), from 1
};

// A JSON pointer one step further: ("/presets", "0") gives "/presets/0",
// with '~' and '/' in a key escaped as the pointer syntax asks.
[[nodiscard]] std::string jsonPointerChild(const std::string& pointer, std::string_view key);

// The line and column of byte offset in text.
[[nodiscard]] TextPosition textPositionAt(std::string_view text, std::size_t offset);

class JsonPositions {
public:
    // Nesting deeper than this is refused: nothing in the files read here
    // comes near it, and it bounds the work on a hostile file.
    static constexpr std::size_t kMaxDepth = 64;

    // text must already have parsed as JSON; it is indexed, not checked.
    explicit JsonPositions(std::string_view text);

    // Byte offset of the first character of the value at pointer, or (atKey)
    // of the object key that names it.
    [[nodiscard]] std::optional<std::size_t> offsetOf(const std::string& pointer, bool atKey = false) const;

    // The first key met twice in one object (a parsed document keeps only
    // one of them) or the first value nested too deeply: where, and what.
    struct Fault {
        std::size_t offset = 0;
        std::string message;
    };
    [[nodiscard]] const std::optional<Fault>& fault() const { return fault_; }

private:
    std::map<std::string, std::size_t> values_;
    std::map<std::string, std::size_t> keys_;
    std::optional<Fault> fault_;
};

} // namespace mc
