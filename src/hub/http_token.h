#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// The bearer token HTTP clients off loopback must show. It lives in a file
// only the hub's user can read, made with a fresh random value when missing.
namespace mc::hub {

// 32 random bytes as 64 hexadecimal digits.
inline constexpr std::size_t kTokenLength = 64;

// $STATE_DIRECTORY/http-token under systemd (/var/lib/matrix-hub),
// else $XDG_CONFIG_HOME/matrix-hub/http-token or
// ~/.config/matrix-hub/http-token; empty when no home folder is known.
[[nodiscard]] std::filesystem::path defaultTokenPath();

// Reads the token, or makes the file (mode 0600, never through an existing
// name) with a new one. The error names the file and the system's reason.
[[nodiscard]] std::variant<std::string, std::string> loadOrCreateToken(const std::filesystem::path& file);

// Compares in time independent of where the texts differ.
[[nodiscard]] bool sameToken(std::string_view a, std::string_view b);

} // namespace mc::hub
