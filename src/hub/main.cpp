#include "hub.h"
#include "hub_log.h"
#include "hub_options.h"
#include "version.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    using namespace mc::hub;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseHubOptions(args);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "matrix-hub: %s\n%.*s", error->c_str(), static_cast<int>(usageText().size()),
                     usageText().data());
        return kExitUsage;
    }
    if (const auto* request = std::get_if<InfoRequest>(&parsed)) {
        if (*request == InfoRequest::Version) {
            std::printf("matrix-hub %s\n", mc::kVersion);
        } else {
            std::printf("%.*s", static_cast<int>(usageText().size()), usageText().data());
        }
        return kExitOk;
    }
    const auto& options = std::get<HubOptions>(parsed);
    logToStandardError(options.logLevel);
    const int status = runHub(options);
    mc::setLogSink({});
    return status;
}
