#pragma once

#include "session/console_state.h"
#include "session/reply_views.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace mc {

// The EDID data line holds both keywords; the hex bytes follow "DATA ".
inline constexpr std::string_view kEdidKeyword = "EDID ";
inline constexpr std::string_view kEdidDataKeyword = "DATA ";
// The hex scan never reads at or beyond this position of the line.
inline constexpr std::size_t kEdidScanLimit = 2000;
// Saved EDIDs take the first free serial number 00..99 in the name pattern.
inline constexpr int kEdidFileSerials = 100;
inline constexpr std::string_view kEdidSerialField = "%02d";

inline constexpr std::string_view kCannotCreateFileMessage = "Faild to create file";
inline constexpr std::string_view kSavedFileMissingMessage = "failed";
inline constexpr std::string_view kSavedToFileMessage = "Save to file: ";

// The log source of what the EDID check finds in an EDID the console reads
// back or uploads.
inline constexpr std::string_view kEdidCheckLogSource = "EDID check";
// Starts the traffic mark of an EDID sent or read back with findings.
inline constexpr std::string_view kEdidCheckNote = "EDID check: ";

// Logs the check's findings of an EDID, if any, as "EDID <what>: <findings>"
// (an error entry when one is an error, else a warning entry) and returns
// the findings' one-line summary; empty for a sound EDID.
std::string logEdidFindings(std::span<const std::uint8_t> edid, const std::string& what);

// True when the line (up to its first NUL) holds both "EDID " and "DATA ".
bool isEdidDataLine(std::string_view line);

// Reads the hex pairs behind the first "DATA " into image, byte 0 to 255. Only
// a digit or 'a'-'f' starts a pair (upper case is skipped like a blank); the
// second character is a digit or else taken as a lower-case letter, whatever it
// is, with the byte wrapping modulo 256. Reads stop at the line's end (its
// first NUL) and before kEdidScanLimit; bytes without a pair keep their values.
void scanEdidData(std::string_view line, EdidImage& image);

// The pattern with its "%02d" replaced by serial as two digits. The pattern is
// never used as a format string: std::nullopt unless it holds exactly one
// "%02d" and no other '%', or serial is outside 0..99.
std::optional<std::string> edidFileName(std::string_view pattern, int serial);

// Where captured EDIDs are written.
class EdidFiles {
public:
    enum class SaveResult { Saved, CannotCreate, MissingAfterCreate, WriteFailed };

    virtual ~EdidFiles() = default;
    // Any entry under the name takes it, a dangling link too.
    [[nodiscard]] virtual bool exists(const std::string& name) const = 0;
    // Creates the file (or truncates the regular file under the name), writes
    // the 256 bytes and closes it; a file whose write failed is removed.
    virtual SaveResult save(const std::string& name, const EdidImage& image) = 0;
};

// EDID files in a directory on disk; the console uses the working directory.
class DirectoryEdidFiles final : public EdidFiles {
public:
    explicit DirectoryEdidFiles(std::filesystem::path directory = ".") : directory_(std::move(directory)) {}

    [[nodiscard]] bool exists(const std::string& name) const override;
    SaveResult save(const std::string& name, const EdidImage& image) override;

private:
    std::filesystem::path directory_;
};

// The EDID-to-file parser: handles one complete line while an EDID read is
// pending (ConsoleState::edidToFile). The first line with both keywords is
// scanned into ConsoleState::receivedEdid, saved under the first free name of
// ConsoleState::edidFileName, announced and shown, and ends the mode whatever
// the outcome. Other lines are dropped and the mode stays.
class EdidCapture {
public:
    EdidCapture(ConsoleState& state, const ReplyViews& views, EdidFiles& files)
        : state_(state), console_(views.console), edid_(views.edid), files_(files) {}

    void handleLine(std::string_view line);

private:
    [[nodiscard]] std::optional<std::string> freeFileName() const;

    ConsoleState& state_;
    ConsoleView& console_;
    EdidView& edid_;
    EdidFiles& files_;
};

} // namespace mc
