#include "site/site_file.h"

#include "site/json_positions.h"
#include "site/site_file_io.h"
#include "site/site_json.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace mc {
namespace {

constexpr std::string_view kHubFolder = "matrix-hub";
constexpr std::string_view kSiteFileName = "site.json";
constexpr std::string_view kServiceStateFolder = "/var/lib/matrix-hub";

// The parser's own words after its position prefix ("syntax error while
// parsing value - unexpected ']'; ..."), with any byte that is not printable
// ASCII (it may quote the broken input) shown as '?'.
std::string parserReason(std::string_view what) {
    const std::size_t column = what.find("column ");
    const std::size_t colon = column == std::string_view::npos ? column : what.find(": ", column);
    if (colon != std::string_view::npos) {
        what.remove_prefix(colon + 2);
    }
    std::string out;
    for (const char c : what) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return out;
}

SiteFileError errorAt(const std::filesystem::path& file, std::string_view text, std::size_t offset, std::string what) {
    const TextPosition position = textPositionAt(text, offset);
    return SiteFileError{file, position.line, position.column, std::move(what)};
}

} // namespace

std::filesystem::path siteBackupPath(const std::filesystem::path& file) {
    std::filesystem::path backup = file;
    backup += std::string(kSiteBackupSuffix);
    return backup;
}

std::string SiteFileError::message() const {
    std::string out = file.string();
    if (line > 0) {
        out += ":" + std::to_string(line) + ":" + std::to_string(column);
    }
    return out + ": " + what;
}

SiteLoad parseSiteText(std::string_view text, const std::filesystem::path& file) {
    SiteLoad load;
    load.existed = true;
    SiteJson document;
    try {
        document = SiteJson::parse(text);
    } catch (const SiteJson::parse_error& e) {
        // e.byte counts from 1 and names the character the parser stopped at.
        load.error = errorAt(file, text, e.byte > 0 ? e.byte - 1 : 0, parserReason(e.what()));
        return load;
    }
    const JsonPositions positions(text);
    if (const auto& fault = positions.fault()) {
        load.error = errorAt(file, text, fault->offset, fault->message);
        return load;
    }
    SiteFromJson read = siteFromJson(document);
    if (read.problem) {
        const auto offset = positions.offsetOf(read.problem->pointer, read.problem->atKey);
        load.error = errorAt(file, text, offset.value_or(0), read.problem->message);
        return load;
    }
    load.site = std::move(read.site);
    return load;
}

SiteLoad loadSiteFile(const std::filesystem::path& file) {
    site_io::FileRead read = site_io::readRegularFile(file, kMaxSiteFileBytes);
    if (read.result == site_io::FileRead::Result::Missing) {
        return SiteLoad{};
    }
    if (read.result == site_io::FileRead::Result::Failed) {
        SiteLoad load;
        load.existed = true;
        load.error = SiteFileError{file, 0, 0, "cannot read the site file: " + read.reason};
        return load;
    }
    return parseSiteText(read.bytes, file);
}

std::optional<std::string> saveSiteFile(const std::filesystem::path& file, const Site& site) {
    if (auto failed = site_io::replaceFile(file, siteToText(site), siteBackupPath(file))) {
        return "cannot save " + file.string() + ": " + *failed;
    }
    return std::nullopt;
}

std::filesystem::path userSitePath(const char* xdgConfigHome, const char* home) {
    std::filesystem::path base;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (xdgConfigHome != nullptr && std::filesystem::path(xdgConfigHome).is_absolute()) {
        base = xdgConfigHome;
    } else if (home != nullptr && *home != '\0') {
        base = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return base / kHubFolder / kSiteFileName;
}

std::filesystem::path userSitePath() {
#ifdef _WIN32
    // The per-user settings folder; passed as the "configuration home".
    const char* appData = std::getenv("APPDATA");
    return userSitePath(appData, nullptr);
#else
    return userSitePath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
#endif
}

std::filesystem::path serviceSitePath() {
    return std::filesystem::path(kServiceStateFolder) / kSiteFileName;
}

namespace site_io {

std::string randomSuffix() {
    // Drawn afresh each time, never from a generator's state: a process
    // forked from this one would otherwise draw the same names.
    std::random_device device;
    const auto value = (static_cast<unsigned long long>(device()) << 32) ^ device();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", value);
    return text;
}

} // namespace site_io
} // namespace mc
