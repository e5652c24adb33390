#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Where a value of a JSON text starts, so a fault found in the parsed
// document (by its JSON pointer) can be shown at its line and column, as an
// editor counts them; and the faults a parsed document no longer shows.
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

    // text must already have parsed as JSON; it is walked once, not checked.
    // Only the value at wanted (a JSON pointer) is located, so a large text
    // costs no memory beyond the walk's own.
    JsonPositions(std::string_view text, const std::string& wanted);

    // Byte offset of the first character of the wanted value, or (atKey) of
    // the object key that names it; nullopt when the text has no such value.
    [[nodiscard]] std::optional<std::size_t> offset(bool atKey = false) const { return atKey ? key_ : value_; }

    // The first key met twice in one object (a parsed document keeps only
    // one of them) or the first value nested too deeply: where, and what.
    struct Fault {
        std::size_t offset = 0;
        std::string message;
    };
    [[nodiscard]] const std::optional<Fault>& fault() const { return fault_; }

private:
    std::optional<std::size_t> value_;
    std::optional<std::size_t> key_;
    std::optional<Fault> fault_;
};

} // namespace mc
