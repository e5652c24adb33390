#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace mc {

inline constexpr std::string_view kAddressBookFileName = "KTAddrMg.ini";
inline constexpr std::size_t kAddressBookEntries = 32;
inline constexpr std::size_t kAddressDescriptionLength = 10;
// How far the search for an entry's asterisk reads before giving up.
inline constexpr std::size_t kAddressAsteriskSearch = 50;
// The book needs a few KiB at most; more of a file is not read (a huge or
// binary file costs no more than this).
inline constexpr std::size_t kAddressBookReadLimit = std::size_t{64} * 1024;

inline constexpr std::string_view kAddressBookCreateFailedMessage =
    "There is no KTAddrMg.ini and faild to create new empty ini file !";
inline constexpr std::string_view kAddressBookMissingMessage = "failed";
inline constexpr std::string_view kAddressBookReadFailedMessage = "File read failed";

// One switcher on a shared RS-232 line.
struct AddressEntry {
    // Group address in the high byte, device address in the low byte.
    std::uint16_t address = 0;
    // Up to 10 characters and a NUL; 10 blanks until the file says otherwise.
    std::array<char, 12> descriptionSlot = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '\0', '\0'};

    [[nodiscard]] std::uint8_t group() const { return static_cast<std::uint8_t>(address >> 8U); }
    [[nodiscard]] std::uint8_t device() const { return static_cast<std::uint8_t>(address & 0xFFU); }
    // The slot up to its first NUL.
    [[nodiscard]] std::string_view description() const {
        const std::string_view slot(descriptionSlot.data(), descriptionSlot.size());
        return slot.substr(0, slot.find('\0'));
    }
};

struct AddressBook {
    std::array<AddressEntry, kAddressBookEntries> entries{};
};

// The file written when none exists: 32 values "0000 ", then 32 descriptions
// of one blank, each after CR LF and an asterisk, then CR LF (290 bytes).
std::string defaultAddressBookContent();

// Reads a book from the file's bytes. Values: hex digits after white space,
// low 16 bits kept; the first thing that is not a hex number ends the values.
// Descriptions: for each entry, up to 50 characters are passed over looking for
// '*'; then up to 10 characters up to CR or LF. Missing parts keep defaults.
AddressBook parseAddressBook(std::string_view content);

using AddressBookMessage = std::function<void(std::string_view text)>;

// Creates the file in directory with the default content when it is missing,
// then reads it. The existing file is only ever opened for reading. Failures
// are reported through showMessage and leave the defaults.
AddressBook loadAddressBook(const std::filesystem::path& directory, const AddressBookMessage& showMessage);

} // namespace mc
