#pragma once

#include "site/site.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The site file: read and checked as a whole before anything uses it, and
// replaced as a whole when saved, so it is always either the old or the new
// version, never a mixture or a cut one, whenever the program is killed.
namespace mc {

// A site file is read only up to this size; the largest valid site (every
// name, 128 presets of 16 routes with audio) is well below it.
inline constexpr std::size_t kMaxSiteFileBytes = std::size_t{1024} * 1024;

// The file name the previous version is kept under when a save replaces
// it: "site.json" -> "site.json.bak".
inline constexpr std::string_view kSiteBackupSuffix = ".bak";
[[nodiscard]] std::filesystem::path siteBackupPath(const std::filesystem::path& file);

// Why a site file could not be used: the file, where in it (line and column
// from 1; 0 when the fault is not at one place, such as an unreadable file)
// and what is wrong.
struct SiteFileError {
    std::filesystem::path file;
    int line = 0;
    int column = 0;
    std::string what;

    // "FILE:LINE:COLUMN: WHAT", or "FILE: WHAT" without a position.
    [[nodiscard]] std::string message() const;
};

struct SiteLoad {
    Site site;
    // False when there was no file: the site is empty (a first start).
    bool existed = false;
    // Set when the file could not be read or is not a valid site; the site is
    // then empty and must not be saved over the file.
    std::optional<SiteFileError> error;

    [[nodiscard]] bool ok() const { return !error; }
};

// Reads and checks the site file. A missing file is an empty site; a file
// that cannot be read (permissions, a directory, too large) or is not a
// valid site is an error with the OS reason or the line and column.
[[nodiscard]] SiteLoad loadSiteFile(const std::filesystem::path& file);

// Checks the text of a site file; file only names it in the error.
[[nodiscard]] SiteLoad parseSiteText(std::string_view text, const std::filesystem::path& file);

// Writes the site to file atomically: a temporary file in the same folder
// (created, never opened through an existing name), written and flushed to
// the disk, the current file kept as FILE.bak, then renamed over file and
// the folder flushed. Creates the folder when missing. Refuses a file that
// is a symbolic link or anything but a regular file, rather than replace
// what it points to or stands for. Returns nullopt when saved, else why
// not ("cannot save FILE: REASON"); the file is then untouched.
[[nodiscard]] std::optional<std::string> saveSiteFile(const std::filesystem::path& file, const Site& site);

// A site and the file it lives in, kept in step: a change is saved before
// it is taken, so the site the hub shows is always the one on the disk.
// Not thread-safe: one owner calls it (or guards it).
class SiteStore {
public:
    // file: where changes are saved; site: what it holds now (from
    // loadSiteFile, which must have succeeded).
    SiteStore(std::filesystem::path file, Site site);

    [[nodiscard]] const Site& site() const { return site_; }
    [[nodiscard]] const std::filesystem::path& file() const { return file_; }

    // Runs change on a copy of the site. A refused change, or one that
    // changes nothing, writes nothing. Otherwise the copy is saved, and
    // taken only when the save succeeded; a failed save leaves the site as
    // it was, with error SaveFailed saying why.
    SiteUpdate apply(const std::function<SiteUpdate(Site&)>& change);

private:
    std::filesystem::path file_;
    Site site_;
};

// The site file of a hub run by a user: $XDG_CONFIG_HOME/matrix-hub/site.json,
// or ~/.config/matrix-hub/site.json when XDG_CONFIG_HOME is unset or not an
// absolute path (on Windows: %APPDATA%\matrix-hub\site.json). Empty when no
// home folder is known.
[[nodiscard]] std::filesystem::path userSitePath();
// The same from given values (for the tests): xdgConfigHome and home may be
// null or empty.
[[nodiscard]] std::filesystem::path userSitePath(const char* xdgConfigHome, const char* home);

// The site file of the hub run as a system service (its state directory).
[[nodiscard]] std::filesystem::path serviceSitePath();

} // namespace mc
