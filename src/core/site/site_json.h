#pragma once

#include "site/site.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The site as JSON: the whole site file, and the parts the hub's interfaces
// exchange (names, presets, a recall's results). Keys keep the order they
// are written in (version first, ports by number), so a file reads well and
// changes little from one save to the next.
//
//   {
//     "version": 1,
//     "name": "Lecture Hall 2",
//     "inputs": {"1": "Document camera", "5": "Lectern PC"},
//     "outputs": {"3": "Projector"},
//     "presets": [
//       {"name": "Lecture", "routes": [{"output": 3, "input": 5, "audio": "on"}]}
//     ],
//     "locked": [3]
//   }
//
// Every field but "version" may be left out. Reading refuses anything it
// does not know (a field, a type, a port, a name), so a typing error in a
// hand-edited file is reported rather than silently ignored.
namespace mc {

using SiteJson = nlohmann::ordered_json;

// Where in a JSON document something is wrong (a JSON pointer, "" for the
// whole document) and what. atKey: the fault is the object key that pointer
// ends in (an unknown field), not its value.
struct JsonProblem {
    std::string pointer;
    std::string message;
    bool atKey = false;
};

// The audio words of the site file and the hub's interfaces: "on", "mute".
[[nodiscard]] std::string_view audioStateName(AudioState state);
[[nodiscard]] std::optional<AudioState> audioStateFromName(std::string_view name);

[[nodiscard]] SiteJson siteToJson(const Site& site);
// The text of a site file: siteToJson indented by two, ending in a newline.
[[nodiscard]] std::string siteToText(const Site& site);

struct SiteFromJson {
    Site site;
    std::optional<JsonProblem> problem;
};
// Reads a whole site document: the version first, then every field. The
// first problem found stops it.
[[nodiscard]] SiteFromJson siteFromJson(const SiteJson& document);

// {"inputs": {"5": "Lectern PC"}, "outputs": {"3": "Projector"}}
[[nodiscard]] SiteJson namesToJson(const Site& site);

struct NamesFromJson {
    Site::NamesUpdate update;
    std::optional<JsonProblem> problem;
};
// A merge of names in the same form, where null removes a name; either
// side may be left out. Checks the form only: Site::updateNames checks the
// names.
[[nodiscard]] NamesFromJson namesUpdateFromJson(const SiteJson& document);

// {"name": "Lecture", "routes": [{"output": 3, "input": 5, "audio": "on"}]}
[[nodiscard]] SiteJson presetToJson(const Preset& preset);
// [preset, ...] in the site's order.
[[nodiscard]] SiteJson presetsToJson(const Site& site);

struct RoutesFromJson {
    std::vector<PresetRoute> routes;
    std::optional<JsonProblem> problem;
};
// An array of routes as a preset holds them; pointer is where the array sits
// in its document (for the problem's pointer). Checks the form and the port
// numbers; Site::savePreset checks the rest.
[[nodiscard]] RoutesFromJson presetRoutesFromJson(const SiteJson& routes, const std::string& pointer = "");

// {"preset": "Lecture", "outputs": [{"output": 3, "input": 5,
//  "result": "applied", "sent": true}, {"output": 4, "input": 2,
//  "result": "skipped", "sent": false, "reason": "locked"}, ...]}
[[nodiscard]] SiteJson recallReportToJson(const RecallReport& report);

} // namespace mc
