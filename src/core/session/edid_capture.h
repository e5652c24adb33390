#pragma once

#include "edid/edid_choices.h"
#include "edid/edid_image.h"
#include "session/edid_reply.h"
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
// Starts the log entry and the traffic mark of an EDID data line refused.
inline constexpr std::string_view kEdidNotSavedLog = "EDID read back not saved: ";

// Logs the check's findings of an EDID, if any, as "EDID <what>: <findings>"
// (an error entry when one is an error, else a warning entry) and returns
// the findings' one-line summary; empty for a sound EDID.
std::string logEdidFindings(std::span<const std::uint8_t> edid, const std::string& what);

// True when the line (up to its first NUL) holds both "EDID " and "DATA ".
bool isEdidDataLine(std::string_view line);

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

// An EDID read-back the console waits for: the port asked and the name
// pattern its EDID is saved under (one "%02d" for the serial).
struct EdidReadBack {
    EdidPort port;
    std::string fileNamePattern;
};

// Where the EDID page starts a read-back.
class EdidReadBackStarter {
public:
    virtual ~EdidReadBackStarter() = default;
    virtual void expectEdid(EdidReadBack readBack) = 0;
};

// The EDID-to-file parser, and the one owner of the read-back mode. While a
// read-back waits, the first line with both keywords ends it: checked as the
// EDID of the port asked (whole 128-byte blocks of hex pairs), then saved
// under the first free name of the pattern, announced and shown. A line that
// fails the check is not saved: the log says why (and the traffic mark, made
// from the same check), and the page keeps what it shows. Other lines are
// dropped and the mode stays.
class EdidCapture {
public:
    EdidCapture(const ReplyViews& views, EdidFiles& files)
        : console_(views.console), edid_(views.edid), files_(files) {}

    // Starts (or restarts) the read-back mode.
    void expect(EdidReadBack readBack) { expected_ = std::move(readBack); }
    // Ends a pending read-back; nothing is saved.
    void end() { expected_.reset(); }
    [[nodiscard]] bool pending() const { return expected_.has_value(); }
    [[nodiscard]] const std::optional<EdidReadBack>& expected() const { return expected_; }

    // The check of an EDID data line against the port asked; call while
    // pending().
    [[nodiscard]] EdidReply check(std::string_view line) const;
    // Takes a complete line while pending(); `checked` is check(line) when
    // the caller has it already.
    void handleLine(std::string_view line);
    void handleLine(std::string_view line, const EdidReply& checked);

private:
    [[nodiscard]] std::optional<std::string> freeFileName(const std::string& pattern) const;

    ConsoleView& console_;
    EdidView& edid_;
    EdidFiles& files_;
    std::optional<EdidReadBack> expected_;
};

} // namespace mc
