#include "confirmations.h"

#include "link/ports.h"
#include "session/reply_parser.h"
#include "site/site_json.h"

namespace mc::hub {

std::optional<std::string> routeMismatch(const std::string& line, int input) {
    const Reply decoded = decodeReply(line);
    const auto* reply = std::get_if<RoutingReply>(&decoded);
    if (reply != nullptr && reply->input && *reply->input + kFirstPort == input) {
        return std::nullopt;
    }
    return "the switcher reported " +
           (reply != nullptr && reply->input ? "input " + std::to_string(*reply->input + kFirstPort)
                                             : std::string("no input")) +
           " instead of input " + std::to_string(input);
}

std::optional<std::string> audioMismatch(const std::string& line, AudioState audio) {
    const Reply reply = decodeReply(line);
    const auto* reported = std::get_if<AudioReply>(&reply);
    if (reported != nullptr && reported->state == audio) {
        return std::nullopt;
    }
    return "the switcher reported audio " +
           std::string(reported != nullptr ? audioStateName(reported->state) : "unknown") + " instead of " +
           std::string(audioStateName(audio));
}

} // namespace mc::hub
