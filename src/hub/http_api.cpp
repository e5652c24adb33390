#include "http_api.h"

#include "confirmations.h"
#include "link/commands.h"
#include "session/reply_parser.h"
#include "site/site_json.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace mc::hub {
namespace {

ApiResponse ok(const Json& json) {
    return ApiResponse{200, std::string(kJsonType), jsonText(json)};
}

ApiResponse badRequest(std::string_view message) {
    return errorResponse(400, "bad_request", message);
}

std::optional<int> number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The path split at '/', the query dropped, each part percent-decoded.
std::optional<std::vector<std::string>> pathParts(std::string_view target) {
    target = target.substr(0, target.find('?'));
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i < target.size(); ++i) {
        const char c = target[i];
        if (c == '/') {
            if (i > 0) {
                parts.push_back(std::exchange(part, {}));
            }
        } else if (c == '%') {
            if (i + 2 >= target.size()) {
                return std::nullopt;
            }
            int byte = 0;
            const auto [end, error] = std::from_chars(target.data() + i + 1, target.data() + i + 3, byte, 16);
            if (error != std::errc{} || end != target.data() + i + 3) {
                return std::nullopt;
            }
            part += static_cast<char>(byte);
            i += 2;
        } else {
            part += c;
        }
    }
    if (!target.empty() && target.back() != '/') {
        parts.push_back(part);
    }
    return parts;
}

std::optional<int> portOf(const Json& value) {
    if (!value.is_number_integer()) {
        return std::nullopt;
    }
    const auto port = value.get<long long>();
    return isValidPort(static_cast<int>(port)) && port == static_cast<int>(port)
               ? std::optional<int>(static_cast<int>(port))
               : std::nullopt;
}

// The status a refused site change answers with.
ApiResponse siteError(const SiteError& error) {
    const int status = error.code == SiteErrorCode::DuplicateName || error.code == SiteErrorCode::TooManyPresets ? 409
                       : error.code == SiteErrorCode::NoSuchPreset                                               ? 404
                                                                                                                 : 400;
    return errorResponse(status, siteErrorCodeName(error.code), error.message);
}

ApiResponse badJson(const JsonProblem& problem) {
    return badRequest((problem.pointer.empty() ? std::string() : problem.pointer + ": ") + problem.message);
}

} // namespace

std::string jsonText(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

ApiResponse errorResponse(int status, std::string_view code, std::string_view message) {
    const Json body{{"error", Json{{"code", std::string(code)}, {"message", std::string(message)}}}};
    return ApiResponse{status, std::string(kJsonType), jsonText(body)};
}

HttpApi::HttpApi(Switchboard& board, const LinkOwner& link, std::string linkAddress, Site& site, SaveSite save)
    : board_(board), link_(link), linkAddress_(std::move(linkAddress)), site_(site), save_(std::move(save)),
      names_(portNamesOf(site)) {
}

Json HttpApi::names() const {
    return namesToJson(site_);
}

ApiResponse HttpApi::commit(Site next, const std::function<Json()>& answer) {
    if (next == site_) {
        return ok(answer());
    }
    if (save_) {
        if (const auto failure = save_(next)) {
            return errorResponse(500, "site_not_saved", *failure);
        }
    }
    const bool namesChanged = next.inputNames() != site_.inputNames() || next.outputNames() != site_.outputNames();
    const bool presetsChanged = next.presets() != site_.presets();
    site_ = std::move(next);
    names_ = portNamesOf(site_);
    if (publish_ && namesChanged) {
        publish_("names", jsonText(names()));
    }
    if (publish_ && presetsChanged) {
        publish_("presets", jsonText(presetsJson()));
    }
    publishChanges();
    if (siteChanged_) {
        siteChanged_();
    }
    return ok(answer());
}

StateView HttpApi::view() const {
    return StateView{board_, link_.status(), linkAddress_, names_};
}

Json HttpApi::state() const {
    return stateJson(view());
}

Json HttpApi::presetsJson() const {
    return presetsToJson(site_);
}

void HttpApi::publishChanges() {
    const Json now = state();
    std::vector<std::pair<std::string, Json>> parts;
    parts.emplace_back("link", Json{{"link", now["link"]}, {"stale", now["stale"]}});
    for (const Json& output : now["outputs"]) {
        parts.emplace_back("output", output);
    }
    for (const Json& input : now["inputs"]) {
        parts.emplace_back("input", input);
    }
    parts.emplace_back("network", now["network"]);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto& [type, data] = parts[i];
        Json compared = data;
        if (compared.is_object()) {
            compared.erase("confirmed_at");
            if (compared.contains("edid")) {
                compared["edid"].erase("confirmed_at");
            }
        }
        const std::string key = type + std::to_string(i);
        std::string text = jsonText(compared);
        auto& last = published_[key];
        if (last != text) {
            last = std::move(text);
            if (publish_) {
                publish_(type, jsonText(data));
            }
        }
    }
}

