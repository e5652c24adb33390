#include "session/switcher_state.h"

#include "session/reply_parser.h"

#include <algorithm>
#include <utility>

namespace mc {

namespace {

template <typename T> const Report<T>& portValue(const std::array<Report<T>, kPortCount>& values, int port) {
    static const Report<T> none;
    return isValidPort(port) ? values[static_cast<std::size_t>(port - kFirstPort)] : none;
}

template <typename T> Report<T>* portSlot(std::array<Report<T>, kPortCount>& values, int port) {
    return isValidPort(port) ? &values[static_cast<std::size_t>(port - kFirstPort)] : nullptr;
}

template <typename T> void markStale(Report<T>& value) {
    if (value) {
        value->stale = true;
    }
}

} // namespace

SwitcherState::SwitcherState(Clock clock) : clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return std::chrono::steady_clock::now(); };
    }
}

const Report<std::optional<int>>& SwitcherState::route(int output) const {
    return portValue(routes_, output);
}

const Report<std::optional<int>>& SwitcherState::edidChoice(int input) const {
    return portValue(edidChoices_, input);
}

const Report<AudioState>& SwitcherState::audio(int output) const {
    return portValue(audio_, output);
}

void SwitcherState::apply(const Reply& reply) {
    reportReply(reply, *this);
}

void SwitcherState::linkLost() {
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        markStale(*portSlot(routes_, port));
        markStale(*portSlot(edidChoices_, port));
        markStale(*portSlot(audio_, port));
    }
    markStale(dhcp_);
    markStale(host_);
    markStale(netMask_);
    markStale(router_);
    markStale(tcpPort_);
    markStale(mac_);
}

void SwitcherState::clear() {
    *this = SwitcherState(std::move(clock_));
}

template <typename T> bool SwitcherState::allReported(const PerPort<T>& values) {
    return std::all_of(values.begin(), values.end(), [](const auto& v) { return v.has_value(); });
}

bool SwitcherState::networkComplete() const {
    return dhcp_ && host_ && netMask_ && router_ && tcpPort_ && mac_;
}

bool SwitcherState::complete() const {
    return networkComplete() && allReported(routes_) && allReported(edidChoices_) && allReported(audio_);
}

std::string SwitcherState::missing() const {
    std::string text;
    auto add = [&text](bool known, std::string_view what) {
        if (!known) {
            text.append(text.empty() ? "" : ", ");
            text.append(what);
        }
    };
    add(allReported(routes_), "routes");
    add(allReported(edidChoices_), "EDID choices");
    add(networkComplete(), "network settings");
    add(allReported(audio_), "audio states");
    return text;
}

void SwitcherState::routeReported(int output, std::optional<int> input) {
    if (auto* slot = portSlot(routes_, output)) {
        store(*slot, input);
    }
}

void SwitcherState::edidChoiceReported(int input, std::optional<int> item) {
    if (auto* slot = portSlot(edidChoices_, input)) {
        store(*slot, item);
    }
}

void SwitcherState::audioReported(int output, AudioState state) {
    if (auto* slot = portSlot(audio_, output)) {
        store(*slot, state);
    }
}

void SwitcherState::dhcpReported(bool on) {
    store(dhcp_, on);
}

void SwitcherState::addressReported(NetworkAddress which, std::uint32_t address) {
    switch (which) {
    case NetworkAddress::Host:
        store(host_, address);
        break;
    case NetworkAddress::NetMask:
        store(netMask_, address);
        break;
    case NetworkAddress::Router:
        store(router_, address);
        break;
    }
}

void SwitcherState::tcpPortReported(std::string_view text) {
    store(tcpPort_, std::string(text));
}

void SwitcherState::macReported(std::string_view text) {
    store(mac_, std::string(text));
}

} // namespace mc
