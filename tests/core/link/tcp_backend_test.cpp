// The TCP backend under the channel's port worker, against a loopback peer.
#include "link/link_channel.h"
#include "link/tcp_backend.h"
#include "support/recording_sink.h"
#include "support/tcp_peer.h"
#include "support/under_wine.h"

#include <cstdio>
#include <future>
#include <gtest/gtest.h>
#include <thread>

#ifdef _WIN32
#include "link/win32_system.h" // and windows.h, through under_wine.h: its winerror.h names the Winsock errors
#else
#include <cerrno>
#include <cstring>
#endif

namespace mc {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;
using test::TcpPeer;

// Generous: the machine running the tests may be loaded.
constexpr auto kArrival = 5s;

// The system's words for a refused connect and a reset connection.
#ifdef _WIN32
const std::string kRefused = systemText(WSAECONNREFUSED);
const std::string kReset = systemText(WSAECONNRESET);
#else
const std::string kRefused = std::strerror(ECONNREFUSED);
const std::string kReset = std::strerror(ECONNRESET);
#endif

class TcpBackendTest : public ::testing::Test {
protected:
    // Opens the link to 127.0.0.1:port and starts its worker.
    void open(std::uint16_t port, std::string host = "127.0.0.1",
              std::chrono::milliseconds bound = kTcpConnectTimeout) {
        ASSERT_TRUE(channel_.openLink(sink_, kNetworkLinkNumber,
                                      makeTcpBackend(TcpLinkAddress{std::move(host), port}, bound, connected_), {}));
        ASSERT_TRUE(channel_.startPortWorker());
    }

