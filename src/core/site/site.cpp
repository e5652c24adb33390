#include "site/site.h"

#include <algorithm>
#include <utility>

namespace mc {
namespace {

// The code points of a valid UTF-8 text (no overlong forms, no surrogates,
// nothing above U+10FFFF); nullopt when it is not valid.
std::optional<std::vector<char32_t>> decodeUtf8(std::string_view text) {
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t point = 0;
        char32_t smallest = 0;
        if (lead < 0x80) {
            length = 1;
            point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            point = lead & 0x1F;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            point = lead & 0x0F;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            point = lead & 0x07;
            smallest = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i < length) {
            return std::nullopt;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            point = (point << 6) | (next & 0x3F);
        }
        if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return std::nullopt;
        }
        points.push_back(point);
        i += length;
    }
    return points;
}

bool isControl(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 || point == 0x2029;
}

bool isBlank(char32_t point) {
    return point == ' ' || point == 0xA0 || point == 0x3000;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

SiteError error(SiteErrorCode code, std::string message) {
    return SiteError{code, std::move(message)};
}

SiteUpdate refused(SiteError reason) {
    return SiteUpdate{std::move(reason), false};
}

SiteUpdate done(bool changed) {
    return SiteUpdate{std::nullopt, changed};
}

std::string portRangeText() {
    return " is out of range (" + std::to_string(kFirstPort) + " to " + std::to_string(kLastPort) + ")";
}

std::optional<SiteError> checkPort(int port, std::string_view kind) {
    if (isValidPort(port)) {
        return std::nullopt;
    }
    return error(SiteErrorCode::BadPort, std::string(kind) + " " + std::to_string(port) + portRangeText());
}

// Applies a merge of names to one side (inputs or outputs) on a copy, so the
// caller can keep or drop the result as a whole.
std::optional<SiteError> mergeNames(std::map<int, std::string>& names,
                                    const std::map<int, std::optional<std::string>>& update, std::string_view kind) {
    for (const auto& [port, name] : update) {
        if (auto bad = checkPort(port, kind)) {
            return bad;
        }
        if (!name) {
            names.erase(port);
            continue;
        }
        const std::string what = std::string(kind) + " " + std::to_string(port);
        if (auto bad = checkSiteName(*name, what)) {
            return bad;
        }
        if (allDigits(*name)) {
            return error(SiteErrorCode::BadName, what + ": a name of digits only would read as a number");
        }
        names[port] = *name;
    }
    for (auto a = names.begin(); a != names.end(); ++a) {
        for (auto b = std::next(a); b != names.end(); ++b) {
            if (sameSiteName(a->second, b->second)) {
                return error(SiteErrorCode::DuplicateName, std::string(kind) + "s " + std::to_string(a->first) +
                                                               " and " + std::to_string(b->first) +
                                                               " would share the name \"" + b->second + "\"");
            }
        }
    }
    return std::nullopt;
}

Site::Resolution resolvePort(const std::map<int, std::string>& names, std::string_view text, std::string_view kind) {
    const std::string_view wanted = trimBlanks(text);
    if (allDigits(wanted)) {
        // Digits only: a port number (names never are digits only).
        const std::string_view digits = wanted.substr(std::min(wanted.find_first_not_of('0'), wanted.size()));
        const int port = digits.size() > 2 ? kLastPort + 1 : (digits.empty() ? 0 : std::stoi(std::string(digits)));
        if (!isValidPort(port)) {
            return {0, error(SiteErrorCode::BadPort, std::string(kind) + " " + std::string(wanted) + portRangeText())};
        }
        return {port, std::nullopt};
    }
    for (const auto& [port, name] : names) {
        if (sameSiteName(name, wanted)) {
            return {port, std::nullopt};
        }
    }
    return {0,
            error(SiteErrorCode::UnknownName, "no " + std::string(kind) + " is named \"" + std::string(wanted) + "\"")};
}

std::optional<std::string> nameOf(const std::map<int, std::string>& names, int port) {
    const auto found = names.find(port);
    return found == names.end() ? std::nullopt : std::optional<std::string>(found->second);
}

} // namespace

std::string_view siteErrorCodeName(SiteErrorCode code) {
    switch (code) {
    case SiteErrorCode::BadPort:
        return "bad_port";
    case SiteErrorCode::BadName:
        return "bad_name";
    case SiteErrorCode::DuplicateName:
        return "duplicate_name";
    case SiteErrorCode::UnknownName:
        return "unknown_name";
    case SiteErrorCode::NoSuchPreset:
        return "no_such_preset";
    case SiteErrorCode::TooManyPresets:
        return "too_many_presets";
    case SiteErrorCode::BadPreset:
        return "bad_preset";
    }
    return "bad_name";
}

