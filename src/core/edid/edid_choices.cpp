#include "edid/edid_choices.h"

namespace mc {

// Kept letter for letter, as the switcher's EDID choices are known to the
// operators: the trailing blanks, the blank after some "_" and the mixed
// "Hz"/"HZ" included.
const std::array<std::string_view, kInputEdidItemCount> kInputEdidItems = {
    "1080P_2CH(PCM) ",
    "1080P_ audio5.1",
    "1080P_ audio7.1",
    "1080P_3D_2CH(PCM) ",
    "1080P_3D_ audio5.1",
    "1080P_3D_ audio7.1",
    "4K30Hz_3D_2CH(PCM)",
    "4K30Hz_3D_ audio5.1",
    "4K30Hz_3D_ audio7.1",
    "4K60Hz(Y420)_3D_2CH(PCM) ",
    "4K60Hz(Y420)_3D_ audio5.1",
    "4K60Hz(Y420)_3D_ audio7.1",
    "4K60HZ(4:4:4)_3D_2CH(PCM)",
    "4K60Hz(4:4:4)_3D_ audio5.1",
    "4K60Hz(4:4:4)_3D_ audio7.1",
    "1080P_2CH_HDR",
    "1080P_audio5.1_HDR",
    "1080P_audio7.1_HDR",
    "1080P_3D_2CH_HDR",
    "1080P_3D_audio5.1_HDR",
    "1080P_3D_audio7.1_HDR",
    "4K30HZ_3D_2CH_HDR",
    "4K30HZ_3D_audio5.1_HDR ",
    "4K30HZ_3D_audio7.1_HDR ",
    "4K60HzY420_3D_2CH_HDR",
    "4K60HzY420_3D_5.1_HDR",
    "4K60HzY420_3D_7.1_HDR",
    "4K60HZ_3D_2CH_HDR",
    "4K60HZ_3D_5.1_HDR",
    "4K60HZ_3D_7.1_HDR",
    "User EDID1",
    "User EDID2",
    "User EDID3",
    "From Out1",
    "From Out2",
    "From Out3",
    "From Out4",
    "From Out5",
    "From Out6",
    "From Out7",
    "From Out8",
    "From Out9",
    "From Out10",
    "From Out11",
    "From Out12",
    "From Out13",
    "From Out14",
    "From Out15",
    "From Out16",
};

namespace {

constexpr std::string_view kOutPortPrefix = "Out port ";
constexpr std::string_view kInputPortPrefix = "Input port ";
constexpr std::string_view kUserSlotInputPrefix = "In";
constexpr std::string_view kUserSlotInfix = " User ";

} // namespace

std::optional<EdidPort> readPortOfItem(int item) {
    if (item < 0 || item >= kReadPortItemCount) {
        return std::nullopt;
    }
    if (item < kLastPort) {
        return EdidPort{EdidPort::Output, item + 1};
    }
    return EdidPort{EdidPort::Input, item - kLastPort + 1};
}

std::string readPortItemText(int item) {
    const auto port = readPortOfItem(item);
    if (!port) {
        return {};
    }
    std::string text(port->kind == EdidPort::Output ? kOutPortPrefix : kInputPortPrefix);
    return text + std::to_string(port->port);
}

std::optional<UserSlot> userSlotOfItem(int item) {
    if (item < 0 || item >= kUserSlotItemCount) {
        return std::nullopt;
    }
    return UserSlot{item / kLastUserSlot + 1, item % kLastUserSlot + 1};
}

std::string userSlotItemText(int item) {
    const auto slot = userSlotOfItem(item);
    if (!slot) {
        return {};
    }
    std::string text(kUserSlotInputPrefix);
    text += std::to_string(slot->input);
    text += kUserSlotInfix;
    return text + std::to_string(slot->slot);
}

std::string edidReadFilePattern(const EdidPort& port) {
    std::string pattern(port.kind == EdidPort::Output ? kOutputEdidFileStem : kInputEdidFileStem);
    pattern += std::to_string(port.port);
    pattern += kEdidFileSerialSuffix;
    return pattern;
}

} // namespace mc
