#include "site/site_json.h"

#include "site/json_positions.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace mc {
namespace {

// Field names of the site file, defined once for writing and reading.
constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kNameKey = "name";
constexpr std::string_view kInputsKey = "inputs";
constexpr std::string_view kOutputsKey = "outputs";
constexpr std::string_view kPresetsKey = "presets";
constexpr std::string_view kLockedKey = "locked";
constexpr std::string_view kRoutesKey = "routes";
constexpr std::string_view kOutputKey = "output";
constexpr std::string_view kInputKey = "input";
constexpr std::string_view kAudioKey = "audio";
constexpr std::string_view kPresetKey = "preset";
constexpr std::string_view kResultKey = "result";
constexpr std::string_view kSentKey = "sent";
constexpr std::string_view kReasonKey = "reason";

constexpr std::string_view kAudioOn = "on";
constexpr std::string_view kAudioMute = "mute";

std::string child(const std::string& pointer, std::string_view key) {
    return jsonPointerChild(pointer, key);
}

std::string child(const std::string& pointer, std::size_t index) {
    return pointer + "/" + std::to_string(index);
}

JsonProblem problemAt(std::string pointer, std::string message) {
    return JsonProblem{std::move(pointer), std::move(message), false};
}

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

const char* typeWord(const SiteJson& value) {
    switch (value.type()) {
    case SiteJson::value_t::null:
        return "null";
    case SiteJson::value_t::object:
        return "an object";
    case SiteJson::value_t::array:
        return "an array";
    case SiteJson::value_t::string:
        return "a string";
    case SiteJson::value_t::boolean:
        return "true or false";
    case SiteJson::value_t::number_float:
        return "a fraction";
    default:
        return "a number";
    }
}

JsonProblem wrongType(const std::string& pointer, const SiteJson& value, std::string_view expected) {
    return problemAt(pointer, "expected " + std::string(expected) + ", found " + typeWord(value));
}

// Refuses any key of object outside known: a misspelt field would otherwise
// be dropped without a word.
std::optional<JsonProblem> unknownKey(const SiteJson& object, const std::string& pointer,
                                      std::initializer_list<std::string_view> known) {
    for (const auto& [key, value] : object.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            return JsonProblem{child(pointer, key), "unknown field " + inQuotes(key), true};
        }
    }
    return std::nullopt;
}

// An integer within int's range, or a problem naming what was found.
struct IntRead {
    int value = 0;
    std::optional<JsonProblem> problem;
};

IntRead readInt(const SiteJson& value, const std::string& pointer) {
    if (value.is_number_integer() || value.is_number_unsigned()) {
        const auto wide = value.get<long long>();
        if (value.is_number_unsigned() && value.get<unsigned long long>() > std::numeric_limits<int>::max()) {
            return {0, problemAt(pointer, "the number is too large")};
        }
        if (wide >= std::numeric_limits<int>::min() && wide <= std::numeric_limits<int>::max()) {
            return {static_cast<int>(wide), std::nullopt};
        }
        return {0, problemAt(pointer, "the number is too large")};
    }
    return {0, wrongType(pointer, value, "a whole number")};
}

IntRead readPort(const SiteJson& value, const std::string& pointer, std::string_view kind) {
    IntRead read = readInt(value, pointer);
    if (!read.problem && !isValidPort(read.value)) {
        read.problem = problemAt(pointer, std::string(kind) + " " + std::to_string(read.value) + " is out of range (" +
                                              std::to_string(kFirstPort) + " to " + std::to_string(kLastPort) + ")");
    }
    return read;
}

// A port number written as an object key: "5". Digits only, so "05" or " 5"
// never make a second key for one port.
std::optional<int> portFromKey(std::string_view key) {
    if (key.empty() || key.size() > 2 || key.front() == '0') {
        return std::nullopt;
    }
    int port = 0;
    for (const char c : key) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        port = port * 10 + (c - '0');
    }
    return isValidPort(port) ? std::optional<int>(port) : std::nullopt;
}

