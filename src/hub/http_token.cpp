#include "http_token.h"

#include <random>

namespace mc::hub {

std::string freshToken() {
    std::random_device source; // the system's random source
    constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    while (token.size() < kTokenLength) {
        const unsigned value = source();
        for (int shift = 0; shift < 32 && token.size() < kTokenLength; shift += 4) {
            token += kHex[(value >> static_cast<unsigned>(shift)) & 0xFU];
        }
    }
    return token;
}

std::optional<std::string> tokenInText(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.size() < kShortestToken || text.find_first_of(" \t\r\n") != std::string::npos) {
        return std::nullopt;
    }
    return text;
}

std::string tokenFileError(const std::filesystem::path& file, std::string_view what) {
    return "token file " + file.string() + ": " + std::string(what);
}

bool sameToken(std::string_view a, std::string_view b) {
    unsigned difference = a.size() == b.size() ? 0U : 1U;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b.empty() ? 0 : b[i % b.size()]);
    }
    return difference == 0;
}

} // namespace mc::hub
