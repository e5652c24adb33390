#include "sim/switcher_state.h"

#include "sim/builtin_edids.h"
#include "sim/display_edids.h"

#include <stdexcept>
#include <string>

namespace mc::sim {

namespace {

std::size_t checked(int value, int first, int last, const char* what) {
    if (value < first || value > last) {
        throw std::out_of_range(std::string(what) + " " + std::to_string(value));
    }
    return static_cast<std::size_t>(value - first);
}

std::size_t port(int number) {
    return checked(number, 1, kPortCount, "port");
}

} // namespace

SwitcherState::SwitcherState() {
    const auto embedded = displayEdids();
    for (int n = 1; n <= kPortCount; ++n) {
        routes_[port(n)] = n;
        edidChoices_[port(n)] = n - 1;
        audioOn_[port(n)] = true;
        for (auto& slot : userSlots_[port(n)]) {
            slot.fill(0xff);
        }
        displays_[port(n)] = embedded[port(n) % embedded.size()].image;
    }
}

int SwitcherState::routedInput(int output) const {
    return routes_[port(output)];
}

void SwitcherState::route(int output, int input) {
    routes_[port(output)] = static_cast<int>(port(input)) + 1;
}

int SwitcherState::edidChoice(int input) const {
    return edidChoices_[port(input)];
}

void SwitcherState::chooseEdid(int input, int sourceIndex) {
    checked(sourceIndex, 0, kLastSourceIndex, "EDID source index");
    edidChoices_[port(input)] = sourceIndex;
}

bool SwitcherState::audioOn(int output) const {
    return audioOn_[port(output)];
}

void SwitcherState::setAudioOn(int output, bool on) {
    audioOn_[port(output)] = on;
}

const EdidImage& SwitcherState::userSlot(int input, int slot) const {
    return userSlots_[port(input)][checked(slot, 1, kUserSlotCount, "user slot")];
}

void SwitcherState::storeUserSlot(int input, int slot, const EdidImage& image) {
    userSlots_[port(input)][checked(slot, 1, kUserSlotCount, "user slot")] = image;
}

const EdidImage& SwitcherState::display(int output) const {
    return displays_[port(output)];
}

EdidImage SwitcherState::presentedEdid(int input, int sourceIndex) const {
    checked(sourceIndex, 0, kLastSourceIndex, "EDID source index");
    if (sourceIndex >= kFirstCopyIndex) {
        return display(sourceIndex - kFirstCopyIndex + 1);
    }
    if (sourceIndex >= kFirstUserSlotIndex) {
        return userSlot(input, sourceIndex - kFirstUserSlotIndex + 1);
    }
    static_cast<void>(port(input)); // built-ins are the same on every input, but the input must exist
    return builtinEdid(sourceIndex);
}

} // namespace mc::sim
