#pragma once

#include "session/console_state.h"
#include "session/reply_views.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace mc {

// One reply line, decoded. Port numbers are 1..16 for one port and 0 for all
// of them; std::nullopt when the line names no port the keyword accepts, so
// the reply selects nothing. Indexes the line spells badly are std::nullopt
// too: they select nothing either.

// "VS ": the input now routed to an output.
struct RoutingReply {
    std::optional<int> output;
    std::optional<int> input; // 0-based
    friend bool operator==(const RoutingReply&, const RoutingReply&) = default;
};

// "EDID ": the EDID choice of an input.
struct EdidChoiceReply {
    std::optional<int> input;
    std::optional<int> item;
    friend bool operator==(const EdidChoiceReply&, const EdidChoiceReply&) = default;
};

// "MAC ".
struct MacReply {
    std::string text;
    friend bool operator==(const MacReply&, const MacReply&) = default;
};

// "HIP ", "NMK ", "RIP ".
struct AddressReply {
    enum Kind { Host, NetMask, Router };
    Kind kind = Host;
    std::uint32_t address = 0; // first octet highest
    friend bool operator==(const AddressReply&, const AddressReply&) = default;
};

// "TIP ".
struct TcpPortReply {
    std::string text;
    friend bool operator==(const TcpPortReply&, const TcpPortReply&) = default;
};

// "DHCP ".
struct DhcpReply {
    bool on = false;
    friend bool operator==(const DhcpReply&, const DhcpReply&) = default;
};

// "EXA " and "ASS ": audio On or Mute of an output.
struct AudioReply {
    std::optional<int> output;
    AudioState state = AudioState::Mute;
    friend bool operator==(const AudioReply&, const AudioReply&) = default;
};

// "VIDEO " (scaler mode) and "IMAGE ENH " (4K enhancement) of an output: the
// console shows neither, only some of them redraw the audio page. output is the
// single digit as read (0 = all), std::nullopt when there is none.
struct ScalerReply {
    std::optional<int> output;
    friend bool operator==(const ScalerReply&, const ScalerReply&) = default;
};
struct EnhancementReply {
    std::optional<int> output;
    friend bool operator==(const EnhancementReply&, const EnhancementReply&) = default;
};

// No keyword, "EXADL ", or a line too short for its keyword's fixed fields.
struct IgnoredReply {
    friend bool operator==(const IgnoredReply&, const IgnoredReply&) = default;
};

using Reply = std::variant<IgnoredReply, RoutingReply, EdidChoiceReply, MacReply, AddressReply, TcpPortReply, DhcpReply,
                           AudioReply, ScalerReply, EnhancementReply>;

// Finds the first keyword of the line (in the switcher's fixed order) and reads
// its fields. The line ends at its first NUL. Every field is read inside the
// line: a field whose position lies before the line's start or at/after its end
// yields no value (see the .cpp for each field).
Reply decodeReply(std::string_view line);

// What the switcher answers to a command it refuses, anywhere in the line.
inline constexpr std::string_view kErrorReply = "ERROR";
[[nodiscard]] bool isErrorReply(std::string_view line);

// Besides all outputs, an enhancement report for this output digit redraws the
// audio page too.
inline constexpr int kEnhancementRedrawOutput = 8;

// Whether a scaler or enhancement report redraws the audio page; no other
// reply does by itself.
[[nodiscard]] bool redrawsAudioPage(const Reply& reply);

// Tells the state model each value a decoded reply reports, one call per port
// for a reply to all ports.
void reportReply(const Reply& reply, SwitchReportView& reports);

// Shows a decoded reply on the views, with each keyword's redraw rule, and
// reports its values to views.reports when there is one.
void applyReply(const Reply& reply, const ReplyViews& views);

// The text reply parser: handles one complete line in text mode. While a
// device search waits, any line first confirms it through the connection.
class ReplyParser {
public:
    ReplyParser(const ConsoleState& state, ReplyViews views) : state_(state), views_(std::move(views)) {}

    void handleLine(std::string_view line);

private:
    const ConsoleState& state_;
    ReplyViews views_;
};

} // namespace mc
