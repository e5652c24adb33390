#include "core/edid/edid_decode_tool.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>

namespace mc::test {

namespace fs = std::filesystem;

std::string findEdidDecode() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / "edid-decode";
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return {};
}

ToolOutput runEdidDecode(const std::string& program, const std::vector<std::string>& args, const fs::path& file) {
    // exec: the shell becomes edid-decode, so a crash shows as its signal.
    std::string command = "exec '" + program + "'";
    for (const std::string& arg : args) {
        command += " " + arg;
    }
    command += " '" + file.string() + "' 2>/dev/null";
    ToolOutput result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.out.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
}

} // namespace mc::test
