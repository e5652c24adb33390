#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Debian's edid-decode as the reference the EDID tests compare against.
namespace mc::test {

// Set by scripts/test, which installs edid-decode: missing it is then a failure.
inline constexpr const char* kRequireEdidDecodeEnv = "MC_REQUIRE_EDID_DECODE";

// Its path on PATH; empty when it is not installed.
std::string findEdidDecode();

struct ToolOutput {
    int status = -1; // exit status; -1 when it did not exit (a crash)
    std::string out; // standard output
};

// Runs it with these arguments and the file; standard error is dropped.
// The file's path must hold no single quote.
ToolOutput runEdidDecode(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& file);

} // namespace mc::test
