#include "session/address_book.h"
#include "support/file_size_limit.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace mc {
namespace {

using Messages = std::vector<std::string>;

std::string blankDescriptions(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += "\r\n*";
    }
    return text;
}

TEST(AddressBook, defaultContentIsThe290BytesAndReadsAsBlankEntries) {
    const std::string content = defaultAddressBookContent();
    ASSERT_EQ(content.size(), 290U);
    EXPECT_EQ(content.substr(0, 10), "0000 0000 ");
    EXPECT_EQ(content.substr(155, 9), "0000 \r\n* ");
    EXPECT_EQ(content.substr(284), "\r\n* \r\n");

    const AddressBook book = parseAddressBook(content);
    for (const AddressEntry& entry : book.entries) {
        EXPECT_EQ(entry.address, 0U);
        EXPECT_EQ(entry.description(), " ");
    }
}

TEST(AddressBook, valueKeepsItsLastFourHexDigits) {
    const AddressBook book = parseAddressBook("1A2B 12345 ffff\t\r\n  7 c0fFeE 0");
    EXPECT_EQ(book.entries[0].address, 0x1A2BU);
    EXPECT_EQ(book.entries[0].group(), 0x1AU);
    EXPECT_EQ(book.entries[0].device(), 0x2BU);
    EXPECT_EQ(book.entries[1].address, 0x2345U);
    EXPECT_EQ(book.entries[2].address, 0xFFFFU);
    EXPECT_EQ(book.entries[3].address, 0x0007U);
    EXPECT_EQ(book.entries[4].address, 0xFFEEU);
    EXPECT_EQ(book.entries[5].address, 0U);
}

TEST(AddressBook, aNonHexNumberEndsTheValuesAndItsTextFeedsTheDescriptions) {
    const AddressBook book = parseAddressBook("0102 0304 zz 0506 *Desk\r\n*Rack\r\n");
    EXPECT_EQ(book.entries[0].address, 0x0102U);
    EXPECT_EQ(book.entries[1].address, 0x0304U);
    for (std::size_t i = 2; i < kAddressBookEntries; ++i) {
        EXPECT_EQ(book.entries[i].address, 0U) << i;
    }
    EXPECT_EQ(book.entries[0].description(), "Desk");
    EXPECT_EQ(book.entries[1].description(), "Rack");
    EXPECT_EQ(book.entries[2].description(), "          ");
}

struct DescriptionCase {
    const char* name;
    std::string afterValues;
    std::vector<std::string> descriptions; // of the first entries
};

void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.name;
}

class AddressDescriptions : public testing::TestWithParam<DescriptionCase> {};

TEST_P(AddressDescriptions, readAs) {
    // 32 values, the last one right before the text under test.
    std::string values = "0001";
    for (std::size_t i = 1; i < kAddressBookEntries; ++i) {
        values += " 0001";
    }
    const AddressBook book = parseAddressBook(values + GetParam().afterValues);
    const auto& expected = GetParam().descriptions;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(book.entries[i].description(), expected[i]) << "entry " << i + 1;
    }
    EXPECT_EQ(book.entries[31].address, 1U);
}

const DescriptionCase kDescriptionCases[] = {
    {"blankAfterAsteriskBelongsToIt", "\r\n* Desk\r\n*Rack\r\n", {" Desk", "Rack"}},
    {"cutToTen", "\r\n*ABCDEFGHIJKL\r\n*next\r\n", {"ABCDEFGHIJ", "next"}},
    // After 10 characters the rest of the line is passed over by the next
    // entry's search, which may find an asterisk inside it.
    {"restOfLongLineSearched", "\r\n*ABCDEFGHIJK*L\r\n*next\r\n", {"ABCDEFGHIJ", "L", "next"}},
    {"lfAloneEnds", "\n*ab\n*cd\n", {"ab", "cd"}},
    {"emptyDescription", "\r\n*\r\n*x\r\n", {"", "x"}},
    // No asterisk within 50 characters: the description starts right there.
    {"noAsteriskInFifty", std::string(50, '-') + "abc\r\n*x\r\n", {"abc", "x"}},
    {"asteriskAsFiftiethCharacter", std::string(49, '-') + "*abc\r\n*x\r\n", {"abc", "x"}},
    // The file ends inside a description: what was read stays, blanks after.
    {"fileEndsInside", "\r\n*ab", {"ab        ", "          "}},
    {"fileEndsBeforeAnyDescription", "", {"          ", "          "}},
};
INSTANTIATE_TEST_SUITE_P(AddressBook, AddressDescriptions, testing::ValuesIn(kDescriptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AddressBook, binaryGarbageStaysInsideTheSlots) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage.push_back(static_cast<char>((i * 37) & 0xFF));
    }
    const AddressBook book = parseAddressBook(garbage);
    for (const AddressEntry& entry : book.entries) {
        EXPECT_LE(entry.description().size(), kAddressDescriptionLength);
    }
    EXPECT_EQ(parseAddressBook(blankDescriptions(40)).entries[31].description(), "");
}

