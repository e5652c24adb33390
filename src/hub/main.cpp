#include "http_token.h"
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
    if (options.printToken) {
        const auto file = options.tokenFile.empty() ? defaultTokenPath() : std::filesystem::path(options.tokenFile);
        if (file.empty()) {
            std::fprintf(stderr, "matrix-hub: no home folder for the token file: give --token-file FILE\n");
            return kExitFailure;
        }
        const auto token = loadOrCreateToken(file);
        if (const auto* failure = std::get_if<1>(&token)) {
            std::fprintf(stderr, "matrix-hub: %s\n", failure->c_str());
            return kExitFailure;
        }
        std::printf("%s\n", std::get<0>(token).c_str());
        return kExitOk;
    }
    logToStandardError(options.logLevel);
    const int status = runHub(options);
    mc::setLogSink({});
    return status;
}