    bool waitForError(std::chrono::milliseconds timeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!channel_.portError()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    // Connected, then the peer's bytes are read.
    void connectAndExchange() {
        open(peer_.port());
        ASSERT_TRUE(peer_.accept(kArrival)) << channel_.lastFailure();
        ASSERT_EQ(channel_.sendTextCommand("GET STA\r\n"), SendResult::Queued);
        EXPECT_EQ(peer_.receive(9, kArrival), "GET STA\r\n");
        EXPECT_TRUE(connected_->load());
        ASSERT_TRUE(peer_.send("OUT01 IN02\r\n"));
        ASSERT_TRUE(sink_.waitForBytes(12, kArrival));
    }

    TcpPeer peer_;
    TcpConnectedFlag connected_ = std::make_shared<std::atomic<bool>>(false);
    RecordingSink sink_;
    LinkChannel channel_{[](int) { return nullptr; }}; // destroyed before the sink
};

// Resolving and connecting together get 3 s, as the messages and the manual say.
TEST(TcpConnectBound, isThreeSeconds) {
    EXPECT_EQ(kTcpConnectTimeout, 3s);
}

TEST_F(TcpBackendTest, CarriesBytesBothWaysInOrderUnderTheNetworkLinkNumber) {
    ASSERT_TRUE(peer_.listening());
    connectAndExchange();
    std::string big;
    for (int i = 0; i < 3000; ++i) {
        big += static_cast<char>('a' + i % 26);
    }
    ASSERT_TRUE(peer_.send(big));
    ASSERT_TRUE(sink_.waitForBytes(12 + big.size(), kArrival));
    EXPECT_EQ(sink_.text(), "OUT01 IN02\r\n" + big);
    for (const auto& r : sink_.received()) {
        ASSERT_EQ(r.linkNumber, kNetworkLinkNumber);
    }
    for (std::size_t size : sink_.burstSizes()) {
        EXPECT_LE(size, kReceiveBurstLimit);
    }
    EXPECT_FALSE(channel_.portError());
}

TEST_F(TcpBackendTest, SendsQueuedBeforeTheConnectGoOutOnceConnected) {
    open(peer_.port());
    ASSERT_EQ(channel_.sendTextCommand("A\r\n"), SendResult::Queued);
    ASSERT_EQ(channel_.sendTextCommand("B\r\n"), SendResult::Queued);
    ASSERT_TRUE(peer_.accept(kArrival));
    EXPECT_EQ(peer_.receive(6, kArrival), "A\r\nB\r\n");
}

// The purge before every write: bytes received and not yet read are
// dropped, those arriving after it are kept.
TEST_F(TcpBackendTest, PurgeInputDiscardsWhatIsReceivedAndUnread) {
    auto backend = makeTcpBackend(TcpLinkAddress{"127.0.0.1", peer_.port()});
    ASSERT_TRUE(backend->open());
    ASSERT_TRUE(backend->connect()) << backend->failure();
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(peer_.send("stale one\r\n"));
    std::uint8_t byte = 0;
    const auto readOne = [&] {
        const auto deadline = std::chrono::steady_clock::now() + kArrival;
        LinkRead result = LinkRead::Empty;
        while ((result = backend->readByte(byte)) == LinkRead::Empty && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        return result;
    };
    ASSERT_EQ(readOne(), LinkRead::Byte); // the rest now waits in the backend
    EXPECT_EQ(byte, 's');
    ASSERT_TRUE(peer_.send("stale two\r\n"));
    std::this_thread::sleep_for(100ms); // and this in the socket
    EXPECT_EQ(backend->queuedBytes(), 21);
    backend->purgeInput();
    EXPECT_EQ(backend->queuedBytes(), 0);
    ASSERT_TRUE(peer_.send("F"));
    ASSERT_EQ(readOne(), LinkRead::Byte);
    EXPECT_EQ(byte, 'F');
    backend->close();
}

// A far end that closes or resets fails the link as a hang-up fails a serial
// line: the flag with its reason, told once, and a quiet worker.
TEST_F(TcpBackendTest, PeerCloseAndResetAreLinkFailuresToldOnce) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        channel_.clearPortError();
        sink_.take();
        sink_.takeFailures();
        connectAndExchange();
        peer_.closeClient(reset);
        ASSERT_TRUE(waitForError(kArrival));
        ASSERT_TRUE(sink_.waitForFailure(kArrival));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(sink_.received().size(), 12U) << "no byte for the failure, nothing after it";
        EXPECT_EQ(sink_.failures().size(), 1U);
        const std::string prefix = "read 127.0.0.1:" + std::to_string(peer_.port()) + ": ";
        const std::string failure = channel_.lastFailure();
        ASSERT_TRUE(failure.starts_with(prefix)) << failure;
        const std::string reason = failure.substr(prefix.size());
        const std::string closed = "the peer closed the connection";
        if (reset && test::runningUnderWine()) {
            // Wine 8 passes a reset on as an orderly end: FD_CLOSE without an
            // error, and recv gives 0.
            EXPECT_TRUE(reason == kReset || reason == closed) << reason;
        } else {
            EXPECT_EQ(reason, reset ? kReset : closed);
        }
        channel_.closeLink();
    }
}

// What came before an orderly close is handed over in full, however soon the
// close follows it, and the close is still noticed after it.
TEST_F(TcpBackendTest, BytesBeforeACloseMidLineAreHandedOverBeforeTheFailure) {
    connectAndExchange();
    std::string partial(2 * kReceiveBurstLimit + 7, 'x');
    partial.insert(0, "OUT02 IN");
    ASSERT_TRUE(peer_.send(partial));
    peer_.closeClient();
    ASSERT_TRUE(waitForError(kArrival));
    ASSERT_TRUE(sink_.waitForFailure(kArrival));
    EXPECT_EQ(sink_.text().substr(12, partial.size()), partial);
    EXPECT_EQ(sink_.received().size(), 12 + partial.size());
    EXPECT_EQ(sink_.failures().at(0).bytesBefore, 12 + partial.size()) << "the bytes, then the failure";
}

TEST_F(TcpBackendTest, ARefusedConnectFailsWithTheAddressAndReason) {
    const std::uint16_t port = test::closedLoopbackPort();
    open(port);
    ASSERT_TRUE(waitForError(kArrival));
    EXPECT_EQ(channel_.lastFailure(), "connect 127.0.0.1:" + std::to_string(port) + ": " + kRefused);
    EXPECT_FALSE(connected_->load());
    ASSERT_TRUE(sink_.waitForFailure(kArrival)) << "the owner is told, as of a line failure";
    EXPECT_EQ(sink_.failures()[0].reason, channel_.lastFailure());
    EXPECT_TRUE(sink_.takeConnects().empty()) << "never up";
}

TEST_F(TcpBackendTest, AnUnresolvableNameFailsWithinTheBound) {
    const auto start = std::chrono::steady_clock::now();
    open(5000, "nosuch.invalid");
    ASSERT_TRUE(waitForError(kTcpConnectTimeout + 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kTcpConnectTimeout + 1s);
    EXPECT_TRUE(channel_.lastFailure().starts_with("resolve nosuch.invalid: ")) << channel_.lastFailure();
}

TEST_F(TcpBackendTest, AConnectThatNeverCompletesGivesUpAtTheBound) {
    test::FullBacklogListener listener;
    if (!listener.ready()) {
        GTEST_SKIP() << "this system completes every loopback connect";
    }
    const auto start = std::chrono::steady_clock::now();
    open(listener.port());
    ASSERT_TRUE(waitForError(kTcpConnectTimeout + 3s));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("connect to a loopback listener that never answers gave up after %.2f s\n", took.count());
    EXPECT_GE(took, 2500ms);
    EXPECT_LT(took, 4500ms);
    EXPECT_EQ(channel_.lastFailure(), "connect 127.0.0.1:" + std::to_string(listener.port()) + ": timed out after 3 s");
}

TEST_F(TcpBackendTest, ACloseDuringTheConnectReturnsAtOnce) {
    test::FullBacklogListener listener;
    if (!listener.ready()) {
        GTEST_SKIP() << "this system completes every loopback connect";
    }
    open(listener.port());
    std::this_thread::sleep_for(200ms); // inside the connect
    const auto start = std::chrono::steady_clock::now();
    channel_.closeLink();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(channel_.portError()) << "ended by the close, not failed";
}

} // namespace
} // namespace mc
