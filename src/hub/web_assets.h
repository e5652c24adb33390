#pragma once

#include <span>
#include <string_view>

// The page's files and the API's description, compiled into the program
// (generated from src/hub/web and docs/openapi.json at build time), so the
// hub serves them with nothing to install beside it.
namespace mc::hub {

struct WebAsset {
    std::string_view path; // "/", "/app.js", "/api/v1/openapi.json"
    std::string_view contentType;
    std::string_view body;
};

[[nodiscard]] std::span<const WebAsset> webAssets();

} // namespace mc::hub
