#pragma once

#include "link/commands.h"
#include "link/ports.h"
#include "session/reply_parser.h"
#include "session/reply_views.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mc {

// One value as the switcher last reported it.
template <typename T> struct Reported {
    T value{};
    // When the report arrived, on the steady clock: how old the value is.
    std::chrono::steady_clock::time_point reportedAt{};
    // The link went down after this report and the value has not been reported
    // since: the switcher may have changed it meanwhile.
    bool stale = false;
    friend bool operator==(const Reported&, const Reported&) = default;
};

// std::nullopt until the switcher first reports the value.
template <typename T> using Report = std::optional<Reported<T>>;

// What the switcher has reported about itself: the route of each output, the
// EDID choice of each input, the audio of each output and the network
// settings, each with when it was last reported. The reply parser feeds it as
// one more reply view; matrix-ctl prints it, a service can publish it. Plain
// data and Qt-free; one thread at a time.
class SwitcherState final : public SwitchReportView {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `clock` stamps each report; the steady clock when none is given.
    explicit SwitcherState(Clock clock = {});

    // Ports 1..16; nullopt for a port outside them. A reported route or EDID
    // choice may itself be none: the reply named no usable input or choice.
    [[nodiscard]] const Report<std::optional<int>>& route(int output) const; // 0-based input
    [[nodiscard]] const Report<std::optional<int>>& edidChoice(int input) const;
    [[nodiscard]] const Report<AudioState>& audio(int output) const;
    [[nodiscard]] const Report<bool>& dhcp() const { return dhcp_; }
    // Addresses packed first octet highest.
    [[nodiscard]] const Report<std::uint32_t>& hostAddress() const { return host_; }
    [[nodiscard]] const Report<std::uint32_t>& netMask() const { return netMask_; }
    [[nodiscard]] const Report<std::uint32_t>& routerAddress() const { return router_; }
    [[nodiscard]] const Report<std::string>& tcpPort() const { return tcpPort_; }
    [[nodiscard]] const Report<std::string>& mac() const { return mac_; }

    // Takes one decoded reply line, as the reply parser would pass it on.
    void apply(const Reply& reply);
    // The link went down: every value reported so far turns stale until it is
    // reported again. The values stay: the last known state is worth showing.
    void linkLost();
    // Forgets every value (another switcher on the link).
    void clear();

    // Every network setting has been reported.
    [[nodiscard]] bool networkComplete() const;
    // Every value has been reported (the answer to one status query).
    [[nodiscard]] bool complete() const;
    // What has not been reported yet, in words ("routes, audio states");
    // empty when complete().
    [[nodiscard]] std::string missing() const;

    // SwitchReportView: what the parser reads from each reply.
    void routeReported(int output, std::optional<int> input) override;
    void edidChoiceReported(int input, std::optional<int> item) override;
    void audioReported(int output, AudioState state) override;
    void dhcpReported(bool on) override;
    void addressReported(NetworkAddress which, std::uint32_t address) override;
    void tcpPortReported(std::string_view text) override;
    void macReported(std::string_view text) override;

private:
    template <typename T> using PerPort = std::array<Report<T>, kPortCount>;

    template <typename T> void store(Report<T>& into, T value) {
        into = Reported<T>{std::move(value), clock_(), false};
    }
    template <typename T> static bool allReported(const PerPort<T>& values);

    Clock clock_;
    PerPort<std::optional<int>> routes_{};
    PerPort<std::optional<int>> edidChoices_{};
    PerPort<AudioState> audio_{};
    Report<bool> dhcp_;
    Report<std::uint32_t> host_;
    Report<std::uint32_t> netMask_;
    Report<std::uint32_t> router_;
    Report<std::string> tcpPort_;
    Report<std::string> mac_;
};

} // namespace mc