std::optional<SiteError> checkSiteName(std::string_view name, std::string_view what) {
    const std::string prefix = std::string(what) + ": ";
    const auto points = decodeUtf8(name);
    if (!points) {
        return error(SiteErrorCode::BadName, prefix + "the name is not valid UTF-8");
    }
    if (points->empty()) {
        return error(SiteErrorCode::BadName, prefix + "the name is empty");
    }
    if (points->size() > kMaxSiteNameLength) {
        return error(SiteErrorCode::BadName,
                     prefix + "the name is longer than " + std::to_string(kMaxSiteNameLength) + " characters");
    }
    if (std::any_of(points->begin(), points->end(), isControl)) {
        return error(SiteErrorCode::BadName, prefix + "the name holds a control character");
    }
    if (isBlank(points->front()) || isBlank(points->back())) {
        return error(SiteErrorCode::BadName, prefix + "the name starts or ends with a blank");
    }
    return std::nullopt;
}

bool sameSiteName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

PresetRoutesCheck checkPresetRoutes(std::vector<PresetRoute> routes) {
    PresetRoutesCheck check;
    if (routes.empty()) {
        check.error = error(SiteErrorCode::BadPreset, "a preset needs at least one route");
        return check;
    }
    if (routes.size() > kMaxPresetRoutes) {
        check.error =
            error(SiteErrorCode::BadPreset, "a preset holds at most " + std::to_string(kMaxPresetRoutes) + " routes");
        return check;
    }
    for (const PresetRoute& route : routes) {
        if (auto bad = checkPort(route.output, "output")) {
            check.error = bad;
            return check;
        }
        if (auto bad = checkPort(route.input, "input")) {
            check.error = bad;
            return check;
        }
    }
    std::sort(routes.begin(), routes.end(), [](const auto& a, const auto& b) { return a.output < b.output; });
    const auto twice = std::adjacent_find(routes.begin(), routes.end(),
                                          [](const auto& a, const auto& b) { return a.output == b.output; });
    if (twice != routes.end()) {
        check.error = error(SiteErrorCode::BadPreset, "output " + std::to_string(twice->output) + " has two routes");
        return check;
    }
    check.routes = std::move(routes);
    return check;
}

std::string_view recallOutcomeName(RecallOutcome outcome) {
    switch (outcome) {
    case RecallOutcome::Applied:
        return "applied";
    case RecallOutcome::Skipped:
        return "skipped";
    case RecallOutcome::Failed:
        return "failed";
    }
    return "failed";
}

RecallReport RecallReport::start(const RecallPlan& plan) {
    RecallReport report;
    report.preset = plan.preset;
    for (const RecallStep& step : plan.steps) {
        OutputRecallResult result{step.output, step.input, RecallOutcome::Applied, false, {}};
        switch (step.action) {
        case RecallAction::Already:
            break;
        case RecallAction::Skipped:
            result.outcome = RecallOutcome::Skipped;
            result.reason = kLockedReason;
            break;
        case RecallAction::Send:
            result.outcome = RecallOutcome::Failed;
            result.sent = true;
            result.reason = kNotConfirmedReason;
            break;
        }
        report.outputs.push_back(std::move(result));
    }
    return report;
}

void RecallReport::confirm(int output) {
    for (OutputRecallResult& result : outputs) {
        if (result.output == output && result.outcome == RecallOutcome::Failed) {
            result.outcome = RecallOutcome::Applied;
            result.reason.clear();
        }
    }
}

void RecallReport::fail(int output, std::string reason) {
    for (OutputRecallResult& result : outputs) {
        if (result.output == output && result.outcome != RecallOutcome::Skipped) {
            result.outcome = RecallOutcome::Failed;
            result.reason = std::move(reason);
            return;
        }
    }
}

bool RecallReport::allApplied() const {
    return std::all_of(outputs.begin(), outputs.end(),
                       [](const OutputRecallResult& r) { return r.outcome == RecallOutcome::Applied; });
}

SiteUpdate Site::setName(std::string name) {
    if (!name.empty()) {
        if (auto bad = checkSiteName(name, "site")) {
            return refused(*bad);
        }
    }
    const bool changed = name != name_;
    name_ = std::move(name);
    return done(changed);
}

