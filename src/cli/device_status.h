#pragma once

#include "json.h"
#include "session/switcher_state.h"

#include <cstdint>
#include <string>

// matrix-ctl's view of the switcher state model: the status table, the
// network block and their JSON members. Values not reported print as "-" and
// null.
namespace mc::ctl {

// The table of every port ("Port  Output N shows input  Output N audio  Input N presents EDID") and
// the network block after it; the state must be complete().
[[nodiscard]] std::string statusText(const SwitcherState& s);
// The members "outputs" and "inputs" of the status document; complete() too.
[[nodiscard]] Json outputsJson(const SwitcherState& s);
[[nodiscard]] Json inputsJson(const SwitcherState& s);

[[nodiscard]] Json networkJson(const SwitcherState& s);
[[nodiscard]] std::string networkText(const SwitcherState& s);

// An address the replies carry packed, as "a.b.c.d".
[[nodiscard]] std::string dotted(std::uint32_t packed);

// As the command line takes it and the JSON schema spells it.
[[nodiscard]] std::string audioName(AudioState state);
// An EDID choice's name without its padding; empty for none.
[[nodiscard]] std::string itemName(int item);

} // namespace mc::ctl
