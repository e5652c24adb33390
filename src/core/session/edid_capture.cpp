#include "session/edid_capture.h"

#include "edid/edid_check.h"
#include "session/line_assembler.h"
#include "session/log_hook.h"
#include "session/new_file.h"

#include <utility>

namespace mc {
bool isEdidDataLine(std::string_view line) {
    line = replyText(line);
    return line.find(kEdidKeyword) != std::string_view::npos && line.find(kEdidDataKeyword) != std::string_view::npos;
}

std::optional<std::string> edidFileName(std::string_view pattern, int serial) {
    if (serial < 0 || serial >= kEdidFileSerials) {
        return std::nullopt;
    }
    const std::size_t field = pattern.find(kEdidSerialField);
    if (field == std::string_view::npos || pattern.find('%') != field ||
        pattern.find('%', field + kEdidSerialField.size()) != std::string_view::npos) {
        return std::nullopt;
    }
    std::string name(pattern.substr(0, field));
    name.push_back(static_cast<char>('0' + serial / 10));
    name.push_back(static_cast<char>('0' + serial % 10));
    name.append(pattern.substr(field + kEdidSerialField.size()));
    return name;
}

bool DirectoryEdidFiles::exists(const std::string& name) const {
    // Any entry takes the name, a dangling link too: the file is never
    // created through it, outside the directory.
    return nameIsTaken(directory_ / name);
}

EdidFiles::SaveResult DirectoryEdidFiles::save(const std::string& name, const EdidImage& image) {
    const std::filesystem::path path = directory_ / name;
    const std::string_view bytes(reinterpret_cast<const char*>(image.data()), image.size());
    // Truncating a regular file only happens to the last name, when all are taken.
    switch (writeNewFile(path, bytes, NewFileMode::CreateOrTruncateRegular)) {
    case NewFileResult::CannotCreate:
        return SaveResult::CannotCreate;
    case NewFileResult::WriteFailed:
        return SaveResult::WriteFailed;
    case NewFileResult::Written:
        break;
    }
    return exists(name) ? SaveResult::Saved : SaveResult::MissingAfterCreate;
}

// Names 00..99 in turn; when all exist, 99 is overwritten.
std::optional<std::string> EdidCapture::freeFileName(const std::string& pattern) const {
    std::optional<std::string> name;
    for (int serial = 0; serial < kEdidFileSerials; ++serial) {
        name = edidFileName(pattern, serial);
        if (!name || !files_.exists(*name)) {
            return name;
        }
    }
    return name;
}

EdidReply EdidCapture::check(std::string_view line) const {
    return checkEdidReply(replyText(line), expected_ ? expected_->port : EdidPort{});
}

void EdidCapture::handleLine(std::string_view line) {
    if (pending() && isEdidDataLine(line)) {
        handleLine(line, check(line));
    }
}

void EdidCapture::handleLine(std::string_view line, const EdidReply& checked) {
    if (!pending() || !isEdidDataLine(line)) {
        return;
    }
    // This line ends the read whatever follows.
    const EdidReadBack asked = *std::exchange(expected_, std::nullopt);
    if (!checked.problem.empty()) {
        // Stale or partial bytes must never be saved as an EDID.
        logMessage(LogLevel::Error, kEdidCheckLogSource, std::string(kEdidNotSavedLog) + checked.problem);
        return;
    }
    const EdidImage& image = checked.image;
    const auto name = freeFileName(asked.fileNamePattern);
    const auto result = name ? files_.save(*name, image) : EdidFiles::SaveResult::CannotCreate;
    switch (result) {
    case EdidFiles::SaveResult::CannotCreate:
        console_.showMessage(kCannotCreateFileMessage);
        return;
    case EdidFiles::SaveResult::MissingAfterCreate:
    case EdidFiles::SaveResult::WriteFailed:
        // A write that did not reach the disk is no success either.
        console_.showMessage(kSavedFileMissingMessage);
        return;
    case EdidFiles::SaveResult::Saved:
        break;
    }
    console_.showMessage(std::string(kSavedToFileMessage) + *name);
    edid_.showCapturedEdid(image);
    logEdidFindings(image, "read back into " + *name);
}

std::string logEdidFindings(std::span<const std::uint8_t> edid, const std::string& what) {
    const EdidFindings findings = checkEdid(edid);
    if (findings.empty()) {
        return {};
    }
    std::string summary = summariseEdidFindings(findings);
    logMessage(hasEdidErrors(findings) ? LogLevel::Error : LogLevel::Warning, kEdidCheckLogSource,
               "EDID " + what + ": " + summary);
    return summary;
}

} // namespace mc
