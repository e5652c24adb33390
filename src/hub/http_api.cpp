#include "http_api.h"

#include "link/commands.h"
#include "session/reply_parser.h"

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

// ASCII letters in either case are the same; everything else must match.
bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// A name is 1 to 40 characters of valid UTF-8, no control characters, no
// blank at either end, not a bare number (it would read as a port).
std::optional<std::string> nameProblem(std::string_view name) {
    if (name.empty()) {
        return "a name cannot be empty";
    }
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++characters) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte == 0x7F) {
            return "a name cannot hold control characters";
        }
        const std::size_t length = byte < 0x80          ? 1
                                   : (byte >> 5U) == 6  ? 2
                                   : (byte >> 4U) == 14 ? 3
                                   : (byte >> 3U) == 30 ? 4
                                                        : 0;
        if (length == 0 || i + length > name.size()) {
            return "a name must be valid UTF-8";
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(name[i + k]) >> 6U) != 2) {
                return "a name must be valid UTF-8";
            }
        }
        i += length;
    }
    if (characters > kMaxNameLength) {
        return "a name has at most " + std::to_string(kMaxNameLength) + " characters";
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return "a name cannot start or end with a blank";
    }
    if (number(name)) {
        return "a name cannot be a bare number";
    }
    return std::nullopt;
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

const char* outcomeWord(RecallResult::Outcome outcome) {
    switch (outcome) {
    case RecallResult::Applied:
        return "applied";
    case RecallResult::AlreadySet:
        return "already";
    case RecallResult::SkippedLocked:
        return "skipped";
    case RecallResult::Failed:
        return "failed";
    }
    return "failed";
}

} // namespace

std::string jsonText(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

ApiResponse errorResponse(int status, std::string_view code, std::string_view message) {
    const Json body{{"error", Json{{"code", std::string(code)}, {"message", std::string(message)}}}};
    return ApiResponse{status, std::string(kJsonType), jsonText(body)};
}

HttpApi::HttpApi(Switchboard& board, const LinkOwner& link, std::string linkAddress, PortNames& names)
    : board_(board), link_(link), linkAddress_(std::move(linkAddress)), names_(names) {
}

StateView HttpApi::view() const {
    return StateView{board_, link_.status(), linkAddress_, names_};
}

Json HttpApi::state() const {
    return stateJson(view());
}

Json HttpApi::presetsJson() const {
    Json list = Json::array();
    for (const ApiPreset& preset : presets_) {
        Json routes = Json::array();
        for (const PresetRoute& route : preset.routes) {
            routes.push_back(Json{{"output", route.output}, {"input", route.input}});
        }
        list.push_back(Json{{"name", preset.name}, {"routes", std::move(routes)}});
    }
    return list;
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

std::optional<int> HttpApi::inputNamed(std::string_view name) const {
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        if (!names_.input(port).empty() && sameName(names_.input(port), name)) {
            return port;
        }
    }
    return std::nullopt;
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
            respond(ok(namesJson(names_)));
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
            const auto found = std::find_if(presets_.begin(), presets_.end(),
                                            [&](const ApiPreset& p) { return sameName(p.name, name); });
            if (found == presets_.end()) {
                respond(errorResponse(404, "no_such_preset", "no preset is called '" + name + "'"));
            } else {
                respond(ok(presetsJson()[static_cast<std::size_t>(found - presets_.begin())]));
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
        input = inputNamed(found->get<std::string>());
        if (!input) {
            respond(badRequest("no input is called '" + found->get<std::string>() + "'"));
            return;
        }
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
        [wanted](const std::string& line) -> std::optional<std::string> {
            const Reply decoded = decodeReply(line);
            const auto* reply = std::get_if<RoutingReply>(&decoded);
            if (reply != nullptr && reply->input && *reply->input + kFirstPort == wanted) {
                return std::nullopt;
            }
            return "the switcher reported " +
                   (reply != nullptr && reply->input ? "input " + std::to_string(*reply->input + kFirstPort)
                                                     : std::string("no input")) +
                   " instead of input " + std::to_string(wanted);
        },
        std::move(respond));
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
        respond(badRequest("\"audio\" must be \"on\" or \"mute\""));
        return;
    }
    command(
        std::string(audioCommand(output, *wanted)->bytes()),
        [wanted](const std::string& line) -> std::optional<std::string> {
            const Reply reply = decodeReply(line);
            const auto* audio = std::get_if<AudioReply>(&reply);
            if (audio != nullptr && audio->state == *wanted) {
                return std::nullopt;
            }
            return "the switcher reported audio " +
                   std::string(audio != nullptr ? audioName(audio->state) : "unknown") + " instead of " +
                   std::string(audioName(*wanted));
        },
        std::move(respond));
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
    std::bitset<kPortCount> locked;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        locked.set(static_cast<std::size_t>(port - kFirstPort), board_.isLocked(port));
    }
    locked.set(static_cast<std::size_t>(output - kFirstPort), found->get<bool>());
    board_.setLockedOutputs(locked);
    publishChanges();
    return ok(state());
}

