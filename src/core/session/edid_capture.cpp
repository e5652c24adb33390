#include "session/edid_capture.h"

#include "session/line_assembler.h"
#include "session/new_file.h"

#include <algorithm>

namespace mc {
namespace {

bool startsPair(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

unsigned digitValue(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c));
}

// The switcher sends lower-case hex. The low nibble is not checked: a
// non-digit counts as a letter, so odd characters give odd bytes, wrapped to
// eight bits.
std::uint8_t pairValue(char high, char low) {
    const unsigned hi = (high >= '0' && high <= '9') ? digitValue(high) - '0' : digitValue(high) - 'a' + 10U;
    const unsigned lo = (low >= '0' && low <= '9') ? digitValue(low) - '0' : digitValue(low) - 'a' + 10U;
    return static_cast<std::uint8_t>(hi * 16U + lo);
}

} // namespace

bool isEdidDataLine(std::string_view line) {
    line = replyText(line);
    return line.find(kEdidKeyword) != std::string_view::npos && line.find(kEdidDataKeyword) != std::string_view::npos;
}

void scanEdidData(std::string_view line, EdidImage& image) {
    line = replyText(line);
    const std::size_t data = line.find(kEdidDataKeyword);
    if (data == std::string_view::npos) {
        return;
    }
    const std::size_t end = std::min(line.size(), kEdidScanLimit);
    std::size_t pos = data + kEdidDataKeyword.size();
    for (std::uint8_t& byte : image) {
        while (pos < end && !startsPair(line[pos])) {
            ++pos;
        }
        if (pos + 1 >= end) {
            return;
        }
        byte = pairValue(line[pos], line[pos + 1]);
        pos += 2;
    }
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
std::optional<std::string> EdidCapture::freeFileName() const {
    std::optional<std::string> name;
    for (int serial = 0; serial < kEdidFileSerials; ++serial) {
        name = edidFileName(state_.edidFileName, serial);
        if (!name || !files_.exists(*name)) {
            return name;
        }
    }
    return name;
}

void EdidCapture::handleLine(std::string_view line) {
    if (!isEdidDataLine(line)) {
        return;
    }
    // This line ends the read whatever follows.
    state_.edidToFile = false;
    scanEdidData(line, state_.receivedEdid);
    const EdidImage image = state_.receivedEdid;

    const auto name = freeFileName();
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
}

} // namespace mc
