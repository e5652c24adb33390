#include "session/address_book.h"

#include "session/hex_digit.h"
#include "session/new_file.h"

#include <fstream>
#include <system_error>

namespace mc {
namespace {

constexpr std::string_view kDefaultValue = "0000 ";
constexpr std::string_view kDefaultDescription = "\r\n* ";
constexpr std::string_view kLineEnd = "\r\n";

// The white space that "%x" skips.
bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::filesystem::file_type fileType(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::status(path, error).type();
}

// Created only under a free name, never through a link. A cut file would stay
// and be read as the book at every start: it is removed so the next start
// tries again.
bool createDefaultFile(const std::filesystem::path& path) {
    return writeNewFile(path, defaultAddressBookContent(), NewFileMode::CreateNew) == NewFileResult::Written;
}

} // namespace

std::string defaultAddressBookContent() {
    std::string content;
    for (std::size_t i = 0; i < kAddressBookEntries; ++i) {
        content.append(kDefaultValue);
    }
    for (std::size_t i = 0; i < kAddressBookEntries; ++i) {
        content.append(kDefaultDescription);
    }
    content.append(kLineEnd);
    return content;
}

AddressBook parseAddressBook(std::string_view content) {
    AddressBook book;
    std::size_t pos = 0;
    const std::size_t end = content.size();

    for (AddressEntry& entry : book.entries) {
        while (pos < end && isWhiteSpace(content[pos])) {
            ++pos;
        }
        if (pos >= end || hexDigitValue(content[pos]) < 0) {
            break;
        }
        std::uint16_t value = 0;
        for (; pos < end && hexDigitValue(content[pos]) >= 0; ++pos) {
            // Shifting out the high digits keeps the last four.
            value = static_cast<std::uint16_t>((value << 4U) | static_cast<unsigned>(hexDigitValue(content[pos])));
        }
        entry.address = value;
    }

    for (AddressEntry& entry : book.entries) {
        for (std::size_t searched = 0; searched < kAddressAsteriskSearch && pos < end; ++searched) {
            if (content[pos++] == '*') {
                break;
            }
        }
        for (std::size_t stored = 0; stored < kAddressDescriptionLength && pos < end; ++stored) {
            const char c = content[pos++];
            if (c == '\r' || c == '\n') {
                entry.descriptionSlot[stored] = '\0';
                break;
            }
            entry.descriptionSlot[stored] = c;
        }
    }
    return book;
}

AddressBook loadAddressBook(const std::filesystem::path& directory, const AddressBookMessage& showMessage) {
    const std::filesystem::path path = directory / kAddressBookFileName;
    // Any entry under the name, a dangling link too, counts as the book.
    if (!nameIsTaken(path) && !createDefaultFile(path)) {
        showMessage(kAddressBookCreateFailedMessage);
        if (!nameIsTaken(path)) {
            showMessage(kAddressBookMissingMessage);
        }
    }

    // Read-only: the console never changes an existing book, and a
    // write-protected book is as readable as any other. Only a regular file is
    // opened: a directory reads as nothing and a FIFO would block start-up.
    std::ifstream file;
    if (fileType(path) == std::filesystem::file_type::regular) {
        file.open(path, std::ios::binary);
    }
    if (!file.is_open()) {
        showMessage(kAddressBookReadFailedMessage);
        return {};
    }
    std::string content(kAddressBookReadLimit, '\0');
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (file.bad()) {
        showMessage(kAddressBookReadFailedMessage);
        return {};
    }
    content.resize(static_cast<std::size_t>(file.gcount()));
    return parseAddressBook(content);
}

} // namespace mc
