#pragma once

#include "link/commands.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

// The items of the EDID management page's drop-downs and what each item
// stands for on the wire.
namespace mc {

// An input's EDID choice; the item index is the value the apply command and
// the switcher's EDID status replies carry: 0-29 the built-in EDIDs, 30-32 the
// input's user slots, 33-48 a copy of output (index - 32).
inline constexpr int kInputEdidItemCount = kLastEdidChoice + 1;
extern const std::array<std::string_view, kInputEdidItemCount> kInputEdidItems;

// A port an EDID is read back from.
struct EdidPort {
    enum Kind { Output, Input };
    Kind kind = Output;
    int port = kFirstPort;

    friend bool operator==(const EdidPort&, const EdidPort&) = default;
};

// Read-port selector: "Out port 1" to "Out port 16", then "Input port 1" to
// "Input port 16".
inline constexpr int kReadPortItemCount = 2 * kLastPort;
[[nodiscard]] std::optional<EdidPort> readPortOfItem(int item);
// Empty for an item the selector does not have.
[[nodiscard]] std::string readPortItemText(int item);

// A user slot of an input that an EDID file is uploaded into.
struct UserSlot {
    int input = kFirstPort;
    int slot = kFirstUserSlot;

    friend bool operator==(const UserSlot&, const UserSlot&) = default;
};

// User slot selector: "In1 User 1", "In1 User 2", "In1 User 3", "In2 User 1"
// and so on to "In16 User 3".
inline constexpr int kUserSlotItemCount = kLastPort * kLastUserSlot;
[[nodiscard]] std::optional<UserSlot> userSlotOfItem(int item);
// Empty for an item the selector does not have.
[[nodiscard]] std::string userSlotItemText(int item);

// Names of the files an EDID read back from a port is saved under: a stem for
// the port kind, the port number and a two-digit serial that the read-back
// fills in ("Matrix_EDID_out1_%02d.bin").
inline constexpr std::string_view kOutputEdidFileStem = "Matrix_EDID_out";
inline constexpr std::string_view kInputEdidFileStem = "Matrix_EDID_inp";
inline constexpr std::string_view kEdidFileSerialSuffix = "_%02d.bin";
[[nodiscard]] std::string edidReadFilePattern(const EdidPort& port);

} // namespace mc