void HttpApi::handle(const ApiRequest& request, Respond respond) {
    const auto parts = pathParts(request.target);
    if (!parts || parts->size() < 2 || (*parts)[0] != "api" || (*parts)[1] != "v1") {
        respond(errorResponse(404, "not_found", "no such resource: " + request.target));
        return;
    }
    const std::vector<std::string> path(parts->begin() + 2, parts->end());
    const std::string& method = request.method;
    const bool reads = method == "GET";
    Json body;
    if (method == "POST" || method == "PUT") {
        // A JSON body only: a form or text post from another site's page is
        // never taken as a command.
        if (request.contentType.substr(0, kJsonType.size()) != kJsonType) {
            respond(errorResponse(415, "unsupported_media_type", "the body must be application/json"));
            return;
        }
        body = Json::parse(request.body, nullptr, false);
        if (body.is_discarded() || !body.is_object()) {
            respond(badRequest("the body is not a JSON object"));
            return;
        }
    }
    const auto notAllowed = [&] {
        respond(errorResponse(405, "method_not_allowed", method + " is not allowed on " + request.target));
    };
    const auto first = path.empty() ? std::string() : path[0];
    if (path.size() == 1 && first == "state") {
        reads ? respond(ok(state())) : notAllowed();
        return;
    }
    if (path.size() == 1 && first == "names") {
        if (reads) {
            respond(ok(names()));
        } else if (method == "PUT") {
            respond(putNames(body));
        } else {
            notAllowed();
        }
        return;
    }
    if (path.size() == 1 && first == "presets") {
        reads ? respond(ok(presetsJson())) : notAllowed();
        return;
    }
    if ((path.size() == 2 || path.size() == 3) && first == "presets") {
        const std::string& name = path[1];
        if (path.size() == 3) {
            if (path[2] != "recall") {
                respond(errorResponse(404, "not_found", "no such resource: " + request.target));
            } else if (method == "POST") {
                recall(name, respond);
            } else {
                notAllowed();
            }
        } else if (method == "PUT") {
            respond(putPreset(name, body));
        } else if (method == "DELETE") {
            respond(deletePreset(name));
        } else if (reads) {
            const Preset* found = site_.findPreset(name);
            if (found == nullptr) {
                respond(errorResponse(404, "no_such_preset", "no preset is called '" + name + "'"));
            } else {
                respond(ok(presetToJson(*found)));
            }
        } else {
            notAllowed();
        }
        return;
    }
    if (path.size() == 3 && (first == "outputs" || first == "inputs")) {
        const auto port = number(path[1]);
        if (!port || !isValidPort(*port)) {
            respond(errorResponse(404, "no_such_port",
                                  "there is no " + first.substr(0, first.size() - 1) + " '" + path[1] + "' (1 to 16)"));
            return;
        }
        const std::string& what = path[2];
        if (first == "outputs" && what == "route") {
            method == "POST" ? route(*port, body, respond) : notAllowed();
        } else if (first == "outputs" && what == "audio") {
            method == "POST" ? audio(*port, body, respond) : notAllowed();
        } else if (first == "outputs" && what == "lock") {
            method == "PUT" ? respond(lock(*port, body)) : notAllowed();
        } else if (first == "inputs" && what == "edid") {
            method == "POST" ? edid(*port, body, respond) : notAllowed();
        } else {
            respond(errorResponse(404, "not_found", "no such resource: " + request.target));
        }
        return;
    }
    respond(errorResponse(404, "not_found", "no such resource: " + request.target));
}

void HttpApi::command(std::string bytes, std::function<std::optional<std::string>(const std::string& line)> check,
                      Respond respond) {
    if (!board_.linkIsUp()) {
        respond(errorResponse(503, "link_down", "the link to the switcher is down: " + link_.status().reason));
        return;
    }
    board_.command(
        std::move(bytes),
        [this, check = std::move(check), respond = std::move(respond)](const std::optional<std::string>& line,
                                                                       std::string_view failure) {
            if (!line) {
                if (failure == kNoConfirmation) {
                    respond(
                        errorResponse(504, "no_confirmation", "the switcher did not confirm the command within 2 s"));
                } else {
                    respond(errorResponse(503, "link_down", std::string(failure)));
                }
                return;
            }
            if (replyTopic(*line).kind == ReplyTopic::Error) {
                respond(errorResponse(502, "refused", "the switcher answered ERROR"));
                return;
            }
            if (const auto other = check(*line)) {
                respond(errorResponse(502, "other_confirmation", *other));
                return;
            }
            publishChanges();
            respond(ok(state()));
        },
        SteadyClock::now());
}

