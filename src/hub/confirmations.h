#pragma once

#include "link/commands.h"

#include <optional>
#include <string>

// Whether the line that answered a command confirms what was asked, for every
// interface of the hub that waits for the switcher (HTTP, MQTT): nullopt when
// it does, else what the switcher reported instead, for a person.
namespace mc::hub {

// A route to `input` (1 to 16).
[[nodiscard]] std::optional<std::string> routeMismatch(const std::string& line, int input);
[[nodiscard]] std::optional<std::string> audioMismatch(const std::string& line, AudioState audio);

} // namespace mc::hub
