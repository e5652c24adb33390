#include "support/pty_peer.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace mc::test {
namespace {

using namespace std::chrono_literals;

TEST(PtyPeer, bytesCrossBothWaysUntranslatedThroughThePortLink) {
    auto peer = PtyPeer::create();
    ASSERT_TRUE(peer);
    PortDirectory ports;
    ASSERT_TRUE(peer->linkAs(ports.path(), 3));
    ASSERT_TRUE(std::filesystem::is_symlink(ports.portPath(3)));

    const int fd = ::open(ports.portPath(3).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    // Raw from the start: CR LF arrive as sent and nothing is echoed back.
    ASSERT_TRUE(peer->write("\r\nOUT1 VS IN1\r\n"));
    char buffer[64] = {};
    std::string got;
    while (got.size() < 15) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "\r\nOUT1 VS IN1\r\n");
    EXPECT_EQ(peer->readAll(50ms, 200ms), "");

    ASSERT_EQ(::write(fd, "GET STA\r\n", 9), 9);
    EXPECT_EQ(peer->read(9, 1s), "GET STA\r\n");
    ::close(fd);
}

TEST(PtyPeer, portDirectoryIsRemovedWithItsLinks) {
    std::string path;
    {
        PortDirectory ports;
        path = ports.path();
        auto peer = PtyPeer::create();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(peer->linkAs(path, 1));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace mc::test