ApiResponse HttpApi::putNames(const Json& body) {
    PortNames next = names_;
    for (const char* side : {"inputs", "outputs"}) {
        const auto found = body.find(side);
        if (found == body.end()) {
            continue;
        }
        if (!found->is_object()) {
            return badRequest(std::string("\"") + side + "\" must be an object of port numbers to names");
        }
        auto& slots = std::string_view(side) == "inputs" ? next.inputs : next.outputs;
        for (const auto& [key, value] : found->items()) {
            const auto port = number(key);
            if (!port || !isValidPort(*port)) {
                return badRequest(std::string(side) + ": '" + key + "' is no port from 1 to 16");
            }
            if (value.is_null()) {
                slots.at(PortNames::index(*port)).clear();
            } else if (!value.is_string()) {
                return badRequest(std::string(side) + " " + key + ": a name must be a text or null");
            } else if (const auto problem = nameProblem(value.get<std::string>())) {
                return badRequest(std::string(side) + " " + key + ": " + *problem);
            } else {
                slots.at(PortNames::index(*port)) = value.get<std::string>();
            }
        }
    }
    for (const auto* slots : {&next.inputs, &next.outputs}) {
        for (std::size_t i = 0; i < slots->size(); ++i) {
            for (std::size_t k = i + 1; k < slots->size(); ++k) {
                if (!(*slots)[i].empty() && sameName((*slots)[i], (*slots)[k])) {
                    return errorResponse(409, "duplicate_name",
                                         "ports " + std::to_string(i + 1) + " and " + std::to_string(k + 1) +
                                             " would both be called '" + (*slots)[i] + "'");
                }
            }
        }
    }
    if (next.inputs != names_.inputs || next.outputs != names_.outputs) {
        names_ = std::move(next);
        if (publish_) {
            publish_("names", jsonText(namesJson(names_)));
        }
        publishChanges();
    }
    return ok(namesJson(names_));
}

ApiResponse HttpApi::putPreset(const std::string& name, const Json& body) {
    if (const auto problem = nameProblem(name)) {
        return badRequest("preset: " + *problem);
    }
    std::vector<PresetRoute> routes;
    if (const auto from = body.find("from"); from != body.end()) {
        if (*from != "current") {
            return badRequest("\"from\" can only be \"current\"");
        }
        for (int output = kFirstPort; output <= kLastPort; ++output) {
            if (const auto& route = board_.state().route(output); route.value) {
                routes.push_back(PresetRoute{output, *route.value});
            }
        }
        if (routes.empty()) {
            return errorResponse(503, "no_state", "the switcher has not reported its routes yet");
        }
    } else {
        const auto list = body.find("routes");
        if (list == body.end() || !list->is_array() || list->empty() || list->size() > kPortCount) {
            return badRequest("\"routes\" must be a list of 1 to 16 routes, or give {\"from\": \"current\"}");
        }
        std::set<int> outputs;
        for (const Json& entry : *list) {
            const auto output = entry.is_object() && entry.contains("output") ? portOf(entry["output"]) : std::nullopt;
            const auto input = entry.is_object() && entry.contains("input") ? portOf(entry["input"]) : std::nullopt;
            if (!output || !input) {
                return badRequest("each route needs \"output\" and \"input\" from 1 to 16");
            }
            if (!outputs.insert(*output).second) {
                return badRequest("output " + std::to_string(*output) + " is routed twice");
            }
            routes.push_back(PresetRoute{*output, *input});
        }
        std::sort(routes.begin(), routes.end(), [](const auto& a, const auto& b) { return a.output < b.output; });
    }
    const auto found =
        std::find_if(presets_.begin(), presets_.end(), [&](const ApiPreset& p) { return sameName(p.name, name); });
    if (found != presets_.end()) {
        found->name = name;
        found->routes = std::move(routes);
    } else if (presets_.size() >= kMaxPresetCount) {
        return errorResponse(409, "too_many_presets",
                             "there are " + std::to_string(kMaxPresetCount) + " presets already");
    } else {
        presets_.push_back(ApiPreset{name, std::move(routes)});
    }
    if (publish_) {
        publish_("presets", jsonText(presetsJson()));
    }
    return ok(presetsJson());
}

ApiResponse HttpApi::deletePreset(const std::string& name) {
    const auto found =
        std::find_if(presets_.begin(), presets_.end(), [&](const ApiPreset& p) { return sameName(p.name, name); });
    if (found == presets_.end()) {
        return errorResponse(404, "no_such_preset", "no preset is called '" + name + "'");
    }
    presets_.erase(found);
    if (publish_) {
        publish_("presets", jsonText(presetsJson()));
    }
    return ok(presetsJson());
}

void HttpApi::recall(const std::string& name, Respond& respond) {
    const auto found =
        std::find_if(presets_.begin(), presets_.end(), [&](const ApiPreset& p) { return sameName(p.name, name); });
    if (found == presets_.end()) {
        respond(errorResponse(404, "no_such_preset", "no preset is called '" + name + "'"));
        return;
    }
    if (!board_.linkIsUp()) {
        respond(errorResponse(503, "link_down", "the link to the switcher is down: " + link_.status().reason));
        return;
    }
    board_.recall(
        found->routes,
        [this, presetName = found->name, respond = std::move(respond)](const std::vector<RecallResult>& results) {
            Json outputs = Json::array();
            for (const RecallResult& result : results) {
                Json entry{{"output", result.output}, {"input", result.input}, {"result", outcomeWord(result.outcome)}};
                if (result.outcome == RecallResult::SkippedLocked) {
                    entry["reason"] = "locked";
                } else if (!result.detail.empty()) {
                    entry["reason"] = result.detail;
                }
                outputs.push_back(std::move(entry));
            }
            publishChanges();
            respond(ok(Json{{"preset", presetName}, {"outputs", std::move(outputs)}}));
        },
        SteadyClock::now());
}

} // namespace mc::hub