// Reads {"5": "Lectern PC", ...}; nullRemoves: a null value stands for "no
// name" (a merge) instead of being refused.
std::optional<JsonProblem> readNames(const SiteJson& object, const std::string& pointer, std::string_view kind,
                                     bool nullRemoves, std::map<int, std::optional<std::string>>& names) {
    if (!object.is_object()) {
        return wrongType(pointer, object, "an object of " + std::string(kind) + " numbers and names");
    }
    for (const auto& [key, value] : object.items()) {
        const std::string at = child(pointer, key);
        const auto port = portFromKey(key);
        if (!port) {
            return JsonProblem{at,
                               inQuotes(key) + " is not an " + std::string(kind) + " number (" +
                                   std::to_string(kFirstPort) + " to " + std::to_string(kLastPort) + ")",
                               true};
        }
        if (value.is_null() && nullRemoves) {
            names[*port] = std::nullopt;
        } else if (value.is_string()) {
            names[*port] = value.get<std::string>();
        } else {
            return wrongType(at, value, nullRemoves ? "a name or null" : "a name");
        }
    }
    return std::nullopt;
}

struct PresetRead {
    Preset preset;
    std::optional<JsonProblem> problem;
};

PresetRead readPreset(const SiteJson& value, const std::string& pointer) {
    PresetRead read;
    if (!value.is_object()) {
        read.problem = wrongType(pointer, value, "a preset object");
        return read;
    }
    if ((read.problem = unknownKey(value, pointer, {kNameKey, kRoutesKey}))) {
        return read;
    }
    const auto name = value.find(kNameKey);
    const auto routes = value.find(kRoutesKey);
    if (name == value.end() || routes == value.end()) {
        read.problem = problemAt(pointer, "a preset needs a " + inQuotes(kNameKey) + " and " + inQuotes(kRoutesKey));
        return read;
    }
    if (!name->is_string()) {
        read.problem = wrongType(child(pointer, kNameKey), *name, "a name");
        return read;
    }
    read.preset.name = name->get<std::string>();
    RoutesFromJson routeRead = presetRoutesFromJson(*routes, child(pointer, kRoutesKey));
    read.problem = std::move(routeRead.problem);
    read.preset.routes = std::move(routeRead.routes);
    return read;
}

std::optional<JsonProblem> readPresets(const SiteJson& array, const std::string& pointer, Site& site) {
    if (!array.is_array()) {
        return wrongType(pointer, array, "an array of presets");
    }
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string at = child(pointer, i);
        PresetRead read = readPreset(array[i], at);
        if (read.problem) {
            return read.problem;
        }
        const std::string nameAt = child(at, kNameKey);
        if (site.findPreset(read.preset.name) != nullptr) {
            return problemAt(nameAt, "duplicate preset " + inQuotes(read.preset.name));
        }
        const SiteUpdate saved = site.savePreset(read.preset);
        if (!saved.ok()) {
            const bool aboutName = saved.error->code == SiteErrorCode::BadName;
            return problemAt(aboutName ? nameAt
                                       : (saved.error->code == SiteErrorCode::BadPreset ? child(at, kRoutesKey) : at),
                             saved.error->message);
        }
    }
    return std::nullopt;
}

std::optional<JsonProblem> readLocked(const SiteJson& array, const std::string& pointer, Site& site) {
    if (!array.is_array()) {
        return wrongType(pointer, array, "an array of output numbers");
    }
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string at = child(pointer, i);
        const IntRead output = readPort(array[i], at, "output");
        if (output.problem) {
            return output.problem;
        }
        if (!site.setLocked(output.value, true).changed) {
            return problemAt(at, "output " + std::to_string(output.value) + " is listed twice");
        }
    }
    return std::nullopt;
}

// Names are set one at a time, so a refused one (a bad name, a name two
// ports share) is reported at its own value.
std::optional<JsonProblem> readSiteNames(const SiteJson& object, const std::string& pointer, bool inputs, Site& site) {
    std::map<int, std::optional<std::string>> names;
    if (auto bad = readNames(object, pointer, inputs ? kInputKey : kOutputKey, false, names)) {
        return bad;
    }
    for (const auto& [port, name] : names) {
        Site::NamesUpdate update;
        (inputs ? update.inputs : update.outputs)[port] = name;
        const SiteUpdate done = site.updateNames(update);
        if (!done.ok()) {
            return problemAt(child(pointer, std::to_string(port)), done.error->message);
        }
    }
    return std::nullopt;
}

} // namespace