std::optional<std::string> Site::inputName(int input) const {
    return nameOf(inputNames_, input);
}

std::optional<std::string> Site::outputName(int output) const {
    return nameOf(outputNames_, output);
}

SiteUpdate Site::updateNames(const NamesUpdate& update) {
    std::map<int, std::string> inputs = inputNames_;
    std::map<int, std::string> outputs = outputNames_;
    if (auto bad = mergeNames(inputs, update.inputs, "input")) {
        return refused(*bad);
    }
    if (auto bad = mergeNames(outputs, update.outputs, "output")) {
        return refused(*bad);
    }
    const bool changed = inputs != inputNames_ || outputs != outputNames_;
    inputNames_ = std::move(inputs);
    outputNames_ = std::move(outputs);
    return done(changed);
}

Site::Resolution Site::resolveInput(std::string_view text) const {
    return resolvePort(inputNames_, text, "input");
}

Site::Resolution Site::resolveOutput(std::string_view text) const {
    return resolvePort(outputNames_, text, "output");
}

const Preset* Site::findPreset(std::string_view name) const {
    const auto found = std::find_if(presets_.begin(), presets_.end(),
                                    [&](const Preset& p) { return sameSiteName(p.name, trimBlanks(name)); });
    return found == presets_.end() ? nullptr : &*found;
}

SiteUpdate Site::savePreset(Preset preset) {
    if (auto bad = checkSiteName(preset.name, "preset")) {
        return refused(*bad);
    }
    PresetRoutesCheck check = checkPresetRoutes(std::move(preset.routes));
    if (check.error) {
        return refused(*check.error);
    }
    preset.routes = std::move(check.routes);
    const auto same = std::find_if(presets_.begin(), presets_.end(),
                                   [&](const Preset& p) { return sameSiteName(p.name, preset.name); });
    if (same != presets_.end()) {
        const bool changed = *same != preset;
        *same = std::move(preset);
        return done(changed);
    }
    if (presets_.size() >= kMaxPresets) {
        return refused(error(SiteErrorCode::TooManyPresets,
                             "the site holds " + std::to_string(kMaxPresets) + " presets, the most it can"));
    }
    presets_.push_back(std::move(preset));
    return done(true);
}

SiteUpdate Site::savePresetFromCurrent(std::string name, const SwitcherRoutes& current, bool includeAudio) {
    if (auto bad = checkSiteName(name, "preset")) {
        return refused(*bad);
    }
    Preset preset{std::move(name), {}};
    for (int output = kFirstPort; output <= kLastPort; ++output) {
        const OutputReport& report = current.at(output);
        if (report.input) {
            preset.routes.push_back({output, *report.input, includeAudio ? report.audio : std::nullopt});
        }
    }
    if (preset.routes.empty()) {
        return refused(error(SiteErrorCode::BadPreset, "the switcher has not reported any route yet"));
    }
    return savePreset(std::move(preset));
}

SiteUpdate Site::deletePreset(std::string_view name) {
    const Preset* preset = findPreset(name);
    if (preset == nullptr) {
        return refused(error(SiteErrorCode::NoSuchPreset, "no preset is named \"" + std::string(name) + "\""));
    }
    presets_.erase(presets_.begin() + (preset - presets_.data()));
    return done(true);
}

SiteUpdate Site::setLocked(int output, bool locked) {
    if (auto bad = checkPort(output, "output")) {
        return refused(*bad);
    }
    const bool changed = locked ? locked_.insert(output).second : locked_.erase(output) > 0;
    return done(changed);
}

Site::PlanResult Site::planRecall(std::string_view presetName, const SwitcherRoutes& current) const {
    PlanResult result;
    const Preset* preset = findPreset(presetName);
    if (preset == nullptr) {
        result.error = error(SiteErrorCode::NoSuchPreset, "no preset is named \"" + std::string(presetName) + "\"");
        return result;
    }
    result.plan.preset = preset->name;
    for (const PresetRoute& route : preset->routes) {
        RecallStep step{route.output, route.input, route.audio, RecallAction::Skipped, false, false};
        if (!isLocked(route.output)) {
            const OutputReport& now = current.at(route.output);
            step.sendRoute = now.input != route.input;
            step.sendAudio = route.audio && now.audio != route.audio;
            step.action = (step.sendRoute || step.sendAudio) ? RecallAction::Send : RecallAction::Already;
        }
        result.plan.steps.push_back(step);
    }
    return result;
}

} // namespace mc
