#include "http_token.h"
#include "hub_options.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace mc::hub {
namespace {

ParsedOptions parse(std::vector<std::string_view> args) {
    return parseHubOptions(args);
}

TEST(HttpOptions, httpListensOnLoopbackUnlessAnAddressIsGiven) {
    const auto parsed = parse({"--link", "COM3", "--http", "8080", "--token-file", "/tmp/t"});
    const auto* options = std::get_if<HubOptions>(&parsed);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(*options->http, (ListenAddress{"127.0.0.1", 8080}));
    EXPECT_EQ(options->tokenFile, "/tmp/t");
    EXPECT_FALSE(options->printToken);
    const auto wide = parse({"--link", "COM3", "--http", "0.0.0.0:0"});
    EXPECT_EQ(*std::get<HubOptions>(wide).http, (ListenAddress{"0.0.0.0", 0}));
}

TEST(HttpOptions, printTokenNeedsNoLinkAndBadAddressesNameTheOption) {
    const auto parsed = parse({"--print-token"});
    ASSERT_NE(std::get_if<HubOptions>(&parsed), nullptr);
    EXPECT_TRUE(std::get<HubOptions>(parsed).printToken);
    for (const auto& args : std::vector<std::vector<std::string_view>>{{"--link", "COM1", "--http", "host.example:80"},
                                                                       {"--link", "COM1", "--http", "70000"}}) {
        const auto failed = parse(args);
        ASSERT_NE(std::get_if<std::string>(&failed), nullptr);
        EXPECT_NE(std::get<std::string>(failed).find("--http"), std::string::npos);
    }
}

class TokenFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh token names a folder nobody else uses.
        directory = std::filesystem::temp_directory_path() / ("hub-token-" + freshToken().substr(0, 12));
        ASSERT_TRUE(std::filesystem::create_directory(directory));
        file = directory / "conf" / "http-token";
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::filesystem::path directory;
    std::filesystem::path file;
};

TEST_F(TokenFileTest, AMissingFileIsMadeOwnerOnlyWithARandomTokenThatIsKept) {
    const auto first = loadOrCreateToken(file);
    ASSERT_EQ(first.index(), 0U) << std::get<1>(first);
    const std::string token = std::get<0>(first);
    EXPECT_EQ(token.size(), kTokenLength);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777U, 0600U);
#endif
    EXPECT_EQ(std::get<0>(loadOrCreateToken(file)), token);
    std::filesystem::remove(file);
    EXPECT_NE(std::get<0>(loadOrCreateToken(file)), token);
}

TEST_F(TokenFileTest, AFileWithoutATokenIsRefusedAndOneWithATokenRead) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "short\n";
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto refused = loadOrCreateToken(file);
    ASSERT_EQ(refused.index(), 1U);
    EXPECT_NE(std::get<1>(refused).find(file.string()), std::string::npos) << std::get<1>(refused);
    std::ofstream(file) << "0123456789abcdef 0123\n";
    EXPECT_EQ(loadOrCreateToken(file).index(), 1U);
    std::ofstream(file) << "0123456789abcdef0123\r\n";
    EXPECT_EQ(std::get<0>(loadOrCreateToken(file)), "0123456789abcdef0123");
}

#ifndef _WIN32
// Who may read the file is its mode on POSIX; on Windows the access list the
// hub gives the file when it makes it.
TEST_F(TokenFileTest, AFileOthersMayReadOrThatHoldsNoTokenIsRefused) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "0123456789abcdef0123\n";
    ::chmod(file.c_str(), 0644);
    const auto readable = loadOrCreateToken(file);
    ASSERT_EQ(readable.index(), 1U);
    EXPECT_NE(std::get<1>(readable).find("644"), std::string::npos) << std::get<1>(readable);
    EXPECT_NE(std::get<1>(readable).find(file.string()), std::string::npos);
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(std::get<0>(loadOrCreateToken(file)), "0123456789abcdef0123");
    std::ofstream(file) << "short\n";
    EXPECT_EQ(loadOrCreateToken(file).index(), 1U);
}
#endif

TEST(TokenCompare, OnlyTheSameTokenMatches) {
    EXPECT_TRUE(sameToken("abcdef", "abcdef"));
    EXPECT_FALSE(sameToken("abcdeF", "abcdef"));
    EXPECT_FALSE(sameToken("abcde", "abcdef"));
    EXPECT_FALSE(sameToken("abcdefg", "abcdef"));
    EXPECT_FALSE(sameToken("", "abcdef"));
}

} // namespace
} // namespace mc::hub
