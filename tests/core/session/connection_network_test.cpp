// The connection's network link against a loopback peer: open, status
// request, close, failed connects told with host, port and reason, and the
// COM controls taking over.
#include "session/connection.h"
#include "session/traffic_format.h"
#include "session/traffic_log.h"
#include "support/fake_connection_view.h"
#include "support/pty_peer.h"
#include "support/recording_sink.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>
#include <thread>

namespace mc {
namespace {

using namespace std::chrono_literals;

constexpr auto kArrival = 5s;

class ConnectionNetworkTest : public ::testing::Test {
protected:
    void SetUp() override { ports_.exportToEnvironment(); }

    // Hands the connection what the channel told, as the window thread does:
    // the connect, the bytes, a failure; until `done` or the time is up.
    template <class Done> bool pumpUntil(Done done, std::chrono::milliseconds timeout = kArrival) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (const int link : sink_.takeConnects()) {
                connection_.linkConnected(link);
                ++connects_;
            }
            for (const auto& r : sink_.take()) {
                if (connection_.admitReceivedByte(r.linkNumber, channel_.portError())) {
                    admitted_.push_back(static_cast<char>(r.byte));
                }
            }
            for (const auto& f : sink_.takeFailures()) {
                connection_.linkFailed(f.linkNumber, f.reason);
            }
            if (done()) {
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(2ms);
        }
    }

    void expectConnectedTo(std::uint16_t port) {
        EXPECT_TRUE(state_.portOpen);
        EXPECT_EQ(view_.portIcon, true);
        EXPECT_EQ(view_.buttonText, kClosePortText);
        EXPECT_EQ(view_.linkPeer, "Connected to 127.0.0.1:" + std::to_string(port));
        EXPECT_EQ(channel_.linkNumber(), kNetworkLinkNumber);
    }

    test::PortDirectory ports_;
    test::TcpPeer peer_;
    ConsoleState state_;
    test::FakeView view_;
    test::RecordingSink sink_;
    LinkChannel channel_;
    Connection connection_{state_, channel_, sink_, view_};
    std::string admitted_;
    int connects_ = 0;
};

TEST_F(ConnectionNetworkTest, ConnectAsksForTheStatusAndClosePortEndsTheLink) {
    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    expectConnectedTo(peer_.port());
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 1; }));
    EXPECT_EQ(peer_.receive(11, kArrival), "\r\nGET STA\r\n");
    ASSERT_TRUE(peer_.send("OUT01 IN03\r\n"));
    ASSERT_TRUE(pumpUntil([&] { return admitted_.size() == 12; }));
    EXPECT_EQ(admitted_, "OUT01 IN03\r\n");

    connection_.portButtonClicked();
    EXPECT_FALSE(state_.portOpen);
    EXPECT_EQ(view_.portIcon, false);
    EXPECT_EQ(view_.buttonText, kTurnOnPortText);
    EXPECT_EQ(view_.linkPeer, "");
    EXPECT_FALSE(connection_.networkPeer());
    EXPECT_EQ(peer_.receive(1, kArrival), "") << "the peer sees the close";
    EXPECT_FALSE(connection_.admitReceivedByte(kNetworkLinkNumber, false));
    EXPECT_TRUE(view_.messages.empty());
}

TEST_F(ConnectionNetworkTest, ARefusedConnectIsToldWithHostPortAndReasonThenThePortButtonRetries) {
    const std::uint16_t port = test::closedLoopbackPort();
    connection_.connectNetwork({"127.0.0.1", port});
    ASSERT_TRUE(pumpUntil([&] { return !view_.messages.empty(); }));
    const std::string p = std::to_string(port);
    EXPECT_EQ(view_.messages.front(),
              "Cannot connect to host 127.0.0.1, TCP port " + p + ":\nconnect 127.0.0.1:" + p + ": Connection refused");
    EXPECT_FALSE(state_.portOpen);
    EXPECT_EQ(view_.buttonText, kOpenPortText);
    EXPECT_EQ(view_.linkPeer, "");
    EXPECT_EQ(view_.messages.size(), 1U);

    // The button opens the link last used, the network's.
    connection_.portButtonClicked();
    expectConnectedTo(port);
    ASSERT_TRUE(pumpUntil([&] { return view_.messages.size() == 2; }));
}

// The monitor tells of a network link as it is: "opened" and the status
// request only once the peer accepted; a refused connect shows neither.
TEST_F(ConnectionNetworkTest, TheLinkIsReportedOpenAndAskedForTheStatusOnlyOnceConnected) {
    TrafficLog traffic;
    connection_.setTrafficObserver(&traffic);
    const std::uint16_t closed = test::closedLoopbackPort();
    connection_.connectNetwork({"127.0.0.1", closed});
    ASSERT_TRUE(pumpUntil([&] { return !view_.messages.empty(); }));
    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 1; }));
    EXPECT_EQ(peer_.receive(11, kArrival), "\r\nGET STA\r\n");
    connection_.setTrafficObserver(nullptr);

    std::vector<std::string> rows;
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        const TrafficRow& row = traffic.row(i);
        rows.push_back(std::string(trafficDirectionName(row.direction)) + " " + row.link + " " + row.mark.text +
                       (row.direction == TrafficDirection::Event ? "" : " " + visibleBytes(row.bytes)));
    }
    const std::string refused = "127.0.0.1:" + std::to_string(closed);
    const std::string accepted = "127.0.0.1:" + std::to_string(peer_.port());
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "event " + refused + " port error",
                        "event " + refused + " closed",
                        "event " + accepted + " opened",
                        "sent " + accepted + "  \\r\\nGET STA\\r\\n",
                    }));
}

