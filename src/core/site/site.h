#pragma once

#include "link/commands.h"
#include "link/ports.h"

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The site: what the people in a room call the switcher's ports, the presets
// that set a whole room in one action, and the outputs nobody may re-route.
// Plain values with no I/O; site_json.h reads and writes them as JSON and
// site_file.h keeps them in a file. Every change goes through a member that
// checks it first, so a Site always holds valid names, presets and locks:
// a refused change leaves it exactly as it was.
namespace mc {

// Names of ports, presets and the site: 1 to 40 characters (Unicode code
// points of valid UTF-8), no control characters, no blank at either end.
inline constexpr std::size_t kMaxSiteNameLength = 40;
// Presets a site holds at most; each sets at most one route per output.
inline constexpr std::size_t kMaxPresets = 128;
inline constexpr std::size_t kMaxPresetRoutes = kPortCount;

// Why a change or a look-up was refused. code names the kind for callers
// that map it (an HTTP status, a log line); message says it for a person.
enum class SiteErrorCode {
    BadPort,        // an output or input number outside 1 to 16
    BadName,        // empty, too long, control characters, digits only...
    DuplicateName,  // another port (or preset) already has this name
    UnknownName,    // no input or output has this name
    NoSuchPreset,   // no preset has this name
    TooManyPresets, // the site already holds kMaxPresets
    BadPreset,      // no route, a route twice for one output
};

// The code as a short word for machine-readable error replies: "bad_port",
// "bad_name", "duplicate_name", "unknown_name", "no_such_preset",
// "too_many_presets", "bad_preset".
[[nodiscard]] std::string_view siteErrorCodeName(SiteErrorCode code);

struct SiteError {
    SiteErrorCode code = SiteErrorCode::BadName;
    std::string message;
};

// What a change did: refused (error set, the site untouched), or done, with
// changed false when the site already was so (nothing to save or announce).
struct [[nodiscard]] SiteUpdate {
    std::optional<SiteError> error;
    bool changed = false;

    [[nodiscard]] bool ok() const { return !error; }
};

// Checks a name against the rules above; what: "input 5", "preset" (for the
// message). nullopt when the name is fine.
[[nodiscard]] std::optional<SiteError> checkSiteName(std::string_view name, std::string_view what);

// Compares two names as the operator types them: ASCII letters in either
// case are the same; every other character must match exactly.
[[nodiscard]] bool sameSiteName(std::string_view a, std::string_view b);

// One output of a preset: the input it routes, and optionally the audio.
struct PresetRoute {
    int output = kFirstPort;
    int input = kFirstPort;
    std::optional<AudioState> audio;

    friend bool operator==(const PresetRoute&, const PresetRoute&) = default;
};

// A preset (a salvo): a name and 1 to 16 routes, sorted by output, each
// output at most once.
struct Preset {
    std::string name;
    std::vector<PresetRoute> routes;

    friend bool operator==(const Preset&, const Preset&) = default;
};

// Checks routes for a preset (ports in range, 1 to 16 routes, no output
// twice) and returns them sorted by output.
struct PresetRoutesCheck {
    std::vector<PresetRoute> routes;
    std::optional<SiteError> error;
};
[[nodiscard]] PresetRoutesCheck checkPresetRoutes(std::vector<PresetRoute> routes);

// What the switcher last reported for one output; nullopt where it has not
// (yet) said.
struct OutputReport {
    std::optional<int> input;
    std::optional<AudioState> audio;
};

// The switcher's routes as the caller knows them, one entry per output.
struct SwitcherRoutes {
    std::array<OutputReport, kPortCount> outputs{};

