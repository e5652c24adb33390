#include "state_json.h"

#include "site/site_json.h"

#include <cstdio>
#include <ctime>

namespace mc::hub {
namespace {

template <class T> Json timeOf(const Report<T>& value) {
    return value ? Json(isoTime(wallTimeOf(value->reportedAt))) : Json(nullptr);
}

template <class T> Json valueOf(const Report<T>& value) {
    return value ? Json(value->value) : Json(nullptr);
}

Json nameOf(const std::string& name) {
    return name.empty() ? Json(nullptr) : Json(name);
}

// The address as people write it ("192.168.0.100"), not the switcher's
// three digits per octet.
Json addressOf(const Report<std::uint32_t>& value) {
    if (!value) {
        return nullptr;
    }
    const auto octets = Ipv4Address::fromUint32(value->value).octets;
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "." +
           std::to_string(octets[3]);
}

} // namespace

std::string isoTime(WallClock::time_point at) {
    const auto sinceEpoch = at.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = seconds.count();
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &whole);
#else
    gmtime_r(&whole, &utc);
#endif
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

WallClock::time_point wallTimeOf(SteadyClock::time_point at) {
    const auto age = SteadyClock::now() - at;
    return WallClock::now() - std::chrono::duration_cast<WallClock::duration>(age);
}

PortNames portNamesOf(const Site& site) {
    PortNames names;
    for (const auto& [port, name] : site.inputNames()) {
        names.inputs.at(PortNames::index(port)) = name;
    }
    for (const auto& [port, name] : site.outputNames()) {
        names.outputs.at(PortNames::index(port)) = name;
    }
    return names;
}

Json linkJson(const LinkStatus& link, std::string_view address) {
    return Json{{"state", linkStateName(link.state)},
                {"reason", link.reason.empty() ? Json(nullptr) : Json(link.reason)},
                {"since", link.since == WallClock::time_point{} ? Json(nullptr) : Json(isoTime(link.since))},
                {"address", std::string(address)}};
}

bool isStale(const Switchboard& board) {
    if (!board.linkIsUp()) {
        return true;
    }
    // Every port's values come with each status answer; one missing or older
    // than the link's coming up means the status since then is still owed.
    const SwitcherState& state = board.state();
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        if (!board.isFresh(state.route(port)) || !board.isFresh(state.audio(port)) ||
            !board.isFresh(state.edidChoice(port))) {
            return true;
        }
    }
    return false;
}

Json outputJson(const StateView& view, int output) {
    const SwitcherState& state = view.board.state();
    const auto& route = state.route(output);
    const auto& audio = state.audio(output);
    // The state model keeps the parser's 0-based input; people count from 1.
    const Json input = route && route->value ? Json(*route->value + kFirstPort) : Json(nullptr);
    return Json{{"output", output},
                {"name", nameOf(view.names.output(output))},
                {"input", input},
                {"audio", audio ? Json(audioStateName(audio->value)) : Json(nullptr)},
                {"locked", view.board.isLocked(output)},
                {"confirmed_at", timeOf(route)}};
}

Json inputJson(const StateView& view, int input) {
    const auto& edid = view.board.state().edidChoice(input);
    return Json{{"input", input},
                {"name", nameOf(view.names.input(input))},
                {"edid", Json{{"item", edid && edid->value ? Json(*edid->value) : Json(nullptr)},
                              {"confirmed_at", timeOf(edid)}}}};
}

Json networkJson(const Switchboard& board) {
    const SwitcherState& state = board.state();
    return Json{{"mac", valueOf(state.mac())},
                {"host", addressOf(state.hostAddress())},
                {"net_mask", addressOf(state.netMask())},
                {"router", addressOf(state.routerAddress())},
                {"tcp_port", valueOf(state.tcpPort())},
                {"dhcp", valueOf(state.dhcp())},
                {"confirmed_at", timeOf(state.hostAddress())}};
}

Json stateJson(const StateView& view) {
    Json outputs = Json::array();
    Json inputs = Json::array();
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        outputs.push_back(outputJson(view, port));
        inputs.push_back(inputJson(view, port));
    }
    return Json{{"link", linkJson(view.link, view.linkAddress)},
                {"stale", isStale(view.board)},
                {"outputs", std::move(outputs)},
                {"inputs", std::move(inputs)},
                {"network", networkJson(view.board)}};
}

} // namespace mc::hub