class AddressBookFile : public testing::Test {
protected:
    void SetUp() override {
        directory =
            std::filesystem::temp_directory_path() / ("mc-book-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
        base = directory;
    }
    void TearDown() override { std::filesystem::remove_all(base); }

    AddressBook load() {
        return loadAddressBook(directory, [this](std::string_view text) { messages.emplace_back(text); });
    }

    [[nodiscard]] std::filesystem::path file() const { return directory / kAddressBookFileName; }

    [[nodiscard]] std::string contents() const {
        std::ifstream in(file(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void write(const std::string& text) const { std::ofstream(file(), std::ios::binary) << text; }

    std::filesystem::path base;
    std::filesystem::path directory;
    Messages messages;
};

TEST_F(AddressBookFile, missingFileIsCreatedWithTheDefaultContent) {
    const AddressBook book = load();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(contents(), defaultAddressBookContent());
    EXPECT_EQ(book.entries[31].description(), " ");
}

TEST_F(AddressBookFile, existingFileIsReadAndLeftUntouched) {
    const std::string text = "1A2B\r\n*Studio A";
    write(text);
    const auto before = std::filesystem::last_write_time(file());
    const AddressBook book = load();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(book.entries[0].address, 0x1A2BU);
    EXPECT_EQ(book.entries[0].description(), "Studio A  ");
    EXPECT_EQ(contents(), text);
    EXPECT_EQ(std::filesystem::last_write_time(file()), before);
}

TEST_F(AddressBookFile, readOnlyFileIsStillRead) {
    write("0A0B *ro\r\n");
    std::filesystem::permissions(file(), std::filesystem::perms::owner_read);
    const AddressBook book = load();
    // Windows refuses to remove a read-only file: writable again for the
    // clean-up.
    std::filesystem::permissions(file(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(book.entries[0].address, 0x0A0BU);
    EXPECT_EQ(book.entries[0].description(), "ro");
}

TEST_F(AddressBookFile, uncreatableFileGivesTheThreeMessagesAndDefaults) {
    directory /= "missing";
    const AddressBook book = load();
    EXPECT_EQ(messages, (Messages{"There is no KTAddrMg.ini and faild to create new empty ini file !", "failed",
                                  "File read failed"}));
    EXPECT_EQ(book.entries[0].description(), "          ");
}

TEST_F(AddressBookFile, unreadableFileGivesReadFailedAndDefaults) {
    // A directory under the book's name exists but cannot be read as a file.
    std::filesystem::create_directory(file());
    const AddressBook book = load();
    EXPECT_EQ(messages, Messages{"File read failed"});
    EXPECT_EQ(book.entries[0].address, 0U);
    EXPECT_EQ(book.entries[0].description(), "          ");
}

TEST_F(AddressBookFile, hugeFileIsReadOnlyUpToTheLimit) {
    // Values would only start past the limit: none are read.
    write(std::string(kAddressBookReadLimit, ' ') + "1A2B");
    const AddressBook book = load();
    EXPECT_EQ(book.entries[0].address, 0U);
}

// A link under the book's name is never followed to create a file elsewhere:
// the name counts as taken, and the book is then unreadable.
TEST_F(AddressBookFile, danglingLinkIsNeverFollowedToCreateTheBook) {
    const std::filesystem::path elsewhere = directory / "elsewhere.ini";
    std::error_code error;
    std::filesystem::create_symlink(elsewhere, file(), error);
    if (error) {
        GTEST_SKIP() << "this system makes no symbolic links (Wine): " << error.message();
    }
    const AddressBook book = load();
    EXPECT_EQ(messages, Messages{"File read failed"});
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(elsewhere)));
    EXPECT_TRUE(std::filesystem::is_symlink(file()));
    EXPECT_EQ(book.entries[0].description(), "          ");
}

#ifndef _WIN32 // a failing write is made with the POSIX file-size limit
TEST_F(AddressBookFile, cutWriteLeavesNoBookBehind) {
    {
        const test::FileSizeLimit limit(100);
        load();
    }
    EXPECT_EQ(messages, (Messages{"There is no KTAddrMg.ini and faild to create new empty ini file !", "failed",
                                  "File read failed"}));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(file())));
}
#endif

} // namespace
} // namespace mc