    // output must be 1 to 16.
    [[nodiscard]] OutputReport& at(int output) { return outputs.at(static_cast<std::size_t>(output - kFirstPort)); }
    [[nodiscard]] const OutputReport& at(int output) const {
        return outputs.at(static_cast<std::size_t>(output - kFirstPort));
    }
};

// What a recall does for one output of the preset.
enum class RecallAction {
    Send,    // the route (or audio) differs or is unknown: commands go out
    Already, // the switcher already reports exactly this: nothing is sent
    Skipped, // the output is locked: nothing is sent
};

struct RecallStep {
    int output = kFirstPort;
    int input = kFirstPort;
    std::optional<AudioState> audio;
    RecallAction action = RecallAction::Send;
    // With Send: which of the two commands are needed.
    bool sendRoute = false;
    bool sendAudio = false;
};

// A recall, worked out before anything is sent: one step per route of the
// preset, in output order. The switcher has no atomic salvo, so the caller
// sends the steps one after another and records each confirmation.
struct RecallPlan {
    std::string preset;
    std::vector<RecallStep> steps;
};

// The end of a recall for one output, with the words callers report it in.
enum class RecallOutcome {
    Applied, // confirmed, or already so ("applied")
    Skipped, // locked ("skipped")
    Failed,  // no confirmation, or a different one ("failed")
};
[[nodiscard]] std::string_view recallOutcomeName(RecallOutcome outcome);

struct OutputRecallResult {
    int output = kFirstPort;
    int input = kFirstPort;
    RecallOutcome outcome = RecallOutcome::Failed;
    // Whether any command went out for this output.
    bool sent = false;
    // Why it was skipped or failed ("locked", "no confirmation"...); empty
    // when applied.
    std::string reason;
};

inline constexpr std::string_view kLockedReason = "locked";
inline constexpr std::string_view kNotConfirmedReason = "no confirmation";

// The per-output results of one recall. It starts from the plan: steps
// already so count as applied, locked ones as skipped, and those to send as
// failed with "no confirmation" until the caller confirms them, so an
// output whose confirmation never came can never be reported as applied.
struct RecallReport {
    std::string preset;
    std::vector<OutputRecallResult> outputs;

    [[nodiscard]] static RecallReport start(const RecallPlan& plan);
    // The switcher confirmed what the step sent: applied. Unknown outputs are
    // ignored.
    void confirm(int output);
    // The step failed for another reason (link down, a different reply).
    void fail(int output, std::string reason);
    [[nodiscard]] bool allApplied() const;
};

// Names, presets and locks of one site, always valid.
class Site {
public:
    // The format version this program reads and writes.
    static constexpr int kFormatVersion = 1;

    // The site's own name ("Lecture Hall 2"); empty when none is set.
    [[nodiscard]] const std::string& name() const { return name_; }
    SiteUpdate setName(std::string name);

    [[nodiscard]] const std::map<int, std::string>& inputNames() const { return inputNames_; }
    [[nodiscard]] const std::map<int, std::string>& outputNames() const { return outputNames_; }
    // The name of a port, or nullopt when it has none (or is out of range).
    [[nodiscard]] std::optional<std::string> inputName(int input) const;
    [[nodiscard]] std::optional<std::string> outputName(int output) const;

    // A merge of names: each entry sets the port's name, or removes it when
    // nullopt; ports not named keep theirs. All or nothing: any bad port or
    // name, or a name that two inputs (or two outputs) would share, refuses
    // the whole update.
    struct NamesUpdate {
        std::map<int, std::optional<std::string>> inputs;
        std::map<int, std::optional<std::string>> outputs;
    };
    SiteUpdate updateNames(const NamesUpdate& update);

    // "5" or "Lectern PC" (any case, blanks at the ends ignored) to an input
    // number. Names are unique and never all digits, so an answer is never
    // ambiguous. Errors: BadPort (a number outside 1 to 16), UnknownName.
    struct Resolution {
        int port = 0;
        std::optional<SiteError> error;

        [[nodiscard]] bool ok() const { return !error; }
    };
    [[nodiscard]] Resolution resolveInput(std::string_view text) const;
    [[nodiscard]] Resolution resolveOutput(std::string_view text) const;

    // Presets in the order they were first saved.
    [[nodiscard]] const std::vector<Preset>& presets() const { return presets_; }
    // The preset whose name matches (any case), or nullptr.
    [[nodiscard]] const Preset* findPreset(std::string_view name) const;
    // Saves a preset; one of the same name (any case) is replaced in place,
    // with the new spelling.
    SiteUpdate savePreset(Preset preset);
    // Saves the routes the switcher reports now as a preset: every output
    // whose input is known, with its audio where known and includeAudio.
    SiteUpdate savePresetFromCurrent(std::string name, const SwitcherRoutes& current, bool includeAudio = true);
    SiteUpdate deletePreset(std::string_view name);

    [[nodiscard]] const std::set<int>& lockedOutputs() const { return locked_; }
    [[nodiscard]] bool isLocked(int output) const { return locked_.contains(output); }
    SiteUpdate setLocked(int output, bool locked);

    // The steps of recalling the named preset against what the switcher
    // reports now and the locks. Error: NoSuchPreset.
    struct PlanResult {
        RecallPlan plan;
        std::optional<SiteError> error;

        [[nodiscard]] bool ok() const { return !error; }
    };
    [[nodiscard]] PlanResult planRecall(std::string_view presetName, const SwitcherRoutes& current) const;

    friend bool operator==(const Site&, const Site&) = default;

private:
    std::string name_;
    std::map<int, std::string> inputNames_;
    std::map<int, std::string> outputNames_;
    std::vector<Preset> presets_;
    std::set<int> locked_;
};

} // namespace mc
