#pragma once

#include "sim/edid_image.h"

#include <array>
#include <cstdint>
#include <string>

namespace mc::sim {

inline constexpr int kPortCount = 16; // inputs and outputs alike
inline constexpr int kUserSlotCount = 3;

// EDID source indices, as the console's EDID choice lists them: 0-29 the
// built-ins, 30-32 the input's user slots 1-3, 33-48 a copy of the display
// on output 1-16.
inline constexpr int kFirstUserSlotIndex = 30;
inline constexpr int kFirstCopyIndex = kFirstUserSlotIndex + kUserSlotCount;
inline constexpr int kLastSourceIndex = kFirstCopyIndex + kPortCount - 1;

struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};
    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

struct NetworkSettings {
    bool dhcp = false;
    Ipv4Address host{{192, 168, 0, 100}};
    Ipv4Address netMask{{255, 255, 255, 0}};
    Ipv4Address router{{192, 168, 0, 1}};
    std::string tcpPort = "5000";          // 1 to 4 digits
    std::string mac = "00:1A:2B:3C:4D:5E"; // always 17 characters, upper case
};

// Everything the switcher remembers. Ports, slots and indices are numbered as
// on the wire (from 1; source indices from 0); out-of-range arguments throw
// std::out_of_range, so callers check what came off the line first.
class SwitcherState {
public:
    // Output n shows input n, input n presents built-in EDID n - 1 (so every
    // input reports a different choice), all audio on, user slots erased
    // (all 0xff), the displays from the embedded EDIDs.
    SwitcherState();

    [[nodiscard]] int routedInput(int output) const;
    void route(int output, int input);

    [[nodiscard]] int edidChoice(int input) const;
    void chooseEdid(int input, int sourceIndex);

    [[nodiscard]] bool audioOn(int output) const;
    void setAudioOn(int output, bool on);

    [[nodiscard]] const EdidImage& userSlot(int input, int slot) const;
    void storeUserSlot(int input, int slot, const EdidImage& image);

    [[nodiscard]] const EdidImage& display(int output) const;

    // The EDID that input would present with that source index.
    [[nodiscard]] EdidImage presentedEdid(int input, int sourceIndex) const;

    [[nodiscard]] NetworkSettings& network() { return network_; }
    [[nodiscard]] const NetworkSettings& network() const { return network_; }

private:
    std::array<int, kPortCount> routes_{};
    std::array<int, kPortCount> edidChoices_{};
    std::array<bool, kPortCount> audioOn_{};
    std::array<std::array<EdidImage, kUserSlotCount>, kPortCount> userSlots_{};
    std::array<EdidImage, kPortCount> displays_{};
    NetworkSettings network_;
};

} // namespace mc::sim