std::string_view audioStateName(AudioState state) {
    return state == AudioState::On ? kAudioOn : kAudioMute;
}

std::optional<AudioState> audioStateFromName(std::string_view name) {
    if (name == kAudioOn) {
        return AudioState::On;
    }
    if (name == kAudioMute) {
        return AudioState::Mute;
    }
    return std::nullopt;
}

SiteJson namesToJson(const Site& site) {
    SiteJson names = SiteJson::object();
    SiteJson inputs = SiteJson::object();
    SiteJson outputs = SiteJson::object();
    for (const auto& [port, name] : site.inputNames()) {
        inputs[std::to_string(port)] = name;
    }
    for (const auto& [port, name] : site.outputNames()) {
        outputs[std::to_string(port)] = name;
    }
    names[kInputsKey] = std::move(inputs);
    names[kOutputsKey] = std::move(outputs);
    return names;
}

SiteJson presetToJson(const Preset& preset) {
    SiteJson routes = SiteJson::array();
    for (const PresetRoute& route : preset.routes) {
        SiteJson entry = SiteJson::object();
        entry[kOutputKey] = route.output;
        entry[kInputKey] = route.input;
        if (route.audio) {
            entry[kAudioKey] = audioStateName(*route.audio);
        }
        routes.push_back(std::move(entry));
    }
    SiteJson out = SiteJson::object();
    out[kNameKey] = preset.name;
    out[kRoutesKey] = std::move(routes);
    return out;
}

SiteJson presetsToJson(const Site& site) {
    SiteJson presets = SiteJson::array();
    for (const Preset& preset : site.presets()) {
        presets.push_back(presetToJson(preset));
    }
    return presets;
}

SiteJson siteToJson(const Site& site) {
    SiteJson document = SiteJson::object();
    document[kVersionKey] = Site::kFormatVersion;
    if (!site.name().empty()) {
        document[kNameKey] = site.name();
    }
    SiteJson names = namesToJson(site);
    document[kInputsKey] = std::move(names[kInputsKey]);
    document[kOutputsKey] = std::move(names[kOutputsKey]);
    document[kPresetsKey] = presetsToJson(site);
    document[kLockedKey] = SiteJson(site.lockedOutputs());
    return document;
}

std::string siteToText(const Site& site) {
    return siteToJson(site).dump(2) + "\n";
}

SiteFromJson siteFromJson(const SiteJson& document) {
    SiteFromJson out;
    if (!document.is_object()) {
        out.problem = wrongType("", document, "an object");
        return out;
    }
    const auto version = document.find(kVersionKey);
    if (version == document.end()) {
        out.problem = problemAt("", "the " + inQuotes(kVersionKey) + " field is missing");
        return out;
    }
    const std::string versionAt = child("", kVersionKey);
    const IntRead versionRead = readInt(*version, versionAt);
    if (versionRead.problem) {
        out.problem = versionRead.problem;
        return out;
    }
    if (versionRead.value != Site::kFormatVersion) {
        out.problem =
            problemAt(versionAt, "unknown version " + std::to_string(versionRead.value) +
                                     " (this program reads version " + std::to_string(Site::kFormatVersion) + ")");
        return out;
    }
    if ((out.problem =
             unknownKey(document, "", {kVersionKey, kNameKey, kInputsKey, kOutputsKey, kPresetsKey, kLockedKey}))) {
        return out;
    }
    if (const auto name = document.find(kNameKey); name != document.end()) {
        const std::string at = child("", kNameKey);
        if (!name->is_string()) {
            out.problem = wrongType(at, *name, "a name");
            return out;
        }
        const SiteUpdate done = out.site.setName(name->get<std::string>());
        if (!done.ok()) {
            out.problem = problemAt(at, done.error->message);
            return out;
        }
    }
    if (const auto inputs = document.find(kInputsKey); inputs != document.end()) {
        if ((out.problem = readSiteNames(*inputs, child("", kInputsKey), true, out.site))) {
            return out;
        }
    }
    if (const auto outputs = document.find(kOutputsKey); outputs != document.end()) {
        if ((out.problem = readSiteNames(*outputs, child("", kOutputsKey), false, out.site))) {
            return out;
        }
    }
    if (const auto presets = document.find(kPresetsKey); presets != document.end()) {
        if ((out.problem = readPresets(*presets, child("", kPresetsKey), out.site))) {
            return out;
        }
    }
    if (const auto locked = document.find(kLockedKey); locked != document.end()) {
        if ((out.problem = readLocked(*locked, child("", kLockedKey), out.site))) {
            return out;
        }
    }
    return out;
}