void HttpApi::route(int output, const Json& body, Respond& respond) {
    const auto found = body.find("input");
    std::optional<int> input;
    if (found != body.end() && found->is_string()) {
        const auto resolved = site_.resolveInput(found->get<std::string>());
        if (!resolved.ok()) {
            respond(badRequest(resolved.error->message));
            return;
        }
        input = resolved.port;
    } else if (found != body.end()) {
        input = portOf(*found);
    }
    if (!input) {
        respond(badRequest("\"input\" must be an input number from 1 to 16 or an input's name"));
        return;
    }
    if (board_.isLocked(output)) {
        respond(errorResponse(409, "locked", "output " + std::to_string(output) + " is locked"));
        return;
    }
    const int wanted = *input;
    command(
        std::string(routingCommand(output, wanted)->bytes()),
        [wanted](const std::string& line) { return routeMismatch(line, wanted); }, std::move(respond));
}

void HttpApi::audio(int output, const Json& body, Respond& respond) {
    const auto found = body.find("audio");
    std::optional<AudioState> wanted;
    if (found != body.end() && *found == "on") {
        wanted = AudioState::On;
    } else if (found != body.end() && *found == "mute") {
        wanted = AudioState::Mute;
    }
    if (!wanted) {
        respond(badRequest(R"("audio" must be "on" or "mute")"));
        return;
    }
    command(
        std::string(audioCommand(output, *wanted)->bytes()),
        [audio = *wanted](const std::string& line) { return audioMismatch(line, audio); }, std::move(respond));
}

void HttpApi::edid(int input, const Json& body, Respond& respond) {
    const auto found = body.find("item");
    std::optional<int> item;
    if (found != body.end() && found->is_number_integer()) {
        const auto value = found->get<long long>();
        if (value >= 0 && value <= kLastEdidChoice) {
            item = static_cast<int>(value);
        }
    }
    if (!item) {
        respond(badRequest("\"item\" must be an EDID item from 0 to " + std::to_string(kLastEdidChoice)));
        return;
    }
    const int wanted = *item;
    command(
        std::string(applyEdidChoiceCommand(input, wanted)->bytes()),
        [wanted](const std::string& line) -> std::optional<std::string> {
            const Reply reply = decodeReply(line);
            const auto* edid = std::get_if<EdidChoiceReply>(&reply);
            if (edid != nullptr && edid->item == wanted) {
                return std::nullopt;
            }
            return "the switcher reported EDID item " +
                   (edid != nullptr && edid->item ? std::to_string(*edid->item) : std::string("unknown")) +
                   " instead of " + std::to_string(wanted);
        },
        std::move(respond));
}

ApiResponse HttpApi::lock(int output, const Json& body) {
    const auto found = body.find("locked");
    if (found == body.end() || !found->is_boolean()) {
        return badRequest("\"locked\" must be true or false");
    }
    Site next = site_;
    if (const SiteUpdate update = next.setLocked(output, found->get<bool>()); !update.ok()) {
        return siteError(*update.error);
    }
    return commit(std::move(next), [this] { return state(); });
}

ApiResponse HttpApi::putNames(const Json& body) {
    const NamesFromJson parsed = namesUpdateFromJson(body);
    if (parsed.problem) {
        return badJson(*parsed.problem);
    }
    Site next = site_;
    if (const SiteUpdate update = next.updateNames(parsed.update); !update.ok()) {
        return siteError(*update.error);
    }
    return commit(std::move(next), [this] { return names(); });
}

ApiResponse HttpApi::putPreset(const std::string& name, const Json& body) {
    Site next = site_;
    SiteUpdate update;
    if (const auto from = body.find("from"); from != body.end()) {
        if (*from != "current" || body.size() != 1) {
            return badRequest(R"("from" can only be "current", alone)");
        }
        update = next.savePresetFromCurrent(name, board_.currentRoutes());
    } else {
        const auto routes = body.find("routes");
        if (routes == body.end() || body.size() != 1) {
            return badRequest(R"(give {"routes": [{"output": 3, "input": 5}, ...]} or {"from": "current"})");
        }
        RoutesFromJson parsed = presetRoutesFromJson(*routes, "/routes");
        if (parsed.problem) {
            return badJson(*parsed.problem);
        }
        update = next.savePreset(Preset{name, std::move(parsed.routes)});
    }
    if (!update.ok()) {
        return siteError(*update.error);
    }
    return commit(std::move(next), [this] { return presetsJson(); });
}

ApiResponse HttpApi::deletePreset(const std::string& name) {
    Site next = site_;
    if (const SiteUpdate update = next.deletePreset(name); !update.ok()) {
        return siteError(*update.error);
    }
    return commit(std::move(next), [this] { return presetsJson(); });
}

void HttpApi::recall(const std::string& name, Respond& respond) {
    Site::PlanResult planned = site_.planRecall(name, board_.currentRoutes());
    if (!planned.ok()) {
        respond(siteError(*planned.error));
        return;
    }
    if (!board_.linkIsUp()) {
        respond(errorResponse(503, "link_down", "the link to the switcher is down: " + link_.status().reason));
        return;
    }
    board_.recall(
        std::move(planned.plan),
        [this, respond = std::move(respond)](const RecallReport& report) {
            publishChanges();
            respond(ok(recallReportToJson(report)));
        },
        SteadyClock::now());
}

} // namespace mc::hub