TEST_F(ConnectionNetworkTest, APeerThatClosesIsAPortErrorWithoutAConnectMessage) {
    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 1; }));
    ASSERT_EQ(peer_.receive(11, kArrival).size(), 11U);
    ASSERT_TRUE(peer_.send("OUT01 IN0"));
    peer_.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return view_.buttonText == kOpenPortText; }));
    EXPECT_FALSE(state_.portOpen);
    EXPECT_EQ(view_.portIcon, false);
    EXPECT_TRUE(view_.messages.empty()) << "lost after connecting: closed as a serial hang-up is";
    EXPECT_EQ(channel_.lastFailure(),
              "read 127.0.0.1:" + std::to_string(peer_.port()) + ": the peer closed the connection");
}

TEST_F(ConnectionNetworkTest, TheComSelectorAndTheSearchFirstCloseTheNetworkLink) {
    auto pty = test::PtyPeer::create();
    ASSERT_TRUE(pty && pty->linkAs(ports_.path(), 3));
    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 1; }));
    ASSERT_EQ(peer_.receive(11, kArrival), "\r\nGET STA\r\n");
    connection_.comSelectionChanged(2);
    EXPECT_FALSE(connection_.networkPeer());
    EXPECT_EQ(view_.linkPeer, "");
    EXPECT_EQ(view_.networkItem, "");
    EXPECT_EQ(view_.selectedItem, 2) << "the selector keeps the port just picked";
    EXPECT_TRUE(state_.portOpen) << "COM3 opens as from a closed port";
    EXPECT_EQ(channel_.linkNumber(), 3);
    EXPECT_EQ(peer_.receive(1, kArrival), "") << "the peer sees the close";

    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    ASSERT_TRUE(peer_.accept(kArrival));
    connection_.searchMachineClicked();
    EXPECT_FALSE(connection_.networkPeer());
    EXPECT_EQ(view_.networkItem, "");
    EXPECT_EQ(channel_.linkNumber(), 3) << "the search opened the first COM port there is";
    EXPECT_TRUE(state_.searchInProgress);
}

// The selector names the link the port button opens: the peer while the
// network link is chosen, lost or not, and the COM port once it is not.
TEST_F(ConnectionNetworkTest, TheSelectorShowsThePeerWhileChosenAndThePortButtonOpensWhatItShows) {
    const std::string peerText = "127.0.0.1:" + std::to_string(peer_.port());
    state_.comPort = 3;
    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    EXPECT_EQ(view_.networkItem, peerText);
    EXPECT_EQ(view_.selectedItem, kNetworkItemIndex);
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 1; }));
    ASSERT_EQ(peer_.receive(11, kArrival).size(), 11U);

    peer_.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return view_.buttonText == kOpenPortText; }));
    EXPECT_EQ(view_.networkItem, peerText) << "a lost link stays chosen";
    EXPECT_EQ(view_.selectedItem, kNetworkItemIndex);
    connection_.portButtonClicked();
    expectConnectedTo(peer_.port());
    ASSERT_TRUE(peer_.accept(kArrival)) << "the button opens the peer it shows";
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 2; }));

    // Picking the peer's item again while it is open changes nothing.
    connection_.comSelectionChanged(kNetworkItemIndex);
    EXPECT_TRUE(state_.portOpen);
    EXPECT_EQ(peer_.receive(22, 300ms), "\r\nGET STA\r\n") << "one status request only, no second connect";

    connection_.portButtonClicked();
    EXPECT_EQ(view_.networkItem, "");
    EXPECT_EQ(view_.selectedItem, 2) << "back to COM3, which the button now opens";
    EXPECT_EQ(view_.buttonText, kTurnOnPortText);
}

TEST_F(ConnectionNetworkTest, PickingTheLostPeersItemConnectsAgain) {
    connection_.connectNetwork({"127.0.0.1", peer_.port()});
    ASSERT_TRUE(peer_.accept(kArrival));
    peer_.closeClient();
    ASSERT_TRUE(pumpUntil([&] { return view_.buttonText == kOpenPortText; }));
    connection_.comSelectionChanged(kNetworkItemIndex);
    expectConnectedTo(peer_.port());
    ASSERT_TRUE(peer_.accept(kArrival));
    ASSERT_TRUE(pumpUntil([&] { return connects_ == 2; }));
    EXPECT_EQ(peer_.receive(11, kArrival), "\r\nGET STA\r\n");
}

} // namespace
} // namespace mc