NamesFromJson namesUpdateFromJson(const SiteJson& document) {
    NamesFromJson out;
    if (!document.is_object()) {
        out.problem = wrongType("", document, "an object");
        return out;
    }
    if ((out.problem = unknownKey(document, "", {kInputsKey, kOutputsKey}))) {
        return out;
    }
    if (const auto inputs = document.find(kInputsKey); inputs != document.end()) {
        out.problem = readNames(*inputs, child("", kInputsKey), kInputKey, true, out.update.inputs);
    }
    if (const auto outputs = document.find(kOutputsKey); !out.problem && outputs != document.end()) {
        out.problem = readNames(*outputs, child("", kOutputsKey), kOutputKey, true, out.update.outputs);
    }
    return out;
}

RoutesFromJson presetRoutesFromJson(const SiteJson& routes, const std::string& pointer) {
    RoutesFromJson out;
    if (!routes.is_array()) {
        out.problem = wrongType(pointer, routes, "an array of routes");
        return out;
    }
    for (std::size_t i = 0; i < routes.size(); ++i) {
        const std::string at = child(pointer, i);
        const SiteJson& route = routes[i];
        if (!route.is_object()) {
            out.problem = wrongType(at, route, "a route object");
            return out;
        }
        if ((out.problem = unknownKey(route, at, {kOutputKey, kInputKey, kAudioKey}))) {
            return out;
        }
        const auto output = route.find(kOutputKey);
        const auto input = route.find(kInputKey);
        if (output == route.end() || input == route.end()) {
            out.problem = problemAt(at, "a route needs an " + inQuotes(kOutputKey) + " and an " + inQuotes(kInputKey));
            return out;
        }
        const IntRead outputRead = readPort(*output, child(at, kOutputKey), kOutputKey);
        const IntRead inputRead = readPort(*input, child(at, kInputKey), kInputKey);
        if (outputRead.problem || inputRead.problem) {
            out.problem = outputRead.problem ? outputRead.problem : inputRead.problem;
            return out;
        }
        PresetRoute entry{outputRead.value, inputRead.value, std::nullopt};
        if (const auto audio = route.find(kAudioKey); audio != route.end()) {
            const auto state = audio->is_string() ? audioStateFromName(audio->get<std::string>()) : std::nullopt;
            if (!state) {
                out.problem =
                    problemAt(child(at, kAudioKey), "audio is " + inQuotes(kAudioOn) + " or " + inQuotes(kAudioMute));
                return out;
            }
            entry.audio = state;
        }
        for (std::size_t k = 0; k < out.routes.size(); ++k) {
            if (out.routes[k].output == entry.output) {
                out.problem =
                    problemAt(child(at, kOutputKey), "output " + std::to_string(entry.output) + " has two routes");
                return out;
            }
        }
        out.routes.push_back(entry);
    }
    return out;
}

SiteJson recallReportToJson(const RecallReport& report) {
    SiteJson outputs = SiteJson::array();
    for (const OutputRecallResult& result : report.outputs) {
        SiteJson entry = SiteJson::object();
        entry[kOutputKey] = result.output;
        entry[kInputKey] = result.input;
        entry[kResultKey] = recallOutcomeName(result.outcome);
        entry[kSentKey] = result.sent;
        if (!result.reason.empty()) {
            entry[kReasonKey] = result.reason;
        }
        outputs.push_back(std::move(entry));
    }
    SiteJson out = SiteJson::object();
    out[kPresetKey] = report.preset;
    out[kOutputsKey] = std::move(outputs);
    return out;
}

} // namespace mc
