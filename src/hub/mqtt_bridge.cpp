#include "mqtt_bridge.h"

#include "confirmations.h"
#include "mqtt_discovery.h"
#include "session/log_hook.h"
#include "session/reply_parser.h"
#include "site/site_json.h"

#include <algorithm>
#include <cctype>

namespace mc::hub {
namespace {

constexpr std::string_view kLogSource = "mqtt";

void log(LogLevel level, const std::string& text) {
    logMessage(level, kLogSource, text);
}

std::string text(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The payload without blanks at its ends, ASCII letters in lower case: how a
// word command (on, mute, true, false) is compared.
std::string word(std::string_view payload) {
    const auto first = payload.find_first_not_of(" \t\r\n");
    const auto last = payload.find_last_not_of(" \t\r\n");
    std::string folded(first == std::string_view::npos ? std::string_view() : payload.substr(first, last - first + 1));
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return folded;
}

// The state without the times values were confirmed at: a poll that finds
// everything as it was changes only those, and is no change to publish.
Json withoutTimes(Json state) {
    for (Json& output : state["outputs"]) {
        output.erase("confirmed_at");
    }
    for (Json& input : state["inputs"]) {
        input["edid"].erase("confirmed_at");
    }
    state["network"].erase("confirmed_at");
    return state;
}

} // namespace

MqttBridge::MqttBridge(Switchboard& board, const LinkStatus& link, std::string linkAddress, Site& site,
                       MqttBridgeSettings settings, Wires wires)
    : board_(board), link_(link), linkAddress_(std::move(linkAddress)), site_(site), settings_(std::move(settings)),
      topics_(settings_.base, settings_.deviceId), wires_(std::move(wires)), names_(portNamesOf(site)) {
}

std::vector<std::string> MqttBridge::subscriptions() const {
    std::vector<std::string> patterns = topics_.commandSubscriptions();
    if (!settings_.discoveryPrefix.empty()) {
        // Buttons left on the broker for presets deleted while the hub was
        // away arrive here (retained) and are removed.
        patterns.push_back(presetButtonPattern(settings_.discoveryPrefix, topics_));
    }
    return patterns;
}

void MqttBridge::connected() {
    connected_ = true;
    published_.clear();
    discoverySite_.reset();
    publishRetained(topics_.availability(), std::string(kOnline));
    update();
}

void MqttBridge::disconnected() {
    connected_ = false;
}

void MqttBridge::publishRetained(const std::string& topic, const std::string& payload) {
    const auto found = published_.find(topic);
    if (found != published_.end() && found->second == payload) {
        return;
    }
    published_[topic] = payload;
    wires_.publish(topic, payload, true);
}

void MqttBridge::update() {
    if (!connected_) {
        return;
    }
    const auto& mac = board_.state().mac();
    const std::string macText = mac ? mac->value : std::string();
    if (!discoverySite_ || !(*discoverySite_ == site_) || macText != discoveryMac_) {
        discoverySite_ = site_;
        discoveryMac_ = macText;
        names_ = portNamesOf(site_);
        publishDiscovery();
    }
    publishState();
}

void MqttBridge::publishState() {
    const Json state = stateJson(StateView{board_, link_, linkAddress_, names_});
    // The whole state is published when anything but a time changed.
    const std::string compared = text(withoutTimes(state));
    const std::string stateTopic = topics_.state();
    if (const auto found = published_.find(stateTopic); found == published_.end() || found->second != compared) {
        published_[stateTopic] = compared;
        wires_.publish(stateTopic, text(state), true);
    }
    Json link = state["link"];
    link.erase("address");
    publishRetained(topics_.link(), text(link));
    for (const Json& output : state["outputs"]) {
        const int number = output["output"].get<int>();
        if (output["input"].is_number_integer()) {
            publishRetained(topics_.outputInput(number), std::to_string(output["input"].get<int>()));
        }
        if (output["audio"].is_string()) {
            publishRetained(topics_.outputAudio(number), output["audio"].get<std::string>());
        }
        publishRetained(topics_.outputLocked(number),
                        std::string(output["locked"].get<bool>() ? kLockedTrue : kLockedFalse));
    }
}

void MqttBridge::publishDiscovery() {
    if (settings_.discoveryPrefix.empty()) {
        return;
    }
    const DiscoverySource source{topics_, settings_.discoveryPrefix, site_, discoveryMac_};
    std::set<std::string> buttons;
    for (const DiscoveryDocument& document : discoveryDocuments(source)) {
        if (presetButtonObjectId(settings_.discoveryPrefix, topics_, document.topic)) {
            buttons.insert(document.topic);
        }
        publishRetained(document.topic, document.payload);
    }
    // A deleted preset's button goes: an empty retained document removes it.
    for (const std::string& topic : buttons_) {
        if (!buttons.contains(topic)) {
            published_.erase(topic);
            wires_.publish(topic, std::string(), true);
        }
    }
    buttons_ = std::move(buttons);
}

void MqttBridge::message(const std::string& topic, const std::string& payload, bool retained) {
    if (!settings_.discoveryPrefix.empty() && presetButtonObjectId(settings_.discoveryPrefix, topics_, topic)) {
        staleButton(topic, payload);
        return;
    }
    const auto parsed = topics_.parseCommand(topic);
    if (!parsed) {
        log(LogLevel::Debug, "ignored a message on " + topic + ": no command of this hub");
        return;
    }
    if (retained) {
        // Left on the broker earlier: acting on it now could re-route a room
        // long after whoever sent it has gone.
        log(LogLevel::Warning, "ignored the retained command " + quoteForMessage(payload) + " on " + topic +
                                   ": commands are taken only as they are sent");
        return;
    }
    if (const auto* problem = std::get_if<std::string>(&*parsed)) {
        log(LogLevel::Warning, "ignored a command on " + topic + ": " + *problem);
        return;
    }
    if (payload.size() > kMaxCommandPayload) {
        log(LogLevel::Warning, "ignored a command on " + topic + ": its " + std::to_string(payload.size()) +
                                   " bytes are more than a command holds (" + std::to_string(kMaxCommandPayload) + ")");
        return;
    }
    command(std::get<MqttCommandTopic>(*parsed), topic, payload);
}

void MqttBridge::staleButton(const std::string& topic, const std::string& payload) {
    if (payload.empty() || buttons_.contains(topic) || !connected_) {
        return;
    }
    log(LogLevel::Info, "removing " + topic + ": its preset is no longer in the site");
    wires_.publish(topic, std::string(), true);
}

void MqttBridge::command(const MqttCommandTopic& target, const std::string& topic, std::string_view payload) {
    log(LogLevel::Debug, "command " + quoteForMessage(payload) + " on " + topic);
    switch (target.kind) {
    case MqttCommandTopic::Input:
        setInput(target.output, payload);
        break;
    case MqttCommandTopic::Audio:
        setAudio(target.output, payload);
        break;
    case MqttCommandTopic::Locked:
        setLocked(target.output, payload);
        break;
    case MqttCommandTopic::Recall:
        recall(payload);
        break;
    }
}

void MqttBridge::setInput(int output, std::string_view payload) {
    const std::string what = "a route of output " + std::to_string(output) + " to " + quoteForMessage(payload);
    const Site::Resolution input = site_.resolveInput(payload);
    if (!input.ok()) {
        log(LogLevel::Warning, "ignored " + what + ": " + input.error->message);
        return;
    }
    if (board_.isLocked(output)) {
        log(LogLevel::Warning, "refused " + what + " from MQTT: output " + std::to_string(output) + " is locked");
        return;
    }
    if (!board_.linkIsUp()) {
        log(LogLevel::Warning, "could not send " + what + ": the link to the switcher is down");
        return;
    }
    const int wanted = input.port;
    board_.command(
        std::string(routingCommand(output, wanted)->bytes()),
        [what, wanted](const std::optional<std::string>& line, std::string_view failure) {
            if (!line) {
                log(LogLevel::Warning, what + " failed: " + std::string(failure));
            } else if (replyTopic(*line).kind == ReplyTopic::Error) {
                log(LogLevel::Warning, what + " failed: the switcher answered ERROR");
            } else if (const auto other = routeMismatch(*line, wanted)) {
                log(LogLevel::Warning, what + ": " + *other);
            }
        },
        SteadyClock::now());
}

void MqttBridge::setAudio(int output, std::string_view payload) {
    const std::string what = "audio " + quoteForMessage(payload) + " on output " + std::to_string(output);
    const std::string asked = word(payload);
    if (asked != audioStateName(AudioState::On) && asked != audioStateName(AudioState::Mute)) {
        log(LogLevel::Warning, "ignored " + what + R"(: audio is "on" or "mute")");
        return;
    }
    const AudioState wanted = asked == audioStateName(AudioState::On) ? AudioState::On : AudioState::Mute;
    if (!board_.linkIsUp()) {
        log(LogLevel::Warning, "could not send " + what + ": the link to the switcher is down");
        return;
    }
    board_.command(
        std::string(audioCommand(output, wanted)->bytes()),
        [what, wanted](const std::optional<std::string>& line, std::string_view failure) {
            if (!line) {
                log(LogLevel::Warning, what + " failed: " + std::string(failure));
            } else if (const auto other = audioMismatch(*line, wanted)) {
                log(LogLevel::Warning, what + ": " + *other);
            }
        },
        SteadyClock::now());
}

void MqttBridge::setLocked(int output, std::string_view payload) {
    const std::string asked = word(payload);
    if (asked != kLockedTrue && asked != kLockedFalse) {
        log(LogLevel::Warning, "ignored the lock " + quoteForMessage(payload) + " of output " + std::to_string(output) +
                                   R"(: a lock is "true" or "false")");
        return;
    }
    Site next = site_;
    const SiteUpdate change = next.setLocked(output, asked == kLockedTrue);
    if (!change.ok() || !change.changed) {
        return;
    }
    if (wires_.saveSite) {
        if (const auto failure = wires_.saveSite(next)) {
            log(LogLevel::Error, "the lock of output " + std::to_string(output) + " was not taken: " + *failure);
            return;
        }
    }
    site_ = std::move(next);
    log(LogLevel::Info,
        "output " + std::to_string(output) + (asked == kLockedTrue ? " locked" : " unlocked") + " from MQTT");
    if (wires_.siteChanged) {
        wires_.siteChanged();
    }
    update();
}

void MqttBridge::publishRecallError(std::string_view preset, std::string_view code, const std::string& message) {
    log(LogLevel::Warning, "recall of " + quoteForMessage(preset) + ": " + message);
    const Json result{{"preset", std::string(preset)},
                      {"error", Json{{"code", std::string(code)}, {"message", message}}}};
    wires_.publish(topics_.presetResult(), text(result), false);
}

void MqttBridge::recall(std::string_view payload) {
    Site::PlanResult planned = site_.planRecall(payload, board_.currentRoutes());
    if (!planned.ok()) {
        publishRecallError(payload, siteErrorCodeName(planned.error->code), planned.error->message);
        return;
    }
    if (!board_.linkIsUp()) {
        publishRecallError(payload, "link_down", "the link to the switcher is down: " + link_.reason);
        return;
    }
    log(LogLevel::Info, "recalling " + quoteForMessage(planned.plan.preset) + " from MQTT");
    board_.recall(
        std::move(planned.plan),
        [this](const RecallReport& report) {
            // The outputs' topics first, so a result's reader finds them so.
            update();
            if (connected_) {
                wires_.publish(topics_.presetResult(), text(recallReportToJson(report)), false);
            }
        },
        SteadyClock::now());
}

} // namespace mc::hub
