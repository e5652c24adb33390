#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// The bearer token HTTP clients off loopback must show. It lives in a file
// only the hub's user can read, made with a fresh random value when missing.
namespace mc::hub {

inline constexpr const char* kTokenFileName = "http-token";

// 32 random bytes as 64 hexadecimal digits.
inline constexpr std::size_t kTokenLength = 64;

// $STATE_DIRECTORY/http-token under systemd (/var/lib/matrix-hub),
// else $XDG_CONFIG_HOME/matrix-hub/http-token or
// ~/.config/matrix-hub/http-token (on Windows:
// %APPDATA%\matrix-hub\http-token); empty when no home folder is known.
[[nodiscard]] std::filesystem::path defaultTokenPath();

// Reads the token, or makes the file (never through an existing name) with a
// new one that only its owner may read: mode 0600, or on Windows an access
// list that names the owner alone. The error names the file and the system's reason.
[[nodiscard]] std::variant<std::string, std::string> loadOrCreateToken(const std::filesystem::path& file);

// The token file's parts both platforms share.
// A token shorter than this is refused: it is too easy to guess.
inline constexpr std::size_t kShortestToken = 16;
// The file is read this far: a token and its line end fit many times over.
inline constexpr std::size_t kTokenFileLimit = 256;
inline constexpr std::string_view kNoTokenInFile = "it holds no token (at least 16 characters, no blanks)";
// kTokenLength hexadecimal digits from the system's random source.
[[nodiscard]] std::string freshToken();
// The token a file's text holds, its line end taken off; nullopt when it is
// too short or holds a blank.
[[nodiscard]] std::optional<std::string> tokenInText(std::string text);
// "token file FILE: what".
[[nodiscard]] std::string tokenFileError(const std::filesystem::path& file, std::string_view what);

// Compares in time independent of where the texts differ.
[[nodiscard]] bool sameToken(std::string_view a, std::string_view b);

} // namespace mc::hub
